# The Windows package: the driver, the virtual scanner as its adapter, the
# scan command, the two public headers and the install note, zipped by one
# target:
#   cmake --build --preset win32 --target package-zip
# gives build/win32/scandrv-<version>-win32.zip (win64 for the 64-bit build).
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(package_arch win32)
else()
  set(package_arch win64)
endif()
set(package_name scandrv-${PROJECT_VERSION}-${package_arch})
set(package_root ${CMAKE_BINARY_DIR}/package)
set(package_dir ${package_root}/${package_name})
set(package_zip ${CMAKE_BINARY_DIR}/${package_name}.zip)

# The note in Windows line endings, with the version filled in.
configure_file(${PROJECT_SOURCE_DIR}/docs/windows-install.txt ${CMAKE_BINARY_DIR}/INSTALL.txt
  @ONLY NEWLINE_STYLE CRLF)

set(package_binaries $<TARGET_FILE:scandrv> $<TARGET_FILE:buslnk32_sim>)
set(package_targets scandrv buslnk32_sim)
if(TARGET scan)
  list(APPEND package_binaries $<TARGET_FILE:scan>)
  list(APPEND package_targets scan)
endif()
set(package_headers ${PROJECT_SOURCE_DIR}/include/scandrv.h ${PROJECT_SOURCE_DIR}/include/buslnk32.h)

add_custom_command(OUTPUT ${package_zip}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${package_dir} ${package_zip}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${package_dir}/include
  COMMAND ${CMAKE_COMMAND} -E copy ${package_binaries} ${package_dir}
  COMMAND ${CMAKE_COMMAND} -E copy ${package_headers} ${package_dir}/include
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_BINARY_DIR}/INSTALL.txt ${package_dir}
  COMMAND ${CMAKE_COMMAND} -E chdir ${package_root}
          ${CMAKE_COMMAND} -E tar cf ${package_zip} --format=zip ${package_name}
  DEPENDS ${package_targets} ${package_headers} ${CMAKE_BINARY_DIR}/INSTALL.txt
  COMMENT "Packing ${package_name}.zip"
  VERBATIM)
add_custom_target(package-zip DEPENDS ${package_zip})

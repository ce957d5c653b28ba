# scandrv_version_resource(TARGET FILE_NAME DESCRIPTION)
# Gives a Windows binary a VERSIONINFO resource: the project version as file
# and product version, FILE_NAME as its original name and DESCRIPTION as its
# file description. The file type (DLL or application) follows the target.
function(scandrv_version_resource target file_name description)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    set(VERSION_FILE_TYPE VFT_DLL)
  else()
    set(VERSION_FILE_TYPE VFT_APP)
  endif()
  set(VERSION_ORIGINAL_NAME ${file_name})
  get_filename_component(VERSION_INTERNAL_NAME ${file_name} NAME_WE)
  set(VERSION_FILE_DESCRIPTION ${description})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/src/windows/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()

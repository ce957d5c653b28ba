# pe_tables.sh - reading the tables of a Windows binary with the MinGW-w64
# binutils, for the checks beside this file (source it; it defines functions
# and nothing else). Every function takes the binary's path first; the
# objdump of the binary's own architecture is chosen from its file format.

# pe_objdump FILE: the objdump that reads FILE's architecture.
pe_objdump() {
  case "$(pe_format "$1")" in
    pei-x86-64) echo "${OBJDUMP64:-x86_64-w64-mingw32-objdump}" ;;
    *) echo "${OBJDUMP:-i686-w64-mingw32-objdump}" ;;
  esac
}

# pe_format FILE: pei-i386 or pei-x86-64 (the 64-bit objdump reads both).
pe_format() {
  "${OBJDUMP64:-x86_64-w64-mingw32-objdump}" -f "$1" 2>/dev/null | sed -n 's/.*file format //p'
}

# pe_exports FILE: "ordinal name" lines, "ordinal <none>" for an entry
# exported by ordinal only, sorted by ordinal.
pe_exports() {
  local tables
  tables=$("$(pe_objdump "$1")" -p "$1") || return 1
  printf '%s\n' "$tables" | awk '
    /^Export Address Table -- Ordinal Base/ { base = $NF; addresses = 1; next }
    addresses && /^[[:space:]]*\[/ {
      line = $0; gsub(/[][+]/, " ", line); split(line, f, " ")
      # "[ i] +base[ n] RVA Export RVA": f[1] index, f[3] ordinal, f[4] address
      if (f[4] != "0") ordinal[f[1]] = f[3]
      next }
    addresses && /^[[:space:]]*$/ { addresses = 0 }
    /^\[Ordinal\/Name Pointer\] Table/ { names = 1; next }
    names && /^[[:space:]]*\[/ { line = $0; gsub(/[][]/, " ", line); split(line, f, " "); named[f[1]] = f[2]; next }
    names && /^[[:space:]]*$/ { names = 0 }
    END { for (i in ordinal) print ordinal[i], (i in named ? named[i] : "<none>") }' | sort -n
}

# pe_import_dlls FILE: the DLLs FILE imports from, one a line, as written.
pe_import_dlls() {
  "$(pe_objdump "$1")" -p "$1" | sed -n 's/.*DLL Name: //p' | sort -u
}

# pe_imports FILE: "DLL ordinal member" lines; member is <none> for an
# import by ordinal.
pe_imports() {
  "$(pe_objdump "$1")" -p "$1" | awk '
    /DLL Name:/ { dll = $3; next }
    /Hint\/Ord Member-Name/ { members = 1; next }
    members && /^[[:space:]]*$/ { members = 0; next }
    members { print dll, $2 + 0, ($3 == "" ? "<none>" : $3) }'
}

# pe_is_system_dll NAME: true for the Windows DLLs every installation has.
pe_is_system_dll() {
  case "${1^^}" in
    KERNEL32.DLL|MSVCRT.DLL|NTDLL.DLL|USER32.DLL|ADVAPI32.DLL) return 0 ;;
    API-MS-WIN-*.DLL) return 0 ;;
    *) return 1 ;;
  esac
}

# pe_has_version_resource FILE: true when the top level of the resource
# directory (the resource types) holds type 16, the version resource.
pe_has_version_resource() {
  "$(pe_objdump "$1")" -p "$1" |
    sed -n '/The .rsrc Resource Directory section/,/Resources start/p' |
    grep -Eq '^[0-9a-f]+   Entry: ID: 0x000010,'
}

# pe_version_resource FILE: the version resource as resource script text.
pe_version_resource() {
  local windres=${WINDRES:-i686-w64-mingw32-windres}
  [ "$(pe_format "$1")" = pei-x86-64 ] && windres=${WINDRES64:-x86_64-w64-mingw32-windres}
  "$windres" -i "$1" -J coff -O rc 2>/dev/null
}

#!/usr/bin/env bash
# Checks the tables of one of the project's other Windows binaries (the
# virtual scanner's BUSLNK32.DLL, scan.exe, the test programs):
#  - its architecture;
#  - it imports from system DLLs only, besides those allowed by --allow
#    (so it needs no libgcc, libstdc++ or pthread DLL beside it);
#  - with --adapter, it exports the adapter entry points as the driver
#    imports them: ordinals 2 and 3, without names;
#  - with --version, a version resource with that file version, its own
#    file name and the file type its extension implies.
# Usage: check_binary.sh FILE [--format pei-i386|pei-x86-64] [--allow DLL]...
#                        [--adapter] [--version X.Y.Z]
set -u
here=$(dirname "$0")
source "$here/pe_tables.sh"

file=$1
shift
format=pei-i386 allowed= adapter= version=
while [ $# -gt 0 ]; do
  case "$1" in
    --format) format=$2; shift ;;
    --allow) allowed="$allowed ${2^^}"; shift ;;
    --adapter) adapter=1 ;;
    --version) version=$2; shift ;;
    *) echo "usage: $0 FILE [--format F] [--allow DLL]... [--adapter] [--version X.Y.Z]"; exit 2 ;;
  esac
  shift
done
fail=0
complain() { echo "FAIL: $*"; fail=1; }
name=$(basename "$file")

[ -f "$file" ] || { echo "FAIL: $file was not built"; exit 1; }
actual_format=$(pe_format "$file")
[ "$actual_format" = "$format" ] || complain "$name is $actual_format, not $format"

dlls=$(pe_import_dlls "$file")
for d in $dlls; do
  pe_is_system_dll "$d" && continue
  case " $allowed " in *" ${d^^} "*) continue ;; esac
  complain "$name imports from $d, which is neither a system DLL nor allowed"
done

if [ -n "$adapter" ]; then
  exported=$(pe_exports "$file")
  for ordinal in 2 3; do
    entry=$(grep -E "^$ordinal " <<<"$exported")
    [ "$entry" = "$ordinal <none>" ] || complain "$name: ordinal $ordinal is not exported by ordinal only (${entry:-absent})"
  done
  grep -Eq ' BusLink(Execute|Attach)' <<<"$exported" && complain "$name exports an adapter entry point by name"
fi

if [ -n "$version" ]; then
  case "${name^^}" in
    *.DLL) type=0x2 ;;
    *) type=0x1 ;;
  esac
  if ! pe_has_version_resource "$file"; then
    complain "$name has no version resource"
  else
    resource=$(pe_version_resource "$file")
    IFS=. read -r major minor patch <<<"$version"
    grep -Eq "^ FILEVERSION $major, $minor, ${patch:-0}, 0\$" <<<"$resource" ||
      complain "$name: file version is not $version: $(grep FILEVERSION <<<"$resource")"
    grep -Eq "^ FILETYPE $type\$" <<<"$resource" || complain "$name: the version resource has the wrong file type"
    grep -Fiq "VALUE \"OriginalFilename\", \"$name\"" <<<"$resource" || complain "$name: the version resource names another file"
    grep -Eq 'VALUE "FileDescription", "[^"]+"' <<<"$resource" || complain "$name: the version resource has no file description"
  fi
fi

[ $fail -eq 0 ] && echo "$name ($actual_format): imports from: $(echo $dlls)${adapter:+, adapter ordinals 2 and 3 without names}${version:+, version $version}"
exit $fail

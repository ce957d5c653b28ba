#!/usr/bin/env bash
# Reads the tables of SCANDRV.DLL and checks that
#  - it exports exactly the entries of its .def file, by undecorated name at
#    their ordinals, and every one of them is one of the ten driver functions
#    at its fixed ordinal (2 to 11);
#  - it imports BUSLNK32.DLL by ordinal only, both 2 (execute) and 3
#    (attach), and nothing else but system DLLs (no libgcc, libstdc++ or
#    pthread DLL);
#  - its platform services are the kernel's: the profile functions, the
#    module file name, committed pages, movable memory, Sleep, GetTickCount;
#  - with --version, it carries a version resource with that file version,
#    typed as a DLL and naming itself SCANDRV.DLL.
# Usage: check_dll_tables.sh SCANDRV.DLL scandrv.def [--all] [--version X.Y.Z]
#                            [--format pei-i386|pei-x86-64]
#   --all      additionally requires all ten functions;
#   --format   the architecture the DLL must have (default pei-i386).
set -u
here=$(dirname "$0")
source "$here/pe_tables.sh"

dll=$1 def=$2
shift 2
all= version= format=pei-i386
while [ $# -gt 0 ]; do
  case "$1" in
    --all) all=1 ;;
    --version) version=$2; shift ;;
    --format) format=$2; shift ;;
    *) echo "usage: $0 SCANDRV.DLL scandrv.def [--all] [--version X.Y.Z] [--format F]"; exit 2 ;;
  esac
  shift
done
fail=0
complain() { echo "FAIL: $*"; fail=1; }

[ -f "$dll" ] || { echo "FAIL: $dll was not built"; exit 1; }
actual_format=$(pe_format "$dll")
[ "$actual_format" = "$format" ] || complain "$dll is $actual_format, not $format"

known="2 vInitializeScanner
3 vScannerCapability
4 vDefaultAttribute
5 vScannerStartScan
6 vScannerGetImage
7 vScannerAbortScan
8 vPaperReady
9 vScannerMutiLens
10 vGetLampStatus
11 vSetLampStatus"

# What the .def promises: "name @ordinal" lines.
declared=$(sed -n 's/^[[:space:]]*\([A-Za-z_][A-Za-z0-9_]*\)[[:space:]]*@\([0-9]\+\).*/\2 \1/p' "$def" | sort -n)
exported=$(pe_exports "$dll") || { echo "FAIL: cannot read the tables of $dll"; exit 1; }

while read -r ordinal name; do
  [ -z "$name" ] && continue
  grep -qx "$ordinal $name" <<<"$known" || complain "the .def lists $name at $ordinal, which is not a driver function at its ordinal"
done <<<"$declared"
[ "$declared" = "$exported" ] || complain "exports differ from the .def
  expected: $(echo $declared)
  exported: $(echo $exported)"
if [ -n "$all" ]; then
  [ "$exported" = "$known" ] || complain "the DLL does not export all ten functions at ordinals 2 to 11"
fi
case "$exported" in *@*) complain "decorated export names: $exported" ;; esac
case "$exported" in *"<none>"*) complain "exports without a name: $(echo $exported)" ;; esac

dlls=$(pe_import_dlls "$dll")
for d in $dlls; do
  [ "${d^^}" = BUSLNK32.DLL ] && continue
  pe_is_system_dll "$d" || complain "imports from $d, which is not a system DLL"
done
grep -qx BUSLNK32.DLL <<<"$dlls" || complain "does not import BUSLNK32.DLL"

imports=$(pe_imports "$dll")
adapter_ordinals=
while read -r d ordinal member; do
  [ "$d" = BUSLNK32.DLL ] || continue
  [ "$member" = "<none>" ] || complain "imports $member from BUSLNK32.DLL by name"
  case "$ordinal" in 2|3) adapter_ordinals="$adapter_ordinals $ordinal" ;;
    *) complain "imports ordinal $ordinal from BUSLNK32.DLL" ;; esac
done <<<"$imports"
[ "$(tr ' ' '\n' <<<"$adapter_ordinals" | sed '/^$/d' | sort -n | tr '\n' ' ')" = "2 3 " ] ||
  complain "imports ordinals [$adapter_ordinals ] from BUSLNK32.DLL, not exactly 2 and 3"

# The platform layer of the Windows build calls these; finding them shows
# that the POSIX stand-in was not built in.
for service in GetPrivateProfileStringA GetPrivateProfileIntA GetModuleFileNameA VirtualAlloc VirtualFree \
               GlobalAlloc GlobalLock GlobalUnlock GlobalFree Sleep GetTickCount; do
  grep -Eiq "^KERNEL32\.DLL [0-9]+ $service\$" <<<"$imports" || complain "does not import $service from KERNEL32.DLL"
done

if [ -n "$version" ]; then
  if ! pe_has_version_resource "$dll"; then
    complain "has no version resource"
  else
    resource=$(pe_version_resource "$dll")
    IFS=. read -r major minor patch <<<"$version"
    grep -Eq "^ FILEVERSION $major, $minor, ${patch:-0}, 0\$" <<<"$resource" ||
      complain "the version resource's file version is not $version: $(grep FILEVERSION <<<"$resource")"
    grep -Eq '^ FILETYPE 0x2$' <<<"$resource" || complain "the version resource does not describe a DLL"
    grep -Fq "VALUE \"FileVersion\", \"$version\"" <<<"$resource" || complain "no FileVersion string $version"
    grep -Fq 'VALUE "OriginalFilename", "SCANDRV.DLL"' <<<"$resource" || complain "the version resource does not name SCANDRV.DLL"
    grep -Eq 'VALUE "FileDescription", "[^"]+"' <<<"$resource" || complain "the version resource has no file description"
  fi
fi

if [ $fail -eq 0 ]; then
  echo "SCANDRV.DLL ($actual_format): exports [$(echo $exported)], imports from: $(echo $dlls)${version:+, version $version}"
fi
exit $fail

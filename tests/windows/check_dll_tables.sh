#!/usr/bin/env bash
# Reads the export and import tables of the 32-bit SCANDRV.DLL and checks that
#  - it exports exactly the entries of its .def file, by undecorated name at
#    their ordinals, and every one of them is one of the ten driver functions
#    at its fixed ordinal (2 to 11);
#  - it imports BUSLNK32.DLL by ordinal only (2 execute, 3 attach), and
#    nothing else but system DLLs (no libgcc, libstdc++ or pthread DLL).
# Usage: check_dll_tables.sh SCANDRV.DLL scandrv.def [--all]
#   --all additionally requires all ten functions.
set -u
dll=$1 def=$2 all=${3:-}
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
fail=0
complain() { echo "FAIL: $*"; fail=1; }

[ -f "$dll" ] || { echo "FAIL: $dll was not built"; exit 1; }
tables=$("$objdump" -p "$dll") || { echo "FAIL: $objdump could not read $dll"; exit 1; }

file_format=$(i686-w64-mingw32-objdump -f "$dll" | sed -n 's/.*file format //p')
[ "$file_format" = pei-i386 ] || complain "not a 32-bit x86 DLL ($file_format)"

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
# What the DLL exports: ordinal base plus index in the name table.
base=$(printf '%s\n' "$tables" | sed -n 's/.*Ordinal Base \([0-9]\+\).*/\1/p' | head -1)
exported=$(printf '%s\n' "$tables" | awk -v base="${base:-0}" '
  /^\[Ordinal\/Name Pointer\] Table/ { inside = 1; next }
  inside && /^[[:space:]]*\[/ { line = $0; gsub(/[][]/, " ", line); split(line, f, " "); print f[1] + base, f[2]; next }
  inside && /^[[:space:]]*$/ { inside = 0 }' | sort -n)

while read -r ordinal name; do
  [ -z "$name" ] && continue
  grep -qx "$ordinal $name" <<<"$known" || complain "the .def lists $name at $ordinal, which is not a driver function at its ordinal"
done <<<"$declared"
[ "$declared" = "$exported" ] || complain "exports differ from the .def
  expected: $(echo $declared)
  exported: $(echo $exported)"
if [ "$all" = --all ]; then
  [ "$exported" = "$known" ] || complain "the DLL does not export all ten functions at ordinals 2 to 11"
fi
case "$exported" in *@*) complain "decorated export names: $exported" ;; esac

# Imports: one block per DLL, "DLL Name: X" then its members.
imports=$(printf '%s\n' "$tables" | awk '
  /DLL Name:/ { dll = $3; next }
  /Hint\/Ord Member-Name/ { members = 1; next }
  members && /^[[:space:]]*$/ { members = 0; next }
  members { print dll, $2, $3 }')
dlls=$(printf '%s\n' "$tables" | sed -n 's/.*DLL Name: //p' | sort -u)
for d in $dlls; do
  case "${d^^}" in
    BUSLNK32.DLL|KERNEL32.DLL|MSVCRT.DLL|NTDLL.DLL|USER32.DLL|ADVAPI32.DLL) ;;
    *) complain "imports from $d, which is not a system DLL" ;;
  esac
done
grep -qx BUSLNK32.DLL <<<"$dlls" || complain "does not import BUSLNK32.DLL"
while read -r d ordinal member; do
  [ "$d" = BUSLNK32.DLL ] || continue
  [ "$member" = "<none>" ] || complain "imports $member from BUSLNK32.DLL by name"
  case "$ordinal" in 2|3) ;; *) complain "imports ordinal $ordinal from BUSLNK32.DLL" ;; esac
done <<<"$imports"

if [ $fail -eq 0 ]; then
  echo "SCANDRV.DLL: exports [$(echo $exported)], imports from: $(echo $dlls)"
fi
exit $fail

#!/usr/bin/env bash
# Checks the Windows package zip: exactly the driver, the virtual scanner,
# scan.exe, the two public headers and the install note, in one directory
# named after the version; the binaries 32-bit with the tables the driver's
# callers rely on (check_dll_tables.sh, check_binary.sh); the headers those
# of the source tree; the note in Windows line endings.
# Usage: check_package.sh ZIP VERSION SOURCE_DIR
set -u
here=$(cd "$(dirname "$0")" && pwd)
zip=$(realpath "$1") version=$2 source=$3
fail=0
complain() { echo "FAIL: $*"; fail=1; }
[ -f "$zip" ] || { echo "FAIL: $zip was not built"; exit 1; }

top=scandrv-$version-win32
expected="$top/
$top/BUSLNK32.DLL
$top/INSTALL.txt
$top/SCANDRV.DLL
$top/include/
$top/include/buslnk32.h
$top/include/scandrv.h
$top/scan.exe"
listed=$(cmake -E tar tf "$zip" | sort)
[ "$listed" = "$expected" ] || complain "the package holds
$listed
  instead of
$expected"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && cmake -E tar xf "$zip") || { echo "FAIL: cannot unpack $zip"; exit 1; }
dir=$work/$top

bash "$here/check_dll_tables.sh" "$dir/SCANDRV.DLL" "$source/src/windows/scandrv.def" --all --version "$version" || fail=1
bash "$here/check_binary.sh" "$dir/BUSLNK32.DLL" --adapter --version "$version" || fail=1
bash "$here/check_binary.sh" "$dir/scan.exe" --version "$version" || fail=1
for header in scandrv.h buslnk32.h; do
  cmp -s "$dir/include/$header" "$source/include/$header" || complain "include/$header differs from the source tree's"
done
note=$dir/INSTALL.txt
if [ -f "$note" ]; then
  grep -q "scandrv $version" "$note" || complain "INSTALL.txt does not name version $version"
  [ "$(grep -c $'\r$' "$note")" = "$(wc -l <"$note")" ] || complain "INSTALL.txt has lines without Windows line endings"
fi
[ $fail -eq 0 ] && echo "$(basename "$zip"): $(grep -vc '/$' <<<"$listed") files, all checks passed"
exit $fail

#!/usr/bin/env bash
# Sets up or removes the Wine prefix the Windows tests of one run share.
# Usage: wine_prefix.sh setup STATE | wine_prefix.sh cleanup STATE
#   STATE  a file that holds the prefix's directory between the two.
set -u
source "$(dirname "$0")/wine_env.sh"
action=$1 state=$2

remove_prefix() {
  local prefix
  prefix=$(cat "$state" 2>/dev/null) || return 0
  case "$(basename "$prefix")" in
    scandrv-wine.*) ;;
    *) echo "not removing $prefix: not a prefix of these tests"; return 1 ;;
  esac
  if [ -d "$prefix" ]; then
    # The server keeps its socket in a directory named after the prefix's
    # device and inode, under a wine-XXXXXX directory of its own in /tmp.
    local server
    server=$(stat -c '%d %i' "$prefix" | { read -r dev ino; printf 'server-%x-%x' "$dev" "$ino"; })
    WINEPREFIX=$prefix "$WINESERVER" -k 2>/dev/null
    # The server is gone once kill returns; files may still be closing.
    WINEPREFIX=$prefix "$WINESERVER" -w 2>/dev/null
    rm -rf "$prefix"
    local socket
    for socket in "${TMPDIR:-/tmp}"/wine-*/"$server" /tmp/wine-*/"$server"; do
      [ -d "$socket" ] || continue
      rm -rf "$socket"
      rmdir "$(dirname "$socket")" 2>/dev/null
    done
  fi
  rm -f "$state"
}

case "$action" in
  setup)
    wine_skip_unless_installed
    remove_prefix # left over by a run that did not get to its cleanup
    prefix=$(mktemp -d "${TMPDIR:-/tmp}/scandrv-wine.XXXXXX") || exit 1
    mkdir -p "$(dirname "$state")" && echo "$prefix" >"$state" || { rm -rf "$prefix"; exit 1; }
    wine_quiet_environment "$prefix"
    start=$(date +%s%N)
    "$WINE64" wineboot -i >"$prefix.log" 2>&1
    status=$?
    # wineboot returns before the prefix's services settle; wait for them.
    "$WINESERVER" -w
    end=$(date +%s%N)
    if [ $status -ne 0 ] || [ ! -d "$prefix/drive_c/windows/system32" ]; then
      echo "FAIL: wineboot -i in $prefix exited with $status"
      cat "$prefix.log"
      rm -f "$prefix.log"
      exit 1
    fi
    rm -f "$prefix.log"
    tenths=$(( (end - start) / 100000000 ))
    echo "Wine prefix $prefix created in $((tenths / 10)).$((tenths % 10)) s with $WINE64"
    ;;
  cleanup)
    wine_find || { rm -f "$state"; exit 0; }
    remove_prefix
    ;;
  *)
    echo "usage: $0 setup|cleanup STATE"
    exit 2
    ;;
esac

# wine_env.sh - what the Windows tests need to run programs under 64-bit
# Wine (source it; it defines functions and nothing else). One prefix serves
# a whole test run: the wine_prefix test creates it in a new temporary
# directory and writes that directory's name into a state file, every test
# reads it from there, and wine_prefix_cleanup stops its server and removes
# it. Tests exit 77, which CTest reports as skipped, when Wine is missing.

# wine_find: sets WINE64 and WINESERVER, or returns 1. $WINE64 may name
# the loader; otherwise Debian's place for it, then the PATH.
wine_find() {
  local candidate
  for candidate in "${WINE64:-}" /usr/lib/wine/wine64 "$(command -v wine64 2>/dev/null)"; do
    [ -n "$candidate" ] && [ -x "$candidate" ] && { WINE64=$candidate; break; }
  done
  [ -n "${WINE64:-}" ] && [ -x "$WINE64" ] || return 1
  WINESERVER=${WINESERVER:-$(dirname "$WINE64")/wineserver}
  [ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver 2>/dev/null) || return 1
  return 0
}

# wine_skip_unless_installed: exits 77 with the reason when there is no Wine.
wine_skip_unless_installed() {
  if ! wine_find; then
    echo "SKIPPED: 64-bit Wine is not installed (Debian: apt-get install wine64; tools/install-deps does it)"
    exit 77
  fi
}

# wine_quiet_environment PREFIX: headless, silent, and without the offers to
# install Mono and Gecko that a new prefix would otherwise make.
wine_quiet_environment() {
  export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
  unset DISPLAY WAYLAND_DISPLAY
}

# wine_use STATE: the prefix the state file names, ready for wine_run.
wine_use() {
  wine_skip_unless_installed
  local prefix
  prefix=$(cat "$1" 2>/dev/null) || true
  if [ -z "$prefix" ] || [ ! -d "$prefix" ]; then
    echo "FAIL: no Wine prefix recorded in $1 (the wine_prefix test sets one up)"
    exit 1
  fi
  wine_quiet_environment "$prefix"
}

# wine_stage DIR FILE...: DIR emptied, then the files copied into it.
wine_stage() {
  local dir=$1
  shift
  rm -rf "$dir" && mkdir -p "$dir" || return 1
  cp "$@" "$dir/"
}

# wine_run DIR PROGRAM [ARGS...]: runs DIR/PROGRAM with DIR as the working
# directory; returns its exit status.
wine_run() {
  local dir=$1 program=$2
  shift 2
  (cd "$dir" && "$WINE64" "$program" "$@")
}

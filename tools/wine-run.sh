#!/usr/bin/env bash
# Runs a Windows executable under Wine, as ctest does for the Windows build
# (CMAKE_CROSSCOMPILING_EMULATOR in cmake/mingw-w64.cmake):
#
#   tools/wine-run.sh build-win/tests/shell_tests.exe [ARGS...]
#
# The Wine prefix is the build folder's own, <build>/wine-prefix (the folder
# above the executable that holds CMakeCache.txt; build-win/ of this checkout
# for an executable elsewhere), or $MAQUETOR_WINEPREFIX; it is made on first
# use, once even when several tests start together.
# No display is used; Wine's own messages are off. The exit status is the
# program's.
set -euo pipefail

exe="$(realpath "$1")"
shift
loader=/usr/lib/wine/wine64
if [[ ! -x "$loader" ]]; then
  echo "wine-run.sh: $loader is missing (apt-get install wine64)" >&2
  exit 127
fi

prefix="${MAQUETOR_WINEPREFIX:-}"
if [[ -z "$prefix" ]]; then
  dir="$(dirname "$exe")"
  while [[ "$dir" != / && ! -f "$dir/CMakeCache.txt" ]]; do dir="$(dirname "$dir")"; done
  [[ "$dir" == / ]] && dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build-win"
  prefix="$dir/wine-prefix"
fi

export WINEPREFIX="$prefix" WINEDEBUG=-all WINEARCH=win64
# No Mono or Gecko: nothing here needs them, and Wine would ask to fetch them.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

if [[ ! -f "$prefix/system.reg" ]]; then
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [[ ! -f "$prefix/system.reg" ]]; then
      "$loader" wineboot --init >/dev/null 2>&1 || true
      /usr/lib/wine/wineserver -w
    fi
  ) 9>"$prefix.lock"
fi

exec "$loader" "$exe" "$@"

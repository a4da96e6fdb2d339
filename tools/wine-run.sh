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
# No display is used, unless MAQUETOR_WINE_DISPLAY=1 (the window's tests):
# then the program gets $DISPLAY or, when there is none, an Xvfb of its own
# for the length of the run, and the prefix is <build>/wine-prefix-display,
# where Wine draws the windows' frames itself (there is no window manager to
# wait for). Wine's own messages are off. The exit status is the program's.
set -euo pipefail

want_display="${MAQUETOR_WINE_DISPLAY:-0}"
if [[ "$want_display" == 1 && -z "${DISPLAY:-}" ]]; then
  if ! command -v xvfb-run >/dev/null; then
    echo "wine-run.sh: xvfb-run is missing (apt-get install xvfb)" >&2
    exit 127
  fi
  MAQUETOR_WINE_OWN_DISPLAY=1 exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
    "${BASH_SOURCE[0]}" "$@"
fi

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
  [[ "$want_display" == 1 ]] && prefix+="-display"
fi

export WINEPREFIX="$prefix" WINEDEBUG=-all WINEARCH=win64
# No Mono or Gecko: nothing here needs them, and Wine would ask to fetch them.
export WINEDLLOVERRIDES="mscoree,mshtml="
[[ "$want_display" == 1 ]] || unset DISPLAY
unset WAYLAND_DISPLAY

if [[ ! -f "$prefix/system.reg" ]]; then
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [[ ! -f "$prefix/system.reg" ]]; then
      "$loader" wineboot --init >/dev/null 2>&1 || true
      if [[ "$want_display" == 1 ]]; then
        "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
      fi
      /usr/lib/wine/wineserver -w
    fi
  ) 9>"$prefix.lock"
fi

if [[ -z "${MAQUETOR_WINE_OWN_DISPLAY:-}" ]]; then
  exec "$loader" "$exe" "$@"
fi
# The display ends with this run: so do the prefix's Wine processes, which
# would otherwise hold on to it.
status=0
"$loader" "$exe" "$@" || status=$?
/usr/lib/wine/wineserver -k 2>/dev/null || true
exit "$status"

#!/usr/bin/env bash
# Sets everything up, builds Maquetor and builds a complete law-office
# database at PATH (default law-office.mdb in the current folder).
#
#   tools/build-database.sh [PATH]
#
# Environment: MAQUETOR_BUILD_DIR (default build), JOBS (default 2).
# Exits with maquetor's own exit status, and says what it was.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
target="${1:-law-office.mdb}"
case "$target" in
  /*) ;;
  *) target="$PWD/$target" ;;
esac
build="${MAQUETOR_BUILD_DIR:-build}"
case "$build" in
  /*) ;;
  *) build="$root/$build" ;;
esac
jobs="${JOBS:-2}"

"$root/tools/setup.sh"
cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j "$jobs" --target maquetor

echo "maquetor create $target"
set +e
"$build/maquetor" create "$target" </dev/null
status=$?
set -e
if [[ $status -eq 0 ]]; then
  echo "build-database.sh: created $target"
else
  echo "build-database.sh: maquetor create failed with exit status $status" >&2
fi
exit "$status"

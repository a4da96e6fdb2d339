#!/usr/bin/env bash
# Makes the Windows release: dist/maquetor-<version>-win64.zip, the version
# being the top CMakeLists.txt's project(... VERSION ...). It holds, under
# maquetor-<version>-win64/:
#   maquetor.exe       the static MinGW-w64 build, stripped of its symbols
#   README.txt         for installer authors (tools/windows-package/README.txt)
#   licenses/*.txt     the notices of what maquetor.exe links statically, each
#                      the copyright file of the Debian package that provided
#                      it (found with dpkg -S)
#
#   tools/package-windows.sh [WINDOWS_BUILD]     (default build-win)
#
# maquetor.exe is built (or brought up to date) in WINDOWS_BUILD first; a
# folder not yet configured is configured for a Release build. Prints the
# archive's path and listing.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
build="${1:-build-win}"
jobs="${JOBS:-2}"
triple=x86_64-w64-mingw32

version="$(sed -n 's/^project(maquetor VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)"
[[ -n "$version" ]] || { echo "package-windows.sh: no project(maquetor VERSION ...) in CMakeLists.txt" >&2; exit 1; }
for tool in zip "$triple-strip" "$triple-g++-posix" dpkg-query; do
  command -v "$tool" >/dev/null || { echo "package-windows.sh: $tool is missing (tools/setup.sh)" >&2; exit 1; }
done

if [[ ! -f "$build/CMakeCache.txt" ]]; then
  cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
    -DMAQUETOR_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target maquetor -j "$jobs" >/dev/null

name="maquetor-$version-win64"
stage="dist/$name"
rm -rf "$stage" "dist/$name.zip"
mkdir -p "$stage/licenses"
"$triple-strip" -o "$stage/maquetor.exe" "$build/maquetor.exe"
sed "s/@VERSION@/$version/" tools/windows-package/README.txt >"$stage/README.txt"

# The Debian package that installed FILE.
package_of() {
  dpkg-query -S "$(realpath "$1")" | head -1 | cut -d: -f1
}
# licenses/NAME.txt: what maquetor.exe takes from FILE's package, then that
# package's copyright file.
notice() {
  local name="$1" what="$2" file="$3" package copyright
  package="$(package_of "$file")"
  copyright="$(realpath "/usr/share/doc/$package/copyright")"
  [[ -f "$copyright" ]] || { echo "package-windows.sh: $package has no copyright file" >&2; exit 1; }
  {
    printf 'maquetor.exe contains %s, built in from Debian package %s %s.\n' \
      "$what" "$package" "$(dpkg-query -W -f='${Version}' "$package")"
    printf 'That package'\''s copyright file (%s) follows.\n\n' "/usr/share/doc/$package/copyright"
    cat "$copyright"
  } >"$stage/licenses/$name.txt"
}
library() { "$triple-g++-posix" -print-file-name="$1"; }
notice libstdc++ "the GNU C++ library (libstdc++)" "$(library libstdc++.a)"
notice libgcc "the GCC support library (libgcc, libgcc_eh)" "$(library libgcc.a)"
notice mingw-w64-runtime "the MinGW-w64 runtime (its start-up code, libmingw32, libmingwex) and winpthreads" \
  "$(library libwinpthread.a)"
notice CLI11 "CLI11 (command-line parsing)" /usr/include/CLI/CLI.hpp
notice nlohmann-json "nlohmann-json (JSON for the inspect command)" /usr/include/nlohmann/json.hpp

(cd dist && zip -q -r -X "$name.zip" "$name")
rm -rf "$stage"
echo "package-windows.sh: dist/$name.zip"
unzip -l "dist/$name.zip"

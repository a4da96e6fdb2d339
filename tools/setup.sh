#!/usr/bin/env bash
# Installs everything Maquetor needs to build and test, on Debian 12 as root:
# the compilers and libraries from Debian (the MinGW-w64 cross compiler and
# Wine for the Windows build among them), mdbtools, Node.js and the pinned
# mdb-reader of tools/mdbreader. Safe to run again: it installs only what is
# missing, so a set-up machine is done in a second or two.
#
#   tools/setup.sh            everything
#   SETUP_SKIP_APT=1 ...      leave Debian's packages alone (no root needed)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export DEBIAN_FRONTEND=noninteractive

log() { printf '[setup] %s\n' "$*"; }

packages=(
  # build
  cmake make g++ clang libclang-rt-14-dev git ca-certificates
  # libraries
  libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev libcli11-dev qt6-base-dev qt6-qpa-plugins
  # a display for the desktop front end's tests
  xvfb xauth
  # the independent readers the tests check our files with
  mdbtools
  # the Windows build: the MinGW-w64 cross compiler (posix threads), Wine to
  # run its tests, GoogleTest's sources to build them with
  g++-mingw-w64-x86-64-posix wine64 googletest
)

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

if [[ "${SETUP_SKIP_APT:-}" != 1 ]]; then
  missing=()
  for p in "${packages[@]}"; do
    installed "$p" || missing+=("$p")
  done
  # Node.js: any working node will do (the machine may have one from
  # elsewhere, with its own npm); otherwise Debian's nodejs and npm.
  if ! command -v node >/dev/null 2>&1; then
    missing+=(nodejs npm)
  elif ! command -v npm >/dev/null 2>&1; then
    missing+=(npm)
  fi
  if ((${#missing[@]})); then
    if [[ "$(id -u)" != 0 ]]; then
      log "missing packages: ${missing[*]}; run this script as root" >&2
      exit 1
    fi
    log "installing: ${missing[*]}"
    apt-get update -qq
    apt-get install -y -qq "${missing[@]}" >/dev/null
  else
    log "Debian packages: all present"
  fi
fi

# mdb-reader, exactly as package-lock.json pins it.
mdbreader="$root/tools/mdbreader"
want="$(node -e 'console.log(require(process.argv[1]).dependencies["mdb-reader"])' "$mdbreader/package.json")"
have=""
if [[ -f "$mdbreader/node_modules/mdb-reader/package.json" ]]; then
  have="$(node -e 'console.log(require(process.argv[1]).version)' "$mdbreader/node_modules/mdb-reader/package.json")"
fi
if [[ "$have" != "$want" ]]; then
  log "installing mdb-reader $want"
  (cd "$mdbreader" && npm ci --no-audit --no-fund --loglevel=error)
else
  log "mdb-reader $have: present"
fi

log "done"

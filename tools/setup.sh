#!/usr/bin/env bash
# Prepares a Debian 12 amd64 machine for building and testing the launcher.
# Safe to run again: packages are installed only when missing and the cross-built
# libraries are rebuilt only when their recipe (tools/deps/) changes.
#
# Prints nothing but progress. The cross-built libraries are made by tools/deps/build-cross.sh.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

packages=(
  g++-mingw-w64-i686 libz-mingw-w64-dev
  wine wine32:i386 xvfb xauth libgl1-mesa-dri:i386 libglx-mesa0:i386 libgl1:i386
  fonts-dejavu-core fonts-dejavu-extra dpkg-dev cmake ninja-build make
  g++ libcurl4-openssl-dev libjson-c-dev rapidjson-dev libcrypto++-dev zlib1g-dev libgtest-dev libgmock-dev googletest
  python3 ccache imagemagick xdotool clang libclang-rt-14-dev rar unrar nginx-light time osslsigncode openssl
)

log() { printf '[setup] %s\n' "$*" >&2; }

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

sources_ready() {
  local f=/etc/apt/sources.list.d/debian.sources
  dpkg --print-foreign-architectures | grep -qx i386 || return 1
  [ -f "$f" ] || return 0
  grep -Eq '^Types:.*deb-src' "$f" && grep -Eq '^Components:.*non-free( |$)' "$f"
}

enable_sources() {
  local f=/etc/apt/sources.list.d/debian.sources
  as_root dpkg --add-architecture i386
  if [ -f "$f" ]; then
    # deb822: add deb-src to every stanza and non-free to the main archive's stanzas.
    as_root sed -i -E \
      -e '/^Types:/{/deb-src/!s/$/ deb-src/}' \
      -e '/^Components:/{/non-free( |$)/!s/$/ non-free/}' "$f"
  elif [ -f /etc/apt/sources.list ]; then
    as_root sed -i -E 's/^(deb .* main)$/\1 contrib non-free/' /etc/apt/sources.list
    grep -q '^deb-src' /etc/apt/sources.list ||
      sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | as_root tee -a /etc/apt/sources.list >/dev/null
  fi
}

missing_packages() {
  local p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || echo "$p"
  done
}

install_packages() {
  local missing fresh=0
  if ! sources_ready; then enable_sources; fresh=1; fi
  missing="$(missing_packages)"
  if [ -n "$missing" ] || [ "$fresh" = 1 ]; then
    log "installing packages: $(echo $missing)"
    as_root apt-get update -qq
    # shellcheck disable=SC2086
    [ -z "$missing" ] || DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends $missing >/dev/null
  fi
}

install_packages
bash "$here/deps/build-cross.sh"

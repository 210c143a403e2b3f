#!/usr/bin/env bash
# Cross-builds the Windows libraries the launcher links (json-c, Crypto++, UnRAR, GoogleTest)
# from Debian's source packages into $TALVOREEN_DEPS/<recipe hash>, linked as "current".
# The prefix is rebuilt only when this recipe (this folder or the toolchain file) changes.
# Called by tools/setup.sh after the packages are installed.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
deps_root="${TALVOREEN_DEPS:-/var/cache/talvoreen-deps}"

log() { printf '[setup] %s\n' "$*" >&2; }
as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

recipe_hash() {
  find "$here" "$root/cmake/mingw-i686.cmake" -type f -print0 | sort -z | xargs -0 cat | sha256sum | cut -c1-16
}

fetch_source() { # package -> unpacked source folder on stdout
  local pkg="$1" dir
  mkdir -p "$work/src-$pkg"
  (cd "$work/src-$pkg" && apt-get source -qq "$pkg" >"$work/src-$pkg.log" 2>&1) ||
    { log "apt-get source $pkg failed:"; tail -n 20 "$work/src-$pkg.log" >&2; exit 1; }
  dir="$(find "$work/src-$pkg" -mindepth 1 -maxdepth 1 -type d | head -n 1)"
  [ -n "$dir" ] || { log "apt-get source $pkg unpacked nothing"; exit 1; }
  echo "$dir"
}

build_json_c() {
  local src; src="$(fetch_source json-c)"
  log "json-c from $(basename "$src")"
  cmake -S "$src" -B "$work/json-c-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON \
    -DBUILD_TESTING=OFF -DDISABLE_WERROR=ON >"$work/json-c.log" 2>&1 || { tail -n 30 "$work/json-c.log"; exit 1; }
  cmake --build "$work/json-c-build" >>"$work/json-c.log" 2>&1 || { tail -n 30 "$work/json-c.log"; exit 1; }
  cmake --install "$work/json-c-build" >/dev/null
}

build_cryptopp() {
  local src; src="$(fetch_source libcrypto++)"
  log "Crypto++ from $(basename "$src") (takes a minute or two)"
  make -C "$src" -f GNUmakefile -j"$(nproc)" static \
    CXX=i686-w64-mingw32-g++-posix AR=i686-w64-mingw32-ar RANLIB=i686-w64-mingw32-ranlib \
    CXXFLAGS="-DNDEBUG -O2 -pipe" >/dev/null 2>"$work/cryptopp.log" || { tail -n 30 "$work/cryptopp.log"; exit 1; }
  mkdir -p "$prefix/include/cryptopp" "$prefix/lib"
  cp "$src"/*.h "$prefix/include/cryptopp/"
  # Debian's packaging renames the archive to libcrypto++.a.
  cp "$(ls "$src"/libcrypto++.a "$src"/libcryptopp.a 2>/dev/null | head -n 1)" "$prefix/lib/libcryptopp.a"
}

build_unrar() {
  local src; src="$(fetch_source unrar-nonfree)"
  log "UnRAR from $(basename "$src")"
  local objs="rar strlist strfn pathfn smallfn global file filefn filcreat archive arcread unicode system
    crypt crc rawread encname resource match timefn rdwrfn consio options errhnd rarvm secpassword
    rijndael getbits sha1 sha256 blake2s hash extinfo extract volume list find unpack headers
    threadpool rs16 cmddata ui filestr scantree dll qopen isnt"
  local out="$work/unrar-obj" o pids=()
  mkdir -p "$out" "$prefix/include/unrar" "$prefix/lib"
  for o in $objs; do
    i686-w64-mingw32-g++-posix -O2 -std=c++11 -w -DRARDLL -DRAR_SMP \
      -I"$here/unrar-shims" -c "$src/$o.cpp" -o "$out/$o.o" &
    pids+=($!)
    if [ "${#pids[@]}" -ge "$(nproc)" ]; then wait "${pids[0]}"; pids=("${pids[@]:1}"); fi
  done
  for o in "${pids[@]}"; do wait "$o"; done
  i686-w64-mingw32-g++-posix -O2 -c "$here/unrar-shims/comsupp.cpp" -o "$out/comsupp.o"
  rm -f "$prefix/lib/libunrar.a"
  i686-w64-mingw32-ar rcs "$prefix/lib/libunrar.a" "$out"/*.o
  cp "$src/dll.hpp" "$prefix/include/unrar/"
}

build_gtest() {
  log "GoogleTest for Windows"
  cmake -S /usr/src/googletest -B "$work/gtest-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON >"$work/gtest.log" 2>&1 ||
    { tail -n 30 "$work/gtest.log"; exit 1; }
  cmake --build "$work/gtest-build" >>"$work/gtest.log" 2>&1 || { tail -n 30 "$work/gtest.log"; exit 1; }
  cmake --install "$work/gtest-build" >/dev/null
}

build_cross_deps() {
  prefix="$deps_root/$(recipe_hash)"
  if [ -f "$prefix/.complete" ]; then
    as_root ln -sfn "$prefix" "$deps_root/current"
    return
  fi
  rm -rf "$prefix"
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
  build_json_c
  build_cryptopp
  build_unrar
  build_gtest
  touch "$prefix/.complete"
  ln -sfn "$prefix" "$deps_root/current"
  # Prefixes of older recipes are of no use any more.
  find "$deps_root" -mindepth 1 -maxdepth 1 -type d ! -path "$prefix" -exec rm -rf {} +
  log "cross prefix ready: $prefix"
}

as_root mkdir -p "$deps_root"
as_root chown "$(id -u):$(id -g)" "$deps_root"
# Several checkouts of the project may set up at the same time; one builds, the others wait.
exec 7>"$deps_root/.lock"
flock 7
build_cross_deps

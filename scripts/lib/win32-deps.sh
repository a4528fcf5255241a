#!/usr/bin/env bash
# Installs the mingw-w64 cross toolchain and Wine, then cross-builds minizip, libcurl (Schannel, static)
# and libsodium (static) from Debian's own source packages into a cache folder outside the checkout. Safe to run again: a finished
# prefix and installed packages are left alone. Prints the prefix on stdout (messages go to stderr).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
versions_file="$repo/cmake/win32-deps-version.txt"
toolchain="$repo/cmake/toolchain-i686-w64-mingw32.cmake"

log() { printf 'win32-deps: %s\n' "$*" >&2; }

read_version() {
  local v
  v="$(sed -n "s/^$1=//p" "$versions_file")"
  [[ -n "$v" ]] || { log "no $1 version in $versions_file"; exit 1; }
  printf '%s\n' "$v"
}
zlib_version="$(read_version zlib)"
curl_version="$(read_version curl)"
sodium_version="$(read_version libsodium)"
# Every line of the versions file in order, epochs dropped; the toolchain file derives the same name.
key="$(sed -n 's/^\([a-z]*\)=\([^:]*:\)\{0,1\}\(.*\)$/\1-\3/p' "$versions_file" | paste -sd_)"
cache_root="$HOME/.cache/kr-win32-deps"
prefix="${KR_WIN32_DEPS:-$cache_root/$key}"
stamp="$prefix/.kr-win32-deps-complete"

packages=(g++-mingw-w64-i686-posix mingw-w64-tools libz-mingw-w64-dev wine wine32:i386 xvfb xauth
  cmake ninja-build dpkg-dev imagemagick autoconf automake libtool)

as_root() {
  if [[ $EUID -eq 0 ]]; then "$@"; else sudo "$@"; fi
}
apt_get() {
  as_root env DEBIAN_FRONTEND=noninteractive apt-get -q -o Dpkg::Use-Pty=0 "$@"
}

missing_packages() {
  local p
  for p in "${packages[@]}"; do
    [[ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null || true)" == "ii "* ]] || printf '%s\n' "$p"
  done
}

has_deb_src() {
  grep -Eqs '^[[:space:]]*Types:.*deb-src' /etc/apt/sources.list.d/*.sources && return 0
  grep -Eqs '^[[:space:]]*deb-src[[:space:]]' /etc/apt/sources.list /etc/apt/sources.list.d/*.list
}

# Returns 0 when it added a deb-src entry (so the lists need an update).
enable_deb_src() {
  has_deb_src && return 1
  local src=/etc/apt/sources.list.d/debian.sources
  if [[ -f "$src" ]]; then
    sed 's/^Types:.*/Types: deb-src/' "$src" | as_root tee /etc/apt/sources.list.d/kr-debian-src.sources >/dev/null
  elif [[ -f /etc/apt/sources.list ]]; then
    sed -n 's/^deb[[:space:]]/deb-src /p' /etc/apt/sources.list | as_root tee /etc/apt/sources.list.d/kr-debian-src.list >/dev/null
  else
    log "no Debian sources entry to copy"; exit 1
  fi
  log "enabled deb-src"
  return 0
}

# A mirror in the middle of a sync fails an index now and then: try again before giving up, and go on
# with the lists there are (the install below says so when a package is really missing).
apt_update() {
  local try
  for try in 1 2 3; do
    log "apt-get update (try $try)"
    apt_get update >&2 && return 0
    sleep $((try * 10))
  done
  log "apt-get update failed three times; going on with the package lists there are"
}

ensure_packages() {
  local missing need_update=0
  mapfile -t missing < <(missing_packages)
  if [[ ! -f "$stamp" ]] && enable_deb_src; then need_update=1; fi
  if [[ ${#missing[@]} -gt 0 ]]; then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      as_root dpkg --add-architecture i386
    fi
    need_update=1
  fi
  if [[ $need_update -eq 1 ]]; then
    apt_update
  fi
  if [[ ${#missing[@]} -gt 0 ]]; then
    log "installing ${missing[*]}"
    apt_get install -y --no-install-recommends "${missing[@]}" >&2
  fi
}

# The pinned source version, else the newest one of the same upstream release still published (the
# security pocket replaces its revisions).
pick_source_version() { # package pinned-version
  local available upstream="${2%%-*}"
  available="$(apt-cache showsrc "$1" 2>/dev/null | sed -n 's/^Version: //p' | sort -u)"
  if grep -qxF "$2" <<<"$available"; then
    printf '%s\n' "$2"
    return
  fi
  local best
  best="$(awk -v u="$upstream-" 'index($0, u) == 1' <<<"$available" | sort -V | tail -n1 || true)"
  [[ -n "$best" ]] || { log "no $1 $upstream source package available"; exit 1; }
  log "$1 source $2 is gone, using $best (prefix keeps the pinned name)"
  printf '%s\n' "$best"
}

fetch_source() { # package=version dir
  local work="$2"
  rm -rf "$work"
  mkdir -p "$work"
  (cd "$work" && apt-get -q source --download-only "$1" >&2 && dpkg-source -x ./*.dsc src >&2)
}

build_minizip() {
  local src="$1/src/contrib/minizip" obj="$1/obj" cc=i686-w64-mingw32-gcc-posix f
  mkdir -p "$obj" "$prefix/lib" "$prefix/include/minizip"
  for f in ioapi unzip zip iowin32; do
    "$cc" -O2 -c "$src/$f.c" -o "$obj/$f.o"
  done
  rm -f "$prefix/lib/libminizip.a"
  i686-w64-mingw32-ar rcs "$prefix/lib/libminizip.a" "$obj"/{ioapi,unzip,zip,iowin32}.o
  install -m 0644 "$src"/{ioapi,unzip,zip,iowin32,crypt}.h "$prefix/include/minizip/"
  # A small package file so consumers can say find_package(minizip CONFIG) and link minizip::minizip.
  mkdir -p "$prefix/lib/cmake/minizip"
  cat >"$prefix/lib/cmake/minizip/minizipConfig.cmake" <<'EOF'
include(CMakeFindDependencyMacro)
find_dependency(ZLIB)
get_filename_component(_minizip_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
if(NOT TARGET minizip::minizip)
  add_library(minizip::minizip STATIC IMPORTED)
  set_target_properties(minizip::minizip PROPERTIES
    IMPORTED_LOCATION "${_minizip_prefix}/lib/libminizip.a"
    INTERFACE_INCLUDE_DIRECTORIES "${_minizip_prefix}/include"
    INTERFACE_LINK_LIBRARIES ZLIB::ZLIB)
endif()
unset(_minizip_prefix)
EOF
}

build_curl() {
  local src="$1/src" build="$1/build"
  cmake -S "$src" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DKR_WIN32_DEPS_PREFIX="$prefix" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF \
    -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_WINDOWS_SSPI=ON -DHTTP_ONLY=ON \
    -DCURL_DISABLE_LDAP=ON -DCURL_DISABLE_LDAPS=ON -DCURL_DISABLE_RTSP=ON -DCURL_DISABLE_FTP=ON \
    -DCURL_DISABLE_FILE=ON -DCURL_DISABLE_TELNET=ON -DCURL_DISABLE_DICT=ON -DCURL_DISABLE_TFTP=ON \
    -DCURL_DISABLE_POP3=ON -DCURL_DISABLE_IMAP=ON -DCURL_DISABLE_SMTP=ON -DCURL_DISABLE_GOPHER=ON \
    -DCURL_DISABLE_MQTT=ON -DCURL_DISABLE_SMB=ON \
    -DUSE_LIBIDN2=OFF -DUSE_WIN32_IDN=OFF -DCURL_USE_LIBPSL=OFF -DCURL_USE_LIBSSH2=OFF \
    -DCURL_USE_LIBSSH=OFF -DUSE_NGHTTP2=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF \
    -DCURL_ZLIB=ON -DZLIB_USE_STATIC_LIBS=ON -DENABLE_UNIX_SOCKETS=OFF \
    -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none >&2
  cmake --build "$build" >&2
  cmake --install "$build" >&2
}

# Static only; no stack protector, which would pull libssp into every program that links it. Debian's
# source carries no generated configure script.
build_sodium() {
  local src="$1/src" build="$1/build"
  mkdir -p "$build"
  (cd "$src" && autoreconf -i >&2)
  (cd "$build" && "$src/configure" --host=i686-w64-mingw32 --prefix="$prefix" \
    CC=i686-w64-mingw32-gcc-posix --disable-shared --enable-static --disable-ssp --disable-dependency-tracking \
    --quiet >&2 && make -j2 >&2 && make install >&2)
}

main() {
  ensure_packages
  if [[ -f "$stamp" ]]; then
    log "up to date: $prefix"
  else
    local work="$cache_root/src" curl_src sodium_src
    curl_src="$(pick_source_version curl "$curl_version")"
    sodium_src="$(pick_source_version libsodium "$sodium_version")"
    rm -rf "$prefix"
    mkdir -p "$prefix"
    log "building minizip from zlib $zlib_version"
    fetch_source "zlib=$zlib_version" "$work/zlib"
    build_minizip "$work/zlib"
    log "building libcurl $curl_src"
    fetch_source "curl=$curl_src" "$work/curl"
    build_curl "$work/curl"
    log "building libsodium $sodium_src"
    fetch_source "libsodium=$sodium_src" "$work/libsodium"
    build_sodium "$work/libsodium"
    printf 'zlib=%s\ncurl=%s\nlibsodium=%s\n' "$zlib_version" "$curl_src" "$sodium_src" >"$stamp"
    rm -rf "$work"
    log "done: $prefix"
  fi
  printf '%s\n' "$prefix"
}

main "$@"

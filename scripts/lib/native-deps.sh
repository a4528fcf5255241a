#!/usr/bin/env bash
# Installs the Debian packages of the native build and its tests. Idempotent: apt runs only when
# something is missing.
set -euo pipefail

KR_NATIVE_PACKAGES=(
    build-essential cmake ninja-build pkg-config git python3 openssl
    libcurl4-openssl-dev rapidjson-dev zlib1g-dev libminizip-dev libgtest-dev libsodium-dev
    clang libclang-rt-14-dev
    nginx-light curl zip unzip libarchive-tools
)

kr_missing_packages() {
    local missing=()
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$pkg")
        fi
    done
    echo "${missing[@]:-}"
}

kr_apt_install() {
    local missing
    missing=$(kr_missing_packages "$@")
    [ -z "$missing" ] && return 0
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing: $missing"
    $sudo apt-get update -qq
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
}

kr_native_deps() {
    kr_apt_install "${KR_NATIVE_PACKAGES[@]}"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    kr_native_deps
fi

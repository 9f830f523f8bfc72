#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (only those that are
# missing), then configures and builds into build/. Sourced by ./run and ./test.
set -euo pipefail

qvx_packages=(
    build-essential cmake
    qt6-base-dev qt6-serialport-dev libgl-dev libbenchmark-dev
    fonts-ipafont-gothic desktop-file-utils
    clang libclang-rt-14-dev llvm
)

qvx_missing_packages() {
    local package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' \
            || printf '%s\n' "$package"
    done
}

qvx_install() {
    local missing
    mapfile -t missing < <(qvx_missing_packages "$@")
    [ "${#missing[@]}" -eq 0 ] && return 0
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

qvx_build() {
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build -j"$(nproc)"
}

qvx_install "${qvx_packages[@]}"
qvx_build

#!/usr/bin/env bash
# Installs the Debian packages that are missing, then configures and builds into
# build/. Sourced by ./run ("source tools/setup.sh run"), ./test ("... test") and
# bench/send/run ("... bench"); the test set adds what the tests need to what the
# panel needs, the bench set what bench/send needs. Package names are the same on
# Debian 12 and 13: none carries a version, so each release brings its own
# (libclang-rt-dev is the runtime of the release's default clang).
set -euo pipefail

# Building and running the panel and the simulator (Qt Test comes with qt6-base-dev).
qvx_packages=(
    build-essential cmake
    qt6-base-dev qt6-serialport-dev libgl-dev
    fonts-ipafont-gothic
)
if [ "${1:-run}" = test ]; then
    qvx_packages+=(
        # The sanitized and fuzzing runs, and symbolized reports.
        clang libclang-rt-dev llvm
        # The package check (file for CPack's shlibdeps), the format check and
        # the network-line tests; nftables and iproute2 drop a device server's
        # packets in a network namespace of the test's own.
        desktop-file-utils file git clang-format ser2net nftables iproute2
        # The package check holds the .deb to Debian's rules and the panel's
        # AppStream metadata to AppStream's.
        lintian appstream
        # qvx-send's completion is tried in a bash that completes.
        bash-completion
        # Keeps the benchmarks building.
        libbenchmark-dev
        # PJLink clients that nobody here wrote: the npm package pjlink runs on
        # Node.js (the check installs it into a cache folder).
        nodejs
    )
    # A Node.js from outside Debian brings its own npm, which Debian's npm
    # package conflicts with.
    if ! command -v npm >/dev/null; then
        qvx_packages+=(npm)
    fi
    # Home Assistant's PJLink library, which Debian 13 packages and Debian 12 does not.
    if apt-cache show python3-pypjlink2 >/dev/null 2>&1; then
        qvx_packages+=(python3-pypjlink2)
    fi
fi
if [ "${1:-run}" = bench ]; then
    # bench/send times a pyserial script beside qvx-send.
    qvx_packages+=(python3-serial)
fi

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

#!/usr/bin/env bash
# Installs the Debian packages the project needs, when any is missing. Sourced by run.sh and test.sh.
set -euo pipefail

kerg_packages=(
    cmake ninja-build g++ clang libclang-rt-14-dev
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    qt6-base-dev qt6-qpa-plugins qt6-translations-l10n libgl-dev fonts-dejavu-core xvfb xauth x11-utils xdotool
    libdbd-xbase-perl perl
    libfuse3-dev fuse3 pkg-config
    g++-mingw-w64-x86-64-posix wine wine64
)

kerg_install_missing() {
    local missing=()
    local p
    for p in "${kerg_packages[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$p")
        fi
    done
    if [ "${#missing[@]}" -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -ne 0 ] && sudo="sudo"
        $sudo apt-get update
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
    fi
}

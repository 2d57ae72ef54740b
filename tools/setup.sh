#!/usr/bin/env bash
# Installs what Korvi needs on Debian 12, skipping apt entirely when everything is present.
# Usage: tools/setup.sh [--tests]   (--tests adds what the test suite needs)
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libgl-dev
    libcurl4-openssl-dev zlib1g-dev libsimpleini-dev libicu-dev
    ffmpeg aria2 fonts-wqy-microhei
)
if [[ "${1:-}" == "--tests" ]]; then
    packages+=(xvfb xauth imagemagick trayer python3 curl openssl clang-format dbus
               desktop-file-utils appstream dpkg-dev file man-db lintian)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    if [[ $(id -u) -ne 0 ]]; then
        sudo_cmd=(sudo)
    fi
    "${sudo_cmd[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends \
        "${missing[@]}"
fi

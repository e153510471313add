#!/usr/bin/env bash
# Installs, with apt-get, whatever Debian packages the build, the tests or the
# program still lack. Quick when nothing is missing. Sourced or run as root.
set -euo pipefail

corvelta_packages=(
    cmake g++ make
    qtbase5-dev qtbase5-dev-tools libqt5network5 libqt5test5
    libsystemd-dev libmicrohttpd-dev pkg-config
    libssl3 ca-certificates
    python3
    "$@"
)

missing=()
for package in "${corvelta_packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

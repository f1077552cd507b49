#!/usr/bin/env bash
# Installs the Debian packages Corvid needs to build, run and test. Safe to run again:
# it asks apt only for what is missing. With --fuzz it adds the compiler the fuzz targets need.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qtbase5-dev qtbase5-dev-tools libqt5webkit5-dev libqt5svg5-dev
    qttools5-dev qttools5-dev-tools libqt5help5 libqt5sql5-sqlite
    libhpdf-dev zlib1g-dev
    xvfb xauth
    python3 zip unzip qpdf poppler-utils openssl curl
    dbus-daemon xdg-utils shared-mime-info
    desktop-file-utils
)
# libFuzzer comes with clang's runtime libraries.
if [[ "${1:-}" == "--fuzz" ]]; then
    packages+=(clang libclang-rt-dev)
fi

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if [[ ${#missing[@]} -eq 0 ]]; then
    exit 0
fi

sudo=""
if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null || { echo "install-deps: need root for: ${missing[*]}" >&2; exit 1; }
    sudo="sudo"
fi

echo "install-deps: installing ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"

#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, and only those that are missing.
# Used by run.sh and test.sh, so a fresh machine needs nothing but these two commands. Packages named
# as arguments are added to the list (scripts/fuzz.sh needs clang, for example).
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    zlib1g-dev libdeflate-dev libssl-dev libdcmtk-dev libblkid-dev
    googletest libgtest-dev libgmock-dev
    gzip ncompress python3-pydicom orthanc dcmtk genisoimage fuseiso
    dpkg-dev file
    qt6-base-dev qt6-wayland
    fonts-wine fonts-dejavu-core
    "$@"
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}" >&2
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
        sudo_cmd=(sudo)
    else
        echo "These packages are missing and this user cannot install them: ${missing[*]}" >&2
        exit 1
    fi
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

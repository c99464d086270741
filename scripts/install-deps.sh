#!/usr/bin/env bash
# Installs the Debian packages tessel needs to build and test, skipping those already present.
# Run as root (or with sudo available) on Debian 12 or later. With the argument "fuzz" it also
# installs what the fuzz preset needs: clang and its runtime libraries with libFuzzer (Debian only
# recommends libclang-rt-14-dev with clang, so it is named here).
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config binutils
    libexpat1-dev libicu-dev libssl-dev libgumbo-dev libgmime-3.0-dev libgif-dev
    libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev
    libxml2-utils time tzdata chromium zlib1g-dev
)

missing=()
# With --win32: only what the 32-bit Windows cross build (the preset win32) needs, with Wine for
# its tests (wine32 is an i386 package: the architecture is enabled for it), icu-devtools and the
# GoogleTest sources for scripts/build-win32-deps.sh.
if [ "${1:-}" = "--win32" ]; then
    packages=(cmake ninja-build dpkg-dev icu-devtools googletest g++-mingw-w64-i686 binutils-mingw-w64-i686
        libcli11-dev nlohmann-json3-dev wine wine32)
fi
# With fuzz: also clang and libFuzzer for the fuzz preset.
if [ "${1:-}" = "fuzz" ]; then
    packages+=(clang libclang-rt-14-dev)
fi
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
echo "Installing: ${missing[*]}"
if [ "${1:-}" = "--win32" ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"

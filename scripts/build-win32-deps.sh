#!/usr/bin/env bash
# Cross-builds for 32-bit Windows, from Debian's source packages, the third-party libraries that
# the preset win32 links, and installs them into build-win32-deps/prefix of this checkout, where
# the preset looks for them. Today that is expat, as a static library.
#
# Debian has no mingw-w64 builds of them, but its source packages are reachable: when apt knows no
# source archive yet, a deb-src entry for the Debian archive the machine already uses is added
# (/etc/apt/sources.list.d/tessel-deb-src.sources) and the package lists are updated. Needs root
# (or sudo), dpkg-dev and the cross compiler (scripts/install-deps.sh --win32).
#
# Usage: scripts/build-win32-deps.sh [--force]   (--force rebuilds what is already there)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
deps=$root/build-win32-deps
prefix=$deps/prefix
toolchain=$root/cmake/toolchain-mingw-w64-i686.cmake
jobs=${JOBS:-2}

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi

# Makes apt-get source work: adds deb-src entries mirroring the machine's Debian entries (not the
# security archive, whose sources the mirror may not carry), then updates the lists.
ensure_sources() {
    if apt-get source --print-uris -qq expat >/dev/null 2>&1; then
        return
    fi
    local list=/etc/apt/sources.list.d/tessel-deb-src.sources
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        awk -v RS= -v ORS='\n\n' '!/debian-security/' /etc/apt/sources.list.d/debian.sources |
            sed 's/^Types: deb$/Types: deb-src/' | $SUDO tee "$list" >/dev/null
    elif [ -f /etc/apt/sources.list ]; then
        list=/etc/apt/sources.list.d/tessel-deb-src.list
        grep '^deb ' /etc/apt/sources.list | grep -v debian-security | sed 's/^deb /deb-src /' |
            $SUDO tee "$list" >/dev/null
    else
        echo "build-win32-deps: no Debian apt source found to add a deb-src entry for" >&2
        exit 1
    fi
    echo "build-win32-deps: added $list"
    $SUDO apt-get update -qq
}

# fetch PACKAGE: unpacks Debian's source package into $deps/src and prints the source folder.
fetch() {
    local package=$1
    rm -rf "$deps/src/$package"
    mkdir -p "$deps/src/$package"
    (cd "$deps/src/$package" && apt-get source -qq "$package" >/dev/null 2>"$deps/src/$package.log") || {
        cat "$deps/src/$package.log" >&2
        echo "build-win32-deps: apt-get source $package failed" >&2
        exit 1
    }
    find "$deps/src/$package" -mindepth 1 -maxdepth 1 -type d -name "$package-*" | head -n 1
}

build_expat() {
    if [ -f "$prefix/lib/libexpat.a" ] && [ "${1:-}" != "--force" ]; then
        echo "build-win32-deps: expat already built"
        return
    fi
    local source
    source=$(fetch expat)/expat
    # Debian's security fixes test "#if XML_DTD == 1", which its autotools build defines; the
    # CMake build defines XML_DTD and XML_NS empty. Give them the value 1.
    sed -i 's/^#cmakedefine XML_DTD$/#cmakedefine XML_DTD 1/;s/^#cmakedefine XML_NS$/#cmakedefine XML_NS 1/' \
        "$source/expat_config.h.cmake"
    rm -rf "$deps/expat-build"
    cmake -S "$source" -B "$deps/expat-build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DEXPAT_SHARED_LIBS=OFF -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF \
        -DEXPAT_BUILD_TESTS=OFF -DEXPAT_BUILD_DOCS=OFF -DEXPAT_BUILD_PKGCONFIG=OFF >/dev/null
    cmake --build "$deps/expat-build" -j "$jobs" >/dev/null
    cmake --install "$deps/expat-build" >/dev/null
    echo "build-win32-deps: expat $(sed -n 's/^Version: //p' "$deps"/src/expat/*.dsc) installed in $prefix"
}

ensure_sources
build_expat "${1:-}"

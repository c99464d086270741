#!/usr/bin/env bash
# Cross-builds for 32-bit Windows, from Debian's source packages, the third-party libraries that
# the preset win32 links, and installs them into build-win32-deps/prefix of this checkout, where
# the preset looks for them: expat, ICU's common library with a data package reduced to the
# character converters tessel uses, and GoogleTest (from /usr/src/googletest), all as static
# libraries; and the header-only CLI11 and nlohmann-json from Debian's packages.
#
# Debian has no mingw-w64 builds of them, but its source packages are reachable: when apt knows no
# source archive yet, a deb-src entry for the Debian archive the machine already uses is added
# (/etc/apt/sources.list.d/tessel-deb-src.sources) and the package lists are updated. Needs root
# (or sudo), dpkg-dev, icu-devtools (whose icupkg, genccode and uconv must be of the source
# package's version) and the cross compiler (scripts/install-deps.sh --win32).
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

# The converters in ICU's data package for Windows: those the host names (windows-1252, the
# algorithmic ones need no data), and those the LMBCS converter opens: its table of Lotus
# exceptions (lmb-excp) and the code pages it switches to for its groups.
icu_converters=(windows-1252 lmb-excp ibm-850 ibm-851 ibm-852 windows-1250 windows-1251 windows-1253
    windows-1254 windows-1255 windows-1256 windows-1257 windows-1258 windows-874 windows-932
    windows-936 windows-949 windows-950)

build_icu() {
    if [ -f "$prefix/lib/libicuuc.a" ] && [ -f "$prefix/lib/libicudt.a" ] && [ "${1:-}" != "--force" ]; then
        echo "build-win32-deps: ICU already built"
        return
    fi
    local source version tools_version data name canonical
    source=$(fetch icu)/source
    version=$(sed -n 's/^#define U_ICU_VERSION_MAJOR_NUM \([0-9]*\).*/\1/p' "$source/common/unicode/uvernum.h")
    tools_version=$(uconv --version | sed -n 's/.*ICU \([0-9]*\).*/\1/p' | head -n 1)
    if [ "$version" != "$tools_version" ]; then
        echo "build-win32-deps: ICU source $version but icu-devtools $tools_version" >&2
        exit 1
    fi
    # The data package: the alias table and the converters' tables, cut from the source's
    # prebuilt package of all data and turned into a C array.
    data=$deps/icu-data
    rm -rf "$data"
    mkdir -p "$data/items"
    {
        echo cnvalias.icu
        # A converter's table is named by its canonical name; lmb-excp has no alias entry.
        for name in "${icu_converters[@]}"; do
            canonical=$(uconv --list-code "$name" 2>/dev/null | head -n 1 || true)
            echo "${canonical:-$name}.cnv"
        done
    } | sort -u >"$data/items.txt"
    # Some converters extend a base table: icupkg names the missing base, which is added in turn.
    local round missing
    for round in 1 2 3 4; do
        (cd "$data/items" && icupkg -x "$data/items.txt" -d . "$source/data/in/icudt${version}l.dat")
        rm -f "$data/icudt${version}l.dat"
        missing=$(icupkg -s "$data/items" -a "$data/items.txt" new "$data/icudt${version}l.dat" 2>&1 |
            sed -n 's/.*depends on missing item \([^ ]*\).*/\1/p' || true)
        [ -z "$missing" ] && break
        printf '%s\n' $missing >>"$data/items.txt"
        sort -u -o "$data/items.txt" "$data/items.txt"
    done
    if [ -n "$missing" ] || [ ! -f "$data/icudt${version}l.dat" ]; then
        echo "build-win32-deps: ICU data package incomplete: $missing" >&2
        exit 1
    fi
    # genccode names the array after the file: ICU looks for icudt<version>_dat.
    cp "$data/icudt${version}l.dat" "$data/icudt${version}.dat"
    genccode -q -d "$data" "$data/icudt${version}.dat"
    rm -rf "$deps/icu-build"
    cmake -S "$root/cmake/icu" -B "$deps/icu-build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DICU_SOURCE="$source" \
        -DICU_DATA_C="$data/icudt${version}_dat.c" >/dev/null
    cmake --build "$deps/icu-build" -j "$jobs" >/dev/null
    cmake --install "$deps/icu-build" >/dev/null
    # Users of the static libraries must see ICU's declarations without dllimport.
    sed -i 's/^#define __UCONFIG_H__$/&\n#ifndef U_STATIC_IMPLEMENTATION\n#define U_STATIC_IMPLEMENTATION\n#endif/' \
        "$prefix/include/unicode/uconfig.h"
    echo "build-win32-deps: ICU $version (common library, $(wc -l <"$data/items.txt") data items) installed in $prefix"
}

build_googletest() {
    if [ -f "$prefix/lib/libgtest.a" ] && [ "${1:-}" != "--force" ]; then
        echo "build-win32-deps: GoogleTest already built"
        return
    fi
    if [ ! -f /usr/src/googletest/CMakeLists.txt ]; then
        echo "build-win32-deps: no GoogleTest sources in /usr/src/googletest (Debian: googletest)" >&2
        exit 1
    fi
    rm -rf "$deps/googletest-build"
    cmake -S /usr/src/googletest -B "$deps/googletest-build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF -Dgtest_disable_pthreads=OFF >/dev/null
    cmake --build "$deps/googletest-build" -j "$jobs" >/dev/null
    cmake --install "$deps/googletest-build" >/dev/null
    echo "build-win32-deps: GoogleTest $(dpkg-query -W -f='${Version}' googletest 2>/dev/null) installed in $prefix"
}

# CLI11 and nlohmann-json are headers only: Debian's copies, with their CMake package files, are
# put into the prefix, where a cross build looks for packages.
copy_header_libraries() {
    local package
    mkdir -p "$prefix/include" "$prefix/share/cmake"
    cp -r /usr/include/CLI /usr/include/nlohmann "$prefix/include/"
    for package in CLI11 nlohmann_json; do
        rm -rf "${prefix:?}/share/cmake/$package"
        cp -r "/usr/share/cmake/$package" "$prefix/share/cmake/"
    done
}

ensure_sources
build_expat "${1:-}"
build_icu "${1:-}"
build_googletest "${1:-}"
copy_header_libraries

#!/usr/bin/env bash
# CI stage for 32-bit Windows: cross-builds the third-party libraries from Debian's sources
# (scripts/build-win32-deps.sh), then the CMake preset win32 with mingw-w64, and checks the DLLs as
# a Windows host sees them:
#   - tessel_nsf.dll and bmpcv.dll are 32-bit (PE32, i386) DLLs;
#   - tessel_nsf.dll exports exactly one entry, nsfGetContainerReaderInterfaceEx, under its plain
#     name, and the entry is stdcall (the linker saw it as _nsfGetContainerReaderInterfaceEx@4);
#   - bmpcv.dll exports IMGXconvert (stdcall, @28) and IMGXgetLastError;
#   - the emulated runtime, nnotes.dll, exports every function the plug-in imports;
#   - neither imports a DLL beyond Windows' own and, for the plug-in, the Notes client's nnotes.dll,
#     whose functions it imports by their plain names;
#   - the export check refuses a DLL with the wrong exports (so that it can fail at all);
#   - tessel.exe is a 32-bit program that needs no DLL beyond Windows' own;
# then runs the Windows tests under Wine (ctest --preset win32) in a Wine prefix of its own, made
# in a temporary folder and removed at the end; and last compares, byte for byte, what tessel.exe
# (installed into a folder as a Windows user installs it) extracts from samples/mail.dxl under
# Wine with what the Linux tessel extracts from it.
#
# Usage: scripts/ci-win32.sh [--no-install] [--linux-tessel PATH]
#   --no-install          do not install the cross compiler and dpkg-dev (scripts/install-deps.sh --win32)
#   --linux-tessel PATH   the Linux tessel to compare with (default build/cli/tessel, which is
#                         built with the preset default, just tessel and its libraries, when missing)
#   JOBS                  parallel build jobs (default 2)
set -euo pipefail
cd "$(dirname "$0")/.."

install=1
linux_tessel=build/cli/tessel
while [ $# -gt 0 ]; do
    case "$1" in
    --no-install) install=0 ;;
    --linux-tessel)
        linux_tessel=${2:?--linux-tessel needs a path}
        shift
        ;;
    *)
        echo "usage: $0 [--no-install] [--linux-tessel PATH]" >&2
        exit 2
        ;;
    esac
    shift
done

if [ "$install" -eq 1 ]; then
    bash scripts/install-deps.sh --win32
fi

jobs=${JOBS:-2}
JOBS=$jobs bash scripts/build-win32-deps.sh
cmake --preset win32
cmake --build --preset win32 -j "$jobs"

build=build-win32
objdump=i686-w64-mingw32-objdump
nm=i686-w64-mingw32-nm
plugin=$build/nsf/tessel_nsf.dll
bmpcv=$build/nsf/bmpcv.dll
program=$build/cli/tessel.exe
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# The names of a DLL's export table, one a line, sorted.
exports_of() {
    "$objdump" -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
        sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort
}

# The DLLs a DLL imports from, one a line, in lower case, sorted.
imports_of() {
    "$objdump" -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '[:upper:]' '[:lower:]' | sort
}

# The function names a DLL imports from one named DLL.
imported_names() {
    "$objdump" -p "$1" | awk -v dll="$2" '
        /DLL Name:/ { inside = (tolower($3) == tolower(dll)); next }
        inside && /^[[:space:]]*$/ { inside = 0 }
        inside && $1 ~ /^[0-9a-f]+$/ && NF >= 3 { print $3 }'
}

# check_exports DLL NAME...: the export table holds exactly these names.
check_exports() {
    local dll=$1
    shift
    local expected actual
    expected=$(printf '%s\n' "$@" | sort)
    actual=$(exports_of "$dll")
    if [ "$actual" != "$expected" ]; then
        echo "$dll exports [$(echo $actual)], expected [$(echo $expected)]" >&2
        return 1
    fi
}

# check_symbol DLL SYMBOL: the DLL's symbol table defines the (decorated) symbol.
check_symbol() {
    "$nm" -g --defined-only "$1" | awk -v symbol="$2" '$3 == symbol { found = 1 } END { exit !found }'
}

# check_imports DLL ALLOWED...: every imported DLL is one of the allowed ones.
check_imports() {
    local dll=$1
    shift
    local allowed=" $* " imported ok=0
    for imported in $(imports_of "$dll"); do
        case "$allowed" in
        *" $imported "*) ;;
        *)
            echo "$dll imports $imported" >&2
            ok=1
            ;;
        esac
    done
    return $ok
}

windows_dlls="kernel32.dll msvcrt.dll shell32.dll user32.dll advapi32.dll"

for dll in "$plugin" "$bmpcv" "$program"; do
    if [ ! -f "$dll" ]; then
        fail "$dll was not built"
        continue
    fi
    "$objdump" -f "$dll" | awk '/file format/ && $NF == "pei-i386" { found = 1 } END { exit !found }' || fail "$dll is not a 32-bit Windows binary"
done
if [ "$failures" -ne 0 ]; then
    exit 1
fi

check_exports "$plugin" nsfGetContainerReaderInterfaceEx ||
    fail "tessel_nsf.dll: the export table is not the one entry"
check_symbol "$plugin" _nsfGetContainerReaderInterfaceEx@4 ||
    fail "tessel_nsf.dll: the entry is not stdcall with one pointer argument"
check_imports "$plugin" $windows_dlls nnotes.dll || fail "tessel_nsf.dll: unexpected imports"
notes_imports=$(imported_names "$plugin" nnotes.dll)
if [ -z "$notes_imports" ]; then
    fail "tessel_nsf.dll: imports nothing from nnotes.dll"
elif [[ "$notes_imports" == *@* ]]; then
    fail "tessel_nsf.dll: decorated names imported from nnotes.dll: $(echo $notes_imports)"
fi

# The emulated runtime stands in for the client's nnotes.dll: it exports, under their plain
# names, every function the plug-in imports from it, and needs no DLL beyond Windows' own.
runtime=$build/notesapi/nnotes.dll
if [ ! -f "$runtime" ]; then
    fail "$runtime was not built"
else
    missing=$(comm -23 <(echo "$notes_imports" | sort) <(exports_of "$runtime"))
    [ -z "$missing" ] || fail "nnotes.dll does not export: $(echo $missing)"
    check_imports "$runtime" $windows_dlls bcrypt.dll || fail "nnotes.dll: unexpected imports"
fi

check_exports "$bmpcv" IMGXconvert IMGXgetLastError || fail "bmpcv.dll: wrong export table"
check_symbol "$bmpcv" _IMGXconvert@28 || fail "bmpcv.dll: IMGXconvert is not stdcall with seven arguments"
check_imports "$bmpcv" $windows_dlls || fail "bmpcv.dll: unexpected imports"
# The program loads the plug-in at run time; it imports nothing beyond Windows' own DLLs.
check_imports "$program" $windows_dlls || fail "tessel.exe: unexpected imports"

# The export check must be able to fail: bmpcv.dll is not a plug-in.
if check_exports "$bmpcv" nsfGetContainerReaderInterfaceEx 2>/dev/null; then
    fail "the export check accepted bmpcv.dll as the plug-in"
fi

if [ "$failures" -ne 0 ]; then
    echo "win32: $failures check(s) failed" >&2
    exit 1
fi
echo "win32: tessel_nsf.dll (1 export, $(echo "$notes_imports" | wc -l) nnotes.dll imports), bmpcv.dll and tessel.exe checked"

# The tests under Wine. The Wine server is kept running for the whole stage: each test program
# then starts in a fraction of a second instead of seconds. Its services are started here, with
# their output going nowhere, so that none of them inherits (and holds open) a test's output.
if ! command -v wine >/dev/null; then
    echo "win32: no wine (scripts/install-deps.sh --win32 installs it)" >&2
    exit 1
fi
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/tessel-wine.XXXXXX")
export WINEPREFIX WINEDEBUG=-all
stage=$(mktemp -d "${TMPDIR:-/tmp}/tessel-win32-compare.XXXXXX")
stop_wine() {
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX" "$stage"
}
trap stop_wine EXIT
started=$(date +%s)
wineserver -p </dev/null >/dev/null 2>&1
wineboot -i </dev/null >/dev/null 2>&1
echo "win32: Wine prefix made in $(($(date +%s) - started)) s"
# A test program under Wine has been seen once to crash while exiting after its test had passed
# (not reproduced in later runs); a failing test is therefore run once more before the stage fails.
# A test that fails twice still fails the stage.
ctest --preset win32 -j "$jobs" --repeat until-pass:2

# The same extraction on both systems. tessel.exe runs as a Windows user installs it: the
# install tree's bin\ holds it with the plug-in, the emulated nnotes.dll and bmpcv.dll, and
# share\tessel\ the templates, found beside the program. Both run in a zone that is not UTC, in
# the form both C libraries read (EST5EDT): the program works in UTC itself, so no time it writes
# may move with the machine's zone.
if [ ! -x "$linux_tessel" ]; then
    echo "win32: no Linux tessel at $linux_tessel; building it (preset default)"
    cmake --preset default >/dev/null
    cmake --build --preset default -j "$jobs" --target tessel tessel_nsf bmpcv
fi
linux_tessel=$(realpath "$linux_tessel")
cmake --install "$build" --prefix "$stage/install" --strip >/dev/null
cp samples/mail.dxl "$stage/mail.dxl"
mkdir "$stage/windows" "$stage/linux"
compared_run() {
    local side=$1
    shift
    local status=0
    (cd "$stage" && TZ=EST5EDT "$@" list mail.dxl >"$side.list" 2>"$side.list.err") || status=$?
    [ "$status" -eq 0 ] || fail "$side: tessel list ended with status $status: $(cat "$stage/$side.list.err")"
    status=0
    (cd "$stage" && TZ=EST5EDT "$@" extract mail.dxl -o "$side" >"$side.out" 2>"$side.err") || status=$?
    [ "$status" -eq 0 ] || fail "$side: tessel extract ended with status $status: $(cat "$stage/$side.err")"
}
compared_run linux "$linux_tessel"
compared_run windows wine "$stage/install/bin/tessel.exe"

# The differences expected, each with its reason; any other fails the stage.
# - mail_ql8.mht: the sample's memo kept as MIME. The Windows runtime has no MIME conversion
#   (GMime is not built for Windows), so its body element is left out there and the memo is
#   written with its header table only.
expected_differences="mail_ql8.mht"
differences=$(cd "$stage" && diff -rq linux windows | sed -n 's|^Files linux/\(.*\) and windows/.* differ$|\1|p' || true)
others=$(cd "$stage" && diff -rq linux windows | grep -v '^Files linux/.* and windows/.* differ$' || true)
[ -z "$others" ] || fail "the extracted trees differ in their files: $others"
while IFS= read -r file; do
    [ -n "$file" ] || continue
    case " $expected_differences " in
    *" $file "*) echo "win32: $file differs, as expected" ;;
    *)
        fail "$file differs between Linux and Windows"
        diff -u "$stage/linux/$file" "$stage/windows/$file" | head -n 40 >&2 || true
        ;;
    esac
done <<<"$differences"
# The same summary line ("39 subfiles, 39 written, 0 failed") and the same listing, times included.
cmp -s "$stage/linux.out" "$stage/windows.out" ||
    fail "the summaries differ: $(cat "$stage/linux.out") / $(cat "$stage/windows.out")"
cmp -s "$stage/linux.list" "$stage/windows.list" ||
    fail "the listings differ: $(diff "$stage/linux.list" "$stage/windows.list" | head -n 20)"
if [ "$failures" -ne 0 ]; then
    echo "win32: $failures check(s) of the comparison with Linux failed" >&2
    exit 1
fi
echo "win32: tessel.exe under Wine wrote what the Linux tessel wrote ($(find "$stage/linux" -type f | wc -l) files; expected differences: $expected_differences)"

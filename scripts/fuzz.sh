#!/usr/bin/env bash
# Runs the libFuzzer targets built by the fuzz preset.
#   scripts/fuzz.sh runs <N> [target...]     every target for N executions (what CI runs)
#   scripts/fuzz.sh time <seconds> [target...] every target for that long (the longer local run)
# Each target starts from its committed seeds (fuzz/corpus/<target>) plus what earlier runs found
# (build-fuzz/corpus/<target>), with its dictionary, a time limit per input and a memory limit, so
# that slow and explosive inputs count as findings. A finding lands in build-fuzz/findings/<target>/
# and fails the run; turn it into a regression test with its input under tests/data/.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-runs}
amount=${2:-2000}
shift 2 || true
all=(richtext bmpcv dxl mime textchain database template)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all[@]}")

declare -A dict=([richtext]=richtext [dxl]=dxl [database]=dxl [template]=template)
declare -A maxlen=([richtext]=65536 [bmpcv]=65536 [dxl]=65536 [mime]=32768 [textchain]=16384
                   [database]=65536 [template]=16384)

status=0
for target in "${targets[@]}"; do
    binary=build-fuzz/fuzz/${target}_fuzz
    if [ ! -x "$binary" ]; then
        echo "fuzz: $binary is missing; build it with: cmake --preset fuzz && cmake --build --preset fuzz" >&2
        exit 2
    fi
    work=build-fuzz/corpus/$target
    findings=build-fuzz/findings/$target
    mkdir -p "$work" "$findings"
    options=(-timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=2048 -max_len="${maxlen[$target]}"
             -artifact_prefix="$findings/" -print_final_stats=1)
    [ -n "${dict[$target]:-}" ] && options+=(-dict="fuzz/dict/${dict[$target]}.dict")
    case "$mode" in
    runs) options+=(-runs="$amount" -seed=1) ;;
    time) options+=(-max_total_time="$amount") ;;
    *) echo "fuzz: the mode is runs or time, not $mode" >&2; exit 2 ;;
    esac
    echo "== $target"
    start=$(date +%s)
    # Leak checks stay on: the targets free everything they make.
    # libFuzzer ends the process without running destructors: the targets' scratch folders go
    # below the build tree and are removed here.
    scratch=$PWD/build-fuzz/tmp/$target
    rm -rf "$scratch" && mkdir -p "$scratch"
    if ! TMPDIR=$scratch ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 nice -n 19 "$binary" "${options[@]}" "$work" "fuzz/corpus/$target" 2>"build-fuzz/$target.log"; then
        status=1
        tail -n 60 "build-fuzz/$target.log" >&2
    fi
    rm -rf "$scratch"
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "build-fuzz/$target.log" | tr '\n' ' '
    echo "seconds: $(( $(date +%s) - start ))"
done
exit $status

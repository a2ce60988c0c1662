#!/bin/sh
# Builds the libFuzzer targets with clang into build-fuzz and runs each one
# for the given number of seconds (default 60). New inputs go to
# build-fuzz/corpus/, crashes to build-fuzz/artifacts/; a crash makes the
# script fail once every target has had its turn. Copy a crash input into
# fuzz/regressions/<target>/ so the normal test run replays it from then on.
# HIVEDUMP_FUZZ_SANITIZE=OFF (with HIVEDUMP_FUZZ_BUILD=build-fuzz-fast, say)
# builds the targets without the sanitizers, for throughput.
set -eu
seconds=${1:-60}
cd "$(dirname "$0")/.."
build=${HIVEDUMP_FUZZ_BUILD:-build-fuzz}
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DHIVEDUMP_FUZZ=ON -DHIVEDUMP_FUZZ_SANITIZE="${HIVEDUMP_FUZZ_SANITIZE:-ON}" -DHIVEDUMP_TESTS=OFF -DHIVEDUMP_WINE_TESTS=OFF >/dev/null
cmake --build "$build" --target hivedump_fuzzers -j "$jobs"

# Every input takes and frees the memory of a whole registry: a quarantine of
# 64 MiB (still hundreds of inputs' worth) and allocation stacks of 8 frames
# save about a tenth of the time.
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:quarantine_size_mb=64:malloc_context_size=8
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
failed=0
total=0
for target in $(cat "$build/fuzz_targets.txt"); do
    corpus="$build/corpus/$target"
    artifacts="$build/artifacts/$target"
    mkdir -p "$corpus" "$artifacts" "fuzz/regressions/$target"
    set -- -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/"
    if [ -f "fuzz/$target.dict" ]; then
        set -- "$@" -dict="fuzz/$target.dict"
    fi
    log="$build/$target.log"
    echo "== $target, ${seconds}s"
    if "$build/$target" "$@" "$corpus" "fuzz/corpus/$target" "fuzz/regressions/$target" >"$log" 2>&1; then
        status=ok
    else
        status=FAILED
        failed=1
        tail -n 40 "$log"
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    runs=${runs:-0}
    total=$((total + runs))
    echo "$target: $status, $runs executions (log: $log)"
done
echo "all targets: $total executions"
exit $failed

#!/bin/sh
# Times, in one run, the Linux tool, the Windows build under wine64 and
# `wine64 reg export` on the same keys, and prints the ratios and peak memory;
# then one key and the whole subtree of generated prefixes against wc -l and
# cp of the same file.
# usage: bench/run.sh [KEYS...]   (default: 10000 100000 1000000)
# HIVEDUMP=path times another build of the Linux tool (an older one, say);
# BENCH_PREFIXES=dir takes the prefixes dir/pKEYS when they are there.
set -eu
sizes=${*:-10000 100000 1000000}
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build >/dev/null
cmake --build build --target hivedump generate_prefix peak_rss -j "$jobs" >/dev/null
[ -f build-win64/hivedump.exe ] || {
    cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
    cmake --build build-win64 -j "$jobs" >/dev/null
}
tool=${HIVEDUMP:-$root/build/hivedump}
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
export WINEDEBUG=-all
work=$(mktemp -d)
trap 'for p in "$work"/*/; do WINEPREFIX=$p $wineserver -k 2>/dev/null || true; done; rm -rf "$work"' EXIT

measure() { # label command... ; prints "seconds kib"
    "$root/build/peak_rss" "$@" 2>"$work/measure" >/dev/null || true
    cat "$work/measure"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.1f", a / b; else print "inf" }'; }
ratio2() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "inf" }'; }

# median RUNS command...: the median "seconds kib" of that many runs.
median() {
    local runs=$1
    shift
    for run in $(seq "$runs"); do measure "$@"; done | sort -n >"$work/median"
    sed -n "$(((runs + 1) / 2))p" "$work/median"
}

echo "== fresh prefix: HKEY_LOCAL_MACHINE\\Software"
fresh=$work/fresh
mkdir -p "$fresh"
WINEPREFIX=$fresh $wine wineboot -i >/dev/null 2>&1
WINEPREFIX=$fresh $wineserver -w
key='HKEY_LOCAL_MACHINE\Software'
# First as a user runs it, with no wineserver up; then with a warm one, so
# that Wine's start-up is not counted.
set -- $(WINEPREFIX=$fresh measure $wine reg export "$key" "Z:$(echo "$work/reg.reg" | tr / '\\')" /y)
cold_reg_time=$1
set -- $(WINEPREFIX=$fresh measure $wine reg export "$key" "Z:$(echo "$work/reg.reg" | tr / '\\')" /y)
reg_time=$1
set -- $(WINEPREFIX=$fresh measure $wine "$root/build-win64/hivedump.exe" "$key" "Z:$(echo "$work/exe.reg" | tr / '\\')")
exe_time=$1
WINEPREFIX=$fresh $wineserver -w
# The median of five native runs: one run of a few milliseconds is noise.
for run in 1 2 3 4 5; do
    WINEPREFIX=$fresh measure "$tool" "$key" "$work/native.reg"
done | sort -n >"$work/fresh-runs"
set -- $(sed -n 3p "$work/fresh-runs")
native_time=$1 native_kib=$2
size=$(wc -c <"$fresh/system.reg")
# Process against process, the median of many runs: both take milliseconds.
set -- $(WINEPREFIX=$fresh median 21 "$tool" "$key" "$work/native.reg")
many_time=$1
set -- $(median 21 cat "$fresh/system.reg")
cat_time=$1
echo "HKEY_LOCAL_MACHINE\\Software: native ${many_time}s, cat system.reg ${cat_time}s: $(ratio "$many_time" "$cat_time")x cat (medians of 21)"
echo "system.reg $size bytes; native ${native_time}s (${native_kib} KiB peak); Windows build under wine64 ${exe_time}s; wine64 reg export ${reg_time}s"
echo "wine64 reg export with no wineserver running: ${cold_reg_time}s"
echo "native is $(ratio "$reg_time" "$native_time")x faster than reg export on a warm wineserver, $(ratio "$cold_reg_time" "$native_time")x on a cold one, $(ratio "$exe_time" "$native_time")x faster than the Windows build"

echo "== synthetic prefixes: HKEY_CURRENT_USER\\Software\\Bench"
previous=
for keys in $sizes; do
    prefix=$work/p$keys
    if [ -n "${BENCH_PREFIXES:-}" ] && [ -f "$BENCH_PREFIXES/p$keys/user.reg" ]; then
        prefix=$BENCH_PREFIXES/p$keys
    else
        "$root/build/generate_prefix" "$prefix" "$keys"
        # The generated file's write-back would otherwise run during the export and be timed with it.
        sync "$prefix/user.reg"
    fi
    size=$(wc -c <"$prefix/user.reg")
    # The yardsticks, timed in the same run: reading the file line by line and copying it.
    set -- $(median 3 wc -l "$prefix/user.reg")
    wc_time=$1
    set -- $(median 3 cp "$prefix/user.reg" "$work/copy.reg")
    cp_time=$1
    rm -f "$work/copy.reg"
    leaf="HKEY_CURRENT_USER\\Software\\Bench\\Group $((keys / 20000))\\Part $((keys / 200 % 100))\\Key $((keys / 2))"
    set -- $(WINEPREFIX=$prefix median 3 "$tool" "$leaf" "$work/leaf.reg")
    leaf_time=$1 leaf_kib=$2
    grep -q '^"Count"' "$work/leaf.reg" || echo "warning: the leaf key $leaf was not found"
    echo "$keys keys, one key: ${leaf_time}s = $(ratio "$leaf_time" "$wc_time")x wc -l (${wc_time}s), peak $(ratio2 $((leaf_kib * 1024)) "$size")x the file"
    # The median of three runs: one run alone swings with the machine's other work.
    for run in 1 2 3; do
        rm -f "$work/out.reg"
        WINEPREFIX=$prefix measure "$tool" 'HKEY_CURRENT_USER\Software\Bench' "$work/out.reg"
    done >"$work/runs"
    set -- $(sort -n "$work/runs" | sed -n 2p)
    seconds=$1 kib=$2
    mb_per_s=$(awk -v s="$size" -v t="$seconds" 'BEGIN { printf "%.0f", s / 1e6 / (t > 0 ? t : 1e-9) }')
    memory=$(awk -v k="$kib" -v s="$size" 'BEGIN { printf "%.2f", k * 1024 / s }')
    line="$keys keys: user.reg $size bytes, native ${seconds}s = $(ratio "$seconds" "$cp_time")x cp (${cp_time}s), ${mb_per_s} MB/s, peak ${kib} KiB = ${memory}x the file"
    if [ -n "$previous" ]; then
        line="$line, time x$(ratio "$seconds" "$previous") for x10 keys"
    fi
    echo "$line"
    previous=$seconds
    rm -rf "$work/p$keys" "$work/out.reg" "$work/leaf.reg"
done

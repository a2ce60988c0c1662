#!/usr/bin/env bash
# The Windows build under load, under wine64: churn.exe (compiled here with
# MinGW) adds, changes and deletes keys and values below the exported key for
# HIVEDUMP_LOAD_SECONDS (30) seconds, while the build exports that key again
# and again. Every export must end within its timeout with status 0 and
# nothing on either output, and its file must pass check_export (it parses,
# and every value in it is whole).
#
#   run.sh PATH/TO/hivedump.exe PATH/TO/check_export
#
# Exit status: 0 passed, 1 failed, 77 wine64 or the MinGW compiler is missing
# or no program is given (an empty first argument).
# HIVEDUMP_E2E_KEEP=1 keeps the prefix and the files.

set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=../wine/prefix.sh
. "$here/../wine/prefix.sh"

if [ $# -ne 2 ]; then
    echo "usage: $0 PATH/TO/hivedump.exe PATH/TO/check_export" >&2
    exit 2
fi
hivedump_e2e_require "the load test" mingw
if [ -z "$1" ]; then
    echo "no Windows program given: skipping the load test"
    exit 77
fi
for file in "$1" "$2"; do
    if [ ! -f "$file" ]; then
        echo "no such program: $file" >&2
        exit 1
    fi
done
exe=$(readlink -f "$1")
checker=$(readlink -f "$2")
seconds=${HIVEDUMP_LOAD_SECONDS:-30}
# Far longer than an export of this key takes even under load; a hang ends here.
export_timeout=60
lang=C.UTF-8
code_page=1252
key_path='Software\HivedumpTest\Load'
key="HKEY_CURRENT_USER\\$key_path"

churn_pid=
hivedump_e2e_on_exit() {
    [ -n "$churn_pid" ] && kill "$churn_pid" 2>/dev/null
}
hivedump_e2e_workspace load

if ! x86_64-w64-mingw32-gcc -municode -O2 -Wall -Wextra -Werror -o "$work/churn.exe" "$here/churn.c" 2>"$work/cc.log"; then
    echo "FAIL: churn.c does not compile:"
    sed 's/^/    /' "$work/cc.log"
    exit 1
fi

# The prefix needs only the key the tests look for; churn makes the rest.
mkdir -p "$work/data"
printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\HivedumpTest]\r\n\r\n' >"$work/data/base.reg"
prefix=$(hivedump_prefix_create "$lang" "$work/data") || { echo "FAIL: could not set up a Wine prefix"; exit 1; }
prefix_of[$lang]=$prefix

mkdir -p "$work/out"
out_windows=$(_hivedump_windows_path "$work/out")

hivedump_prefix_run "$prefix" "$work/churn.exe" "$key_path" "$seconds" >"$work/churn.out" 2>"$work/churn.err" </dev/null &
churn_pid=$!
# Exports start once churn has made the key; an export of a missing key proves little.
# churn and these queries start side by side: the prefix's wineserver, up since
# the prefix was made, is the one both reach.
made=0
for _ in $(seq 100); do
    if hivedump_prefix_run "$prefix" reg query "$key" >>"$prefix/.hivedump-log" 2>&1 </dev/null; then
        made=1
        break
    fi
    kill -0 "$churn_pid" 2>/dev/null || break
    sleep 0.1
done
if [ "$made" = 0 ]; then
    wait "$churn_pid"
    echo "FAIL: churn did not make $key (churn: status $?, $(head -c 300 "$work/churn.err"))"
    churn_pid=
    exit 1
fi

exports=0
failures=0
keys_seen=0
values_seen=0
largest=0
fail() {
    failures=$((failures + 1))
    echo "FAIL export $exports: $1"
    # The first few failing files are kept for a look.
    [ "$failures" -le 3 ] && cp "$work/out/out.reg" "$work/failed-$exports.reg" 2>/dev/null
}
start=$(date +%s)
while kill -0 "$churn_pid" 2>/dev/null; do
    exports=$((exports + 1))
    rm -f "$work/out/out.reg"
    hivedump_launch "$work/stdout" "$work/stderr" \
        _hivedump_env "$prefix" timeout "$export_timeout" "$HIVEDUMP_WINE64" "$exe" "$key" "$out_windows\\out.reg"
    status=$?
    if [ "$status" = 124 ]; then
        fail "no end within $export_timeout s"
        continue
    fi
    if [ "$status" != 0 ]; then
        fail "exit status $status; standard output: $(head -c 200 "$work/stdout" | tr '\r\n' '  '); standard error: $(head -c 300 "$work/stderr" | tr '\r\n' '  ')"
        continue
    fi
    if [ -s "$work/stdout" ] || [ -s "$work/stderr" ]; then
        fail "output: $(cat "$work/stdout" "$work/stderr" | head -c 200 | tr '\r\n' '  ')"
        continue
    fi
    if ! result=$("$checker" "$work/out/out.reg" "$code_page" "$key"); then
        fail "$result"
        continue
    fi
    read -r k _ v _ <<<"$result"
    keys_seen=$((keys_seen + k))
    values_seen=$((values_seen + v))
    size=$(stat -c %s "$work/out/out.reg")
    [ "$size" -gt "$largest" ] && largest=$size
    [ "$failures" -ge 20 ] && break
done
elapsed=$(($(date +%s) - start))
wait "$churn_pid"
churn_status=$?
churn_pid=

echo "$exports exports in $elapsed s, $failures failed; $keys_seen keys and $values_seen values checked in all, largest file $largest bytes"
if [ -s "$work/churn.out" ]; then
    tr -d '\r' <"$work/churn.out"
else
    echo "churn printed no counts"
fi
if [ "$churn_status" != 0 ]; then
    echo "FAIL: churn ended with status $churn_status: $(head -c 300 "$work/churn.err")"
    failures=$((failures + 1))
fi
if [ "$exports" -lt 2 ]; then
    echo "FAIL: fewer than two exports ran while churn did"
    failures=$((failures + 1))
fi
[ "$failures" = 0 ] || exit 1
exit 0

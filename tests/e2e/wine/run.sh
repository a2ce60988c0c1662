#!/usr/bin/env bash
# End-to-end tests of the Windows program under Wine (a 32-bit one runs in
# Wine's WoW64, in the 32-bit view of the win64 prefixes).
#
#   run.sh PATH/TO/hivedump.exe [CASE...]
#
# Each directory cases/NAME holds one behaviour:
#   args            the arguments, one per line; a line OUT stands for C:\run\NAME\out.reg,
#                   ZOUT for the same file by its Unix path through drive Z:
#   stdout          the exact bytes expected on standard output (CRLF: the C runtime's text mode)
#   status          the expected exit status (-1 arrives as 255)
#   expected.reg    the exact bytes of the export file; without it (and without
#                   expected.prefix) the run must leave no file behind
#   expected.prefix the bytes the export file must begin with, for exports too large to pin
#   expected.suffix the bytes the export file must end with
#   expected.contains bytes that must appear somewhere in the export file
#   outfile         the export file's name in the run directory, when it is not out.reg
#   existing        copied to the export file's place first, to see it truncated
#   lang            the locale of the run (default C.UTF-8, code page 1252)
#   view            the value of HIVEDUMP_VIEW for the run (unset without it)
# Nothing may appear on standard error.
#
# One prefix per locale is booted and loaded with data/*.reg and data/LOCALE/*.reg, then every
# case of that locale runs in it from its own empty directory C:\run\NAME.
# Exit status: 0 all passed, 1 a case failed, 77 wine64 is not installed or no
# program is given (an empty argument): skipped.
# HIVEDUMP_E2E_KEEP=1 keeps the prefixes and the captured output for a look afterwards.

set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=prefix.sh
. "$here/prefix.sh"

if [ $# -lt 1 ]; then
    echo "usage: $0 PATH/TO/hivedump.exe [CASE...]" >&2
    exit 2
fi
hivedump_e2e_require "the Wine end-to-end tests"
hivedump_e2e_program "$1"
exe=$hivedump_exe
shift

default_lang=C.UTF-8
start=$(date +%s)

if [ $# -gt 0 ]; then
    cases=("$@")
else
    cases=()
    for dir in "$here"/cases/*/; do
        cases+=("$(basename "$dir")")
    done
fi

case_lang() {
    if [ -f "$here/cases/$1/lang" ]; then
        head -n 1 "$here/cases/$1/lang"
    else
        echo "$default_lang"
    fi
}

hivedump_e2e_workspace e2e

langs=$(for name in "${cases[@]}"; do case_lang "$name"; done | sort -u)
# Wine falls back to code page 1252 for a locale that is not generated, which would
# turn every case of that locale into a puzzling byte difference.
for lang in $langs; do
    if [ -n "$(LC_ALL=$lang locale 2>&1 >/dev/null)" ]; then
        echo "FAIL: locale $lang is not generated (localedef -i ${lang%%.*} -f UTF-8 $lang)"
        exit 1
    fi
done

# Booting a prefix takes tens of seconds; the locales boot side by side.
# shellcheck disable=SC2086
if ! hivedump_prefix_create_each "$here/data" "$work" $langs; then
    echo "FAIL: could not set up a Wine prefix"
    exit 1
fi
echo "prefixes ready after $(($(date +%s) - start)) s"

# Shows bytes so that CR, LF, a missing last line end and bytes above 0x7F stand out.
show() {
    cat -A "$1"
}

show_diff() {
    local what=$1 expected=$2 actual=$3
    echo "  $what differs (- expected, + actual; ^M is CR, \$ is LF, M-x is a byte above 0x7F):"
    diff -u <(show "$expected") <(show "$actual") | tail -n +3 | head -n 60 | sed 's/^/    /'
}

run_case() {
    local name=$1 dir=$here/cases/$1 lang prefix rundir out_name out winrun
    local -a args=()
    local problems=() contains_failed=0
    if [ ! -d "$dir" ]; then
        echo "FAIL $name: no such case"
        return 1
    fi
    lang=$(case_lang "$name")
    prefix=${prefix_of[$lang]}
    rundir=$prefix/drive_c/run/$name
    rm -rf "$rundir"
    mkdir -p "$rundir"
    winrun="C:\\run\\$name"
    out_name=out.reg
    [ -f "$dir/outfile" ] && out_name=$(head -n 1 "$dir/outfile")
    out=$rundir/$out_name
    [ -f "$dir/existing" ] && cp "$dir/existing" "$out"

    if [ -f "$dir/args" ]; then
        local line
        while IFS= read -r line || [ -n "$line" ]; do
            case $line in
                OUT) line="$winrun\\out.reg" ;;
                ZOUT) line=$(_hivedump_windows_path "$rundir/out.reg") ;;
            esac
            args+=("$line")
        done <"$dir/args"
    fi

    local result=$work/$name
    mkdir -p "$result"
    local status
    # A runaway walk must not hang the whole run.
    local -a view=()
    [ -f "$dir/view" ] && view=(env "HIVEDUMP_VIEW=$(head -n 1 "$dir/view")")
    (cd "$rundir" && hivedump_launch "$result/stdout" "$result/stderr" \
        _hivedump_env "$prefix" "${view[@]}" timeout 120 "$HIVEDUMP_WINE64" "$exe" "${args[@]}")
    status=$?

    local expected_status
    expected_status=$(cat "$dir/status" 2>/dev/null || echo 0)
    [ "$status" = "$expected_status" ] ||
        problems+=("exit status $status, expected $expected_status")

    if ! cmp -s "$dir/stdout" "$result/stdout"; then
        problems+=("standard output differs")
    fi
    if [ -s "$result/stderr" ]; then
        problems+=("standard error is not empty")
    fi

    # The run directory must hold the export file and nothing else, or nothing at all.
    local expect_file=0
    [ -f "$dir/expected.reg" ] || [ -f "$dir/expected.prefix" ] || [ -f "$dir/expected.suffix" ] ||
        [ -f "$dir/expected.contains" ] || [ -f "$dir/existing" ] && expect_file=1
    local left
    left=$(cd "$rundir" && find . -mindepth 1 -maxdepth 1 -printf '%P\n' | sort)
    if [ "$expect_file" = 1 ]; then
        [ "$left" = "$out_name" ] || problems+=("run directory holds [${left//$'\n'/, }], expected [$out_name]")
    else
        [ -z "$left" ] || problems+=("run directory holds [${left//$'\n'/, }], expected no file")
    fi

    if [ -f "$dir/expected.reg" ] && [ -f "$out" ]; then
        cmp -s "$dir/expected.reg" "$out" || problems+=("export file differs")
    fi
    if [ -f "$dir/expected.prefix" ] && [ -f "$out" ]; then
        local size
        size=$(stat -c %s "$dir/expected.prefix")
        head -c "$size" "$out" >"$result/out.prefix"
        cmp -s "$dir/expected.prefix" "$result/out.prefix" || problems+=("export file does not begin as expected")
    fi
    if [ -f "$dir/expected.suffix" ] && [ -f "$out" ]; then
        tail -c "$(stat -c %s "$dir/expected.suffix")" "$out" >"$result/out.suffix"
        cmp -s "$dir/expected.suffix" "$result/out.suffix" || problems+=("export file does not end as expected")
    fi
    if [ -f "$dir/expected.contains" ] && [ -f "$out" ]; then
        # Export files hold no zero bytes, so shell strings carry them whole.
        local content needle
        content=$(cat "$out"; echo .)
        needle=$(cat "$dir/expected.contains"; echo .)
        [[ $content == *"${needle%.}"* ]] || {
            problems+=("export file lacks the bytes of expected.contains")
            contains_failed=1
        }
    fi

    if [ ${#problems[@]} -eq 0 ]; then
        echo "ok   $name"
        return 0
    fi
    echo "FAIL $name (LANG=$lang): hivedump ${args[*]}"
    local problem
    for problem in "${problems[@]}"; do
        echo "  $problem"
    done
    cmp -s "$dir/stdout" "$result/stdout" || show_diff "standard output" "$dir/stdout" "$result/stdout"
    if [ -s "$result/stderr" ]; then
        echo "  standard error:"
        head -n 20 "$result/stderr" | sed 's/^/    /'
    fi
    if [ -f "$dir/expected.reg" ] && [ -f "$out" ] && ! cmp -s "$dir/expected.reg" "$out"; then
        show_diff "export file" "$dir/expected.reg" "$out"
    fi
    if [ -f "$dir/expected.prefix" ] && [ -f "$out" ] && ! cmp -s "$dir/expected.prefix" "$result/out.prefix"; then
        show_diff "start of the export file" "$dir/expected.prefix" "$result/out.prefix"
    fi
    if [ -f "$dir/expected.suffix" ] && [ -f "$out" ] && ! cmp -s "$dir/expected.suffix" "$result/out.suffix"; then
        show_diff "end of the export file" "$dir/expected.suffix" "$result/out.suffix"
    fi
    if [ "$contains_failed" = 1 ]; then
        echo "  expected somewhere in the export file:"
        show "$dir/expected.contains" | head -n 20 | sed 's/^/    /'
    fi
    return 1
}

failed=()
for name in "${cases[@]}"; do
    run_case "$name" || failed+=("$name")
done

echo "${#cases[@]} cases, $((${#cases[@]} - ${#failed[@]})) passed, ${#failed[@]} failed, $(($(date +%s) - start)) s"
if [ ${#failed[@]} -gt 0 ]; then
    echo "failed: ${failed[*]}"
    exit 1
fi
exit 0

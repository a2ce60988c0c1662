#!/usr/bin/env bash
# Round trip of the Windows program under Wine: export a key, delete it, import
# the export with `regedit /s`, export again.
#
#   run.sh PATH/TO/hivedump.exe
#
# data/*.utf8.reg are imported in every locale, data/LOCALE/*.utf8.reg in that
# one; they are UTF-8 for reading and go to regedit as UTF-16 (version 5
# files), which can hold any character whatever the code page. Each key
# directly below HKEY_CURRENT_USER\Software\HivedumpTest\RoundTrip is a case.
#
# Most cases must come back whole: the two exports byte-identical, and the
# registry below the key (listed through the wide API by regbytes.c, every
# byte of every value) the same after as before.
#
# A case with data/expected/LOCALE/KEY.first.reg is one the format cannot
# carry back; its data file says why. Then the first export must equal
# KEY.first.reg, the second KEY.second.reg, and the registry after the import
# KEY.registry, exactly; KEY.first.stdout and KEY.second.stdout, where they
# exist, hold what each export says of the keys it left out (status 255).
#
# HIVEDUMP_ROUNDTRIP_RECORD=1 rewrites those three files from the run, for a
# careful look with git diff afterwards.
#
# Exit status: 0 all passed, 1 a case failed, 77 wine64 or the MinGW compiler
# is missing or no program is given (an empty argument): skipped.
# HIVEDUMP_E2E_KEEP=1 keeps the prefixes and the files.

set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=../wine/prefix.sh
. "$here/../wine/prefix.sh"

if [ $# -ne 1 ]; then
    echo "usage: $0 PATH/TO/hivedump.exe" >&2
    exit 2
fi
hivedump_e2e_require "the round trip" mingw
hivedump_e2e_program "$1"
exe=$hivedump_exe

langs="C.UTF-8 ja_JP.UTF-8"
root_path='Software\HivedumpTest\RoundTrip'
root="HKEY_CURRENT_USER\\$root_path"
start=$(date +%s)

for lang in $langs; do
    if [ -n "$(LC_ALL=$lang locale 2>&1 >/dev/null)" ]; then
        echo "FAIL: locale $lang is not generated (scripts/locales.sh)"
        exit 1
    fi
done

hivedump_e2e_workspace roundtrip

regbytes=$work/regbytes.exe
if ! x86_64-w64-mingw32-gcc -municode -O2 -Wall -Wextra -Werror -o "$regbytes" "$here/regbytes.c" 2>"$work/cc.log"; then
    echo "FAIL: regbytes.c does not compile:"
    sed 's/^/    /' "$work/cc.log"
    exit 1
fi

to_utf16() {
    { printf '\377\376'; sed 's/$/\r/' "$1" | iconv -f UTF-8 -t UTF-16LE; } >"$2"
}

for lang in $langs; do
    mkdir -p "$work/data/$lang" "$work/$lang"
    for file in "$here"/data/*.utf8.reg "$here/data/$lang"/*.utf8.reg; do
        [ -f "$file" ] || continue
        name=$(basename "$file" .utf8.reg)
        [ "$(dirname "$file")" = "$here/data" ] && name=common-$name
        to_utf16 "$file" "$work/data/$lang/$name.reg" || exit 1
    done
done

# Booting a prefix takes a while; the locales boot side by side.
# shellcheck disable=SC2086
if ! hivedump_prefix_create_each "$work/data" "$work" $langs; then
    echo "FAIL: could not set up a Wine prefix"
    exit 1
fi

failed=()
note_failure() {
    echo "FAIL $1: $2"
    failed+=("$1")
}

# The names no .reg file can hold (data/line_break_names.txt).
add_line_break_names() {
    local prefix=$1 line subkey name data key
    # Wine reads standard input: the list comes on another descriptor.
    while IFS= read -r -u 3 line; do
        case $line in '#'* | '') continue ;; esac
        IFS='|' read -r subkey name data <<<"$line"
        key="$root\\LineBreakNames"
        if [ -n "$subkey" ]; then
            subkey=$(printf '%b.' "$subkey")
            key="$key\\${subkey%.}"
        fi
        name=$(printf '%b.' "$name")
        if ! hivedump_prefix_call "$prefix" reg add "$key" /v "${name%.}" /t REG_SZ /d "$data" /f \
            >>"$prefix/.hivedump-log"; then
            echo "FAIL $lang: reg add of a line break name did not succeed (why: above)"
            return 1
        fi
    done 3<"$here/data/line_break_names.txt"
}

# Shows bytes so that CR, LF and bytes above 0x7F stand out.
show_diff() {
    local what=$1 expected=$2 actual=$3
    echo "  $what differs (- expected, + actual; ^M is CR, \$ is LF, M-x a byte above 0x7F):"
    diff -u <(cat -A "$expected") <(cat -A "$actual") | tail -n +3 | head -n 40 | cut -c 1-160 | sed 's/^/    /'
}

# Exports KEY into FILE (a Unix path): status 0 and nothing on either output,
# or, for the first export of the key with a line break in a subkey's name,
# status 255 and the line that says that subkey was left out; likewise when
# SAID names a file: the lines it holds, for subkeys whose names the code
# page cannot hold.
export_key() {
    local prefix=$1 key=$2 file=$3 label=$4 said=${5:-} status want_status=0 want_stdout=
    if [ -n "$said" ] && [ -f "$said" ]; then
        want_status=255
        want_stdout=$(cat "$said")
    fi
    # The key left out is not there to leave out again after the import.
    case $key:$(basename "$file") in
    *\\LineBreakNames:first.reg)
        want_status=255
        want_stdout=$(printf "can't export key [%s\\\\Key with\\\\na line feed]\r" "$key")
        ;;
    esac
    rm -f "$file"
    hivedump_launch "$file.stdout" "$file.stderr" \
        _hivedump_env "$prefix" timeout 120 "$HIVEDUMP_WINE64" "$exe" "$key" "$(_hivedump_windows_path "$file")"
    status=$?
    if [ "$status" != "$want_status" ] || [ "$(cat "$file.stdout")" != "$want_stdout" ] || [ -s "$file.stderr" ] || [ ! -f "$file" ]; then
        note_failure "$label" "export of $key: status $status, output: $(cat "$file.stdout" "$file.stderr" | head -c 300 | tr '\r\n' '  ')"
        return 1
    fi
}

list_registry() {
    local prefix=$1 path=$2 file=$3
    rm -f "$file"
    hivedump_prefix_call "$prefix" "$regbytes" "$path" "$(_hivedump_windows_path "$(dirname "$file")")\\$(basename "$file")" \
        >>"$prefix/.hivedump-log" </dev/null || echo "! regbytes failed (why: above)" >>"$file"
}

run_case() {
    local lang=$1 key=$2 prefix=${prefix_of[$1]}
    local label="$lang $key" dir=$work/$lang/$key expected=$here/data/expected/$lang
    local path="$root_path\\$key" full="$root\\$key"
    mkdir -p "$dir"
    local problems=0

    list_registry "$prefix" "$path" "$dir/before.registry"
    if ! grep -q '^"' "$dir/before.registry" || grep -q '^!' "$dir/before.registry"; then
        note_failure "$label" "the test data did not import whole: $(grep -m 1 '^!' "$dir/before.registry")"
        return 1
    fi
    export_key "$prefix" "$full" "$dir/first.reg" "$label" "$expected/$key.first.stdout" || return 1
    if ! hivedump_prefix_call "$prefix" reg delete "$full" /f >>"$prefix/.hivedump-log"; then
        note_failure "$label" "reg delete did not succeed (why: above)"
        return 1
    fi
    if hivedump_prefix_run "$prefix" reg query "$full" >>"$prefix/.hivedump-log" 2>&1; then
        note_failure "$label" "the key is still there after reg delete"
        return 1
    fi
    if ! hivedump_prefix_call "$prefix" regedit /s "$(_hivedump_windows_path "$dir/first.reg")" >>"$prefix/.hivedump-log"; then
        note_failure "$label" "regedit /s did not succeed (why: above)"
        return 1
    fi
    export_key "$prefix" "$full" "$dir/second.reg" "$label" "$expected/$key.second.stdout" || return 1
    list_registry "$prefix" "$path" "$dir/after.registry"
    if [ "$key" = LineBreakNames ]; then
        # No value name of data/line_break_names.txt may reach out of the exported key.
        # Without a default value reg query fails: nothing to report then.
        if hivedump_prefix_run "$prefix" reg query HKEY_CURRENT_USER /ve 2>>"$prefix/.hivedump-log" | grep -q 706C616E746564; then
            echo "FAIL $label: the import set the default value of HKEY_CURRENT_USER"
            problems=1
        fi
        hivedump_prefix_run "$prefix" reg delete HKEY_CURRENT_USER /ve /f >>"$prefix/.hivedump-log" 2>&1
    fi

    if [ "${HIVEDUMP_ROUNDTRIP_RECORD:-0}" = 1 ] && [ -f "$expected/$key.first.reg" ]; then
        cp "$dir/first.reg" "$expected/$key.first.reg"
        cp "$dir/second.reg" "$expected/$key.second.reg"
        cp "$dir/after.registry" "$expected/$key.registry"
    fi
    if [ -f "$expected/$key.first.reg" ]; then
        local part
        for part in first.reg second.reg registry; do
            local want=$expected/$key.$part actual=$dir/${part/registry/after.registry}
            if ! cmp -s "$want" "$actual"; then
                echo "FAIL $label: $part differs from data/expected/$lang/$key.$part"
                show_diff "$part" "$want" "$actual"
                problems=1
            fi
        done
    else
        if ! cmp -s "$dir/first.reg" "$dir/second.reg"; then
            echo "FAIL $label: the second export differs from the first"
            show_diff "second export" "$dir/first.reg" "$dir/second.reg"
            problems=1
        fi
        if ! cmp -s "$dir/before.registry" "$dir/after.registry"; then
            echo "FAIL $label: the registry after the round trip differs from before"
            show_diff "registry" "$dir/before.registry" "$dir/after.registry"
            problems=1
        fi
    fi
    if [ "$problems" = 0 ]; then
        echo "ok   $label ($(grep -c '^"' "$dir/before.registry") values, $(grep -c '^\[' "$dir/before.registry") keys)"
        return 0
    fi
    failed+=("$label")
    return 1
}

count=0
for lang in $langs; do
    prefix=${prefix_of[$lang]}
    add_line_break_names "$prefix" || failed+=("$lang line break names")
    keys=$(hivedump_prefix_call "$prefix" reg query "$root" | tr -d '\r' | sed -n "s/^HKEY_CURRENT_USER\\\\Software\\\\HivedumpTest\\\\RoundTrip\\\\//p" | sort)
    if [ -z "$keys" ]; then
        note_failure "$lang" "no case keys below $root"
        continue
    fi
    while IFS= read -r -u 3 key; do
        count=$((count + 1))
        run_case "$lang" "$key"
    done 3<<<"$keys"
done

echo "$count cases, $((count - ${#failed[@]})) passed, ${#failed[@]} failed, $(($(date +%s) - start)) s"
if [ ${#failed[@]} -gt 0 ]; then
    echo "failed: ${failed[*]}"
    exit 1
fi
exit 0

#!/bin/bash
# Exports a key with names and text in many scripts under every locale
# setting of the recording (LC_ALL, LC_CTYPE, LANG as its rows give them),
# once with the Windows build under wine64 and once with the Linux tool, and
# compares the files byte for byte, the console output and the status. Run
# it again when Wine or the recording changes.
# usage: compare_locale_exports.sh WINDOWS_EXE LINUX_EXE [RECORDING]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
exe=$(readlink -f "$1")
native=$(readlink -f "$2")
recording=${3:-$here/locale_code_pages.tsv}
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
key='HKEY_CURRENT_USER\Software\HivedumpDiff'

work=$(mktemp -d)
prefix=$work/prefix
trap 'WINEPREFIX=$prefix $wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
export WINEDEBUG=-all

mkdir -p "$prefix"
LANG=C.UTF-8 WINEPREFIX=$prefix $wine wineboot -i >/dev/null 2>&1
WINEPREFIX=$prefix $wineserver -w
# The data holds names beyond ASCII: imported as UTF-16, whatever the code page.
data=$work/scripts.reg
{ printf '\377\376'; sed 's/$/\r/' "$here/../tests/e2e/differential/data/scripts.utf8.reg" | iconv -f UTF-8 -t UTF-16LE; } >"$data"
LANG=C.UTF-8 WINEPREFIX=$prefix $wine regedit /s "$data" >/dev/null 2>&1
WINEPREFIX=$prefix $wineserver -k
WINEPREFIX=$prefix $wineserver -w
# The Linux tool reads a copy: beside a running server it would say so first.
mkdir -p "$work/files"
cp "$prefix"/*.reg "$work/files/"
# One server for every run: none is left shutting down as the next starts.
WINEPREFIX=$prefix $wineserver -p >/dev/null 2>&1 </dev/null

# A row's "-" leaves the variable unset, an empty field sets it empty. env
# takes its options before the first assignment: the unset ones come first.
settings_of() { # LC_ALL LC_CTYPE LANG
    local names=(LC_ALL LC_CTYPE LANG) values=("$@") i
    for i in 0 1 2; do
        [ "${values[i]}" = - ] && printf -- '-u\n%s\n' "${names[i]}"
    done
    for i in 0 1 2; do
        [ "${values[i]}" = - ] || printf '%s=%s\n' "${names[i]}" "${values[i]}"
    done
}

settings=0
differ=0
while IFS=$'\t' read -r lc_all lc_ctype lang _; do
    mapfile -t vars < <(settings_of "$lc_all" "$lc_ctype" "$lang")
    settings=$((settings + 1))
    rm -f "$work"/out-*
    status_wine=0
    env -u LANGUAGE -u LC_MESSAGES "${vars[@]}" WINEPREFIX="$prefix" $wine "$exe" "$key" 'Z:'"${work//\//\\}"'\out-wine.reg' \
        >"$work/out-wine.stdout" 2>/dev/null </dev/null || status_wine=$?
    status_native=0
    env -u LANGUAGE -u LC_MESSAGES "${vars[@]}" WINEPREFIX="$work/files" "$native" "$key" "$work/out-native.reg" \
        >"$work/out-native.stdout" 2>/dev/null </dev/null || status_native=$?
    # The console's lines end in CR LF on Windows, in LF here.
    tr -d '\r' <"$work/out-wine.stdout" >"$work/out-wine.lines"
    if [ "$status_wine" != "$status_native" ] || ! cmp -s "$work/out-wine.lines" "$work/out-native.stdout" ||
        ! cmp -s "$work/out-wine.reg" "$work/out-native.reg"; then
        differ=$((differ + 1))
        echo "DIFFER LC_ALL=$lc_all LC_CTYPE=$lc_ctype LANG=$lang: status $status_wine/$status_native"
        diff <(cat "$work/out-wine.lines" "$work/out-wine.reg") <(cat "$work/out-native.stdout" "$work/out-native.reg") | head -n 6 || true
    fi
done < <(grep -v '^#' "$recording" | cut -f1-3 | sort -u)
echo "$settings locale settings, $differ differ"
[ "$differ" = 0 ]

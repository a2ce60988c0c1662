#!/bin/sh
# Regenerates every generated file of the repository into a temporary
# directory: what measures Wine runs under wine64 in a prefix of its own.
# With --check it compares them with the committed files, names each that
# differs and exits 1 if any does; without, it writes them over the committed
# ones. Exit status 77: wine64, the MinGW compiler or python3 is missing.
#
# Not regenerated: tools/locale_code_pages.tsv, the recording of how Wine
# takes the locale, which record_locale_code_pages.sh makes by generating
# system locales as root; what it gives depends on which were there before.
#
# usage: tools/regenerate.sh [--check]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
check=no
case ${1-} in
--check) check=yes ;;
"") ;;
*)
    echo "usage: $0 [--check]" >&2
    exit 2
    ;;
esac

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
for tool in "$wine" "$wineserver" "$(command -v x86_64-w64-mingw32-gcc || true)" "$(command -v python3 || true)"; do
    if [ -z "$tool" ] || [ ! -x "$tool" ]; then
        echo "wine64, x86_64-w64-mingw32-gcc or python3 missing: nothing regenerated"
        exit 77
    fi
done

work=$(mktemp -d)
out=$work/out
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
trap '$wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$WINEPREFIX" "$out/src/wine/codepages" "$out/tools" "$out/tests/data/wine/forms" "$work/dumps"

# A Unix path as a Win32 program under Wine opens it.
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }

for program in codepage_dump registry_dump; do
    x86_64-w64-mingw32-gcc -O2 -o "$work/$program.exe" "$root/tools/$program.c"
done
LANG=C.UTF-8 $wine wineboot -i >/dev/null 2>&1
$wineserver -w

# The code pages: what Wine turns each UTF-16 unit into, and what it makes of
# the bytes where reading that table backwards gives another answer.
code_pages=$(cd "$root/tools" && python3 -c 'import wine_code_page_gen; print(*wine_code_page_gen.CODE_PAGES)')
for code_page in $code_pages; do
    $wine "$work/codepage_dump.exe" table "$code_page" "$(windows_path "$out/src/wine/codepages/$code_page.bin")"
    $wine "$work/codepage_dump.exe" bytes "$code_page" "$(windows_path "$work/dumps/cp_$code_page.txt")"
done
python3 "$root/tools/wine_code_page_gen.py" "$work/dumps" "$out/src/wine/codepages" "$out/src/wine/byte_conversions.cpp"

# Wine's locales and the Linux tool's table of their code pages.
"$root/tools/record_locale_code_pages.sh" --wine-locales "$out/tools/wine_locales.tsv"
python3 "$root/tools/wine_locale_table_gen.py" "$out/tools/wine_locales.tsv" "$out/src/wine/locale_code_pages.inc"

python3 "$root/tools/case_table_gen.py" "$out/src/wine/case_data.inc"

# What the A functions show of the registry file of every form, in the two
# code pages of the unit test; the prefix's user.reg is that file each time.
$wineserver -w
for run in 1252:en_US.UTF-8 932:ja_JP.UTF-8; do
    cp "$root/tests/data/wine/forms/user.reg" "$WINEPREFIX/user.reg"
    env LANG="${run#*:}" LC_ALL="${run#*:}" $wine "$work/registry_dump.exe" 2>/dev/null | tr -d '\r' \
        >"$out/tests/data/wine/forms/expected_${run%%:*}.txt"
    $wineserver -w
done

# The hostile cases too big for git: their expected exports are pinned by
# checksum. One case's files at a time, some are 100 MB.
for case_dir in "$root"/tests/hostile/cases/*/; do
    [ -f "$case_dir/generate" ] || continue
    name=$(basename "$case_dir")
    rm -rf "$work/hostile"
    mkdir -p "$work/hostile/prefix" "$out/tests/hostile/cases/$name"
    python3 "$root/tests/hostile/generate.py" "$(head -n 1 "$case_dir/generate")" "$work/hostile/prefix" "$work/hostile/expected.reg"
    sha256sum <"$work/hostile/expected.reg" | cut -d' ' -f1 >"$out/tests/hostile/cases/$name/expected.sha256"
done
rm -rf "$work/hostile"

differ=0
for file in $(cd "$out" && find . -type f | sed 's|^\./||' | sort); do
    if [ "$check" = yes ]; then
        if ! cmp -s "$out/$file" "$root/$file"; then
            echo "differs: $file"
            differ=$((differ + 1))
        fi
    else
        cp "$out/$file" "$root/$file"
    fi
done
# A table of a code page that is no longer generated.
for file in "$root"/src/wine/codepages/*.bin; do
    if [ ! -f "$out/src/wine/codepages/$(basename "$file")" ]; then
        echo "not generated: src/wine/codepages/$(basename "$file")"
        differ=$((differ + 1))
    fi
done
count=$(cd "$out" && find . -type f | wc -l)
if [ "$check" = yes ]; then
    echo "$count generated files, $differ differ"
else
    echo "$count generated files written"
fi
[ "$differ" = 0 ]

#!/bin/sh
# Records, under wine64, the ANSI code page Wine picks (GetACP) and how it
# hands a program its arguments, for the locales the C library can be given:
# every entry of the system's list of supported locales, by LC_ALL and by
# LANG, and combinations of LC_ALL, LC_CTYPE and LANG. Some of the locales are
# generated on the way (localedef, as root) and recorded before and after, as
# whether the C library can load a locale matters to Wine. Also lists Wine's
# own locales, from which the Linux tool's table of code pages is made; with
# --wine-locales only these, which change no locale of the system (in the
# booted prefix WINEPREFIX names, if it does).
# usage: record_locale_code_pages.sh RECORDING LOCALE_LIST
#        record_locale_code_pages.sh --wine-locales LOCALE_LIST
set -eu
if [ "$1" = --wine-locales ]; then
    recording=
else
    recording=$1
fi
locale_list=$2
here=$(cd "$(dirname "$0")" && pwd)
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
supported=/usr/share/i18n/SUPPORTED
work=$(mktemp -d)
# Wine's locales alone can be listed in a prefix the caller booted, left
# running as it was.
if [ -z "$recording" ] && [ -f "${WINEPREFIX:-/nonexistent}/system.reg" ]; then
    own_prefix=no
else
    own_prefix=yes
    export WINEPREFIX="$work/prefix"
fi
export WINEDEBUG=-all
trap '[ "$own_prefix" = no ] || $wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT

x86_64-w64-mingw32-gcc -O2 -o "$work/acp_probe.exe" "$here/acp_probe.c"
# Whether the C library loads LC_CTYPE from the environment, and its
# character set then.
printf '%s\n' '#include <langinfo.h>' '#include <locale.h>' '#include <stdio.h>' \
    'int main(void) { int loads = setlocale(LC_CTYPE, "") != NULL;' \
    'printf("%s %s\n", loads ? "yes" : "no", nl_langinfo(CODESET)); return 0; }' >"$work/loads.c"
cc -o "$work/loads" "$work/loads.c"
if [ "$own_prefix" = yes ]; then
    env -i HOME="$HOME" PATH=/usr/bin:/bin WINEPREFIX="$WINEPREFIX" WINEDEBUG=-all LANG=C.UTF-8 $wine wineboot -i >/dev/null 2>&1
    # One server for every run below: each starts in a fraction of a second.
    $wineserver -w
    $wineserver -p
fi

# Names of the list as the C library takes them: "en_US ISO-8859-1" is en_US.
names=$(grep -v '^#' "$supported" | awk 'NF == 2 { print $1 }')

# Wine's name for each locale of the list: language-Script-COUNTRY, the script
# from a modifier that names one. Some are aliases that no listing shows.
wine_names=$(for name in $names; do
    echo "$name" | sed -e 's/\.[^@]*//' -e 's/@latin$/@Latn/' -e 's/@cyrillic$/@Cyrl/' -e 's/@devanagari$/@Deva/' -e 's/@[a-z].*//' \
        -e 's/^\([^_@]*\)_\([^@]*\)@\(.*\)/\1-\3-\2/' -e 's/@/-/' -e 's/_/-/'
done | sort -u)
# shellcheck disable=SC2086
env -i HOME="$HOME" PATH=/usr/bin:/bin WINEPREFIX="$WINEPREFIX" WINEDEBUG=-all $wine "$work/acp_probe.exe" --locales $wine_names |
    tr -d '\r' | sort -u >"$locale_list"
[ -n "$recording" ] || exit 0

# The argument: ASCII, e acute, Cyrillic zhe and hiragana a in UTF-8, then a
# byte that is no UTF-8.
argument=$(printf 'A\303\251\320\226\343\201\202\377Z')

# One row: LC_ALL, LC_CTYPE, LANG ("-": unset), whether the C library loads
# LC_CTYPE from them, the character set it then has, GetACP, the argument.
record() { # lc_all lc_ctype lang
    set -- "$1" "$2" "$3"
    vars=
    [ "$1" = - ] || vars="$vars LC_ALL=$1"
    [ "$2" = - ] || vars="$vars LC_CTYPE=$2"
    [ "$3" = - ] || vars="$vars LANG=$3"
    # shellcheck disable=SC2086
    loads=$(env -i $vars "$work/loads")
    # shellcheck disable=SC2086
    result=
    for attempt in 1 2 3; do
        # shellcheck disable=SC2086
        result=$(env -i HOME="$HOME" PATH=/usr/bin:/bin WINEPREFIX="$WINEPREFIX" WINEDEBUG=-all $vars $wine "$work/acp_probe.exe" "$argument" | tr -d '\r')
        [ -z "$result" ] || break
    done
    printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$1" "$2" "$3" "${loads% *}" "${loads#* }" "$result" >>"$recording.new"
}

# Generated here: one of each kind of code page, and each character set.
sample='hi_IN.UTF-8 UTF-8
hy_AM ARMSCII-8
ka_GE GEORGIAN-PS
kk_KZ.UTF-8 UTF-8
zh_CN.UTF-8 UTF-8
zh_TW BIG5
ru_RU.UTF-8 UTF-8
ru_RU.KOI8-R KOI8-R
ja_JP.EUC-JP EUC-JP
ko_KR.EUC-KR EUC-KR
sr_RS@latin UTF-8
uz_UZ.UTF-8 UTF-8
az_AZ UTF-8
el_GR ISO-8859-7
th_TH TIS-620
he_IL ISO-8859-8
tr_TR ISO-8859-9
pl_PL ISO-8859-2
de_DE ISO-8859-1
ca_ES@valencia UTF-8
an_ES ISO-8859-15
ar_AE ISO-8859-6
be_BY CP1251
cy_GB ISO-8859-14
kk_KZ PT154
kk_KZ.RK1048 RK1048
lg_UG ISO-8859-10
lt_LT ISO-8859-13
mk_MK ISO-8859-5
mt_MT ISO-8859-3
ru_UA KOI8-U
tg_TJ KOI8-T
yi_US CP1255
zh_CN.GB18030 GB18030
zh_CN.GBK GBK
zh_CN GB2312
zh_HK BIG5-HKSCS
zh_TW.EUC-TW EUC-TW'
sample_names=$(echo "$sample" | awk '{ print $1 }')

printf '# Recorded by tools/record_locale_code_pages.sh; do not edit.\n' >"$recording.new"
printf '# LC_ALL\tLC_CTYPE\tLANG\tC library loads LC_CTYPE\tits character set\tGetACP\targument\n' >>"$recording.new"
printf '# argument given: %s\n' "$(printf '%s' "$argument" | od -An -tx1 | tr -d ' \n')" >>"$recording.new"
combinations() { # a b (a generated or not, b generated)
    record - - "$1"
    record - "$1" -
    record "$1" - -
    record - "$1" "$2"
    record - "$2" "$1"
    record "$1" "$2" "$2"
    record "$1" - "$2"
    record "" "$1" "$2"
    record "" "" "$1"
}
for name in $sample_names; do
    combinations "$name" ja_JP.UTF-8
done
echo "$sample" | while read -r name charset; do
    localedef -i "$(echo "$name" | sed 's/\.[^@]*//')" -f "$charset" "$name" 2>/dev/null || true
done
for name in $sample_names; do
    combinations "$name" ja_JP.UTF-8
done
for name in $names; do
    record "$name" - -
    record - - "$name"
done
# Names not in the list: a language alone, a modifier Wine reads or ignores,
# a country a language has no locale for, no codeset.
for name in C POSIX C.UTF-8 ja zh en ru sr uz az kk hy ka hi ks sd pa sr@latin sr@cyrillic uz@cyrillic uz@latin \
    az@cyrillic be@latin sd@devanagari ks@devanagari en@euro de_DE@euro en_US.UTF-8@euro ja_US ru_US zh_DE pa_PK \
    ru_UA xx_YY zh_SG zh_MO zh_CN.GB2312 ja_JP.SJIS de sr_RS@cyrillic sr_ME@latin tt_RU@iqtelif aa_ER@saaho \
    ber_MA@abegede ca_ES@valencia sd_IN@devanagari ks_IN@devanagari ug_CN@latin; do
    record "$name" - -
done
mv "$recording.new" "$recording"

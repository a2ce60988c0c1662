#!/bin/sh
# Exports the same keys with the Windows build under wine64 and with the Linux
# tool from the prefix's files, and compares the bytes: the 64-bit build with
# the Linux tool in the 64-bit view, and, given the 32-bit program, that one
# with the Linux tool in its own view, the 32-bit program's, on 64-bit
# prefixes and on a 32-bit one.
# usage: run.sh WINDOWS_EXE_64 LINUX_EXE [WINDOWS_EXE_32]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../wine/launch.sh
. "$here/../wine/launch.sh"
exe64=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
exe=$exe64
native=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
exe32=
if [ -n "${3:-}" ]; then
    exe32=$(cd "$(dirname "$3")" && pwd)/$(basename "$3")
fi
# The view the Linux tool is asked for, as HIVEDUMP_VIEW: 64 beside the
# 64-bit build, unset (its own) beside the 32-bit program.
view=64
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
[ -x "$wine" ] && [ -f "$exe" ] || { echo "wine64 or $exe missing: skipped"; exit 77; }
command -v python3 >/dev/null || { echo "python3 missing: skipped"; exit 77; }

work=$(mktemp -d)
export WINEDEBUG=-all
cleanup() {
    status=$?
    # A step that stops the script under set -e would otherwise end it without a word.
    [ "$status" = 0 ] || echo "differential: stopped with status $status"
    for prefix in "$work"/prefix-*; do
        [ -d "$prefix" ] && WINEPREFIX=$prefix $wineserver -k 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
prefix_kind=
keys_for_data='HKEY_CURRENT_USER
HKEY_CURRENT_USER\Software\HivedumpDiff
HKEY_CURRENT_USER\software\hivedumpdiff\Links
HKEY_CURRENT_USER\Software\HivedumpDiff\Unicode
HKEY_LOCAL_MACHINE\Software
HKEY_LOCAL_MACHINE\System
HKEY_USERS\.Default
HKEY_USERS
HKEY_CLASSES_ROOT
HKEY_CLASSES_ROOT\CLSID
HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\Time Zones
HKEY_LOCAL_MACHINE\Software\Wow6432Node\Classes'

# Runs a Windows program in a prefix; when it fails, Wine's exit status and
# standard error are shown and the run ends.
wine_step() { # prefix lang program args...
    step_prefix=$1
    step_lang=$2
    shift 2
    step_status=0
    LANG=$step_lang WINEPREFIX=$step_prefix $wine "$@" >/dev/null 2>"$work/step.stderr" || step_status=$?
    if [ "$step_status" != 0 ]; then
        echo "FAIL [$step_lang] $(basename "$wine") $*: exit status $step_status; standard error:"
        head -n 20 "$work/step.stderr" | sed 's/^/    /'
        exit 1
    fi
}

# A booted prefix whose wineserver has ended: the boot is over and saved.
boot_prefix() { # prefix lang
    mkdir -p "$1"
    wine_step "$1" "$2" wineboot -i
    WINEPREFIX=$1 $wineserver -w
}

make_prefix() { # name lang
    prefix=$work/prefix-$1
    boot_prefix "$prefix" "$2"
    # One server for all the imports: a server left to end by itself a few
    # seconds after each program could be going away as the next one starts.
    WINEPREFIX=$prefix $wineserver -p >/dev/null 2>&1 </dev/null
    for data in "$here"/data/*.reg; do
        case $data in
        *.utf8.reg)
            # Names beyond ASCII travel as UTF-16, whatever the code page.
            converted=$work/$(basename "$data" .utf8.reg).reg
            { printf '\377\376'; sed 's/$/\r/' "$data" | iconv -f UTF-8 -t UTF-16LE; } >"$converted"
            wine_step "$prefix" "$2" regedit /s "$converted"
            ;;
        *) wine_step "$prefix" "$2" regedit /s "$data" ;;
        esac
    done
    # -k saves the registry before the server ends.
    WINEPREFIX=$prefix $wineserver -k || {
        echo "FAIL [$2]: the wineserver of the imports was gone before it was stopped"
        exit 1
    }
    WINEPREFIX=$prefix $wineserver -w
    # Links cannot be made through regedit: they go into the file while no
    # wineserver runs, and Wine loads them from there.
    if [ -f "$here/data/links.user-reg-fragment" ]; then
        cat "$here/data/links.user-reg-fragment" >>"$prefix/user.reg"
    fi
    if [ -f "$here/data/links.system-reg-fragment" ]; then
        cat "$here/data/links.system-reg-fragment" >>"$prefix/system.reg"
    fi
    python3 "$here/crafted.py" >>"$prefix/user.reg"
    # Wine keeps only what it could load when it saves: the Linux tool reads
    # these files as they were written.
    mkdir -p "$work/files-$1"
    cp "$prefix"/*.reg "$work/files-$1/"
}

# The variable that names the locale: LANG, or LC_ALL, which Wine follows
# even to a locale that was never generated.
locale_variable=LANG

compare_key() { # prefix lang codepage key [files the Linux tool reads, else the prefix's]
    prefix=$1
    files=${5:-$1}
    out=$work/out
    rm -f "$out"-*.reg
    status_wine=0
    hivedump_launch "$out-wine.stdout" "$out-wine.stderr" \
        env "$locale_variable=$2" WINEPREFIX="$prefix" $wine "$exe" "$4" 'Z:'"$(echo "$out-wine.reg" | tr / '\\')" || status_wine=$?
    # Wine's components rewrite some values each time they start; wait for
    # the server to save what this run saw before reading the files.
    WINEPREFIX=$prefix $wineserver -w
    status_native=0
    env -u HIVEDUMP_VIEW ${view:+HIVEDUMP_VIEW=$view} "$locale_variable=$2" WINEPREFIX="$files" "$native" "$4" "$out-native.reg" >"$out-native.stdout" 2>/dev/null || status_native=$?
    if [ "$status_wine" != "$status_native" ]; then
        echo "FAIL [$2] $4 (${view:-32}-bit view${prefix_kind:+, $prefix_kind}): status wine $status_wine, native $status_native"
        echo "    wine said: $(head -c 300 "$out-wine.stdout")"
        echo "    native said: $(head -c 300 "$out-native.stdout")"
        echo "    standard error under Wine:"
        head -n 20 "$out-wine.stderr" | sed 's/^/    /'
        case $status_wine in
        0 | 255) ;;
        *)
            # The program ends with 0 or 255 only. A program whose wineserver is
            # told to stop (wineserver -k) ends with 1 and says nothing: name
            # the servers running now, to find who stopped this one.
            echo "    the Windows program never ends so itself; wineservers running now:"
            for server in $(pgrep wineserver); do
                echo "    $server $(tr '\0' '\n' <"/proc/$server/environ" 2>/dev/null | grep '^WINEPREFIX=')"
            done
            ;;
        esac
        failures=$((failures + 1))
        return
    fi
    if ! result=$(python3 "$here/compare.py" "$prefix" "$3" "$out-wine.reg" "$out-native.reg"); then
        echo "FAIL [$2] $4 (${view:-32}-bit view${prefix_kind:+, $prefix_kind}): $result"
        failures=$((failures + 1))
        return
    fi
    echo "ok   [$2] $4 (${view:-32}-bit view${prefix_kind:+, $prefix_kind}): $(echo "$result" | head -1)"
}

# A wineserver running on the prefix is announced in one line before the
# export, which comes out the same; once it has ended nothing is said.
check_running_server() { # prefix lang
    out=$work/server
    # Whatever else the export says (a key the code page cannot name) comes
    # after the notice, the same each time.
    LANG=$2 WINEPREFIX=$1 "$native" HKEY_CURRENT_USER "$out-before.reg" >"$out-before.stdout" || true
    { printf '%s\n' 'wineserver is running on this prefix: its files may not hold its latest changes yet (wineserver -w writes them out)'
        cat "$out-before.stdout"; } >"$out-expected.stdout"
    WINEPREFIX=$1 $wineserver -p
    LANG=$2 WINEPREFIX=$1 "$native" HKEY_CURRENT_USER "$out-running.reg" >"$out-running.stdout" || true
    WINEPREFIX=$1 $wineserver -k
    WINEPREFIX=$1 $wineserver -w
    LANG=$2 WINEPREFIX=$1 "$native" HKEY_CURRENT_USER "$out-after.reg" >"$out-after.stdout" || true
    if cmp -s "$out-expected.stdout" "$out-running.stdout" && cmp -s "$out-before.stdout" "$out-after.stdout" &&
        cmp -s "$out-before.reg" "$out-running.reg" && cmp -s "$out-before.reg" "$out-after.reg"; then
        echo "ok   [$2] running wineserver announced, export unchanged"
    else
        echo "FAIL [$2] running wineserver: said \"$(cat "$out-running.stdout")\" while running," \
            "\"$(cat "$out-after.stdout")\" after; exports $(cksum <"$out-before.reg") / $(cksum <"$out-running.reg") / $(cksum <"$out-after.reg")"
        failures=$((failures + 1))
    fi
    echo "$failures" >"$work/failures"
}

# The keys the 32-bit program is compared on: each master key but the
# current user's whole, and where the two views part.
keys_for_32='HKEY_LOCAL_MACHINE
HKEY_LOCAL_MACHINE\Software
HKEY_CLASSES_ROOT
HKEY_CURRENT_USER\Software
HKEY_USERS
HKEY_LOCAL_MACHINE\Software\Wow6432Node
HKEY_LOCAL_MACHINE\Software\Classes\Wow6432Node
HKEY_LOCAL_MACHINE\Software\Classes\Wow6432Node\.hivedumptest
HKEY_LOCAL_MACHINE\System\Nest\Wow6432Node
HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\Perflib'
if [ -n "$exe32" ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo "FAIL: the 32-bit program cannot run: Wine's 32-bit loader /usr/lib/wine/wine does not start (scripts/wine32.sh sets it up, as root)"
    exit 1
fi

for setting in "fresh C.UTF-8 1252" "data C.UTF-8 1252" "data ja_JP.UTF-8 932"; do
    set -- $setting
    name=$1-$(echo "$2" | tr -d .)
    if [ "$1" = fresh ]; then
        prefix=$work/prefix-$name
        boot_prefix "$prefix" "$2"
    else
        make_prefix "$name" "$2"
    fi
    prefix=$work/prefix-$name
    echo "$keys_for_data" | while IFS= read -r key; do
        compare_key "$prefix" "$2" "$3" "$key"
        echo "$failures" >"$work/failures"
    done
    failures=$(cat "$work/failures" 2>/dev/null || echo 0)
    if [ "$1" = data ]; then
        compare_key "$prefix" "$2" "$3" 'HKEY_CURRENT_USER\Software\HivedumpDiff\Crafted' "$work/files-$name"
        echo "$failures" >"$work/failures"
    fi
    if [ "$name" = data-CUTF-8 ]; then
        # Names and text in many scripts under other code pages, UTF-8 among
        # them: the prefix's files hold UTF-16, whatever the locale.
        locale_variable=LC_ALL
        for other in "ru_RU.UTF-8 1251" "ar_EG.UTF-8 1256" "zh_CN.UTF-8 936" "hi_IN.UTF-8 65001"; do
            set -- $other
            compare_key "$prefix" "$1" "$2" 'HKEY_CURRENT_USER\Software\HivedumpDiff'
            echo "$failures" >"$work/failures"
        done
        locale_variable=LANG
        set -- $setting
    fi
    failures=$(cat "$work/failures" 2>/dev/null || echo 0)
    if [ -n "$exe32" ] && [ "$2" = C.UTF-8 ]; then
        exe=$exe32
        view=
        echo "$keys_for_32" | while IFS= read -r key; do
            compare_key "$prefix" "$2" "$3" "$key"
            echo "$failures" >"$work/failures"
        done
        failures=$(cat "$work/failures" 2>/dev/null || echo 0)
        exe=$exe64
        view=64
    fi
    if [ "$1" = fresh ]; then
        check_running_server "$prefix" "$2"
    fi
    WINEPREFIX=$prefix $wineserver -k 2>/dev/null || true
done

# A 32-bit prefix has one view, the 32-bit program's, whatever the Linux tool
# is asked for; only Wine's 32-bit loader runs programs there.
if [ -n "$exe32" ]; then
    prefix=$work/prefix-win32
    wine=/usr/lib/wine/wine
    export WINEARCH=win32
    boot_prefix "$prefix" C.UTF-8
    unset WINEARCH
    exe=$exe32
    prefix_kind="32-bit prefix"
    for view in "" 64; do
        printf '%s\n' HKEY_LOCAL_MACHINE 'HKEY_LOCAL_MACHINE\Software' HKEY_CLASSES_ROOT 'HKEY_CURRENT_USER\Software' HKEY_USERS |
            while IFS= read -r key; do
                compare_key "$prefix" C.UTF-8 1252 "$key"
                echo "$failures" >"$work/failures"
            done
        failures=$(cat "$work/failures" 2>/dev/null || echo 0)
    done
    WINEPREFIX=$prefix $wineserver -k 2>/dev/null || true
fi

failures=$(cat "$work/failures" 2>/dev/null || echo 0)
[ "$failures" -eq 0 ] || { echo "$failures differential case(s) failed"; exit 1; }
echo "all differential cases identical"

# Throwaway Wine prefixes holding the HIVEDUMP test data.  Source this file, then:
#
#   hivedump_find_wine                       # 0 when wine64 and wineserver are at hand
#   p=$(hivedump_prefix_create LANG DATADIR) # new prefix, booted, DATADIR/*.reg and
#                                            # DATADIR/LANG/*.reg imported
#   hivedump_prefix_run "$p" CMD ARGS...     # run a Windows program in it (wine64 CMD ARGS)
#   hivedump_prefix_call "$p" CMD ARGS...    # the same, and on failure say why on stderr
#   hivedump_prefix_wait "$p"                # wait for its wineserver to end by itself
#   hivedump_prefix_stop "$p"                # end its wineserver: *.reg hold everything
#   hivedump_prefix_serve "$p"               # start a wineserver that stays up
#   hivedump_prefix_destroy "$p"             # stop its wineserver, remove it
#
# The locale is fixed per prefix because it decides Wine's ANSI code page (C.UTF-8 gives
# 1252, ja_JP.UTF-8 gives 932), and .reg files in the REGEDIT4 form are read in that
# code page.  Wine's own chatter goes to PREFIX/.hivedump-log.
#
# A created prefix keeps one wineserver running until it is stopped or destroyed.
# Left to itself, a wineserver closes its socket soon after its last program ends,
# then saves the registry and exits.  A program started in between waits for that
# exit and gives up after about six seconds ("a wine server seems to be running,
# but I cannot connect to it", status 1); on a busy machine the exit can take that
# long, and a step of a test failed for no fault of its own.  A server that stays
# up also spares each step Wine's start-up, seconds under load.

# shellcheck source=launch.sh
. "$(dirname "${BASH_SOURCE[0]}")/launch.sh"

hivedump_find_wine() {
    HIVEDUMP_WINE64=${HIVEDUMP_WINE64:-}
    if [ -z "$HIVEDUMP_WINE64" ]; then
        if [ -x /usr/lib/wine/wine64 ]; then
            HIVEDUMP_WINE64=/usr/lib/wine/wine64
        else
            HIVEDUMP_WINE64=$(command -v wine64 2>/dev/null) || HIVEDUMP_WINE64=
        fi
    fi
    HIVEDUMP_WINESERVER=${HIVEDUMP_WINESERVER:-}
    if [ -z "$HIVEDUMP_WINESERVER" ] && [ -n "$HIVEDUMP_WINE64" ]; then
        local dir
        dir=$(dirname "$(readlink -f "$HIVEDUMP_WINE64")")
        if [ -x "$dir/wineserver" ]; then
            HIVEDUMP_WINESERVER=$dir/wineserver
        else
            HIVEDUMP_WINESERVER=$(command -v wineserver 2>/dev/null) || HIVEDUMP_WINESERVER=
        fi
    fi
    [ -n "$HIVEDUMP_WINE64" ] && [ -x "$HIVEDUMP_WINE64" ] &&
        [ -n "$HIVEDUMP_WINESERVER" ] && [ -x "$HIVEDUMP_WINESERVER" ]
}

# Whether the Windows program EXE can run here; when it cannot, says why in one
# line. A 32-bit one (machine 0x14c in its PE header) needs Wine's 32-bit loader,
# which scripts/wine32.sh sets up, as root.
hivedump_check_program() {
    local pe machine
    pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
    machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$1" | tr -d ' ')
    if [ "$machine" = 014c ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
        echo "FAIL: the 32-bit program cannot run: Wine's 32-bit loader /usr/lib/wine/wine does not start (scripts/wine32.sh sets it up, as root)"
        return 1
    fi
}

# Runs CMD with the environment of PREFIX: its locale and nothing of the caller's
# that would change what Wine does (other locale variables, a display for dialogs).
_hivedump_env() {
    local prefix=$1
    shift
    env -u LC_ALL -u LC_CTYPE -u LC_MESSAGES -u LANGUAGE -u DISPLAY -u WAYLAND_DISPLAY \
        LANG="$(cat "$prefix/.hivedump-lang")" WINEPREFIX="$prefix" WINEDEBUG=-all \
        WINESERVER="$HIVEDUMP_WINESERVER" WINEDLLOVERRIDES="mscoree,mshtml=" "$@"
}

hivedump_prefix_run() {
    local prefix=$1
    shift
    _hivedump_env "$prefix" "$HIVEDUMP_WINE64" "$@"
}

# Indents the lines it reads, without CRs; "(empty)" when there are none.
_hivedump_indent() {
    local line any=
    while IFS= read -r line || [ -n "$line" ]; do
        printf '    %s\n' "${line//$'\r'/}"
        any=1
    done
    [ -n "$any" ] || echo "    (empty)"
}

# Runs like hivedump_prefix_run; Wine's standard error goes to the prefix's log,
# and when the program fails, its exit status, that standard error and the end
# of its standard output (where reg and regedit say why) go to ours.
# WINEDEBUG=-all silences the debug channels only: what Wine itself reports on a
# failure (a lost server, a program it cannot load) still lands here.
hivedump_prefix_call() {
    local prefix=$1 status
    shift
    hivedump_prefix_run "$prefix" "$@" 2>"$prefix/.hivedump-stderr" >"$prefix/.hivedump-stdout"
    status=$?
    cat "$prefix/.hivedump-stdout"
    cat "$prefix/.hivedump-stderr" >>"$prefix/.hivedump-log"
    if [ "$status" != 0 ]; then
        {
            printf 'wine64'
            printf ' %q' "$@"
            printf ' (LANG=%s): exit status %s\n' "$(cat "$prefix/.hivedump-lang")" "$status"
            echo "  standard error:"
            head -n 20 "$prefix/.hivedump-stderr" | _hivedump_indent
            echo "  standard output, its end:"
            tail -n 20 "$prefix/.hivedump-stdout" | _hivedump_indent
        } >&2
    fi
    return "$status"
}

# Waits for the prefix's wineserver to end by itself, which it does once the
# programs it serves are gone; what it holds of the registry is then in *.reg.
hivedump_prefix_wait() {
    _hivedump_env "$1" "$HIVEDUMP_WINESERVER" -w
}

hivedump_prefix_serve() {
    # -p: no timeout. A daemon that inherited the caller's output would keep a
    # pipe reading from it open.
    _hivedump_env "$1" "$HIVEDUMP_WINESERVER" -p >>"$1/.hivedump-log" 2>&1 </dev/null
}

# -k saves the registry before the server ends.
hivedump_prefix_stop() {
    _hivedump_env "$1" "$HIVEDUMP_WINESERVER" -k >>"$1/.hivedump-log" 2>&1
    hivedump_prefix_wait "$1" >>"$1/.hivedump-log" 2>&1
}

hivedump_prefix_create() {
    local lang=$1 data=$2 prefix file
    hivedump_find_wine || { echo "hivedump_prefix_create: wine64 not found" >&2; return 1; }
    prefix=$(mktemp -d "${TMPDIR:-/tmp}/hivedump-wine.XXXXXX") || return 1
    printf '%s\n' "$lang" >"$prefix/.hivedump-lang"
    local log=$prefix/.hivedump-log
    if ! hivedump_prefix_run "$prefix" wineboot -i >>"$log" 2>&1; then
        _hivedump_prefix_abandon "$prefix" "wineboot failed"
        return 1
    fi
    # wineboot leaves services running; importing only after they are done keeps their
    # writes from racing ours.
    hivedump_prefix_wait "$prefix" >>"$log" 2>&1
    if ! hivedump_prefix_serve "$prefix"; then
        _hivedump_prefix_abandon "$prefix" "wineserver did not start"
        return 1
    fi
    for file in "$data"/*.reg "$data/$lang"/*.reg; do
        [ -f "$file" ] || continue
        # regedit /s exits 0 even for a file it could not parse; the check below catches that.
        if ! hivedump_prefix_run "$prefix" regedit /s "$(_hivedump_windows_path "$file")" >>"$log" 2>&1; then
            _hivedump_prefix_abandon "$prefix" "regedit failed on $file"
            return 1
        fi
    done
    if ! hivedump_prefix_run "$prefix" reg query 'HKEY_CURRENT_USER\Software\HivedumpTest' >>"$log" 2>&1; then
        _hivedump_prefix_abandon "$prefix" "the test data did not import"
        return 1
    fi
    printf '%s\n' "$prefix"
}

# A prefix that failed to set up is nobody's to clean up later: report and remove it now.
_hivedump_prefix_abandon() {
    local prefix=$1 why=$2
    echo "hivedump_prefix_create: $why (LANG=$(cat "$prefix/.hivedump-lang")); Wine said:" >&2
    tail -n 20 "$prefix/.hivedump-log" | sed 's/^/    /' >&2
    hivedump_prefix_destroy "$prefix"
}

hivedump_prefix_destroy() {
    local prefix=$1
    # Only ever remove what hivedump_prefix_create made.
    [ -n "$prefix" ] && [ -f "$prefix/.hivedump-lang" ] || return 0
    hivedump_prefix_stop "$prefix"
    rm -rf "$prefix"
}

# Z: is Wine's drive for the Unix root.
_hivedump_windows_path() {
    local path
    path=$(readlink -f "$1")
    printf 'Z:%s\n' "${path//\//\\}"
}

# hivedump_prefix_create_each DATADIR WORKDIR LANG...: boots one prefix per
# locale, side by side, and records each in the caller's associative array
# prefix_of; fails when any of them could not be set up.
hivedump_prefix_create_each() {
    local data=$1 work=$2 lang pid failed=0 prefix
    shift 2
    local pids=()
    for lang in "$@"; do
        hivedump_prefix_create "$lang" "$data" >"$work/prefix.$lang" &
        pids+=($!)
    done
    for pid in "${pids[@]}"; do
        wait "$pid" || failed=1
    done
    for lang in "$@"; do
        prefix=$(cat "$work/prefix.$lang")
        [ -n "$prefix" ] && prefix_of[$lang]=$prefix
    done
    return "$failed"
}

# The start that the test scripts of the Windows program share.
#
#   hivedump_e2e_require WHAT [mingw]  # exit 77, saying WHAT is skipped, without wine64
#                                      # (or, given mingw, the MinGW compiler)
#   hivedump_e2e_program PATH          # hivedump_exe=PATH made absolute; exit 77 when no
#                                      # program is given (PATH empty), 1 when it is not
#                                      # there or cannot run here
#   hivedump_e2e_workspace NAME        # work=a new directory; at exit the prefixes in
#                                      # prefix_of and $work are removed, unless
#                                      # HIVEDUMP_E2E_KEEP=1 keeps them for a look
#
# A script that has more to end at exit (a program in the background) defines
# hivedump_e2e_on_exit, which runs first.

hivedump_e2e_require() {
    if ! hivedump_find_wine; then
        echo "wine64 not found: skipping $1"
        exit 77
    fi
    if [ "${2:-}" = mingw ] && ! command -v x86_64-w64-mingw32-gcc >/dev/null; then
        echo "x86_64-w64-mingw32-gcc not found: skipping $1"
        exit 77
    fi
}

hivedump_e2e_program() {
    if [ -z "$1" ]; then
        echo "no Windows program given: skipped"
        exit 77
    fi
    if [ ! -f "$1" ]; then
        echo "no such program: $1" >&2
        exit 1
    fi
    hivedump_exe=$(readlink -f "$1")
    hivedump_check_program "$hivedump_exe" || exit 1
}

hivedump_e2e_workspace() {
    work=$(mktemp -d "${TMPDIR:-/tmp}/hivedump-$1.XXXXXX")
    declare -gA prefix_of=()
    trap _hivedump_e2e_cleanup EXIT
    trap 'exit 130' INT TERM
}

_hivedump_e2e_cleanup() {
    local prefix
    if declare -F hivedump_e2e_on_exit >/dev/null; then
        hivedump_e2e_on_exit
    fi
    if [ "${HIVEDUMP_E2E_KEEP:-0}" = 1 ]; then
        echo "kept: $work ${prefix_of[*]}"
        return
    fi
    for prefix in "${prefix_of[@]}"; do
        hivedump_prefix_destroy "$prefix"
    done
    rm -rf "$work"
}

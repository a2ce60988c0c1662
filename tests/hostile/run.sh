#!/usr/bin/env bash
# Hostile prefixes: the Linux tool against registry files and output paths
# that no well-behaved Wine would leave behind.
#
#   run.sh BUILD_DIR [CASE...]
#
# Each directory cases/NAME is one case:
#   prefix/       the prefix's files, copied to a fresh directory for the run
#   generate      instead of (or besides) prefix/: a kind for generate.py, which writes
#                 user.reg and the expected export (too big to keep in git)
#   expected.sha256  the checksum of what generate.py must give as expected export
#   setup         bash run before the case with $prefix and $work set; may change $prefix
#   args          the arguments, one a line; @OUT@ is $work/out.reg, @WORK@ the case's
#                 directory, @PREFIX@ the prefix, @LONG@ a path longer than PATH_MAX
#   stdout        the exact standard output (same placeholders)
#   status        the exact exit status (-1 arrives as 255)
#   expected.reg  the exact export in @OUT@; without it (and without generate) no
#                 @OUT@ may be left behind
#   user          run as this user (to see permissions that root would pass by)
#   limits        bash run just before the tool starts, in its own shell: closed
#                 descriptors, ulimit
#   pause         bash run on the prefix while the export waits: the export goes to
#                 @PIPE@, a named pipe read only once the pipe is full (the first pass
#                 done) and the script has run; what came through is @OUT@. The prefix
#                 is put back afterwards. With status 255 the export may stop early:
#                 it must then be well-formed and hold nothing expected.reg lacks
#                 (check_export.py)
#   truncate      a loop case: the named file of prefix/ is cut at every byte; each run
#                 must end with 0, or with 255 and "can't read registry", and leave a
#                 well-formed export holding nothing that the complete export,
#                 expected.reg, lacks (check_export.py)
#   xfail         a known fault (its reason inside): reported, not failed; a pass
#                 then fails, so the marker goes when the fault is mended
#
# Every run has a stack of 256 KiB, 10 seconds, and at most twice the prefix's
# size plus 64 MiB of peak resident memory; nothing may reach standard error,
# and the prefix's files keep their bytes, modes and modification times.
# Exit status: 0 all passed, 1 a case failed. HIVEDUMP_HOSTILE_KEEP=1 keeps every
# case's directory (prefix, output, measurements) for a look afterwards.

set -u
shopt -u patsub_replacement 2>/dev/null

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [ $# -lt 1 ]; then
    echo "usage: $0 BUILD_DIR [CASE...]" >&2
    exit 2
fi
build=$(cd "$1" && pwd) || exit 1
shift
tool=$build/hivedump
if [ ! -x "$tool" ]; then
    echo "FAIL: no $tool" >&2
    exit 1
fi
meter=$build/peak_rss
if [ ! -x "$meter" ]; then
    cmake --build "$build" --target peak_rss >/dev/null 2>&1
fi
if [ ! -x "$meter" ]; then
    echo "FAIL: no $meter (cmake --build $build --target peak_rss)" >&2
    exit 1
fi

time_limit=10
stack_kib=256

if [ $# -gt 0 ]; then
    cases=("$@")
else
    cases=()
    for dir in "$here"/cases/*/; do
        cases+=("$(basename "$dir")")
    done
fi

root=$(mktemp -d "${TMPDIR:-/tmp}/hivedump-hostile.XXXXXX") || exit 1
chmod 755 "$root"
# Cases run as another user need programs that user may reach: the build
# tree may lie below a home only its owner can enter.
mkdir -p "$root/bin"
cp "$tool" "$meter" "$root/bin/"
chmod 755 "$root/bin" "$root/bin/"*
cleanup() {
    if [ "${HIVEDUMP_HOSTILE_KEEP:-0}" = 1 ]; then
        echo "kept: $root"
        return
    fi
    chmod -R u+rwx "$root" 2>/dev/null
    rm -rf "$root"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Names, kinds, sizes, modes, modification times and checksums of everything
# in the prefix.
snapshot() {
    [ -e "$1" ] || [ -L "$1" ] || { echo "absent"; return; }
    find "$1" -printf '%p %y %s %m %T@ %l\n' 2>&1 | LC_ALL=C sort
    find "$1" -type f -print0 2>/dev/null | LC_ALL=C sort -z | xargs -0 -r md5sum 2>&1
}

bytes_of() {
    find "$1" -type f -printf '%s\n' 2>/dev/null | awk '{ total += $1 } END { print total + 0 }'
}

# run_tool DIR ARGS...: one run with the limits; leaves DIR/stdout and
# DIR/stderr, and sets run_status, run_seconds and run_kib.
run_tool() {
    local dir=$1
    shift
    local as=() run_tool=$tool run_meter=$meter
    if [ -n "$run_as" ]; then
        as=(setpriv --reuid="$run_as" --regid="$(id -g "$run_as")" --clear-groups)
        run_tool=$root/bin/hivedump run_meter=$root/bin/peak_rss
    fi
    (
        ulimit -s "$stack_kib" || exit 99
        cd "$dir" || exit 99
        if [ -n "$run_limits" ]; then eval "$run_limits" || exit 99; fi
        exec env -i PATH=/usr/bin:/bin LC_ALL=C HOME="$dir" WINEPREFIX="$prefix" \
            "${as[@]}" "$run_meter" timeout -s KILL "$time_limit" "$run_tool" "$@"
    ) >"$dir/stdout" 2>"$dir/stderr"
    run_status=$?
    # peak_rss adds its "seconds kib" as the last line of standard error.
    local lines=()
    mapfile -t lines <"$dir/stderr"
    run_seconds=0 run_kib=0
    if [ ${#lines[@]} -gt 0 ]; then
        read -r run_seconds run_kib <<<"${lines[-1]}"
        unset 'lines[-1]'
    fi
    if [ ${#lines[@]} -gt 0 ]; then
        printf '%s\n' "${lines[@]}" >"$dir/stderr"
    else
        : >"$dir/stderr"
    fi
}

# check_limits DIR INPUT_BYTES: appends to $problems.
check_limits() {
    local dir=$1 input=$2 limit
    limit=$(((2 * input + (64 << 20)) / 1024))
    # The tool ends with 0 or 255. timeout kills its own process group when
    # time is up, which peak_rss reports as 1; a signal that ends the tool
    # comes through timeout as 128 + the signal.
    if [ "$run_status" = 1 ] || [ "$run_status" = 137 ]; then
        problems+=("killed after $run_seconds s (a hang, or too slow for ${time_limit} s)")
    elif [ "$run_status" -gt 128 ] && [ "$run_status" -lt 255 ]; then
        problems+=("ended by signal $((run_status - 128)) (a crash)")
    fi
    if [ "$run_kib" -gt "$limit" ]; then
        problems+=("peak memory $run_kib KiB, limit $limit KiB")
    fi
    if [ -s "$dir/stderr" ]; then
        problems+=("standard error: $(head -c 300 "$dir/stderr")")
    fi
}

substitute() {
    local text=$1
    text=${text//@OUT@/$work/out.reg}
    text=${text//@PIPE@/$work/pipe}
    text=${text//@PREFIX@/$prefix}
    text=${text//@LONG@/$long}
    text=${text//@WORK@/$work}
    printf '%s' "$text"
}

passed=0
failed=0
xfailed=0
start=$(date +%s)

for name in "${cases[@]}"; do
    case_dir=$here/cases/$name
    if [ ! -d "$case_dir" ]; then
        echo "FAIL $name: no such case"
        failed=$((failed + 1))
        continue
    fi
    work=$root/$name
    mkdir -p "$work"
    prefix=$work/prefix
    problems=()
    run_as=
    [ -f "$case_dir/user" ] && run_as=$(head -n 1 "$case_dir/user")
    run_limits=
    [ -f "$case_dir/limits" ] && run_limits=$(cat "$case_dir/limits")
    if [ -n "$run_as" ]; then
        if ! id "$run_as" >/dev/null 2>&1 || ! command -v setpriv >/dev/null || [ "$(id -u)" != 0 ]; then
            echo "SKIP $name: needs root, setpriv and user $run_as"
            continue
        fi
        chmod 777 "$work"
    fi
    long=$work
    for _ in $(seq 21); do long=$long/$(printf 'd%.0s' $(seq 200)); done
    long=$long/out.reg

    if [ -d "$case_dir/prefix" ]; then
        cp -a "$case_dir/prefix" "$prefix"
    else
        mkdir -p "$prefix"
    fi
    expected=$case_dir/expected.reg
    if [ -f "$case_dir/generate" ]; then
        expected=$work/expected.reg
        if ! python3 "$here/generate.py" "$(head -n 1 "$case_dir/generate")" "$prefix" "$expected"; then
            problems+=("generate.py failed")
        elif [ -f "$case_dir/expected.sha256" ] &&
            [ "$(sha256sum <"$expected" | cut -d' ' -f1)" != "$(head -n 1 "$case_dir/expected.sha256")" ]; then
            problems+=("generate.py gave an expected export other than expected.sha256 pins")
        fi
    fi
    if [ -f "$case_dir/setup" ]; then
        # shellcheck disable=SC1090
        . "$case_dir/setup" || problems+=("setup failed")
    fi
    input=$(bytes_of "$prefix")
    args=()
    while IFS= read -r line || [ -n "$line" ]; do
        args+=("$(substitute "$line")")
    done <"$case_dir/args"
    expected_stdout=$(substitute "$(cat "$case_dir/stdout"; echo x)")
    expected_stdout=${expected_stdout%x}
    expected_status=$(head -n 1 "$case_dir/status")
    before=$(snapshot "$prefix")
    runs=1
    worst_millis=0
    worst_kib=0

    if [ -f "$case_dir/truncate" ]; then
        file=$(head -n 1 "$case_dir/truncate")
        whole=$work/whole
        cp "$prefix/$file" "$whole"
        size=$(stat -c %s "$whole")
        mkdir -p "$work/outs"
        runs=0
        for ((cut = 0; cut <= size; cut++)); do
            head -c "$cut" "$whole" >"$prefix/$file"
            touch -d @1700000000 "$prefix/$file"
            rm -f "$work/out.reg"
            run_tool "$work" "${args[@]}"
            runs=$((runs + 1))
            check_limits "$work" "$cut"
            read -r actual_stdout <"$work/stdout"
            if [ "$run_status" = 0 ] && [ ! -s "$work/stdout" ] && [ -f "$work/out.reg" ]; then
                mv "$work/out.reg" "$work/outs/$cut.reg"
            elif [ "$run_status" = 255 ] && [ "$actual_stdout" = "can't read registry [$prefix/$file]" ] &&
                [ -f "$work/out.reg" ]; then
                # What was written before the registry turned out unreadable must still be well-formed.
                mv "$work/out.reg" "$work/outs/$cut.reg"
            else
                problems+=("cut at byte $cut: status $run_status, stdout $(head -c 200 "$work/stdout" | cat -A)")
            fi
            # Hundreds of runs: the cut file's size, time and bytes stand for the snapshot.
            if [ "$(stat -c '%s %Y' "$prefix/$file")" != "$cut 1700000000" ] || ! cmp -s -n "$cut" "$whole" "$prefix/$file"; then
                problems+=("cut at byte $cut: the prefix changed")
            fi
            millis=$((10#${run_seconds/./}))
            [ "$millis" -gt "$worst_millis" ] && worst_millis=$millis
            [ "$run_kib" -gt "$worst_kib" ] && worst_kib=$run_kib
        done
        before=$(snapshot "$prefix")
        if [ -f "$work/outs/$size.reg" ] && ! cmp -s "$expected" "$work/outs/$size.reg"; then
            problems+=("the export of the whole file differs from expected.reg")
        fi
        outs=("$work"/outs/*.reg)
        if [ -e "${outs[0]}" ]; then
            report=$(python3 "$here/check_export.py" "$expected" "${outs[@]}" 2>&1) ||
                problems+=("malformed exports: $(echo "$report" | head -n 5)")
        fi
        detail="$runs cuts, worst $((worst_millis / 1000)).$(printf %03d $((worst_millis % 1000))) s, $worst_kib KiB"
    else
        paused=
        if [ -f "$case_dir/pause" ]; then
            paused=1
            mkfifo "$work/pipe"
            cp -a "$prefix" "$work/prefix.before"
            # Opens the pipe without waiting for the tool; once the tool waits on a
            # full pipe, runs the pause script, then reads what comes through.
            prefix=$prefix work=$work python3 - "$work/pipe" "$work/out.reg" "$case_dir/pause" <<'PY' &
import fcntl, os, subprocess, sys, termios, time
pipe, out_path, script = sys.argv[1:4]
fd = os.open(pipe, os.O_RDONLY | os.O_NONBLOCK)
size = fcntl.fcntl(fd, 1032)  # F_GETPIPE_SZ
deadline = time.time() + 5
while time.time() < deadline and int.from_bytes(fcntl.ioctl(fd, termios.FIONREAD, b'\0' * 4), sys.byteorder) < size:
    time.sleep(0.01)
subprocess.run(['bash', script], check=False)
os.set_blocking(fd, True)
with open(out_path, 'wb') as out:
    while chunk := os.read(fd, 1 << 16):
        out.write(chunk)
PY
        fi
        run_tool "$work" "${args[@]}"
        if [ -n "$paused" ]; then
            wait
            rm -rf "$work/pipe" "$prefix"
            mv "$work/prefix.before" "$prefix"
        fi
        check_limits "$work" "$input"
        status=$run_status
        actual_stdout=$(cat "$work/stdout"; echo x)
        actual_stdout=${actual_stdout%x}
        if [ "$status" != "$expected_status" ]; then
            problems+=("status $status, expected $expected_status")
        fi
        if [ "$actual_stdout" != "$expected_stdout" ]; then
            problems+=("standard output $(printf '%s' "$actual_stdout" | head -c 300 | cat -A), expected $(printf '%s' "$expected_stdout" | head -c 300 | cat -A)")
        fi
        if [ -f "$expected" ]; then
            if [ ! -f "$work/out.reg" ]; then
                problems+=("no export file")
            elif [ -n "$paused" ] && [ "$status" = 255 ]; then
                report=$(python3 "$here/check_export.py" "$expected" "$work/out.reg" 2>&1) ||
                    problems+=("malformed export: $(echo "$report" | head -n 5)")
            elif ! cmp -s "$expected" "$work/out.reg"; then
                at=$(cmp "$expected" "$work/out.reg" 2>&1 | head -n 1)
                problems+=("export differs from the expected bytes ($at; sizes $(stat -c %s "$expected") and $(stat -c %s "$work/out.reg"))")
            fi
        elif [ -e "$work/out.reg" ]; then
            problems+=("an export file was left behind")
        fi
        detail="$run_seconds s, $run_kib KiB, input $((input / 1024)) KiB"
    fi
    after=$(snapshot "$prefix")
    if [ "$after" != "$before" ]; then
        problems+=("the prefix changed: $(diff <(echo "$before") <(echo "$after") | grep '^[<>]' | head -n 4 | tr '\n' ' ')")
    fi

    if [ -f "$case_dir/xfail" ]; then
        if [ ${#problems[@]} -gt 0 ]; then
            echo "XFAIL $name ($detail): $(head -n 1 "$case_dir/xfail")"
            for problem in "${problems[@]}"; do echo "    $problem"; done
            xfailed=$((xfailed + 1))
        else
            echo "FAIL $name: passes now; remove its xfail marker"
            failed=$((failed + 1))
        fi
    elif [ ${#problems[@]} -gt 0 ]; then
        echo "FAIL $name ($detail)"
        for problem in "${problems[@]}"; do echo "    $problem"; done
        failed=$((failed + 1))
    else
        echo "ok   $name ($detail)"
        passed=$((passed + 1))
    fi
    # Big generated prefixes go as soon as they are done with.
    if [ "${HIVEDUMP_HOSTILE_KEEP:-0}" != 1 ]; then
        chmod -R u+rwx "$work" 2>/dev/null
        rm -rf "$work"
    fi
done

echo "hostile: $passed passed, $failed failed, $xfailed known faults, $(($(date +%s) - start)) s"
[ "$failed" = 0 ]

#!/usr/bin/env bash
# The Linux tool against the Windows build under Wine on random prefixes.
#
#   random.sh WINDOWS_EXE_64 LINUX_EXE GENERATOR [WINDOWS_EXE_32]
#
# One prefix is booted; for each seed its registry files are put back as they
# were after the boot and the generator's sections for that seed (keys below
# Software\Fuzz, links among them, every value form, broken lines) are
# appended to them. The Windows build exports the generated keys under Wine;
# the Linux tool exports them from a copy of the files taken before Wine ran,
# since Wine rewrites them. Status, messages and files must be the same
# bytes. Even seeds run in code page 1252, odd ones in 932. The 64-bit build
# is compared with the Linux tool in the 64-bit view; given the 32-bit
# program, it is compared with the Linux tool in its own view as well.
#
# HIVEDUMP_RANDOM_PREFIXES: how many seeds (default 5); HIVEDUMP_RANDOM_SEED:
# the first one (default 1). The files of a seed that differs are kept in
# HIVEDUMP_RANDOM_KEEP (default ${TMPDIR:-/tmp}/hivedump-random-diffs/SEED).
# Wine reports on its standard error the sections it cannot make ("Error
# creating key"): those are expected, and the Linux tool must leave out the
# same keys. Exit status: 0 all identical, 1 a seed differed, 77 skipped.

set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=../wine/prefix.sh
. "$here/../wine/prefix.sh"

if [ $# -ne 3 ] && [ $# -ne 4 ]; then
    echo "usage: $0 WINDOWS_EXE_64 LINUX_EXE GENERATOR [WINDOWS_EXE_32]" >&2
    exit 2
fi
if ! hivedump_find_wine || [ ! -f "$1" ]; then
    echo "wine64 or $1 missing: skipped"
    exit 77
fi
exe64=$(readlink -f "$1")
native=$(readlink -f "$2")
generator=$(readlink -f "$3")
exe32=
if [ $# -eq 4 ] && [ -n "$4" ]; then
    exe32=$(readlink -f "$4")
    hivedump_check_program "$exe32" || exit 1
fi
count=${HIVEDUMP_RANDOM_PREFIXES:-5}
first=${HIVEDUMP_RANDOM_SEED:-1}
keep=${HIVEDUMP_RANDOM_KEEP:-${TMPDIR:-/tmp}/hivedump-random-diffs}

hivedump_e2e_workspace random
prefix=$work/prefix
prefix_of[C.UTF-8]=$prefix

mkdir -p "$prefix" "$work/booted" "$work/files"
echo C.UTF-8 >"$prefix/.hivedump-lang"
if ! hivedump_prefix_run "$prefix" wineboot -i >"$work/boot.log" 2>&1; then
    echo "wineboot failed:"
    tail -n 20 "$work/boot.log"
    exit 1
fi
hivedump_prefix_wait "$prefix"
registry_files="system.reg user.reg userdef.reg"
for name in $registry_files; do
    cp "$prefix/$name" "$work/booted/$name"
done

# Runs the Windows build BITS on KEY: its status, messages (line ends as the
# Linux tool writes them) and file into $work/wine.*; standard error, Wine's
# and the build's, into $work/wine.err, shown when the statuses differ.
export_wine() { # key bits
    local status=0 exe=$exe64
    [ "$2" = 32 ] && exe=$exe32
    rm -f "$work/wine.reg"
    hivedump_launch "$work/wine.out" "$work/wine.err" \
        _hivedump_env "$prefix" "$HIVEDUMP_WINE64" "$exe" "$1" "$(_hivedump_windows_path "$work")\\wine.reg" || status=$?
    echo "$status" >"$work/wine.status"
    sed -i 's/\r$//' "$work/wine.out"
}

export_native() { # key lang bits
    local status=0 view=
    [ "$3" = 64 ] && view=64
    rm -f "$work/native.reg"
    # The Linux tool's own view is the 32-bit program's.
    env -u LC_ALL -u LC_CTYPE -u HIVEDUMP_VIEW ${view:+HIVEDUMP_VIEW=$view} LANG="$2" WINEPREFIX="$work/files" "$native" "$1" "$work/native.reg" \
        >"$work/native.out" 2>/dev/null || status=$?
    echo "$status" >"$work/native.status"
}

# Says how the two runs differ, or nothing when they agree.
difference() {
    if ! cmp -s "$work/wine.status" "$work/native.status"; then
        echo "status: wine $(cat "$work/wine.status"), native $(cat "$work/native.status"); standard error under Wine:"
        head -n 12 "$work/wine.err" | sed 's/^/    /'
    elif ! cmp -s "$work/wine.out" "$work/native.out"; then
        echo "messages: wine $(head -c 300 "$work/wine.out"), native $(head -c 300 "$work/native.out")"
    elif [ -f "$work/wine.reg" ] && [ ! -f "$work/native.reg" ]; then
        echo "only Wine wrote a file"
    elif [ ! -f "$work/wine.reg" ] && [ -f "$work/native.reg" ]; then
        echo "only the Linux tool wrote a file"
    elif [ -f "$work/wine.reg" ] && ! cmp -s "$work/wine.reg" "$work/native.reg"; then
        echo "files differ: $(cmp "$work/wine.reg" "$work/native.reg" 2>&1 | head -1)"
        diff <(tr -d '\r' <"$work/wine.reg") <(tr -d '\r' <"$work/native.reg") | head -n 12
    fi
}

failed=0
for ((seed = first; seed < first + count; ++seed)); do
    if ((seed % 2 == 0)); then lang=C.UTF-8; else lang=ja_JP.UTF-8; fi
    echo "$lang" >"$prefix/.hivedump-lang"
    rm -rf "$work/generated"
    "$generator" "$seed" "$work/generated" || { echo "seed $seed: the generator failed"; exit 1; }
    for name in $registry_files; do
        cat "$work/booted/$name" "$work/generated/$name" >"$prefix/$name"
        cp "$prefix/$name" "$work/files/$name"
    done
    # One server reads the files and serves every export of the seed.
    hivedump_prefix_serve "$prefix"
    differed=0
    while IFS= read -r key; do
      for bits in 64 ${exe32:+32}; do
        export_wine "$key" "$bits"
        export_native "$key" "$lang" "$bits"
        result=$(difference)
        if [ -n "$result" ]; then
            echo "DIFF seed $seed [$lang] $key ($bits-bit view): $result"
            differed=1
            mkdir -p "$keep/$seed"
            cp "$work/files/"*.reg "$keep/$seed/"
            mkdir -p "$keep/$seed/generated"
            cp "$work/generated/"* "$keep/$seed/generated/"
            for side in wine native; do
                for part in reg out status; do
                    [ -f "$work/$side.$part" ] && cp "$work/$side.$part" "$keep/$seed/$(echo "$key" | tr '\\' '_').$bits.$side.$part"
                done
            done
        else
            echo "ok   seed $seed [$lang] $key ($bits-bit view): $(grep -c '^\[' "$work/native.reg" 2>/dev/null) keys"
        fi
      done
    done <"$work/generated/keys"
    hivedump_prefix_stop "$prefix"
    if ((differed)); then
        echo "     seed $seed: the prefix's files and both exports are in $keep/$seed"
        failed=$((failed + 1))
    fi
done

if ((failed)); then
    echo "$failed of $count random prefixes differed"
    exit 1
fi
echo "all $count random prefixes identical"

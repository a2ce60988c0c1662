#!/bin/sh
# The training run of the profile-guided build: the instrumented program
# exports keys of generated prefixes the way it is used, a whole subtree and
# one key, of the user's keys and of the machine's in both views, and the
# example prefix. What it measures decides the layout of the program built
# next, so that the loops those exports run sit together.
# usage: profile_training.sh PROGRAM GENERATE_PREFIX EXAMPLE_PREFIX PROFILE_DIR WORK_DIR
set -eu
program=$1 generate=$2 example=$3 profile=$4 work=$5
rm -rf "$work" "$profile"
mkdir -p "$work/prefix" "$profile"
"$generate" "$work/prefix" 10000
# The machine's keys: the same sections again below \Machine, half of them
# in the 32-bit view.
{
    printf 'WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n\n'
    sed -n '/^\[/,$p' "$work/prefix/user.reg" |
        sed 's/^\[Software\\\\Bench\\\\\(Group [0-9]*\\\\Part [0-9]*[02468]\\\\\)/[Software\\\\Wow6432Node\\\\Bench\\\\\1/'
} >"$work/prefix/system.reg"
export WINEPREFIX="$work/prefix"
unset HIVEDUMP_VIEW
"$program" 'HKEY_CURRENT_USER\Software\Bench' "$work/out.reg"
"$program" 'HKEY_CURRENT_USER\Software\Bench\Group 0\Part 50\Key 5050' "$work/out.reg"
"$program" 'HKEY_LOCAL_MACHINE\Software' "$work/out.reg"
HIVEDUMP_VIEW=64 "$program" 'HKEY_LOCAL_MACHINE\Software' "$work/out.reg"
WINEPREFIX=$example "$program" "$work/out.reg"
# A profile that no object file found would build the program unguided, silently.
if [ -z "$(find "$profile" -name '*.gcda' | head -n 1)" ]; then
    echo "profile_training.sh: the training run wrote no profile into $profile" >&2
    exit 1
fi
rm -rf "$work"

#!/bin/sh
# Makes wine64 run 32-bit Windows programs, as root: Wine's 32-bit half
# (wine32:i386) beside wine64, and its 32-bit loader run by qemu-i386 through
# binfmt_misc, as this kernel cannot execute 32-bit programs itself.
#
# qemu comes from bookworm-backports (qemu-user 10): bookworm's own 7.2 spends
# about a minute of CPU starting every 32-bit process. Only that package is
# fetched, with an apt configuration of its own; the system's sources stay as
# they are.
#
# Exits 0 when the 32-bit loader runs, or says in one line why it cannot.
set -eu

loader=/usr/lib/wine/wine
qemu=/usr/local/lib/hivedump/qemu-i386
binfmt=/proc/sys/fs/binfmt_misc
entry=$binfmt/hivedump-qemu-i386

say() { echo "wine32.sh: $*" >&2; }

runs() { "$loader" --version >/dev/null 2>&1; }

if [ -f "$entry" ] && [ -x "$loader" ] && runs; then
    exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
    say "the 32-bit Windows program needs root once to set up (wine32:i386, qemu-i386 through binfmt_misc): run scripts/wine32.sh as root"
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive

if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
    dpkg --add-architecture i386
    "$(dirname "$0")/apt-update.sh"
    apt-get install -y --no-install-recommends wine32:i386
fi

if [ ! -x "$qemu" ]; then
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/deb"
    echo "deb http://deb.debian.org/debian bookworm-backports main" >"$work/sources.list"
    set -- -o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts=/dev/null \
        -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache" -o APT::Architecture=amd64 -o APT::Sandbox::User=root \
        -o APT::Architectures::=amd64
    "$(dirname "$0")/apt-update.sh" "$@"
    (cd "$work/deb" && apt-get "$@" download qemu-user/bookworm-backports)
    dpkg -x "$work"/deb/qemu-user_*.deb "$work/x"
    mkdir -p "$(dirname "$qemu")"
    install -m 755 "$work/x/usr/bin/qemu-i386" "$qemu"
fi
if ! "$qemu" --version >/dev/null 2>&1; then
    say "$qemu does not run"
    exit 1
fi

if [ ! -f "$binfmt/register" ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || {
        say "binfmt_misc cannot be mounted here (an unprivileged container?): 32-bit programs cannot run"
        exit 1
    }
fi
if [ ! -f "$entry" ]; then
    # i386 ELF, executables and shared objects alike (e_type 2 or 3, e_machine 3).
    # F: the interpreter is opened now, so it works in chroots and namespaces too.
    printf '%s' ':hivedump-qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F' \
        >"$binfmt/register" || {
        say "could not register qemu-i386 with binfmt_misc"
        exit 1
    }
fi
if ! runs; then
    say "$loader does not run through qemu-i386"
    exit 1
fi

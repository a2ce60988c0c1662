#!/bin/sh
# Builds the .deb from a configured and built tree, checks its control fields
# and contents, installs it, runs the installed program (the banner and the
# example export), renders the installed manual page, removes the package
# and checks that nothing of it is left.
#
# Usage: test_package.sh BUILD_DIR REPOSITORY VERSION
# Exit status 77 (skipped): no dpkg here, not root, or a hivedump already on
# this system that the test must not replace or remove.
set -eu
build=$(cd "$1" && pwd)
repo=$(cd "$2" && pwd)
version=$3

banner="HIVEDUMP Ver $version  (c) 2026 the HIVEDUMP authors"
maintainer="HIVEDUMP authors <maintainers@users.noreply.c-seed-965a5ee6.example>"

skip() {
    echo "skip: $*"
    exit 77
}
status=0
fail() {
    echo "FAIL: $*"
    status=1
}
stop() {
    echo "FAIL: $*"
    exit 1
}

command -v dpkg-deb >/dev/null 2>&1 || skip "dpkg-deb is missing: not a Debian system"
command -v dpkg-shlibdeps >/dev/null 2>&1 || stop "dpkg-shlibdeps is missing (Debian package dpkg-dev): the dependencies cannot be computed"
command -v cpack >/dev/null 2>&1 || stop "cpack is missing"

tmp=$(mktemp -d)
installed=no
cleanup() {
    if [ $installed = yes ]; then
        dpkg -r hivedump >/dev/null 2>&1 || true
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM

echo "== building the package"
(cd "$build" && cpack -G DEB -B "$tmp/out") >"$tmp/cpack.log" 2>&1 || {
    cat "$tmp/cpack.log"
    stop "cpack -G DEB failed"
}
set -- "$tmp"/out/*.deb
[ $# -eq 1 ] && [ -f "$1" ] || stop "cpack made no single .deb: $*"
deb=$1
echo "$deb"

echo "== control fields"
dpkg-deb -I "$deb"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = hivedump ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is '$(field Architecture)'"
[ "$(field Maintainer)" = "$maintainer" ] || fail "Maintainer is '$(field Maintainer)'"
[ "$(field Section)" = utils ] || fail "Section is '$(field Section)'"
depends=$(field Depends)
# Computed by dpkg-shlibdeps from the program's libraries: the C library and,
# for a C++ program linked the usual way, the C++ runtime.
case "$depends" in *libc6*) ;; *) fail "Depends does not name libc6: '$depends'" ;; esac
case "$depends" in *libstdc++6*) ;; *) fail "Depends does not name libstdc++6: '$depends'" ;; esac
description=$(field Description)
summary=$(printf '%s\n' "$description" | head -n 1)
[ "$summary" = "export a registry key and its subkeys to a REGEDIT4 file" ] || fail "Description summary is '$summary'"
[ "$(printf '%s\n' "$description" | wc -l)" -ge 2 ] || fail "Description has no long text"
printf '%s\n' "$description" | grep -q 'Wine prefix' || fail "the long description does not mention the Wine prefix"

echo "== contents"
dpkg-deb -c "$deb" >"$tmp/contents"
cat "$tmp/contents"
# Every entry lies below /usr; the program is executable and owned by root.
if awk '{ print $6 }' "$tmp/contents" | grep -v '^\./usr/' | grep -vx '\./'; then
    fail "the package puts files outside /usr"
fi
grep -q '^-rwxr-xr-x root/root .* \./usr/bin/hivedump$' "$tmp/contents" || fail "no executable ./usr/bin/hivedump owned by root"
grep -q ' \./usr/share/man/man1/hivedump\.1\.gz$' "$tmp/contents" || fail "no ./usr/share/man/man1/hivedump.1.gz"
dpkg-deb -x "$deb" "$tmp/root"
# The packaged page is the page in the repository, not a stale copy.
if [ -f "$tmp/root/usr/share/man/man1/hivedump.1.gz" ]; then
    gzip -dc "$tmp/root/usr/share/man/man1/hivedump.1.gz" | cmp -s - "$repo/doc/hivedump.1" ||
        fail "the packaged manual page differs from doc/hivedump.1"
fi

[ "$(id -u)" -eq 0 ] || skip "not root: the package was built and inspected but cannot be installed"
if dpkg-query -W -f='${Status}' hivedump 2>/dev/null | grep -q ' installed$' || [ -e /usr/bin/hivedump ]; then
    skip "a hivedump is already installed on this system; the test leaves it alone"
fi

echo "== dpkg -i"
dpkg -i "$deb" >"$tmp/install.log" 2>&1 || {
    cat "$tmp/install.log"
    stop "dpkg -i failed"
}
installed=yes
[ -x /usr/bin/hivedump ] || stop "/usr/bin/hivedump was not installed"

echo "== /usr/bin/hivedump -v"
mkdir "$tmp/run"
if output=$(cd "$tmp/run" && /usr/bin/hivedump -v); then
    [ "$output" = "$banner" ] || fail "hivedump -v printed '$output'"
else
    fail "hivedump -v ended with status $?"
fi
[ -z "$(ls -A "$tmp/run")" ] || fail "hivedump -v created a file"

prefix="$repo/examples/prefix"
if [ -f "$prefix/user.reg" ]; then
    echo "== the example export from the installed program"
    (cd "$prefix" && find . -type f -exec sha256sum {} + | sort) >"$tmp/prefix.before"
    if output=$(cd "$tmp/run" && env -u LANGUAGE LC_ALL=C HOME="$tmp/run" WINEPREFIX="$prefix" \
        /usr/bin/hivedump "$tmp/velmora.reg"); then
        [ -z "$output" ] || fail "the export printed '$output'"
    else
        fail "the export ended with status $? and printed '$output'"
    fi
    if [ -f "$tmp/velmora.reg" ]; then
        crlf=$(printf '\r')
        printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software]\r\n\r\n[HKEY_CURRENT_USER\\Software\\Velmora]\r\n' >"$tmp/head"
        head -c "$(wc -c <"$tmp/head")" "$tmp/velmora.reg" | cmp -s - "$tmp/head" ||
            fail "velmora.reg does not begin with the header, the ancestor header and the Velmora key"
        for key in 'Velmora\Editor' 'Velmora\Editor\Fonts'; do
            grep -qxF "[HKEY_CURRENT_USER\\Software\\$key]$crlf" "$tmp/velmora.reg" ||
                fail "velmora.reg has no block for $key"
        done
        # The installed program writes what the one in the build tree writes.
        if [ -x "$build/hivedump" ]; then
            (cd "$tmp/run" && env -u LANGUAGE LC_ALL=C HOME="$tmp/run" WINEPREFIX="$prefix" \
                "$build/hivedump" "$tmp/velmora-build.reg") >/dev/null || true
            cmp -s "$tmp/velmora.reg" "$tmp/velmora-build.reg" ||
                fail "the installed program and build/hivedump export different bytes"
        fi
    else
        fail "the export made no file"
    fi
    (cd "$prefix" && find . -type f -exec sha256sum {} + | sort) >"$tmp/prefix.after"
    cmp -s "$tmp/prefix.before" "$tmp/prefix.after" || fail "the export changed the example prefix"
else
    echo "== no examples/prefix/user.reg: the example export is not run"
fi

echo "== the installed manual page"
page=/usr/share/man/man1/hivedump.1.gz
if [ ! -f $page ] && grep -rqs '^path-exclude.*/usr/share/man' /etc/dpkg/dpkg.cfg /etc/dpkg/dpkg.cfg.d; then
    # This system's dpkg is told to drop manual pages (minimal images).
    echo "dpkg here excludes manual pages; rendering the page from the package"
    page="$tmp/root/usr/share/man/man1/hivedump.1.gz"
fi
if [ -f $page ]; then
    gzip -dc $page >"$tmp/hivedump.1"
    warnings=$(groff -ww -man -z "$tmp/hivedump.1" 2>&1) || fail "groff failed on the installed page"
    [ -z "$warnings" ] || fail "groff warns about the installed page: $warnings"
    if command -v man >/dev/null 2>&1; then
        rendered=$(MANROFFOPT=-ww MANWIDTH=80 man -l $page 2>"$tmp/man.err") || fail "man -l failed"
        [ ! -s "$tmp/man.err" ] || fail "man -l warns: $(cat "$tmp/man.err")"
        printf '%s\n' "$rendered" | grep -q 'Usage : hivedump \[-v\] \[key\] outfile' ||
            fail "man -l does not show the usage line"
        if [ $page = /usr/share/man/man1/hivedump.1.gz ]; then
            found=$(man -w hivedump 2>/dev/null) || true
            [ "$found" = $page ] || fail "man -w hivedump finds '$found', not $page"
        fi
    fi
else
    fail "$page was not installed"
fi

echo "== dpkg -r hivedump"
dpkg -r hivedump >"$tmp/remove.log" 2>&1 || {
    cat "$tmp/remove.log"
    stop "dpkg -r failed"
}
installed=no
[ ! -e /usr/bin/hivedump ] || fail "/usr/bin/hivedump is still there after dpkg -r"
awk '$1 !~ /^d/ { print substr($6, 2) }' "$tmp/contents" | while read -r file; do
    [ ! -e "$file" ] || echo "$file"
done >"$tmp/left"
[ ! -s "$tmp/left" ] || fail "files left after dpkg -r: $(cat "$tmp/left")"
if dpkg-query -W -f='${Status}' hivedump 2>/dev/null | grep -q ' installed$'; then
    fail "dpkg still lists hivedump as installed"
fi

[ $status -eq 0 ] && echo "ok: the package builds, installs, runs and removes cleanly"
exit $status

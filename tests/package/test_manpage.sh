#!/bin/sh
# The manual page renders without a single warning, and what a reader sees
# in it matches the program: the usage line, the banner of this version and
# the default key, with their backslashes and blanks intact.
# Usage: test_manpage.sh PAGE VERSION
set -eu
page=$1
version=$2

if ! command -v groff >/dev/null 2>&1; then
    echo "skip: groff is not installed (Debian package groff-base)"
    exit 77
fi

status=0
fail() {
    echo "FAIL: $*"
    status=1
}

warnings=$(groff -ww -man -z "$page" 2>&1) || fail "groff failed on $page"
[ -z "$warnings" ] || fail "groff warns about $page:
$warnings"

# Wide lines, so that no message is broken across two; -P-cbou drops the
# overstriking that marks bold and italic.
text=$(groff -man -Tascii -P-cbou -rLL=200n "$page" 2>/dev/null)
expect_line() {
    printf '%s\n' "$text" | grep -qxF -- "       $1" || fail "no line \"$1\" in the rendered page"
}
expect_text() {
    printf '%s\n' "$text" | grep -qF -- "$1" || fail "no \"$1\" in the rendered page"
}

expect_line 'hivedump [-v] [key] outfile'
expect_line 'Usage : hivedump [-v] [key] outfile'
expect_line "HIVEDUMP Ver $version  (c) 2026 the HIVEDUMP authors"
expect_line "can't create file [outfile]"
expect_line "can't write file [outfile]"
expect_line "can't read registry [path]"
expect_line 'wineserver is running on this prefix: its files may not hold its latest changes yet (wineserver -w writes them out)'
expect_line 'not found master key in [name]'
expect_line "can't export key [name]"
expect_line 'HIVEDUMP_VIEW must be 32 or 64, or unset'
expect_line 'no enough memory'
expect_text 'HKEY_CURRENT_USER\Software\Velmora is exported'
expect_text 'hex(b):'
for section in NAME SYNOPSIS DESCRIPTION 'LINUX REGISTRY' 'EXIT STATUS' DIAGNOSTICS EXAMPLES FILES; do
    printf '%s\n' "$text" | grep -qx -- "$section" || fail "no section $section"
done
# The page footer names the version too.
printf '%s\n' "$text" | grep -q "^HIVEDUMP $version " || fail "the footer does not name version $version"

[ $status -eq 0 ] && echo "ok: $page"
exit $status

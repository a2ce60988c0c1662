#!/bin/sh
# Installs the Debian packages a step needs: "build" for the Linux tool,
# "test" for everything the full test run uses as well, and the 32-bit
# program's place under Wine (scripts/wine32.sh).
set -eu

build_packages="cmake make g++"
test_packages="$build_packages libgtest-dev libgmock-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 locales clang libclang-rt-14-dev clang-format binutils-mingw-w64-x86-64 groff-base man-db dpkg-dev file procps python3"

case "${1:-build}" in
build) wanted=$build_packages ;;
test) wanted=$test_packages ;;
*) echo "usage: $0 build|test" >&2; exit 2 ;;
esac

missing=
for package in $wanted; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing="$missing $package"
done

if [ "$(id -u)" -eq 0 ]; then as_root=; else as_root=sudo; fi
export DEBIAN_FRONTEND=noninteractive
if [ -n "$missing" ]; then
    $as_root "$(dirname "$0")/apt-update.sh"
    # shellcheck disable=SC2086
    $as_root apt-get install -y --no-install-recommends $missing
fi

# The tests run the program shipped, the 32-bit one, under Wine. Where that
# cannot be set up, the tests that need it fail and say why; the rest run.
if [ "${1:-build}" = test ]; then
    $as_root "$(dirname "$0")/wine32.sh" || echo "install-deps.sh: the 32-bit program cannot run here; its tests will fail" >&2
fi

#!/bin/sh
# Every test: installs what it needs, builds the Linux tool, the two Windows
# programs and a sanitizer build, and runs the whole suite in each.
set -eu
cd "$(dirname "$0")/.."

scripts/install-deps.sh test
scripts/locales.sh

jobs=$(nproc 2>/dev/null || echo 2)

echo "== Windows builds"
cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
cmake --build build-win32 -j "$jobs"
(cd build-win32 && cpack -G ZIP >/dev/null && ls hivedump-*-win32.zip)
cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
cmake --build build-win64 -j "$jobs"

echo "== Linux build and tests (the Wine end-to-end tests included)"
cmake -S . -B build -DHIVEDUMP_WINDOWS_EXE="$PWD/build-win64/hivedump.exe" \
    -DHIVEDUMP_WINDOWS_EXE32="$PWD/build-win32/hivedump.exe" >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DHIVEDUMP_SANITIZE=ON -DHIVEDUMP_WINE_TESTS=OFF >/dev/null
cmake --build build-sanitize -j "$jobs"
ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --test-dir build-sanitize --output-on-failure -j "$jobs"

echo "== Fuzzing, a minute per target"
if command -v clang++ >/dev/null; then
    fuzz/run.sh 60
else
    echo "clang++ missing: fuzzing skipped"
fi

echo "== Formatting"
clang-format --dry-run --Werror $(git ls-files '*.cpp' '*.h' 2>/dev/null || find src tests -name '*.cpp' -o -name '*.h')

echo "all tests passed"

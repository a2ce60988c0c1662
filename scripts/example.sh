#!/bin/sh
# The main job on the bundled example registry: builds the Linux tool and
# exports the default key, HKEY_CURRENT_USER\Software\Velmora, from the
# example Wine prefix into velmora.reg.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh build
cmake -S . -B build >/dev/null
cmake --build build --target hivedump -j "$(nproc 2>/dev/null || echo 2)"
WINEPREFIX=examples/prefix build/hivedump velmora.reg
cat velmora.reg

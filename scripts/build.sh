#!/bin/sh
# Installs what is missing and builds Norvik, the stand-in service and the tests into build/.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# A compiler cache, where there is one, makes the next clean build quick.
launcher=""
command -v ccache >/dev/null && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo $launcher >/dev/null
cmake --build build -j"$(nproc)"

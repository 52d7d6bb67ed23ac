#!/bin/sh
# Installs what is missing and builds Norvik, the stand-in service and the tests into build/.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# A compiler cache, where there is one, makes the next clean build quick.
launcher=""
command -v ccache >/dev/null && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
# Paths relative to the checkout, so another clone of the same sources finds them in the cache.
CCACHE_BASEDIR="$(pwd)"
export CCACHE_BASEDIR
# NORVIK_WERROR=ON (the check script's build) makes every warning an error; unset, the
# build keeps what it was configured with, so the tests reuse the checked build.
werror=""
[ -n "${NORVIK_WERROR:-}" ] && werror="-DNORVIK_WERROR=$NORVIK_WERROR"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo $werror $launcher >/dev/null
cmake --build build -j"$(nproc)"

#!/bin/sh
# Installs what is missing, builds, and runs the whole test suite under a private X server.
set -eu
cd "$(dirname "$0")/.."
scripts/build.sh
xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir build --output-on-failure -j"$(nproc)" --timeout 300

#!/bin/sh
# Builds Norvik and runs it; with no "ServiceUrl" in ~/.Norvik it starts the bundled service
# with its demo videos itself and ends it when it quits.
set -eu
cd "$(dirname "$0")/.."
scripts/build.sh
exec build/norvik "$@"

#!/bin/sh
# Builds Norvik and runs it; with no "ServiceUrl" in ~/.Norvik it starts the bundled service
# itself (its demo videos, and any other watch page through yt-dlp) and ends it when it quits.
set -eu
cd "$(dirname "$0")/.."
scripts/build.sh
exec build/norvik "$@"

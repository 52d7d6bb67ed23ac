#!/bin/sh
# Builds Norvik, starts the bundled service in the background (its demo videos, and any other
# watch page through yt-dlp), runs Norvik against it, and ends the service when Norvik ends.
set -eu
cd "$(dirname "$0")/.."
scripts/build.sh
build/norvik-service --catalogue service/demo/catalogue.json --resolver yt-dlp &
service=$!
trap 'kill $service 2>/dev/null; wait $service 2>/dev/null || true' EXIT INT TERM
build/norvik "$@"

#!/bin/sh
# Builds Norvik, starts the bundled stand-in service with its demo videos in the background,
# runs Norvik against it, and ends the service when Norvik ends.
set -eu
cd "$(dirname "$0")/.."
scripts/build.sh
build/norvik-service --catalogue service/demo/catalogue.json &
service=$!
trap 'kill $service 2>/dev/null; wait $service 2>/dev/null || true' EXIT INT TERM
build/norvik "$@"

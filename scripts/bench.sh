#!/bin/sh
# Builds the release build with the benchmark programs, runs Norvik's benchmarks against
# curl, ffmpeg and a bare toolkit window, prints the table and writes it to bench/RESULTS.md.
#
#   scripts/bench.sh            the full run (about ten minutes on two cores)
#   scripts/bench.sh --quick    small sizes and short waits, for development; its table goes
#                               to build-release/RESULTS-quick.md and leaves bench/RESULTS.md
#   BENCH_RUNS=N or --runs N    interleaved runs per figure (5 by default, 2 when quick)
#   --only downloads|mp3|idle   one part (repeatable)
#
# Exits 0 whether or not the targets are met; non-zero only when a benchmark could not run.
set -eu
cd "$(dirname "$0")/.."
# What only the benchmarks need: the tools they compare against and the X client library.
scripts/install-deps.sh curl ffmpeg xvfb xclip xdotool libx11-dev python3

build=build-release
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DNORVIK_BENCH=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target norvik bench_file_server bench_download \
    bench_make_flv bench_mp3 bench_baseline_window bench_baseline_window_curl bench_window_map

results=bench/RESULTS.md
for arg in "$@"; do
    [ "$arg" = "--quick" ] && results="$build/RESULTS-quick.md"
done
if [ -n "${BENCH_RUNS:-}" ]; then
    set -- --runs "$BENCH_RUNS" "$@"
fi
# Debian's interpreter: the first python3 on PATH may be another one.
exec /usr/bin/python3 bench/run_bench.py --build "$build" --work "$build/bench-work" \
    --results "$results" "$@"

#!/bin/sh
# Builds the libFuzzer targets with clang in build-fuzz and runs each in turn for a bounded
# time, from the seeds in fuzz/corpus. Not part of the test run.
#   scripts/fuzz.sh [seconds-per-target]      (or FUZZ_SECONDS=...; default 60)
# Exits 1 when a target found a crash or a broken invariant, naming the saved input.
set -eu
cd "$(dirname "$0")/.."

seconds="${1:-${FUZZ_SECONDS:-60}}"
case "$seconds" in
'' | *[!0-9]*)
    echo "fuzz.sh: the time per target must be whole seconds, not '$seconds'" >&2
    exit 2
    ;;
esac
# libFuzzer stops itself at max_total_time; this only bounds a target that hangs past it.
grace_seconds=120
# A single input that runs this long counts as a fault (a hang), not as slow fuzzing.
input_timeout_seconds=10
rss_limit_mb=2048
targets="fuzz_reply_format fuzz_video_page_url fuzz_output_path fuzz_stream_audio_exctractor"

scripts/install-deps.sh clang libclang-rt-14-dev

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DNORVIK_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-fuzz -j2 --target norvik_fuzzers

found=""
for target in $targets; do
    corpus="build-fuzz/fuzz-corpus/$target"
    artifacts="build-fuzz/fuzz-artifacts/$target"
    log="build-fuzz/fuzz-logs/$target.log"
    mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
    echo "fuzz.sh: $target for $seconds s (log: $log)"
    # New inputs go to the first folder; the committed seeds are only read.
    status=0
    timeout $((seconds + grace_seconds)) "build-fuzz/fuzz/$target" \
        -max_total_time="$seconds" -timeout="$input_timeout_seconds" \
        -rss_limit_mb="$rss_limit_mb" -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$corpus" "fuzz/corpus/$target" >"$log" 2>&1 || status=$?
    grep -E '^#[0-9]+.*(cov|DONE)' "$log" | tail -n 1 || true
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec)' "$log" || true
    if [ "$status" -ne 0 ]; then
        grep -E 'broken invariant|ERROR: |SUMMARY: |wx assert' "$log" | head -n 5 || true
        saved=$(grep -o "Test unit written to [^ ]*" "$log" | sed 's/Test unit written to //' || true)
        echo "fuzz.sh: $target failed (exit $status); input: ${saved:-none saved, see $log}" >&2
        found="$found $target"
    fi
done

if [ -n "$found" ]; then
    echo "fuzz.sh: faults found by:$found" >&2
    exit 1
fi
echo "fuzz.sh: no faults found"

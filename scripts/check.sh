#!/bin/sh
# The checks CI runs before the tests: formatting, a build with warnings as errors, the unit
# and service tests under AddressSanitizer and UndefinedBehaviorSanitizer, the download tests
# under ThreadSanitizer, and clang-tidy. Each step says its time; the first failure ends it.
#   scripts/check.sh                 all steps
#   scripts/check.sh format tidy     some: format, werror, asan, tsan, tidy
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc)
launcher=""
command -v ccache >/dev/null && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
# Paths relative to the checkout, so another clone of the same sources finds them in the cache.
CCACHE_BASEDIR="$(pwd)"
export CCACHE_BASEDIR

# Our own C++ files; generated and third-party ones are not in git.
sources() { git ls-files '*.cpp' '*.h'; }
# The production sources clang-tidy reads. The tests are left out: GoogleTest's macros are
# what the bugprone checks flag there, not faults of ours.
production() {
    git ls-files 'app/*.cpp' 'config/*.cpp' 'lookup/*.cpp' 'update/*.cpp' 'download/*.cpp' \
        'ui/*.cpp' 'service/*.cpp'
}

step_format() {
    sources | xargs clang-format --dry-run --Werror
}

step_werror() {
    NORVIK_WERROR=ON scripts/build.sh
}

# Memory errors and undefined behaviour in the unit and service tests. The service program
# that the service tests start is built with the same sanitizers.
step_asan() {
    scripts/install-deps.sh
    cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DNORVIK_SANITIZE=address,undefined \
        $launcher >/dev/null
    cmake --build build-asan -j"$jobs" --target norvik_unit_tests norvik_service_unit_tests \
        norvik_service_tests
    # The toolkit and GLib keep caches until exit that LeakSanitizer would list as leaks.
    ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
        ctest --test-dir build-asan -j"$jobs" --output-on-failure --timeout 300 --repeat until-pass:2 -L 'unit|service'
}

# Data races between the download jobs' threads and the window's.
step_tsan() {
    scripts/install-deps.sh
    cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DNORVIK_SANITIZE=thread \
        $launcher >/dev/null
    cmake --build build-tsan -j"$jobs" --target norvik_unit_tests
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" build-tsan/tests/norvik_unit_tests \
        --gtest_filter="$TSAN_TESTS"
}
# The unit tests that run threads of ours: jobs, transfers, lookups.
TSAN_TESTS='Downloader*:StopEveryPhase*:Worker*:StreamTransfer*:TempFileRegistry*:AtomicOutputFile*:LookupRequest*'

step_tidy() {
    [ -f build/compile_commands.json ] || step_werror
    if ! production | xargs run-clang-tidy -quiet -p build -j "$jobs" >build/clang-tidy.log 2>&1
    then
        grep -E 'warning:|error:' build/clang-tidy.log | grep -v 'warnings generated' | sort -u
        echo "check.sh: clang-tidy has findings (build/clang-tidy.log)"
        return 1
    fi
}

run() {
    start=$(date +%s)
    echo "check.sh: $1"
    "step_$1"
    echo "check.sh: $1 passed in $(($(date +%s) - start)) s"
}

if [ $# -gt 0 ]; then
    for s in "$@"; do run "$s"; done
else
    for s in format werror asan tsan tidy; do run "$s"; done
fi

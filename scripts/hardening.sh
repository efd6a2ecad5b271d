#!/usr/bin/env bash
# The sanitizer and fuzz part of the tests, run after the main test run:
#   1. the core and kivtool tests again, built with g++ under AddressSanitizer and
#      UndefinedBehaviorSanitizer (build-asan);
#   2. the fuzz targets, built with clang's libFuzzer (build-fuzz);
#   3. a regression pass: every fuzz target over its generated corpus and the committed
#      inputs in fuzz/regressions/<target>/, plus a fixed number of new inputs.
# Any failure fails the script; the last line says what passed or what failed.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
asan="${KIV_ASAN_BUILD:-$root/build-asan}"
fuzz="${KIV_FUZZ_BUILD:-$root/build-fuzz}"
regress_runs="${KIV_FUZZ_REGRESS_RUNS:-2000}"
jobs="$(nproc)"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
[ "$jobs" -gt 2 ] || jobs=2

started=$(date +%s)
stage="start"
on_exit() {
    local status=$?
    if [ "$status" -ne 0 ]; then
        echo "hardening: FAILED at $stage (exit $status) after $(($(date +%s) - started))s"
    fi
}
trap on_exit EXIT

elapsed() { echo "$(($(date +%s) - started))s"; }

stage="the sanitizer build"
echo "hardening: building the sanitizer build in $asan"
cmake -S "$root" -B "$asan" -G Ninja "${launcher[@]}" -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" -DKIV_SANITIZE=ON -DKIV_BUILD_UI=OFF \
    -DKIV_BUILD_TOOLS=ON -DKIV_BUILD_BENCH=OFF >/dev/null
cmake --build "$asan" -j "$jobs" >"$asan/build.log" 2>&1 || {
    grep -E 'error|FAILED' "$asan/build.log" | head -20
    exit 1
}

stage="the sanitizer tests"
# The test run's own summary stays in its log, so the main run's is the one that counts.
ctest_log="$asan/ctest.log"
if ! (cd "$asan" &&
    ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1" \
        UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
        ctest -R '^(core|kivtool)\.' --no-tests=error --output-on-failure -j "$jobs" \
        >"$ctest_log" 2>&1); then
    sed -n '/The following tests FAILED/,$p' "$ctest_log"
    grep -m5 -E 'ERROR: AddressSanitizer|runtime error|ERROR: LeakSanitizer' "$ctest_log" || true
    echo "hardening: the full output is in $ctest_log"
    exit 1
fi
sanitized="$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$ctest_log")"
echo "hardening: ${sanitized:-all} core and kivtool tests pass under the sanitizers ($(elapsed))"

stage="the fuzz build"
echo "hardening: building the fuzz targets in $fuzz"
cmake -S "$root/fuzz" -B "$fuzz" -G Ninja "${launcher[@]}" -DCMAKE_CXX_COMPILER="${CXX_FUZZ:-clang++-14}" \
    >/dev/null
cmake --build "$fuzz" -j "$jobs" >"$fuzz/build.log" 2>&1 || {
    grep -E 'error|FAILED' "$fuzz/build.log" | head -20
    exit 1
}

stage="the fuzz regression pass"
KIV_FUZZ_BUILD="$fuzz" KIV_FUZZ_JOBS="$jobs" bash "$root/fuzz/run.sh" --regress "$regress_runs"

stage="done"
echo "hardening: passed: sanitizer tests and fuzz regression pass in $(elapsed)"

#!/usr/bin/env bash
# Builds the benchmarks, makes their inputs in a temporary folder, then times every case
# beside its baseline and prints the tables (bench/measure.py: how rows are measured and
# judged). Exits 1 when a checked row misses its target twice in a row.
# Usage: bench/run.sh [--keep]   (KIV_BENCH_ROUNDS: measured rounds, at least and default 9;
# KIV_BENCH_TRIAL=1: one round, to check that every case runs; KIV_BENCH_GROUPS=png_sheets,gif:
# those groups of bench/measure.py alone)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-bench"
started=$SECONDS
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
bash "$root/scripts/kiv.sh" deps
cmake -S "$root" -B "$build" -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=Release -DKIV_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target make_inputs bench_core bench_ui kivtool \
    >"$build/build.log" 2>&1 || {
    grep -E 'error|FAILED' "$build/build.log" | head -20 >&2
    echo "bench: the build failed; log: $build/build.log" >&2
    exit 1
}

work="$(mktemp -d "${TMPDIR:-/tmp}/kivbench.XXXXXX")"
[ "${1:-}" = "--keep" ] || trap 'rm -rf "$work"' EXIT
echo "Making inputs in $work ..." >&2
# The picture groups need only the small inputs (no 1 GiB archives).
small=
if [ -n "${KIV_BENCH_GROUPS:-}" ]; then
    small=small
    for group in ${KIV_BENCH_GROUPS//,/ }; do
        case $group in png_sheets | gif) ;; *) small= ;; esac
    done
fi
"$build/bench/make_inputs" "$work" ${small:+"$small"}

status=0
python3 "$root/bench/measure.py" "$work" "$build" || status=$?
echo "bench: $((SECONDS - started)) s in all" >&2
exit $status

#!/usr/bin/env bash
# Runs every fuzz target and prints, per target, how many inputs it ran and how many
# crashes (crash, leak, timeout or out-of-memory inputs) it found.
#   fuzz/run.sh SECONDS        fuzz each target for SECONDS, growing its corpus
#   fuzz/run.sh --regress N    run each target over its whole corpus (the generated seeds,
#                              the grown corpus, fuzz/regressions/<target>) plus N new inputs
# Environment: KIV_FUZZ_BUILD (build folder, default build-fuzz), KIV_FUZZ_JOBS (targets run
# side by side, default 2), CXX_FUZZ (compiler, default clang++-14).
# Crashing inputs land in <build>/artifacts/<target>/; keep each one, once fixed, in
# fuzz/regressions/<target>/ so every later run repeats it.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${KIV_FUZZ_BUILD:-$root/build-fuzz}"
jobs="${KIV_FUZZ_JOBS:-2}"
targets=(fuzz_bitmap fuzz_archive fuzz_sprite fuzz_reencode fuzz_png fuzz_diff fuzz_mod)

usage() {
    echo "usage: fuzz/run.sh SECONDS | fuzz/run.sh --regress N" >&2
    exit 2
}

mode=timed
case "${1:-}" in
--regress)
    mode=regress
    count="${2:-}"
    ;;
'' | -*) usage ;;
*) count="$1" ;;
esac
[[ "$count" =~ ^[0-9]+$ ]] && [ "$count" -gt 0 ] || usage

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="${CXX_FUZZ:-clang++-14}" \
        >/dev/null
fi
mkdir -p "$build/logs"
ninja -C "$build" -j 2 >"$build/logs/build.log" 2>&1 || {
    grep -E 'error|FAILED' "$build/logs/build.log" | head -20 >&2
    echo "fuzz: the build failed; log: $build/logs/build.log" >&2
    exit 1
}

count_files() {
    local n=0
    for dir in "$@"; do
        [ -d "$dir" ] && n=$((n + $(find "$dir" -maxdepth 1 -type f ! -name '.*' | wc -l)))
    done
    echo "$n"
}

count_artifacts() {
    find "$1" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
        -o -name 'oom-*' \) | wc -l
}

# Runs one target; leaves "<executions> <crashes> <corpus size> <status>" in its .result file.
run_target() {
    local target="$1"
    local log="$build/logs/$target.log"
    local artifacts="$build/artifacts/$target"
    local seeds="$build/seeds/$target"
    local corpus="$build/corpus/$target"
    local regressions="$root/fuzz/regressions/$target"
    mkdir -p "$artifacts" "$corpus" "$(dirname "$log")"

    # New inputs go to the first folder: the grown corpus, never the generated seeds (the
    # build rewrites those).
    local inputs=("$corpus" "$seeds")
    [ -d "$regressions" ] && inputs+=("$regressions")
    local options=(-rss_limit_mb=2048 -timeout=10 -print_final_stats=1
                   -artifact_prefix="$artifacts/")
    local scratch=""
    if [ "$mode" = regress ]; then
        # New inputs go to a folder thrown away afterwards, so a regression pass never
        # changes the corpus; a fixed seed makes the pass repeat exactly.
        scratch="$(mktemp -d)"
        local known
        known="$(count_files "${inputs[@]}")"
        options+=(-runs=$((known + count)) -seed=1)
        inputs=("$scratch" "${inputs[@]}")
    else
        options+=(-max_total_time="$count")
    fi

    # The target's scratch folders go under a temporary folder of this run, removed even
    # when the target stops on a crash and cannot clean up after itself.
    local tmp
    tmp="$(mktemp -d)"
    local before after status=0
    touch "$build/logs/$target.start"
    before="$(count_artifacts "$artifacts")"
    TMPDIR="$tmp" "$build/$target" "${options[@]}" "${inputs[@]}" >"$log" 2>&1 || status=$?
    after="$(count_artifacts "$artifacts")"
    rm -rf "$tmp"
    [ -n "$scratch" ] && rm -rf "$scratch"

    local executions corpus_size
    executions="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
    corpus_size="$(grep -o 'corp: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)"
    echo "${executions:-0} $((after - before)) ${corpus_size:-0} $status" >"$build/logs/$target.result"
}

started=$(date +%s)
running=0
rm -f "$build"/logs/*.result
for target in "${targets[@]}"; do
    run_target "$target" &
    running=$((running + 1))
    if [ "$running" -ge "$jobs" ]; then
        wait -n || true
        running=$((running - 1))
    fi
done
wait || true

failed=0
total_crashes=0
printf '%-15s %12s %8s %8s\n' target executions crashes corpus
for target in "${targets[@]}"; do
    if [ ! -f "$build/logs/$target.result" ]; then
        echo "  $target did not run" >&2
        failed=$((failed + 1))
        continue
    fi
    read -r executions crashes corpus_size status <"$build/logs/$target.result"
    printf '%-15s %12s %8s %8s\n' "$target" "$executions" "$crashes" "$corpus_size"
    if [ "$crashes" -gt 0 ] || [ "$status" -ne 0 ]; then
        failed=$((failed + 1))
        total_crashes=$((total_crashes + crashes))
        echo "  $target failed (exit $status); log: $build/logs/$target.log" >&2
        grep -m1 -E 'ERROR: |SUMMARY: |kivfuzz: ' "$build/logs/$target.log" | sed 's/^/  /' >&2 || true
        find "$build/artifacts/$target" -maxdepth 1 -type f -newer "$build/logs/$target.start" \
            -printf '  input: %p\n' >&2 2>/dev/null || true
    fi
done
elapsed=$(($(date +%s) - started))
if [ "$failed" -gt 0 ]; then
    echo "fuzz ($mode): $failed of ${#targets[@]} targets failed, $total_crashes crashing inputs, ${elapsed}s"
    exit 1
fi
echo "fuzz ($mode): ${#targets[@]} targets, no crashes, ${elapsed}s"

#!/usr/bin/env bash
# Builds the benchmarks, makes their inputs in a temporary folder, runs every case beside
# its baseline, and prints one table: case, our time, baseline time, ratio, target, peak
# memory. Usage: bench/run.sh [--keep]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-bench"
bash "$root/scripts/kiv.sh" deps
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKIV_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target make_inputs bench_core bench_ui kivtool \
    >"$build/build.log" 2>&1 || {
    grep -E 'error|FAILED' "$build/build.log" | head -20 >&2
    echo "bench: the build failed; log: $build/build.log" >&2
    exit 1
}

work="$(mktemp -d "${TMPDIR:-/tmp}/kivbench.XXXXXX")"
[ "${1:-}" = "--keep" ] || trap 'rm -rf "$work"' EXIT
export KIV_BENCH_DIR="$work"
echo "Making inputs in $work ..." >&2
"$build/bench/make_inputs" "$work"

kivtool="$build/tools/kivtool/kivtool"
results="$work/results.tsv"
: >"$results"

# Runs a command REPS times and records the best wall time and the largest peak RSS.
measure() { # name reps command...
    local name="$1" reps="$2"
    shift 2
    local best="" peak=0
    for _ in $(seq "$reps"); do
        # Dirty pages of the previous run must not be flushed on this one's time.
        sync
        /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" >/dev/null 2>"$work/command.log" || {
            cat "$work/command.log" "$work/time.txt" >&2
            exit 1
        }
        read -r secs kb <"$work/time.txt"
        if [ -z "$best" ] || awk "BEGIN{exit !($secs < $best)}"; then best="$secs"; fi
        [ "$kb" -gt "$peak" ] && peak="$kb"
    done
    printf '%s\t%s\t%s\n' "$name" "$best" "$peak" >>"$results"
}

cd "$work"
echo "Replace and Extract against cp ..." >&2
for _ in 1 2 3 4 5; do
    measure replace 1 "$kivtool" replace big.dat m4.s16 --twin m4.s17 -o out.dat
    rm -f out.dat
    measure replace_cp 1 cp big.dat copy.dat
    rm -f copy.dat
    measure extract 1 "$kivtool" extract big.dat big.s16 -o big.out
    rm -f big.out
    measure extract_cp 1 cp plain512.bin plain.copy
    rm -f plain.copy
done
mkdir -p edited && cp m4.s17 edited/m4.s16
for _ in 1 2 3; do
    measure reimport 1 "$kivtool" reimport big.dat edited -o re.dat
    rm -f re.dat
done

echo "In-process cases ..." >&2
for b in bench_core bench_ui; do
    "$build/bench/$b" --benchmark_format=json --benchmark_min_time=0.5 >"$work/$b.json" \
        2>"$work/$b.log" || {
        cat "$work/$b.log" >&2
        exit 1
    }
done

python3 - "$results" "$work/bench_core.json" "$work/bench_ui.json" <<'PY'
import json, sys
from collections import defaultdict

runs = defaultdict(list)
for line in open(sys.argv[1]):
    name, secs, kb = line.split("\t")
    runs[name].append((float(secs), int(kb)))
def best(name):
    r = runs.get(name)
    return (min(s for s, _ in r), max(k for _, k in r)) if r else (None, None)

times = {}
for path in sys.argv[2:]:
    for b in json.load(open(path))["benchmarks"]:
        if b.get("error_occurred"):
            print(f"{b['name']}: {b.get('error_message', 'failed')}", file=sys.stderr)
            continue
        scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
        times[b["name"]] = b["real_time"] * scale

rows = []
def add(case, ours, base, target, limit=None, peak=None, peak_limit=None):
    if ours is None or base is None:
        rows.append((case, "-", "-", "-", target, "-", "not run"))
        return
    ratio = ours / base
    ok = limit is None or ratio <= limit
    if peak_limit is not None and peak is not None:
        ok = ok and peak <= peak_limit
    mem = f"{peak / 1024:.1f} MiB" if peak is not None else ""
    result = "reported" if limit is None and peak_limit is None else "met" if ok else "MISSED"
    rows.append((case, fmt(ours), fmt(base), f"{ratio:.2f}", target, mem, result))
def fmt(s):
    return f"{s * 1e3:.3f} ms" if s < 1 else f"{s:.2f} s"

r, rk = best("replace"); c, _ = best("replace_cp")
add("Replace, middle member of a 1 GiB archive (kivtool)", r, c, "<= 1.3, <= 64 MiB", 1.3, rk, 64 * 1024)
e, ek = best("extract"); c, _ = best("extract_cp")
add("Extract of a 512 MiB member (kivtool)", e, c, "<= 1.3, <= 64 MiB", 1.3, ek, 64 * 1024)
m, mk = best("reimport"); c, _ = best("replace_cp")
add("Reimport of one member into a 1 GiB archive (kivtool)", m, c, "<= 1.3, <= 64 MiB", 1.3, mk, 64 * 1024)
t = times.get
add("DecodeIcon, raw 640 x 480", t("BM_DecodeRaw"), t("BM_DecodeRaw_Baseline"), "<= 2", 2)
add("DecodeIcon, run-length 640 x 480", t("BM_DecodeRle"), t("BM_DecodeRle_Baseline"), "<= 2", 2)
add("ReencodeIcon, 642 x 482 into 1,000 icons", t("BM_Reencode"), t("BM_Reencode_Baseline"), "report")
add("Bitmap load, 4096 x 4096", t("BM_BitmapLoad"), t("BM_QtBitmapLoad"), "<= 1 (QImage)", 1)
add("Bitmap save, 4096 x 4096", t("BM_BitmapSave"), t("BM_QtBitmapSave"), "<= 1 (QImage)", 1)
lst = t("BM_ListArchive100k")
add("List 100,000 members into InfoGrid", lst, t("BM_ListArchive100k_Baseline"), "< 0.5 s absolute")
if lst is not None and rows[-1][-1] != "not run":
    rows[-1] = rows[-1][:-1] + ("met" if lst < 0.5 else "MISSED",)
add("Select a 1,000-icon member", t("BM_SelectMember1000"), t("BM_SelectMember1000_Baseline"), "report")

head = ("case", "ours", "baseline", "ratio", "target", "peak memory", "result")
widths = [max(len(str(x[i])) for x in rows + [head]) for i in range(len(head))]
line = lambda r: "| " + " | ".join(str(v).ljust(w) for v, w in zip(r, widths)) + " |"
print(line(head))
print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
for r in rows:
    print(line(r))
PY

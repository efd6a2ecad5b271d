#!/usr/bin/env bash
# Builds the benchmarks, makes their inputs in a temporary folder, runs every case beside
# its baseline, and prints two tables: the copy cases (whole kivtool processes timed with
# hyperfine, in two regimes) and the in-process cases. Exits 1 when a target is missed.
# Usage: bench/run.sh [--keep]   (KIV_BENCH_ROUNDS: measured rounds, default 5)
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
rounds="${KIV_BENCH_ROUNDS:-5}"
load_before="$(cut -d' ' -f1-3 /proc/loadavg)"
cd "$work"
mkdir -p edited && cp m4.s17 edited/m4.s16

# The byte range of the 512 MiB member, for dd's copy of the same bytes.
read -r start finish < <("$kivtool" list big.dat | awk '$1 == "big.s16" { print $2, $3 }')
start=$((16#$start))
length=$((16#$finish - start))

# Every command of a case and the file it writes. Baselines copy the same bytes: cp the whole
# archive, dd the member's range; their "+ sync" twins also wait until the output is on disk,
# as a durable save does.
declare -A command output
add_command() { # label output command
    output[$1]="$2"
    command[$1]="$3"
}
add_command replace replace.out "$kivtool replace big.dat m4.s16 --twin m4.s17 -o replace.out"
add_command reimport reimport.out "$kivtool reimport big.dat edited -o reimport.out"
add_command cp cp.out "cp big.dat cp.out"
add_command cp_sync cpsync.out "cp big.dat cpsync.out && sync cpsync.out"
add_command extract extract.out "$kivtool extract big.dat big.s16 -o extract.out"
dd_range="bs=8M iflag=skip_bytes,count_bytes skip=$start count=$length status=none"
add_command dd dd.out "dd if=big.dat of=dd.out $dd_range"
add_command dd_sync ddsync.out "dd if=big.dat of=ddsync.out $dd_range && sync ddsync.out"

# Times a group of commands with hyperfine: one warm-up round, then ROUNDS rounds, each
# running every command once in turn, so ours and its baselines share the machine's state.
# "synced": each run starts with its output removed and every dirty page written out;
# "back_to_back": each run writes over the previous run's output while it is still being
# flushed, as a user rebuilding twice in a row does.
time_group() { # group regime labels...
    local group="$1" regime="$2"
    shift 2
    local labels=("$@") args label
    for round in $(seq 0 "$rounds"); do
        echo "  $group, $regime: round $round of $rounds" >&2
        # Each round starts one command further on, so that no command always follows the
        # same one (and the flushing of the same output).
        args=()
        for k in "${!labels[@]}"; do
            label="${labels[$(((k + round) % ${#labels[@]}))]}"
            [ "$regime" = synced ] && args+=(--prepare "rm -f ${output[$label]}; sync")
            args+=(-n "$label" "${command[$label]}")
        done
        hyperfine --runs 1 --style none --export-json "$work/$group.$regime.$round.json" \
            "${args[@]}" >/dev/null 2>"$work/hyperfine.log" || {
            cat "$work/hyperfine.log" >&2
            for label in "$@"; do bash -c "${command[$label]}" >/dev/null || true; done
            echo "bench: a command of $group failed" >&2
            exit 1
        }
    done
    rm -f "$work/$group.$regime.0.json" # the warm-up round
}

# Peak resident memory of each of our commands, from one more run.
peak() { # label
    /usr/bin/time -f "%M" -o "$work/peak.$1" bash -c "exec ${command[$1]}" >/dev/null 2>&1
}

echo "Copy cases, $rounds rounds each after a warm-up round ..." >&2
for regime in synced back_to_back; do
    time_group archive "$regime" replace reimport cp cp_sync
    time_group member "$regime" extract dd dd_sync
done
for label in replace reimport extract; do peak "$label"; done
# A save that flushes its file before the rename is compared with the baselines + sync.
strace -f -qq -e trace=fsync,fdatasync -o "$work/flush.trace" ${command[replace]} >/dev/null
durable=0
grep -qE 'fsync|fdatasync' "$work/flush.trace" && durable=1
rm -f ./*.out
load_after="$(cut -d' ' -f1-3 /proc/loadavg)"

echo "In-process cases ..." >&2
for b in bench_core bench_ui; do
    "$build/bench/$b" --benchmark_format=json --benchmark_min_time=0.5 >"$work/$b.json" \
        2>"$work/$b.log" || {
        cat "$work/$b.log" >&2
        exit 1
    }
done

# PNG: a demo sheet written by `sheet export` beside ImageMagick's convert writing the same
# pixels with its defaults (both whole processes; ours also decodes the sprite file).
echo "PNG cases ..." >&2
convert=/usr/bin/convert
[ -x "$convert" ] || convert=convert
"$kivtool" demo demo >/dev/null
for m in sky fx tiles; do
    "$kivtool" extract demo/Modgen.dat "$m.s16" -o "$m.s16" >/dev/null
    "$kivtool" sheet export "$m.s16" "pixels_$m.png" >/dev/null
    add_command "png_$m" "ours_$m.png" "$kivtool sheet export $m.s16 ours_$m.png"
    add_command "convert_$m" "convert_$m.png" "$convert pixels_$m.png convert_$m.png"
    time_group "png_$m" synced "png_$m" "convert_$m"
done

python3 - "$work" "$durable" "$load_before" "$load_after" <<'PY'
import glob, json, os, statistics, sys

work, durable = sys.argv[1], sys.argv[2] == "1"
print(f"Load average (1, 5, 15 min) before the copy cases: {sys.argv[3]}; after: {sys.argv[4]}",
      file=sys.stderr)

# Wall and CPU (user + system) seconds of every measured run, by regime and command.
runs = {}
for path in glob.glob(f"{work}/*.*.*.json"):
    regime = path.split("/")[-1].split(".")[1]
    for r in json.load(open(path))["results"]:
        entry = runs.setdefault((regime, r["command"]), {"wall": [], "cpu": []})
        entry["wall"] += r["times"]
        entry["cpu"].append(r["user"] + r["system"])
def med(regime, label, what="wall"):
    r = runs.get((regime, label))
    return statistics.median(r[what]) if r else None
def spread(regime, label):
    w = runs[(regime, label)]["wall"]
    return f"{fmt(statistics.median(w))} ({fmt(min(w))}-{fmt(max(w))})"
def fmt(s):
    return f"{s * 1e3:.1f} ms" if s < 1 else f"{s:.2f} s"
def peak_of(label):
    try:
        return int(open(f"{work}/peak.{label}").read().split()[-1])
    except (OSError, ValueError, IndexError):
        return None

copy_rows = []
def copy_case(case, ours, base, base_name, limit, cpu_limit):
    kb = peak_of(ours)
    for regime in ("synced", "back_to_back"):
        for b, name, checked in ((base, base_name, not durable),
                                 (base + "_sync", base_name + " + sync FILE", durable)):
            o, c = med(regime, ours), med(regime, b)
            if o is None or c is None:
                copy_rows.append((case, regime, "-", name, "-", "-", "-", "-", "not run"))
                continue
            ratio = o / c
            cpu = med(regime, ours, "cpu") / max(med(regime, b, "cpu"), 1e-9)
            ok = ratio <= limit and (cpu_limit is None or cpu <= cpu_limit)
            ok = ok and kb is not None and kb <= 64 * 1024
            target = f"<= {limit}" + (f", CPU <= {cpu_limit}" if cpu_limit else "") + ", <= 64 MiB"
            result = ("met" if ok else "MISSED") if checked else "reported"
            mem = f"{kb / 1024:.1f} MiB" if kb is not None else "-"
            copy_rows.append((case, regime.replace("_", " "), spread(regime, ours),
                              f"{name}: {spread(regime, b)}", f"{ratio:.2f}", f"{cpu:.2f}",
                              target if checked else "", mem, result))

copy_case("Replace, middle member of a 1 GiB archive", "replace", "cp", "cp", 1.15, 1.2)
copy_case("Reimport of one member into a 1 GiB archive", "reimport", "cp", "cp", 1.15, 1.2)
copy_case("Extract of a 512 MiB member at an unaligned offset", "extract", "dd", "dd", 1.15, None)

def table(head, rows):
    widths = [max(len(str(x[i])) for x in rows + [head]) for i in range(len(head))]
    line = lambda r: "| " + " | ".join(str(v).ljust(w) for v, w in zip(r, widths)) + " |"
    print(line(head))
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for r in rows:
        print(line(r))

print(f"Our saves {'flush' if durable else 'do not flush'} to disk before the rename: the "
      f"rows against the baseline{' + sync FILE' if durable else ''} are the ones checked.")
print()
table(("case (kivtool)", "regime", "ours: median (min-max)", "baseline: median (min-max)",
       "ratio", "CPU ratio", "target", "peak memory", "result"), copy_rows)
print()

times = {}
for name in ("bench_core", "bench_ui"):
    for b in json.load(open(f"{work}/{name}.json"))["benchmarks"]:
        if b.get("error_occurred"):
            print(f"{b['name']}: {b.get('error_message', 'failed')}", file=sys.stderr)
            continue
        scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
        times[b["name"]] = b["real_time"] * scale

rows = []
def add(case, ours, base, target, limit=None):
    if ours is None or base is None:
        rows.append((case, "-", "-", "-", target, "not run"))
        return
    ratio = ours / base
    result = "reported" if limit is None else "met" if ratio <= limit else "MISSED"
    rows.append((case, fmt3(ours), fmt3(base), f"{ratio:.2f}", target, result))
def fmt3(s):
    return f"{s * 1e3:.3f} ms" if s < 1 else f"{s:.2f} s"

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

table(("case (in process)", "ours", "baseline", "ratio", "target", "result"), rows)
print()

png_rows = []
for m in ("sky", "fx", "tiles"):
    ours, theirs = f"{work}/ours_{m}.png", f"{work}/convert_{m}.png"
    if not (os.path.exists(ours) and os.path.exists(theirs)):
        png_rows.append((f"sheet export {m}.s16", "-", "-", "-", "-", "<= 1.05", "not run"))
        continue
    size, base = os.path.getsize(ours), os.path.getsize(theirs)
    o, c = med("synced", f"png_{m}"), med("synced", f"convert_{m}")
    png_rows.append((f"sheet export {m}.s16", f"{size:,} B, {spread('synced', f'png_{m}')}",
                     f"{base:,} B, {spread('synced', f'convert_{m}')}", f"{size / base:.2f}",
                     f"{o / c:.2f}", "<= 1.05", "met" if size <= 1.05 * base else "MISSED"))
table(("PNG (whole processes)", "ours: size, time", "convert: size, time", "size ratio",
       "time ratio", "size target", "result"), png_rows)
sys.exit(1 if any(r[-1] in ("MISSED", "not run") for r in copy_rows + rows + png_rows) else 0)
PY

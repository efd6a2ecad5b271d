#!/usr/bin/env python3
"""Times every benchmark case beside its baseline, judges the checked rows and prints the
tables; exits 1 when a checked row misses its target (or a case could not run).

Run by bench/run.sh, which builds the programs and writes the inputs first:
    measure.py WORK BUILD
Whole processes are timed here (wall time, and user + system time and peak memory from the
kernel's account of the finished process), so the figures are those of the programs a user
runs, not of a harness around them.

How a checked row is judged:
  - its group (ours and its baselines) runs one warm-up round and then ROUNDS rounds (at
    least 9), each round running every command of the group once, in turn, each round in
    another order (round_order), so ours and its baselines share the machine's state;
  - the row meets its target when the median of ours over the median of the baseline is
    within the limit (and so is the ratio of the median CPU times, where it has a CPU limit,
    and ours' peak memory is within 64 MiB);
  - a row that misses is measured once more, ours and its checked baseline again in turn,
    after every other group has been measured, so that the second measurement meets other
    minutes of the machine's and its disk's behaviour than the first did; it misses only if
    the second measurement misses too, and the table prints both;
  - a row whose per-round ratios spread (between their first and third quartiles) wider
    than the distance between its ratio and its limit is marked "noisy": the same work on
    the same machine could have come out on the other side of the target.

Other developers add cases in the tables below (COMMANDS, GROUPS, ROWS, SIZE_ROWS,
IN_PROCESS_ROWS); nothing else needs to change.
"""

import json
import os
import shlex
import statistics
import subprocess
import sys
import time

WORK, BUILD = sys.argv[1], sys.argv[2]
ROUNDS = max(9, int(os.environ.get("KIV_BENCH_ROUNDS", "9")))
# A trial run (KIV_BENCH_TRIAL=1) checks that every case runs, with one round: its figures
# judge nothing, and it says so.
TRIAL = os.environ.get("KIV_BENCH_TRIAL") == "1"
# Times that are only reported (a peer's encoder takes up to 14 s a run) take fewer rounds
# and no warm-up: they judge nothing.
REPORT_ROUNDS = min(ROUNDS, 3)
if TRIAL:
    ROUNDS = REPORT_ROUNDS = 1
KIVTOOL = f"{BUILD}/tools/kivtool/kivtool"
MEMORY_LIMIT_KIB = 64 * 1024


def range_of_member(archive, member):
    """The byte range of a member, for dd's copy of the same bytes."""
    listing = subprocess.run([KIVTOOL, "list", archive], capture_output=True, text=True,
                             check=True, cwd=WORK).stdout
    for line in listing.splitlines():
        fields = line.split("\t")
        if fields[0] == member:
            start, finish = int(fields[1], 16), int(fields[2], 16)
            return start, finish - start
    raise SystemExit(f"bench: {member} is not in {archive}")


# `make_inputs DIR small` writes no big.dat: enough for the groups that do not read it.
big_start, big_length = (range_of_member("big.dat", "big.s16")
                         if os.path.exists(os.path.join(WORK, "big.dat")) else (0, 0))
dd_range = (f"bs=8M iflag=skip_bytes,count_bytes skip={big_start} count={big_length} "
            "status=none")

# Every command: its label, what runs (a list runs directly, a string through bash), and the
# file it writes (removed before each run of the "synced" regime).
# Back to back, an output is there already: --force replaces it without comparing it first,
# as a user rebuilding again on purpose does.
COMMANDS = {
    "replace": ([KIVTOOL, "replace", "big.dat", "m4.s16", "--twin", "m4.s17", "-o",
                 "replace.out", "--force"], "replace.out"),
    "reimport": ([KIVTOOL, "reimport", "big.dat", "edited", "-o", "reimport.out", "--force"],
                 "reimport.out"),
    # Over an existing output that differs from the new one in the replaced member only (it
    # takes the other twin each run), so the rebuild first compares it, then replaces it.
    "rebuild": (["bash", "-c", "if [ -e rebuild.flip ]; then rm rebuild.flip; t=m4.s17; "
                 "else touch rebuild.flip; t=m4b.s17; fi; "
                 f"exec {shlex.quote(KIVTOOL)} replace big.dat m4.s16 --twin $t -o rebuild.out"],
                "rebuild.out"),
    "cp": ("cp big.dat cp.out", "cp.out"),
    "cp_sync": ("cp big.dat cpsync.out && sync cpsync.out", "cpsync.out"),
    "extract": ([KIVTOOL, "extract", "big.dat", "big.s16", "-o", "extract.out", "--force"],
                "extract.out"),
    "dd": (f"dd if=big.dat of=dd.out {dd_range}", "dd.out"),
    "dd_sync": (f"dd if=big.dat of=ddsync.out {dd_range} && sync ddsync.out", "ddsync.out"),
    # Reading only: their "outputs" are never written.
    "diff": ([KIVTOOL, "diff", "big.dat", "same.dat"], "diff.none"),
    "cmp": ("cmp big.dat same.dat", "cmp.none"),
}

# Mod files (made from a 1 GiB archive of sprite members and (a) one icon changed, (b) 20
# icons in 5 members, (c) one icon of a middle member grown by 50 KiB) beside xdelta3's
# patches of the same change; applied against cp, and two mods of one base applied together.
XDELTA = "xdelta3 -9 -e -f -s"
for c in "abc":
    COMMANDS[f"mod_create_{c}"] = ([KIVTOOL, "mod", "create", "modbase.dat", f"mod{c}.dat", "-o",
                                    f"{c}.kivmod", "--force"], f"{c}.kivmod")
    COMMANDS[f"xdelta_{c}"] = (f"{XDELTA} modbase.dat mod{c}.dat {c}.xdelta", f"{c}.xdelta")
COMMANDS.update({
    "mod_apply_a": ([KIVTOOL, "mod", "apply", "modbase.dat", "a.kivmod", "-o", "apply.out",
                     "--force"], "apply.out"),
    "mod_apply_two": ([KIVTOOL, "mod", "apply", "modbase.dat", "a.kivmod", "c.kivmod", "-o",
                       "applytwo.out", "--force"], "applytwo.out"),
    "xdelta_apply_a": ("xdelta3 -d -f -s modbase.dat a.xdelta xdapply.out", "xdapply.out"),
    "cp_mod_sync": ("cp modbase.dat cpmodsync.out && sync cpmodsync.out", "cpmodsync.out"),
})
MOD_SETUP = (f"for c in a c; do {KIVTOOL} mod create modbase.dat mod$c.dat -o $c.kivmod --force"
             f" >/dev/null 2>&1; done && {XDELTA} modbase.dat moda.dat a.xdelta")

# PNG: a demo sheet written by `sheet export` beside ImageMagick's convert writing the same
# pixels (our sheet, read back) with its defaults.
CONVERT = "/usr/bin/convert" if os.access("/usr/bin/convert", os.X_OK) else "convert"
PNG_SHEETS = ("sky", "fx", "tiles")
PNG_SETUP = (f"rm -rf demo && {KIVTOOL} demo demo >/dev/null && for m in {' '.join(PNG_SHEETS)};"
             f" do {KIVTOOL} extract demo/Modgen.dat $m.s16 -o $m.s16 --force >/dev/null &&"
             f" {KIVTOOL} sheet export $m.s16 pixels_$m.png --force >/dev/null; done")
for m in PNG_SHEETS:
    COMMANDS[f"png_{m}"] = ([KIVTOOL, "sheet", "export", f"{m}.s16", f"ours_{m}.png"],
                            f"ours_{m}.png")
    COMMANDS[f"convert_{m}"] = (f"{CONVERT} pixels_{m}.png convert_{m}.png", f"convert_{m}.png")

# Animated GIF: `animate` beside ImageMagick making the same animation from the same frames (each
# icon as `show` writes it), on the demo's walk cycle (hero.s16 icons 1 to 8) and on a 64-frame
# 320 x 240 sprite (anim64.s16). `-dispose Background` makes each frame replace the one before,
# as ours do; without it convert lays each frame over the last and pixels that turn
# transparent keep their old colour.
GIF_CASES = {"walk": ("hero.s16", 8), "anim64": ("anim64.s16", 64)}
GIF_SETUP = (f"rm -rf demo && {KIVTOOL} demo demo >/dev/null && {KIVTOOL} extract demo/Modgen.dat"
             " hero.s16 -o hero.s16 --force >/dev/null && "
             + " && ".join(f"for i in $(seq -w 1 {n}); do {KIVTOOL} show {sprite} $((10#$i)) -o"
                           f" frame_{g}_$i.png --force >/dev/null; done"
                           for g, (sprite, n) in GIF_CASES.items()))
for g, (sprite, n) in GIF_CASES.items():
    COMMANDS[f"gif_{g}"] = ([KIVTOOL, "animate", sprite, f"1-{n}", "-o", f"ours_{g}.gif",
                             "--force"], f"ours_{g}.gif")
    COMMANDS[f"convert_gif_{g}"] = (f"{CONVERT} -delay 10 -loop 0 -dispose Background"
                                    f" frame_{g}_*.png -layers Optimize"
                                    f" convert_{g}.gif", f"convert_{g}.gif")

DEMO_MOD_SETUP = (
    f"rm -rf demomod && mkdir demomod && cd demomod && {KIVTOOL} demo . >/dev/null && "
    f"cp Modgen.dat Newgen.dat && for m in hero:1 coins:2; do s=${{m%:*}}; i=${{m#*:}}; "
    f"{KIVTOOL} extract Newgen.dat $s.s16 -o $s.s16 --force >/dev/null && "
    f"{KIVTOOL} show $s.s16 $i -o $s.bmp >/dev/null && "
    f"{CONVERT} $s.bmp -fill '#F80000' -draw 'point 1,1' -draw 'point 2,2' -draw 'point 3,1' "
    f"BMP3:$s.bmp && {KIVTOOL} reencode $s.s16 $i $s.bmp >/dev/null 2>&1 && "
    f"{KIVTOOL} replace Newgen.dat $s.s16 >/dev/null 2>&1; done && "
    f"{KIVTOOL} mod create Modgen.dat Newgen.dat -o ../demo.kivmod --force >/dev/null 2>&1 && "
    f"{XDELTA} Modgen.dat Newgen.dat ../demo.xdelta")

# Commands timed together, and the regimes they run in: "synced" (each run starts with its
# output removed and every dirty page written out) and "back to back" (each run writes over
# the previous run's output while it may still be flushed, as a user rebuilding twice in a
# row does). `setup` runs once before the group, untimed, through bash (its arithmetic).
GROUPS = {
    "archive": {"commands": ["replace", "reimport", "cp", "cp_sync"],
                "regimes": ["synced", "back_to_back"], "setup": "mkdir -p edited && "
                "cp m4.s17 edited/m4.s16"},
    "member": {"commands": ["extract", "dd", "dd_sync"], "regimes": ["synced", "back_to_back"]},
    # The output is always there, as the previous rebuild left it.
    "rebuild": {"commands": ["rebuild", "cp_sync"], "regimes": ["back_to_back"],
                "setup": "cp big.dat rebuild.out && cp m4.s17 m4b.s17 && printf x >> m4b.s17"},
    # Both archives are read from the cache, as right after a rebuild.
    "compare": {"commands": ["diff", "cmp"], "regimes": ["warm_cache"],
                "setup": "cp big.dat same.dat && cat big.dat same.dat >/dev/null"},
    # Synced only: back to back it is the rebuild Replace's rows above hold to the same target.
    "mod_apply": {"commands": ["mod_apply_a", "mod_apply_two", "cp_mod_sync"],
                  "regimes": ["synced"], "setup": MOD_SETUP},
    "mod_apply_peer": {"commands": ["mod_apply_a", "xdelta_apply_a"], "regimes": ["synced"],
                       "reported": True},
    "png_sheets": {"commands": [c for m in PNG_SHEETS for c in (f"png_{m}", f"convert_{m}")],
                   "regimes": ["back_to_back"], "setup": PNG_SETUP},
    "gif": {"commands": [c for g in GIF_CASES for c in (f"gif_{g}", f"convert_gif_{g}")],
            "regimes": ["back_to_back"], "setup": GIF_SETUP},
    # Both archives are read from the cache, as cmp reads its two.
    "mod_create": {"commands": ["mod_create_a", "mod_create_b", "mod_create_c", "cmp"],
                   "regimes": ["warm_cache"],
                   "setup": "[ -e same.dat ] || cp big.dat same.dat; "
                            "cat modbase.dat moda.dat modb.dat modc.dat big.dat same.dat >/dev/null"},
}

# The rows of the copy table. `baseline_synced` names the baseline that also waits for the
# output to reach the disk: when our saves flush before the rename, that one is checked,
# otherwise the plain one; the other is reported beside it. A case that writes nothing has
# no such baseline (None): its one baseline is checked; so has a case whose one baseline
# already waits for the disk (the plain copy is reported beside Replace's rows).
ROWS = [
    {"case": "Replace, middle member of a 1 GiB archive", "group": "archive", "ours": "replace",
     "baseline": ("cp", "cp"), "baseline_synced": ("cp_sync", "cp + sync FILE"),
     "limit": 1.15, "cpu_limit": 1.2},
    {"case": "Reimport of one member into a 1 GiB archive", "group": "archive",
     "ours": "reimport", "baseline": ("cp", "cp"),
     "baseline_synced": ("cp_sync", "cp + sync FILE"), "limit": 1.15, "cpu_limit": 1.2},
    {"case": "Rebuild over an existing Newgen.dat that differs in the replaced member only",
     "group": "rebuild", "ours": "rebuild", "baseline": ("cp_sync", "cp + sync FILE"),
     "baseline_synced": None, "limit": 1.6, "cpu_limit": None},
    {"case": "Extract of a 512 MiB member at an unaligned offset", "group": "member",
     "ours": "extract", "baseline": ("dd", "dd"), "baseline_synced": ("dd_sync", "dd + sync FILE"),
     "limit": 1.15, "cpu_limit": None},
    {"case": "Diff of two identical 1 GiB archives", "group": "compare", "ours": "diff",
     "baseline": ("cmp", "cmp"), "baseline_synced": None, "limit": 1.0, "cpu_limit": None},
    {"case": "Mod apply, one icon changed, 1 GiB archive", "group": "mod_apply",
     "ours": "mod_apply_a", "baseline": ("cp_mod_sync", "cp + sync FILE"),
     "baseline_synced": None, "limit": 1.15, "cpu_limit": 1.2},
    {"case": "Mod apply, two mods of one base together, 1 GiB archive", "group": "mod_apply",
     "ours": "mod_apply_two", "baseline": ("cp_mod_sync", "cp + sync FILE"),
     "baseline_synced": None, "limit": 1.15, "cpu_limit": 1.2},
    # Reported: the peer's patch applied to the same base (limit None checks nothing).
    {"case": "Mod apply, one icon changed, against the peer", "group": "mod_apply_peer",
     "ours": "mod_apply_a", "baseline": ("xdelta_apply_a", "xdelta3 -d"),
     "baseline_synced": None, "limit": None, "cpu_limit": None},
] + [
    {"case": f"PNG sheet export of the demo's {m}.s16", "group": "png_sheets", "ours": f"png_{m}",
     "baseline": (f"convert_{m}", "convert"), "baseline_synced": None, "limit": 1.0,
     "cpu_limit": None} for m in PNG_SHEETS
] + [
    {"case": f"Animated GIF, {what}", "group": "gif", "ours": f"gif_{g}",
     "baseline": (f"convert_gif_{g}", "convert -layers Optimize"), "baseline_synced": None,
     "limit": 1.0, "cpu_limit": None}
    for g, what in (("walk", "the demo's walk cycle"), ("anim64", "64 frames of 320 x 240"))
] + [
    {"case": f"Mod create, {what}, 1 GiB archive", "group": "mod_create",
     "ours": f"mod_create_{c}", "baseline": ("cmp", "cmp of two identical 1 GiB archives"),
     "baseline_synced": None, "limit": 1.2, "cpu_limit": None}
    for c, what in (("a", "(a) one icon changed"), ("b", "(b) 20 icons in 5 members"),
                    ("c", "(c) one member grown by 50 KiB"))
]

# Sizes of files ours and a peer write for the same content: (case, setup command, our file,
# the peer's file, limit or None for a reported row, and optionally the labels of the two
# commands that write them, timed as a group of their own and reported beside the sizes).
SIZE_ROWS = [
    (f"PNG sheet of the demo's {m}.s16", PNG_SETUP, f"ours_{m}.png", f"convert_{m}.png", 1.05,
     (f"png_{m}", f"convert_{m}")) for m in PNG_SHEETS
] + [
    (f"Animated GIF, {what}", GIF_SETUP, f"ours_{g}.gif", f"convert_{g}.gif", 1.1,
     (f"gif_{g}", f"convert_gif_{g}"))
    for g, what in (("walk", "the demo's walk cycle (hero.s16 1-8)"),
                    ("anim64", "64 frames of 320 x 240 (anim64.s16)"))
] + [
    (f"Mod against xdelta3 -9, {what}, 1 GiB archive", "true", f"{c}.kivmod", f"{c}.xdelta",
     limit, (f"mod_create_{c}", f"xdelta_{c}"))
    for c, what, limit in (("a", "(a) one icon changed", 2), ("b", "(b) 20 icons in 5 members", 1),
                           ("c", "(c) one member grown by 50 KiB", 1))
] + [
    # bsdiff needs about 17 times the file's size in memory, and 40 s on 64 MiB: once, on 16 MiB.
    ("Mod against bsdiff, one icon changed, 16 MiB archive",
     f"{KIVTOOL} mod create smallbase.dat smalla.dat -o small.kivmod --force 2>/dev/null && "
     "bsdiff smallbase.dat smalla.dat small.bsdiff", "small.kivmod", "small.bsdiff", None),
    # The demo with hero.s16 icon 1 and coins.s16 icon 2 repainted in a few pixels.
    ("Mod against xdelta3 -9, the demo with two icons changed", DEMO_MOD_SETUP, "demo.kivmod",
     "demo.xdelta", None),
]

# KIV_BENCH_GROUPS=png_sheets,gif measures those groups alone, with their rows and sizes,
# and none of the in-process cases (the inputs `make_inputs DIR small` writes are enough
# for the picture groups).
ONLY = [g for g in os.environ.get("KIV_BENCH_GROUPS", "").split(",") if g]
if ONLY:
    unknown = [g for g in ONLY if g not in GROUPS]
    if unknown:
        raise SystemExit(f"bench: no group {', '.join(unknown)}; the groups: {', '.join(GROUPS)}")
    chosen = {c for g in ONLY for c in GROUPS[g]["commands"]}
    GROUPS = {g: settings for g, settings in GROUPS.items() if g in ONLY}
    ROWS = [r for r in ROWS if r["group"] in ONLY]
    SIZE_ROWS = [r for r in SIZE_ROWS if len(r) > 5 and set(r[5]) <= chosen]

# In-process cases (Google Benchmark): (case, our benchmark, baseline benchmark, target text,
# limit or None; "absolute" compares ours alone, in seconds, with the limit).
IN_PROCESS_ROWS = [
    ("DecodeIcon, raw 640 x 480", "BM_DecodeRaw", "BM_DecodeRaw_Baseline", "<= 2", 2),
    ("DecodeIcon, run-length 640 x 480", "BM_DecodeRle", "BM_DecodeRle_Baseline", "<= 2", 2),
    ("ReencodeIcon, 642 x 482 into 1,000 icons", "BM_Reencode", "BM_Reencode_Baseline",
     "report", None),
    ("Bitmap load, 4096 x 4096", "BM_BitmapLoad", "BM_QtBitmapLoad", "<= 1 (QImage)", 1),
    ("Bitmap save, 4096 x 4096", "BM_BitmapSave", "BM_QtBitmapSave", "<= 1 (QImage)", 1),
    ("List 100,000 members into InfoGrid", "BM_ListArchive100k", "BM_ListArchive100k_Baseline",
     "< 0.5 s absolute", ("absolute", 0.5)),
    ("Select a 1,000-icon member", "BM_SelectMember1000", "BM_SelectMember1000_Baseline",
     "report", None),
    # The time of a round is its latest frame (baseline: an empty timer on the same clock).
    ("Play 60 fps of 320 x 240 frames at 4x: latest frame", "BM_PlayAnimation60",
     "BM_PlayAnimation60_Baseline", "< 1 interval (16.7 ms) absolute", ("absolute", 1 / 60)),
]


def say(text):
    print(text, file=sys.stderr, flush=True)


def run_once(label, synced):
    """One run of a command: (wall seconds, CPU seconds, peak memory in KiB)."""
    command, output = COMMANDS[label]
    if synced:
        try:
            os.remove(os.path.join(WORK, output))
        except FileNotFoundError:
            pass
        os.sync()
    # Our commands run under /usr/bin/time for their peak memory: a process forked from this
    # one would count this interpreter's pages as its own until it starts the program.
    peak_file = os.path.join(WORK, "peak.kib")
    argv = (["/usr/bin/time", "-f", "%M", "-o", peak_file] + command
            if isinstance(command, list) else ["bash", "-c", command])
    started = time.monotonic()
    process = subprocess.Popen(argv, cwd=WORK, stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE)
    # wait4 gives the finished process's own account, its children (cp, sync) included.
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.monotonic() - started
    process.returncode = os.waitstatus_to_exitcode(status)
    error = process.stderr.read().decode(errors="replace")
    process.stderr.close()
    if process.returncode != 0:
        raise SystemExit(f"bench: {label} failed (exit {process.returncode}): "
                         f"{shlex.join(argv)}\n{error}")
    kib = 0
    if isinstance(command, list):
        with open(peak_file) as f:
            kib = int(f.read().split()[-1])
    return wall, usage.ru_utime + usage.ru_stime, kib


def round_order(labels, round_number):
    """The commands in this round's order. Turning one list round kept each command behind the
    same one in every round, and what runs before a command changes its cost (cp + sync after
    a copy that left its writes to the next sync took 2.4 times its CPU time). These orders
    put each command behind each of the others equally often: 0, 1, n-1, 2, n-2, ..., shifted
    by the round, then the same reversed."""
    n = len(labels)
    first, low, high = [0], 1, n - 1
    while len(first) < n:
        first.append(low)
        low += 1
        if len(first) < n:
            first.append(high)
            high -= 1
    k = round_number % (2 * n)
    row = [(x + k) % n for x in first]
    return [labels[i] for i in (row[::-1] if k >= n else row)]


def measure(group, regime, labels=None):
    """The group's rounds of its commands (or of `labels`): {label: [(wall, cpu, kib), ...]}
    in round order. A group that judges nothing takes REPORT_ROUNDS and no warm-up."""
    reported = GROUPS[group].get("reported", False)
    rounds = REPORT_ROUNDS if reported else ROUNDS
    labels = labels or GROUPS[group]["commands"]
    runs = {label: [] for label in labels}
    started = time.monotonic()
    for round_number in range(int(reported), rounds + 1):
        say(f"  {group}, {regime.replace('_', ' ')}: round {round_number} of {rounds}")
        for label in round_order(labels, round_number):
            result = run_once(label, regime == "synced")
            if round_number > 0:
                runs[label].append(result)
    say(f"  {group}, {regime.replace('_', ' ')}: {time.monotonic() - started:.0f} s")
    return runs


def quartile_spread(values):
    if len(values) < 2:
        return 0.0
    q = statistics.quantiles(values, n=4)
    return q[2] - q[0]


def judge(runs, ours, base, limit, cpu_limit):
    """A row's figures from one measurement."""
    o = [r[0] for r in runs[ours]]
    b = [r[0] for r in runs[base]]
    ratio = statistics.median(o) / statistics.median(b)
    cpu = (statistics.median(r[1] for r in runs[ours]) /
           max(statistics.median(r[1] for r in runs[base]), 1e-9))
    kib = max(r[2] for r in runs[ours])
    if limit is None:  # a reported row
        return {"ratio": ratio, "cpu": cpu, "kib": kib, "met": True, "noisy": False,
                "ours": o, "base": b}
    met = ratio <= limit and (cpu_limit is None or cpu <= cpu_limit) and kib <= MEMORY_LIMIT_KIB
    # Per-round ratios: each pairs runs taken moments apart, so their spread is the noise
    # this row's figure carries.
    noisy = quartile_spread([x / y for x, y in zip(o, b)]) > abs(limit - ratio)
    if cpu_limit is not None:
        cpu_rounds = [x[1] / max(y[1], 1e-9) for x, y in zip(runs[ours], runs[base])]
        noisy = noisy or quartile_spread(cpu_rounds) > abs(cpu_limit - cpu)
    return {"ratio": ratio, "cpu": cpu, "kib": kib, "met": met, "noisy": noisy,
            "ours": o, "base": b}


def fmt(s):
    return f"{s * 1e3:.1f} ms" if s < 1 else f"{s:.2f} s"


def spread(values):
    return f"{fmt(statistics.median(values))} ({fmt(min(values))}-{fmt(max(values))})"


def table(head, rows):
    widths = [max(len(str(x[i])) for x in rows + [head]) for i in range(len(head))]
    line = lambda r: "| " + " | ".join(str(v).ljust(w) for v, w in zip(r, widths)) + " |"
    print(line(head))
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for r in rows:
        print(line(r))


def saves_flush():
    """Whether our saves flush their file to disk before the rename (strace tells)."""
    command, _ = COMMANDS["replace"]
    trace = os.path.join(WORK, "flush.trace")
    subprocess.run(["strace", "-f", "-qq", "-e", "trace=fsync,fdatasync", "-o", trace] + command,
                   cwd=WORK, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    with open(trace) as f:
        text = f.read()
    return "fsync" in text or "fdatasync" in text


def copy_cases(durable):
    checked_key = lambda r: ("baseline_synced" if durable and r["baseline_synced"] else
                             "baseline")
    checked = lambda r: r[checked_key(r)][0]

    def misses(r, runs):
        return (r["limit"] is not None and
                not judge(runs, r["ours"], checked(r), r["limit"], r["cpu_limit"])["met"])

    def set_up(group):
        if GROUPS[group].get("setup"):
            subprocess.run(GROUPS[group]["setup"], shell=True, executable="bash", cwd=WORK,
                           check=True)

    # Every group once, then every missed row once more; rows of a group that met keep the
    # group's one measurement.
    # When our saves flush, the synced regime leaves out the plain copies, which are only
    # reported: beside a save that waits for the disk, a copy that does not mostly times the
    # flush the next run's sync does for it. Back to back, they show what flushing costs.
    plain = {r["baseline"][0] for r in ROWS if durable and r["baseline_synced"]}
    first = {}
    for group, settings in GROUPS.items():
        set_up(group)
        for regime in settings["regimes"]:
            labels = [x for x in settings["commands"] if regime != "synced" or x not in plain]
            first[group, regime] = measure(group, regime, labels)
    again = {}
    for (group, regime), runs in first.items():
        missed = [r for r in ROWS if r["group"] == group and misses(r, runs)]
        if missed:
            labels = list(dict.fromkeys(x for r in missed for x in (r["ours"], checked(r))))
            say(f"  {group}, {regime.replace('_', ' ')}: {', '.join(r['ours'] for r in missed)} missed; "
                "measuring again")
            set_up(group)
            again[group, regime] = measure(group, regime, labels=labels)

    rows, failed = [], False
    for (group, regime), runs in first.items():
        for r in (r for r in ROWS if r["group"] == group):
            for key in ("baseline", "baseline_synced"):
                if r[key] is None or r[key][0] not in runs:
                    continue
                base, name = r[key]
                is_checked = key == checked_key(r) and r["limit"] is not None
                measurements = [runs]
                # Only a checked row that missed its first measurement shows its second.
                if is_checked and misses(r, runs):
                    measurements.append(again[group, regime])
                for n, m in enumerate(measurements):
                    v = judge(m, r["ours"], base, r["limit"], r["cpu_limit"])
                    if is_checked:
                        result = "met" if v["met"] else "MISSED"
                        if v["noisy"]:
                            result += " (noisy)"
                        if len(measurements) > 1:
                            result = ("first: " if n == 0 else "again: ") + result
                        target = (f"<= {r['limit']}" +
                                  (f", CPU <= {r['cpu_limit']}" if r["cpu_limit"] else "") +
                                  ", <= 64 MiB")
                        failed = failed or (n == len(measurements) - 1 and not v["met"])
                    else:
                        result, target = "reported", ""
                    rows.append((r["case"], regime.replace("_", " "), spread(v["ours"]),
                                 f"{name}: {spread(v['base'])}", f"{v['ratio']:.2f}",
                                 f"{v['cpu']:.2f}", target, f"{v['kib'] / 1024:.1f} MiB",
                                 result))
    return rows, failed


def size_cases():
    rows, failed = [], False
    for case, setup, ours, peer, limit, *timed in SIZE_ROWS:
        subprocess.run(setup, shell=True, executable="bash", cwd=WORK, check=True)
        times = ("-", "-", "-")
        if timed:
            GROUPS[case] = {"commands": list(timed[0]), "regimes": ["synced"], "reported": True}
            runs = measure(case, "synced")
            o, p = ([r[0] for r in runs[label]] for label in timed[0])
            times = (spread(o), spread(p), f"{statistics.median(o) / statistics.median(p):.2f}")
        o = os.path.getsize(os.path.join(WORK, ours))
        p = os.path.getsize(os.path.join(WORK, peer))
        ratio = o / p
        result = "reported" if limit is None else "met" if ratio <= limit else "MISSED"
        failed = failed or result == "MISSED"
        rows.append((case, f"{o:,}", f"{p:,}", f"{ratio:.2f}",
                     "report" if limit is None else f"<= {limit}", result) + times)
    return rows, failed


def benchmark_rounds():
    """Every in-process benchmark, ROUNDS rounds after a warm-up: {name: [seconds, ...]}."""
    times = {}
    env = dict(os.environ, KIV_BENCH_DIR=WORK)
    for round_number in range(ROUNDS + 1):
        say(f"  in process: round {round_number} of {ROUNDS}")
        for binary in ("bench_core", "bench_ui"):
            out = subprocess.run([f"{BUILD}/bench/{binary}", "--benchmark_format=json",
                                  "--benchmark_min_time=0.2"], capture_output=True, text=True,
                                 env=env, cwd=WORK)
            if out.returncode != 0:
                raise SystemExit(f"bench: {binary} failed\n{out.stderr}")
            if round_number == 0:
                continue
            for b in json.loads(out.stdout)["benchmarks"]:
                if b.get("error_occurred"):
                    say(f"{b['name']}: {b.get('error_message', 'failed')}")
                    continue
                scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
                times.setdefault(b["name"], []).append(b["real_time"] * scale)
    return times


def in_process_cases():
    if ONLY:
        return [], False
    def verdict(times, ours, base, limit):
        if ours not in times or base not in times:
            return None
        o, b = times[ours], times[base]
        ratio = statistics.median(o) / statistics.median(b)
        if isinstance(limit, tuple):  # an absolute bound on ours alone
            value, bound = statistics.median(o), limit[1]
            noisy = quartile_spread(o) > abs(bound - value)
            return {"o": o, "b": b, "ratio": ratio, "met": value < bound, "noisy": noisy}
        if limit is None:
            return {"o": o, "b": b, "ratio": ratio, "met": True, "noisy": False}
        noisy = quartile_spread([x / y for x, y in zip(o, b)]) > abs(limit - ratio)
        return {"o": o, "b": b, "ratio": ratio, "met": ratio <= limit, "noisy": noisy}

    measurements = [benchmark_rounds()]
    if any((v := verdict(measurements[0], o, b, l)) is None or not v["met"]
           for _, o, b, _, l in IN_PROCESS_ROWS):
        say("  in process: a checked row missed; measuring again")
        measurements.append(benchmark_rounds())
    fmt3 = lambda s: f"{s * 1e3:.3f} ms" if s < 1 else f"{s:.2f} s"
    rows, failed = [], False
    for case, ours, base, target, limit in IN_PROCESS_ROWS:
        verdicts = [verdict(m, ours, base, limit) for m in measurements]
        if verdicts[0] is None:
            rows.append((case, "-", "-", "-", target, "not run"))
            failed = True
            continue
        shown = verdicts if len(verdicts) > 1 and not verdicts[0]["met"] else verdicts[:1]
        for n, v in enumerate(shown):
            if v is None:
                rows.append((case, "-", "-", "-", target, "again: not run"))
                failed = True
                continue
            result = "reported" if limit is None else "met" if v["met"] else "MISSED"
            if limit is not None and v["noisy"]:
                result += " (noisy)"
            if len(shown) > 1:
                result = ("first: " if n == 0 else "again: ") + result
            rows.append((case, fmt3(statistics.median(v["o"])), fmt3(statistics.median(v["b"])),
                         f"{v['ratio']:.2f}", target, result))
        failed = failed or not shown[-1]["met"]
    return rows, failed


def main():
    load_before = open("/proc/loadavg").read().split()[:3]
    # Only the archive group's rows depend on it, and only its inputs hold what it saves.
    durable = saves_flush() if not ONLY or "archive" in ONLY else False
    say(f"Copy cases, {ROUNDS} rounds each after a warm-up round ...")
    started = time.monotonic()
    copy_rows, copy_failed = copy_cases(durable)
    for label, (_, output) in COMMANDS.items():
        try:
            os.remove(os.path.join(WORK, output))
        except FileNotFoundError:
            pass
    load_after = open("/proc/loadavg").read().split()[:3]
    say("Sizes ...")
    size_rows, size_failed = size_cases()
    say("In-process cases ...")
    process_rows, process_failed = in_process_cases()
    say(f"Load average (1, 5, 15 min) before the copy cases: {' '.join(load_before)}; after: "
        f"{' '.join(load_after)}; measuring took {time.monotonic() - started:.0f} s")

    flush = (f"Our saves {'flush' if durable else 'do not flush'} to disk before the rename: the "
             f"rows against the baseline{' + sync FILE' if durable else ''} are the ones checked. "
             if not ONLY or "archive" in ONLY else "")
    print(f"{flush}{ROUNDS} rounds after a warm-up; a checked row that misses is measured again.")
    print()
    table(("case (kivtool)", "regime", "ours: median (min-max)", "baseline: median (min-max)",
           "ratio", "CPU ratio", "target", "peak memory", "result"), copy_rows)
    if size_rows:
        print()
        table(("case (file size)", "ours", "peer", "ratio", "target", "result",
               "ours: time, median (min-max)", "peer: time", "time ratio"), size_rows)
    if process_rows:
        print()
        table(("case (in process)", "ours", "baseline", "ratio", "target", "result"), process_rows)
    if TRIAL:
        print("\nA trial run of one round: the figures above are not a measurement.")
        return 0
    return 1 if copy_failed or size_failed or process_failed else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env bash
# Times `scripts/kiv.sh run` on a clean checkout with the packages already present: a fresh
# clone of HEAD, ccache disabled, until the browser has started (offscreen). Prints the wall
# time and the CPU time (user + system) of the script and everything it ran.
#   bench/cold_run.sh           the run command
#   bench/cold_run.sh test      the test command, to its end, in the same kind of clone
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
mode="${1:-run}"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
git clone -q "$root" "$scratch/kiv"
export CCACHE_DISABLE=1
tick=$(getconf CLK_TCK)
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

if [ "$mode" = test ]; then
    /usr/bin/time -f "test: wall %e s, CPU %U s user + %S s system" \
        bash "$scratch/kiv/scripts/kiv.sh" test >"$scratch/test.log" 2>&1 ||
        { tail -20 "$scratch/test.log"; exit 1; }
    tail -1 "$scratch/test.log"
    echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
    exit 0
fi

# The script ends by starting the browser in its own process (exec): the moment that
# process becomes Kivutil is the moment the user sees the tool. Its CPU account then holds
# every build step it waited for.
started=$(date +%s.%N)
(cd "$scratch" && QT_QPA_PLATFORM=offscreen exec bash "$scratch/kiv/scripts/kiv.sh" run \
    >"$scratch/run.log" 2>&1) &
pid=$!
while kill -0 "$pid" 2>/dev/null; do
    case "$(readlink "/proc/$pid/exe" 2>/dev/null)" in
    */Kivutil)
        ended=$(date +%s.%N)
        read -r -a stat <"/proc/$pid/stat"
        kill "$pid"
        wait "$pid" || true
        cpu=$(((stat[13] + stat[14] + stat[15] + stat[16]) * 100 / tick))
        echo "run: wall $(echo "$ended - $started" | bc) s, CPU $((cpu / 100)).$((cpu % 100)) s"
        echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
        exit 0
        ;;
    esac
    sleep 0.2
done
cat "$scratch/run.log"
echo "run ended before the tool started" >&2
exit 1

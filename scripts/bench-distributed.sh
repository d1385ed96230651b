#!/usr/bin/env bash
# The cost of running as processes instead of threads: the demo scene as
# 2 processes x 1 thread under mpirun against 1 process x 2 threads, in
# pairs that alternate which goes first, so load from elsewhere slows both
# alike. Prints each pair's wall times and the ratio's median and spread.
# Usage: scripts/bench-distributed.sh [PAIRS] [extra vosh-render options]
# MPIRUN_OPTIONS goes to mpirun (e.g. "--bind-to none").
set -euo pipefail
cd "$(dirname "$0")/.."
pairs="${1:-5}"
shift || true
renderer=build/vosh-render
[[ -x $renderer ]] || { echo "build vosh-render first (cmake --build build --target vosh-render)" >&2; exit 1; }
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
out="$(mktemp -d "${TMPDIR:-/tmp}/vosh-bench-distributed.XXXXXX")"
trap 'rm -rf "$out"' EXIT

threads() { "$renderer" scenes/demo.json --threads 2 --quiet -o "$out/threads.png" "$@"; }
processes() { mpirun ${MPIRUN_OPTIONS:-} --oversubscribe -np 2 "$renderer" scenes/demo.json --threads 1 --quiet -o "$out/processes.png" "$@"; }
seconds() { local t0 t1; t0=$(date +%s.%N); "$@"; t1=$(date +%s.%N); echo "$t1 - $t0" | bc; }

echo "mpirun options: ${MPIRUN_OPTIONS:-(none)}"
echo "load before: $(uptime)"
results=()
for ((i = 0; i < pairs; ++i)); do
    if ((i % 2 == 0)); then
        a=$(seconds threads "$@"); b=$(seconds processes "$@")
    else
        b=$(seconds processes "$@"); a=$(seconds threads "$@")
    fi
    cmp -s "$out/threads.png" "$out/processes.png" || { echo "the two images differ" >&2; exit 1; }
    echo "pair $((i + 1)): 1 process x 2 threads $a s, 2 processes x 1 thread $b s"
    results+=("$a $b")
done
echo "load after: $(uptime)"
printf '%s\n' "${results[@]}" | python3 -c '
import statistics, sys
pairs = [tuple(map(float, l.split())) for l in sys.stdin if l.strip()]
ratios = sorted(b / a for a, b in pairs)
print("threads: median %.2f s; processes: median %.2f s" % (
    statistics.median(a for a, _ in pairs), statistics.median(b for _, b in pairs)))
print("processes / threads: median %.3f [%.3f..%.3f] over %d pairs" % (
    statistics.median(ratios), ratios[0], ratios[-1], len(ratios)))'

#!/usr/bin/env bash
# Runs every benchmark (never part of the tests): builds the benchmark
# executables in build-bench, runs them with repetitions, keeps the JSON
# output in build-bench/bench-results and prints the summary of
# docs/performance.md (medians, spread, ratios).
#
#   scripts/bench.sh                 # everything, 5 repetitions
#   VOSH_BENCH_REPETITIONS=3 scripts/bench.sh
#   scripts/bench.sh module          # only the module overhead benchmark
#   scripts/bench.sh renderer        # only the renderer benchmarks
#
# Other work on the machine skews the figures: run it when `uptime` shows a
# load well below the number of cores.
set -euo pipefail
cd "$(dirname "$0")/.."
which=${1:-all}
reps=${VOSH_BENCH_REPETITIONS:-5}
build=${VOSH_BENCH_BUILD_DIR:-build-bench}
out="$build/bench-results"

scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOSH_BUILD_BENCH=ON >/dev/null
targets=(bench_module_overhead)
[[ $which != module ]] && targets+=(bench_renderer)
cmake --build "$build" -j2 --target "${targets[@]}"
mkdir -p "$out"
echo "load before the run: $(uptime)"

module_json=-
renderer_json=-
if [[ $which == all || $which == module ]]; then
  module_json="$out/module_overhead.json"
  "$build/bench/bench_module_overhead" --benchmark_repetitions="$reps" --benchmark_min_time=0.5 \
    --benchmark_display_aggregates_only=true \
    --benchmark_out="$module_json" --benchmark_out_format=json
fi
if [[ $which == all || $which == renderer ]]; then
  renderer_json="$out/renderer.json"
  "$build/bench/bench_renderer" --benchmark_repetitions="$reps" \
    --benchmark_display_aggregates_only=true \
    --benchmark_out="$renderer_json" --benchmark_out_format=json
fi
echo "load after the run: $(uptime)"
python3 scripts/bench_report.py "$module_json" "$renderer_json" | tee "$out/summary.md"

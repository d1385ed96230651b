#!/usr/bin/env bash
# Noise per second against a general path tracer (Cycles, from Debian's
# blender package); a benchmark, never part of the tests or CI.
#
#   scripts/bench-peer.sh                        # 3 repetitions
#   VOSH_PEER_REPETITIONS=5 scripts/bench-peer.sh
#
# Builds one scene of generated primitives with Blender's own Python
# (triangulated, flat shaded; VOSH_PEER_TRIANGLES, default 280000), exported
# to binary PLY so that vosh-render traces the very same triangles from the
# same camera. Both render plain occlusion (cosine-weighted hemisphere, a hit
# within distance 1 occludes fully, black environment) at 640 x 360 with 2
# threads over a ladder of budgets and splits (camera samples x directions
# per shading call), alternating the two renderers in every repetition. Each
# render's error is measured against its own renderer's converged reference
# (two renders of 1024 rays per pixel with other seeds, whose own noise is
# taken off), so the figures compare noise, not the small differences in
# what the two compute (those are printed separately). Equal-noise time =
# MSE x pixel-loop CPU time (all threads; what other work on a shared machine
# does not inflate, unlike wall time, which is printed too); the report
# gives vosh-render / Cycles per split, median and [min..max] over the
# repetitions. Both adaptive (VOSH_PEER_ADAPTIVE, "" to skip): at one split
# each renderer renders at several noise thresholds (its own scale), with
# the same most and least camera samples; the report matches them at equal
# RMSE. VOSH_PEER_SPLITS="" runs only the references and the adaptive runs.
# Output: $VOSH_PEER_OUT
# (default build-bench/peer), with the images and peer-summary.md.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${VOSH_BENCH_BUILD_DIR:-build-bench}
out=${VOSH_PEER_OUT:-$build/peer}
reps=${VOSH_PEER_REPETITIONS:-3}
triangles=${VOSH_PEER_TRIANGLES:-280000}
resolution=${VOSH_PEER_RESOLUTION:-640x360}
# camera samples x directions: 16 to 1024 rays per pixel
splits=${VOSH_PEER_SPLITS-"4x4 16x4 4x16 1x64 16x16 256x1 1x256 16x64"}
# Adaptive: the split (most camera samples x directions), least camera
# samples, then thresholds for vosh-render and for Cycles.
adaptive_split=${VOSH_PEER_ADAPTIVE_SPLIT:-64x4}
adaptive_min=${VOSH_PEER_ADAPTIVE_MIN:-4}
vosh_thresholds=${VOSH_PEER_ADAPTIVE-"0.03 0.015 0.0075"}
cycles_thresholds=${VOSH_PEER_CYCLES_ADAPTIVE-"0.04 0.02 0.01"}
reference=${VOSH_PEER_REFERENCE:-64x16}

if ! command -v blender >/dev/null; then
  apt-get update
  apt-get install -y --no-install-recommends blender
fi
scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOSH_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target vosh-render vosh_occlusion bench_peer_compare
mkdir -p "$out"
out=$(cd "$out" && pwd)
echo "load before the run: $(uptime)"

# Building the scene takes Blender several minutes: keep one made with the
# same triangle count and resolution.
stamp="triangles $triangles resolution $resolution"
if [[ ! -f $out/peer.ply || ! -f $out/peer.blend || "$(cat "$out/peer.stamp" 2>/dev/null)" != "$stamp" ]]; then
  rm -f "$out/peer.stamp"
  blender -b --factory-startup --python scripts/peer/make_scene.py -- "$out" "$triangles" "${resolution%x*}" \
    "${resolution#*x}" | grep '^PEER_SCENE'
  echo "$stamp" >"$out/peer.stamp"
fi

vosh() {  # NAME SPLIT SEED [OPTION ...]: renders $out/vosh-NAME.exr, prints "VOSH NAME CPU_SECONDS WALL_SECONDS"
  local k=${2%x*} n=${2#*x}
  local line
  line=$("$build/vosh-render" "$out/peer.json" -o "$out/vosh-$1.exr" --spp "$k" --set "samples=$n" \
           --seed "$3" --threads 2 "${@:4}")
  [[ $line == *"on average"* ]] && echo "VOSH_MEAN_SPP $1 $(sed -E 's/.* at most, ([0-9.]+) on average.*/\1/' <<<"$line")"
  echo "VOSH $1 $(sed -E 's/.* ([0-9.]+) s \(([0-9.]+) s CPU\).*/\2 \1/' <<<"$line")"
}
# Cycles' occlusion node takes at most 128 directions per shading call (it
# clamps larger counts without a word); a split beyond that is rendered with
# the same rays per pixel as more camera samples of 128 directions.
cycles_max_directions=128
cycles() {  # NAME:SPLIT:SEED[:THRESHOLD:MIN] ...
  local configs=()
  for c in "$@"; do
    IFS=: read -r name split seed adaptive <<<"$c"
    local k=${split%x*} n=${split#*x}
    if (( n > cycles_max_directions )); then
      if (( n % cycles_max_directions )); then
        echo "bench-peer: split $split: Cycles takes at most $cycles_max_directions directions per call," \
          "and $n is not a multiple of it" >&2
        exit 2
      fi
      k=$(( k * n / cycles_max_directions )) n=$cycles_max_directions
      echo "CYCLES_SPLIT $name ${k}x$n"
    fi
    configs+=("cycles-$name:$k:$n:$seed${adaptive:+:$adaptive}")
  done
  blender -b "$out/peer.blend" -t 2 --python scripts/peer/render_cycles.py -- "$out" "${configs[@]}" |
    grep '^CYCLES' | sed -E 's/^CYCLES cycles-/CYCLES /'
}

log="$out/times.txt"
: >"$log"
vosh ref-a "$reference" 1001 >>"$log"
vosh ref-b "$reference" 1002 >>"$log"
cycles "ref-a:$reference:1001" "ref-b:$reference:1002" >>"$log"
for rep in $(seq 1 "$reps"); do
  echo "LOAD repetition $rep: $(uptime)" >>"$log"
  configs=()
  for s in $splits; do configs+=("$s-r$rep:$s:$rep"); done
  [[ -n $vosh_thresholds ]] && for t in $cycles_thresholds; do configs+=("adaptive$t-$adaptive_split-r$rep:$adaptive_split:$rep:$t:$adaptive_min"); done
  vosh_runs() {
    for s in $splits; do vosh "$s-r$rep" "$s" "$rep" >>"$log"; done
    for t in $vosh_thresholds; do
      vosh "adaptive$t-$adaptive_split-r$rep" "$adaptive_split" "$rep" --noise-threshold "$t" \
        --min-spp "$adaptive_min" --sample-map "$out/vosh-adaptive$t-r$rep-map.png" >>"$log"
    done
  }
  # Alternate which renderer goes first, so drifting load hits both alike.
  if (( rep % 2 )); then
    vosh_runs
    if (( ${#configs[@]} )); then cycles "${configs[@]}" >>"$log"; fi
  else
    if (( ${#configs[@]} )); then cycles "${configs[@]}" >>"$log"; fi
    vosh_runs
  fi
done
echo "load after the run: $(uptime)"
echo "LOAD after: $(uptime)" >>"$log"

errors="$out/errors.txt"
{
  "$build/bench/bench_peer_compare" "$out/vosh-ref-a.exr" "$out/vosh-ref-b.exr" "$out"/vosh-*-r*.exr |
    sed 's/^/VOSH /'
  "$build/bench/bench_peer_compare" "$out/cycles-ref-a.exr" "$out/cycles-ref-b.exr" "$out"/cycles-*-r*.exr |
    sed 's/^/CYCLES /'
  # What the two compute differs by this much (both references' noise taken off).
  "$build/bench/bench_peer_compare" "$out/vosh-ref-a.exr" "$out/vosh-ref-b.exr" \
    "$out/cycles-ref-a.exr" "$out/cycles-ref-b.exr" | sed 's/^/BETWEEN /'
} >"$errors"
python3 scripts/peer/report.py "$log" "$errors" | tee "$out/peer-summary.md"

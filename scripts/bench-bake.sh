#!/usr/bin/env bash
# Times `vosh-render bake` against Blender's own ambient-occlusion bake
# (Cycles, CPU) of the same mesh and UV layout, in the same run, and
# compares the two maps. A benchmark: never part of the tests or CI.
# Installs Debian's blender when it is missing (needs root).
#
#   scripts/bench-bake.sh                    # the crate, 512 x 512, 5 repetitions
#   VOSH_BENCH_REPETITIONS=3 VOSH_BAKE_SIZE=1024 scripts/bench-bake.sh MESH.obj
#   scripts/bench-bake.sh projected          # high-poly onto low-poly (below)
#
# Both get the same texture size, padding (Blender's margin), rays per
# texel (Blender's samples, one occlusion ray each; vosh-render's points per
# texel times the shader's samples), 2 threads, and the same occlusion
# definition as far as the two allow: cosine-weighted over the hemisphere,
# a hit within VOSH_BAKE_DISTANCE occludes fully, anything beyond not at
# all (vosh-render: near_distance = far_distance = that distance).
# Repetitions alternate which of the two goes first. Other work on the
# machine skews the figures: run it when `uptime` shows a load well below
# the number of cores.
#
# `projected` bakes a high-poly monkey (subdivided, with displaced noise
# detail) onto a low-poly, smart-UV-unwrapped one, both made by Blender in
# the run, with `vosh-render bake LOW --from HIGH --maps ao,normal` and
# with Blender's "selected to active" bakes of the occlusion and the
# tangent-space normal map (scripts/bench_bake_project_blender.py), then
# compares the maps away from island borders and writes them side by side
# (scripts/bench_bake_project_compare.py). Same size, margin = padding,
# rays per texel, occlusion distance and searched segment (Blender's cage
# extrusion = --front, its maximum ray distance = --front + --back).
# VOSH_BAKE_IMAGES=PREFIX keeps the side-by-side PNGs as PREFIX_ao.png and
# PREFIX_normal.png.
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ ${1:-} == projected ]]; then
  exec scripts/bench-bake-projected.sh "${@:2}"
fi
mesh=${1:-scenes/meshes/crate.obj}
size=${VOSH_BAKE_SIZE:-512}
padding=${VOSH_BAKE_PADDING:-16}
distance=${VOSH_BAKE_DISTANCE:-1}
reps=${VOSH_BENCH_REPETITIONS:-5}
build=${VOSH_BENCH_BUILD_DIR:-build}
points=4       # vosh-render points per texel
per_point=16   # probe rays per point
rays=$((points * per_point))

if ! command -v blender >/dev/null; then
  if [[ $(id -u) -ne 0 ]]; then
    echo "bench-bake: blender is not installed, and installing it needs root" >&2
    exit 1
  fi
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y blender
fi
cmake --build "$build" --target vosh-render vosh_occlusion >/dev/null

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
blender_py=$PWD/scripts/bench_bake_blender.py
vosh=("$build/vosh-render" bake "$mesh" --size "$size" --spp "$points" --threads 2 --quiet
      --set "samples=$per_point" --set "near_distance=$distance" --set "far_distance=$distance")

now() { date +%s.%N; }
run_vosh() {  # padding, output
  "${vosh[@]}" --padding "$1" -o "$2"
}
run_blender() {  # margin, output; prints the bake call's own seconds
  blender -b --factory-startup --python "$blender_py" -- \
    bake "$mesh" "$size" "$1" "$rays" "$distance" "$2" 2>&1 | sed -n 's/^bake_seconds //p'
}

echo "load before the run: $(uptime)"
echo "mesh $mesh, $size x $size, padding $padding, $rays rays per texel, distance $distance, 2 threads"
: >"$out/times"
for ((r = 1; r <= reps; ++r)); do
  for who in $( ((r % 2)) && echo "vosh blender" || echo "blender vosh"); do
    start=$(now)
    if [[ $who == vosh ]]; then
      run_vosh "$padding" "$out/vosh.exr"
      bake=-
    else
      bake=$(run_blender "$padding" "$out/blender.exr")
    fi
    echo "$r $who $(awk "BEGIN { print $(now) - $start }") ${bake:--}" | tee -a "$out/times"
  done
done
echo "load after the run: $(uptime)"

# Unpadded maps tell which texels each bake covers.
run_vosh 0 "$out/vosh_unpadded.exr"
run_blender 0 "$out/blender_unpadded.exr" >/dev/null

python3 - "$out/times" <<'EOF'
import statistics, sys
rows = [line.split() for line in open(sys.argv[1])]
wall = {"vosh": [], "blender": []}
bake = []
for rep, who, seconds, op in rows:
    wall[who].append(float(seconds))
    if who == "blender" and op != "-":
        bake.append(float(op))
def show(name, values):
    print("%-32s median %.3f s  (min %.3f, max %.3f, n %d)"
          % (name, statistics.median(values), min(values), max(values), len(values)))
show("vosh-render bake (process)", wall["vosh"])
show("blender (process)", wall["blender"])
show("blender bake call alone", bake)
ratios = [b / v for v, b in zip(wall["vosh"], bake)]
print("blender bake call / vosh-render process, per repetition: median %.2f (min %.2f, max %.2f)"
      % (statistics.median(ratios), min(ratios), max(ratios)))
EOF
blender -b --factory-startup --python "$blender_py" -- compare \
  "$out/vosh.exr" "$out/vosh_unpadded.exr" "$out/blender.exr" "$out/blender_unpadded.exr" 2>&1 |
  grep -E '^(covered_texels|vosh_mean|blender_mean|mean_difference|rms_difference) '

#!/usr/bin/env bash
# `scripts/bench-bake.sh projected`: times `vosh-render bake LOW --from HIGH`
# against Blender's "selected to active" bakes (Cycles, CPU) of the same
# high/low pair in the same run, and compares the maps. A benchmark: never
# part of the tests or CI. Needs Debian's blender (bench-bake.sh installs it).
#
#   scripts/bench-bake.sh projected
#   VOSH_BENCH_REPETITIONS=3 VOSH_BAKE_SIZE=256 VOSH_BAKE_IMAGES=docs/images/bake_projected \
#     scripts/bench-bake.sh projected
#
# The pair: Blender's monkey, smart-UV unwrapped and triangulated (967
# triangles), and the same monkey subdivided VOSH_BAKE_LEVELS times with a
# noise displacement of VOSH_BAKE_DETAIL applied (63 k triangles at 3), both
# as OBJ with normals. Matched settings:
# - texture size, padding = Blender's margin (its "extend" kind, which like
#   ours copies the nearest border texel), 2 threads;
# - occlusion: Blender's samples = vosh-render's points per texel times the
#   shader's samples; a hit within VOSH_BAKE_DISTANCE occludes fully, none
#   beyond (Blender's world occlusion distance; near = far distance here);
# - normal map: Blender's samples = vosh-render's points per texel, tangent
#   space, +x +y +z (green up the texture, our --normal-y up);
# - projection: both search the segment from VOSH_BAKE_FRONT in front of the
#   low surface to VOSH_BAKE_BACK behind it along the low normal: Blender's
#   cage extrusion is the front, its maximum ray distance (measured from the
#   pushed-out start) front + back. The rules differ where a ray meets the
#   high surface more than once: Blender takes the first hit from the front,
#   vosh-render the hit nearest the low surface. The figures come once over
#   all texels compared and once without those (and their neighbours) whose
#   centre's ray meets the high-poly twice ("_one_layer").
# vosh-render is timed as a whole process and by the bake time of its
# summary line (both maps in one pass); Blender by its two bake calls alone.
set -euo pipefail
cd "$(dirname "$0")/.."
size=${VOSH_BAKE_SIZE:-512}
padding=${VOSH_BAKE_PADDING:-16}
distance=${VOSH_BAKE_DISTANCE:-0.5}
front=${VOSH_BAKE_FRONT:-0.1}
back=${VOSH_BAKE_BACK:-$front}
levels=${VOSH_BAKE_LEVELS:-3}
detail=${VOSH_BAKE_DETAIL:-0.04}
border=${VOSH_BAKE_BORDER:-2}
reps=${VOSH_BENCH_REPETITIONS:-5}
build=${VOSH_BENCH_BUILD_DIR:-build}
images=${VOSH_BAKE_IMAGES:-}
[[ -z $images || $images == /* ]] || images=$PWD/$images
points=${VOSH_BAKE_POINTS:-4}       # vosh-render points per texel
per_point=${VOSH_BAKE_PER_POINT:-16}  # probe rays per point
rays=$((points * per_point))
converged_size=${VOSH_BAKE_CONVERGED_SIZE:-256}
converged_rays=${VOSH_BAKE_CONVERGED_RAYS:-1024}  # 0: no convergence pass

cmake --build "$build" --target vosh-render vosh_occlusion >/dev/null
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
here=$PWD/scripts
low=$out/low.obj high=$out/high.obj

in_blender() {  # script, arguments...
  blender -b --factory-startup --python "$here/$1" -- "${@:2}" 2>&1
}
in_blender bench_bake_project_blender.py pair "$low" "$high" "$levels" "$detail" |
  grep -E '^(low_triangles|high_triangles|deviation) '

# VOSH_BAKE_FILE_TANGENTS=1: vosh-render bakes onto the same low-poly with
# Blender's tangents in the file (glTF), which leaves the projection alone
# to explain a normal-map difference.
vosh_low=$low
# VOSH_BAKE_NORMAL_SPACE=object: both bake object-space normal maps, which
# leaves the tangent frames out of the comparison.
space=${VOSH_BAKE_NORMAL_SPACE:-tangent}
[[ ${VOSH_BAKE_FILE_TANGENTS:-0} == 1 ]] && vosh_low=${low%.obj}.glb
vosh=("$build/vosh-render" bake "$vosh_low" --from "$high" --front "$front" --back "$back"
      --size "$size" --spp "$points" --threads 2 --set "samples=$per_point" --space "$space"
      --set "near_distance=$distance" --set "far_distance=$distance")
now() { date +%s.%N; }
run_vosh() {  # maps, padding, output; prints the summary's bake seconds
  "${vosh[@]}" --maps "$1" --padding "$2" -o "$3" 2>&1 | tr '\r' '\n' |
    sed -n 's/.* \([0-9.]*\) s, .*/\1/p' | tail -1
}
run_blender() {  # margin, ao output, normal output; prints both bake calls' seconds
  in_blender bench_bake_project_blender.py bake "$low" "$high" "$size" "$1" "$rays" "$points" \
    "$distance" "$front" "$back" "$2" "$3" 0 "${space^^}" | sed -n 's/^\(ao\|normal\)_seconds //p' | paste -sd ' '
}

echo "load before the run: $(uptime)"
echo "$size x $size, padding $padding, occlusion $rays rays per texel within $distance," \
  "$space-space normal $points samples per texel, front $front, back $back, 2 threads"
: >"$out/times"
for ((r = 1; r <= reps; ++r)); do
  for who in $( ((r % 2)) && echo "vosh blender" || echo "blender vosh"); do
    start=$(now)
    if [[ $who == vosh ]]; then
      bake=$(run_vosh ao,normal "$padding" "$out/vosh_{map}.exr")
    else
      bake=$(run_blender "$padding" "$out/blender_ao.exr" "$out/blender_normal.exr")
    fi
    echo "$r $who $(awk "BEGIN { print $(now) - $start }") ${bake:--}" | tee -a "$out/times"
  done
done
echo "load after the run: $(uptime)"

# Unpadded normal maps tell which texels each bake covers and found the
# high-poly for (the same rays make both maps).
"${vosh[@]}" --maps normal --padding 0 -o "$out/vosh_mask_{map}.exr" 2>&1 | tr '\r' '\n' |
  sed -n 's/.*covered, \([0-9]*\) texels found no.*/vosh-render texels whose rays missed: \1/p'
run_blender 0 - "$out/blender_mask.exr" >/dev/null
in_blender bench_bake_project_blender.py layers "$low" "$high" "$size" "$front" "$back" \
  "$out/layers.exr" | grep '^texels_with_two_layers '

python3 - "$out/times" <<'EOF'
import statistics, sys
rows = [line.split() for line in open(sys.argv[1])]
vosh = {"process": [], "bake": []}
blender = {"process": [], "ao": [], "normal": [], "both": []}
for row in rows:
    if row[1] == "vosh":
        vosh["process"].append(float(row[2]))
        vosh["bake"].append(float(row[3]))
    else:
        ao, normal = float(row[3]), float(row[4])
        blender["process"].append(float(row[2]))
        blender["ao"].append(ao)
        blender["normal"].append(normal)
        blender["both"].append(ao + normal)
def show(name, values):
    print("%-40s median %7.3f  (min %.3f, max %.3f, n %d)"
          % (name, statistics.median(values), min(values), max(values), len(values)))
show("vosh-render process, s", vosh["process"])
show("vosh-render bake (summary), s", vosh["bake"])
show("blender process, s", blender["process"])
show("blender ao bake call, s", blender["ao"])
show("blender normal bake call, s", blender["normal"])
show("blender both bake calls, s", blender["both"])
show("ours bake / blender's calls", [v / b for v, b in zip(vosh["bake"], blender["both"])])
show("ours process / blender's calls", [v / b for v, b in zip(vosh["process"], blender["both"])])
EOF
echo "maps at $size x $size, over texels both cover at least $border texels inside their borders:"
in_blender bench_bake_project_compare.py --border "$border" ${images:+--images "$images"} \
  --layers "$out/layers.exr" --mask "$out/vosh_mask_normal.exr" "$out/blender_mask.exr" \
  --ao "$out/vosh_ao.exr" "$out/blender_ao.exr" \
  --normal "$out/vosh_normal.exr" "$out/blender_normal.exr" | grep -E '^(texels|ao|normal)_'

# Occlusion near convergence, unpadded (each map is its own mask), at a
# smaller size: vosh-render and Blender at the same rays per texel, and
# Blender against itself with another seed, the part of the difference
# that Blender's own noise leaves.
if ((converged_rays > 0)); then
  echo "occlusion at $converged_size x $converged_size, $converged_rays rays per texel:"
  "$build/vosh-render" bake "$vosh_low" --from "$high" --front "$front" --back "$back" --quiet \
    --size "$converged_size" --spp "$points" --threads 2 --set "samples=$((converged_rays / points))" \
    --set "near_distance=$distance" --set "far_distance=$distance" --maps ao --padding 0 \
    -o "$out/vosh_converged_{map}.exr"
  for seed in 0 1; do
    in_blender bench_bake_project_blender.py bake "$low" "$high" "$converged_size" 0 \
      "$converged_rays" "$points" "$distance" "$front" "$back" "$out/blender_converged_$seed.exr" - \
      "$seed" | sed -n "s/^ao_seconds /blender bake call, seed $seed: /p"
  done
  in_blender bench_bake_project_blender.py layers "$low" "$high" "$converged_size" "$front" "$back" \
    "$out/layers_converged.exr" | grep '^texels_with_two_layers '
  echo "vosh-render against Blender:"
  in_blender bench_bake_project_compare.py --border "$border" --layers "$out/layers_converged.exr" \
    --mask "$out/vosh_converged_ao.exr" "$out/blender_converged_0.exr" \
    --ao "$out/vosh_converged_ao.exr" "$out/blender_converged_0.exr" | grep -E '^(texels_compared|ao_)'
  echo "Blender seed 1 against Blender seed 0:"
  in_blender bench_bake_project_compare.py --border "$border" \
    --mask "$out/blender_converged_1.exr" "$out/blender_converged_0.exr" \
    --ao "$out/blender_converged_1.exr" "$out/blender_converged_0.exr" | grep -E '^ao_(mean|abs)'
fi

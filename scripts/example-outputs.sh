#!/usr/bin/env bash
# Renders every example scene and bakes the example models into DIR with the
# build in BUILD (default build/), so that a change meant to keep behaviour
# can be checked byte for byte: run it before and after, then
# `cmp -s` each pair (or `diff -r BEFORE AFTER`).
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:?usage: scripts/example-outputs.sh OUT_DIR [BUILD_DIR]}"
build="${2:-build}"
render="$build/vosh-render"
mkdir -p "$out"
for scene in scenes/*.json; do
    name="$(basename "$scene" .json)"
    "$render" "$scene" --threads 2 --quiet -o "$out/$name.exr"
done
"$render" scenes/demo.json --threads 2 --quiet -o "$out/demo.png"
"$render" scenes/demo.json --threads 2 --quiet --region 40,30,200,150 --seed 7 --spp 3 -o "$out/demo_region.exr"
"$render" bake scenes/crate_baked.json --object crate --size 256 --threads 2 --quiet -o "$out/crate_scene_ao.png"
# The one example model with UVs (the others are refused for having none).
model=scenes/meshes/crate.obj
"$render" bake "$model" --size 256 --threads 2 --quiet -o "$out/crate_ao.png"
"$render" bake "$model" --size 128 --set bent_normals=on --threads 2 --quiet -o "$out/crate_bent.exr"
"$render" bake "$model" --size 128 --set bent_normals=on --space object --normal-y down --depth 16 \
    --threads 2 --quiet -o "$out/crate_bent_object.png"
"$render" bake "$model" --size 200x100 --padding 3 --spp 2 --seed 5 --background 1,0,0,1 \
    --threads 2 --quiet -o "$out/crate_options.exr"
ls "$out" | wc -l | xargs echo "outputs written to $out:"

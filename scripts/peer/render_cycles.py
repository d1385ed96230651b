# Run by scripts/bench-peer.sh inside Blender:
#   blender -b peer.blend -t 2 --python render_cycles.py -- OUT_DIR NAME:SAMPLES:AO_SAMPLES:SEED[:THRESHOLD:MIN] ...
# Renders each configuration with Cycles into OUT_DIR/NAME.exr and prints
# "CYCLES NAME CPU_SECONDS WALL_SECONDS" per render: the process's CPU time
# (all threads) and the wall time of the render call, each less that of a
# 1 x 1 render (scene sync, kernels, film), so that what remains is the
# sampling itself, as vosh-render's pixel-loop times are. CPU time is what
# other work on a shared machine does not inflate. With THRESHOLD and MIN,
# Cycles' adaptive sampling is on (SAMPLES the most, MIN the least).
import os
import resource
import sys
import time

import bpy

args = sys.argv[sys.argv.index("--") + 1:]
out_dir, configs = args[0], args[1:]
scene = bpy.context.scene
ao = bpy.data.materials["occlusion"].node_tree.nodes["AO"]


def cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def render(samples, ao_samples, seed, threshold=None, min_samples=0):
    # With persistent data Blender 3.4 keeps the scene's sample count of the
    # first render; the view layer's override is read every time.
    scene.cycles.samples = samples
    bpy.context.view_layer.samples = samples
    scene.cycles.seed = seed
    ao.samples = ao_samples
    if ao.samples != ao_samples:  # the node clamps silently
        sys.exit(f"render_cycles.py: the occlusion node takes {ao.samples} directions, not {ao_samples}")
    scene.cycles.use_adaptive_sampling = threshold is not None
    if threshold is not None:
        scene.cycles.adaptive_threshold = threshold
        scene.cycles.adaptive_min_samples = min_samples
    cpu, wall = cpu_seconds(), time.perf_counter()
    bpy.ops.render.render()
    return cpu_seconds() - cpu, time.perf_counter() - wall


render(1, 1, 0)  # warm-up: builds the BVH, kept by persistent data
fixed = [render(1, 1, 0) for _ in range(3)]
overhead = (min(f[0] for f in fixed), min(f[1] for f in fixed))
print("CYCLES_OVERHEAD %.4f %.4f" % overhead, flush=True)
for config in configs:
    name, samples, ao_samples, seed, *adaptive = config.split(":")
    threshold, min_samples = (float(adaptive[0]), int(adaptive[1])) if adaptive else (None, 0)
    cpu, wall = render(int(samples), int(ao_samples), int(seed), threshold, min_samples)
    bpy.data.images["Render Result"].save_render(filepath=os.path.join(out_dir, name + ".exr"))
    print("CYCLES %s %.4f %.4f" % (name, cpu - overhead[0], wall - overhead[1]), flush=True)

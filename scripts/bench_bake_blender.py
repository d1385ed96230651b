"""Blender's side of scripts/bench-bake.sh, run inside Blender:

    blender -b --factory-startup --python scripts/bench_bake_blender.py -- \\
        bake MESH.obj SIZE MARGIN SAMPLES DISTANCE OUT.exr
    blender -b --factory-startup --python scripts/bench_bake_blender.py -- \\
        compare VOSH.exr VOSH_UNPADDED.exr BLENDER.exr BLENDER_UNPADDED.exr

`bake` imports the mesh with its UV layout, bakes Cycles' ambient occlusion
(CPU, 2 threads, SAMPLES rays per texel, hits within DISTANCE occlude)
into a float image and prints "bake_seconds S" for the bake call alone.
`compare` prints the mean and RMS difference of the two padded maps over
the texels both unpadded maps cover (alpha above 0).
"""
import math
import sys
import time

import bpy


def bake(mesh, size, margin, samples, distance, out):
    bpy.ops.wm.read_factory_settings(use_empty=True)
    bpy.ops.wm.obj_import(filepath=mesh)
    obj = bpy.context.selected_objects[0]
    bpy.context.view_layer.objects.active = obj
    scene = bpy.context.scene
    scene.render.engine = "CYCLES"
    scene.cycles.device = "CPU"
    scene.cycles.samples = samples
    scene.cycles.use_adaptive_sampling = False
    scene.cycles.use_denoising = False
    scene.render.threads_mode = "FIXED"
    scene.render.threads = 2
    scene.world = bpy.data.worlds.new("open sky")
    scene.world.light_settings.distance = distance
    image = bpy.data.images.new("ao", size, size, alpha=True, float_buffer=True)
    image.colorspace_settings.name = "Non-Color"
    image.generated_color = (0, 0, 0, 0)
    material = bpy.data.materials.new("bake target")
    material.use_nodes = True
    node = material.node_tree.nodes.new("ShaderNodeTexImage")
    node.image = image
    material.node_tree.nodes.active = node
    obj.data.materials.clear()
    obj.data.materials.append(material)
    start = time.perf_counter()
    bpy.ops.object.bake(type="AO", margin=margin, use_clear=False)
    print("bake_seconds %.4f" % (time.perf_counter() - start))
    image.filepath_raw = out
    image.file_format = "OPEN_EXR"
    image.save()


def pixels(path):
    """RGBA floats of an image, bottom row first (Blender's order, the same
    for every file loaded here)."""
    image = bpy.data.images.load(path)
    image.colorspace_settings.name = "Non-Color"
    return image.pixels[:]


def compare(vosh, vosh_unpadded, blender, blender_unpadded):
    a, b = pixels(vosh), pixels(blender)
    mask_a, mask_b = pixels(vosh_unpadded), pixels(blender_unpadded)
    # Occlusion maps are grey: the red channel of each texel both cover.
    pairs = [(a[i], b[i]) for i in range(0, len(a), 4) if mask_a[i + 3] > 0 and mask_b[i + 3] > 0]
    n = len(pairs)
    d = [x - y for x, y in pairs]
    print("covered_texels %d (vosh %d, blender %d)" % (n, sum(1 for i in range(3, len(mask_a), 4) if mask_a[i] > 0),
                                                    sum(1 for i in range(3, len(mask_b), 4) if mask_b[i] > 0)))
    print("vosh_mean %.4f" % (sum(x for x, _ in pairs) / n))
    print("blender_mean %.4f" % (sum(y for _, y in pairs) / n))
    print("mean_difference %.4f" % (sum(d) / n))
    print("rms_difference %.4f" % math.sqrt(sum(v * v for v in d) / n))


args = sys.argv[sys.argv.index("--") + 1:]
if args[0] == "bake":
    bake(args[1], int(args[2]), int(args[3]), int(args[4]), float(args[5]), args[6])
elif args[0] == "compare":
    compare(*args[1:5])

"""Blender's side of the high-poly to low-poly part of scripts/bench-bake.sh,
run inside Blender:

    blender -b --factory-startup --python scripts/bench_bake_project_blender.py -- \\
        pair LOW.obj HIGH.obj LEVELS STRENGTH
    blender -b --factory-startup --python scripts/bench_bake_project_blender.py -- \\
        bake LOW.obj HIGH.obj SIZE MARGIN AO_SAMPLES NORMAL_SAMPLES DISTANCE \\
             FRONT BACK AO.exr NORMAL.exr [SEED [SPACE]]
    blender -b --factory-startup --python scripts/bench_bake_project_blender.py -- \\
        layers LOW.obj HIGH.obj SIZE FRONT BACK OUT.exr

`pair` makes the two meshes: the low-poly is Blender's monkey, smart-UV
unwrapped and triangulated, shaded smooth; the high-poly is the same
monkey subdivided LEVELS times (Catmull-Clark) with a displacement of
STRENGTH along the normal by a procedural noise texture, applied, shaded
smooth. Both are written as OBJ with their normals (and the low one's UVs),
triangulated, so both bakers read the same triangles and corner normals.
The low-poly is also written beside LOW.obj as LOW.glb with Blender's
tangents. It prints how far the high surface lies from the low one ("deviation"),
which tells how far the projection rays must search.

`bake` imports the two files and bakes Cycles' "selected to active"
ambient occlusion (AO_SAMPLES rays per texel, hits within DISTANCE
occlude) and tangent-space normal map (NORMAL_SAMPLES samples per texel,
+x +y +z swizzle: green up the texture) from the high-poly onto the
low-poly's UV layout, CPU, 2 threads, into float images. Blender casts each
projection ray from the low surface pushed out by its cage extrusion,
inwards along the low normal, and takes the first hit within its maximum
ray distance of that start: extrusion FRONT and distance FRONT + BACK search
the same segment as vosh-render's --front FRONT --back BACK. It prints
"ao_seconds S" and "normal_seconds S" for the two bake calls alone.

`layers` writes an image whose alpha is 1 at the texels where the ray
from the texel centre meets the high-poly twice or more within the
searched segment (the two bakers pick different hits there). An
output named "-" is not baked; SEED (default 0) is Cycles' seed; SPACE
(default TANGENT) may be OBJECT, the mesh file's own coordinates.
"""
import sys
import time

import bpy


def select_only(obj):
    bpy.ops.object.select_all(action="DESELECT")
    obj.select_set(True)
    bpy.context.view_layer.objects.active = obj


def export_obj(obj, path, uvs):
    select_only(obj)
    bpy.ops.wm.obj_export(filepath=path, export_selected_objects=True, export_uv=uvs,
                          export_normals=True, export_materials=False,
                          export_triangulated_mesh=True, apply_modifiers=True)


def deviation(low, high):
    """Distances from the high-poly's vertices to the low surface."""
    from mathutils.bvhtree import BVHTree
    tree = BVHTree.FromObject(low, bpy.context.evaluated_depsgraph_get())
    d = sorted((tree.find_nearest(v.co)[0] - v.co).length for v in high.data.vertices)
    return d[len(d) // 2], d[int(len(d) * 0.99)], d[-1]


def pair(low_path, high_path, levels, strength):
    bpy.ops.wm.read_factory_settings(use_empty=True)
    bpy.ops.mesh.primitive_monkey_add(size=2)
    low = bpy.context.active_object
    low.name = "low"
    bpy.ops.object.duplicate()
    high = bpy.context.active_object
    high.name = "high"

    select_only(low)
    bpy.ops.object.mode_set(mode="EDIT")
    bpy.ops.mesh.select_all(action="SELECT")
    bpy.ops.uv.smart_project(island_margin=0.02)
    # Triangulated before its normals are computed, so the corner normals
    # Blender bakes with are those written out.
    bpy.ops.mesh.quads_convert_to_tris(quad_method="BEAUTY", ngon_method="BEAUTY")
    bpy.ops.object.mode_set(mode="OBJECT")
    bpy.ops.object.shade_smooth()

    select_only(high)
    subsurf = high.modifiers.new("subdivision", "SUBSURF")
    subsurf.levels = subsurf.render_levels = levels
    noise = bpy.data.textures.new("detail", "CLOUDS")
    noise.noise_scale = 0.12
    noise.noise_depth = 2
    displace = high.modifiers.new("detail", "DISPLACE")
    displace.texture = noise
    displace.texture_coords = "LOCAL"
    displace.strength = strength
    displace.mid_level = 0.5
    bpy.ops.object.modifier_apply(modifier=subsurf.name)
    bpy.ops.object.modifier_apply(modifier=displace.name)
    bpy.ops.object.mode_set(mode="EDIT")
    bpy.ops.mesh.select_all(action="SELECT")
    bpy.ops.mesh.quads_convert_to_tris(quad_method="BEAUTY", ngon_method="BEAUTY")
    bpy.ops.object.mode_set(mode="OBJECT")
    bpy.ops.object.shade_smooth()

    export_obj(low, low_path, True)
    export_obj(high, high_path, False)
    # The low-poly once more with Blender's own tangents, for telling the
    # tangent frame's part of a normal-map difference from the projection's.
    select_only(low)
    bpy.ops.export_scene.gltf(filepath=low_path.rsplit(".", 1)[0] + ".glb", export_format="GLB",
                              use_selection=True, export_normals=True, export_tangents=True,
                              export_texcoords=True, export_materials="NONE", export_apply=True)
    print("low_triangles %d" % len(low.data.polygons))
    print("high_triangles %d" % len(high.data.polygons))
    print("deviation median %.4f p99 %.4f max %.4f" % deviation(low, high))


def target_image(obj, name, size):
    image = bpy.data.images.new(name, size, size, alpha=True, float_buffer=True)
    image.colorspace_settings.name = "Non-Color"
    image.generated_color = (0, 0, 0, 0)
    material = bpy.data.materials.new("bake target")
    material.use_nodes = True
    node = material.node_tree.nodes.new("ShaderNodeTexImage")
    node.image = image
    material.node_tree.nodes.active = node
    obj.data.materials.clear()
    obj.data.materials.append(material)
    return image


def save(image, path):
    image.filepath_raw = path
    image.file_format = "OPEN_EXR"
    image.save()


def bake(low_path, high_path, size, margin, ao_samples, normal_samples, distance, front, back,
         ao_out, normal_out, seed, space):
    bpy.ops.wm.read_factory_settings(use_empty=True)
    bpy.ops.wm.obj_import(filepath=high_path)
    high = bpy.context.selected_objects[0]
    bpy.ops.wm.obj_import(filepath=low_path)
    low = bpy.context.selected_objects[0]
    scene = bpy.context.scene
    scene.render.engine = "CYCLES"
    scene.cycles.device = "CPU"
    scene.cycles.use_adaptive_sampling = False
    scene.cycles.use_denoising = False
    scene.cycles.seed = seed
    # Samples spread evenly over the texel's square, as vosh-render's points
    # are (the default filter reaches 1.5 texels wide, weighted).
    scene.cycles.pixel_filter_type = "BOX"
    scene.cycles.filter_width = 1.0
    scene.render.threads_mode = "FIXED"
    scene.render.threads = 2
    scene.world = bpy.data.worlds.new("open sky")
    scene.world.light_settings.distance = distance
    bake_settings = dict(use_selected_to_active=True, cage_extrusion=front,
                         max_ray_distance=front + back, margin=margin, margin_type="EXTEND",
                         use_clear=False)
    for name, samples, out, extra in (
            ("ao", ao_samples, ao_out, {}),
            ("normal", normal_samples, normal_out,
             dict(normal_space=space, normal_r="POS_X", normal_g="POS_Y", normal_b="POS_Z"))):
        if out == "-":
            continue
        image = target_image(low, name, size)
        scene.cycles.samples = samples
        bpy.ops.object.select_all(action="DESELECT")
        high.select_set(True)
        low.select_set(True)
        bpy.context.view_layer.objects.active = low
        start = time.perf_counter()
        bpy.ops.object.bake(type=name.upper(), **bake_settings, **extra)
        print("%s_seconds %.4f" % (name, time.perf_counter() - start))
        save(image, out)


def layers(low_path, high_path, size, front, back, out):
    """Marks the texels whose centre's projection ray meets the high-poly
    more than once within the searched segment: there Blender takes the
    first hit from the front, vosh-render the one nearest the low surface."""
    import numpy as np
    from mathutils import Vector
    from mathutils.bvhtree import BVHTree
    bpy.ops.wm.read_factory_settings(use_empty=True)
    bpy.ops.wm.obj_import(filepath=high_path)
    high = bpy.context.selected_objects[0].data
    bpy.ops.wm.obj_import(filepath=low_path)
    low = bpy.context.selected_objects[0].data
    low.calc_normals_split()
    tree = BVHTree.FromPolygons([v.co for v in high.vertices], [p.vertices[:] for p in high.polygons])
    uv = np.array([d.uv[:] for d in low.uv_layers.active.data]) * size
    mask = np.zeros((size, size, 4), dtype=np.float32)
    for poly in low.polygons:
        loops = list(poly.loop_indices)
        p = uv[loops]
        lo = np.maximum(np.floor(p.min(0)).astype(int), 0)
        hi = np.minimum(np.ceil(p.max(0)).astype(int), size)
        d, e = p[1] - p[0], p[2] - p[0]
        den = d[0] * e[1] - d[1] * e[0]
        if den == 0:
            continue
        for y in range(lo[1], hi[1]):
            for x in range(lo[0], hi[0]):
                r = np.array([x + 0.5, y + 0.5]) - p[0]
                u = (r[0] * e[1] - r[1] * e[0]) / den
                v = (d[0] * r[1] - d[1] * r[0]) / den
                if u < 0 or v < 0 or u + v > 1:
                    continue
                w = (1 - u - v, u, v)
                point = sum((low.vertices[low.loops[l].vertex_index].co * k for l, k in zip(loops, w)), Vector())
                normal = sum((low.loops[l].normal * k for l, k in zip(loops, w)), Vector()).normalized()
                start, travelled, hits = point + normal * front, 0.0, 0
                while hits < 2:
                    hit = tree.ray_cast(start - normal * (travelled + 1e-5), -normal,
                                        front + back - travelled)
                    if hit[0] is None:
                        break
                    travelled += 1e-5 + hit[3]
                    hits += travelled <= front + back
                if hits > 1:
                    mask[y, x] = 1
    image = bpy.data.images.new("layers", size, size, alpha=True, float_buffer=True)
    image.colorspace_settings.name = "Non-Color"
    image.pixels.foreach_set(mask.ravel())
    save(image, out)
    print("texels_with_two_layers %d" % int(mask[..., 3].sum()))


args = sys.argv[sys.argv.index("--") + 1:]
if args[0] == "pair":
    pair(args[1], args[2], int(args[3]), float(args[4]))
elif args[0] == "layers":
    layers(args[1], args[2], int(args[3]), float(args[4]), float(args[5]), args[6])
elif args[0] == "bake":
    bake(args[1], args[2], int(args[3]), int(args[4]), int(args[5]), int(args[6]),
         float(args[7]), float(args[8]), float(args[9]), args[10], args[11],
         int(args[12]) if len(args) > 12 else 0, args[13] if len(args) > 13 else "TANGENT")

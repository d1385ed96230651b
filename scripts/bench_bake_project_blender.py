"""Blender's side of the high-poly to low-poly part of scripts/bench-bake.sh,
run inside Blender:

    blender -b --factory-startup --python scripts/bench_bake_project_blender.py -- \\
        pair LOW.obj HIGH.obj LEVELS STRENGTH
    blender -b --factory-startup --python scripts/bench_bake_project_blender.py -- \\
        bake LOW.obj HIGH.obj SIZE MARGIN AO_SAMPLES NORMAL_SAMPLES DISTANCE \\
             FRONT BACK AO.exr NORMAL.exr [SEED [SPACE]]

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
"ao_seconds S" and "normal_seconds S" for the two bake calls alone. An
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


args = sys.argv[sys.argv.index("--") + 1:]
if args[0] == "pair":
    pair(args[1], args[2], int(args[3]), float(args[4]))
elif args[0] == "bake":
    bake(args[1], args[2], int(args[3]), int(args[4]), int(args[5]), int(args[6]),
         float(args[7]), float(args[8]), float(args[9]), args[10], args[11],
         int(args[12]) if len(args) > 12 else 0, args[13] if len(args) > 13 else "TANGENT")

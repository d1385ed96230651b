# Run by scripts/bench-peer.sh inside Blender:
#   blender -b --factory-startup --python make_scene.py -- OUT_DIR TRIANGLES [WIDTH HEIGHT]
# Builds the peer scene from generated primitives (one flat-shaded, triangulated
# mesh), saves it as OUT_DIR/peer.blend for Cycles with the occlusion material,
# exports the same triangles to OUT_DIR/peer.ply and writes OUT_DIR/peer.json,
# the same camera and occlusion definition for vosh-render.
import json
import math
import os
import random
import sys

import bmesh
import bpy
from mathutils import Matrix, Vector

args = sys.argv[sys.argv.index("--") + 1:]
out_dir, wanted = args[0], int(args[1])
WIDTH, HEIGHT = (int(args[2]), int(args[3])) if len(args) >= 4 else (640, 360)
FOV_V = 40.0

bpy.ops.wm.read_factory_settings(use_empty=True)
rng = random.Random(12)
bm = bmesh.new()

# Rolling ground, a quarter of the triangles.
ground_faces = wanted // 4
n = max(8, int(math.sqrt(ground_faces / 2)))
bmesh.ops.create_grid(bm, x_segments=n, y_segments=n, size=12.0)
for v in bm.verts:
    v.co.z = 0.35 * math.sin(v.co.x * 0.6) * math.cos(v.co.y * 0.45)


def height_at(x, y):
    return 0.35 * math.sin(x * 0.6) * math.cos(y * 0.45)


def add(kind, matrix):
    geom = {
        "ico": lambda: bmesh.ops.create_icosphere(bm, subdivisions=3, radius=1.0, matrix=matrix),
        "uv": lambda: bmesh.ops.create_uvsphere(bm, u_segments=32, v_segments=16, radius=1.0, matrix=matrix),
        "cube": lambda: bmesh.ops.create_cube(bm, size=1.6, matrix=matrix),
        "cone": lambda: bmesh.ops.create_cone(bm, cap_ends=True, segments=48, radius1=1.0, radius2=0.0,
                                              depth=2.0, matrix=matrix),
        "cylinder": lambda: bmesh.ops.create_cone(bm, cap_ends=True, segments=48, radius1=0.7,
                                                  radius2=0.7, depth=2.0, matrix=matrix),
        "monkey": lambda: bmesh.ops.create_monkey(bm, matrix=matrix),
    }[kind]
    made = geom()
    new_faces = list({f for v in made["verts"] for f in v.link_faces})
    return len(bmesh.ops.triangulate(bm, faces=new_faces)["faces"])


kinds = ["ico", "uv", "cube", "cone", "cylinder", "monkey"]
bmesh.ops.triangulate(bm, faces=bm.faces[:])
triangles = len(bm.faces)
while triangles < wanted:
    kind = rng.choice(kinds)
    s = rng.uniform(0.25, 0.9)
    x, y = rng.uniform(-9, 9), rng.uniform(-6, 10)
    rot = Matrix.Rotation(rng.uniform(0, math.tau), 4, "Z") @ Matrix.Rotation(rng.uniform(-0.4, 0.4), 4, "X")
    m = Matrix.Translation((x, y, height_at(x, y) + 0.8 * s)) @ rot @ Matrix.Scale(s, 4)
    triangles += add(kind, m)

mesh = bpy.data.meshes.new("peer")
bm.to_mesh(mesh)
bm.free()
for p in mesh.polygons:
    p.use_smooth = False
obj = bpy.data.objects.new("peer", mesh)
scene = bpy.context.scene
scene.collection.objects.link(obj)

# Plain occlusion: an ambient-occlusion node driving an emission shader.
mat = bpy.data.materials.new("occlusion")
mat.use_nodes = True
nodes, links = mat.node_tree.nodes, mat.node_tree.links
nodes.clear()
ao = nodes.new("ShaderNodeAmbientOcclusion")
ao.name = "AO"
ao.inside = False
ao.only_local = False
ao.inputs["Distance"].default_value = 1.0
emit = nodes.new("ShaderNodeEmission")
emit.inputs["Strength"].default_value = 1.0
out = nodes.new("ShaderNodeOutputMaterial")
links.new(ao.outputs["AO"], emit.inputs["Color"])
links.new(emit.outputs["Emission"], out.inputs["Surface"])
mesh.materials.append(mat)

world = bpy.data.worlds.new("black")
world.use_nodes = True
world.node_tree.nodes["Background"].inputs["Color"].default_value = (0, 0, 0, 1)
world.node_tree.nodes["Background"].inputs["Strength"].default_value = 0.0
scene.world = world

cam_data = bpy.data.cameras.new("camera")
cam_data.sensor_fit = "VERTICAL"
cam_data.angle = math.radians(FOV_V)
cam = bpy.data.objects.new("camera", cam_data)
scene.collection.objects.link(cam)
position, target = Vector((0.0, -13.0, 5.0)), Vector((0.0, 1.0, 0.3))
cam.location = position
cam.rotation_euler = (target - position).to_track_quat("-Z", "Y").to_euler()
scene.camera = cam
bpy.context.view_layer.update()

r = scene.render
r.engine = "CYCLES"
r.resolution_x, r.resolution_y, r.resolution_percentage = WIDTH, HEIGHT, 100
r.use_persistent_data = True
r.film_transparent = False
r.image_settings.file_format = "OPEN_EXR"
r.image_settings.color_depth = "32"
r.image_settings.color_mode = "RGB"
c = scene.cycles
c.device = "CPU"
c.use_adaptive_sampling = False
c.use_denoising = False
c.max_bounces = 0
c.pixel_filter_type = "BOX"
c.filter_width = 1.0
c.seed = 0
scene.view_settings.view_transform = "Standard"
scene.view_settings.look = "None"
scene.view_settings.exposure = 0.0
scene.view_settings.gamma = 1.0
scene.display_settings.display_device = "sRGB"
bpy.ops.wm.save_as_mainfile(filepath=os.path.join(out_dir, "peer.blend"))

bpy.ops.object.select_all(action="DESELECT")
obj.select_set(True)
bpy.context.view_layer.objects.active = obj
bpy.ops.export_mesh.ply(filepath=os.path.join(out_dir, "peer.ply"), use_ascii=False, use_selection=True,
                        use_mesh_modifiers=True, use_normals=False, use_uv_coords=False, use_colors=False,
                        axis_forward="Y", axis_up="Z")

# vosh-render: the same camera (looking along the camera's -z, its +y up) and
# occlusion definition; every hit within distance 1 occludes fully.
mw = cam.matrix_world
forward = -(mw.to_3x3() @ Vector((0, 0, 1)))
up = mw.to_3x3() @ Vector((0, 1, 0))
vosh = {
    "camera": {"type": "perspective", "position": list(mw.translation),
               "look_at": list(mw.translation + forward), "up": list(up), "fov_deg": FOV_V,
               "resolution": [WIDTH, HEIGHT]},
    "environment": {"color": [0, 0, 0]},
    "options": {"spp": 1, "facing": "a"},
    "shaders": {"ao": {"type": "vosh_occlusion",
                       "params": {"bright": [1, 1, 1], "dark": [0, 0, 0], "samples": 16, "spread": 90,
                                  "near_distance": 1, "far_distance": 1}}},
    "materials": {"occlusion": {"shader": "ao"}},
    "objects": [{"shape": "mesh", "file": "peer.ply", "material": "occlusion"}],
}
with open(os.path.join(out_dir, "peer.json"), "w") as f:
    json.dump(vosh, f, indent=1)
print("PEER_SCENE triangles %d" % len(mesh.polygons))

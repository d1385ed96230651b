"""Our generated tangents against Blender's, corner by corner (a comparison
tool, never run in tests or CI):

    blender -b --factory-startup --python scripts/compare_tangents_blender.py -- \\
        OUT_DIR build/bench/bench_tangent_dump

Builds three meshes in Blender (a subdivided monkey, smart-UV unwrapped;
half a monkey mirrored so both halves share one UV island, flipped; an
icosphere with some UV triangles collapsed to a point and some to a line),
triangulates them, takes each loop's tangent and bitangent sign from
`mesh.calc_tangents()`, and writes the triangles as OBJ, one vertex per
corner in loop-triangle order (so corner 3t+k is loop k of polygon t; the
importer welds equal corners but keeps the triangle order, and the tool's
positions are checked against Blender's). Prints per mesh the largest and
mean angle between the tangents, also with Blender's tangent first made
orthogonal to the corner normal (where a triangle has no UV area and no
neighbour to borrow from, Blender gives +x as it is, ours is +x in the
normal's plane), and how many signs agree. Then checks how a vector is
expressed in the frame against Blender's tangent-space normal bake and its
Normal Map node (check_normal_maps).
"""
import array
import math
import os
import subprocess
import sys

import bmesh
import bpy


def fresh():
    bpy.ops.wm.read_factory_settings(use_empty=True)


def select_only(obj):
    for o in bpy.context.scene.objects:
        o.select_set(False)
    obj.select_set(True)
    bpy.context.view_layer.objects.active = obj


def smart_uv(obj):
    select_only(obj)
    bpy.ops.object.mode_set(mode="EDIT")
    bpy.ops.mesh.select_all(action="SELECT")
    bpy.ops.uv.smart_project(island_margin=0.02)
    bpy.ops.object.mode_set(mode="OBJECT")


def apply_modifiers(obj):
    select_only(obj)
    for m in list(obj.modifiers):
        bpy.ops.object.modifier_apply(modifier=m.name)


def triangulate(obj):
    bm = bmesh.new()
    bm.from_mesh(obj.data)
    bmesh.ops.triangulate(bm, faces=bm.faces[:])
    bm.to_mesh(obj.data)
    bm.free()
    obj.data.polygons.foreach_set("use_smooth", [True] * len(obj.data.polygons))
    obj.data.update()


def monkey():
    bpy.ops.mesh.primitive_monkey_add()
    obj = bpy.context.active_object
    obj.modifiers.new("subdivide", "SUBSURF").levels = 1
    apply_modifiers(obj)
    smart_uv(obj)
    return obj


def mirrored():
    # The half at x >= 0 is unwrapped, then mirrored across x = 0 with its
    # UVs as they are: the other half lies on the same island, flipped, and
    # the vertices on the axis are shared.
    bpy.ops.mesh.primitive_monkey_add()
    obj = bpy.context.active_object
    bm = bmesh.new()
    bm.from_mesh(obj.data)
    bmesh.ops.delete(bm, geom=[v for v in bm.verts if v.co.x < -1e-6], context="VERTS")
    bm.to_mesh(obj.data)
    bm.free()
    smart_uv(obj)
    mirror = obj.modifiers.new("mirror", "MIRROR")
    mirror.use_mirror_merge = True
    mirror.use_mirror_u = False
    obj.modifiers.new("subdivide", "SUBSURF").levels = 1
    apply_modifiers(obj)
    return obj


def degenerate():
    bpy.ops.mesh.primitive_ico_sphere_add(subdivisions=3)
    obj = bpy.context.active_object
    smart_uv(obj)
    triangulate(obj)
    uv = obj.data.uv_layers.active.data
    for p in obj.data.polygons:
        loops = list(p.loop_indices)
        if p.index % 7 == 0:  # collapsed to a point
            for li in loops:
                uv[li].uv = uv[loops[0]].uv.copy()
        elif p.index % 11 == 0:  # collapsed to a line
            a, b = uv[loops[0]].uv.copy(), uv[loops[1]].uv.copy()
            uv[loops[2]].uv = (a + b) * 0.5
    return obj


def export(obj, path):
    """Writes the triangles as OBJ and returns Blender's per-corner
    (position, tangent, sign)."""
    mesh = obj.data
    mesh.calc_normals_split()
    mesh.calc_tangents(uvmap=mesh.uv_layers.active.name)
    uv = mesh.uv_layers.active.data
    corners = []
    with open(path, "w") as f:
        for p in mesh.polygons:
            assert p.loop_total == 3
            for li in p.loop_indices:
                loop = mesh.loops[li]
                co = mesh.vertices[loop.vertex_index].co
                f.write("v %.9g %.9g %.9g\n" % tuple(co))
                f.write("vt %.9g %.9g\n" % tuple(uv[li].uv))
                f.write("vn %.9g %.9g %.9g\n" % tuple(loop.normal))
                corners.append((tuple(co), tuple(loop.tangent), loop.bitangent_sign))
        for t in range(len(mesh.polygons)):
            f.write("f %s\n" % " ".join("%d/%d/%d" % ((3 * t + k + 1,) * 3) for k in range(3)))
    return corners


def angle(a, b):
    la = math.sqrt(sum(x * x for x in a))
    lb = math.sqrt(sum(x * x for x in b))
    if la == 0 or lb == 0:
        return None
    c = sum(x * y for x, y in zip(a, b)) / (la * lb)
    return math.degrees(math.acos(max(-1.0, min(1.0, c))))


def in_plane(t, n):
    """t made orthogonal to the unit n (what a consumer's Gram-Schmidt does)."""
    d = sum(x * y for x, y in zip(t, n))
    return [x - d * y for x, y in zip(t, n)]


def compare(name, theirs, tool, path):
    out = subprocess.run([tool, path], check=True, capture_output=True, text=True).stdout
    ours = [list(map(float, line.split())) for line in out.splitlines()]
    if len(ours) != len(theirs):
        sys.exit("%s: %d corners from the tool, %d from Blender" % (name, len(ours), len(theirs)))
    raw, flat, signs, moved, negative = [], [], 0, 0, 0
    for (position, tangent, sign), row in zip(theirs, ours):
        if max(abs(x - y) for x, y in zip(position, row[0:3])) > 1e-5:
            moved += 1
        a = angle(tangent, row[6:9])
        b = angle(in_plane(tangent, row[3:6]), row[6:9])
        raw.append(180.0 if a is None else a)
        flat.append(180.0 if b is None else b)
        signs += sign == row[9]
        negative += sign < 0
    if moved:
        sys.exit("%s: %d corners do not lie where Blender's do: the corner order differs" % (name, moved))
    worst = max(range(len(raw)), key=lambda c: raw[c])
    print("%-10s corners %6d (sign -1: %d)  signs agree %d  tangent angle: largest %.4f deg "
          "(corner %d), mean %.5f deg; Blender's made orthogonal to the normal: largest %.4f deg, "
          "mean %.5f deg" % (name, len(raw), negative, signs, raw[worst], worst,
                             sum(raw) / len(raw), max(flat), sum(flat) / len(flat)))


def bake_emission(obj, vector_socket, size):
    """The object's emission set to a unit vector * 0.5 + 0.5, baked into
    RGBA floats, bottom row first."""
    tree = obj.active_material.node_tree
    nodes, links = tree.nodes, tree.links
    encode = nodes["encode"]
    links.new(vector_socket, encode.inputs[0])
    image = bpy.data.images.new("baked", size, size, alpha=True, float_buffer=True)
    image.colorspace_settings.name = "Non-Color"
    image.generated_color = (0, 0, 0, 0)
    nodes["bake target"].image = image
    nodes.active = nodes["bake target"]
    bpy.ops.object.bake(type="EMIT", margin=0, use_clear=False)
    return image.pixels[:]


def check_normal_maps(out_dir, tool, size=256):
    """Our tangent-space encoding read back by Blender's Normal Map node
    (the standard's consumer). A low-poly monkey's bumped shading normals
    are baked in object space (as emission); the tool expresses each texel
    in our frame (and two other ways); each is compared with Blender's own
    tangent-space normal bake of the same normals, then Blender decodes each
    map at the same texels and the angle to the normal it started from is
    printed."""
    fresh()
    bpy.ops.mesh.primitive_monkey_add()
    obj = bpy.context.active_object
    smart_uv(obj)
    triangulate(obj)
    scene = bpy.context.scene
    scene.render.engine = "CYCLES"
    scene.cycles.samples = 1
    scene.cycles.device = "CPU"
    scene.cycles.use_denoising = False  # without a denoiser the bake comes out black
    material = bpy.data.materials.new("bumped")
    material.use_nodes = True
    nodes, links = material.node_tree.nodes, material.node_tree.links
    nodes.remove(nodes["Principled BSDF"])
    emission = nodes.new("ShaderNodeEmission")
    links.new(emission.outputs[0], nodes["Material Output"].inputs["Surface"])
    encode = nodes.new("ShaderNodeVectorMath")
    encode.name = "encode"
    encode.operation = "MULTIPLY_ADD"
    encode.inputs[1].default_value = (0.5, 0.5, 0.5)
    encode.inputs[2].default_value = (0.5, 0.5, 0.5)
    links.new(encode.outputs[0], emission.inputs["Color"])
    noise, bump = nodes.new("ShaderNodeTexNoise"), nodes.new("ShaderNodeBump")
    noise.inputs["Scale"].default_value = 6
    bump.inputs["Strength"].default_value = 0.8
    links.new(noise.outputs["Fac"], bump.inputs["Height"])
    nodes.new("ShaderNodeTexImage").name = "bake target"
    obj.data.materials.append(material)
    select_only(obj)
    object_map = bake_emission(obj, bump.outputs["Normal"], size)
    path = os.path.join(out_dir, "bumped.obj")
    export(obj, path)
    raw = os.path.join(out_dir, "bumped_object.f32")
    with open(raw, "wb") as f:
        array.array("f", object_map).tofile(f)
    ours_path = os.path.join(out_dir, "bumped_ours.f32")
    subprocess.run([tool, path, raw, str(size), ours_path], check=True)
    ours = array.array("f")
    with open(ours_path, "rb") as f:
        ours.fromfile(f, size * size * 9)
    source = nodes.new("ShaderNodeTexImage")
    source.interpolation = "Closest"
    normal_map = nodes.new("ShaderNodeNormalMap")
    normal_map.space = "TANGENT"
    normal_map.uv_map = obj.data.uv_layers.active.name
    links.new(source.outputs["Color"], normal_map.inputs["Color"])
    names = ("ours (inverse of interpolated t, b, n)", "orthonormalised frame, dot products",
             "inverse with unit t and n")
    covered = [any(ours[9 * t:9 * t + 3]) and any(object_map[4 * t:4 * t + 3]) for t in range(size * size)]

    # Blender's own tangent-space bake of the same normals (through a BSDF).
    diffuse = nodes.new("ShaderNodeBsdfDiffuse")
    links.new(bump.outputs["Normal"], diffuse.inputs["Normal"])
    links.new(diffuse.outputs[0], nodes["Material Output"].inputs["Surface"])
    image = bpy.data.images.new("tangent bake", size, size, alpha=True, float_buffer=True)
    image.colorspace_settings.name = "Non-Color"
    image.generated_color = (0, 0, 0, 0)
    nodes["bake target"].image = image
    nodes.active = nodes["bake target"]
    bpy.ops.object.bake(type="NORMAL", normal_space="TANGENT", margin=0, use_clear=False)
    baked = image.pixels[:]
    links.new(emission.outputs[0], nodes["Material Output"].inputs["Surface"])
    for k, name in enumerate(names):
        report("Blender's tangent bake vs " + name, covered, size, lambda t: angle(
            [2 * x - 1 for x in baked[4 * t:4 * t + 3]], ours[9 * t + 3 * k:9 * t + 3 * k + 3]))
    for k, name in enumerate(names):
        image = bpy.data.images.new(name, size, size, alpha=True, float_buffer=True)
        image.colorspace_settings.name = "Non-Color"
        pixels = [0.5, 0.5, 1.0, 1.0] * (size * size)
        for texel in range(size * size):
            v = ours[9 * texel + 3 * k:9 * texel + 3 * k + 3]
            if any(v):
                pixels[4 * texel:4 * texel + 3] = [0.5 * x + 0.5 for x in v]
        image.pixels[:] = pixels
        source.image = image
        decoded = bake_emission(obj, normal_map.outputs["Normal"], size)
        report("read back by Blender, " + name, covered, size, lambda t: angle(
            [2 * x - 1 for x in decoded[4 * t:4 * t + 3]], [2 * x - 1 for x in object_map[4 * t:4 * t + 3]]))


def report(name, covered, size, angle_at):
    """Mean, 99th percentile and largest angle over the covered texels and
    over those away from island borders (all eight neighbours covered). A
    texel Blender's shading sees from behind comes back reversed (it flips
    such normals): counted apart."""
    angles, inner = [], []
    for texel in range(size * size):
        if not covered[texel]:
            continue
        a = angle_at(texel)
        if a is None:
            continue
        angles.append(a)
        x, y = texel % size, texel // size
        if all(covered[(y + j) * size + x + i] for i in (-1, 0, 1) for j in (-1, 0, 1)
               if 0 <= x + i < size and 0 <= y + j < size):
            inner.append(a)
    for which, a in (("all texels", angles), ("away from island borders", inner)):
        kept = sorted(x for x in a if x < 179)
        print("%-62s %-25s texels %6d  reversed %3d  mean %.4f deg  99th percentile %.4f deg  "
              "largest %.4f deg  over 1 deg %d"
              % (name, which, len(kept), len(a) - len(kept), sum(kept) / len(kept),
                 kept[int(0.99 * (len(kept) - 1))], kept[-1], sum(1 for x in kept if x > 1)))


def main():
    argv = sys.argv[sys.argv.index("--") + 1:]
    out_dir, tool = argv[0], os.path.abspath(argv[1])
    os.makedirs(out_dir, exist_ok=True)
    for name, build in (("monkey", monkey), ("mirrored", mirrored), ("degenerate", degenerate)):
        fresh()
        obj = build()
        triangulate(obj)
        path = os.path.join(out_dir, name + ".obj")
        compare(name, export(obj, path), tool, path)
    check_normal_maps(out_dir, tool)


main()

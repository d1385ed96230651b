"""Compares vosh-render's and Blender's high-poly to low-poly bakes for
scripts/bench-bake.sh, run inside Blender (for its EXR reader; the
arithmetic is numpy's):

    blender -b --factory-startup --python scripts/bench_bake_project_compare.py -- \\
        --mask VOSH.exr BLENDER.exr [--ao VOSH.exr BLENDER.exr] \\
        [--normal VOSH.exr BLENDER.exr] [--border N] [--layers LAYERS.exr] \\
        [--images PREFIX]

The masks are unpadded bakes: a texel with alpha above 0 is one the bake
covers and whose projection ray found the high-poly. Texels are compared
where both have a value and so do all texels within N texels (a square,
default 2), which leaves out island borders, where the two define coverage
differently, and texels beside a missed ray. Blender's normal EXR holds
n * 0.5 + 0.5, vosh-render's the raw components (told apart by negative
values; stored values like Blender's are read so too); both are compared
as unit vectors. With --layers (bench_bake_project_blender.py's), every
figure comes once more without the texels within one texel of one whose
ray meets the high-poly twice (names ending in _one_layer). Prints one "name value" line per figure; with --images,
writes PREFIX_ao.png and PREFIX_normal.png: vosh-render, Blender and
their difference side by side, at most 256 pixels a side each (box
filtered: the figures are the full maps').
"""
import argparse
import sys

import bpy
import numpy as np


def load(path):
    """H x W x 4 floats, top row first."""
    image = bpy.data.images.load(path)
    image.colorspace_settings.name = "Non-Color"
    w, h = image.size
    values = np.empty(w * h * 4, dtype=np.float32)
    image.pixels.foreach_get(values)
    return values.reshape(h, w, 4)[::-1]


def erode(mask, border):
    """True where mask holds over the whole (2 border + 1)^2 square."""
    h, w = mask.shape
    padded = np.zeros((h + 2 * border, w + 2 * border), dtype=bool)
    padded[border:border + h, border:border + w] = mask
    out = mask.copy()
    for dy in range(2 * border + 1):
        for dx in range(2 * border + 1):
            out &= padded[dy:dy + h, dx:dx + w]
    return out


def unit(v):
    return v / np.maximum(np.linalg.norm(v, axis=-1, keepdims=True), 1e-12)


def write_png(path, rgb):
    h, w, _ = rgb.shape
    image = bpy.data.images.new("out", w, h, alpha=True, float_buffer=False)
    image.colorspace_settings.name = "Non-Color"
    rgba = np.ones((h, w, 4), dtype=np.float32)
    rgba[..., :3] = np.clip(rgb, 0, 1)
    image.pixels.foreach_set(rgba[::-1].ravel())
    image.filepath_raw = path
    image.file_format = "PNG"
    image.save()


def shrink(rgb, limit=256):
    step = max(1, rgb.shape[0] // limit)
    if step == 1:
        return rgb
    h, w = rgb.shape[0] // step, rgb.shape[1] // step
    return rgb[:h * step, :w * step].reshape(h, step, w, step, 3).mean(axis=(1, 3))


def difference_panel(values, ours, theirs):
    """values (grey 0..1) where both bakes have a texel; green where only
    vosh-render has one, magenta where only Blender has one, dark blue
    where neither has."""
    panel = np.zeros(ours.shape + (3,), dtype=np.float32)
    panel[..., 2] = 0.3
    both = ours & theirs
    panel[both] = values[both][:, None]
    panel[ours & ~theirs] = (0, 1, 0)
    panel[theirs & ~ours] = (1, 0, 1)
    return panel


def main(argv):
    parser = argparse.ArgumentParser(prog="bench_bake_project_compare.py")
    parser.add_argument("--mask", nargs=2, required=True)
    parser.add_argument("--ao", nargs=2)
    parser.add_argument("--normal", nargs=2)
    parser.add_argument("--border", type=int, default=2)
    parser.add_argument("--layers")
    parser.add_argument("--images")
    args = parser.parse_args(argv)
    vosh_mask, blender_mask = map(load, args.mask)
    ours, theirs = vosh_mask[..., 3] > 0, blender_mask[..., 3] > 0
    both = ours & theirs
    inner = erode(both, args.border)
    print("texels_vosh %d" % ours.sum())
    print("texels_blender %d" % theirs.sum())
    print("texels_both %d" % both.sum())
    print("texels_only_vosh %d" % (ours & ~theirs).sum())
    print("texels_only_blender %d" % (theirs & ~ours).sum())
    print("texels_compared %d" % inner.sum())
    selections = [("", inner)]
    if args.layers:
        layered = load(args.layers)[..., 3] > 0
        one_layer = inner & erode(~layered, 1)
        print("texels_compared_one_layer %d" % one_layer.sum())
        selections.append(("_one_layer", one_layer))

    def grey(v):
        return np.repeat(v[..., None], 3, axis=-1)

    if args.ao:
        vosh_ao, blender_ao = map(load, args.ao)
        a, b = vosh_ao[..., 0], blender_ao[..., 0]
        for suffix, sel in selections:
            d = (a - b)[sel]
            print("ao_vosh_mean%s %.4f" % (suffix, a[sel].mean()))
            print("ao_blender_mean%s %.4f" % (suffix, b[sel].mean()))
            print("ao_mean_difference%s %+.4f" % (suffix, d.mean()))
            print("ao_mean_abs_difference%s %.4f" % (suffix, np.abs(d).mean()))
            print("ao_abs_difference_p95%s %.4f" % (suffix, np.percentile(np.abs(d), 95)))
        if args.images:
            # Signed difference: 0.1 is full black or white.
            row = np.concatenate([grey(a), grey(b), difference_panel(0.5 + 5 * (a - b), ours, theirs)],
                                 axis=1)
            write_png(args.images + "_ao.png", shrink(row))

    if args.normal:
        vosh_normal, blender_normal = map(load, args.normal)
        raw = vosh_normal[..., :3][ours]
        # Raw components have negative x or y somewhere; stored ones do not.
        n_ours = unit(vosh_normal[..., :3] if (raw < 0).any() else vosh_normal[..., :3] * 2 - 1)
        n_theirs = unit(blender_normal[..., :3] * 2 - 1)
        angle = np.degrees(np.arccos(np.clip((n_ours * n_theirs).sum(axis=-1), -1, 1)))
        for suffix, sel in selections:
            print("normal_mean_angle%s %.3f" % (suffix, angle[sel].mean()))
            print("normal_angle_median%s %.3f" % (suffix, np.median(angle[sel])))
            print("normal_angle_p95%s %.3f" % (suffix, np.percentile(angle[sel], 95)))
            print("normal_texels_over_5_degrees%s %d" % (suffix, (angle[sel] > 5).sum()))
            print("normal_angle_max%s %.3f" % (suffix, angle[sel].max()))
            for k, name in enumerate("xyz"):
                print("normal_%s_mean_difference%s %+.4f"
                      % (name, suffix, (n_ours - n_theirs)[..., k][sel].mean()))
        print("normal_mean_angle_all_both %.3f" % angle[both].mean())
        if args.images:
            # Angle between the two: 5 degrees is full white.
            row = np.concatenate([(n_ours * 0.5 + 0.5) * (vosh_normal[..., 3:] > 0),
                                  blender_normal[..., :3] * (blender_normal[..., 3:] > 0),
                                  difference_panel(angle / 5, ours, theirs)], axis=1)
            write_png(args.images + "_normal.png", shrink(row))


main(sys.argv[sys.argv.index("--") + 1:])

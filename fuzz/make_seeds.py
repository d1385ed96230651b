#!/usr/bin/env python3
"""Writes the seed corpora in fuzz/corpus/: one input per shading mode for the
entry fuzzer, a few ordinary values per function for the math fuzzer and a
few UV layouts for the texel coverage fuzzer. The byte layouts follow the
readers in those fuzzers."""
import json
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


# The seed block's values by parameter; the names, their order and their
# types come from the shipped declaration, the module's layout.
SEED_VALUES = {
    'bright': (1, 1, 1, 1), 'dark': (0, 0, 0, 1), 'pass_through': 0, 'sampling': 1,
    'occlusion_in_alpha': 1, 'near_samples': 4, 'far_samples': 16, 'near_threshold': 1.0,
    'far_threshold': 20.0, 'unused_60': 0, 'adaptive': 0, 'samples': 8, 'spread': 90.0,
    'near_distance': 0.0, 'far_distance': 10.0, 'override_normal': (0, 0, 0),
    'bias_direction': (0, 1, 0), 'light_bias': 0.0, 'reflective': 0, 'gamma': 1.0, 'bias': 0.5,
    'gain': 0.5, 'occlusion_mode': 0, 'color_strength': 1.0, 'hue_adjust': 0.0,
    'saturation_adjust': 0.0, 'value_adjust': 0.0, 'boost': 1.0, 'boost_threshold': 0.5,
    'boost_power': 1.0, 'bent_normals': 0, 'bent_color_mix': 0, 'output_space': 0,
    'bent_relative': 0, 'final_gather': 0, 'fg_override': 0, 'fg_rays': 16,
    'fg_largest_radius': 1.0, 'fg_smallest_radius': 0.1, 'fg_radii_in_pixels': 0, 'fg_filter': 0,
    'use_light': 0, 'secondary_bright': 0, 'ignore_self': 0, 'unused_216': 0, 'unused_220': 0,
    'light': 0,
}
FORMATS = {'color': '4f', 'vector': '3f', 'scalar': 'f', 'integer': 'i', 'boolean': 'i',
           'unused': 'i', 'light': 'I'}


def layout():
    with open(os.path.join(HERE, '..', 'renderer', 'vosh_occlusion.decl.json')) as f:
        declared = json.load(f)['parameters']
    names = [p['name'] for p in declared]
    assert sorted(names) == sorted(SEED_VALUES), set(names) ^ set(SEED_VALUES)
    return [(p['name'], FORMATS[p['type']], SEED_VALUES[p['name']]) for p in declared]


def params(**changes):
    out = b''
    for name, fmt, default in layout():
        value = changes.pop(name, default)
        out += struct.pack('<' + fmt, *(value if isinstance(value, tuple) else (value,)))
    assert not changes, changes
    assert len(out) == 228, len(out)
    return out


def entry_input(block, *, light=False, pairs=8, hits=(1.0, 5.0, 20.0), material=False,
                self_shader=False, ray_kind=0, opacity=1.0, output_space=0, mydata=None):
    out = block + bytes([1 if light else 0])
    out += bytes([pairs, pairs])
    for i in range(pairs):
        out += struct.pack('<2d', (i + 0.5) / pairs, (i * 0.618) % 1.0)
    out += bytes([len(hits)])
    for d in hits:
        out += struct.pack('<BdBB', 1, d, 1 if material else 0, 1)
    out += struct.pack('<i3fd', ray_kind, 0, 0, -1, 3.0)
    out += struct.pack('<3f3f2fB', 0, 0, 1, 0, 0, 0, 1.0, 1.5, 0)
    out += struct.pack('<Bbhh', 1, 2, 64, 48)
    for colour in ((0.2, 0.3, 0.4, 1), (0.5, 0.5, 0.5, 1), (0.1, 0.1, 0.1, 1)):
        out += struct.pack('<B4f', 1, *colour)
    out += struct.pack('<4f4f4f', 0.8, 0.9, 1.0, 1, 0.3, 0.3, 0.3, 1, 1.0, 0.2, 0.1, 1)
    out += struct.pack('<B3f3f3f', 1, 0, 0, -1, 0, 0, 1, 0.3, 0.4, 0.8)
    out += bytes([1 if light else 0, 0])  # instance item, positional kind
    if light:
        matrix = [1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 2, 3, 4, 1]
        out += bytes([1]) + bytes(72) + struct.pack('<16f', *matrix)
    else:
        out += bytes([0])
    out += bytes([1, 1 if self_shader else 0]) if material else bytes([0])
    out += bytes([3])
    out += bytes([1, mydata]) if mydata is not None else bytes([0])
    out += struct.pack('<Q', 0)  # no connected parameters
    out += struct.pack('<f', opacity)
    return out


def grid(value):  # a coordinate on the texel coverage fuzzer's 1/64 grid
    return struct.pack('<Bh', 2, round(value * 64))


def special(index):  # an entry of its table of hostile values
    return struct.pack('<BB', 3, index)


def near_previous(steps):  # the previous vertex's coordinate, moved steps * 1e-13
    return struct.pack('<Bb', 4, steps)


def layout_input(size, tile, padding, vertices, triangles):
    out = bytes([size - 1, size - 1, tile - 1, padding, len(vertices) - 1])
    for u, v in vertices:
        out += u + v
    for t in triangles:
        out += bytes(t)
    return out


def write(kind, name, data):
    folder = os.path.join(HERE, 'corpus', kind)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data)


def main():
    write('shading_entry', 'plain', entry_input(params()))
    write('shading_entry', 'bent_normals_raster',
          entry_input(params(bent_normals=1, output_space=6, bent_relative=1)))
    write('shading_entry', 'environment_tint',
          entry_input(params(occlusion_mode=2, boost=2.0, hue_adjust=0.5)))
    write('shading_entry', 'color_bleeding_self',
          entry_input(params(occlusion_mode=1, ignore_self=1), material=True, self_shader=True))
    write('shading_entry', 'final_gather', entry_input(params(final_gather=1, fg_override=1)))
    write('shading_entry', 'positional_light',
          entry_input(params(use_light=1, light=7, light_bias=0.5), light=True))
    write('shading_entry', 'see_through_shadow', entry_input(params(), ray_kind=4, opacity=0.25))
    write('shading_entry', 'huge_samples', entry_input(params(samples=2**31 - 1, adaptive=0)))

    write('shading_math', 'tone', bytes([0]) + struct.pack('<4f', 0.25, 2.2, 0.25, 0.8))
    write('shading_math', 'colour',
          bytes([1]) + struct.pack('<10f', 0.5, 0.5, 0.5, 1, 2, 0.25, 1, 1.5, 1, 1))
    write('shading_math', 'cone', bytes([2]) + struct.pack('<4f2dd2f', 0, 0, 1, 0.5, 0.75, 0.25,
                                                            5.0, 1.0, 10.0))
    write('shading_math', 'count', bytes([3]) + struct.pack('<B3i2fd', 1, 8, 4, 16, 10, 20, 12.5))

    quad = [(grid(0.25), grid(0.25)), (grid(0.75), grid(0.25)), (grid(0.75), grid(0.75)),
            (grid(0.25), grid(0.75))]
    write('texel_coverage', 'quad', layout_input(16, 4, 3, quad, [(0, 1, 2), (0, 2, 3)]))
    wrapped = [(grid(-0.125), grid(0.5)), (grid(0.125), grid(0.5)), (grid(0.125), grid(3.75)),
               (grid(-2.5), grid(-7.25))]
    write('texel_coverage', 'wrapped', layout_input(16, 16, 2, wrapped, [(0, 1, 2), (1, 2, 3)]))
    # NaN, a UV past a million periods, a denormal, and an index past the UVs.
    hostile = [(special(0), grid(0.5)), (special(18), grid(0.5)), (special(11), special(13)),
               (grid(0.5), grid(0.5))]
    write('texel_coverage', 'hostile', layout_input(8, 3, 5, hostile, [(0, 1, 3), (1, 2, 3), (2, 3, 4)]))
    sliver = [(grid(0.0), grid(0.3)), (grid(1.0), grid(0.3)), (near_previous(3), near_previous(-2)),
              (grid(0.1), grid(0.9))]
    write('texel_coverage', 'sliver', layout_input(12, 5, 4, sliver, [(0, 1, 2), (0, 3, 1), (3, 0, 2)]))


if __name__ == '__main__':
    main()

#!/usr/bin/env python3
"""Summarises the JSON output of the two benchmark executables: medians and
spread (min..max) over the repetitions, and the ratios the targets are set on.
Usage: bench_report.py MODULE_JSON RENDERER_JSON (either may be '-' to skip)."""
import json
import math
import statistics
import sys
from collections import defaultdict


def runs(path):
    """name -> list of per-repetition records (aggregates dropped)."""
    with open(path) as f:
        doc = json.load(f)
    grouped = defaultdict(list)
    for b in doc["benchmarks"]:
        if b.get("run_type") != "iteration":
            continue
        grouped[b["run_name"]].append(b)
    return doc.get("context", {}), grouped


def med(values):
    return statistics.median(values)


def spread(values, fmt):
    return f"{fmt(med(values))} [{fmt(min(values))}..{fmt(max(values))}]"


def context_line(ctx):
    load = ctx.get("load_avg", [])
    loads = ", ".join(f"{x:.2f}" for x in load)
    return (f"{ctx.get('date', '?')}, {ctx.get('num_cpus', '?')} CPUs at {ctx.get('mhz_per_cpu', '?')} MHz, "
            f"load average at start {loads}")


def module_report(path):
    ctx, grouped = runs(path)
    print("## Module overhead per direction (ns of CPU time per direction)")
    print(f"{context_line(ctx)}; repetitions: {len(next(iter(grouped.values())))}")
    print()
    print("| mode | directions | module | reference | module / reference |")
    print("|---|---|---|---|---|")
    order = ["plain", "bent_normals", "environment_tint", "color_bleeding"]
    ns = lambda v: f"{v:.2f}"
    ratio = lambda v: f"{v:.3f}"
    medians = {}
    for mode in order:
        for n in (16, 64, 256):
            b = grouped.get(f"overhead/{mode}/{n}/manual_time")
            if not b:
                continue
            mv = [x["module_ns_per_direction"] for x in b]
            rv = [x["reference_ns_per_direction"] for x in b]
            qv = [x["module_vs_reference"] for x in b]
            medians[(mode, n)] = (med(mv), med(rv))
            print(f"| {mode} | {n} | {spread(mv, ns)} | {spread(rv, ns)} | {spread(qv, ratio)} |")
    print()
    print("Linear fit t(n) = per call + n * per direction through the medians at 16 and 256 directions:")
    print()
    print("| mode | module per call (ns) | module per direction (ns) | reference per call (ns) | reference per direction (ns) |")
    print("|---|---|---|---|---|")
    for mode in order:
        if (mode, 16) not in medians or (mode, 256) not in medians:
            continue
        row = []
        for k in (0, 1):
            t16, t256 = medians[(mode, 16)][k] * 16, medians[(mode, 256)][k] * 256
            slope = (t256 - t16) / 240
            row += [t16 - 16 * slope, slope]
        print(f"| {mode} | {row[0]:.1f} | {row[1]:.2f} | {row[2]:.1f} | {row[3]:.2f} |")
    print()


def renderer_report(path):
    ctx, grouped = runs(path)
    reps = len(next(iter(grouped.values())))
    print("## Renderer")
    print(f"{context_line(ctx)}; repetitions: {reps}")
    print()
    mrays = lambda v: f"{v / 1e6:.3f}"
    ratio = lambda v: f"{v:.3f}"
    ns = lambda v: f"{v:.0f}"

    def counter(name, key):
        return [b[key] for b in grouped[name]]

    print("### Throughput (wall clock: M probe rays/s; ratios paired per repetition)")
    print()
    print("| run | rays | vosh-render | rtcIntersect1 loop | rtcOccluded1 loop | render/intersect | render/occluded | mean occlusion render / replay |")
    print("|---|---|---|---|---|---|---|---|")
    throughput = sorted(n for n in grouped if n.startswith("throughput/"))
    short = lambda n: n.replace("/iterations:1/manual_time", "")
    for name in throughput:
        b0 = grouped[name][0]
        print(f"| {short(name)} | {int(b0['probe_rays'])} | "
              f"{spread(counter(name, 'render_rays_per_s'), mrays)} | "
              f"{spread(counter(name, 'intersect_rays_per_s'), mrays)} | "
              f"{spread(counter(name, 'occluded_rays_per_s'), mrays)} | "
              f"{spread(counter(name, 'render_vs_intersect'), ratio)} | "
              f"{spread(counter(name, 'render_vs_occluded'), ratio)} | "
              f"{b0['render_mean_occlusion']:.6f} / {b0['replay_mean_occlusion']:.6f} |")
    print()
    print("Same runs in CPU time per ray (summed over the threads; time spent waiting for other work on the machine does not count):")
    print()
    print("| run | vosh-render ns | rtcIntersect1 ns | rtcOccluded1 ns | render/intersect | render/occluded |")
    print("|---|---|---|---|---|---|")
    for name in throughput:
        print(f"| {short(name)} | {spread(counter(name, 'render_cpu_ns_per_ray'), ns)} | "
              f"{spread(counter(name, 'intersect_cpu_ns_per_ray'), ns)} | "
              f"{spread(counter(name, 'occluded_cpu_ns_per_ray'), ns)} | "
              f"{spread(counter(name, 'render_vs_intersect_cpu'), ratio)} | "
              f"{spread(counter(name, 'render_vs_occluded_cpu'), ratio)} |")
    t1 = [n for n in throughput if "/threads:1" in n]
    t2 = [n for n in throughput if "/threads:2" in n]
    if t1 and t2:
        print()
        print("Threads (medians):")
        print()
        for key, cpu_key, label in (("render_rays_per_s", "render_cpu_ns_per_ray", "vosh-render"),
                                    ("intersect_rays_per_s", "intersect_cpu_ns_per_ray", "rtcIntersect1 loop"),
                                    ("occluded_rays_per_s", "occluded_cpu_ns_per_ray", "rtcOccluded1 loop")):
            one, two = med(counter(t1[0], key)), med(counter(t2[0], key))
            c1, c2 = med(counter(t1[0], cpu_key)), med(counter(t2[0], cpu_key))
            print(f"- {label}: 2 threads / 1 thread = {two / one:.3f} in wall-clock throughput "
                  f"({mrays(two)} / {mrays(one)} M rays/s); CPU per ray {c2:.0f} ns with 2 threads, "
                  f"{c1:.0f} ns with 1, so 2 free cores would give at most {2 * c1 / c2:.2f}x")

    scaling = sorted((n for n in grouped if n.startswith("scaling/")),
                     key=lambda n: grouped[n][0]["triangles"])
    if scaling:
        print()
        print("### Scaling with scene size (2 threads; CPU ns per probe ray, and wall ns = 1 / throughput)")
        print()
        print("| triangles | vosh-render CPU ns | rtcIntersect1 CPU ns | vosh-render wall ns | rtcIntersect1 wall ns | render/intersect (CPU) |")
        print("|---|---|---|---|---|---|")
        for name in scaling:
            tri = int(grouped[name][0]["triangles"])
            print(f"| {tri} | {spread(counter(name, 'render_cpu_ns_per_ray'), ns)} | "
                  f"{spread(counter(name, 'intersect_cpu_ns_per_ray'), ns)} | "
                  f"{spread(counter(name, 'render_ns_per_ray'), ns)} | "
                  f"{spread(counter(name, 'intersect_ns_per_ray'), ns)} | "
                  f"{spread(counter(name, 'render_vs_intersect_cpu'), ratio)} |")
        print()
        xs = [math.log2(grouped[n][0]["triangles"]) for n in scaling]
        for key, label in (("render_cpu_ns_per_ray", "vosh-render"), ("intersect_cpu_ns_per_ray", "rtcIntersect1")):
            ys = [med(counter(n, key)) for n in scaling]
            mx, my = statistics.mean(xs), statistics.mean(ys)
            slope = sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / sum((x - mx) ** 2 for x in xs)
            fitted = [my + slope * (x - mx) for x in xs]
            worst = max(abs(y - f) / y for y, f in zip(ys, fitted))
            print(f"- {label}: least-squares fit in log2(triangles): {my - slope * mx:.0f} + {slope:.1f} ns "
                  f"per doubling; the medians lie within {worst:.1%} of the line")

    noise = [n for n in grouped if n.startswith("noise/")]
    if noise:
        print()
        print("### Noise against cost (floor under a sphere, RMS error against the closed form)")
        print()
        print("| camera samples x directions | sampler RMS | random RMS | sampler / random (± 2 standard errors) | "
              "expected random RMS | sampler / expected random | blur kept 2x2 / 4x4, sampler | same, random | "
              "sampler render ms | random render ms |")
        print("|---|---|---|---|---|---|---|---|---|---|")
        splits = [(1, d, f"directions:{d}") for d in (16, 64, 256)]
        splits += [(k, n, f"spp:{k}/directions:{n}") for k, n in ((16, 4), (4, 16))]
        for k, d, key in splits:
            s = f"noise/sampler/{key}/iterations:1/manual_time"
            r = f"noise/random/{key}/iterations:1/manual_time"
            if s not in grouped or r not in grouped:
                continue
            srms, rrms = med(counter(s, "rms_error")), med(counter(r, "rms_error"))
            se = math.hypot(med(counter(s, "rms_error_relative_se")), med(counter(r, "rms_error_relative_se")))
            q = srms / rrms
            st = [b["real_time"] for b in grouped[s]]
            rt = [b["real_time"] for b in grouped[r]]
            # The binomial expectation has no noise of its own (one camera sample only).
            expected = grouped[s][0].get("expected_random_rms")
            exp_cols = f"{expected:.5f} | {srms / expected:.3f}" if expected else " | "
            blur = lambda name: (f"{med(counter(name, 'blurred_error_2x2')):.2f} / "
                                 f"{med(counter(name, 'blurred_error_4x4')):.2f}"
                                 if "blurred_error_2x2" in grouped[name][0] else "")
            print(f"| {k} x {d} | {srms:.5f} | {rrms:.5f} | {q:.3f} ({q * (1 - 2 * se):.3f}..{q * (1 + 2 * se):.3f}) | "
                  f"{exp_cols} | {blur(s)} | {blur(r)} | {spread(st, ns)} | {spread(rt, ns)} |")
    print()


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    if sys.argv[1] != "-":
        module_report(sys.argv[1])
    if sys.argv[2] != "-":
        renderer_report(sys.argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main())

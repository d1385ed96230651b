"""Summary of scripts/bench-peer.sh: report.py TIMES ERRORS

Per split (camera samples x directions): each renderer's RMSE against its own
converged reference, its pixel-loop CPU seconds (all threads), and the
equal-noise time ratio vosh-render / Cycles = (MSE x CPU s) / (MSE x CPU s),
also with wall seconds; each the median over the repetitions with
[min..max], the ratios taken per repetition.
"""
import collections
import math
import os
import re
import statistics
import sys


def spread(values, fmt):
    return f"{fmt(statistics.median(values))} [{fmt(min(values))}..{fmt(max(values))}]"


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    times, mse = {}, {}
    overhead, loads = [], []
    for line in open(sys.argv[1]):
        parts = line.split()
        if not parts:
            continue
        if parts[0] == "LOAD":
            loads.append(line.strip()[5:])
        elif parts[0] == "CYCLES_OVERHEAD":
            overhead.append(float(parts[1]))
        elif parts[0] in ("VOSH", "CYCLES"):
            times[(parts[0], parts[1])] = (float(parts[2]), float(parts[3]))
    reference_noise, between = {}, []
    for line in open(sys.argv[2]):
        parts = line.split()
        who = parts[0]
        if parts[1] == "REFERENCE":
            reference_noise.setdefault(who, float(parts[2]))
            continue
        name = os.path.basename(parts[1])[:-4]
        if who == "BETWEEN":
            # The mean vosh-render reference's own noise is already taken off.
            between.append(float(parts[2]))
            continue
        m = re.match(r"(vosh|cycles)-(\d+x\d+)-r(\d+)$", name)
        if m:
            mse[(who, m.group(2), int(m.group(3)))] = float(parts[2])
    splits = collections.OrderedDict()
    for (who, split, rep) in mse:
        splits.setdefault(split, set()).add(rep)
    order = sorted(splits, key=lambda s: (int(s.split("x")[0]) * int(s.split("x")[1]), -int(s.split("x")[0])))
    print("| rays per pixel | camera samples x directions | vosh-render RMSE | Cycles RMSE | vosh-render CPU s | "
          "Cycles CPU s | vosh-render / Cycles, equal-noise CPU time | same, wall time |")
    print("|---|---|---|---|---|---|---|---|")
    for split in order:
        k, n = (int(x) for x in split.split("x"))
        reps = sorted(splits[split])
        rows = []
        for rep in reps:
            try:
                vm, cm = mse[("VOSH", split, rep)], mse[("CYCLES", split, rep)]
                vt, ct = times[("VOSH", f"{split}-r{rep}")], times[("CYCLES", f"{split}-r{rep}")]
            except KeyError:
                continue
            rows.append((vm, cm, vt[0], ct[0], (vm * vt[0]) / (cm * ct[0]), (vm * vt[1]) / (cm * ct[1])))
        if not rows:
            continue
        col = list(zip(*rows))
        rmse = lambda v: f"{math.sqrt(max(v, 0)):.4f}"
        secs = lambda v: f"{v:.2f}"
        print(f"| {k * n} | {k} x {n} | {spread(col[0], rmse)} | {spread(col[1], rmse)} | "
              f"{spread(col[2], secs)} | {spread(col[3], secs)} | {spread(col[4], lambda v: f'{v:.2f}')} | "
              f"{spread(col[5], lambda v: f'{v:.2f}')} |")
    print()
    if overhead:
        print(f"Cycles' fixed cost per render (a 1 x 1 render, taken off each time): "
              f"{spread(overhead, lambda v: f'{v:.2f}')} CPU s.")
    if between and "CYCLES" in reference_noise:
        # Each Cycles reference against the mean vosh-render reference (its
        # noise taken off), less the noise of one Cycles reference (twice the
        # variance of their mean).
        systematic = statistics.mean(between) - 2 * reference_noise["CYCLES"]
        print(f"Converged images, vosh-render against Cycles: RMS difference "
              f"{math.sqrt(max(systematic, 0)):.4f} once both references' noise is taken off.")
    for load in loads:
        print(f"Load, {load}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

"""Summary of scripts/bench-peer.sh: report.py TIMES ERRORS

Per split (camera samples x directions; where Cycles cannot take the
directions in one call, the split it rendered with the same rays per pixel
is shown): each renderer's RMSE against its own
converged reference, its pixel-loop CPU seconds (all threads), and the
equal-noise time ratio vosh-render / Cycles = (MSE x CPU s) / (MSE x CPU s),
also with wall seconds; each the median over the repetitions with
[min..max], the ratios taken per repetition. Adaptive runs (names
adaptiveT-SPLIT-rN): each renderer's RMSE and CPU seconds per threshold,
and per vosh-render threshold the CPU time Cycles needs for the same RMSE,
interpolated in log MSE against log CPU between its thresholds of the same
repetition.
"""
import collections
import math
import os
import re
import statistics
import sys


def spread(values, fmt):
    return f"{fmt(statistics.median(values))} [{fmt(min(values))}..{fmt(max(values))}]"


def cpu_at(runs, target_mse):
    """CPU seconds at `target_mse` on the line through the two runs (mse,
    cpu) nearest to it in log MSE: interpolated between, extrapolated
    beyond."""
    runs = sorted(runs, key=lambda r: abs(math.log(r[0] / target_mse)))[:2]
    if len(runs) < 2 or runs[0][0] == runs[1][0]:
        return None
    (m0, c0), (m1, c1) = runs
    slope = (math.log(c1) - math.log(c0)) / (math.log(m1) - math.log(m0))
    return math.exp(math.log(c0) + slope * (math.log(target_mse) - math.log(m0)))


def report_adaptive(adaptive, times, mean_spp):
    if not adaptive:
        return
    runs = collections.defaultdict(list)  # (who, threshold, split) -> [(rep, mse, cpu, mean spp)]
    for (who, t, split, rep), m in adaptive.items():
        name = f"adaptive{t}-{split}-r{rep}"
        if (who, name) in times:
            # Only vosh-render reports the camera samples it took.
            spp = mean_spp.get(name) if who == "VOSH" else None
            runs[(who, t, split)].append((rep, m, times[(who, name)][0], spp))
    print("Both adaptive (most camera samples x directions; each threshold in its renderer's own scale):")
    print()
    print("| renderer | split | threshold | RMSE | CPU s | mean camera samples | vosh-render / Cycles CPU at equal RMSE |")
    print("|---|---|---|---|---|---|---|")
    for (who, t, split) in sorted(runs, key=lambda r: (r[0] != "VOSH", r[2], -float(r[1]))):
        rows = runs[(who, t, split)]
        ratios = []
        for rep, m, cpu, _ in rows if who == "VOSH" else []:
            cycles = [(cm, ccpu) for (cw, ct, cs), crows in runs.items() if cw == "CYCLES" and cs == split
                      for (cr, cm, ccpu, _) in crows if cr == rep]
            at = cpu_at(cycles, m)
            if at:
                ratios.append(cpu / at)
        col = list(zip(*rows))
        spp = [v for v in col[3] if v is not None]
        print(f"| {'vosh-render' if who == 'VOSH' else 'Cycles'} | {split.replace('x', ' x ')} | {t} | "
              f"{spread(col[1], lambda v: f'{math.sqrt(max(v, 0)):.4f}')} | {spread(col[2], lambda v: f'{v:.2f}')} | "
              f"{spread(spp, lambda v: f'{v:.2f}') if spp else ''} | "
              f"{spread(ratios, lambda v: f'{v:.2f}') if ratios else ''} |")
    print()


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    times, mse, mean_spp, adaptive, cycles_split = {}, {}, {}, {}, {}
    overhead, loads = [], []
    for line in open(sys.argv[1]):
        parts = line.split()
        if not parts:
            continue
        if parts[0] == "LOAD":
            loads.append(line.strip()[5:])
        elif parts[0] == "VOSH_MEAN_SPP":
            mean_spp[parts[1]] = float(parts[2])
        elif parts[0] == "CYCLES_SPLIT":
            cycles_split[re.sub(r"-r\d+$", "", parts[1])] = parts[2]
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
        a = re.match(r"(vosh|cycles)-adaptive([0-9.]+)-(\d+x\d+)-r(\d+)$", name)
        if a:
            adaptive[(who, a.group(2), a.group(3), int(a.group(4)))] = float(parts[2])
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
        shown = f"{k} x {n}"
        if split in cycles_split:
            shown += f" (Cycles {cycles_split[split].replace('x', ' x ')})"
        print(f"| {k * n} | {shown} | {spread(col[0], rmse)} | {spread(col[1], rmse)} | "
              f"{spread(col[2], secs)} | {spread(col[3], secs)} | {spread(col[4], lambda v: f'{v:.2f}')} | "
              f"{spread(col[5], lambda v: f'{v:.2f}')} |")
    print()
    report_adaptive(adaptive, times, mean_spp)
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

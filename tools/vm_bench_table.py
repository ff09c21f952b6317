#!/usr/bin/env python3
"""Prints the vector-math benchmark table: each kernel's time per element beside its baselines from
the same run, as ratios (baseline time / kernel time; above 1 means the kernel is faster).

Usage:
  build-bench/bench/bench_vm --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
      --benchmark_format=json > vm.json
  tools/vm_bench_table.py vm.json [--filter REGEX]
Medians are used when the run has repetitions.
"""
import json
import re
import sys
from collections import defaultdict


def main():
    args = sys.argv[1:]
    if not args:
        print(__doc__)
        return 2
    pattern = None
    if "--filter" in args:
        i = args.index("--filter")
        pattern = re.compile(args[i + 1])
        del args[i : i + 2]
    with open(args[0]) as f:
        runs = json.load(f)["benchmarks"]

    times = {}
    for b in runs:
        name = b["run_name"] if "run_name" in b else b["name"]
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        n = int(name.rsplit("/", 1)[1])
        times[name] = b["real_time"] / n  # ns per element (real_time is in ns per iteration)

    kernels = defaultdict(dict)  # (isa, fn, n) -> slot -> ns
    bases = defaultdict(dict)  # (isa, fn, n) -> kind -> ns
    for name, t in times.items():
        parts = name.split("/")
        if parts[0] == "vm":
            _, isa, fn, slot, n = parts
            kernels[(isa, fn, int(n))][slot] = t
        elif parts[0] == "base":
            _, isa, fn, kind, n = parts
            bases[(isa, fn, int(n))][kind] = t

    print(f"{'function':<14}{'isa':<8}{'n':>8}  {'LA ns':>7}{'HA ns':>7}{'EP ns':>7}  ratios (baseline / HA, LA, EP)")
    for key in sorted(kernels):
        isa, fn, n = key
        if pattern and not pattern.search(f"{fn} {isa} {n}"):
            continue
        k = kernels[key]
        line = f"{fn:<14}{isa:<8}{n:>8}  " + "".join(f"{k.get(s, float('nan')):7.3f}" for s in ("LA", "HA", "EP"))
        for kind, bt in sorted(bases.get(key, {}).items()):
            ratios = "/".join(f"{bt / k[s]:.2f}" for s in ("HA", "LA", "EP") if s in k)
            line += f"  {kind} {bt:.3f} ns: {ratios}"
        print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main())

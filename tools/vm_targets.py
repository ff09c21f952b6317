#!/usr/bin/env python3
"""Checks a bench_vm run against the standing speed targets, and the instruction-set choice.

Usage:
  tools/vm_targets.py RUN.json [RUN2.json ...] [--near] [--widest COLUMN]

Targets, per kernel slot, against baselines of the same run and width (medians when the run has
repetitions; real time):
  - every slot of a function with a plain-loop baseline within 1.2x of the loop;
  - HA faster than SLEEF's 1.0-ulp function (its 0.5-ulp or exact one where that is the peer);
  - LA faster than the faster of SLEEF's 3.5-ulp function and libmvec (the HA peers if neither);
  - EP faster than every SLEEF and libmvec baseline, and at least 1.5x HA where its bound differs
    from HA's (not for functions measured against a plain loop).
--near also lists targets met by less than 6%. --widest AMD|FULL|AMD_FULL compares the n = 1e3
AVX-512 and AVX2 kernels with that WIDEST column of frame/vm_facts.def and lists the slots the
column sends to a set more than 5% slower, and the choice the run would give (AVX512 where at most
3% slower than AVX2).
"""
import json
import os
import re
import sys
from collections import defaultdict

SLOTS = ("LA", "HA", "EP")


def load(paths):
    times = {}
    for path in paths:
        with open(path) as f:
            for b in json.load(f)["benchmarks"]:
                name = b.get("run_name", b["name"])
                if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
                    continue
                times[name] = b["real_time"] / int(name.rsplit("/", 1)[1])
    return times


def facts():
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "frame", "vm_facts.def")
    rows = {}
    row = re.compile(r"ZOK_VM_FACTS\(([sdcz]), (\w+), \w+, \w+, \w+, \w+, ([\w.]+), ([\w.]+), ([\w.]+),(.*?)\)\)\)\n", re.S)
    with open(path) as f:
        for m in row.finditer(f.read()):
            cols = {c: tuple(x.strip() for x in v.split(",")) for c, v in re.findall(r"\b(AMD_FULL|AMD|FULL)\(([^()]*)\)", m.group(6))}
            rows["v" + m.group(1) + m.group(2)] = {"bounds": m.group(3, 4, 5), "widest": cols}
    return rows


def main():
    args = sys.argv[1:]
    if not args:
        print(__doc__)
        return 2
    near = "--near" in args
    column = None
    if "--widest" in args:
        i = args.index("--widest")
        column = args[i + 1]
        del args[i : i + 2]
    times = load([a for a in args if not a.startswith("--")])
    fx = facts()
    kern, base = defaultdict(dict), defaultdict(dict)
    for name, t in times.items():
        p = name.split("/")
        if p[0] == "vm":
            kern[(p[1], p[2], int(p[4]))][p[3]] = t
        elif p[0] == "base":
            base[(p[1], p[2], int(p[4]))][p[3]] = t

    counts, misses, nears = defaultdict(lambda: [0, 0]), [], []
    for key, k in sorted(kern.items()):
        isa, fn, n = key
        b = base.get(key, {})
        f = fx.get(fn)

        def check(slot, what, limit):
            ok = k[slot] < limit
            counts[(isa, n)][0 if ok else 1] += 1
            line = f"{isa:7}{n:>8} {fn:13}{slot} {k[slot]:.3f} against {what} {limit:.3f}: {limit / k[slot]:.2f}"
            if not ok:
                misses.append(line)
            elif limit / k[slot] < 1.06:
                nears.append(line)

        ha = [b[x] for x in ("sleef_u10", "sleef_u05", "sleef") if x in b]
        la = [b[x] for x in ("sleef_u35", "libmvec") if x in b] or ha
        ep = [t for x, t in b.items() if x.startswith("sleef") or x == "libmvec"]
        for slot in k:
            if "loop" in b:
                check(slot, "1.2x loop", 1.2 * b["loop"])
            peers = {"HA": ha, "LA": la, "EP": ep}[slot]
            if peers:
                check(slot, "peer", min(peers))
            if slot == "EP" and "HA" in k and f and f["bounds"][2] != f["bounds"][1] and "loop" not in b:
                check(slot, "HA/1.5", k["HA"] / 1.5)
    for (isa, n), (ok, bad) in sorted(counts.items()):
        print(f"{isa} n = {n}: {ok} met, {bad} missed")
    print("\n".join(misses))
    if near:
        print("met by less than 6%:")
        print("\n".join(nears))

    if column:
        costly = 0
        for fn, row in sorted(fx.items()):
            k2, k5 = kern.get(("avx2", fn, 1000)), kern.get(("avx512", fn, 1000))
            if not k2 or not k5 or column not in row["widest"]:
                continue
            for i, slot in enumerate(SLOTS):
                if slot not in k2 or slot not in k5:
                    continue
                chosen = row["widest"][column][i]
                t = k5["HA" if chosen == "AVX512_HA" else slot] if chosen.startswith("AVX512") else k2[slot]
                cost = t / min(k2[slot], k5[slot])
                if cost > 1.05:
                    costly += 1
                    run = "AVX512" if k5[slot] <= 1.03 * k2[slot] else "AVX2"
                    print(f"{fn:13}{slot} {column} {chosen} costs {cost:.2f} (AVX-512/AVX2 {k5[slot] / k2[slot]:.2f}: {run})")
        print(f"{column}: {costly} slots on a set more than 5% slower")
    return 0


if __name__ == "__main__":
    sys.exit(main())

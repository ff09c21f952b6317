#!/usr/bin/env python3
"""Known answers of the congruential generators from plain one-element-at-a-time recurrences in exact
integer arithmetic (WH's sums rounded toward zero through exact fractions).

    python3 tests/data/congruential.py (lines after the header of congruential.txt)

Line format: NAME member seeds op form: values. seeds is a comma list or '-' for none; op is 'first',
'after=P' (P elements drawn in one request first), 'skip=S' or 'leap=k/N'; form is 'i' (one number per
element: MCG59's 64-bit value, WH's four components) or d/s with the interval, values as hex floats.
"""
import math
import struct
from fractions import Fraction as F

M31, A31 = 2**31 - 1, 1132489760
M59, A59 = 2**59, 13**13
M1, M2 = 2**32 - 209, 2**32 - 22853
WH = {0: ((16770647, 16770643, 16770623, 16770617), (125, 117, 127, 126)),
      272: ((16766363, 16766359, 16766327, 16766231), (126, 127, 125, 124))}


def mcg(m, a, x):
    while True:
        yield x
        x = x * a % m


def mcg31(seeds):
    x = seeds[0] % M31 if seeds else 1
    return mcg(M31, A31, x or 1)


def mcg59(seeds):
    x = (seeds[0] | seeds[1] << 32) % M59 if len(seeds) >= 2 else (seeds[0] if seeds else 0)
    return mcg(M59, A59, x or 1)


def r250(seeds):
    w, s = [], (seeds[0] if seeds and seeds[0] else 1)
    for _ in range(250):
        s = s * 69069 % 2**32
        w.append(s)
    for t in range(32):
        w[7 * t + 3] = (w[7 * t + 3] & (0xFFFFFFFF >> t)) | (0x80000000 >> t)
    while True:
        w.append(w[-250] ^ w[-147])
        yield w[-1]


def mrg(seeds):
    s = [seeds[k] if k < len(seeds) else 1 for k in range(6)]
    x = [v - M1 if v >= M1 else v for v in s[:3]]
    y = [v - M2 if v >= M2 else v for v in s[3:]]
    x[0] = x[0] if any(x) else 1
    y[0] = y[0] if any(y) else 1
    while True:
        xn = (1403580 * x[1] - 810728 * x[0]) % M1
        yn = (527612 * y[2] - 1370589 * y[0]) % M2
        x, y = x[1:] + [xn], y[1:] + [yn]
        yield (xn - yn) % M1


def wh(member, seeds):
    m, a = WH[member]
    x = [(seeds[k] % m[k] if k < len(seeds) else 1) or 1 for k in range(4)]
    while True:
        x = [a[k] * x[k] % m[k] for k in range(4)]
        yield tuple(x)


def rz(q):
    """q rounded toward zero to double."""
    f = float(q)
    return math.nextafter(f, 0.0) if abs(F(f)) > abs(q) else f


def wh_real(member, x, a, b):
    s = 0.0
    for k in range(4):
        p = rz(F(x[k]) * F(1.0 / WH[member][0][k]))
        s = p if k == 0 else rz(F(s) + F(p))
    u = s - math.trunc(s)
    return rz(F(rz(F(u) * F(rz(F(b) - F(a))))) + F(a))


NORM = {"MCG31M1": 4.656612875245797e-10, "MCG59": 2.0**-59, "R250": 2.0**-32,
        "MRG32K3A": 2.328306549837829e-10}
MAKE = {"MCG31M1": lambda m, s: mcg31(s), "MCG59": lambda m, s: mcg59(s),
        "R250": lambda m, s: r250(s), "MRG32K3A": lambda m, s: mrg(s), "WH": wh}


def take(gen, skip, n, stride=1):
    out = []
    for i, v in enumerate(gen):
        if i >= skip and (i - skip) % stride == 0:
            out.append(v)
            if len(out) == n:
                return out


def to_float(v):
    return struct.unpack("f", struct.pack("f", v))[0]


def rz32(x):
    """x rounded toward zero to float."""
    f = to_float(x)
    if abs(f) > abs(x):
        f = struct.unpack("f", struct.pack("I", struct.unpack("I", struct.pack("f", f))[0] - 1))[0]
    return f


def line(name, member, seeds, op, form, values):
    s = ",".join(map(str, seeds)) if seeds else "-"
    print(f"{name} {member} {s} {op} {form}: " + " ".join(values))


def ints(vals):
    return [" ".join(map(str, v)) if isinstance(v, tuple) else str(v) for v in vals]


def reals(name, member, vals, a, b, single):
    out = []
    for v in vals:
        if name == "WH":
            r = wh_real(member, v, a, b)
            r = rz32(r) if single else r
        else:
            r = float(v) * ((b - a) * NORM[name]) + a
            r = to_float(r) if single else r
        out.append(r.hex())
    return out


CASES = [("MCG31M1", 0, [1]), ("MCG31M1", 0, [2024, 7]), ("MCG59", 0, [1]), ("MCG59", 0, [2024, 7]),
         ("R250", 0, [2024]), ("R250", 0, []), ("MRG32K3A", 0, [12345] * 6),
         ("MRG32K3A", 0, [2024, 7, 1, 2, 3, 4]), ("WH", 0, [2024, 7, 1, 2]), ("WH", 272, [11, 12, 13, 14])]
SKIP = {"MCG31M1", "MCG59", "MRG32K3A", "WH"}
LEAP = {"MCG31M1", "MCG59", "WH"}

for name, member, seeds in CASES:
    make = lambda: MAKE[name](member, seeds)
    line(name, member, seeds, "first", "i", ints(take(make(), 0, 6)))
    line(name, member, seeds, "after=70001", "i", ints(take(make(), 70001, 3)))
    line(name, member, seeds, "first", "d[-3,5]", reals(name, member, take(make(), 0, 3), -3.0, 5.0, False))
    line(name, member, seeds, "first", "s[0,1]", reals(name, member, take(make(), 0, 3), 0.0, 1.0, True))
    line(name, member, seeds, "first", "s[-3,5]", reals(name, member, take(make(), 0, 3), -3.0, 5.0, True))
    if name in SKIP:
        line(name, member, seeds, "skip=12345", "i", ints(take(make(), 12345, 3)))
    if name in LEAP:
        # Stream k of N takes every N-th element from k; WH keeps the last element produced, so its
        # streams start one round later.
        line(name, member, seeds, "leap=2/5", "i", ints(take(make(), 2 + (4 if name == "WH" else 0), 3, 5)))

# Seeds reduced modulo the modulus, zero and missing ones standing for 1 (MCG59's high word keeps its
# low 27 bits); the largest MCG31M1 state still gives u below 1.
for name, seeds in [("MCG31M1", [0]), ("MCG31M1", [2**31 - 1]), ("MCG31M1", []), ("MCG31M1", [2**31 + 4]),
                    ("MCG31M1", [2**32 - 1]), ("MCG59", [2**32 - 1]), ("MCG59", [0x89ABCDEF, 0xFFFFFFFF]),
                    ("MCG59", [5, 0x08000000]), ("MCG59", [5, 6, 7]), ("MCG59", [0, 0x08000000]),
                    ("MCG59", []), ("R250", [0]), ("MRG32K3A", [0] * 6), ("MRG32K3A", []), ("MRG32K3A", [7, 8]),
                    ("MRG32K3A", [2**32 - 1, M1, M1 - 1, 2**32 - 1, M2, 9, 10]), ("MRG32K3A", [M1, 0, 0, 0, M2, 0]),
                    ("WH", [0, 16770643 + 3, 16770623])]:
    line(name, 0, seeds, "first", "i", ints(take(MAKE[name](0, seeds), 0, 2)))
line("MCG31M1", 0, [2**31 - 2], "first", "d[0,1]", reals("MCG31M1", 0, [2**31 - 2], 0.0, 1.0, False))

# Skips beyond what can be discarded: a whole period changes nothing, and the multiplicative
# generators jump by a^S directly.
line("MCG31M1", 0, [777], "skip=2147483646", "i", ints(take(mcg31([777]), 0, 3)))
line("MCG59", 0, [1], "skip=144115188075855872", "i", ints(take(mcg59([1]), 0, 3)))
BIG = 2**40 + 5
line("MCG31M1", 0, [777], f"skip={BIG}", "i", ints(take(mcg(M31, A31, 777 * pow(A31, BIG, M31) % M31), 0, 3)))
line("MCG59", 0, [1], f"skip={BIG}", "i", ints(take(mcg(M59, A59, pow(A59, BIG, M59)), 0, 3)))
m, a = WH[0]
x = tuple(v * pow(a[k], BIG, m[k]) % m[k] for k, v in enumerate((5, 6, 7, 8)))
line("WH", 0, [5, 6, 7, 8], f"skip={BIG}", "i", ints(take(wh(0, x), 0, 2)))

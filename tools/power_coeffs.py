#!/usr/bin/env python3
"""Generates kernels/power/power_coeffs.h: polynomial coefficients and tables of the power and root
kernels, from 40-digit arithmetic (mpmath).

Usage: tools/power_coeffs.py > kernels/power/power_coeffs.h
"""
import random
import struct
from fractions import Fraction

import mpmath as mp

mp.mp.dps = 40

# Degrees of the seeded cube roots' step polynomials (float, double).
CBRT_DEG_F, CBRT_DEG_D = 2, 5


def cheb_fit(f, a, b, deg):
    """Polynomial through the Chebyshev nodes of [a, b]; returns double coefficients (lowest first)
    and the largest relative error on a fine grid."""
    n = deg + 1
    xs = [(a + b) / 2 + (b - a) / 2 * mp.cos(mp.pi * (k + mp.mpf(1) / 2) / n) for k in range(n)]
    A = mp.matrix([[x**j for j in range(n)] for x in xs])
    c = mp.lu_solve(A, mp.matrix([f(x) for x in xs]))
    cs = [float(ci) for ci in c]
    err = max(abs((sum(mp.mpf(cs[j]) * x**j for j in range(n)) - f(x)) / f(x)) for x in mp.linspace(a, b, 4001))
    return cs, float(err)


def emit_array(name, values, comment, ctype="double"):
    suffix = "f" if ctype == "float" else ""
    print(f"// {comment}")
    print(f"inline constexpr {ctype} {name}[] = {{")
    for v in values:
        print(f"    {float(v).hex()}{suffix},  // {float(v)!r}")
    print("};")


def split(v, bits=53):
    """v as a double, and the double nearest the remainder."""
    hi = mp.mpf(float(v))
    return float(hi), float(v - hi)


def round_to_bits(v, bits):
    """v rounded to `bits` significant bits."""
    e = mp.floor(mp.log(abs(v), 2))
    scale = mp.mpf(2) ** (bits - 1 - e)
    return mp.nint(v * scale) / scale


def emit_pow_tables():
    ln2 = mp.log(2)
    # ln 2 with 42 significant bits, so that k * kLn2Hi is exact for |k| < 2^11.
    ln2_hi = round_to_bits(ln2, 42)
    print(f"// ln 2 in two parts; the leading part has 42 significant bits (k * kLn2Hi exact for |k| < 2^11).")
    print(f"inline constexpr double kLn2Hi = {float(ln2_hi).hex()};")
    print(f"inline constexpr double kLn2Lo = {float(ln2 - ln2_hi).hex()};")
    # ln 2 / 128 with 35 significant bits, so that n * kLn2By128Hi is exact for |n| < 2^18.
    l = ln2 / 128
    l_hi = round_to_bits(l, 35)
    print("// ln 2 / 128 in two parts; the leading part has 35 significant bits.")
    print(f"inline constexpr double kLn2By128Hi = {float(l_hi).hex()};")
    print(f"inline constexpr double kLn2By128Lo = {float(l - l_hi).hex()};")
    print(f"inline constexpr double k128ByLn2 = {float(128 / ln2).hex()};")
    print()
    # Logarithm table: index j = ((exponent of z) & 1) << 7 | the top 7 fraction bits of z, for z in
    # [0.703125, 1.40625). inv_c approximates 1 / (centre of the cell) with at most 10 significant
    # bits (a multiple of 2^-10 below 1, of 2^-9 above), so that z_hi * inv_c is exact for z_hi of
    # 43 bits; the two cells beside 1 use inv_c = 1, so that ln z near 1 keeps its relative accuracy.
    invc, logc_hi, logc_lo = [0.0] * 256, [0.0] * 256, [0.0] * 256
    for j in range(256):
        if j < 128:
            lo_z = mp.mpf(1) / 2 + mp.mpf(j) / 256
            width = mp.mpf(1) / 256
        else:
            lo_z = 1 + mp.mpf(j - 128) / 128
            width = mp.mpf(1) / 128
        if lo_z + width <= mp.mpf("0.703125") or lo_z >= mp.mpf("1.40625"):
            continue
        c = lo_z + width / 2
        ic = 1 / c
        step = mp.mpf(2) ** -10 if ic < 1 else mp.mpf(2) ** -9
        ic = mp.nint(ic / step) * step
        if j in (127, 128):
            ic = mp.mpf(1)
        invc[j] = float(ic)
        lc = -mp.log(ic)
        logc_hi[j], logc_lo[j] = split(lc)
    # The cells in use are told apart by the 7 leading fraction bits alone (those of z and of x are
    # the same): f < 52 is z in [1, 1.40625), f >= 52 is z in [0.703125, 1). So the rows are indexed
    # by f, straight from the bits of x.
    rows = []
    for f in range(128):
        j = 128 + f if f < 52 else f
        rows += [invc[j], invc[j], logc_hi[j], logc_lo[j]]
    emit_array("kPowLogRows", rows,
               "pow: rows {inv_c, inv_c, -ln(inv_c) leading part, trailing part} by the 7 leading fraction "
               "bits of x; read with one load per lane")
    t_hi, t_lo = [], []
    for j in range(128):
        v = mp.mpf(2) ** (mp.mpf(j) / 128)
        h, lo = split(v)
        t_hi.append(h)
        t_lo.append(lo)
    emit_array("kExp2Hi", t_hi, "2^(j/128), leading part")
    rows = []
    for j in range(128):
        rows += [t_hi[j], t_lo[j]]
    emit_array("kExp2Rows", rows, "2^(j/128): rows {leading part, trailing part}")


def float_split(v):
    """v as the nearest float, and the float nearest the remainder."""
    hi = round_to_bits(v, 24) if v != 0 else mp.mpf(0)
    lo = v - hi
    return hi, (round_to_bits(lo, 24) if lo != 0 else mp.mpf(0))


def emit_float_pow_tables():
    """Tables of the float Pow scalar path. log2 of m in [0.75, 1.5) goes through three levels: at
    level k, with u = m_k - 1 held as a float pair, i = nearest integer to u * 2^s (s = 4, 8, 13),
    d = 1 - 1/(1 + i/2^s) rounded to 12 significant bits, and m_{k+1} = m_k (1 - d), so that
    u' = u - d - d u takes exact float products of d with the 12-bit halves of u; the level adds
    -log2(1 - d) as a float pair. Each level's index range follows from the bound on |u| that the
    previous level leaves; the generator checks it."""
    levels = [4, 8, 13]
    lo_u, hi_u = mp.mpf(-0.25), mp.mpf(0.5)  # u = m - 1 for m in [0.75, 1.5)
    ln2 = mp.log(2)
    for lev, s in enumerate(levels, 1):
        sc = mp.mpf(2) ** s
        i_lo = int(mp.nint(lo_u * sc))
        i_hi = int(mp.nint(hi_u * sc))
        ds, ths, tls = [], [], []
        new_lo, new_hi = mp.mpf(0), mp.mpf(0)
        for i in range(i_lo, i_hi + 1):
            d = 1 - 1 / (1 + mp.mpf(i) / sc)
            d = round_to_bits(d, 12) if i != 0 else mp.mpf(0)
            t = -mp.log(1 - d) / ln2
            th, tl = float_split(t)
            ds.append(d)
            ths.append(th)
            tls.append(tl)
            # The cell of u that rounds to i, clipped to the range reaching this level; u' = (1 + u)(1 - d) - 1
            # is monotonic in u.
            a = max(lo_u, (i - mp.mpf(0.5)) / sc)
            b = min(hi_u, (i + mp.mpf(0.5)) / sc)
            if a > b:
                continue
            for v in (a, b):
                w = (1 + v) * (1 - d) - 1
                new_lo, new_hi = min(new_lo, w), max(new_hi, w)
        # Index rounding happens on the leading float of u; widen by a margin for that and the
        # rounding of u itself.
        margin = mp.mpf(2) ** -(s + 12)
        lo_u, hi_u = new_lo - margin, new_hi + margin
        print(f"// float pow, level {lev}: index i = nearest(u * 2^{s}) in [{i_lo}, {i_hi}] (offset {-i_lo});")
        print(f"// d = 1 - 1/(1 + i/2^{s}) with 12 significant bits; after the level |u| <= {float(max(-lo_u, hi_u)):.4e}.")
        print(f"inline constexpr int kPowFOffset{lev} = {-i_lo};")
        print(f"inline constexpr int kPowFLast{lev} = {i_hi};")
        emit_array(f"kPowFD{lev}", ds, f"float pow, level {lev}: d", "float")
        emit_array(f"kPowFLog2Hi{lev}", ths, f"float pow, level {lev}: -log2(1 - d), leading part", "float")
        emit_array(f"kPowFLog2Lo{lev}", tls, f"float pow, level {lev}: -log2(1 - d), trailing part", "float")
    r = max(-lo_u, hi_u)
    print(f"// float pow: the remainder r after the third level: |r| <= {float(r):.4e}; log(1 + r) to r^4 leaves")
    print(f"// {float(r**4 / 5):.2e} relative.")
    ih, il = float_split(1 / ln2)
    print(f"inline constexpr float kPowFInvLn2Hi = {float(ih).hex()}f;")
    print(f"inline constexpr float kPowFInvLn2Lo = {float(il).hex()}f;")
    eh, el = [], []
    for j in range(128):
        h, l = float_split(mp.mpf(2) ** (mp.mpf(j) / 128))
        eh.append(h)
        el.append(l)
    emit_array("kPowFExp2Hi", eh, "float pow: 2^(j/128), leading part", "float")
    emit_array("kPowFExp2Lo", el, "float pow: 2^(j/128), trailing part", "float")
    print("// float pow: 2^f - 1 for |f| <= 1/256 (fixed coefficients).")
    print("inline constexpr float kPowFExp2Poly[] = {0.6931472f, 0.2402265f, 0.05550411f};")
    f = mp.mpf(1) / 256
    err = max(abs(mp.mpf(float(mp.mpf("0.6931472"))) * t + mp.mpf(float(mp.mpf("0.2402265"))) * t**2 +
                  mp.mpf(float(mp.mpf("0.05550411"))) * t**3 - (mp.mpf(2)**t - 1)) / mp.mpf(2)**t
              for t in mp.linspace(-f, f, 2001))
    print(f"// (its error on |f| <= 1/256: {float(err):.2e} relative to 2^f)")
    print("// The result by the negative-result flag: +-1 and +-0 (entry 1 negative).")
    print("inline constexpr float kPowFOnes[] = {1.0f, -1.0f};")
    print("inline constexpr float kPowFZeros[] = {0.0f, -0.0f};")
    print("inline constexpr double kPowDOnes[] = {1.0, -1.0};")
    print("inline constexpr double kPowDZeros[] = {0.0, -0.0};")


def f32(v):
    return struct.unpack("f", struct.pack("f", v))[0]


def emit_pow_poly():
    """Polynomials of the Pow kernels without tables, which compute in double: log2(1 + t) / t for
    m = 1 + t in [2/3, 4/3) (float HA degree 12, float LA 10, double EP 13) and (2^f - 1) / f for
    |f| <= 1/2 (degree 6, float LA 5). Errors relative to log2(1 + t) and 2^f."""
    lo, hi = mp.mpf(2) / 3 - 1, mp.mpf(4) / 3 - 1
    grid = [t for t in mp.linspace(lo, hi, 3000) if abs(t) > 1e-20]
    for deg in (10, 12, 13):
        cs, _ = cheb_fit(lambda t: mp.log(1 + t, 2) / t if abs(t) > 1e-30 else 1 / mp.log(2), lo, hi, deg)
        err = max(abs(t * sum(mp.mpf(c) * t**j for j, c in enumerate(cs)) / mp.log(1 + t, 2) - 1) for t in grid)
        emit_array(f"kPowLog2Poly{deg}", cs,
                   f"pow without tables: log2(1 + t) / t on [-1/3, 1/3), degree {deg}, lowest first; relative error {float(err):.2e}")
    h = mp.mpf(1) / 2
    for deg in (5, 6):
        cs, _ = cheb_fit(lambda f: (mp.mpf(2) ** f - 1) / f if abs(f) > 1e-30 else mp.log(2), -h, h, deg)
        err = max(abs((1 + f * sum(mp.mpf(c) * f**j for j, c in enumerate(cs))) / mp.mpf(2) ** f - 1)
                  for f in mp.linspace(-h, h, 3001))
        emit_array(f"kPowExp2Poly{deg}", cs,
                   f"pow without tables: (2^f - 1) / f on |f| <= 1/2, degree {deg}, lowest first; relative error {float(err):.2e}")


def emit_float_pow_ep():
    """Polynomials of the float Pow EP kernel, which computes in float lanes without tables:
    log2(1 + t) / t for m = 1 + t in [2/3, 4/3), and (2^f - 1) / f for |f| <= 1/2. The errors are
    measured with the coefficients rounded to float, relative to log2(1 + t) and 2^f."""
    lo, hi = mp.mpf(2) / 3 - 1, mp.mpf(4) / 3 - 1
    cs, _ = cheb_fit(lambda t: mp.log(1 + t, 2) / t if abs(t) > 1e-30 else 1 / mp.log(2), lo, hi, 7)
    cs = [f32(c) for c in cs]
    grid = [t for t in mp.linspace(lo, hi, 4000) if abs(t) > 1e-20]
    err = max(abs(t * sum(mp.mpf(c) * t**j for j, c in enumerate(cs)) / mp.log(1 + t, 2) - 1) for t in grid)
    emit_array("kPowEpLog2Poly", cs,
               f"float pow EP: log2(1 + t) / t on [-1/3, 1/3), degree 7, lowest first; relative error {float(err):.2e}", "float")
    h = mp.mpf(1) / 2
    cs, _ = cheb_fit(lambda f: (mp.mpf(2) ** f - 1) / f if abs(f) > 1e-30 else mp.log(2), -h, h, 3)
    cs = [f32(c) for c in cs]
    err = max(abs((1 + f * sum(mp.mpf(c) * f**j for j, c in enumerate(cs))) / mp.mpf(2) ** f - 1)
              for f in mp.linspace(-h, h, 4001))
    emit_array("kPowEpExp2Poly", cs,
               f"float pow EP: (2^f - 1) / f on |f| <= 1/2, degree 3, lowest first; relative error {float(err):.2e}", "float")


def seed_float(x, k, fused):
    """The float seed of x^(-1/3): the bits K - u/3 as the kernel forms them, u read through a float,
    with a fused or a twice-rounded multiply-subtract."""
    u = struct.unpack("I", struct.pack("f", x))[0]
    uf, third = f32(float(u)), f32(1 / 3)
    t = f32(k - uf * third) if fused else f32(k - f32(uf * third))  # the double product is exact
    return struct.unpack("f", struct.pack("I", int(t)))[0]


def seed_double(x, k, fused):
    """The double seed: 2^52 + h (h the high word of x) into k - (2^52 + h)/3, rounded to an integer
    whose low 32 bits are the seed's high word."""
    h = struct.unpack("Q", struct.pack("d", x))[0] >> 32
    d = float(2**52 + h)
    t = float(Fraction(k) - Fraction(d) * Fraction(1 / 3)) if fused else k - d * (1 / 3)
    lo32 = struct.unpack("Q", struct.pack("d", t))[0] & 0xFFFFFFFF
    return struct.unpack("d", struct.pack("Q", lo32 << 32))[0]


def seed_range(xs, seed, k):
    """The least and greatest e = 1 - x z0^3 over the arguments, both multiply-subtract forms."""
    es = [1 - float(Fraction(x) * Fraction(seed(x, k, fused)) ** 3) for x in xs for fused in (True, False)]
    return min(es), max(es)


def tune_seed(xs, seed, k, step, quantum):
    """The k (a multiple of quantum) near the given one with the smallest greatest |e| over every
    eighth argument (e in double arithmetic), by a pattern search with halving steps."""
    def worst(kk):
        return max(abs(1 - x * seed(x, float(kk), True) ** 3) for x in xs[::8])
    best = (worst(k), k)
    while step >= quantum:
        moved = True
        while moved:
            moved = False
            for cand in (best[1] - step, best[1] + step):
                w = worst(cand)
                if w < best[0]:
                    best, moved = (w, cand), True
        step //= 2
    return best[1]


def step_fit(lo, hi, deg, single):
    """q(e) ~ ((1 - e)^(-1/3) - 1)/e through the Chebyshev nodes of [lo, hi]; returns the coefficients
    (lowest first, rounded to float when single) and the largest relative error of 1 + e q(e) against
    (1 - e)^(-1/3)."""
    def q(e):
        return ((1 - e) ** (-mp.mpf(1) / 3) - 1) / e if abs(e) > 1e-30 else mp.mpf(1) / 3
    cs, _ = cheb_fit(q, mp.mpf(lo), mp.mpf(hi), deg)
    if single:
        cs = [f32(c) for c in cs]
    err = max(abs((1 + e * sum(mp.mpf(cs[j]) * e**j for j in range(deg + 1))) * (1 - e) ** (mp.mpf(1) / 3) - 1)
              for e in mp.linspace(mp.mpf(lo), mp.mpf(hi), 4001))
    return cs, float(err)


def emit_cbrt_seeds():
    """The seeded cube roots: the seed constants, tuned to the smallest greatest |e| over random normal
    arguments and every 2^11th (float) or 2^41st (double) significand of binades at both ends and
    around 1, and the step polynomials over the seeds' range of e, widened by 1e-5 (float) or 1e-7
    (double) for the arguments not sampled."""
    rng = random.Random(1)
    fl = [struct.unpack("f", struct.pack("I", rng.randrange(0x00800000, 0x7F800000)))[0] for _ in range(3000)]
    fl += [struct.unpack("f", struct.pack("I", ((e + 127) << 23) | m))[0]
           for e in (-126, -125, -124, 0, 1, 2, 125, 126, 127) for m in range(0, 1 << 23, 1 << 11)]
    dl = [struct.unpack("d", struct.pack("Q", rng.randrange(0x0010000000000000, 0x7FF0000000000000)))[0]
          for _ in range(3000)]
    dl += [struct.unpack("d", struct.pack("Q", ((e + 1023) << 52) | m | rng.randrange(1 << 41)))[0]
           for e in (-1022, -1021, -1020, 0, 1, 2, 1021, 1022, 1023) for m in range(0, 1 << 52, 1 << 41)]
    kf = tune_seed(fl, seed_float, round(127 * 4 / 3 * 2**23 / 128) * 128, 1 << 21, 128)
    kd = tune_seed(dl, seed_double, 2**52 + round(1023 * 4 / 3 * 2**20) + round(2**52 / 3), 1 << 17, 1)
    lo_f, hi_f = seed_range(fl, seed_float, float(kf))
    lo_d, hi_d = seed_range(dl, seed_double, float(kd))
    lo_f, hi_f, lo_d, hi_d = lo_f - 1e-5, hi_f + 1e-5, lo_d - 1e-7, hi_d + 1e-7
    print(f"// Seeded cube roots: z0 = the bits K - u/3 with u those of x (float) or of its high word (double,")
    print(f"// where kCbrtSeedD is 2^52 (4/3) + K); e = 1 - x z0^3 lies in [{lo_f:.5f}, {hi_f:.5f}] (float),")
    print(f"// [{lo_d:.5f}, {hi_d:.5f}] (double).")
    print(f"inline constexpr float kCbrtSeedF = {float(kf).hex()}f;  // {int(kf):#x}")
    print(f"inline constexpr double kCbrtSeedD = {float(kd).hex()};")
    for name, deg, single, lo, hi in (("kCbrtStepF", CBRT_DEG_F, True, lo_f, hi_f),
                                      ("kCbrtStepD", CBRT_DEG_D, False, lo_d, hi_d)):
        cs, err = step_fit(lo, hi, deg, single)
        emit_array(name, cs, f"((1 - e)^(-1/3) - 1)/e, degree {deg}, lowest first; 1 + e q(e) within {err:.2e} relative",
                   "float" if single else "double")


def main():
    print("// Coefficients and tables of the power and root kernels.")
    print("// Generated by tools/power_coeffs.py (tools/power_coeffs.py > kernels/power/power_coeffs.h); do not edit.")
    print("#pragma once")
    print()
    print("namespace zok::power {")
    print()
    cs, err = cheb_fit(lambda x: x ** (-mp.mpf(1) / 3), mp.mpf(1), mp.mpf(2), 6)
    emit_array("kInvCbrtPoly", cs, f"m^(-1/3) on [1, 2], degree 6, lowest first; relative error {err:.2e}")
    print()
    emit_pow_tables()
    print()
    emit_float_pow_tables()
    print()
    emit_pow_poly()
    print()
    emit_float_pow_ep()
    print()
    emit_cbrt_seeds()
    print()
    print("}  // namespace zok::power")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Generates the constants, tables and polynomial coefficients of the trigonometric kernels.

Usage (from the repository root):
  /usr/bin/python3 tools/gen_trig_tables.py kernels/trig
writes kernels/trig/trig_tables.h. Needs python3-mpmath.

Everything is computed at 400 bits and rounded once. The float pi in four parts (8, 11, 11 bits and
the rounded rest) and the float 1/pi that the float Sin and Cos kernels fix, and the polynomial of
their LA flavour, are derived or checked here. Polynomials are least-squares fits on Chebyshev
nodes (near minimax) of the stated function on the stated interval, coefficients rounded to the
precision they are used in; each header line records interval, degree and the largest relative
error of the rounded polynomial over a dense grid.
"""
import os
import sys

from mpmath import mp, mpf, pi, sin, cos, tan, atan, asin, floor, matrix, lu_solve, linspace

from gen_explog_tables import dstr, f32, fstr

mp.prec = 400


def cut(x, bits):
    """x truncated to its leading `bits` significant bits."""
    e = int(floor(mp.log(abs(x), 2)))
    q = mpf(2) ** (bits - 1 - e)
    return floor(x * q) / q


def float_pi_parts():
    p1 = cut(pi, 8)
    p2 = cut(pi - p1, 11)
    p3 = cut(pi - p1 - p2, 11)
    p4 = mpf(f32(pi - p1 - p2 - p3))
    parts = [p1, p2, p3, p4]
    fixed = [3.140625, 0.0009675025939941406, 1.5099067240953445e-07, 5.126688136514179e-12]
    assert [float(p) for p in parts] == fixed, parts
    inv = f32(1 / pi)
    assert inv == 0.31830987334251404
    # The rest beyond the four parts, carried in double by the HA kernels.
    p5 = float(pi - p1 - p2 - p3 - p4)
    return parts, inv, p5


def double_pio2_parts():
    """pi/2 in 33, 33 and 33 bits and the rounded rest: N c_i is exact for N < 2^20."""
    c1 = cut(pi / 2, 33)
    c2 = cut(pi / 2 - c1, 33)
    c3 = cut(pi / 2 - c1 - c2, 33)
    c4 = mpf(float(pi / 2 - c1 - c2 - c3))
    for c in (c1, c2, c3):
        assert mpf(float(c)) == c
    return [c1, c2, c3, c4]


def two_over_pi_words(count):
    """Bits of 2/pi after the binary point, 64 to a word, behind one zero word."""
    with mp.workprec(64 * count + 128):
        bits = int(floor(2 / pi * mpf(2) ** (64 * count)))
    words = [0] + [(bits >> (64 * (count - 1 - k))) & (2**64 - 1) for k in range(count)]
    # The leading bits of 2/pi = 0.10100010111110011...
    assert words[1] >> 48 == 0xA2F9
    return words


def fit(g, hi, nterms, rnd):
    """Coefficients c_0.. of g(z) ~ sum c_k z^k over z in [0, hi^2] (least squares on Chebyshev nodes)."""
    m = 4 * nterms + 40
    zs = [hi**2 * (1 - mp.cos(pi * (k + mpf(0.5)) / m)) / 2 for k in range(m)]
    a = matrix(m, nterms)
    b = matrix(m, 1)
    for i, z in enumerate(zs):
        for j in range(nterms):
            a[i, j] = z**j
        b[i] = g(z)
    c = lu_solve(a.T * a, a.T * b)
    return [rnd(c[j]) for j in range(nterms)]


def horner(z, c):
    s = mpf(0)
    for v in reversed(c):
        s = s * z + mpf(v)
    return s


def sin_g(z):
    r = mp.sqrt(z)
    return (sin(r) - r) / (r**3) if z > mpf(2) ** -60 else mpf(-1) / 6 + z / 120


def cos_g(z):
    r = mp.sqrt(z)
    return (cos(r) - 1 + z / 2) / (z * z) if z > mpf(2) ** -60 else mpf(1) / 24 - z / 720


def atan_g(z):
    r = mp.sqrt(z)
    return (atan(r) - r) / (r**3) if z > mpf(2) ** -60 else mpf(-1) / 3 + z / 5


def asin_g(z):
    r = mp.sqrt(z)
    return (asin(r) - r) / (r**3) if z > mpf(2) ** -60 else mpf(1) / 6 + 3 * z / 40


def odd_err(f, c, hi):
    """Largest relative error of r + r^3 P(r^2) against f over (0, hi]."""
    return max(abs((r + r**3 * horner(r * r, c)) / f(r) - 1) for r in linspace(hi / 4000, hi, 4000))


def atan_ep_err(c):
    """The float EP arctangent's polynomial: t P(t^2) against atan t over (0, 1]."""

    def p(t):
        u = t * t
        v = u * u
        return ((c[0] * v + c[1]) * v + c[2]) + (c[3] * v + c[4]) * u

    return max(abs(t * p(t) / atan(t) - 1) for t in linspace(mpf(1) / 4000, 1, 4000))


def sin_err(c, hi):
    return max(abs((r + r**3 * horner(r * r, c)) / sin(r) - 1) for r in linspace(hi / 4000, hi, 4000))


def cos_err(c, hi):
    return max(abs((1 - r * r / 2 + r**4 * horner(r * r, c)) / cos(r) - 1) for r in linspace(0, hi, 4000))


def inverse_lines(add, emit, rf, rd):
    """Constants and polynomials of Asin, Acos, Atan and Atan2."""
    add("")
    add("// Inverse functions. Multiples of pi/2 and the arctangents of the reduction's centres as hi + lo.")
    for name, v in (("kDPio2", pi / 2), ("kDPi", pi), ("kDAtanQuarter", atan(mpf(1) / 4)), ("kDAtanHalf", atan(mpf(1) / 2)),
                    ("kDPio4", pi / 4)):
        h = float(v)
        add("inline constexpr double %sH = %s, %sL = %s;" % (name, dstr(h), name, dstr(v - h)))
    for name, v in (("kSPio2", pi / 2), ("kSPi", pi)):
        h = f32(v)
        add("inline constexpr float %sH = %s, %sL = %s;" % (name, fstr(h), name, fstr(f32(v - h))))
    # The float EP arctangent the kernels fix, only measured: P(t) with u = t^2, v = u^2.
    ep = [0.023298658430576324, 0.18468023836612701, 0.9999678134918213, -0.09093204140663147,
          -0.33161136507987976]
    for c in ep:
        assert f32(c) == c
    assert f32(pi / 2) == 1.5707963705062866
    emit("kSAtanEP5", "float", ep, "atan t = t ((c0 v + c1) v + c2 + (c3 v + c4) u), u = t^2, v = u^2, |t| <= 1 (fixed)",
         atan_ep_err(ep))
    # Around the centres 0, 1/4, 1/2 and 1 (quotients split at 3/16, 7/16 and 11/16) |z| <= 3/16.
    top = mpf(3) / 16
    for name, n in (("kDAtanHA", 8), ("kDAtanLA", 7), ("kDAtanEP", 4)):
        c = fit(atan_g, top, n, rd)
        emit(name, "double", c, "atan z = z + z^3 P(z^2), |z| <= 3/16, degree %d" % (2 * n + 1), odd_err(atan, c, top))
    for name, n in (("kSAtanLA", 9), ("kSAtanEP", 5)):
        c = fit(atan_g, mpf(1), n, rf)
        emit(name, "float", c, "atan q = q + q^3 P(q^2), 0 <= q <= 1, degree %d" % (2 * n + 1), odd_err(atan, c, mpf(1)))
    half = mpf(1) / 2
    for name, n, rnd, ctype in (("kDAsinHA", 13, rd, "double"), ("kDAsinLA", 12, rd, "double"),
                                ("kDAsinEP", 6, rd, "double"), ("kSAsinHA", 7, rd, "double"),
                                ("kSAsinLA", 5, rf, "float"), ("kSAsinEP", 3, rf, "float")):
        c = fit(asin_g, half, n, rnd)
        emit(name, ctype, c, "asin z = z + z^3 P(z^2), |z| <= 1/2, degree %d" % (2 * n + 1), odd_err(asin, c, half))


def quarter_and_half_lines(add, emit, rf, rd):
    """The float HA Sin and Cos on a two-float argument reduced by pi/2, and the double LA Sin and Cos
    reduced by pi (or by odd multiples of pi/2) to one odd polynomial."""
    add("")
    add("// pi/2 = kSPio2H + kSPio2L + kSPio2T (three floats, the rest below 2^-73).")
    h = mpf(f32(pi / 2))
    l = mpf(f32(pi / 2 - h))
    t = f32(pi / 2 - h - l)
    add("inline constexpr float kSPio2T = %s;" % fstr(t))
    add("inline constexpr double kDInvPi = %s;" % dstr(1 / pi))
    # N from the float product m 2/pi may round to the neighbour of the nearest integer, which leaves
    # |r| a little beyond pi/4 (by 5e-4 at most below 10000).
    q = pi / 4 * mpf(1.001)
    c = fit(sin_g, q, 4, rf)
    emit("kSSinQ9", "float", c, "sin r = r + r^3 P(r^2), |r| <= 1.001 pi/4, degree 9", sin_err(c, q))
    c = fit(cos_g, q, 3, rf)
    emit("kSCosQ8W", "float", c, "cos r = 1 - r^2/2 + r^4 P(r^2), |r| <= 1.001 pi/4, degree 8", cos_err(c, q))
    c = fit(asin_g, mpf(1) / 2, 6, rf)
    emit("kSAsinF13", "float", c, "asin z = z + z^3 P(z^2), |z| <= 1/2, degree 13", odd_err(asin, c, mpf(1) / 2))
    h2 = pi / 2 * mpf(1.0001)
    # Eight terms already reach the error floor the coefficients' own rounding sets.
    c = fit(sin_g, h2, 8, rd)
    emit("kDSinHalf", "double", c, "sin r = r + r^3 P(r^2), |r| <= 1.0001 pi/2, degree 17", sin_err(c, h2))
    c = fit(sin_g, h2, 5, rd)
    emit("kDSinHalfEP", "double", c, "sin r = r + r^3 P(r^2), |r| <= 1.0001 pi/2, degree 11", sin_err(c, h2))
    hi = mpf(float(pi / 2))
    lo = mpf(float(pi / 2 - hi))
    add("// pi/2 = kDPio2Hi + kDPio2Lo + kDPio2Lo2 to 2^-160: with fused multiply-adds N kDPio2Hi leaves an")
    add("// exact difference, N kDPio2Lo one rounding, for the LA and EP Sin and Cos.")
    add("inline constexpr double kDPio2Lo2 = %s;" % dstr(pi / 2 - hi - lo))


def float_atan_lines(add, emit, rf):
    """The float HA arctangent, reduced around 0 and 1 to z in [-1/3, 1/2)."""
    add("")
    c = fit(atan_g, mpf(1) / 2, 6, rf)
    emit("kSAtanHA", "float", c, "atan z = z + z^3 P(z^2), |z| <= 1/2, degree 13", odd_err(atan, c, mpf(1) / 2))
    # The float LA arctangent on the quotient alone, one term shorter than kSAtanLA.
    c = fit(atan_g, mpf(1), 8, rf)
    emit("kSAtanLA8", "float", c, "atan q = q + q^3 P(q^2), 0 <= q <= 1, degree 17", odd_err(atan, c, mpf(1)))
    # The float EP arctangent of a quotient: four terms leave about 2^-12.6, within the flavour's bound
    # with room for the quotient's and the sum's roundings.
    c = fit(atan_g, mpf(1), 4, rf)
    emit("kSAtanEP4", "float", c, "atan q = q + q^3 P(q^2), 0 <= q <= 1, degree 9", odd_err(atan, c, mpf(1)))


def rational_tan(hi, na, nb):
    """tan r ~ r N(r^2) / D(r^2), N = 1 + n_1 r^2 + ..., D = 1 + d_1 r^2 + ... over |r| <= hi: least
    squares of the linearised relative error on Chebyshev nodes, reweighted by the last denominator."""
    m = 4 * (na + nb) + 60
    ps = [hi**2 * (1 - mp.cos(pi * (k + mpf(0.5)) / m)) / 2 for k in range(m)]
    dprev = [mpf(1)] * m
    for _ in range(8):
        a = matrix(m, na + nb)
        b = matrix(m, 1)
        for i, p in enumerate(ps):
            r = mp.sqrt(p)
            t = tan(r)
            w = 1 / (t * dprev[i])
            for j in range(na):
                a[i, j] = r * p ** (j + 1) * w
            for j in range(nb):
                a[i, na + j] = -t * p ** (j + 1) * w
            b[i] = (t - r) * w
        c = lu_solve(a.T * a, a.T * b)
        n = [mpf(float(c[j])) for j in range(na)]
        d = [mpf(float(c[na + j])) for j in range(nb)]
        dprev = [1 + p * horner(p, d) for p in ps]
    e = max(abs(r * (1 + r * r * horner(r * r, n)) / (1 + r * r * horner(r * r, d)) / tan(r) - 1)
            for r in linspace(hi / 4000, hi, 4000))
    return n, d, e


def double_short_lines(add, emit, rd):
    """The double LA and EP Tan as one rational function on |r| <= pi/4, and the double LA and EP
    arctangent reduced to |z| <= 1/2."""
    add("")
    add("// tan r = r (1 + r^2 N(r^2)) / (1 + r^2 D(r^2)), |r| <= 1.0001 pi/4: the error is the pair's.")
    q = pi / 4 * mpf(1.0001)
    for suffix, na, nb in (("LA", 3, 3), ("EP", 2, 2)):
        n, d, e = rational_tan(q, na, nb)
        emit("kDTanNum" + suffix, "double", n, "tan numerator N, degree %d in r^2" % na, e)
        emit("kDTanDen" + suffix, "double", d, "tan denominator D, degree %d in r^2" % nb, e)
    half = mpf(1) / 2
    for name, n in (("kDAtanHalfLA", 12), ("kDAtanHalfEP", 6)):
        c = fit(atan_g, half, n, rd)
        emit(name, "double", c, "atan z = z + z^3 P(z^2), |z| <= 1/2, degree %d" % (2 * n + 1), odd_err(atan, c, half))


def positive_pio2_lines(add):
    """pi/2 in three positive doubles for the fused reduction of the double LA and EP sine: x - N c
    with every c positive leaves the sign of a zero x."""
    hi = mpf(float(pi / 2))
    lo = mpf(float(pi / 2 - hi))
    down = mpf(float(lo * (1 - mpf(2) ** -53)))  # the double below lo: what remains is positive
    assert down < lo and pi / 2 - hi - down > 0
    add("")
    add("// pi/2 = kDPio2Hi + kDPio2LoDown + kDPio2Lo3 to 2^-150, every part positive: N times each taken")
    add("// from x leaves -0 at x = -0 (a negative part would add +0).")
    add("inline constexpr double kDPio2LoDown = %s, kDPio2Lo3 = %s;" % (dstr(down), dstr(pi / 2 - hi - down)))


def main():
    out_dir = sys.argv[1]
    parts, inv_pi, p5 = float_pi_parts()
    pio2 = double_pio2_parts()
    words = two_over_pi_words(20)
    lines = []
    add = lines.append
    add("// Constants, tables and coefficients of the trigonometric kernels: generated by")
    add("//   /usr/bin/python3 tools/gen_trig_tables.py kernels/trig")
    add("// do not edit. Fits: least squares on Chebyshev nodes; the error is relative, over a dense grid.")
    add("#pragma once")
    add("")
    add("#include <cstdint>")
    add("")
    add("namespace zok::trig_data {")
    add("")
    add("// pi in four floats (8, 11, 11 bits and the rounded rest): N p1, N p2, N p3 are exact for N <= 3183.")
    for k, p in enumerate(parts):
        add("inline constexpr float kSPi%d = %s;" % (k + 1, fstr(p)))
    add("inline constexpr double kSPi5 = %s;  // pi minus the four parts, for the HA kernels" % dstr(p5))
    add("inline constexpr float kSInvPi = %s;" % fstr(inv_pi))
    add("// pi/2 in 33, 33, 33 bits and the rounded rest: N c1, N c2, N c3 are exact for N < 2^20.")
    for k, c in enumerate(pio2):
        add("inline constexpr double kDPio2_%d = %s;" % (k + 1, dstr(c)))
    add("inline constexpr double kD2OverPi = %s;" % dstr(2 / pi))
    hi = float(pi / 2)
    add("inline constexpr double kDPio2Hi = %s, kDPio2Lo = %s;  // pi/2 = hi + lo" % (dstr(hi), dstr(pi / 2 - hi)))
    add("")
    add("// Bits of 2/pi after the point, 64 to a word, behind one zero word (the large-argument reduction")
    add("// reads windows that may start before the point).")
    add("inline constexpr uint64_t kTwoOverPi[%d] = {" % len(words))
    for i in range(0, len(words), 3):
        add("    " + " ".join("0x%016XULL," % w for w in words[i:i + 3]))
    add("};")
    add("")

    def emit(name, ctype, coeffs, desc, err):
        fmt = fstr if ctype == "float" else dstr
        add("// %s; max relative error %.3g." % (desc, float(err)))
        add("inline constexpr %s %s[%d] = {%s};" % (ctype, name, len(coeffs), ", ".join(fmt(c) for c in coeffs)))

    # The float LA polynomial the kernels fix, only measured.
    sla = [-0.16666661202907562, 0.00833306647837162, -0.00019809602235909551, 2.605780537123792e-06]
    for c in sla:
        assert f32(c) == c
    emit("kSSinLA", "float", sla, "sin r = r + r^3 P(r^2), |r| <= pi/2, degree 9 (fixed)", sin_err(sla, pi / 2))
    rf = lambda v: mpf(f32(v))
    rd = lambda v: mpf(float(v))
    c = fit(sin_g, pi / 2, 3, rf)
    emit("kSSinEP", "float", c, "sin r = r + r^3 P(r^2), |r| <= pi/2, degree 7", sin_err(c, pi / 2))
    c = fit(sin_g, pi / 2, 6, rd)
    emit("kSSinHA", "double", c, "sin r = r + r^3 P(r^2), |r| <= pi/2, degree 13", sin_err(c, pi / 2))
    q = pi / 4
    c = fit(sin_g, q, 6, rd)
    emit("kDSinHA", "double", c, "sin r = r + r^3 P(r^2), |r| <= pi/4, degree 15", sin_err(c, q))
    c = fit(cos_g, q, 6, rd)
    emit("kDCosHA", "double", c, "cos r = 1 - r^2/2 + r^4 P(r^2), |r| <= pi/4, degree 14", cos_err(c, q))
    c = fit(sin_g, q, 4, rd)
    emit("kDSinLow", "double", c, "sin r = r + r^3 P(r^2), |r| <= pi/4, degree 9", sin_err(c, q))
    c = fit(cos_g, q, 4, rd)
    emit("kDCosLow", "double", c, "cos r = 1 - r^2/2 + r^4 P(r^2), |r| <= pi/4, degree 10", cos_err(c, q))
    c = fit(sin_g, q, 3, rf)
    emit("kSSinQ", "float", c, "sin r = r + r^3 P(r^2), |r| <= pi/4, degree 7", sin_err(c, q))
    c = fit(cos_g, q, 2, rf)
    emit("kSCosQ", "float", c, "cos r = 1 - r^2/2 + r^4 P(r^2), |r| <= pi/4, degree 6", cos_err(c, q))
    c = fit(cos_g, q, 3, rf)
    emit("kSCosQ8", "float", c, "cos r = 1 - r^2/2 + r^4 P(r^2), |r| <= pi/4, degree 8", cos_err(c, q))
    inverse_lines(add, emit, rf, rd)
    quarter_and_half_lines(add, emit, rf, rd)
    float_atan_lines(add, emit, rf)
    double_short_lines(add, emit, rd)
    positive_pio2_lines(add)
    add("")
    add("}  // namespace zok::trig_data")
    with open(os.path.join(out_dir, "trig_tables.h"), "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Generates the tables and polynomial coefficients of the exponential and logarithm kernels.

Usage (from the repository root):
  python3 tools/gen_explog_tables.py kernels/explog
writes kernels/explog/explog_tables.h and kernels/explog/explog_poly.h. Needs python3-mpmath.

Tables are computed at 200 bits and rounded once; the entries the kernels' algorithms fix
(for example the fraction of sqrt(2) at index 64 of the float exponent table) are checked here.
Polynomials are near-minimax Chebyshev fits (mpmath.chebyfit) of the stated function on the stated
interval, with coefficients rounded to the precision they are used in; each header line records the
interval, degree and the largest relative error of the rounded polynomial over a dense grid.
"""
import os
import struct
import sys

from mpmath import mp, mpf, log, exp, power, nint, chebyfit, linspace

mp.prec = 200
LN2 = log(2)


def f32(x):
    return struct.unpack("<f", struct.pack("<f", float(x)))[0]


def f32_bits(x):
    return struct.unpack("<I", struct.pack("<f", float(x)))[0]


def dstr(x):
    return repr(float(x))


def fstr(x):
    s = "%.9g" % f32(x)
    if "e" not in s and "." not in s:
        s += ".0"
    return s + "f"


def round_to(x, p):
    """x rounded to a multiple of 2^-p."""
    return nint(x * 2**p) / 2**p


# ---- tables ----


def sexp_tables():
    a, b = [], []
    for j in range(128):
        t = power(2, mpf(j) / 128)
        hi = f32(t)
        # The correction is relative, 2^(j/128) = T_hi (1 + T_lo), which is how the HA kernel uses
        # it: T_hi + T_hi (T_lo + r + r^2/2).
        lo = f32(t / mpf(hi) - 1)
        a.append((f32_bits(hi) & 0x7FFFFF, 0))
        b.append((hi, lo))
    assert a[64][0] == 0x003504F3
    assert b[1] == (1.0054298639297485, 3.698224659842708e-08) and b[0] == (1.0, 0.0)
    return a, b


def sexp_split_lines(a):
    """Float Exp LA on AVX2 rebuilds float(2^(j/128)) from j = 8u + v as
    fma(A_hi, B_hi, fma(A_hi, B_lo, A_lo)), A = 2^(u/16) and B = 2^(v/128) as float pairs hi + lo
    (in-register permutes, no table reads). A_lo stands for A_lo B_hi; where that shortcut would
    round one of the eight j of a row wrongly, A_lo moves by the least multiple of 2^-38 that makes
    all eight match.
    Each float operation is rounded here exactly as the kernel rounds it, and every j must
    reproduce the fraction table."""

    def rf(x):  # x correctly rounded to float (no double rounding)
        with mp.workprec(24):
            return +mpf(x)

    def pair(x):
        hi = f32(x)
        return hi, float(rf(x - mpf(hi)))

    def row_ok(u, ah, al):
        for v, (bh, bl) in enumerate(B):
            t = rf(mpf(ah) * bh + rf(mpf(ah) * bl + al))
            if not (1 <= t < 2 and f32_bits(t) & 0x7FFFFF == a[8 * u + v][0]):
                return False
        return True

    A = [pair(power(2, mpf(u) / 16)) for u in range(16)]
    B = [pair(power(2, mpf(v) / 128)) for v in range(8)]
    for u, (ah, al) in enumerate(A):
        k = next(k for k in sorted(range(-1024, 1025), key=abs) if row_ok(u, ah, f32(al + k * 2.0**-38)))
        A[u] = (ah, f32(al + k * 2.0**-38))
    rows = [[h for h, _ in A], [l for _, l in A], [h for h, _ in B] + [0.0] * 8, [l for _, l in B] + [0.0] * 8]
    L = ["// Float Exp LA on AVX2: 2^(u/16) (rows 0, 1) and 2^(v/128) (rows 2, 3, then unused) as float",
         "// pairs hi + lo; fma(A_hi, B_hi, fma(A_hi, B_lo, A_lo)) rounds to float(2^((8u + v)/128)).",
         "alignas(64) inline constexpr float kSExpSplit[4][16] = {"]
    L += ["    {%s}," % ", ".join(fstr(x) for x in r) for r in rows]
    return L + ["};"]


def sln_table():
    rows = []
    for j in range(65):
        recip = nint(256 / (1 + mpf(j) / 64)) / 256
        v = -log(recip)
        hi = round_to(v, 42)
        rows.append((float(recip), float(hi), float(v - hi)))
    assert [rows[j][0] for j in (0, 1, 63, 64)] == [1.0, 0.984375, 0.50390625, 0.5]
    assert rows[64][1:] == (0.6931471805598903, 5.497923018708371e-14)
    return rows


def dexp_tables():
    pairs, full64, full128 = [], [], []
    for j in range(64):
        t = power(2, mpf(j) / 64)
        hi = round_to(t, 37)
        pairs.append((float(hi), float(t - hi)))
        full64.append(float(t))
    for j in range(128):
        full128.append(float(power(2, mpf(j) / 128)))
    assert pairs[1] == (1.010889286051679, 2.152309189912467e-14)
    return pairs, full64, full128


def dlog_table(bits):
    """(recip, recip, lnhi, lnlo) for j = 0 .. 2^bits: recip ~ 1/(1 + j/2^bits) on 23 fraction
    bits, lnhi + lnlo = -ln(recip), less ln 2 from the middle on (there the exponent counts one
    more)."""
    n = 1 << bits
    rows = []
    for j in range(n + 1):
        recip = nint(2**23 / (1 + mpf(j) / n)) / 2**23
        v = -log(recip) - (LN2 if j >= n // 2 else 0)
        # 24 significant bits, or a multiple of 2^-28 where that is finer: either way k ln2_hi + lnhi
        # is exact for every exponent k.
        hi = mpf(f32(v))
        if abs(v) >= mpf(2) ** -4:
            hi = round_to(v, 28)
        rows.append((float(recip), float(recip), float(hi), float(v - hi)))
    if bits == 9:
        assert rows[1][0] == 0.9980506896972656 and rows[256][0] == 0.6666666269302368 and rows[512][0] == 0.5
        assert rows[1][2:] == (0.001951212645508349, 3.5172831329618426e-11)
        assert rows[256][2:] == (-0.28768201172351837, -1.1236160041096528e-09)
        assert rows[0][2:] == (0.0, 0.0) and rows[512][2:] == (0.0, 0.0)
    return rows


# ---- polynomials ----


def fit(g, lo, hi, degree, rnd, full, exact):
    """Fits g on [lo, hi]; returns coefficients (constant first) rounded by rnd and the largest
    relative error of full(t, coeffs) against exact(t) over a dense grid."""
    coeffs, _ = chebyfit(g, [lo, hi], degree + 1, error=True)
    c = [rnd(x) for x in reversed(coeffs)]
    worst = mpf(0)
    for t in linspace(lo, hi, 4001):
        e = exact(t)
        if e == 0:
            continue
        worst = max(worst, abs((full(t, [mpf(x) for x in c]) - e) / e))
    return c, worst


def horner(t, c):
    s = mpf(0)
    for x in reversed(c):
        s = s * t + x
    return s


def ln1p_p(t):
    # (ln(1 + t) - t) / t^2, continued to t = 0
    if abs(t) < mpf(2) ** -60:
        return mpf(-0.5) + t / 3
    return (log(1 + t) - t) / t**2


def expm1_q(t):
    # (e^t - 1 - t) / t^2
    if abs(t) < mpf(2) ** -60:
        return mpf(0.5) + t / 6
    return (exp(t) - 1 - t) / t**2


def ln_full(t, c):
    return t + t * t * horner(t, c)


def ln_exact(t):
    return log(1 + t)


def expm1_full(t, c):
    return t + t * t * horner(t, c)


def expm1_exact(t):
    return exp(t) - 1


def exp_full(t, c):
    return 1 + t + t * t * horner(t, c)


def exp_exact(t):
    return exp(t)


POLYS = [
    # name, comment, function, interval, degree, precision, full, exact
    ("kSLnHA", "float Ln HA: ln(1+f) = f + f^2 P(f)", ln1p_p, (-mpf(1) / 3, mpf(1) / 3), 10, "f", ln_full, ln_exact),
    ("kSLnEP", "float Ln EP: ln(1+f) = f + f^2 P(f)", ln1p_p, (-mpf(1) / 3, mpf(1) / 3), 3, "f", ln_full, ln_exact),
    ("kFLogHA", "float Log10 in double (denormals, SSE4.1 HA)", ln1p_p, (-mpf(1) / 3, mpf(1) / 3), 12, "d",
     ln_full, ln_exact),
    ("kDLog7HA", "double Log10/Log1p HA, 7-bit table: ln(1+r) = r + r^2 P(r)", ln1p_p, (-0.00395, 0.00395), 5, "d",
     ln_full, ln_exact),
    ("kDExpLA", "double Exp LA: e^r = 1 + r + r^2 Q(r), |r| <= ln2/128", expm1_q, (-0.00545, 0.00545), 3, "d",
     exp_full, exp_exact),
    ("kDExpEP", "double Exp EP: e^r = 1 + r + r^2 Q(r), |r| <= ln2/256", expm1_q, (-0.00273, 0.00273), 0, "d",
     exp_full, exp_exact),
    ("kDExpm1HA", "double Expm1 HA/LA: e^r - 1 = r + r^2 Q(r), |r| <= ln2/64 (N = 0 below ln2/64)", expm1_q,
     (-0.01085, 0.01085), 5, "d", expm1_full, expm1_exact),
    ("kExpm1Q1", "Expm1 (double EP; float LA/HA in double): e^r - 1 = r + r^2 Q(r), |r| <= ln2/128", expm1_q,
     (-0.00545, 0.00545), 1, "d", expm1_full, expm1_exact),
    ("kExpm1Q0", "float Expm1 EP, in double", expm1_q, (-0.00545, 0.00545), 0, "d", expm1_full, expm1_exact),
]


def slog10_polys():
    """Float Log10: x = 2^k m, m in [sqrt(2)/2, sqrt(2)), log10(1+f) = f log10(e) + f^2 Q(f)."""
    l10e = 1 / log(10)

    def q(t):
        return l10e * ln1p_p(t)

    def full(t, c):
        return t * l10e + t * t * horner(t, c)

    def exact(t):
        return log(1 + t) / log(10)

    iv = (mpf(2) ** -0.5 - 1, mpf(2) ** 0.5 - 1)
    return [
        ("kSLog10HA", "float Log10 HA: log10(1+f) = f log10(e) + f^2 Q(f)", q, iv, 9, "f", full, exact),
        ("kSLog10LA", "float Log10 LA: log10(1+f) = f log10(e) + f^2 Q(f)", q, iv, 7, "f", full, exact),
        ("kSLog10EP", "float Log10 EP: log10(1+f) = f log10(e) + f^2 Q(f)", q, iv, 3, "f", full, exact),
    ]


def slog1p_polys():
    """Float Log1p LA on the float Ln reduction: ln(1+f) = f + f^2 P(f), f in [-1/3, 1/3]."""
    iv = (-mpf(1) / 3, mpf(1) / 3)
    return [("kSLog1pLA", "float Log1p LA: ln(1+f) = f + f^2 P(f)", ln1p_p, iv, 7, "f", ln_full, ln_exact)]


def dlog_atanh_polys():
    """Double table-free logarithms: with s = f/(2+f), ln(1+f) = 2 atanh(s) = 2s (1 + z Q(z)), z = s^2,
    for 1+f in [sqrt(1/2), sqrt(2)] (z at most (3 - 2 sqrt(2))^2, the bound widened a little for the
    rounding of the reduced argument)."""
    from mpmath import atanh, sqrt

    def q(z):
        if z < mpf(2) ** -80:
            return mpf(1) / 3 + z / 5
        s = sqrt(z)
        return (atanh(s) / s - 1) / z

    def full(z, c):
        return 1 + z * horner(z, c)

    def exact(z):
        return atanh(sqrt(z)) / sqrt(z) if z > 0 else mpf(1)

    iv = (mpf(0), (3 - 2 * sqrt(2)) ** 2 * mpf(1.0001))
    return [
        ("kDLogAtLA", "double Log10/Log1p LA: ln(1+f) = 2s (1 + z Q(z))", q, iv, 6, "d", full, exact),
        ("kDLogAtEP", "double Ln/Log10/Log1p EP: ln(1+f) = 2s (1 + z Q(z))", q, iv, 2, "d", full, exact),
    ]


def sexpm1_polys():
    """Float Expm1 LA/HA: e^r - 1 = r + r^2 Q(r), |r| <= ln2/64 (N = 0 below ln2/64)."""
    iv = (-mpf("0.011"), mpf("0.011"))
    return [("kSExpm1HA", "float Expm1 LA/HA: e^r - 1 = r + r^2 Q(r), |r| <= 0.011", expm1_q, iv, 2, "f", expm1_full,
             expm1_exact)]


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "kernels/explog"
    POLYS.extend(slog10_polys())
    POLYS.extend(slog1p_polys())
    POLYS.extend(sexpm1_polys())
    POLYS.extend(dlog_atanh_polys())
    cmd = "python3 tools/gen_explog_tables.py " + out
    a, b = sexp_tables()
    sln = sln_table()
    dpairs, d64, d128 = dexp_tables()
    t9, t7 = dlog_table(9), dlog_table(7)

    L = []
    L.append("// Tables of the exponential and logarithm kernels. Generated by tools/gen_explog_tables.py; do not edit.")
    L.append("// Command: " + cmd)
    L.append("#pragma once")
    L.append("")
    L.append("#include <cstdint>")
    L.append("")
    L.append("namespace zok::explog_data {")
    L.append("")
    L.append("// Float Exp LA: the 23-bit fraction field of float(2^(j/128)); the second word is unused.")
    L.append("alignas(64) inline constexpr uint32_t kSExpFrac[128][2] = {")
    L += ["    {0x%08X, 0}," % x for x, _ in a]
    L.append("};")
    L.append("// Float Exp HA: T_hi = float(2^(j/128)), T_lo = float(2^(j/128) / T_hi - 1).")
    L.append("alignas(64) inline constexpr float kSExpHiLo[128][2] = {")
    L += ["    {%s, %s}," % (fstr(h), fstr(l)) for h, l in b]
    L.append("};")
    L += sexp_split_lines(a)
    L.append("// Float Ln special path: recip = 1/(1 + j/64) on 8 fraction bits; lnhi + lnlo = -ln(recip),")
    L.append("// lnhi a multiple of 2^-42 like the leading part of ln 2.")
    L.append("alignas(64) inline constexpr double kSLnScalar[65][3] = {")
    L += ["    {%s, %s, %s}," % tuple(dstr(x) for x in r) for r in sln]
    L.append("};")
    L.append("// Double Exp HA: T_hi = 2^(j/64) on 37 fraction bits, T_lo = 2^(j/64) - T_hi.")
    L.append("alignas(64) inline constexpr double kDExpHiLo[64][2] = {")
    L += ["    {%s, %s}," % (dstr(h), dstr(l)) for h, l in dpairs]
    L.append("};")
    L.append("// 2^(j/64) rounded to double.")
    L.append("alignas(64) inline constexpr double kDExp64[64] = {")
    L += ["    %s," % dstr(x) for x in d64]
    L.append("};")
    L.append("// 2^(j/128) rounded to double.")
    L.append("alignas(64) inline constexpr double kDExp128[128] = {")
    L += ["    %s," % dstr(x) for x in d128]
    L.append("};")
    for bits, t in ((9, t9), (7, t7)):
        L.append("// Double logarithms, j = round(2^%d (m - 1)): {recip, recip, lnhi, lnlo}; recip ~ 1/(1 + j/2^%d) on 23"
                 % (bits, bits))
        L.append("// fraction bits, lnhi + lnlo = -ln(recip) (less ln 2 for j >= 2^%d), lnhi short." % (bits - 1))
        L.append("alignas(64) inline constexpr double kDLog%d[%d][4] = {" % (bits, len(t)))
        L += ["    {%s, %s, %s, %s}," % tuple(dstr(x) for x in r) for r in t]
        L.append("};")
    L.append("")
    L.append("}  // namespace zok::explog_data")
    with open(os.path.join(out, "explog_tables.h"), "w") as f:
        f.write("\n".join(L) + "\n")

    P = []
    P.append("// Polynomial coefficients of the exponential and logarithm kernels (constant term first).")
    P.append("// Generated by tools/gen_explog_tables.py (Chebyshev fits with mpmath); do not edit.")
    P.append("// Command: " + cmd)
    P.append("#pragma once")
    P.append("")
    P.append("namespace zok::explog_data {")
    for name, comment, g, (lo, hi), deg, prec, full, exact in POLYS:
        rnd = f32 if prec == "f" else (lambda x: float(x))
        c, err = fit(g, mpf(lo), mpf(hi), deg, rnd, full, exact)
        P.append("")
        P.append("// %s." % comment)
        P.append("// [%s, %s], degree %d, %s coefficients; largest relative error of the whole" % (
            mp.nstr(mpf(lo), 6), mp.nstr(mpf(hi), 6), deg, "float" if prec == "f" else "double"))
        P.append("// approximation: %s (2^%.1f)." % (mp.nstr(err, 3), float(log(err, 2)) if err > 0 else -999))
        typ = "float" if prec == "f" else "double"
        P.append("inline constexpr %s %s[%d] = {" % (typ, name, len(c)))
        P += ["    %s," % (fstr(x) if prec == "f" else dstr(x)) for x in c]
        P.append("};")
    P.append("")
    P.append("}  // namespace zok::explog_data")
    with open(os.path.join(out, "explog_poly.h"), "w") as f:
        f.write("\n".join(P) + "\n")


if __name__ == "__main__":
    main()

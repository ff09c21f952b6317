#!/usr/bin/env python3
"""Generates the tables and polynomial coefficients of the exponential and logarithm kernels.

Usage (from the repository root):
  python3 tools/gen_explog_tables.py kernels/explog
writes kernels/explog/explog_tables.h and kernels/explog/explog_poly.h. Needs python3-mpmath.

Tables and constants are computed at 200 bits and rounded once; the entries the kernels' algorithms
fix (for example the fraction of sqrt(2) at index 64 of the float exponent table, or the overflow and
underflow thresholds) are checked here. Constants split into a leading and a trailing part state the
cut that makes their products exact.
Polynomials are near-minimax Chebyshev fits (mpmath.chebyfit) of the stated function on the stated
interval, with coefficients rounded to the precision they are used in; each header line records the
interval, degree and the largest relative error of the rounded polynomial over a dense grid. A few
coefficient sets the kernels were tuned with are kept as they are (FIXED) and only measured.
"""
import math
import os
import struct
import sys

from mpmath import mp, mpf, log, exp, power, nint, chebyfit, linspace, floor, sqrt

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


def table_rows(rows, fmt, per_line):
    """Rows of a two-dimensional table, per_line values a line."""
    L = []
    for r in rows:
        parts = [", ".join(fmt(x) for x in r[i:i + per_line]) for i in range(0, len(r), per_line)]
        L += [("    {" if i == 0 else "     ") + p + ("}," if i == len(parts) - 1 else ",")
              for i, p in enumerate(parts)]
    return L


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


def dlog_reg_table():
    """Double logarithms on AVX-512: rcp = j/32 (the 14-bit reciprocal of m in [0.75, 1.5) rounded to
    5 fraction bits, so j runs over 21 .. 43), stored at j mod 32: -ln(rcp) as lnhi (a multiple of
    2^-42, like the leading part of ln 2) + lnlo, and rounded once. Rows j mod 32 outside the range
    hold 0."""
    rows = [[0.0] * 32 for _ in range(3)]
    for j in range(21, 44):
        v = -log(mpf(j) / 32)
        hi = round_to(v, 42)
        rows[0][j % 32], rows[1][j % 32], rows[2][j % 32] = float(hi), float(v - hi), float(v)
    assert rows[0][0] == 0.0 and rows[2][0] == 0.0 and rows[2][11] == float(-log(mpf(43) / 32))
    return rows


def dln_pair_table():
    """Double Ln and Log10 LA without AVX-512: row i = the exponent's low bit and the top five
    fraction bits of m in [sqrt(1/2), sqrt(2)) rounded (rows 13 .. 45), rcp the double nearest
    1/centre on 23 fraction bits (so that the high half of m times rcp is exact without a fused
    multiply-add), moved by a few ulps until -ln(rcp) is a double to within 2^-10 of its ulp (1 in row
    32, which holds m = 1), and that -ln(rcp). Unused rows hold 0."""
    rows = [(0.0, 0.0)] * 64
    for i in range(13, 46):
        centre = 1 + mpf(i - 32) / 32 if i >= 32 else mpf(1) / 2 + mpf(i) / 64
        rcp0 = nint(2**23 / centre)
        for n in range(200000):
            rcp = float((rcp0 + (n + 1) // 2 * (1 if n % 2 else -1)) / mpf(2) ** 23)
            v = -log(mpf(rcp))
            t = rd(v)
            if v == 0 or abs(mpf(t) - v) <= abs(v) * mpf(2) ** -63:
                break
        else:
            raise AssertionError("no rcp for row %d" % i)
        rows[i] = (rcp, t)
        half = mpf(1) / 64 if i >= 32 else mpf(1) / 128
        assert max(abs((centre - half) * mpf(rcp) - 1), abs((centre + half) * mpf(rcp) - 1)) < mpf("0.0237")
    assert rows[32] == (1.0, 0.0)
    return rows


def sreg_log_table(base, kconst):
    """Float Ln (base e) and Log10 (base 10) on AVX-512: row i = the top five fraction bits of m in
    [0.75, 1.5); rows 0 .. 15 hold m in [1 + i/32, 1 + (i+1)/32), rows 16 .. 31 m in
    [1/2 + i/64, 1/2 + (i+1)/64). Row 0 of the result is rcp, near 1/centre (1 in rows 0 and 31, which
    border m = 1), row 1 is -log(rcp), plus kconst (the float log of 2 the kernel multiplies the
    exponent by) in rows 16 .. 31, where m < 1 and the kernel's exponent is one short. There rcp is
    moved by a few ulps until that sum is a float to within 2^-36, so that the kernel's exponent -1
    cancels kconst exactly and leaves -log(rcp) to about 2^-36 (the result near 1 is small)."""
    lb = log(base)
    rcps, ts = [], []
    for i in range(32):
        lo = 1 + mpf(i) / 32 if i < 16 else mpf(1) / 2 + mpf(i) / 64
        hi = lo + (mpf(1) / 32 if i < 16 else mpf(1) / 64)
        rcp0 = 1.0 if i in (0, 31) else f32(2 / (lo + hi))
        if i < 16:
            rcp, t = rcp0, f32(-log(mpf(rcp0)) / lb)
        else:
            for n in range(200000):
                step = (n + 1) // 2 * (1 if n % 2 else -1)
                rcp = struct.unpack("<f", struct.pack("<I", f32_bits(rcp0) + step))[0]
                v = -log(mpf(rcp)) / lb + mpf(kconst)
                t = rf(v)
                if abs(mpf(t) - v) <= mpf(2) ** -36:
                    break
            else:
                raise AssertionError("no rcp for row %d" % i)
        worst = max(abs(lo * mpf(rcp) - 1), abs(hi * mpf(rcp) - 1))
        assert worst <= (mpf(1) / 32 if i in (0, 31) else mpf("0.0157")), (i, worst)
        rcps.append(rcp)
        ts.append(t)
    assert rcps[0] == 1.0 and ts[0] == 0.0 and rcps[31] == 1.0 and ts[31] == f32(kconst)
    return [rcps, ts]


# ---- constants ----


def rf(x):
    """x correctly rounded to float (no double rounding)."""
    with mp.workprec(24):
        return float(+mpf(x))


def rd(x):
    with mp.workprec(53):
        return float(+mpf(x))


def down(x, single=False):
    """The largest float (single) or double at or below x."""
    v = rf(x) if single else rd(x)
    if mpf(v) > x:
        if single:
            v = struct.unpack("<f", struct.pack("<I", f32_bits(v) + (1 if v < 0 else -1)))[0]
        else:
            v = math.nextafter(v, -math.inf)
    return v


def up(x):
    """The smallest double at or above x."""
    v = rd(x)
    return math.nextafter(v, math.inf) if mpf(v) < x else v


def leading(x, bits):
    """x rounded to its leading `bits` significant bits."""
    e = int(floor(log(abs(x), 2)))
    return nint(x * mpf(2) ** (bits - 1 - e)) / mpf(2) ** (bits - 1 - e)


def d_bits(x):
    return struct.unpack("<Q", struct.pack("<d", x))[0]


def constants():
    """The scalar constants of the kernels: (type, name, value, comment). Leading parts are cut so
    that their products with the reduction's integers (or with short parts of f) are exact; each
    trailing part is the rest, rounded once."""
    l2, l10 = LN2, log(10)
    dl64a = floor(l2 / 64 * mpf(2) ** 39) / mpf(2) ** 39
    ln2hi = round_to(l2, 42)
    il10hi = leading(1 / l10, 26)
    l10of2hi = round_to(l2 / l10, 43)
    sl128 = leading(l2 / 128, 9)
    sl32 = leading(l2 / 32, 12)
    sl64 = leading(l2 / 64, 9)
    sln2hi = leading(l2, 16)
    sl10of2hi = leading(l2 / l10, 16)
    sl10ehi = leading(1 / l10, 12)
    dmax = mpf(2) ** 1024 * (1 - mpf(2) ** -53)
    fmax = mpf(2) ** 128 * (1 - mpf(2) ** -24)
    C = [
        ("double", "kDInvL64", rd(64 / l2), "64/ln 2"),
        ("double", "kDL64a", float(dl64a), "ln2/64 cut to a multiple of 2^-39 (33 bits): d * kDL64a is exact"),
        ("double", "kDL64b", rd(l2 / 64 - dl64a), "the rest of ln2/64"),
        ("double", "kDL64", rd(l2 / 64), "ln2/64"),
        ("double", "kDInvL128", rd(128 / l2), "128/ln 2"),
        ("double", "kDL128", rd(l2 / 128), "ln2/128 in one part: 26 bits of it suffice for the EP kernel"),
        ("double", "kDFast", float(floor(-log(mpf(2) ** -1022) * 2048) / 2048),
         "ln(2^1022) cut to 11 fraction bits: below it in magnitude 2^(N/64) is normal"),
        ("double", "kDOverflow", up(log(dmax)), "the least double above ln(DBL_MAX): e^x overflows from here"),
        ("double", "kDUnderflow", down(log(mpf(2) ** -1022)), "the greatest double at or below ln(2^-1022)"),
        ("double", "kDZero", down(log(mpf(2) ** -1075)), "the greatest double at or below ln(2^-1075): e^x rounds to 0"),
        ("double", "kLn2Hi", float(ln2hi), "ln 2 cut to a multiple of 2^-42: k * kLn2Hi is exact"),
        ("double", "kLn2Lo", rd(l2 - ln2hi), "the rest of ln 2"),
        ("double", "kLn2", rd(l2), "ln 2"),
        ("double", "kInvLn2", rd(1 / l2), "1/ln 2"),
        ("double", "kInvLn10Hi", float(il10hi), "1/ln 10 to 26 bits: a 26-bit factor times it is exact"),
        ("double", "kInvLn10Lo", rd(1 / l10 - il10hi), "the rest of 1/ln 10"),
        ("double", "kInvLn10", rd(1 / l10), "1/ln 10"),
        ("double", "kLog10Of2Hi", float(l10of2hi), "log10(2) cut to a multiple of 2^-43: k * kLog10Of2Hi is exact"),
        ("double", "kLog10Of2Lo", rd(l2 / l10 - l10of2hi), "the rest of log10(2)"),
        ("double", "kLog10Of2", rd(l2 / l10), "log10(2)"),
        ("double", "kTwoInvLn10", rd(2 / l10), "2/ln 10"),
        ("double", "kTwoInvLn10Lo", rd(2 / l10 - mpf(rd(2 / l10))), "the rest of 2/ln 10"),
        ("uint64_t", "kSqrtHalfBits", d_bits(rd(sqrt(mpf(0.5)))), "the bits of sqrt(1/2)"),
        ("uint64_t", "kDTwoThirdsBits", d_bits(rd(mpf(2) / 3)), "the bits of 2/3"),
        ("float", "kSExpInvL", rf(128 / l2), "128/ln 2"),
        ("float", "kSExpL1", float(sl128), "ln2/128 to 9 bits: d * kSExpL1 is exact"),
        ("float", "kSExpL2", rf(l2 / 128 - sl128), "the rest of ln2/128"),
        ("float", "kSExpOverflow", rf(log(fmax)), "ln(FLT_MAX) rounded to float, which lies above it"),
        ("float", "kSExpUnderflow", down(log(mpf(2) ** -126), True), "the greatest float at or below ln(2^-126)"),
        ("float", "kSExpZero", down(log(mpf(2) ** -150), True),
         "the greatest float at or below ln(2^-150): from here on e^x rounds to 0"),
        ("float", "kSExp32InvL", rf(32 / l2), "32/ln 2"),
        ("float", "kSExp32L1", float(sl32), "ln2/32 to 12 bits: d * kSExp32L1 is exact"),
        ("float", "kSExp32L2", rf(l2 / 32 - sl32), "the rest of ln2/32"),
        ("float", "kSExpm1Fast", rf(125 * l2), "125 ln 2: |N>>6| stays within 125"),
        ("float", "kSExpm1InvL", rf(64 / l2), "64/ln 2"),
        ("float", "kSExpm1L1", float(sl64), "ln2/64 to 9 bits: d * kSExpm1L1 is exact"),
        ("float", "kSExpm1L2", rf(l2 / 64 - sl64), "the rest of ln2/64"),
        ("float", "kSInvLn2", rf(1 / l2), "1/ln 2"),
        ("float", "kSLn2", rf(l2), "ln 2"),
        ("float", "kSLn2Hi", float(sln2hi), "ln 2 to 16 bits: k * kSLn2Hi is exact for every exponent k"),
        ("float", "kSLn2Lo", rf(l2 - sln2hi), "the rest of ln 2"),
        ("float", "kSLog10Of2Hi", float(sl10of2hi), "log10(2) to 16 bits: k * kSLog10Of2Hi is exact"),
        ("float", "kSLog10Of2Lo", rf(l2 / l10 - sl10of2hi), "the rest of log10(2)"),
        ("float", "kSLog10Of2", rf(l2 / l10), "log10(2)"),
        ("float", "kSLog10EHi", float(sl10ehi), "log10(e) to 12 bits: exact products with 12-bit parts of f"),
        ("float", "kSLog10ELo", rf(1 / l10 - sl10ehi), "the rest of log10(e)"),
        ("float", "kSLog10E", rf(1 / l10), "log10(e)"),
        ("uint32_t", "kSTwoThirdsBits", f32_bits(rf(mpf(2) / 3)), "the bits of 2/3"),
        ("uint32_t", "kSSqrtHalfBits", f32_bits(rf(sqrt(mpf(0.5)))), "the bits of sqrt(1/2)"),
    ]
    v = {n: x for _, n, x, _ in C}
    # The values the kernels were tuned and measured with.
    assert v["kDL64a"] == 0.010830424695086549 and v["kDOverflow"] == 709.7827128933841
    assert v["kDUnderflow"] == -708.3964185322642 and v["kDZero"] == -745.1332191019412
    assert v["kDFast"] == 708.39599609375 and v["kInvLn10Hi"] == 0.4342944845557213
    assert v["kSExpZero"] == f32(-103.97208404541016)
    assert v["kSExpUnderflow"] == f32(-87.3365478515625) and v["kSExpOverflow"] == f32(88.72283935546875)
    assert v["kSqrtHalfBits"] == 0x3FE6A09E667F3BCD and v["kSSqrtHalfBits"] == 0x3F3504F3
    return C


def constant_lines():
    L = ["// Constants of the reductions and thresholds (double, then float)."]
    for typ, name, x, comment in constants():
        if typ == "double":
            lit = dstr(x)
        elif typ == "float":
            lit = fstr(x)
        elif typ == "uint64_t":
            lit = "0x%016X" % x
        else:
            lit = "0x%08X" % x
        L.append("// %s." % (comment[0].upper() + comment[1:]))
        L.append("inline constexpr %s %s = %s;" % (typ, name, lit))
    return L



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


def pow2_exact(t):
    return power(2, t)


def pow2_full(t, c):
    return horner(t, c)


def exp_poly_full(t, c):
    return horner(t, c)


# Coefficient sets the kernels were tuned with, kept as they are (no fit here reproduces them bit for
# bit); the header records the error each achieves. name, comment, interval, precision, full, exact,
# coefficients (constant term first).
FIXED = [
    ("kDExpC", "double Exp HA (and the scalar e^x beyond the fast range): e^r = 1 + r + r^2 Q(r), "
     "|r| <= ln2/128", (-0.00545, 0.00545), "d", exp_full, exp_exact,
     [0.49999999999945266, 0.16666666666653376, 0.041666725157316162, 0.0083333437288058629]),
    ("kDLnP", "double Ln HA and Log10 HA, 9-bit table: ln(1+r) = r + r^2 P(r)", (-0.00098, 0.00098), "d", ln_full,
     ln_exact, [-0.49999999999995254, 0.33333333333327408, -0.25000019886943392, 0.20000019344205111]),
    ("kSExpTiny", "float Exp, results below the normal range, in double: 2^f = P(f), x/ln2 = k + f",
     (-0.5, 0.5), "d", pow2_full, pow2_exact,
     [1.0000000005541663, 0.6931472057372665, 0.24022646890634758, 0.05550328776967639, 0.009618488957047724,
      0.0013399931218481776, 0.00015345812020122585]),
    ("kSExpEP", "float Exp EP: e^r = P(r), r = x - k ln2", (-0.3466, 0.3466), "f", exp_poly_full, exp_exact,
     [1.0, 1.0000450611114502, 0.5037588477134705, 0.16666622459888458]),
    ("kSExpEPScalar", "float Exp EP, results below the normal range, in double: e^r = P(r)", (-0.3466, 0.3466),
     "d", exp_poly_full, exp_exact,
     [1.0000000005585943, 1.0000000365391162, 0.49999992032320767, 0.16666419190347548, 0.04166823180102744,
      0.008374898363057623, 0.0013836742051737468]),
    ("kSLnLA", "float Ln LA: ln(1+f) = f + f^2 P(f)", (-mpf(1) / 3, mpf(1) / 3), "f", ln_full, ln_exact,
     [-0.5, 0.33336564898490906, -0.25004664063453674, 0.19822503626346588, -0.16462457180023193,
      0.16964881122112274, -0.15177205204963684]),
    ("kSLnQ", "float Ln special path, in double: ln(1+r) = r + r^2 P(r), |r| <= 2^-7", (-0.0078125, 0.0078125), "d",
     ln_full, ln_exact,
     [-0.5, 0.33333333333334386, -0.25000000000003386, 0.19999999911565072, -0.1666666651884978,
      0.1428756883852146, -0.1250214602960357]),
]


def measured(lo, hi, c, full, exact):
    """The largest relative error of full(t, c) against exact(t) over a dense grid of [lo, hi]."""
    worst = mpf(0)
    for t in linspace(lo, hi, 4001):
        e = exact(t)
        if e != 0:
            worst = max(worst, abs((full(t, [mpf(x) for x in c]) - e) / e))
    return worst


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
    ("kDExpm1LA", "double Expm1 LA: e^r - 1 = r + r^2 Q(r), |r| <= ln2/128", expm1_q, (-0.00545, 0.00545), 4, "d",
     expm1_full, expm1_exact),
    ("kSExpHA32", "float Exp HA on AVX-512, 32-row table: e^r = 1 + r + r^2 Q(r), |r| <= ln2/64", expm1_q,
     (-0.01085, 0.01085), 1, "f", exp_full, exp_exact),
    ("kSExpHA8", "float Exp HA on AVX2, 8-row table: e^r = 1 + r + r^2 Q(r), |r| <= ln2/16", expm1_q,
     (-0.04335, 0.04335), 2, "f", exp_full, exp_exact),
    ("kSExpm1LA", "float Expm1 LA: e^r - 1 = r + r^2 Q(r), |r| <= ln2/128", expm1_q, (-0.00545, 0.00545), 1, "f",
     expm1_full, expm1_exact),
]


# log10(1+t) = t log10(e) + t^2 Q(t): Q, the whole approximation and the exact function.
L10E = 1 / log(10)


def log10_q(t):
    return L10E * ln1p_p(t)


def log10_full(t, c):
    return t * L10E + t * t * horner(t, c)


def log10_exact(t):
    return log(1 + t) / log(10)


def slog10_polys():
    """Float Log10: x = 2^k m, m in [sqrt(2)/2, sqrt(2)), log10(1+f) = f log10(e) + f^2 Q(f)."""
    q, full, exact = log10_q, log10_full, log10_exact
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
        ("kDLogAtLA", "double Log1p LA: ln(1+f) = 2s (1 + z Q(z))", q, iv, 6, "d", full, exact),
        ("kDLogAtEP", "double Ln/Log10/Log1p EP: ln(1+f) = 2s (1 + z Q(z))", q, iv, 2, "d", full, exact),
    ]


def dlog_reg_polys():
    """Double logarithms on AVX-512: ln(1+r) = r + r^2 P(r), |r| <= 1.5 (1/64 + 2^-14 4/3) < 0.0237."""
    iv = (-mpf("0.0237"), mpf("0.0237"))
    return [
        ("kDLnR32HA", "double Ln/Log10/Log1p HA on AVX-512: ln(1+r) = r + r^2 P(r)", ln1p_p, iv, 7, "d", ln_full,
         ln_exact),
        ("kDLnR32LA", "double Ln/Log10 LA on AVX-512: ln(1+r) = r + r^2 P(r)", ln1p_p, iv, 6, "d", ln_full,
         ln_exact),
        ("kDLnR32EP", "double Ln/Log10 EP on AVX-512: ln(1+r) = r + r^2 P(r)", ln1p_p, iv, 3, "d", ln_full,
         ln_exact),
    ]


def dexp16_polys():
    """Double Exp LA and Expm1 LA on AVX-512, 16-row table: |r| <= ln2/32 (and Exp HA, 32 rows)."""
    iv = (-mpf("0.0217"), mpf("0.0217"))
    return [
        ("kDExpLA16", "double Exp LA on AVX-512: e^r = 1 + r + r^2 Q(r), |r| <= ln2/32", expm1_q, iv, 4, "d",
         exp_full, exp_exact),
        ("kDExpm1LA16", "double Expm1 LA on AVX-512: e^r - 1 = r + r^2 Q(r), |r| <= ln2/32", expm1_q, iv, 5, "d",
         expm1_full, expm1_exact),
        ("kDExpHA32", "double Exp HA on AVX-512, 32-row table: e^r = 1 + r + r^2 Q(r), |r| <= ln2/64", expm1_q,
         (-mpf("0.01085"), mpf("0.01085")), 4, "d", exp_full, exp_exact),
    ]


def dexp_ep_polys():
    """Double Exp EP without a table: |r| <= ln2/2 (N = round(x/ln2))."""
    iv = (-mpf("0.3466"), mpf("0.3466"))
    return [("kDExpEP0", "double Exp EP, no table: e^r = 1 + r + r^2 Q(r), |r| <= ln2/2", expm1_q, iv, 5, "d",
             exp_full, exp_exact)]


def dlog10_la_polys():
    """Double Log10 LA on the LA reductions (|r| <= 1/64 with the 64-row table, 0.0237 on AVX-512):
    log10(1+r) = r log10(e) + r^2 Q(r), Q carrying 1/ln10 so that no final scaling is needed."""
    iv = (-mpf("0.0237"), mpf("0.0237"))
    return [("kDLog10R32LA", "double Log10 LA: log10(1+r) = r log10(e) + r^2 Q(r)", log10_q, iv, 6, "d",
             log10_full, log10_exact)]


def sexpm1_polys():
    """Float Expm1 LA/HA: e^r - 1 = r + r^2 Q(r), |r| <= ln2/64 (N = 0 below ln2/64)."""
    iv = (-mpf("0.011"), mpf("0.011"))
    return [("kSExpm1HA", "float Expm1 LA/HA: e^r - 1 = r + r^2 Q(r), |r| <= 0.011", expm1_q, iv, 2, "f", expm1_full,
             expm1_exact)]


def sreg_log_polys():
    """Float Ln and Log10 on AVX-512 from the 32-row register tables: r = m rcp - 1 in
    [-1/64, 1/32] (rows 0 and 31, where rcp is 1; the others within 0.0157)."""
    iv = (-mpf("0.0157"), mpf(1) / 32)
    q, full, exact = log10_q, log10_full, log10_exact
    return [
        ("kSLnR32LA", "float Ln LA on AVX-512: ln(1+r) = r + r^2 P(r)", ln1p_p, iv, 2, "f", ln_full, ln_exact),
        ("kSLnR32EP", "float Ln EP on AVX-512: ln(1+r) = r + r^2 P(r)", ln1p_p, iv, 1, "f", ln_full, ln_exact),
        ("kSLog10R32LA", "float Log10 LA on AVX-512: log10(1+r) = r log10(e) + r^2 Q(r)", q, iv, 2, "f", full,
         exact),
        ("kSLog10R32EP", "float Log10 EP on AVX-512: log10(1+r) = r log10(e) + r^2 Q(r)", q, iv, 1, "f", full,
         exact),
    ]


def equal_ripple_fit(lead, exact, lo, hi, degree, first=1):
    """Coefficients c_first .. c_degree (float) of lead(t) + sum c_i t^i, the leading terms fixed, that
    bring the relative error against exact(t) on [lo, hi] near equal ripple: weighted least squares
    on 4000 Chebyshev points, reweighted 60 times. first is 1 (lead fixes the constant) or 0 (lead is
    zero and the constant is fitted too). Returns the float coefficients and the largest relative error
    of the rounded polynomial over the points."""
    import numpy as np

    n = 4000
    t = [(mpf(hi) + mpf(lo)) / 2 + (mpf(hi) - mpf(lo)) / 2 * mp.cos(mp.pi * (i + mpf(0.5)) / n) for i in range(n)]
    x = np.array([float(v) for v in t])
    e = [exact(mpf(float(v))) for v in t]
    base = np.array([float(lead(mpf(float(v)))) for v in t])
    ex = np.array([float(v) for v in e])
    scale = 1 / np.abs(ex)
    cols = np.vander(x, degree + 1, increasing=True)[:, first:]
    w = np.ones_like(x)
    for _ in range(60):
        rows = cols * (scale * w)[:, None]
        c = np.linalg.lstsq(rows, (ex - base) * scale * w, rcond=None)[0]
        err = np.abs(cols @ c + base - ex) * scale
        w = w * np.sqrt(err / err.max() + 1e-3)
        w /= w.max()
    c = [f32(v) for v in c]
    worst = mpf(0)
    for v, ev in zip(x, e):
        tv = mpf(float(v))
        worst = max(worst, abs((lead(tv) + sum(mpf(ci) * tv ** (i + first) for i, ci in enumerate(c)) - ev) / ev))
    return c, worst


# name, comment, fixed leading part (the constant term first), interval, degree, exact.
RIPPLE = [
    ("kSExpLA", "float Exp LA without a table: e^r = P(r), P(0) = 1, r = x - k ln2", [1.0], (-0.3466, 0.3466), 5,
     exp),
    ("kSExp2EP", "float Exp EP on AVX-512: 2^f = P(f), f = x/ln2 - floor(x/ln2)", [], (0, 1), 3,
     lambda t: power(2, t)),
]


def ripple_lines():
    L = []
    for name, comment, lead, (lo, hi), deg, exact in RIPPLE:
        first = 1 if lead else 0
        c, err = equal_ripple_fit(lambda t: horner(t, [mpf(v) for v in lead]), exact, lo, hi, deg, first)
        L.append("")
        L.append("// %s." % (comment[0].upper() + comment[1:]))
        L.append("// [%s, %s], degree %d, float coefficients (an equal-ripple fit in the relative error, the" % (
            mp.nstr(mpf(lo), 6), mp.nstr(mpf(hi), 6), deg))
        L.append("// %s); largest relative error of the whole approximation: %s (2^%.1f)." % (
            "leading terms fixed" if lead else "constant term fitted too", mp.nstr(err, 3), float(log(err, 2))))
        L.append("inline constexpr float %s[%d] = {" % (name, len(lead) + len(c)))
        L += ["    %s," % fstr(x) for x in list(lead) + c]
        L.append("};")
    return L


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "kernels/explog"
    POLYS.extend(slog10_polys())
    POLYS.extend(slog1p_polys())
    POLYS.extend(sexpm1_polys())
    POLYS.extend(dlog_atanh_polys())
    POLYS.extend(dlog_reg_polys())
    POLYS.extend(dexp16_polys())
    POLYS.extend(sreg_log_polys())
    POLYS.extend(dexp_ep_polys())
    POLYS.extend(dlog10_la_polys())
    cmd = "python3 tools/gen_explog_tables.py " + out
    a, b = sexp_tables()
    sln = sln_table()
    dpairs, d64, d128 = dexp_tables()
    t9, t7 = dlog_table(9), dlog_table(7)

    L = []
    L.append("// Tables and constants of the exponential and logarithm kernels. Generated by tools/gen_explog_tables.py;")
    L.append("// do not edit.")
    L.append("// Command: " + cmd)
    L.append("#pragma once")
    L.append("")
    L.append("#include <cstdint>")
    L.append("")
    L.append("namespace zok::explog_data {")
    L.append("")
    L += constant_lines()
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
    L.append("// Float Exp HA on AVX-512: T_hi = float(2^(j/32)) (row 0), T_lo = float(2^(j/32) / T_hi - 1) (row 1).")
    L.append("alignas(64) inline constexpr float kSExp32[2][32] = {")
    L += table_rows(list(zip(*[b[4 * j] for j in range(32)])), fstr, 8)
    L.append("};")
    L.append("// Float Expm1 on AVX-512: the even rows of kSExpHiLo, 2^(j/64) = T_hi (1 + T_lo), as two rows")
    L.append("// of 64 (T_hi, then T_lo) for in-register permutes.")
    L.append("alignas(64) inline constexpr float kSExpm1HiLo[2][64] = {")
    L += table_rows(list(zip(*[b[2 * j] for j in range(64)])), fstr, 8)
    L.append("};")
    L.append("// Float Ln special path: recip = 1/(1 + j/64) on 8 fraction bits; lnhi + lnlo = -ln(recip),")
    L.append("// lnhi a multiple of 2^-42 like the leading part of ln 2.")
    L.append("alignas(64) inline constexpr double kSLnScalar[65][3] = {")
    L += ["    {%s, %s, %s}," % tuple(dstr(x) for x in r) for r in sln]
    L.append("};")
    L.append("// Double Exp HA: T_hi = 2^(j/64) on 37 fraction bits, T_lo = 2^(j/64) - T_hi.")
    L.append("alignas(64) inline constexpr double kDExpHiLo[64][2] = {")
    L += ["    {%s, %s}," % (dstr(h), dstr(l)) for h, l in dpairs]
    L.append("};")
    L.append("// The same pairs as two rows of 64 (T_hi, then T_lo), for in-register permutes on AVX-512.")
    L.append("alignas(64) inline constexpr double kDExpHiLoCols[2][64] = {")
    L += table_rows(list(zip(*dpairs)), dstr, 4)
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
    L.append("// Double Exp LA and Expm1 LA on AVX-512: 2^(j/16) rounded to double (row 0) and the rest (row 1).")
    L.append("alignas(64) inline constexpr double kDExp16[2][16] = {")
    e16 = [power(2, mpf(j) / 16) for j in range(16)]
    L += table_rows([[float(t) for t in e16], [float(t - mpf(float(t))) for t in e16]], dstr, 4)
    L.append("};")
    L.append("// Double Exp HA on AVX-512: 2^(j/32) rounded to double (row 0) and the rest (row 1).")
    L.append("alignas(64) inline constexpr double kDExp32[2][32] = {")
    e32 = [power(2, mpf(j) / 32) for j in range(32)]
    L += table_rows([[float(t) for t in e32], [float(t - mpf(float(t))) for t in e32]], dstr, 4)
    L.append("};")
    L.append("// Double logarithms on AVX-512, row j mod 32 for rcp = j/32: -ln(rcp) as lnhi (a multiple of 2^-42)")
    L.append("// + lnlo, then rounded once. Rows outside j = 21 .. 43 are 0.")
    L.append("alignas(64) inline constexpr double kDLogR32[3][32] = {")
    L += table_rows(dlog_reg_table(), dstr, 4)
    L.append("};")
    L.append("// Double Ln and Log10 LA without AVX-512, row = the exponent's low bit and the top five fraction bits")
    L.append("// of m in [sqrt(1/2), sqrt(2)) rounded: {rcp ~ 1/centre on 23 fraction bits, -ln(rcp) to within 2^-10 ulp}.")
    L.append("// Rows outside 13 .. 45 are 0.")
    L.append("alignas(64) inline constexpr double kDLn64[64][2] = {")
    L += ["    {%s, %s}," % (dstr(a), dstr(b)) for a, b in dln_pair_table()]
    L.append("};")
    for name, what, base, kc in (("kSLnR32", "ln", mp.e, rf(LN2)), ("kSLog10R32", "log10", 10, rf(LN2 / log(10)))):
        L.append("// Float %s on AVX-512, row = the top five fraction bits of m in [0.75, 1.5): rcp (row 0) and" % what)
        L.append("// -%s(rcp), plus the float %s(2) where m < 1 (row 1, exact to 2^-36 there)." % (what, what))
        L.append("alignas(64) inline constexpr float %s[2][32] = {" % name)
        L += table_rows(sreg_log_table(base, kc), fstr, 8)
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
    for name, comment, (lo, hi), prec, full, exact, c in FIXED:
        c = [f32(x) if prec == "f" else x for x in c]
        err = measured(mpf(lo), mpf(hi), c, full, exact)
        typ = "float" if prec == "f" else "double"
        P.append("")
        P.append("// %s." % comment)
        P.append("// [%s, %s], degree %d, %s coefficients as tuned (not refitted); largest relative" % (
            mp.nstr(mpf(lo), 6), mp.nstr(mpf(hi), 6), len(c) - 1, typ))
        P.append("// error of the whole approximation: %s (2^%.1f)." % (mp.nstr(err, 3), float(log(err, 2))))
        P.append("inline constexpr %s %s[%d] = {" % (typ, name, len(c)))
        P += ["    %s," % (fstr(x) if prec == "f" else dstr(x)) for x in c]
        P.append("};")
    P += ripple_lines()
    P.append("")
    P.append("}  // namespace zok::explog_data")
    with open(os.path.join(out, "explog_poly.h"), "w") as f:
        f.write("\n".join(P) + "\n")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Generates kernels/erf/erf_coeffs.h: the tables and polynomial coefficients of the error
function kernels, from 40-digit arithmetic (mpmath).

Usage: /usr/bin/python3 tools/gen_erf_coeffs.py > kernels/erf/erf_coeffs.h

Every fit interpolates at the Chebyshev nodes of its interval; the error each header comment states
is the largest relative error of the fit with its coefficients rounded to double, on 600 points of
the interval (the constant term taken exactly where the kernel carries it in two parts).
"""
import mpmath as mp

mp.mp.dps = 40

SQRT_PI = mp.sqrt(mp.pi)


def cheb_fit(f, a, b, deg, exact_c0=False):
    n = deg + 1
    xs = [(a + b) / 2 + (b - a) / 2 * mp.cos(mp.pi * (k + mp.mpf(1) / 2) / n) for k in range(n)]
    A = mp.matrix([[x**j for j in range(n)] for x in xs])
    c = mp.lu_solve(A, mp.matrix([f(x) for x in xs]))
    cs = [mp.mpf(float(ci)) for ci in c]
    if exact_c0:
        cs[0] = c[0]
    err = max(abs((sum(cs[j] * x**j for j in range(n)) - f(x)) / f(x)) for x in mp.linspace(a, b, 600))
    return c, float(err)


def hexd(v):
    return float(v).hex()


def erfc_scaled(a):
    """erfc(a) e^(a^2)."""
    return mp.erfc(a) * mp.exp(a * a)


def erf_ratio(t):
    """erf(x)/x - 1 as a function of t = x^2 (0.1283... at 0)."""
    if t == 0:
        return 2 / SQRT_PI - 1
    x = mp.sqrt(t)
    return mp.erf(x) / x - 1


# Rows of erfc(a) e^(a^2): quarter binades from 0.5 to 32, the row number being the double's top
# bits (exponent and two fraction bits) less those of 0.5.
ROWS = 24


def row_bounds(r):
    e = r // 4 - 1
    lo = mp.mpf(2) ** e * (1 + mp.mpf(r % 4) / 4)
    return lo, lo + mp.mpf(2) ** e / 4


def emit_scaled_rows(name, deg, split_c0, what):
    stride = 16 if split_c0 else 8
    worst = 0
    rows = []
    for r in range(ROWS):
        lo, hi = row_bounds(r)
        mid = (lo + hi) / 2
        c, err = cheb_fit(lambda t: erfc_scaled(mid + t), lo - mid, hi - mid, deg, exact_c0=split_c0)
        worst = max(worst, err)
        vals = [mid]
        if split_c0:
            c0h = mp.mpf(float(c[0]))
            vals += [c0h, c[0] - c0h] + list(c[1:])
        else:
            vals += list(c)
        assert len(vals) <= stride
        vals += [0] * (stride - len(vals))
        rows.append(vals)
    print(f"// {what}: rows of {stride} doubles, [a_mid, c0{', c0_lo' if split_c0 else ''}, c1 ...], "
          f"erfc(a) e^(a^2) = sum c_k (a - a_mid)^k on [0.5, 32) by quarter binades; degree {deg}, "
          f"largest relative error {worst:.3g} (2^{float(mp.log(worst, 2)):.1f}).")
    print(f"inline constexpr int k{name}Stride = {stride};")
    print(f"inline constexpr int k{name}Degree = {deg};")
    print(f"alignas(64) inline constexpr double k{name}[{ROWS * stride}] = {{")
    for r, vals in enumerate(rows):
        lo, hi = row_bounds(r)
        print(f"    // [{float(lo)}, {float(hi)})")
        print("    " + ", ".join(hexd(v) for v in vals) + ",")
    print("};")
    print()


def emit_small(name, deg, what):
    c, err = cheb_fit(lambda t: 1 + erf_ratio(t), mp.mpf(0), mp.mpf(0.25), deg)
    c[0] -= 1
    print(f"// {what}: erf(x)/x - 1 = sum c_k (x^2)^k for |x| < 0.5; degree {deg} in x^2, largest "
          f"relative error of erf(x)/x {err:.3g} (2^{float(mp.log(err, 2)):.1f}).")
    print(f"inline constexpr double k{name}[] = {{")
    for v in c:
        print(f"    {hexd(v)},  // {float(v)!r}")
    print("};")
    print()


def emit_ep_table():
    print("// Float EP erf: E_i = erf(i/128) and D_i = (2/sqrt(pi)) e^(-(i/128)^2), i = 0 ... 503, each")
    print("// rounded to the nearest float.")
    print("alignas(64) inline constexpr float kSErfEP[504][2] = {")
    check = {}
    for i in range(504):
        x = mp.mpf(i) / 128
        e = mp.erf(x)
        d = 2 / SQRT_PI * mp.exp(-x * x)
        ef = round_float32(e)
        df = round_float32(d)
        check[i] = (ef, df)
        print(f"    {{{ef.hex()}f, {df.hex()}f}},")
    print("};")
    print()
    assert check[0] == (0.0, 1.128379225730896)
    assert check[64] == (0.5204998850822449, 0.8787825703620911)
    assert check[503] == (1.0, 2.2176189418132708e-07)


def round_float32(v):
    """v rounded once to the nearest float (ties to even)."""
    if v == 0:
        return 0.0
    e = int(mp.floor(mp.log(abs(v), 2)))
    scale = mp.mpf(2) ** (23 - e)
    m = v * scale
    r = mp.nint(m)
    if abs(m - mp.floor(m) - mp.mpf(0.5)) == 0 and int(r) % 2 == 1:
        r -= 1
    return float(r / scale)


def emit_erfinv_small(name, deg, split_c0, what):
    f = lambda t: mp.erfinv(mp.sqrt(t)) / mp.sqrt(t) if t > 0 else SQRT_PI / 2
    c, err = cheb_fit(f, mp.mpf(0), mp.mpf("0.2809"), deg, exact_c0=split_c0)
    print(f"// {what}: erfinv(x)/x = sum c_k (x^2)^k for |x| < 0.53; degree {deg} in x^2, largest relative "
          f"error {err:.3g} (2^{float(mp.log(err, 2)):.1f}){', c0 in two parts' if split_c0 else ''}.")
    vals = list(c)
    if split_c0:
        c0h = mp.mpf(float(c[0]))
        print(f"inline constexpr double k{name}C0 = {hexd(c0h)};  // the rest of c0 leads the array")
        vals = [c[0] - c0h] + vals[1:]
    print(f"inline constexpr double k{name}[] = {{")
    for v in vals:
        print(f"    {hexd(v)},  // {float(v)!r}")
    print("};")
    print()


def erfcinv_of_w(w):
    """The y with erfc(y) = e^(-w^2), by Newton's method on ln erfc."""
    mp.mp.dps = 60
    target = -w * w
    y = w
    for _ in range(100):
        e = mp.erfc(y)
        step = (mp.log(e) - target) / (-2 / SQRT_PI * mp.exp(-y * y) / e)
        y -= step
        if abs(step) < mp.mpf(10) ** -45 * y:
            break
    mp.mp.dps = 40
    return y


def emit_erfcinv_guess(deg):
    rows = []
    worst = 0
    for r in range(6):
        lo, hi = mp.mpf(2) ** (r - 1), mp.mpf(2) ** r
        if r == 0:
            lo = mp.mpf("0.8")
        if r == 5:
            hi = mp.mpf("27.5")
        mid = (lo + hi) / 2
        c, err = cheb_fit(lambda t: erfcinv_of_w(mid + t) / (mid + t), lo - mid, hi - mid, deg)
        worst = max(worst, err)
        rows.append([mid] + list(c))
    stride = deg + 2
    print(f"// The first estimate of erfcinv(z) for z < 0.47: y = w sum c_k (w - w_mid)^k with w = sqrt(-ln z),")
    print(f"// rows [w_mid, c0 ...] by binades of w from 0.8 to 27.5; degree {deg}, largest relative error "
          f"{worst:.3g} (2^{float(mp.log(worst, 2)):.1f}).")
    print(f"inline constexpr int kErfcInvGuessDegree = {deg};")
    print(f"alignas(64) inline constexpr double kErfcInvGuess[{6 * stride}] = {{")
    for vals in rows:
        print("    " + ", ".join(hexd(v) for v in vals) + ",")
    print("};")
    print()


def erfinv_ratio_of_w(w):
    """erfinv(x)/x with x = sqrt(1 - e^-w), as a function of w = -ln(1 - x^2)."""
    if w == 0:
        return SQRT_PI / 2
    x = mp.sqrt(-mp.expm1(-w))
    return mp.erfinv(x) / x


def emit_erfinv_central(deg, wmax):
    mid = mp.mpf(wmax) / 2
    c, err = cheb_fit(lambda t: erfinv_ratio_of_w(mid + t), -mid, mid, deg)
    print(f"// EP: erfinv(x)/x = sum c_k (w - w_mid)^k with w = -ln(1 - x^2) for w below {wmax} (1 - x^2 above")
    print(f"// kErfInvCentralU); degree {deg}, largest relative error {err:.3g} (2^{float(mp.log(err, 2)):.1f}).")
    print(f"inline constexpr double kErfInvCentralMid = {hexd(mid)};")
    print(f"inline constexpr double kErfInvCentralU = {hexd(mp.exp(-mp.mpf(wmax)))};")
    print(f"inline constexpr double kErfInvCentral[] = {{")
    for v in c:
        print(f"    {hexd(v)},  // {float(v)!r}")
    print("};")
    print()


def emit_erfinv_central_float(deg, wmax):
    mid = mp.mpf(wmax) / 2
    f = lambda t: erfinv_ratio_of_w(mid + t)
    c, _ = cheb_fit(f, -mid, mid, deg)
    cf = [mp.mpf(round_float32(v)) for v in c]
    err = max(abs(sum(cf[j] * t**j for j in range(deg + 1)) / f(t) - 1) for t in mp.linspace(-mid, mid, 600))
    print(f"// Float EP: the same in float, degree {deg}, largest relative error with the coefficients")
    print(f"// rounded to float {float(err):.3g} (2^{float(mp.log(err, 2)):.1f}); w_mid and the bound rounded to float.")
    print(f"inline constexpr float kSErfInvCentralMid = {float(mid).hex()}f;")
    print(f"inline constexpr float kSErfInvCentralU = {round_float32(mp.exp(-mp.mpf(wmax))).hex()}f;")
    print(f"inline constexpr float kSErfInvCentral[] = {{")
    for v in cf:
        print(f"    {float(v).hex()}f,  // {float(v)!r}")
    print("};")
    print()


def main():
    print("// Tables and coefficients of the error-function kernels.")
    print("// Generated by tools/gen_erf_coeffs.py (python3 + mpmath, 40 digits); do not edit.")
    print("#pragma once")
    print()
    print("namespace zok::special_data {")
    print()
    emit_ep_table()
    r = 1 / mp.sqrt(2)
    print("// 1/sqrt(2) in two parts.")
    print(f"inline constexpr double kRsqrt2Hi = {hexd(r)};")
    print(f"inline constexpr double kRsqrt2Lo = {hexd(r - mp.mpf(float(r)))};")
    print()
    emit_small("ErfSmallHA", 10, "HA")
    emit_small("ErfSmallLA", 8, "LA")
    emit_small("ErfSmallEP", 4, "EP")
    emit_scaled_rows("ErfcHA", 13, True, "HA and LA")
    emit_scaled_rows("ErfcEP", 6, False, "EP")
    emit_erfinv_small("ErfInvSmallHA", 16, True, "HA")
    emit_erfinv_small("ErfInvSmallLA", 14, False, "LA")
    emit_erfinv_small("ErfInvSmallEP", 7, False, "EP")
    emit_erfcinv_guess(9)
    emit_erfinv_central(13, 6.25)
    emit_erfinv_central_float(10, 6.25)
    print(f"inline constexpr double kSqrtPiHalf = {hexd(SQRT_PI / 2)};")
    print(f"inline constexpr double kSqrt2Hi = {hexd(mp.sqrt(2))};")
    print(f"inline constexpr double kSqrt2Lo = {hexd(mp.sqrt(2) - mp.mpf(float(mp.sqrt(2))))};")
    print()
    print("}  // namespace zok::special_data")


main()

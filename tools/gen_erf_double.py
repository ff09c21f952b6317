#!/usr/bin/env python3
"""Generates kernels/erf/erf_double_coeffs.h: the per-interval polynomials of the double erf kernels
that read their coefficients by interval without an exponential.

Usage: /usr/bin/python3 tools/gen_erf_double.py > kernels/erf/erf_double_coeffs.h   (needs mpmath)

erf|x| on [0.5, 6) in eleven intervals of 0.5, as a polynomial in d = |x| - c for the interval's
midpoint c. Each fit is a least-squares fit at Chebyshev nodes; the coefficients are rounded to
double one at a time, lowest first, the rest refitted after each rounding so that they absorb its
error. The stated error is the largest absolute error on 300 points of every interval (erf is above
0.52 there, so it is the relative error within a factor of two).

R(a) = erfc(a) e^(a^2) on [0, 8) for the erfc kernels that take e^(-a^2) apart: intervals of 1/2
(16 rows, two registers a column at AVX-512), fitted the same way; the stated error is relative.
The same on [0, 6) by intervals of 3/8, three or four degrees lower (the AVX-512 kernels), and for
LA by 16 intervals that widen with a (the rows of a quadratic in a), degree 10; with it the
polynomial of e^-q after the exponential's reduction, a term shorter than Taylor's.

erf(r) and erfc(r) with their slope at the multiples r of 1/128 (up to 6 and 5.5), for the AVX2
kernels that sum the Taylor series about the nearest r.
"""
import mpmath as mp

mp.mp.dps = 40

INTERVALS = 11  # [0.5 + i/2, 1 + i/2)
ROWS = 16       # padded with the last interval: the row is four bits of an index


def fit(f, a, b, c, deg, npts, fixed=None, split1=False):
    """fixed: exact coefficients; split1: c1 kept as the sum of two doubles."""
    xs = [(a + b) / 2 + (b - a) / 2 * mp.cos(mp.pi * (k + mp.mpf(1) / 2) / npts) for k in range(npts)]
    co = dict(fixed or {})
    free = [j for j in range(deg + 1) if j not in co]
    while free:
        A = mp.matrix([[(x - c)**j for j in free] for x in xs])
        y = mp.matrix([f(x) - sum(co[j] * (x - c)**j for j in co) for x in xs])
        v = mp.qr_solve(A, y)[0][0]
        hi = mp.mpf(float(v))
        co[free[0]] = hi + (mp.mpf(float(v - hi)) if split1 and free[0] == 1 else 0)
        free = free[1:]
    err = max(abs(sum(co[j] * (x - c)**j for j in co) - f(x)) for x in mp.linspace(a, b, 300))
    return [co[j] for j in range(deg + 1)], err


def table(name, deg, stride, npts, layout, ha=False):
    """Rows [c, c_deg ... c_0]; HA (c0 exact, c1 in two parts) [c, c_deg ... c_2, c1_lo, c1, c0_lo, c0]."""
    rows, worst = [], []
    for i in range(INTERVALS):
        a = mp.mpf(1) / 2 + mp.mpf(i) / 2
        b = a + mp.mpf(1) / 2
        c = (a + b) / 2
        if ha:
            cs, e = fit(mp.erf, a, b, c, deg, npts, {0: mp.erf(c)}, True)
            c0, c1 = mp.mpf(float(cs[0])), mp.mpf(float(cs[1]))
            row = [c] + cs[:1:-1] + [cs[1] - c1, c1, mp.mpf(float(cs[0] - c0)), c0]
        else:
            cs, e = fit(mp.erf, a, b, c, deg, npts)
            row = [c] + cs[::-1]  # the centre first, then Horner's order
        rows.append(row + [mp.mpf(0)] * (stride - len(row)))
        worst.append(float(mp.log(e, 2)))
    print(f'// {layout}; log2 of the absolute errors: ' + ' '.join(f'{v:.1f}' for v in worst))
    print(f'inline constexpr int {name}Degree = {deg};')
    print(f'alignas(64) inline constexpr double {name}[{ROWS}][{stride}] = {{')
    for i in range(ROWS):
        r = rows[min(i, INTERVALS - 1)]
        print('    {' + ', '.join(float(v).hex() for v in r) + '},')
    print('};')
    print()


def r_rows(ends, deg, npts, centre):
    """R(a) = erfc(a) e^(a^2) fitted on each interval [ends[i], ends[i + 1]] about centre(a, b): rows
    [c, c_deg ... c_0] in Horner's order, padded to an even length, and log2 of the largest relative
    error over the intervals."""
    f = lambda a: mp.erfc(a) * mp.exp(a * a)
    out, worst = [], -999.0
    for a, b in zip(ends[:-1], ends[1:]):
        c = centre(a, b)
        cs, _ = fit(f, a, b, c, deg, npts)
        e = max(abs(sum(cs[j] * (x - c)**j for j in range(deg + 1)) / f(x) - 1) for x in mp.linspace(a, b, 200))
        worst = max(worst, float(mp.log(e, 2)))
        out.append([c] + cs[::-1] + [mp.mpf(0)] * (deg % 2))
    return out, worst


def print_rows(name, out, deg):
    """The rows of r_rows as a C++ array, each padded to deg + 2 + deg % 2 entries."""
    print(f'alignas(64) inline constexpr double {name}[{len(out)}][{deg + 2 + deg % 2}] = {{')
    for r in out:
        print('    {' + ', '.join(float(v).hex() for v in r) + '},')
    print('};')
    print()


def rtable(name, deg, width, rows, npts, what):
    """R on [i w, (i + 1) w), i < rows: rows [c, c_deg ... c_0] in Horner's order, c the midpoint,
    padded to an even length (AVX2 reads the columns two at a time)."""
    ends = [mp.mpf(width) * i for i in range(rows + 1)]
    out, worst = r_rows(ends, deg, npts, lambda a, b: (a + b) / 2)
    print(f'// {what}, degree {deg} in a - c on intervals of {width}: rows [c, c_{deg} ... c_0{", padding" if deg % 2 else ""}]; '
          f'log2 of the largest relative error: {worst:.1f}')
    print(f'inline constexpr int {name}Degree = {deg};')
    print_rows(name, out, deg)


def qtable(name, deg, q, top, rows, npts, what):
    """R on the rows of u(a) = a (k - q a), k = top/6 + 6q rounded to double: row i holds
    [i, i + 1) of u (u(6) = top), so that the intervals widen with a, where R flattens. Rows
    [c, c_deg ... c_0] in Horner's order, c the interval's midpoint rounded to a multiple of 2^-8 (a - c
    is exact), padded to an even length."""
    k, q = mp.mpf(float(mp.mpf(top) / 6 + 6 * mp.mpf(q))), mp.mpf(float(mp.mpf(q)))
    ends = [mp.mpf(0)] + [(k - mp.sqrt(k * k - 4 * q * i)) / (2 * q) for i in range(1, rows)] + [mp.mpf(6)]
    out, worst = r_rows(ends, deg, npts, lambda a, b: mp.mpf(round((a + b) / 2 * 256)) / 256)
    print(f'// {what}, degree {deg} in a - c on the rows of a ({float(k).hex()} - {float(q).hex()} a): rows '
          f'[c, c_{deg} ... c_0{", padding" if deg % 2 else ""}]; log2 of the largest relative error: {worst:.1f}')
    print(f'inline constexpr int {name}Degree = {deg};')
    print(f'inline constexpr double {name}K = {float(k).hex()}, {name}Q = {float(q).hex()};')
    print_rows(name, out, deg)


def etable(name, deg, what):
    """e^-q - 1 = -q + q^2 Q(q) for |q| <= 1.02 ln2/32 (the reduction's bound with room for its
    rounding): Q's coefficients, lowest first, fitted as R's rows are; the stated error is absolute."""
    top = mp.log(2) / 32 * mp.mpf('1.02')
    g = lambda q: (mp.exp(-q) - 1 + q) / (q * q)
    cs, _ = fit(g, -top, top, mp.mpf(0), deg, 40)
    e = max(abs(-q + q * q * sum(cs[j] * q**j for j in range(deg + 1)) - mp.expm1(-q)) for q in mp.linspace(-top, top, 400))
    print(f'// {what}: e^-q - 1 = -q + q^2 Q(q) for |q| <= 1.02 ln2/32, Q of degree {deg}, lowest first; log2 of the '
          f'largest absolute error: {float(mp.log(e, 2)):.1f}')
    print(f'inline constexpr double {name}[{deg + 1}] = {{' + ', '.join(float(v).hex() for v in cs) + '};')
    print()


def ttable(name, f, what, per_unit, top):
    """f(r) and its slope (2/sqrt(pi)) e^(-r^2) at r = i/per_unit, 0 <= r <= top, each rounded to
    double: the kernels that take f(r + d) by its Taylor series in d."""
    n = int(per_unit * top) + 1
    print(f'// {what}(r) and (2/sqrt(pi)) e^(-r^2) at r = i/{per_unit}, i = 0 ... {n - 1}, each rounded to double.')
    print(f'alignas(64) inline constexpr double {name}[{n}][2] = {{')
    for i in range(n):
        r = mp.mpf(i) / per_unit
        print(f'    {{{float(f(r)).hex()}, {float(2 / mp.sqrt(mp.pi) * mp.exp(-r * r)).hex()}}},')
    print('};')
    print()


def main():
    print('// Per-interval polynomials of the double erf kernels on [0.5, 6), of erfc(a) e^(a^2) on [0, 8), and')
    print('// erf and erfc with their slope at the multiples of 1/128.')
    print('// Generated by tools/gen_erf_double.py (python3 + mpmath, 40 digits); do not edit.')
    print('#pragma once')
    print()
    print('namespace zok::special_data {')
    print()
    table('kDErfLA', 13, 16, 80, 'LA erf|x|, degree 13 in |x| - c: rows [c, c_13 ... c_0, padding]')
    table('kDErfEP', 7, 12, 40, 'EP erf|x|, degree 7 in |x| - c: rows [c, c_7 ... c_0, padding]')
    table('kDErfHA', 14, 20, 80, 'HA erf|x|, degree 14 in |x| - c: rows [c, c_14 ... c_2, c1_lo, c1, c0_lo, c0, '
          'padding]; c0 and c1 in two parts', True)
    rtable('kDErfcR2LA', 15, 0.5, 16, 60, 'LA erfc(a) e^(a^2)')
    rtable('kDErfcR2EP', 8, 0.5, 16, 30, 'EP erfc(a) e^(a^2)')
    rtable('kDErfcR375LA', 12, 0.375, 16, 60, 'LA erfc(a) e^(a^2)')
    rtable('kDErfcR375EP', 7, 0.375, 16, 30, 'EP erfc(a) e^(a^2)')
    qtable('kDErfcRQLA', 10, 0.29, 15.95, 16, 40, 'LA erfc(a) e^(a^2)')
    etable('kDErfcExpQLA', 4, 'LA e^(-a^2) after its reduction')
    ttable('kDErfT128', mp.erf, 'erf', 128, 6)
    ttable('kDErfcT128', mp.erfc, 'erfc', 128, 5.5)
    print('}  // namespace zok::special_data')


main()

"""Splines built by `zok fit spline` against scipy's CubicSpline and Akima1DInterpolator: node values
and derivatives agree to 1e-12 relative on well-conditioned data. Exits 77 (skipped) without scipy."""
import os
import subprocess
import sys
import tempfile

try:
    import numpy as np
    from scipy.interpolate import Akima1DInterpolator, CubicSpline
except ImportError:
    print("scipy is not installed: skipped")
    sys.exit(77)

ZOK = sys.argv[1]


def zok_coeffs(path, kind, ends):
    out = subprocess.run([ZOK, "fit", "spline", path, "--kind", kind, "--ends", ends, "--coeffs"],
                         check=True, capture_output=True, text=True).stdout.splitlines()
    assert " status 0," in out[0], out[0]
    rows = np.array([[float(v) for v in line.split()] for line in out[1:]])
    return {int(f): rows[rows[:, 0] == f][:, 3:] for f in np.unique(rows[:, 0])}


def check(name, ours, reference):
    # reference: scipy PPoly coefficients, highest power first; ours: c0, c1, ... per cell.
    for k, what in ((0, "values"), (1, "derivatives")):
        want = reference[3 - k]
        err = np.max(np.abs(ours[:, k] - want)) / np.max(np.abs(want))
        assert err <= 1e-12, f"{name}: node {what} differ by {err:.2e} relative"


rng = np.random.default_rng(2024)
failures = 0
with tempfile.TemporaryDirectory() as work:
    for n in (6, 25, 200):
        x = np.cumsum(rng.uniform(0.5, 1.5, n))
        ys = [np.sin(x / 3) + 0.1 * rng.standard_normal(n), rng.standard_normal(n)]
        for y in ys:
            y[-1] = y[0]  # lets the periodic end condition take the same file
        path = os.path.join(work, f"data{n}.csv")
        np.savetxt(path, np.column_stack([x] + ys), delimiter=",", fmt="%.17g")
        cases = [("not-a-knot", "not-a-knot"), ("free", "natural"), ("d1:0,0", "clamped"),
                 ("periodic", "periodic"), ("d1:0.5,-1.5", ((1, 0.5), (1, -1.5))),
                 ("d2:2,-3", ((2, 2.0), (2, -3.0))), ("d1d2:0.5,-3", ((1, 0.5), (2, -3.0))),
                 ("d2d1:2,-1.5", ((2, 2.0), (1, -1.5)))]
        for ends, bc in cases:
            ours = zok_coeffs(path, "natural", ends)
            for f, y in enumerate(ys):
                try:
                    check(f"natural {ends} n={n} f={f}", ours[f], CubicSpline(x, y, bc_type=bc).c)
                except AssertionError as e:
                    print(e)
                    failures += 1
        ours = zok_coeffs(path, "akima", "akima")
        for f, y in enumerate(ys):
            try:
                check(f"akima n={n} f={f}", ours[f], Akima1DInterpolator(x, y).c)
            except AssertionError as e:
                print(e)
                failures += 1
print(f"{failures} disagreements")
sys.exit(1 if failures else 0)

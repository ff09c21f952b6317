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

CASES = [("not-a-knot", "not-a-knot"), ("free", "natural"), ("d1:0,0", "clamped"), ("periodic", "periodic"),
         ("d1:0.5,-1.5", ((1, 0.5), (1, -1.5))), ("d2:2,-3", ((2, 2.0), (2, -3.0))),
         ("d1d2:0.5,-3", ((1, 0.5), (2, -3.0))), ("d2d1:2,-1.5", ((2, 2.0), (1, -1.5))), ("akima", None)]
rng = np.random.default_rng(2024)
failures = 0
with tempfile.TemporaryDirectory() as work:
    for n in (6, 25, 200):
        x = np.cumsum(rng.uniform(0.5, 1.5, n))
        ys = [np.sin(x / 3) + 0.1 * rng.standard_normal(n), rng.standard_normal(n)]
        ys = [np.append(y[:-1], y[0]) for y in ys]  # lets the periodic end condition take the same file
        path = os.path.join(work, f"data{n}.csv")
        np.savetxt(path, np.column_stack([x] + ys), delimiter=",", fmt="%.17g")
        for ends, bc in CASES:
            kind = "natural" if bc else "akima"
            out = subprocess.run([sys.argv[1], "fit", "spline", path, "--kind", kind, "--ends", ends, "--coeffs"],
                                 check=True, capture_output=True, text=True).stdout.splitlines()
            rows = np.array([[float(v) for v in line.split()] for line in out[1:]])
            for f, y in enumerate(ys):
                ref = (CubicSpline(x, y, bc_type=bc) if bc else Akima1DInterpolator(x, y)).c
                ours = rows[rows[:, 0] == f][:, 3:]
                for k in (0, 1):  # values, then derivatives; scipy lists the highest power first
                    err = np.max(np.abs(ours[:, k] - ref[3 - k])) / np.max(np.abs(ref[3 - k]))
                    if not err <= 1e-12:
                        print(f"{kind} {ends} n={n} f={f}: coefficient {k} differs by {err:.2e} relative")
                        failures += 1
sys.exit(1 if failures else 0)

"""Values, derivatives and integrals from `zok fit spline --at ... --deriv ... --integrate ...` against
scipy's PPoly of the same spline (CubicSpline, Akima1DInterpolator), beyond the data too: they agree
to 1e-12 relative on well-conditioned data. Exits 77 (skipped) without scipy."""
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

rng = np.random.default_rng(7)
failures = 0


def check(what, ours, ref):
    global failures
    err = np.max(np.abs(ours - ref)) / max(np.max(np.abs(ref)), 1e-300)
    if not err <= 1e-12:
        print(f"{what}: differs by {err:.2e} relative")
        failures += 1


with tempfile.TemporaryDirectory() as work:
    for n in (5, 40, 300):
        x = np.cumsum(rng.uniform(0.5, 1.5, n))
        y = np.sin(x / 4) + 0.1 * rng.standard_normal(n)
        data, at = os.path.join(work, "data.csv"), os.path.join(work, "sites.txt")
        np.savetxt(data, np.column_stack([x, y]), delimiter=",", fmt="%.17g")
        span = x[-1] - x[0]
        sites = np.concatenate([rng.uniform(x[0] - 0.1 * span, x[-1] + 0.1 * span, 200), x])
        np.savetxt(at, sites, fmt="%.17g")
        pairs = rng.uniform(x[0] - 0.1 * span, x[-1] + 0.1 * span, (20, 2))
        for kind, ends in (("natural", "not-a-knot"), ("natural", "free"), ("akima", "akima")):
            if kind == "akima" and n < 5:
                continue
            ref = (Akima1DInterpolator(x, y) if kind == "akima"
                   else CubicSpline(x, y, bc_type="natural" if ends == "free" else ends))
            out = subprocess.run([sys.argv[1], "fit", "spline", data, "--kind", kind, "--ends", ends, "--at", at,
                                  "--deriv", "1,2,3", "--integrate",
                                  ",".join(f"{a!r}:{b!r}" for a, b in pairs)],
                                 check=True, capture_output=True, text=True).stdout.splitlines()
            table = np.array([[float(v) for v in line.split()] for line in out[2:2 + len(sites)]])
            for nu in range(4):
                check(f"{kind} {ends} n={n} derivative {nu}", table[:, 1 + nu], ref(sites, nu, extrapolate=True))
            integrals = np.array([float(line.split()[3]) for line in out[2 + len(sites):]])
            want = np.array([ref.integrate(a, b, extrapolate=True) for a, b in pairs])
            check(f"{kind} {ends} n={n} integrals", integrals, want)
sys.exit(1 if failures else 0)

"""zok's Python module against numpy on the same machine, same run: ns per element (median of
repetitions) and the ratio numpy/zok (above 1: zok is faster).
Run: PYTHONPATH=<build>/python /usr/bin/python3 bench/python/compare_numpy.py [--quick]"""
import statistics
import sys
import time

import numpy as np

import zok

QUICK = "--quick" in sys.argv
REPEAT = 3 if QUICK else 7


def per_element(fn, n, min_time=0.05):
    """Median ns per element of fn() over REPEAT runs, each long enough to time."""
    loops = 1
    while True:
        t = time.perf_counter()
        for _ in range(loops):
            fn()
        if time.perf_counter() - t > min_time or loops > 1 << 20:
            break
        loops *= 4
    runs = []
    for _ in range(REPEAT):
        t = time.perf_counter()
        for _ in range(loops):
            fn()
        runs.append((time.perf_counter() - t) / loops / n * 1e9)
    return statistics.median(runs)


rows = []


def compare(what, n, ours, theirs):
    # alternate so that a slower machine phase hits both
    a1, b1 = per_element(ours, n), per_element(theirs, n)
    a2, b2 = per_element(ours, n), per_element(theirs, n)
    a, b = min(a1, a2), min(b1, b2)
    rows.append((what, n, a, b))
    print(f"{what:<44} n={n:<8.0e} zok {a:9.3f}  numpy {b:9.3f}  ratio {b / a:6.2f}", flush=True)


rng = np.random.default_rng(1)
sizes = (1000,) if QUICK else (1000, 1000000)
for n in sizes:
    for dtype in (np.float32, np.float64):
        x = rng.uniform(0.1, 10.0, n).astype(dtype)
        y = rng.uniform(0.1, 3.0, n).astype(dtype)
        out = np.empty_like(x)
        name = "float32" if dtype == np.float32 else "float64"
        for f, ref, args in (("exp", np.exp, (x,)), ("ln", np.log, (x,)), ("sqrt", np.sqrt, (x,)),
                             ("pow", np.power, (x, y))):
            zf = getattr(zok.vm, f)
            compare(f"vm.{f} LA {name}", n, lambda: zf(*args, accuracy="LA", out=out),
                    lambda: ref(*args, out=out))

n = 1000000
gen = np.random.Generator(np.random.PCG64(1))
for name in ("MCG59", "MRG32K3A", "MCG31M1"):
    s = zok.rng.Stream(name, seed=1)
    compare(f"Stream({name}).uniform float64", n, lambda: s.uniform(n), lambda: gen.random(n))
s = zok.rng.Stream("MRG32K3A", seed=1)
compare("Stream(MRG32K3A).integers uint32", n, lambda: s.integers(n),
        lambda: gen.integers(0, 1 << 32, n, dtype=np.uint64))

p, m = 10, 100000 if QUICK else 1000000
data = rng.normal(size=(p, m))
compare(f"stats.summarize mean+variance+covariance p={p}", p * m,
        lambda: zok.stats.summarize(data, estimates=("mean", "variance", "covariance")),
        lambda: (data.mean(axis=1), data.var(axis=1, ddof=1), np.cov(data)))

nodes = np.sort(rng.uniform(0, 1, 1000000))
sites = rng.uniform(0, 1, 100000 if QUICK else 1000000)
compare("fit.search vs searchsorted (1e6 nodes)", sites.size, lambda: zok.fit.search(nodes, sites),
        lambda: np.searchsorted(nodes, sites, side="right"))

# Distributions through the C interface (ctypes; the module has no distribution calls yet). The
# kernel library is the one the module already loaded.
import ctypes

kernel = ctypes.CDLL("libzok_kernel.so.0")
c_double_p = ctypes.POINTER(ctypes.c_double)
stream = ctypes.c_void_p()
getattr(kernel, "__qorNewStreamEx")(ctypes.byref(stream), 0x400000, 1, (ctypes.c_uint32 * 1)(1))  # MCG59
gaussian, uniform = kernel._qordRngGaussian, kernel._qordRngUniform
gaussian.argtypes = uniform.argtypes = [ctypes.c_int32, ctypes.c_void_p, ctypes.c_int32, c_double_p,
                                        ctypes.c_double, ctypes.c_double]
lognormal = kernel._qordRngLognormal
lognormal.argtypes = gaussian.argtypes + [ctypes.c_double, ctypes.c_double]
mvn = kernel._qordRngGaussianMV
mvn.argtypes = [ctypes.c_int32, ctypes.c_void_p, ctypes.c_int32, c_double_p, ctypes.c_int32, ctypes.c_int32,
                c_double_p, c_double_p]
n = 100000 if QUICK else 1000000
out = np.empty(4 * n)
ptr = out.ctypes.data_as(c_double_p)
compare("rng uniform float64 (MCG59)", n, lambda: uniform(0, stream, n, ptr, 0.0, 1.0),
        lambda: gen.random(n, out=out[:n]))
for method in (0, 1, 2):
    compare(f"rng gaussian method {method} float64", n, lambda: gaussian(method, stream, n, ptr, 0.0, 1.0),
            lambda: gen.standard_normal(n, out=out[:n]))
compare("rng lognormal float64", n, lambda: lognormal(0, stream, n, ptr, 0.0, 1.0, 0.0, 1.0),
        lambda: gen.lognormal(0.0, 1.0, n))
factor = np.array([[1.0, 0, 0, 0], [0.5, 2, 0, 0], [-0.25, 0.75, 1.5, 0], [0.1, -0.2, 0.3, 0.8]])
mean = np.array([1.0, -2, 0.5, 3])
cov = factor @ factor.T
compare("rng multivariate gaussian d=4 (per vector)", n,
        lambda: mvn(1, stream, n, ptr, 4, 0, mean.ctypes.data_as(c_double_p), factor.ctypes.data_as(c_double_p)),
        lambda: gen.multivariate_normal(mean, cov, n, method="cholesky"))
# The discrete distributions through the exported C entries (ctypes on libzok_kernel.so beside the
# module), on an MCG59 stream, against numpy's Generator(PCG64).
import ctypes
import os

kernel = ctypes.CDLL(os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(zok.__file__))),
                                  "libzok_kernel.so"))
stream = ctypes.c_void_p()
seed = ctypes.c_uint32(1)
kernel.__qorNewStreamEx(ctypes.byref(stream), 0x400000, 1, ctypes.byref(seed))
out = np.empty(n, dtype=np.uint32)
out_p = out.ctypes.data_as(ctypes.c_void_p)
lam = np.where(np.arange(n) % 2 == 1, 50.0, 3.0)
d, i32 = ctypes.c_double, ctypes.c_int32
for what, call, theirs in (
        ("geometric(0.2)", lambda: kernel._qoriRngGeometric(0, stream, n, out_p, d(0.2)),
         lambda: gen.geometric(0.2, n)),
        ("binomial(10, 0.3)", lambda: kernel._qoriRngBinomial(0, stream, n, out_p, i32(10), d(0.3)),
         lambda: gen.binomial(10, 0.3, n)),
        ("binomial(1000, 0.3)", lambda: kernel._qoriRngBinomial(0, stream, n, out_p, i32(1000), d(0.3)),
         lambda: gen.binomial(1000, 0.3, n)),
        ("poisson(3) method 0", lambda: kernel._qoriRngPoisson(0, stream, n, out_p, d(3.0)),
         lambda: gen.poisson(3.0, n)),
        ("poisson(3) method 1", lambda: kernel._qoriRngPoisson(1, stream, n, out_p, d(3.0)),
         lambda: gen.poisson(3.0, n)),
        ("poisson(50) method 0", lambda: kernel._qoriRngPoisson(0, stream, n, out_p, d(50.0)),
         lambda: gen.poisson(50.0, n)),
        ("poisson(50) method 1", lambda: kernel._qoriRngPoisson(1, stream, n, out_p, d(50.0)),
         lambda: gen.poisson(50.0, n)),
        ("poissonv(3, 50 alternating)",
         lambda: kernel._qoriRngPoissonV(0, stream, n, out_p, lam.ctypes.data_as(ctypes.c_void_p)),
         lambda: gen.poisson(lam)),
        ("hypergeometric(900, 300, 500)",
         lambda: kernel._qoriRngHypergeometric(0, stream, n, out_p, i32(900), i32(300), i32(500)),
         lambda: gen.hypergeometric(500, 400, 300, n)),
        ("negative binomial(10, 0.3)", lambda: kernel._qoriRngNegbinomial(0, stream, n, out_p, d(10), d(0.3)),
         lambda: gen.negative_binomial(10, 0.3, n))):
    compare(what, n, call, theirs)
kernel.__qorDeleteStream(ctypes.byref(stream))

# The other continuous distributions, double forms on the same MCG59 stream, beside numpy's
# Generator(PCG64) of the same law (numpy's Rayleigh has the scale sqrt(2) of ours: same work).
two = [ctypes.c_int32, ctypes.c_void_p, ctypes.c_int32, c_double_p, ctypes.c_double, ctypes.c_double]
continuous = {}
for name, extra in (("Exponential", 0), ("Laplace", 0), ("Cauchy", 0), ("Rayleigh", 0), ("Gumbel", 0),
                    ("Weibull", 1), ("Gamma", 1), ("Beta", 2)):
    f = getattr(kernel, f"_qordRng{name}")
    f.argtypes = two + [ctypes.c_double] * extra
    continuous[name] = f
for what, ours, theirs in (
        ("exponential(1)", lambda: continuous["Exponential"](0, stream, n, ptr, 0.0, 1.0),
         lambda: gen.standard_exponential(n, out=out[:n])),
        ("laplace(0, 1)", lambda: continuous["Laplace"](0, stream, n, ptr, 0.0, 1.0), lambda: gen.laplace(0.0, 1.0, n)),
        ("cauchy(0, 1)", lambda: continuous["Cauchy"](0, stream, n, ptr, 0.0, 1.0), lambda: gen.standard_cauchy(n)),
        ("rayleigh", lambda: continuous["Rayleigh"](0, stream, n, ptr, 0.0, 1.0), lambda: gen.rayleigh(1.0, n)),
        ("gumbel(0, 1)", lambda: continuous["Gumbel"](0, stream, n, ptr, 0.0, 1.0), lambda: gen.gumbel(0.0, 1.0, n)),
        ("weibull(1.5)", lambda: continuous["Weibull"](0, stream, n, ptr, 1.5, 0.0, 1.0), lambda: gen.weibull(1.5, n)),
        ("gamma(2.5)", lambda: continuous["Gamma"](0, stream, n, ptr, 2.5, 0.0, 1.0),
         lambda: gen.standard_gamma(2.5, n, out=out[:n])),
        ("gamma(0.5)", lambda: continuous["Gamma"](0, stream, n, ptr, 0.5, 0.0, 1.0),
         lambda: gen.standard_gamma(0.5, n, out=out[:n])),
        ("gamma(100)", lambda: continuous["Gamma"](0, stream, n, ptr, 100.0, 0.0, 1.0),
         lambda: gen.standard_gamma(100.0, n, out=out[:n])),
        ("beta(2, 3)", lambda: continuous["Beta"](0, stream, n, ptr, 2.0, 3.0, 0.0, 1.0), lambda: gen.beta(2.0, 3.0, n))):
    compare(f"rng {what} float64", n, ours, theirs)

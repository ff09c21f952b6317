"""The Python module against the C library (called through ctypes, bit for bit), the zok program,
numpy and plain references. ZOK_KERNEL_SO, ZOK_PROGRAM and ZOK_FUNCTIONS_DEF name the build's files."""
import ctypes
import os
import re
import subprocess
import threading

import numpy as np
import pytest

import zok

LIB = ctypes.CDLL(os.environ["ZOK_KERNEL_SO"])
ROWS = [r for r in re.findall(r"^ZOK_VM_FUNCTION\(([sd]), *(\w+), *(\w+)", open(os.environ["ZOK_FUNCTIONS_DEF"]).read(), re.M)
        if "PACK" not in r[2]]  # the copies are not in the module
SUFFIX = {("s", "LA"): "_21", ("d", "LA"): "_50", ("s", "EP"): "_11", ("d", "EP"): "_26",
          ("s", "HA"): "_HA", ("d", "HA"): "_HA"}


def c_call(t, name, shape, acc, a, b):
    """The same row called through its exported stub, with arrays from numpy."""
    r, r2 = np.empty_like(a), np.empty_like(a)
    f = getattr(LIB, "_yub" + t + name + SUFFIX[(t, acc)])
    scalar = ctypes.c_float if t == "s" else ctypes.c_double
    p = lambda x: x.ctypes.data_as(ctypes.c_void_p)
    n = ctypes.c_int(a.size)
    if shape == "A_R":
        f(n, p(a), p(r))
    elif shape == "AB_R":
        f(n, p(a), p(b), p(r))
    elif shape == "AX_R":
        f(n, p(a), scalar(b[0]), p(r))
    elif shape == "A_RR":
        f(n, p(a), p(r), p(r2))
        return r, r2
    elif shape == "LINFRAC":
        f(n, p(a), p(b), scalar(2), scalar(1), scalar(0.5), scalar(3), p(r))
    return r


def py_call(name, shape, acc, a, b):
    f = getattr(zok.vm, name.lower())
    if shape in ("AB_R",):
        return f(a, b, accuracy=acc)
    if shape == "AX_R":
        return f(a, float(b[0]), accuracy=acc)
    if shape == "LINFRAC":
        return f(a, b, 2, 1, 0.5, 3, accuracy=acc)
    return f(a, accuracy=acc)


@pytest.mark.parametrize("t,name,shape", ROWS)
def test_every_row_equals_the_c_library_bit_for_bit(t, name, shape):
    dtype = np.float32 if t == "s" else np.float64
    rng = np.random.default_rng(len(name))
    a = rng.uniform(0.25, 4.0, 1003).astype(dtype)
    a[:5] = [0.0, 1.0, np.inf, np.nan, 1e-30]
    b = rng.uniform(0.25, 4.0, 1003).astype(dtype)
    for acc in ("HA", "LA", "EP"):
        ours, theirs = py_call(name, shape, acc, a, b), c_call(t, name, shape, acc, a, b)
        for x, y in zip(ours if shape == "A_RR" else [ours], theirs if shape == "A_RR" else [theirs]):
            assert x.dtype == dtype
            assert x.view(np.uint8).tobytes() == y.view(np.uint8).tobytes(), (name, acc)


@pytest.mark.parametrize("name,ref,bound", [("exp", np.exp, 2), ("ln", np.log, 2), ("sqrt", np.sqrt, 1),
                                            ("log10", np.log10, 2), ("cbrt", np.cbrt, 2)])
def test_ha_agrees_with_numpy(name, ref, bound):
    for dtype in (np.float32, np.float64):
        x = np.random.default_rng(1).uniform(0.01, 80.0, 10000).astype(dtype)
        ours, theirs = getattr(zok.vm, name)(x, accuracy="HA"), ref(x)
        ulps = np.abs(ours - theirs) / np.spacing(np.abs(theirs).astype(dtype))
        assert ulps.max() <= bound, (name, dtype, ulps.max())


def test_arguments_are_checked_not_crashed_on():
    x = np.linspace(0.5, 2.0, 10)
    with pytest.raises(TypeError):
        zok.vm.exp(x.astype(np.complex128))
    with pytest.raises(TypeError):
        zok.vm.exp(x, out=np.empty(10, np.float32))
    with pytest.raises(ValueError):
        zok.vm.exp(x, out=np.empty(9))
    with pytest.raises(TypeError):
        zok.vm.pow(x, x.astype(np.float32))
    with pytest.raises(ValueError):
        zok.vm.pow(x, x[:5])
    with pytest.raises(ValueError):
        zok.vm.exp(x, accuracy="XA")
    # Strided input is copied; integers become float64; out is filled in place.
    wide = np.linspace(0.5, 2.0, 20)
    assert np.array_equal(zok.vm.exp(wide[::2]), zok.vm.exp(wide[::2].copy()))
    assert zok.vm.sqrt([4, 9]).tolist() == [2.0, 3.0]
    out = np.empty(10)
    assert zok.vm.ln(x, out=out) is not None and np.array_equal(out, zok.vm.ln(x))
    assert zok.vm.exp(np.empty(0)).size == 0
    assert zok.vm.exp(np.ones((2, 3))).shape == (2, 3)


def test_mode_status_and_callback():
    old = zok.vm.set_mode(zok.vm.EP | zok.vm.ERRMODE_CALLBACK)
    try:
        assert zok.vm.mode() & 0xF == zok.vm.EP
        x = np.array([1.0, -1.0, 4.0, 0.0])
        # without accuracy=, the mode word's flavour runs
        u = np.random.default_rng(2).uniform(0.5, 2.0, 1000)
        assert np.array_equal(zok.vm.exp(u).view(np.uint64), zok.vm.exp(u, accuracy="EP").view(np.uint64))
        assert not np.array_equal(zok.vm.exp(u), zok.vm.exp(u, accuracy="HA"))
        seen = []

        def record(report):
            seen.append((report["index"], report["code"], report["function"]))
            report["res1"] = 42.0

        zok.vm.clear_status()
        zok.vm.set_error_callback(record)
        r = zok.vm.ln(x, accuracy="HA")
        assert seen == [(1, 1, "vdLn"), (3, 2, "vdLn")]
        assert r[1] == 42.0 and r[3] == 42.0 and r[2] == np.log(4.0)
        assert zok.vm.status() != 0

        def fail(report):
            raise KeyError("from the callback")

        zok.vm.set_error_callback(fail)
        with pytest.raises(KeyError):
            zok.vm.ln(x)
    finally:
        zok.vm.set_error_callback(None)
        zok.vm.set_mode(old)
        zok.vm.clear_status()


def zok_gen(*args):
    out = subprocess.run([os.environ["ZOK_PROGRAM"], "rng", "gen", *args], capture_output=True, text=True, check=True)
    return out.stdout.split()


def test_streams_equal_the_zok_program():
    assert zok.rng.Stream("MCG59", seed=7).integers(5).tolist() == [int(v) for v in zok_gen("MCG59", "--seed", "7", "-n", "5")]
    s = zok.rng.Stream("MRG32K3A", seed=[7, 8])
    assert s.uniform(4).tolist() == [float(v) for v in zok_gen("MRG32K3A", "--seed", "7,8", "-n", "4", "--double", "0,1")]
    wh = zok.rng.Stream("WH", seed=7, member=3).integers(2)
    assert wh.ravel().tolist() == [int(v) for v in zok_gen("WH:3", "--seed", "7", "-n", "2")]
    # copy, skip-ahead and leapfrog against drawing and discarding
    a = zok.rng.Stream("MCG31M1", seed=5)
    whole = a.copy().integers(30)
    b = a.copy()
    b.skip_ahead(10)
    assert b.integers(20).tolist() == whole[10:].tolist()
    a.leapfrog(2, 3)
    assert a.integers(10).tolist() == whole[2::3].tolist()
    f = zok.rng.Stream("MCG31M1", seed=5).uniform(5, -1.0, 3.0, dtype=np.float32)
    assert f.dtype == np.float32 and ((f >= -1) & (f < 3)).all()


def test_stream_errors_raise_with_their_status():
    with pytest.raises(zok.Error) as e:
        zok.rng.Stream("WH", member=273)
    assert e.value.status == -1000 and "-1000" in str(e.value)
    with pytest.raises(zok.Error) as e:
        zok.rng.Stream("R250", seed=1).leapfrog(0, 2)
    assert e.value.status == -1002
    with pytest.raises(ValueError):
        zok.rng.Stream("NOSUCH")
    with pytest.raises(ValueError):
        zok.rng.Stream().integers(-1)


def test_statistics_equal_numpy():
    x = np.random.default_rng(3).normal(size=(3, 500)) * [[1], [10], [0.1]] + [[0], [5], [-2]]
    r = zok.stats.summarize(x, estimates=("mean", "variance", "covariance", "correlation", "min", "max"))
    np.testing.assert_allclose(r["mean"], x.mean(axis=1), rtol=1e-13, atol=1e-15)
    np.testing.assert_allclose(r["variance"], x.var(axis=1, ddof=1), rtol=1e-12)
    np.testing.assert_allclose(r["covariance"], np.cov(x), rtol=1e-12, atol=1e-14)
    # the correlation matrix keeps the variances on its diagonal, as the C routine writes it
    np.testing.assert_allclose(r["correlation"], np.corrcoef(x) - np.eye(3) + np.diag(r["variance"]), rtol=1e-12,
                               atol=1e-14)
    assert np.array_equal(r["min"], x.min(axis=1)) and np.array_equal(r["max"], x.max(axis=1))
    # columns as variables, weights, and portions accumulated in a task
    rc = zok.stats.summarize(x.T.copy(), estimates=("mean",), rowwise=False)
    np.testing.assert_allclose(rc["mean"], r["mean"], rtol=1e-14)
    w = np.random.default_rng(4).uniform(0, 2, 500)
    rw = zok.stats.summarize(x, weights=w, estimates=("mean",))
    np.testing.assert_allclose(rw["mean"], (x * w).sum(axis=1) / w.sum(), rtol=1e-12)
    task = zok.stats.Task(3, ["mean", "covariance", "max"])
    for part in np.array_split(x, 4, axis=1):
        task.update(part)
    parts = task.result()
    np.testing.assert_allclose(parts["covariance"], np.cov(x), rtol=1e-12, atol=1e-14)
    assert np.array_equal(parts["max"], x.max(axis=1))
    with pytest.raises(zok.Error) as e:
        zok.stats.summarize(x, weights=-w, estimates=("mean",))
    assert e.value.status == -4005
    with pytest.raises(ValueError):
        zok.stats.summarize(x, estimates=("median-ish",))


def test_merged_parts_equal_numpy_on_the_whole():
    x, w = np.random.default_rng(6).exponential(size=(2, 9000)) + [[1e9], [3.0]], np.linspace(0.5, 2, 9000)
    tasks = [zok.stats.Task(2, ["mean", "covariance", "max"]) for _ in range(3)]
    for t, cols in zip(tasks, np.split(np.arange(9000), [1, 4000])):
        t.update(x[:, cols], w[cols])
    r = zok.stats.merge(zok.stats.merge(tasks[0], tasks[1]), tasks[2]).result()
    np.testing.assert_allclose(r["mean"], (x * w).sum(axis=1) / w.sum(), rtol=1e-14)
    np.testing.assert_allclose(r["covariance"], np.cov(x, aweights=w), rtol=1e-9, atol=1e-9)
    assert np.array_equal(r["max"], x.max(axis=1)) and np.array_equal(tasks[0].result()["max"], x[:, 0])


def test_search_equals_searchsorted():
    rng = np.random.default_rng(5)
    nodes = np.sort(rng.uniform(0, 1, 1000))
    sites = np.concatenate([rng.uniform(-0.1, 1.1, 5000), nodes[:10], [nodes[-1], np.nan]])
    cells = zok.fit.search(nodes, sites)
    ref = np.searchsorted(nodes, sites, side="right")
    ref[sites == nodes[-1]] = nodes.size - 1
    ref[np.isnan(sites)] = nodes.size
    assert np.array_equal(cells, ref)
    even = zok.fit.search([0.0, 1.0], sites[:100], uniform=True, nx=11)
    assert np.array_equal(even, zok.fit.search(np.linspace(0, 1, 11), sites[:100]))
    with pytest.raises(zok.Error) as e:
        zok.fit.search([0.0], [0.5])
    assert e.value.status == -1004


def test_threads_share_nothing_but_the_library():
    x = np.random.default_rng(6).uniform(0.1, 10, 200000)
    results = [None] * 4

    def work(i):
        results[i] = zok.vm.ln(x, accuracy="LA")

    threads = [threading.Thread(target=work, args=(i,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(np.array_equal(r, results[0]) for r in results)


def test_keyword_and_positional_arguments():
    x = np.array([0.5, 2.0])
    assert np.array_equal(zok.vm.pow(y=x, x=x), zok.vm.pow(x, x))
    assert np.array_equal(zok.vm.powx(x, b=2.0), x * x)
    assert np.array_equal(zok.vm.linearfrac(x, x, 1, 0, 0, 1), x)
    for bad in (lambda: zok.vm.exp(x, x), lambda: zok.vm.exp(x, nope=1), lambda: zok.vm.exp(),
                lambda: zok.vm.exp(x, x=x), lambda: zok.vm.powx(x, "two")):
        with pytest.raises(TypeError):
            bad()


def test_importing_zok_first_leaves_numpy_working():
    # The library's own dependencies must not displace what numpy loads after it (same SONAMEs).
    import sys
    code = "import zok, numpy; print(float(numpy.dot(numpy.ones(3), numpy.ones(3))))"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert out.returncode == 0 and out.stdout.strip() == "3.0", out.stderr

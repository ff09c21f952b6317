"""zok on numpy arrays: vector math (zok.vm), random streams (zok.rng), summary statistics
(zok.stats) and cell search (zok.fit). Kernel calls release the GIL; contiguous float32/float64
input is used in place, other input is converted first (a contiguous copy, integers to float64)."""
import sys as _sys

from ._zok import Error, fit, rng, stats, vm


def _summarize(x, weights=None, estimates=("mean", "variance"), rowwise=True, dtype=None):
    """Estimates of the variables of x in one call: rows are variables when rowwise (a 1-D x is one
    variable). Returns a dict of numpy arrays (covariance and correlation as p x p matrices)."""
    import numpy as np

    x = np.asarray(x)
    if dtype is None:
        dtype = np.float32 if x.dtype == np.float32 else np.float64
    p = 1 if x.ndim == 1 else (x.shape[0] if rowwise else x.shape[1])
    task = stats.Task(p, list(estimates), dtype)
    task.update(x, weights, rowwise)
    return task.result()


stats.summarize = _summarize
for _name in ("vm", "rng", "stats", "fit"):
    _sys.modules[__name__ + "." + _name] = globals()[_name]
__all__ = ["Error", "vm", "rng", "stats", "fit"]

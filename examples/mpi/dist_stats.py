"""dist_stats with mpi4py (Debian python3-mpi4py): every rank summarises its share of the observations
with a zok.stats.Task, and comm.reduce folds the ranks' tasks with zok.stats.merge (tasks pickle).
    mpirun -np R python3 examples/mpi/dist_stats.py [-n OBS] [--offset MU] [--weights] [--check TOL]
(PYTHONPATH: the zok module.) --check: rank 0 compares the result with numpy over all observations
and fails (status 1) above TOL relative to each estimate's largest magnitude."""
import argparse
import sys

import numpy as np
from mpi4py import MPI

import zok

ap = argparse.ArgumentParser()
ap.add_argument("-n", type=int, default=1000000)
ap.add_argument("--offset", type=float, default=0.0)
ap.add_argument("--weights", action="store_true")
ap.add_argument("--check", type=float)
args = ap.parse_args()
comm = MPI.COMM_WORLD
rank, ranks, n, p = comm.Get_rank(), comm.Get_size(), args.n, 4
first, last = n // ranks * rank, (n if rank == ranks - 1 else n // ranks * (rank + 1))


def observations(first, last):
    """Rows first..last-1 of one MCG59 sequence, p values and a weight a row: the same data for any
    number of ranks."""
    s = zok.rng.Stream("MCG59", seed=2024)
    s.skip_ahead(first * (p + 1))
    u = s.uniform((last - first) * (p + 1)).reshape(-1, p + 1)
    return u[:, :p] * np.arange(1, p + 1) + np.arange(p) + args.offset, (0.5 + u[:, p] if args.weights else None)


task = zok.stats.Task(p, ["mean", "variance", "covariance", "min", "max"])
task.update(*observations(first, last), rowwise=False)
total = comm.reduce(task, op=zok.stats.merge, root=0)
if rank == 0:
    r = total.result()
    print("%d observations over %d ranks: mean %s, variance %s" % (n, ranks, r["mean"], r["variance"]))
    if args.check is not None:
        x, w = observations(0, n)
        ref = {"mean": np.average(x, axis=0, weights=w), "covariance": np.cov(x.T, aweights=w),
               "min": x.min(axis=0), "max": x.max(axis=0)}
        worst = max(np.abs(r[k] - v).max() / np.abs(v).max() for k, v in ref.items())
        print("largest relative difference from numpy over all observations: %.3g" % worst)
        sys.exit(0 if worst <= args.check else 1)

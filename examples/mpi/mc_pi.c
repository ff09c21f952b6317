/* pi by Monte Carlo over MPI ranks: N points in the unit square, 4 x (points inside the quarter circle)
 * / N, with the draws split over the ranks by skip-ahead, leapfrog or one MT2203 member per rank.
 *   mpirun -np R mc_pi [--split skip|leapfrog|mt2203] [-n POINTS] [--seed S] */
#include <mpi.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "zok/random.h"

enum { kBlock = 4096 }; /* points per request */

static void check(int32_t status, const char* what) {
  if (status != 0) {
    fprintf(stderr, "mc_pi: %s: status %d\n", what, (int)status);
    MPI_Abort(MPI_COMM_WORLD, 1);
  }
}

/* Points whose coordinates come one after another from s: x from even elements, y from odd ones. */
static uint64_t hits_paired(StreamRecord* s, int64_t points) {
  static double u[2 * kBlock];
  uint64_t hits = 0;
  for (int64_t done = 0; done < points; done += kBlock) {
    const int32_t m = (int32_t)(points - done < kBlock ? points - done : kBlock);
    check(_qordRngUniform(0, s, 2 * m, u, 0.0, 1.0), "uniforms");
    for (int32_t i = 0; i < m; ++i) hits += u[2 * i] * u[2 * i] + u[2 * i + 1] * u[2 * i + 1] < 1.0;
  }
  return hits;
}

/* Points whose x and y come from two streams. */
static uint64_t hits_split(StreamRecord* sx, StreamRecord* sy, int64_t points) {
  static double x[kBlock], y[kBlock];
  uint64_t hits = 0;
  for (int64_t done = 0; done < points; done += kBlock) {
    const int32_t m = (int32_t)(points - done < kBlock ? points - done : kBlock);
    check(_qordRngUniform(0, sx, m, x, 0.0, 1.0), "uniforms");
    check(_qordRngUniform(0, sy, m, y, 0.0, 1.0), "uniforms");
    for (int32_t i = 0; i < m; ++i) hits += x[i] * x[i] + y[i] * y[i] < 1.0;
  }
  return hits;
}

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  int rank = 0, ranks = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &ranks);
  const char* split = "skip";
  int64_t n = 10000000;
  uint32_t seed = 7;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--split") == 0 && i + 1 < argc)
      split = argv[++i];
    else if (strcmp(argv[i], "-n") == 0 && i + 1 < argc)
      n = strtoll(argv[++i], NULL, 10);
    else if (strcmp(argv[i], "--seed") == 0 && i + 1 < argc)
      seed = (uint32_t)strtoul(argv[++i], NULL, 10);
    else
      split = "?";
  }
  const int skip = strcmp(split, "skip") == 0, leap = strcmp(split, "leapfrog") == 0,
            member = strcmp(split, "mt2203") == 0;
  if (!(skip || leap || member) || n < 1 || (member && ranks > 6024)) {
    if (rank == 0) fprintf(stderr, "usage: mc_pi [--split skip|leapfrog|mt2203] [-n POINTS] [--seed S]\n");
    MPI_Finalize();
    return 2;
  }

  MPI_Barrier(MPI_COMM_WORLD);
  const double t0 = MPI_Wtime();
  StreamRecord *s = NULL, *sy = NULL;
  /* This rank's points: a contiguous range for skip-ahead and members, every ranks-th for leapfrog. */
  const int64_t begin = n / ranks * rank, end = rank == ranks - 1 ? n : n / ranks * (rank + 1);
  const int64_t mine = leap ? (n - rank + ranks - 1) / ranks : end - begin;
  uint64_t hits = 0;
  if (skip) {
    /* One MCG59 sequence; point i takes its elements 2i and 2i + 1, so this rank starts 2*begin in. */
    check(__qorNewStreamEx(&s, ZOK_RNG_MCG59, 1, &seed), "new stream");
    check(__qorSkipAheadStream(s, 2 * (uint64_t)begin), "skip-ahead");
    hits = hits_paired(s, mine);
  } else if (leap) {
    /* The same sequence dealt out by leapfrog: x of point i is element 2i, y element 2i + 1, and this
     * rank takes the points i = rank, rank + ranks, ..., so x and y are streams 2*rank and 2*rank + 1
     * of 2*ranks. */
    check(__qorNewStreamEx(&s, ZOK_RNG_MCG59, 1, &seed), "new stream");
    check(__qorCopyStream(&sy, s), "copy stream");
    check(__qorLeapfrogStream(s, 2 * rank, 2 * ranks), "leapfrog");
    check(__qorLeapfrogStream(sy, 2 * rank + 1, 2 * ranks), "leapfrog");
    hits = hits_split(s, sy, mine);
  } else {
    /* Member `rank` of the MT2203 family: independent sequences, so the estimate depends on the
     * number of ranks (each draws its own share). */
    check(__qorNewStreamEx(&s, ZOK_RNG_MT2203 + rank, 1, &seed), "new stream");
    hits = hits_paired(s, mine);
  }
  /* Integer counts add exactly in any order: the total cannot depend on how the ranks are grouped. */
  uint64_t total = 0;
  MPI_Reduce(&hits, &total, 1, MPI_UINT64_T, MPI_SUM, 0, MPI_COMM_WORLD);
  const double seconds = MPI_Wtime() - t0;
  double slowest = 0;
  MPI_Reduce(&seconds, &slowest, 1, MPI_DOUBLE, MPI_MAX, 0, MPI_COMM_WORLD);
  if (rank == 0) {
    printf("pi ~ %.17g (%llu of %lld points inside)\n", 4.0 * (double)total / (double)n,
           (unsigned long long)total, (long long)n);
    if (member)
      printf("note: MT2203 members are independent streams; the estimate depends on the number of ranks\n");
    fprintf(stderr, "split %s, %d ranks: %.3f s, %.4g uniforms per second\n", split, ranks, slowest,
            2.0 * (double)n / slowest);
  }
  __qorDeleteStream(&s);
  __qorDeleteStream(&sy);
  MPI_Finalize();
  return 0;
}

/* Mean, variance, covariance, minimum and maximum of data spread over MPI ranks: every rank draws its
 * share of the observations from one stream (skip-ahead to its first observation), runs the
 * summary-statistics task over it, and MPI_Reduce folds the partial results together with the
 * library's merge as a user-defined operation.
 *   mpirun -np R dist_stats [-n OBS] [-p VARS] [--offset MU] [--weights] [--check TOL]
 * --check: rank 0 also runs the task over all observations in one pass and fails (status 1) when the
 * merged result differs from it by more than TOL relative to each array's largest magnitude. */
#include <math.h>
#include <mpi.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "zok/random.h"
#include "zok/summary_stats.h"

static int32_t p = 4;

/* A partial result as one record of doubles: weight pair, then mean, raw moment 2, variance,
 * covariance (p x p), minimum and maximum. */
enum { kPair = 0, kMean = 2 };
static int64_t at_raw2(void) {
  return kMean + p;
}
static int64_t at_var(void) {
  return kMean + 2 * p;
}
static int64_t at_cov(void) {
  return kMean + 3 * p;
}
static int64_t at_min(void) {
  return kMean + 3 * p + (int64_t)p * p;
}
static int64_t at_max(void) {
  return at_min() + p;
}
static int64_t record_size(void) {
  return at_max() + p;
}

static const uint64_t kEstimates = ZOK_SS_MEAN | ZOK_SS_CENTRAL2 | ZOK_SS_COV | ZOK_SS_MIN | ZOK_SS_MAX;

static void check(int32_t status, const char* what) {
  if (status != 0) {
    fprintf(stderr, "dist_stats: %s: status %d\n", what, (int)status);
    MPI_Abort(MPI_COMM_WORLD, 1);
  }
}

/* A task whose output arrays are those of record r (observations, if any, given later). */
static SSTask* record_task(double* r, const int32_t* n, const double* x, const double* w) {
  static const int32_t storage = ZOK_SS_STORAGE_COLUMNS, full = ZOK_SS_MATRIX_FULL;
  SSTask* t = NULL;
  check(__qordSSNewTask(&t, &p, n, &storage, x, w, NULL, 0), "new task");
  check(__qordSSEditMoments(t, r + kMean, r + at_raw2(), NULL, NULL, r + at_var(), NULL, NULL), "moments");
  check(__qordSSEditCovCor(t, NULL, r + at_cov(), &full, NULL, NULL), "covariance");
  check(__qordSSEditTask(t, ZOK_SS_ID_MIN, r + at_min()), "minimum");
  check(__qordSSEditTask(t, ZOK_SS_ID_MAX, r + at_max()), "maximum");
  check(__qordSSEditTask(t, ZOK_SS_ID_ACCUM_WEIGHTS, r + kPair), "weights");
  return t;
}

/* One pass over n observations (columns storage) into record r. */
static void partial(double* r, int32_t n, const double* x, const double* w) {
  memset(r, 0, (size_t)record_size() * sizeof(double));
  for (int32_t j = 0; j < p; ++j) r[at_min() + j] = INFINITY, r[at_max() + j] = -INFINITY;
  if (n == 0) return;
  SSTask* t = record_task(r, &n, x, w);
  check(_qordSSBasic(t, kEstimates & ~(ZOK_SS_MIN | ZOK_SS_MAX), ZOK_SS_METHOD_ONEPASS, NULL), "basic");
  check(_qordSSMinmax(t, ZOK_SS_MIN | ZOK_SS_MAX, ZOK_SS_METHOD_ONEPASS), "minmax");
  __qorSSDeleteTask(&t);
}

/* The reduction: inout becomes the merge of inout and in, record by record. */
static void merge_records(void* in, void* inout, int* count, MPI_Datatype* type) {
  (void)type;
  for (int k = 0; k < *count; ++k) {
    double* a = (double*)inout + k * record_size();
    double* b = (double*)in + k * record_size();
    SSTask* ta = record_task(a, NULL, NULL, NULL);
    SSTask* tb = record_task(b, NULL, NULL, NULL);
    check(_qordSSMerge(ta, tb, kEstimates), "merge");
    __qorSSDeleteTask(&ta);
    __qorSSDeleteTask(&tb);
  }
}

/* Observations [first, first + n) with their weights: p + 2 uniforms each from one MCG59 sequence,
 * a common part, one part per variable and the weight. */
static void draw(int64_t first, int32_t n, double offset, double* x, double* w) {
  StreamRecord* s = NULL;
  const uint32_t seed = 2024;
  check(__qorNewStreamEx(&s, ZOK_RNG_MCG59, 1, &seed), "stream");
  check(__qorSkipAheadStream(s, (uint64_t)first * (uint64_t)(p + 2)), "skip-ahead");
  double* u = malloc((size_t)(p + 2) * sizeof(double));
  for (int32_t i = 0; i < n; ++i) {
    check(_qordRngUniform(0, s, p + 2, u, 0.0, 1.0), "uniforms");
    for (int32_t j = 0; j < p; ++j)
      x[(int64_t)i * p + j] = offset + j + 1.2 * u[0] + (1 + 0.5 * j) * (u[j + 1] - 0.5) * 3.4;
    w[i] = 0.5 + u[p + 1];
  }
  free(u);
  __qorDeleteStream(&s);
}

/* Largest difference of two records over each array's largest magnitude. */
static double difference(const double* a, const double* b) {
  const int64_t bounds[] = {kPair, kMean, at_raw2(), at_var(), at_cov(), at_min(), at_max(), record_size()};
  double worst = 0;
  for (int s = 0; s + 1 < 8; ++s) {
    if (bounds[s] == at_raw2()) continue; /* kept only for the variance to merge */
    double scale = 0, diff = 0;
    for (int64_t i = bounds[s]; i < bounds[s + 1]; ++i) {
      scale = fmax(scale, fabs(b[i]));
      diff = fmax(diff, fabs(a[i] - b[i]));
    }
    if (scale > 0 && diff / scale > worst) worst = diff / scale;
  }
  return worst;
}

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  int rank = 0, ranks = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &ranks);
  int64_t n = 1000000;
  double offset = 0, tol = -1;
  int weighted = 0, bad = 0;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "-n") == 0 && i + 1 < argc)
      n = strtoll(argv[++i], NULL, 10);
    else if (strcmp(argv[i], "-p") == 0 && i + 1 < argc)
      p = atoi(argv[++i]);
    else if (strcmp(argv[i], "--offset") == 0 && i + 1 < argc)
      offset = atof(argv[++i]);
    else if (strcmp(argv[i], "--check") == 0 && i + 1 < argc)
      tol = atof(argv[++i]);
    else if (strcmp(argv[i], "--weights") == 0)
      weighted = 1;
    else
      bad = 1;
  }
  if (bad || n < 1 || n / ranks > INT32_MAX || (tol >= 0 && n > INT32_MAX) || p < 1 || p > 1000) {
    if (rank == 0)
      fprintf(stderr, "usage: dist_stats [-n OBS] [-p VARS] [--offset MU] [--weights] [--check TOL]\n");
    MPI_Finalize();
    return 2;
  }

  const int64_t first = n / ranks * rank, last = rank == ranks - 1 ? n : n / ranks * (rank + 1);
  const int32_t mine = (int32_t)(last - first);
  double* x = malloc(((size_t)mine * p + 1) * sizeof(double));
  double* w = malloc(((size_t)mine + 1) * sizeof(double));
  draw(first, mine, offset, x, w);
  double* r = malloc((size_t)record_size() * sizeof(double));
  double* merged = malloc((size_t)record_size() * sizeof(double));

  MPI_Datatype record;
  MPI_Type_contiguous((int)record_size(), MPI_DOUBLE, &record);
  MPI_Type_commit(&record);
  MPI_Op op;
  /* Not commutative: MPI then combines in rank order, so a given number of ranks always rounds alike. */
  MPI_Op_create(merge_records, 0, &op);

  MPI_Barrier(MPI_COMM_WORLD);
  const double t0 = MPI_Wtime();
  partial(r, mine, x, weighted ? w : NULL);
  const double t1 = MPI_Wtime();
  MPI_Reduce(r, merged, 1, record, op, 0, MPI_COMM_WORLD);
  const double t2 = MPI_Wtime();

  int status = 0;
  if (rank == 0) {
    printf("%lld observations of %d variables over %d ranks, total weight %.17g\n", (long long)n, (int)p,
           ranks, merged[kPair]);
    printf("  %-4s %24s %24s %14s %14s\n", "var", "mean", "variance", "min", "max");
    for (int32_t j = 0; j < p; ++j)
      printf("  x%-3d %24.17g %24.17g %14.10g %14.10g\n", (int)j + 1, merged[kMean + j], merged[at_var() + j],
             merged[at_min() + j], merged[at_max() + j]);
    printf("  cov(x1, x2) %.17g\n", p > 1 ? merged[at_cov() + 1] : merged[at_cov()]);
    /* The merge's own cost, repeated to be measurable, against this rank's pass over its data. */
    double* copy = malloc((size_t)record_size() * sizeof(double));
    const int reps = 1000;
    const double m0 = MPI_Wtime();
    for (int k = 0; k < reps; ++k) {
      int one = 1;
      memcpy(copy, r, (size_t)record_size() * sizeof(double));
      merge_records(r, copy, &one, &record);
    }
    const double per_merge = (MPI_Wtime() - m0) / reps;
    free(copy);
    fprintf(stderr, "rank 0: data pass %.3f ms, reduce %.3f ms, one merge %.2f us\n", (t1 - t0) * 1e3,
            (t2 - t1) * 1e3, per_merge * 1e6);
    if (tol >= 0) {
      double* xa = malloc((size_t)n * p * sizeof(double));
      double* wa = malloc((size_t)n * sizeof(double));
      double* whole = malloc((size_t)record_size() * sizeof(double));
      draw(0, (int32_t)n, offset, xa, wa);
      partial(whole, (int32_t)n, xa, weighted ? wa : NULL);
      const double d = difference(merged, whole);
      printf("largest relative difference from one process: %.3g (tolerance %g)\n", d, tol);
      status = d <= tol ? 0 : 1;
      free(xa);
      free(wa);
      free(whole);
    }
  }
  MPI_Op_free(&op);
  MPI_Type_free(&record);
  free(x);
  free(w);
  free(r);
  free(merged);
  MPI_Finalize();
  return status;
}

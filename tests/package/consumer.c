/* A program built against an installed zok: every public header, one call into each service. It
 * prints what it computed and exits 0 only when every result is the known one. */
#include <math.h>
#include <stdint.h>
#include <stdio.h>

#include "zok/core_services.h"
#include "zok/data_fitting.h"
#include "zok/random.h"
#include "zok/summary_stats.h"
#include "zok/vector_math.h"

static int failures = 0;

static void check(int ok, const char* what) {
  if (!ok) {
    printf("failed: %s\n", what);
    ++failures;
  }
}

int main(void) {
  const double a[3] = {0.0, 1.0, -1.0};
  double r[3];
  _yubdExp(3, a, r);
  check(r[0] == 1.0 && fabs(r[1] - 2.718281828459045) < 1e-15 && fabs(r[2] - 0.36787944117144233) < 1e-16,
        "dExp");

  /* MCG31M1 seeded with 1 gives the seed, then 1132489760 and 826537482 (published outputs). */
  StreamRecord* stream = NULL;
  const uint32_t seed = 1;
  uint32_t words[3] = {0, 0, 0};
  check(__qorNewStreamEx(&stream, ZOK_RNG_MCG31M1, 1, &seed) == 0, "new MCG31M1 stream");
  check(__qoriBRngMCG31M1(stream, 3, words) == 0, "draw three words");
  check(words[0] == 1u && words[1] == 1132489760u && words[2] == 826537482u, "MCG31M1 words");
  check(__qorDeleteStream(&stream) == 0 && stream == NULL, "delete the stream");

  const double x[4] = {1.0, 2.0, 3.0, 6.0};
  double mean = 0.0;
  const int32_t p = 1, n = 4, storage = ZOK_SS_STORAGE_ROWS;
  SSTask* task = NULL;
  check(__qordSSNewTask(&task, &p, &n, &storage, x, NULL, NULL, 0) == 0, "new statistics task");
  check(__qordSSEditTask(task, ZOK_SS_ID_MEAN, &mean) == 0, "register the mean");
  check(_qordSSBasic(task, ZOK_SS_MEAN, ZOK_SS_METHOD_ONEPASS, NULL) == 0 && mean == 3.0, "mean");
  check(__qorSSDeleteTask(&task) == 0, "delete the statistics task");

  const double nodes[4] = {0.0, 1.0, 2.5, 4.0}, sites[4] = {-1.0, 0.5, 2.5, 9.0};
  int32_t cells[4] = {-1, -1, -1, -1};
  DfTask* fit = NULL;
  check(zok_df_kernel_dNewTask1D(&fit, 4, nodes, 0, 0, NULL, 0, 0) == 0, "new fitting task");
  check(zok_df_kernel_dDFSearch1D(fit, 0, 4, sites, 0, NULL, cells, NULL, NULL, NULL) == 0, "cell search");
  check(cells[0] == 0 && cells[1] == 1 && cells[2] == 3 && cells[3] == 4, "cells");
  check(zok_df_kernel_DeleteTask(&fit) == 0, "delete the fitting task");

  printf("exp(1) = %.17g, words %u %u %u, mean %g, cells %d %d %d %d\n", r[1], words[0], words[1], words[2],
         mean, cells[0], cells[1], cells[2], cells[3]);
  return failures == 0 ? 0 : 1;
}

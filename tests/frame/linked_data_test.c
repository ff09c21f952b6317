/* A C program linked against the kernel library (not loaded by name) reads its exported data
 * directly: the kernel tables are filled, their kernels compute, the cost tables sit 24 bytes
 * behind them, and the registry rows carry their operations. */
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "zok/random.h"
#include "zok/vector_math.h"

static int failures = 0;

static void check(int ok, const char* what) {
  if (!ok) {
    printf("failed: %s\n", what);
    ++failures;
  }
}

int main(void) {
  void** const tables[3] = {zok_yub_kernel_sAdd_ttab, zok_yub_kernel_dExp_ttab, zok_yub_kernel_sSqrt_ttab};
  for (int t = 0; t < 3; ++t)
    for (int slot = 0; slot < 3; ++slot) check(tables[t][slot] != NULL, "a table slot is filled");
  if (failures != 0) return 1;

  const float a[3] = {1.0f, 2.0f, 3.0f}, b[3] = {0.5f, 0.25f, 4.0f};
  float r[3] = {0};
  ((void (*)(int, const float*, const float*, float*))zok_yub_kernel_sAdd_ttab[1])(3, a, b, r);
  check(r[0] == 1.5f && r[1] == 2.25f && r[2] == 7.0f, "sAdd through its table");
  const double x[2] = {0.0, 1.0};
  double y[2] = {0};
  ((void (*)(int, const double*, double*))zok_yub_kernel_dExp_ttab[1])(2, x, y);
  check(y[0] == 1.0 && fabs(y[1] - 2.718281828459045) < 1e-15, "dExp through its table");
  float q[2] = {0};
  const float sq[2] = {4.0f, 2.25f};
  ((void (*)(int, const float*, float*))zok_yub_kernel_sSqrt_ttab[2])(2, sq, q);
  check(fabsf(q[0] - 2.0f) < 1e-3f && fabsf(q[1] - 1.5f) < 1e-3f, "sSqrt EP through its table");

  /* Read 24 bytes behind the table, as callers that index the tables do, and by its own name. */
  const float costs[4] = {10.22f, 13.69f, 8.48f, 0.0f};
  check(memcmp((const char*)zok_yub_kernel_dExp_ttab + 24, costs, sizeof costs) == 0,
        "dExp's cost figures sit 24 bytes behind its kernel table");
  check(memcmp(zok_yub_kernel_dExp_ctab, costs, sizeof costs) == 0, "dExp's cost table holds its figures");

  check(__RegBrngsNew[0].init_stream != NULL && __RegBrngs[0].generate_i != NULL,
        "registry rows carry their operations");
  return failures == 0 ? 0 : 1;
}

/* A C program linked against the kernel library reads its exported data directly: the kernel
 * tables are filled and the registry rows carry their operations. */
#include <stdio.h>

#include "zok/random.h"
#include "zok/vector_math.h"

int main(void) {
  const float a[3] = {1.0f, 2.0f, 3.0f}, b[3] = {0.5f, 0.25f, 4.0f};
  float r[3] = {0};
  int failures = 0;
  for (int slot = 0; slot < 3; ++slot) {
    if (zok_yub_kernel_sAdd_ttab[slot] == NULL) {
      printf("zok_yub_kernel_sAdd_ttab[%d] is empty\n", slot);
      ++failures;
    }
  }
  if (failures == 0) {
    ((void (*)(int, const float*, const float*, float*))zok_yub_kernel_sAdd_ttab[1])(3, a, b, r);
    if (r[0] != 1.5f || r[1] != 2.25f || r[2] != 7.0f) {
      printf("the table's kernel gave %g %g %g\n", r[0], r[1], r[2]);
      ++failures;
    }
  }
  if (__RegBrngsNew[0].init_stream == NULL || __RegBrngs[0].generate_i == NULL) {
    printf("registry rows without operations\n");
    ++failures;
  }
  return failures == 0 ? 0 : 1;
}

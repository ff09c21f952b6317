// The baselines of the pack and unpack kernels: plain indexed copy loops with 32-bit counts,
// increments, indices and masks, compiled -O3 once per instruction set like the kernels.
#include "bench/vm_pack_loops.h"

#include <cstdint>
#include <type_traits>

namespace zok::bench::ZOK_ISA_NS {
namespace {

struct Unit16 {
  uint64_t lo, hi;
};
template <int B>
using Unit = std::conditional_t<B == 4, uint32_t, std::conditional_t<B == 8, uint64_t, Unit16>>;

template <typename U>
void pack_i(int64_t n, const void* av, int64_t inc, void* yv, int32_t) {
  const U* a = static_cast<const U*>(av);
  U* y = static_cast<U*>(yv);
  const int m = static_cast<int>(n), s = static_cast<int>(inc);
  for (int i = 0; i < m; ++i) y[i] = a[static_cast<int64_t>(i) * s];
}
template <typename U>
void pack_v(int64_t n, const void* av, const void* ix, void* yv, int32_t) {
  const U* a = static_cast<const U*>(av);
  const int* ia = static_cast<const int*>(ix);
  U* y = static_cast<U*>(yv);
  for (int i = 0; i < static_cast<int>(n); ++i) y[i] = a[ia[i]];
}
template <typename U>
void pack_m(int64_t n, const void* av, const void* mx, void* yv, int32_t) {
  const U* a = static_cast<const U*>(av);
  const int* ma = static_cast<const int*>(mx);
  U* y = static_cast<U*>(yv);
  for (int i = 0, j = 0; i < static_cast<int>(n); ++i)
    if (ma[i]) y[j++] = a[i];
}
template <typename U>
void unpack_i(int64_t n, const void* av, void* yv, int64_t inc, int32_t) {
  const U* a = static_cast<const U*>(av);
  U* y = static_cast<U*>(yv);
  const int m = static_cast<int>(n), s = static_cast<int>(inc);
  for (int i = 0; i < m; ++i) y[static_cast<int64_t>(i) * s] = a[i];
}
template <typename U>
void unpack_v(int64_t n, const void* av, void* yv, const void* ix, int32_t) {
  const U* a = static_cast<const U*>(av);
  const int* iy = static_cast<const int*>(ix);
  U* y = static_cast<U*>(yv);
  for (int i = 0; i < static_cast<int>(n); ++i) y[iy[i]] = a[i];
}
template <typename U>
void unpack_m(int64_t n, const void* av, void* yv, const void* mx, int32_t) {
  const U* a = static_cast<const U*>(av);
  const int* my = static_cast<const int*>(mx);
  U* y = static_cast<U*>(yv);
  for (int i = 0, j = 0; i < static_cast<int>(n); ++i)
    if (my[i]) y[i] = a[j++];
}

template <int B>
void fill(void* row[6]) {
  using U = Unit<B>;
  row[0] = reinterpret_cast<void*>(&pack_i<U>);
  row[1] = reinterpret_cast<void*>(&pack_v<U>);
  row[2] = reinterpret_cast<void*>(&pack_m<U>);
  row[3] = reinterpret_cast<void*>(&unpack_i<U>);
  row[4] = reinterpret_cast<void*>(&unpack_v<U>);
  row[5] = reinterpret_cast<void*>(&unpack_m<U>);
}

}  // namespace

void pack_loops(void* loops[4][6]) {
  fill<4>(loops[0]);
  fill<8>(loops[1]);
  fill<8>(loops[2]);
  fill<16>(loops[3]);
}

}  // namespace zok::bench::ZOK_ISA_NS

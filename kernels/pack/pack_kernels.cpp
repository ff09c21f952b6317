// Pack and unpack kernels (PackI, PackV, PackM, UnpackI, UnpackV, UnpackM) for s, d, c and z,
// compiled once per instruction set.
//
// Contract: results equal the plain ascending loop for every input, overlapping arrays included
// (where several elements land in one place the largest i stands). Elements move as whole 4, 8 or
// 16-byte units through integer registers, so signalling NaNs, payloads, -0 and denormals arrive
// unchanged under any floating-point control. No mode read, no control-word change, no reports.
#include <climits>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#if ZOK_ISA_LEVEL >= 3
#include <immintrin.h>
#endif

#include "frame/functions.h"

namespace zok::ZOK_ISA_NS {

namespace {

using vm::Fn;

// Units move as integers of their size. Arrays normally sit at their element's alignment; a caller
// may also pass units at any byte address (float pairs, doubles packed at 4 bytes), which the
// processor does not mind but the compiler's types must be told: Loose units have alignment 1.
// Each kernel takes the natural types when both arrays allow them, as they vectorise better.
struct Pair {
  uint64_t lo, hi;
};
template <typename W, int kWords>
struct __attribute__((packed, may_alias)) Loose {
  W w[kWords];
};
template <int kBytes>
using Unit = std::conditional_t<kBytes == 4, uint32_t, std::conditional_t<kBytes == 8, uint64_t, Pair>>;
template <int kBytes>
using LooseUnit = std::conditional_t<kBytes == 4, Loose<uint32_t, 1>,
                                     std::conditional_t<kBytes == 8, Loose<uint64_t, 1>, Loose<uint64_t, 2>>>;

template <int kBytes>
bool natural(const void* a, const void* y) {
  return ((reinterpret_cast<uintptr_t>(a) | reinterpret_cast<uintptr_t>(y)) % alignof(Unit<kBytes>)) == 0;
}

// Flag 1: n, the increment and the array elements are 32-bit (the upper halves of n and the
// increment are undefined then); any other flag: 64-bit.
inline int64_t count_of(int64_t v, int32_t flag) {
  return flag == 1 ? static_cast<int32_t>(v) : v;
}

// Whether every offset i * inc, 0 <= i < n, fits in a signed 32-bit integer.
inline bool fits_32(int64_t n, int64_t inc) {
  return n <= INT32_MAX && inc >= -INT32_MAX && inc <= INT32_MAX &&
         (inc == 0 || (n - 1) <= INT32_MAX / (inc < 0 ? -inc : inc));
}

// Whether [p, p + n) and [q, q + m) units share memory.
template <typename U>
bool overlap(const U* p, int64_t n, const U* q, int64_t m) {
  const auto a = reinterpret_cast<uintptr_t>(p), b = reinterpret_cast<uintptr_t>(q);
  return a < b + static_cast<uintptr_t>(m) * sizeof(U) && b < a + static_cast<uintptr_t>(n) * sizeof(U);
}

// ---- strided ----

template <typename U>
void pack_i(int64_t n_in, const void* av, int64_t inc_in, void* yv, int32_t flag) {
  const int64_t n = count_of(n_in, flag), inc = count_of(inc_in, flag);
  if (n <= 0) return;
  const U* a = static_cast<const U*>(av);
  U* y = static_cast<U*>(yv);
  // A contiguous source is one block copy unless the destination overlaps it from above, where the
  // ascending loop repeats what it has already written.
  if (inc == 1 && (y <= a || !overlap(a, n, y, n))) {
    if (y != a) std::memmove(y, a, static_cast<size_t>(n) * sizeof(U));
    return;
  }
  // Offsets that fit in 32 bits take 32-bit arithmetic, which vectorises into gathers with 32-bit
  // indices; the same offsets, so the same result.
  if (fits_32(n, inc)) {
    const int32_t m = static_cast<int32_t>(n), s = static_cast<int32_t>(inc);
    for (int32_t i = 0; i < m; ++i) y[i] = a[i * s];
    return;
  }
  for (int64_t i = 0; i < n; ++i) y[i] = a[i * inc];
}

template <typename U>
void unpack_i(int64_t n_in, const void* av, void* yv, int64_t inc_in, int32_t flag) {
  const int64_t n = count_of(n_in, flag), inc = count_of(inc_in, flag);
  if (n <= 0) return;
  const U* a = static_cast<const U*>(av);
  U* y = static_cast<U*>(yv);
  if (inc == 0 && !overlap(a, n, y, 1)) {  // every element lands in y[0]: the last one stands
    y[0] = a[n - 1];
    return;
  }
  if (inc == 1 && (y <= a || !overlap(a, n, y, n))) {
    if (y != a) std::memmove(y, a, static_cast<size_t>(n) * sizeof(U));
    return;
  }
  if (fits_32(n, inc)) {
    const int32_t m = static_cast<int32_t>(n), s = static_cast<int32_t>(inc);
    for (int32_t i = 0; i < m; ++i) y[i * s] = a[i];
    return;
  }
  for (int64_t i = 0; i < n; ++i) y[i * inc] = a[i];
}

// ---- indexed and masked: the list's width follows the flag ----

// Op<U, I>::run(n, a, list, y) for 32-bit (flag 1) or 64-bit list elements. Pack kernels take
// (n, a, list, y, flag), unpack kernels (n, a, y, list, flag).
template <typename U, template <typename, typename> class Op>
void with_list(int64_t n_in, const void* a, const void* list, void* y, int32_t flag) {
  const int64_t n = count_of(n_in, flag);
  if (n <= 0) return;
  if (flag == 1)
    Op<U, int32_t>::run(n, static_cast<const U*>(a), static_cast<const int32_t*>(list), static_cast<U*>(y));
  else
    Op<U, int64_t>::run(n, static_cast<const U*>(a), static_cast<const int64_t*>(list), static_cast<U*>(y));
}
template <typename U, template <typename, typename> class Op>
void pack_list(int64_t n, const void* a, const void* list, void* y, int32_t flag) {
  with_list<U, Op>(n, a, list, y, flag);
}
template <typename U, template <typename, typename> class Op>
void unpack_list(int64_t n, const void* a, void* y, const void* list, int32_t flag) {
  with_list<U, Op>(n, a, list, y, flag);
}

template <typename U, typename I>
struct PackV {
  static void run(int64_t n, const U* a, const I* ia, U* y) {
    for (int64_t i = 0; i < n; ++i) y[i] = a[static_cast<int64_t>(ia[i])];
  }
};

template <typename U, typename I>
struct UnpackV {
  static void run(int64_t n, const U* a, const I* iy, U* y) {
    for (int64_t i = 0; i < n; ++i) y[static_cast<int64_t>(iy[i])] = a[i];
  }
};

// ---- masked ----

#if ZOK_ISA_LEVEL >= 3
// Masked copies in 512-bit blocks: 16, 8 or 4 elements.
template <typename U>
constexpr int kLanes = 64 / static_cast<int>(sizeof(U));

// Bit l set when the mask element of element l of the block is non-zero (all its bits count).
template <typename U, typename I>
unsigned block_mask(const I* m) {
  if constexpr (sizeof(I) == 4) {
    if constexpr (kLanes<U> == 16) {
      const __m512i v = _mm512_loadu_si512(m);
      return _mm512_test_epi32_mask(v, v);
    } else if constexpr (kLanes<U> == 8) {
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m));
      return _mm256_test_epi32_mask(v, v);
    } else {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m));
      return _mm_test_epi32_mask(v, v);
    }
  } else {
    if constexpr (kLanes<U> == 16) {
      const __m512i lo = _mm512_loadu_si512(m), hi = _mm512_loadu_si512(m + 8);
      return _mm512_test_epi64_mask(lo, lo) | (static_cast<unsigned>(_mm512_test_epi64_mask(hi, hi)) << 8);
    } else if constexpr (kLanes<U> == 8) {
      const __m512i v = _mm512_loadu_si512(m);
      return _mm512_test_epi64_mask(v, v);
    } else {
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m));
      return _mm256_test_epi64_mask(v, v);
    }
  }
}

// An element mask in the vector's lanes: 32-bit lanes for 4-byte elements, 64-bit lanes otherwise
// (a 16-byte element spans two).
template <typename U>
unsigned lanes_of(unsigned k) {
  if constexpr (sizeof(U) == 16) {
    static constexpr unsigned char kPairs[16] = {0x00, 0x03, 0x0C, 0x0F, 0x30, 0x33, 0x3C, 0x3F,
                                                 0xC0, 0xC3, 0xCC, 0xCF, 0xF0, 0xF3, 0xFC, 0xFF};
    return kPairs[k & 15];
  } else {
    return k;
  }
}

// Compressing or expanding in registers and storing under a mask is far cheaper on some processors
// than the compressing store and expanding load, which they run as microcode. Masked loads and
// stores touch nothing outside their lanes.
template <typename U>
__m512i load_lanes(const U* p, unsigned lanes) {
  if constexpr (sizeof(U) == 4) return _mm512_maskz_loadu_epi32(static_cast<__mmask16>(lanes), p);
  return _mm512_maskz_loadu_epi64(static_cast<__mmask8>(lanes), p);
}
template <typename U>
void store_lanes(U* p, unsigned lanes, __m512i v) {
  if constexpr (sizeof(U) == 4)
    _mm512_mask_storeu_epi32(p, static_cast<__mmask16>(lanes), v);
  else
    _mm512_mask_storeu_epi64(p, static_cast<__mmask8>(lanes), v);
}
template <typename U>
__m512i compress(unsigned lanes, __m512i v) {
  if constexpr (sizeof(U) == 4) return _mm512_maskz_compress_epi32(static_cast<__mmask16>(lanes), v);
  return _mm512_maskz_compress_epi64(static_cast<__mmask8>(lanes), v);
}
template <typename U>
__m512i expand(unsigned lanes, __m512i v) {
  if constexpr (sizeof(U) == 4) return _mm512_maskz_expand_epi32(static_cast<__mmask16>(lanes), v);
  return _mm512_maskz_expand_epi64(static_cast<__mmask8>(lanes), v);
}

// Each block is loaded before its selected elements are stored, at or below it.
template <typename U, typename I>
void pack_m_blocks(int64_t n, const U* a, const I* m, U* y) {
  int64_t i = 0, j = 0;
  for (; i + kLanes<U> <= n; i += kLanes<U>) {
    const unsigned k = block_mask<U>(m + i);
    const int count = __builtin_popcount(k);
    store_lanes(y + j, lanes_of<U>((1u << count) - 1),
                compress<U>(lanes_of<U>(k), _mm512_loadu_si512(a + i)));
    j += count;
  }
  for (; i < n; ++i)
    if (m[i] != 0) y[j++] = a[i];
}

// The next unused elements of a, spread over the selected places of each block of y.
template <typename U, typename I>
void unpack_m_blocks(int64_t n, const U* a, U* y, const I* m) {
  int64_t i = 0, j = 0;
  for (; i + kLanes<U> <= n; i += kLanes<U>) {
    const unsigned k = block_mask<U>(m + i);
    const int count = __builtin_popcount(k);
    store_lanes(y + i, lanes_of<U>(k),
                expand<U>(lanes_of<U>(k), load_lanes(a + j, lanes_of<U>((1u << count) - 1))));
    j += count;
  }
  for (; i < n; ++i)
    if (m[i] != 0) y[i] = a[j++];
}
#endif

template <typename U, typename I>
struct PackM {
  static void run(int64_t n, const U* a, const I* m, U* y) {
#if ZOK_ISA_LEVEL >= 3
    // The block order equals the loop's where the destination starts at or below the source or
    // misses it (packing in place included); otherwise the loop itself runs.
    if (y <= a || !overlap(a, n, y, n)) {
      pack_m_blocks(n, a, m, y);
      return;
    }
#endif
    int64_t j = 0;
    for (int64_t i = 0; i < n; ++i)
      if (m[i] != 0) y[j++] = a[i];
  }
};

template <typename U, typename I>
struct UnpackM {
  static void run(int64_t n, const U* a, const I* m, U* y) {
#if ZOK_ISA_LEVEL >= 3
    if (!overlap(a, n, y, n)) {
      unpack_m_blocks(n, a, y, m);
      return;
    }
#endif
    int64_t j = 0;
    for (int64_t i = 0; i < n; ++i)
      if (m[i] != 0) y[i] = a[j++];
  }
};

// The entries: natural or loose unit types by the arrays' addresses.
template <int B>
void pack_i_entry(int64_t n, const void* a, int64_t inc, void* y, int32_t flag) {
  natural<B>(a, y) ? pack_i<Unit<B>>(n, a, inc, y, flag) : pack_i<LooseUnit<B>>(n, a, inc, y, flag);
}
template <int B>
void unpack_i_entry(int64_t n, const void* a, void* y, int64_t inc, int32_t flag) {
  natural<B>(a, y) ? unpack_i<Unit<B>>(n, a, y, inc, flag) : unpack_i<LooseUnit<B>>(n, a, y, inc, flag);
}
template <int B, template <typename, typename> class Op>
void pack_list_entry(int64_t n, const void* a, const void* list, void* y, int32_t flag) {
  natural<B>(a, y) ? pack_list<Unit<B>, Op>(n, a, list, y, flag)
                   : pack_list<LooseUnit<B>, Op>(n, a, list, y, flag);
}
template <int B, template <typename, typename> class Op>
void unpack_list_entry(int64_t n, const void* a, void* y, const void* list, int32_t flag) {
  natural<B>(a, y) ? unpack_list<Unit<B>, Op>(n, a, y, list, flag)
                   : unpack_list<LooseUnit<B>, Op>(n, a, y, list, flag);
}

// One kernel serves all three slots of each function.
template <int kBytes>
void put_type(vm::KernelSlots& s, Fn pi, Fn pv, Fn pm, Fn ui, Fn uv, Fn um) {
  const std::pair<Fn, void*> kernels[] = {{pi, reinterpret_cast<void*>(&pack_i_entry<kBytes>)},
                                          {pv, reinterpret_cast<void*>(&pack_list_entry<kBytes, PackV>)},
                                          {pm, reinterpret_cast<void*>(&pack_list_entry<kBytes, PackM>)},
                                          {ui, reinterpret_cast<void*>(&unpack_i_entry<kBytes>)},
                                          {uv, reinterpret_cast<void*>(&unpack_list_entry<kBytes, UnpackV>)},
                                          {um, reinterpret_cast<void*>(&unpack_list_entry<kBytes, UnpackM>)}};
  for (const auto& [fn, k] : kernels)
    for (int slot = 0; slot < 3; ++slot) s[static_cast<int>(fn)][slot] = k;
}

}  // namespace

void register_pack(vm::KernelSlots& s) {
  put_type<4>(s, Fn::sPackI, Fn::sPackV, Fn::sPackM, Fn::sUnpackI, Fn::sUnpackV, Fn::sUnpackM);
  put_type<8>(s, Fn::dPackI, Fn::dPackV, Fn::dPackM, Fn::dUnpackI, Fn::dUnpackV, Fn::dUnpackM);
  put_type<8>(s, Fn::cPackI, Fn::cPackV, Fn::cPackM, Fn::cUnpackI, Fn::cUnpackV, Fn::cUnpackM);
  put_type<16>(s, Fn::zPackI, Fn::zPackV, Fn::zPackM, Fn::zUnpackI, Fn::zUnpackV, Fn::zUnpackM);
}

}  // namespace zok::ZOK_ISA_NS

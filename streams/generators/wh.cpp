// WH: four multiplicative congruential components with prime moduli near 2^24 (a set per family
// member), an element being the fraction of the sum of x_k/m_k; computed with rounding toward zero.
#include <smmintrin.h>

#include <cstddef>
#include <cstdint>

#include "streams/generators/generator_common.h"
#include "streams/generators/wh_members.h"
#include "zok/random.h"

namespace zok::rng {

namespace {

struct WhState {
  uint32_t x[4];  // the components of the last element produced
  uint32_t a[4];  // the current multipliers
};
static_assert(sizeof(WhState) == 32 && offsetof(WhState, a) == 16);

// Legacy identifiers 4..276 name members 0..272.
int32_t member_of(int32_t brng) {
  if (brng >= ZOK_RNG_ID_STEP) return brng & ZOK_RNG_MEMBER_MASK;
  if (brng >= 4 && brng < 4 + kWhMemberCount) return brng - 4;
  return kWhMemberCount;
}

// Sets the rounding direction of MXCSR to toward zero for its lifetime and then restores the caller's
// MXCSR whole: the block path's quotients are rounded to integers in the current direction and must
// truncate, and the results must not depend on the caller's setting. The arithmetic it governs lives
// in a function that is not inlined, so no operation can be moved across the switch.
class RoundTowardZero {
 public:
  RoundTowardZero() : saved_(_mm_getcsr()) { _mm_setcsr((saved_ & ~kRounding) | kTowardZero); }
  ~RoundTowardZero() { _mm_setcsr(saved_); }
  RoundTowardZero(const RoundTowardZero&) = delete;
  RoundTowardZero& operator=(const RoundTowardZero&) = delete;

 private:
  static constexpr unsigned kRounding = 0x6000, kTowardZero = 0x6000;
  unsigned saved_;
};

struct Member {
  const uint32_t* m;
  const double* recip;
};

// frac(x0/m0 + x1/m1 + x2/m2 + x3/m3), the quotients by reciprocal, summed in component order.
inline double fraction(const uint32_t* x, const double* recip) {
  const double s = static_cast<double>(x[0]) * recip[0] + static_cast<double>(x[1]) * recip[1] +
                   static_cast<double>(x[2]) * recip[2] + static_cast<double>(x[3]) * recip[3];
  return s - static_cast<double>(static_cast<int32_t>(s));
}

// The block path holds component k of four consecutive elements in two registers, lo (elements
// t, t+1) and hi (t+2, t+3), as doubles: the components are below 2^24 and their products with
// multipliers below 2^48, all exact.
struct Block {
  __m128d lo[4], hi[4];
};

// Sum in component order, then the fraction; the sum is below 4 so the difference is exact.
inline __m128d fractions(const __m128d* v, const __m128d* recip) {
  __m128d s = _mm_mul_pd(v[0], recip[0]);
  s = _mm_add_pd(s, _mm_mul_pd(v[1], recip[1]));
  s = _mm_add_pd(s, _mm_mul_pd(v[2], recip[2]));
  s = _mm_add_pd(s, _mm_mul_pd(v[3], recip[3]));
  return _mm_sub_pd(s, _mm_round_pd(s, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC));
}

// q = p·(1/m) truncated is exactly floor(p/m): p/m lies at least 1/m > 2^-24 away from an integer
// (m is prime and divides neither factor), while the two roundings err by less than 2^-27 for p
// below 2^48. The remainder p - q·m is then exact and already in [1, m).
inline __m128d mulmod(__m128d x, __m128d a, __m128d m, __m128d recip) {
  const __m128d p = _mm_mul_pd(x, a);
  const __m128d q = _mm_round_pd(_mm_mul_pd(p, recip), _MM_FROUND_CUR_DIRECTION);
  return _mm_sub_pd(p, _mm_mul_pd(q, m));
}

struct WhIntOut {
  uint32_t* r;
  void put(int64_t i, const uint32_t* x, const double*) const {
    for (int k = 0; k < 4; ++k) r[4 * i + k] = x[k];
  }
  void put4(int64_t i, const Block& b, const __m128d*) const {
    __m128i c[4];
    for (int k = 0; k < 4; ++k)
      c[k] = _mm_unpacklo_epi64(_mm_cvttpd_epi32(b.lo[k]), _mm_cvttpd_epi32(b.hi[k]));
    // c[k] holds component k of elements t..t+3; the output wants element by element.
    const __m128i t01 = _mm_unpacklo_epi32(c[0], c[1]), t23 = _mm_unpacklo_epi32(c[2], c[3]);
    const __m128i u01 = _mm_unpackhi_epi32(c[0], c[1]), u23 = _mm_unpackhi_epi32(c[2], c[3]);
    __m128i* o = reinterpret_cast<__m128i*>(r + 4 * i);
    _mm_storeu_si128(o, _mm_unpacklo_epi64(t01, t23));
    _mm_storeu_si128(o + 1, _mm_unpackhi_epi64(t01, t23));
    _mm_storeu_si128(o + 2, _mm_unpacklo_epi64(u01, u23));
    _mm_storeu_si128(o + 3, _mm_unpackhi_epi64(u01, u23));
  }
};

template <class T>
struct WhRealOut {
  T* r;
  double a, b;
  void put(int64_t i, const uint32_t* x, const double* recip) const {
    r[i] = static_cast<T>(fraction(x, recip) * (b - a) + a);
  }
  void put4(int64_t i, const Block& blk, const __m128d* recip) const {
    const __m128d width = _mm_set1_pd(b - a), offset = _mm_set1_pd(a);
    const __m128d lo = _mm_add_pd(_mm_mul_pd(fractions(blk.lo, recip), width), offset);
    const __m128d hi = _mm_add_pd(_mm_mul_pd(fractions(blk.hi, recip), width), offset);
    if constexpr (sizeof(T) == sizeof(double)) {
      _mm_storeu_pd(reinterpret_cast<double*>(r + i), lo);
      _mm_storeu_pd(reinterpret_cast<double*>(r + i + 2), hi);
    } else {
      _mm_storeu_ps(reinterpret_cast<float*>(r + i), _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi)));
    }
  }
};

inline void step(WhState& st, const Member& mem) {
  for (int k = 0; k < 4; ++k)
    st.x[k] = static_cast<uint32_t>(static_cast<uint64_t>(st.a[k]) * st.x[k] % mem.m[k]);
}

constexpr int32_t kBlockMin = 8;

// Runs under rounding toward zero (see RoundTowardZero).
template <class Out>
__attribute__((noinline)) void generate(WhState& st, const Member& mem, int32_t n, const Out out) {
  // Components and multipliers from a saved image are brought into range, so that both paths
  // compute the same residues.
  for (int k = 0; k < 4; ++k) {
    st.x[k] %= mem.m[k];
    st.a[k] %= mem.m[k];
  }
  if (n < kBlockMin) {
    WhState s = st;  // a local copy: the output may be written through a pointer of the state's type
    for (int32_t i = 0; i < n; ++i) {
      step(s, mem);
      out.put(i, s.x, mem.recip);
    }
    st = s;
    return;
  }
  Block blk;
  __m128d a4[4], m[4], recip[4];
  for (int k = 0; k < 4; ++k) {
    const uint64_t a = st.a[k], a2 = a * a % mem.m[k];
    a4[k] = _mm_set1_pd(static_cast<double>(a2 * a2 % mem.m[k]));
    m[k] = _mm_set1_pd(mem.m[k]);
    recip[k] = _mm_set1_pd(mem.recip[k]);
  }
  alignas(16) double first[4][4];
  for (int t = 0; t < 4; ++t) {
    step(st, mem);
    for (int k = 0; k < 4; ++k) first[k][t] = st.x[k];
  }
  for (int k = 0; k < 4; ++k) {
    blk.lo[k] = _mm_load_pd(first[k]);
    blk.hi[k] = _mm_load_pd(first[k] + 2);
  }
  // The block holds elements i .. i+3; stop while one to four are left, so the last one produced
  // comes from the block.
  int32_t i = 0;
  for (; n - i > 4; i += 4) {
    out.put4(i, blk, recip);
    for (int k = 0; k < 4; ++k) {
      blk.lo[k] = mulmod(blk.lo[k], a4[k], m[k], recip[k]);
      blk.hi[k] = mulmod(blk.hi[k], a4[k], m[k], recip[k]);
    }
  }
  alignas(16) double last[4][4];
  for (int k = 0; k < 4; ++k) {
    _mm_store_pd(last[k], blk.lo[k]);
    _mm_store_pd(last[k] + 2, blk.hi[k]);
  }
  for (int32_t t = 0; t < n - i; ++t) {
    for (int k = 0; k < 4; ++k) st.x[k] = static_cast<uint32_t>(last[k][t]);
    out.put(i + t, st.x, mem.recip);
  }
}

template <class Out>
int32_t run(StreamRecord* stream, int32_t n, const Out out) {
  const int32_t member = member_of(stream->brng);
  if (member >= kWhMemberCount) return ZOK_RNG_ERROR_BAD_BRNG;
  if (n <= 0) return ZOK_RNG_STATUS_OK;
  const RoundTowardZero rounding;
  generate(state_of<WhState>(stream), Member{kWhModuli[member], kWhReciprocals[member]}, n, out);
  return ZOK_RNG_STATUS_OK;
}

struct Wh {
  using State = WhState;
  static int32_t ints(StreamRecord* stream, int32_t n, uint32_t* r) { return run(stream, n, WhIntOut{r}); }
  template <class T>
  static int32_t reals(StreamRecord* stream, int32_t n, T* r, double a, double b) {
    return run(stream, n, WhRealOut<T>{r, a, b});
  }
};

}  // namespace

}  // namespace zok::rng

using namespace zok::rng;

extern "C" {

int32_t __qorBRngWHInitStream(int32_t method, StreamRecord* stream, int32_t n, const uint32_t* params) {
  if (method < ZOK_RNG_METHOD_SEED || method > ZOK_RNG_METHOD_SKIP) return ZOK_RNG_ERROR_METHOD;
  const int32_t member = member_of(stream->brng);
  if (member >= kWhMemberCount) return ZOK_RNG_ERROR_BAD_BRNG;
  const uint32_t* m = kWhModuli[member];
  WhState& st = state_of<WhState>(stream);
  switch (method) {
    case ZOK_RNG_METHOD_SEED:
      for (int k = 0; k < 4; ++k) {
        const uint32_t x = k < n ? params[k] % m[k] : 1;
        st.x[k] = x == 0 ? 1 : x;
        st.a[k] = kWhMultipliers[member][k];
      }
      return ZOK_RNG_STATUS_OK;
    case ZOK_RNG_METHOD_LEAPFROG:
      for (int k = 0; k < 4; ++k) {
        st.x[k] = static_cast<uint32_t>(static_cast<uint64_t>(__qoriPowMod(st.a[k], params[0], m[k])) *
                                        st.x[k] % m[k]);
        st.a[k] = __qoriPowMod(st.a[k], static_cast<uint32_t>(n), m[k]);
      }
      return ZOK_RNG_STATUS_OK;
    default: {
      const uint64_t s = skip_count(params);
      for (int k = 0; k < 4; ++k)
        st.x[k] =
            static_cast<uint32_t>(static_cast<uint64_t>(__qoriPowMod(st.a[k], s, m[k])) * st.x[k] % m[k]);
      return ZOK_RNG_STATUS_OK;
    }
  }
}

}  // extern "C"

ZOK_GENERATOR_ENTRIES(WH, Wh)

// MCG31M1: x <- a·x mod 2^31 - 1 with a = 1132489760. The current x is the next output; the block
// path runs eight lanes eight elements apart.
#include <smmintrin.h>

#include <cstddef>
#include <cstdint>

#include "streams/generators/generator_common.h"
#include "streams/generators/modular.h"
#include "zok/random.h"

namespace zok::rng {

namespace {

struct Mcg31State {
  uint32_t x;  // the next output, 1 <= x < 2^31 - 1
  uint32_t a;  // the current multiplier (a power of the base one after leapfrog)
};
static_assert(sizeof(Mcg31State) == 8 && offsetof(Mcg31State, a) == 4);

constexpr uint32_t kMultiplier = 1132489760;
// 1/(2^31 - 1) rounded to double.
constexpr double kNorm = 4.656612875245797e-10;
// Below this many elements the lanes cost more to set up than they save.
constexpr int32_t kBlockMin = 16;

// Products of 64-bit lanes (factors below 2^31) reduced mod 2^31 - 1 as in mulmod_2p31m1.
inline __m128i reduce_lanes(__m128i p) {
  const __m128i m = _mm_set1_epi64x(kMcg31Modulus);
  const __m128i s = _mm_add_epi64(_mm_and_si128(p, m), _mm_srli_epi64(p, 31));
  const __m128i d = _mm_sub_epi64(s, m);
  // s - m is negative (sign bit of the 64-bit lane set) exactly when s needs no subtraction.
  return _mm_castpd_si128(_mm_blendv_pd(_mm_castsi128_pd(d), _mm_castsi128_pd(s), _mm_castsi128_pd(d)));
}

// Four 32-bit lanes times the multiplier held in the even 32-bit lanes of `a`.
inline __m128i step4(__m128i x, __m128i a) {
  const __m128i even = reduce_lanes(_mm_mul_epu32(x, a));
  const __m128i odd = reduce_lanes(_mm_mul_epu32(_mm_srli_epi64(x, 32), a));
  return _mm_blend_epi16(even, _mm_slli_epi64(odd, 32), 0xCC);
}

template <class Out>
void generate(Mcg31State& st, int32_t n, const Out out) {
  uint32_t x = st.x;
  const uint32_t a = st.a;
  if (n < kBlockMin) {
    for (int32_t i = 0; i < n; ++i) {
      out.put(i, x);
      x = mulmod_2p31m1(a, x);
    }
    st.x = x;
    return;
  }
  alignas(16) uint32_t lanes[8];
  for (int j = 0; j < 8; ++j) {
    lanes[j] = x;
    x = mulmod_2p31m1(a, x);
  }
  const uint32_t a2 = mulmod_2p31m1(a, a), a4 = mulmod_2p31m1(a2, a2);
  const __m128i a8 = _mm_set1_epi32(static_cast<int>(mulmod_2p31m1(a4, a4)));
  __m128i lo = _mm_load_si128(reinterpret_cast<const __m128i*>(lanes));
  __m128i hi = _mm_load_si128(reinterpret_cast<const __m128i*>(lanes + 4));
  int32_t i = 0;
  for (; n - i >= 8; i += 8) {
    out.put4(i, lo);
    out.put4(i + 4, hi);
    lo = step4(lo, a8);
    hi = step4(hi, a8);
  }
  // The lanes now hold elements i .. i+7; element n is the next state.
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), lo);
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes + 4), hi);
  const int32_t rest = n - i;
  for (int32_t j = 0; j < rest; ++j) out.put(i + j, lanes[j]);
  st.x = lanes[rest];
}

using Mcg31 = OutputForms<Mcg31State, IntOut, RealOut, kNorm,
                          decltype([](Mcg31State& st, int32_t n, auto out) { generate(st, n, out); })>;

}  // namespace

}  // namespace zok::rng

using namespace zok::rng;

extern "C" {

int32_t __qorBRngMCG31M1InitStream(int32_t method, StreamRecord* stream, int32_t n, const uint32_t* params) {
  Mcg31State& st = state_of<Mcg31State>(stream);
  switch (method) {
    case ZOK_RNG_METHOD_SEED: {
      uint32_t x = n >= 1 ? params[0] % kMcg31Modulus : 1;
      st.x = x == 0 ? 1 : x;
      st.a = kMultiplier;
      return ZOK_RNG_STATUS_OK;
    }
    case ZOK_RNG_METHOD_LEAPFROG:
      st.x = mulmod_2p31m1(st.x, __qoriPowMod2P31M1(st.a, params[0]));
      st.a = __qoriPowMod2P31M1(st.a, static_cast<uint32_t>(n));
      return ZOK_RNG_STATUS_OK;
    case ZOK_RNG_METHOD_SKIP:
      st.x = mulmod_2p31m1(st.x, __qoriPowMod2P31M1(st.a, skip_count(params)));
      return ZOK_RNG_STATUS_OK;
    default:
      return ZOK_RNG_ERROR_METHOD;
  }
}

}  // extern "C"

ZOK_GENERATOR_ENTRIES(MCG31M1, Mcg31)

// SOBOL: the Sobol sequence from primitive polynomials and initial values (40 built-in dimensions),
// or from the caller's polynomials, initial values or whole direction numbers.
#include <cstdint>

#include "streams/generators/generator_common.h"
#include "streams/generators/quasi.h"
#include "zok/random.h"

namespace zok::rng {

namespace {

using quasi::kBits;

constexpr int32_t kDims = 40;
// A polynomial above degree 8 has more initial values than the built-in layout carries.
constexpr int32_t kMaxDegree = 8;

struct SobolState {
  quasi::Fields fields;
  uint32_t words[2920];  // point, then 32 rows of direction numbers
};

constexpr const quasi::Family& kFamily = quasi::kSobol;
static_assert(kFamily.builtin_max == kDims && kFamily.state_words * 4 == sizeof(SobolState));

// Dimensions 2..40: primitive polynomial (bit k the coefficient of x^k) and initial values m_1..m_s.
struct Primitive {
  uint32_t poly;
  uint32_t m[kMaxDegree];
};
constexpr Primitive kPrimitive[kDims - 1] = {
    {3, {1}},
    {7, {1, 1}},
    {11, {1, 3, 7}},
    {13, {1, 1, 5}},
    {19, {1, 3, 1, 1}},
    {25, {1, 1, 3, 7}},
    {37, {1, 3, 3, 9, 9}},
    {59, {1, 3, 7, 13, 3}},
    {47, {1, 1, 5, 11, 27}},
    {61, {1, 3, 5, 1, 15}},
    {55, {1, 1, 7, 3, 29}},
    {41, {1, 3, 7, 7, 21}},
    {67, {1, 1, 1, 9, 23, 37}},
    {97, {1, 3, 3, 5, 19, 33}},
    {91, {1, 1, 3, 13, 11, 7}},
    {109, {1, 1, 7, 13, 25, 5}},
    {103, {1, 3, 5, 11, 7, 11}},
    {115, {1, 1, 1, 3, 13, 39}},
    {131, {1, 3, 1, 15, 17, 63, 13}},
    {193, {1, 1, 5, 5, 1, 27, 33}},
    {137, {1, 3, 3, 3, 25, 17, 115}},
    {145, {1, 1, 3, 15, 29, 15, 41}},
    {143, {1, 3, 1, 7, 3, 23, 79}},
    {241, {1, 3, 7, 9, 31, 29, 17}},
    {157, {1, 1, 5, 13, 11, 3, 29}},
    {185, {1, 3, 1, 9, 5, 21, 119}},
    {167, {1, 1, 3, 1, 23, 13, 75}},
    {229, {1, 3, 3, 11, 27, 31, 73}},
    {171, {1, 1, 7, 7, 19, 25, 105}},
    {213, {1, 3, 5, 5, 21, 9, 7}},
    {191, {1, 1, 1, 15, 5, 49, 59}},
    {253, {1, 1, 1, 1, 1, 33, 65}},
    {203, {1, 3, 5, 15, 17, 19, 21}},
    {211, {1, 1, 7, 11, 13, 29, 3}},
    {239, {1, 3, 7, 5, 7, 11, 113}},
    {247, {1, 1, 5, 3, 15, 19, 61}},
    {285, {1, 3, 1, 1, 9, 27, 89, 7}},
    {369, {1, 1, 3, 7, 31, 15, 45, 23}},
    {299, {1, 3, 3, 9, 9, 25, 107, 39}},
};

constexpr uint32_t kAllOnes[1] = {1};

// v_k = m_k·2^(32-k); beyond the s initial values m_k = 2a_1·m_{k-1} ^ ... ^ 2^(s-1)a_{s-1}·m_{k-s+1}
// ^ 2^s·m_{k-s} ^ m_{k-s}, a_j the coefficient of x^(s-j). Polynomial 1 gives the column of all
// m_k = 1 (dimension 1). Values are kept to 32 bits: only the top k bits of m_k reach v_k.
void directions(uint32_t poly, const uint32_t* m0, uint32_t* v) {
  const int32_t s = quasi::degree(poly);
  uint32_t m[kBits];
  for (int32_t k = 0; k < kBits; ++k) {
    if (s == 0) {
      m[k] = 1;
    } else if (k < s) {
      m[k] = m0[k];
    } else {
      uint32_t x = m[k - s] ^ (m[k - s] << s);
      for (int32_t j = 1; j < s; ++j)
        if ((poly >> (s - j)) & 1) x ^= m[k - j] << j;
      m[k] = x;
    }
    v[k] = m[k] << (kBits - 1 - k);
  }
}

// The caller's polynomial p with `count` initial values at m: -3 for no polynomial, a degree above
// 8, or fewer values than the degree.
bool acceptable(uint32_t p, int64_t count) {
  const int32_t s = quasi::degree(p);
  return s >= 0 && s <= kMaxDegree && count >= s;
}

const uint32_t kOnes[kMaxDegree] = {1, 1, 1, 1, 1, 1, 1, 1};

int32_t start_builtin(StreamRecord* stream, int64_t d) {
  if (d < 1 || d > kDims) d = 1;
  uint32_t cols[kDims * kBits];
  directions(1, kAllOnes, cols);
  for (int32_t j = 1; j < d; ++j) directions(kPrimitive[j - 1].poly, kPrimitive[j - 1].m, cols + j * kBits);
  quasi::start_builtin(stream, kFamily, static_cast<int32_t>(d), cols);
  return ZOK_RNG_STATUS_OK;
}

// Kinds 1-3: dimensions 2..d from polys[j - 2] (or the built-in ones) and initial values at
// init + (j - 2)·stride (or all ones); dimension 1 is the all-ones column. The table fits the state.
int32_t start_small(StreamRecord* stream, int32_t d, const uint32_t* polys, const uint32_t* init,
                    int64_t width) {
  uint32_t cols[kDims * kBits];
  directions(1, kAllOnes, cols);
  for (int32_t j = 1; j < d; ++j) {
    const uint32_t p = polys != nullptr ? polys[j - 1] : kPrimitive[j - 1].poly;
    if (!acceptable(p, init != nullptr ? width : kMaxDegree)) return ZOK_RNG_ERROR_BAD_ARGUMENT;
  }
  for (int32_t j = 1; j < d; ++j) {
    const uint32_t p = polys != nullptr ? polys[j - 1] : kPrimitive[j - 1].poly;
    directions(p, init != nullptr ? init + (j - 1) * width : kOnes, cols + j * kBits);
  }
  quasi::start_builtin(stream, kFamily, d, cols);
  return ZOK_RNG_STATUS_OK;
}

// Kind 11: every dimension's polynomial (1: the all-ones column) and `width` initial values each.
int32_t start_polys(StreamRecord* stream, int32_t d, const uint32_t* polys, const uint32_t* init,
                    int64_t width) {
  for (int32_t j = 0; j < d; ++j)
    if (!acceptable(polys[j], width)) return ZOK_RNG_ERROR_BAD_ARGUMENT;
  return quasi::start_columns(stream, kFamily, d,
                              [&](int32_t j, uint32_t* col) { directions(polys[j], init + j * width, col); });
}

// Seed words: dimension, 1 when user data follow, their kind, the data. Whatever does not meet its
// kind's length gives the built-in tables of word 0's dimension (1 when out of range).
int32_t seed(StreamRecord* stream, int32_t n, const uint32_t* params) {
  if (n <= 0) return start_builtin(stream, 1);
  const int64_t d = quasi::word(params, 0);
  if (n < 3 || params[1] != 1 || d < 1) return start_builtin(stream, d);
  const int32_t dim = static_cast<int32_t>(d);
  switch (params[2]) {
    case 1:
      if (d > kDims || n < d + 2) break;
      return start_small(stream, dim, params + 3, nullptr, 0);
    case 2: {
      if (d > kDims || n < 4) break;
      const int64_t w = quasi::word(params, 3);
      if (n < (d - 1) * w + 4) break;
      return start_small(stream, dim, nullptr, params + 4, w);
    }
    case 3: {
      if (d > kDims || n < d + 3) break;
      const int64_t w = quasi::word(params, d + 2);
      if (n < (d - 1) * (w + 1) + 4) break;
      return start_small(stream, dim, params + 3, params + d + 3, w);
    }
    case 4:
      // The table chunk's size is a 32-bit byte count.
      if (n < 32 * d + 3 || d > INT32_MAX / (4 * kBits)) break;
      return quasi::start_table(stream, kFamily, dim, params + 3);
    case 11: {
      if (n < d + 4) break;
      const int64_t w = quasi::word(params, d + 3);
      if (n < (w + 1) * d + 4 || d > INT32_MAX / (4 * kBits)) break;
      return start_polys(stream, dim, params + 3, params + d + 4, w);
    }
    default:
      break;
  }
  return start_builtin(stream, d);
}

}  // namespace

}  // namespace zok::rng

using namespace zok::rng;

extern "C" int32_t __qorBRngSobolInitStream(int32_t method, StreamRecord* stream, int32_t n,
                                            const uint32_t* params) {
  return quasi::init(kFamily, method, stream, n, params, seed);
}

using Sobol = quasi::Operations<quasi::kSobol, SobolState>;
ZOK_GENERATOR_ENTRIES(SOBOL, Sobol)

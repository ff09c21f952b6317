// NIEDERR: Niederreiter's base-2 sequence over 318 built-in dimensions, or over the caller's
// irreducible polynomials or whole direction numbers.
#include <cstdint>

#include "streams/generators/generator_common.h"
#include "streams/generators/niederr_table.h"
#include "streams/generators/quasi.h"
#include "zok/random.h"

namespace zok::rng {

using quasi::kBits;

// Niederreiter's construction with the choices of Bratley, Fox and Niederreiter: the polynomial's
// successive powers B_j; for each, v starts with K_j = deg B_{j-1} zeros, a one and ones up to
// deg B_j, then follows the recurrence of B_j; digit j of Gray-code bit r is v[r + u], u = j mod e.
// Polynomials are bit arrays (bit k the coefficient of x^k); deg B_j reaches at most 32 + e - 1.
void niederr_directions(uint32_t poly, uint32_t* out) {
  const int32_t e = quasi::degree(poly);
  constexpr int32_t kMaxV = 2 * kBits;
  uint8_t power[kMaxV + 1] = {1};
  int32_t power_degree = 0;
  uint8_t v[kMaxV + 1] = {};
  for (int32_t r = 0; r < kBits; ++r) out[r] = 0;
  for (int32_t j = 0, u = 0; j < kBits; ++j) {
    if (u == 0) {
      uint8_t next[kMaxV + 1] = {};
      for (int32_t a = 0; a <= power_degree; ++a)
        if (power[a])
          for (int32_t b = 0; b <= e; ++b) next[a + b] ^= (poly >> b) & 1;
      const int32_t k = power_degree;
      power_degree += e;
      for (int32_t a = 0; a <= power_degree; ++a) power[a] = next[a];
      const int32_t m = power_degree;
      for (int32_t r = 0; r < m; ++r) v[r] = r < k ? 0 : 1;
      for (int32_t r = 0; r + m < kBits + e; ++r) {
        uint8_t s = 0;
        for (int32_t t = 0; t < m; ++t) s ^= power[t] & v[r + t];
        v[r + m] = s;
      }
    }
    for (int32_t r = 0; r < kBits; ++r) out[r] |= static_cast<uint32_t>(v[r + u]) << (kBits - 1 - j);
    if (++u == e) u = 0;
  }
}

namespace {

struct NiederrState {
  quasi::Fields fields;
  uint32_t words[21064];  // point, then 32 rows of direction numbers
};

constexpr const quasi::Family& kFamily = quasi::kNiederr;
static_assert(kFamily.builtin_max == kNiederrDims && kFamily.state_words * 4 == sizeof(NiederrState));

int32_t start_builtin(StreamRecord* stream, int64_t d) {
  if (d < 1 || d > kNiederrDims) d = 1;
  quasi::start_builtin(stream, kFamily, static_cast<int32_t>(d), kNiederrDirections[0]);
  return ZOK_RNG_STATUS_OK;
}

// Kind 1: one polynomial per dimension, each of degree 1 or more.
int32_t start_polys(StreamRecord* stream, int32_t d, const uint32_t* polys) {
  for (int32_t j = 0; j < d; ++j)
    if (quasi::degree(polys[j]) < 1) return ZOK_RNG_ERROR_BAD_ARGUMENT;
  return quasi::start_columns(stream, kFamily, d,
                              [&](int32_t j, uint32_t* col) { niederr_directions(polys[j], col); });
}

// Seed words as SOBOL's; kinds 1 and 4 only, and no more dimensions than the state's point holds.
int32_t seed(StreamRecord* stream, int32_t n, const uint32_t* params) {
  if (n <= 0) return start_builtin(stream, 1);
  const int64_t d = quasi::word(params, 0);
  if (n < 3 || params[1] != 1 || d < 1 || d > kNiederrDims) return start_builtin(stream, d);
  if (params[2] == 1 && n >= d + 3) return start_polys(stream, static_cast<int32_t>(d), params + 3);
  if (params[2] == 4 && n >= 32 * d + 3)
    return quasi::start_table(stream, kFamily, static_cast<int32_t>(d), params + 3);
  return start_builtin(stream, d);
}

}  // namespace

}  // namespace zok::rng

using namespace zok::rng;

extern "C" int32_t __qorBRngNiederrInitStream(int32_t method, StreamRecord* stream, int32_t n,
                                              const uint32_t* params) {
  return quasi::init(kFamily, method, stream, n, params, seed);
}

using Niederr = quasi::Operations<quasi::kNiederr, NiederrState>;
ZOK_GENERATOR_ENTRIES(NIEDERR, Niederr)

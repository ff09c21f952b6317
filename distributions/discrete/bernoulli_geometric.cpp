// Bernoulli and geometric variates: one float uniform per output, compared with p or turned into a
// count of failures by its logarithm.
#include <algorithm>
#include <bit>
#include <cstdint>

#include "distributions/discrete/discrete_common.h"
#include "zok/summary_stats.h"

using namespace zok::rng::discrete;

extern "C" {

ZOK_RNG_API int32_t _qoriRngBernoulli(int32_t, StreamRecord* stream, int32_t n, uint32_t* r, double p) {
  if (n <= 0) return 0;
  // The uniforms land in r itself. Non-negative floats order like their bit patterns; a uniform of
  // 1.0 counts as the float below it, so that p = 1 gives ones only.
  float* u = reinterpret_cast<float*>(r);
  const int32_t status = zok::rng::uniform(stream, n, u, 0.0f, 1.0f);
  if (status < 0) return status;
  const int32_t limit = std::bit_cast<int32_t>(static_cast<float>(p));
  const int32_t below_one = std::bit_cast<int32_t>(kBelowOne);
  for (int32_t k = 0; k < n; ++k) {
    const int32_t bits = std::min(std::bit_cast<int32_t>(u[k]), below_one);
    r[k] = bits < limit ? 1u : 0u;
  }
  return 0;
}

ZOK_RNG_API int32_t _qoriRngGeometric(int32_t, StreamRecord* stream, int32_t n, uint32_t* r, double p) {
  if (n <= 0) return 0;
  // c is -inf when 1 - p rounds to 1: every count saturates.
  const float c = static_cast<float>(1.0 / __qordLn(1.0 - p));
  zok::rng::RepairScope repair(repair_ln_float);
  float u[zok::rng::kBlock];
  for (int32_t done = 0; done < n;) {
    const int32_t m = std::min(n - done, zok::rng::kBlock);
    const int32_t status = zok::rng::uniform(stream, m, u, 0.0f, 1.0f);
    if (status < 0) return status;
    s_ln(m, u, u);
    for (int32_t k = 0; k < m; ++k) r[done + k] = to_word(static_cast<double>(u[k] * c));
    done += m;
  }
  return 0;
}

}  // extern "C"

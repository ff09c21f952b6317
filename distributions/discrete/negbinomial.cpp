// Negative binomial variates (failures before the a-th success, real a > 0). With the mode
// mu = (a - 1)(1 - p)/p below 100, inversion over a cumulative table of 164 values kept in a chunk,
// continued by the pmf recurrence past its end; from 100 on, the Poisson mixture over gamma means,
// the gamma drawn by the rejection method of Marsaglia and Tsang (2000).
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "distributions/discrete/discrete_common.h"

namespace zok::rng::discrete {
namespace {

constexpr int kTableSize = 164;
constexpr double kTableLimit = 100.0;

struct NegbinTable {
  double a, p;
  double cdf[kTableSize];
};
static_assert(sizeof(NegbinTable) == kNegbinChunkBytes);

void build(NegbinTable& t, double a, double p) {
  t.a = a;
  t.p = p;
  const double q = 1.0 - p;
  double f = d_powx(p, a), cdf = f;
  t.cdf[0] = f;
  for (int k = 1; k < kTableSize; ++k) {
    f *= (a + k - 1) / k * q;
    t.cdf[k] = (cdf += f);
  }
}

int32_t fill_table(const NegbinTable& t, StreamRecord* stream, int32_t n, uint32_t* r, double a, double p) {
  const double q = 1.0 - p, mean = a * q / p;
  // Only a sum rounding below the uniform reaches this far.
  const double bound = std::ceil(mean + 60.0 * std::sqrt(mean / p) + 60.0) + kTableSize;
  double f_last = -1.0;  // pmf(163), made once a search first needs it
  auto invert = [&](double u) {
    if (u <= t.cdf[kTableSize - 1]) return static_cast<double>(first_not_below(t.cdf, kTableSize, u));
    if (f_last < 0.0) {
      f_last = t.cdf[0];
      for (int k = 1; k < kTableSize; ++k) f_last *= (a + k - 1) / k * q;
    }
    double x = kTableSize - 1, f = f_last, cdf = t.cdf[kTableSize - 1];
    while (u > cdf) {
      if (x >= bound) return -1.0;
      x += 1.0;
      f *= (a + x - 1) / x * q;
      cdf += f;
    }
    return x;
  };
  return fill_by_inversion<double>(stream, n, r, invert, bound, identity);
}

// Gamma(a, scale) means by Marsaglia-Tsang (a > 1 here, since mu >= 100), Poisson variates of them.
int32_t fill_mixture(StreamRecord* stream, int32_t n, uint32_t* r, double a, double p) {
  constexpr int kDraws = 512;
  const double d = a - 1.0 / 3.0, c = 1.0 / std::sqrt(9.0 * d), scale = (1.0 - p) / p;
  double normal[kDraws], uniform[kDraws], mean[kBlock];
  int next = kDraws;
  for (int32_t done = 0; done < n;) {
    const int32_t m = std::min(n - done, kBlock);
    for (int32_t k = 0; k < m; ++k) {
      for (;;) {
        if (next == kDraws) {
          int32_t status = gaussian(ZOK_RNG_GAUSSIAN_ICDF, stream, kDraws, normal, 0.0, 1.0);
          if (status < 0 || (status = zok::rng::uniform(stream, kDraws, uniform, 0.0, 1.0)) < 0)
            return status;
          next = 0;
        }
        const double x = normal[next], u = uniform[next];
        ++next;
        double v = 1.0 + c * x;
        if (v <= 0.0) continue;
        v = v * v * v;
        const double x2 = x * x;
        if (u < 1.0 - 0.0331 * x2 * x2 || std::log(u) < 0.5 * x2 + d * (1.0 - v + std::log(v))) {
          mean[k] = d * v * scale;
          break;
        }
      }
    }
    const int32_t status = poisson_per_element(stream, m, r + done, mean);
    if (status < 0) return status;
    done += m;
  }
  return 0;
}

}  // namespace
}  // namespace zok::rng::discrete

using namespace zok::rng::discrete;

extern "C" ZOK_RNG_API int32_t _qoriRngNegbinomial(int32_t, StreamRecord* stream, int32_t n, uint32_t* r,
                                                   double a, double p) {
  if (n <= 0) return 0;
  if ((a - 1.0) * (1.0 - p) / p >= kTableLimit) return fill_mixture(stream, n, r, a, p);
  int32_t status;
  auto* t = static_cast<NegbinTable*>(setup_chunk(stream, kNegbinChunk, kNegbinChunkBytes, &status));
  if (t == nullptr) return status;
  if (std::bit_cast<uint64_t>(t->a) != std::bit_cast<uint64_t>(a) ||
      std::bit_cast<uint64_t>(t->p) != std::bit_cast<uint64_t>(p))
    build(*t, a, p);
  return fill_table(*t, stream, n, r, a, p);
}

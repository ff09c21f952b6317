// Binomial variates: inversion from zero when ntrial·q is below 30, otherwise the BTPE
// acceptance-rejection method of Kachitvichyanukul and Schmeiser (1988), counted for q = min(p, 1-p)
// and mirrored when p > 0.5. The set-up lives in a chunk of the stream.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "distributions/discrete/discrete_common.h"

namespace zok::rng::discrete {
namespace {

// The chunk: the call's (p, ntrial) first, then what the chosen method needs. Variates, the mode and
// every sum mixing them with ntrial are doubles: float holds integers only to 2^24.
struct BinomialSetup {
  double p;
  int64_t ntrial;
  double q, ratio;  // ratio = q / (1 - q), the step of the pmf recurrence
  double start;     // (1 - q)^ntrial, the probability of 0
  double tail;      // inversion restarts beyond this count, which no sum of probabilities reaches
  // BTPE
  double m, fm, xm, xl, xr, c, lam_l, lam_r, p1, p2, p3, p4, npq;
};
static_assert(sizeof(BinomialSetup) <= kBinomialChunkBytes);

constexpr double kInversionLimit = 30.0;

void build(BinomialSetup& s, int32_t ntrial, double p) {
  s.p = p;
  s.ntrial = ntrial;
  const double n = ntrial, q = std::min(p, 1.0 - p), r = 1.0 - q;
  s.q = q;
  s.ratio = q / r;
  if (n * q < kInversionLimit) {
    s.start = d_powx(r, n);
    s.tail = std::min(n, std::ceil(n * q + 60.0 * std::sqrt(n * q) + 60.0));
    return;
  }
  s.fm = n * q + q;
  s.m = std::floor(s.fm);
  s.npq = n * q * r;
  s.p1 = std::floor(2.195 * std::sqrt(s.npq) - 4.6 * r) + 0.5;
  s.xm = s.m + 0.5;
  s.xl = s.xm - s.p1;
  s.xr = s.xm + s.p1;
  s.c = 0.134 + 20.5 / (15.3 + s.m);
  double a = (s.fm - s.xl) / (s.fm - s.xl * q);
  s.lam_l = a * (1.0 + 0.5 * a);
  a = (s.xr - s.fm) / (s.xr * r);
  s.lam_r = a * (1.0 + 0.5 * a);
  s.p2 = s.p1 * (1.0 + s.c + s.c);
  s.p3 = s.p2 + s.c / s.lam_l;
  s.p4 = s.p3 + s.c / s.lam_r;
}

// The count for one uniform u < 1 by summing probabilities from zero; -1 asks for a new uniform
// (the sum rounded below u far in the tail).
double invert(const BinomialSetup& s, double u) {
  const double n = static_cast<double>(s.ntrial);
  double x = 0, f = s.start;
  while (u > f) {
    if (x >= n) return n;
    if (x >= s.tail) return -1.0;
    u -= f;
    f *= (n - x) * s.ratio / (x + 1.0);
    x += 1.0;
  }
  return x;
}

// Stirling's correction term 1/(12a) - 1/(360a^3) + 1/(1260a^5) - 1/(1680a^7) + 1/(1188a^9).
inline double stirling(double a) {
  const double a2 = a * a;
  return (13860.0 - (462.0 - (132.0 - (99.0 - 140.0 / a2) / a2) / a2) / a2) / a / 166320.0;
}

// One BTPE attempt from the pair (u, v); -1 when it is rejected.
double btpe_attempt(const BinomialSetup& s, double u, double v, double ln_v) {
  const double n = static_cast<double>(s.ntrial), q = s.q, r = 1.0 - q;
  u *= s.p4;
  double ix;
  if (u <= s.p1) return std::floor(s.xm - s.p1 * v + u);  // the triangle
  if (u <= s.p2) {                                        // the parallelograms
    const double x = s.xl + (u - s.p1) / s.c;
    v = v * s.c + 1.0 - std::fabs(s.m - x + 0.5) / s.p1;
    if (v > 1.0 || v <= 0.0) return -1.0;
    ix = std::floor(x);
  } else if (u <= s.p3) {  // the left exponential tail
    ix = std::floor(s.xl + ln_v / s.lam_l);
    if (ix < 0.0) return -1.0;
    v *= (u - s.p2) * s.lam_l;
  } else {  // the right one
    ix = std::floor(s.xr - ln_v / s.lam_r);
    if (ix > n) return -1.0;
    v *= (u - s.p3) * s.lam_r;
  }
  const double k = std::fabs(ix - s.m);
  if (k <= 20.0 || k >= s.npq / 2 - 1) {
    // f(ix) / f(m) by the recurrence.
    const double ratio = q / r, a = ratio * (n + 1.0);
    double f = 1.0;
    if (s.m < ix) {
      for (double i = s.m + 1; i <= ix; i += 1.0) f *= a / i - ratio;
    } else {
      for (double i = ix + 1; i <= s.m; i += 1.0) f /= a / i - ratio;
    }
    return v <= f ? ix : -1.0;
  }
  // Squeeze by the normal approximation, then the exact bound through Stirling's series.
  const double amaxp = (k / s.npq) * ((k * (k / 3.0 + 0.625) + 0.1666666666666) / s.npq + 0.5);
  const double ynorm = -k * k / (2.0 * s.npq);
  const double alv = std::log(v);
  if (alv < ynorm - amaxp) return ix;
  if (alv > ynorm + amaxp) return -1.0;
  const double x1 = ix + 1.0, f1 = s.fm + 1.0, z = n + 1.0 - s.fm, w = n - ix + 1.0;
  const double bound = s.xm * std::log(f1 / x1) + (n - s.m + 0.5) * std::log(z / w) +
                       (ix - s.m) * std::log(w * q / (x1 * r)) + stirling(f1) + stirling(z) + stirling(x1) +
                       stirling(w);
  return alv <= bound ? ix : -1.0;
}

}  // namespace
}  // namespace zok::rng::discrete

using namespace zok::rng::discrete;

extern "C" ZOK_RNG_API int32_t _qoriRngBinomial(int32_t, StreamRecord* stream, int32_t n, uint32_t* r,
                                                int32_t ntrial, double p) {
  if (n <= 0) return 0;
  int32_t status;
  auto* s = static_cast<BinomialSetup*>(setup_chunk(stream, kBinomialChunk, kBinomialChunkBytes, &status));
  if (s == nullptr) return status;
  const double q = std::min(p, 1.0 - p);
  const bool mirror = p > 0.5;
  if (ntrial <= 0 || q <= 0.0) {
    std::fill(r, r + n, mirror && ntrial > 0 ? static_cast<uint32_t>(ntrial) : 0u);
    return 0;
  }
  if (std::bit_cast<uint64_t>(s->p) != std::bit_cast<uint64_t>(p) || s->ntrial != ntrial)
    build(*s, ntrial, p);
  const double nt = ntrial;
  auto out = [nt, mirror](double x) { return mirror ? nt - x : x; };
  if (ntrial * q < kInversionLimit)
    return fill_by_inversion<float>(
        stream, n, r, [s](double u) { return invert(*s, u); }, s->tail, out);
  return fill_by_rejection(
      stream, n, r, [s](double u, double v, double ln_v) { return btpe_attempt(*s, u, v, ln_v); }, out);
}

// Hypergeometric variates (marked elements in a sample of s drawn without replacement from a lot of l
// holding m marked), reduced by symmetry to a sample and a marked count of at most half the lot.
// When the mode lies within 10 of either end of the support, or the support has at most 1024
// values, inversion over a cumulative table kept in a chunk; otherwise the H2PE acceptance-rejection
// method of Kachitvichyanukul and Schmeiser (1985).
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "distributions/discrete/discrete_common.h"

namespace zok::rng::discrete {
namespace {

constexpr int64_t kTableMax = 1024;  // table entries; also the widest support always inverted
constexpr int64_t kModeMargin = 10;  // H2PE needs the mode this far from both ends of the support

// The lot after the reductions: a sample of k <= tn/2 with n1 <= tn/2 marked; the variate is
// mapped back by `from_complement` (the sample's complement was drawn) and `count_unmarked`.
struct Reduced {
  int64_t tn, n1, n2, k, mode, max;
  bool from_complement, count_unmarked;
};

Reduced reduce(int32_t l, int32_t s, int32_t m) {
  Reduced r;
  r.tn = l;
  r.count_unmarked = 2 * static_cast<int64_t>(m) > l;
  r.n1 = r.count_unmarked ? l - m : m;
  r.n2 = r.tn - r.n1;
  r.from_complement = 2 * static_cast<int64_t>(s) > l;
  r.k = r.from_complement ? l - s : s;
  r.mode = static_cast<int64_t>(std::floor((r.k + 1.0) * (r.n1 + 1.0) / (r.tn + 2.0)));
  r.max = std::min(r.n1, r.k);  // the least value is 0, since k <= n2
  return r;
}

double map_back(const Reduced& r, int32_t s, double y) {
  if (r.from_complement) y = static_cast<double>(r.n1) - y;
  return r.count_unmarked ? s - y : y;
}

// pmf(x + 1) / pmf(x).
inline double step_up(const Reduced& r, double x) {
  return (r.n1 - x) * (r.k - x) / ((x + 1.0) * (r.n2 - r.k + x + 1.0));
}

inline double ln_weight(const Reduced& r, double x) {
  return ln_factorial(x) + ln_factorial(r.n1 - x) + ln_factorial(r.k - x) + ln_factorial(r.n2 - r.k + x);
}

// ---- the chunk: (l, s·2^32 + m) first, then the method's set-up ----
struct Header {
  int64_t l;
  uint64_t sm;
  double spare[4];
};
// A table's entries follow the header.
inline double* table_of(Header* h) {
  return reinterpret_cast<double*>(h + 1);
}
struct H2peSetup {
  Header h;
  double xl, xr, a, lam_l, lam_r, p1, p2, p3;
};
static_assert(sizeof(H2peSetup) <= kHyperChunkBytes);

bool uses_table(const Reduced& r) {
  return r.max + 1 <= kTableMax || r.mode < kModeMargin || r.max - r.mode < kModeMargin;
}
int64_t table_size(const Reduced& r) {
  return std::min(r.max + 1, kTableMax);
}

void build_table(Header& h, const Reduced& r) {
  double* cdf = table_of(&h);
  const int64_t size = table_size(r);
  // Start from the mode's probability (or the last entry's, when the mode lies past the table) and
  // walk both ways; a full table is normalised by its own sum.
  const int64_t start = std::min(r.mode, size - 1);
  const double ln_all = ln_factorial(static_cast<double>(r.tn)) - ln_factorial(static_cast<double>(r.k)) -
                        ln_factorial(static_cast<double>(r.tn - r.k)) -
                        (ln_factorial(static_cast<double>(r.n1)) + ln_factorial(static_cast<double>(r.n2)));
  double* pmf = cdf;
  pmf[start] = std::exp(-ln_weight(r, static_cast<double>(start)) - ln_all);
  for (int64_t x = start; x + 1 < size; ++x) pmf[x + 1] = pmf[x] * step_up(r, static_cast<double>(x));
  for (int64_t x = start; x > 0; --x) pmf[x - 1] = pmf[x] / step_up(r, static_cast<double>(x - 1));
  h.spare[0] = pmf[size - 1];  // where a search past the table goes on
  double sum = 0;
  for (int64_t x = 0; x < size; ++x) cdf[x] = (sum += pmf[x]);
  if (size == r.max + 1) {
    for (int64_t x = 0; x < size; ++x) cdf[x] /= sum;
    h.spare[0] /= sum;
  }
}

void build_h2pe(H2peSetup& h, const Reduced& r) {
  const double tn = r.tn, n1 = r.n1, n2 = r.n2, k = r.k, mode = r.mode;
  const double s = std::sqrt((tn - k) * k * n1 * n2 / (tn - 1.0) / tn / tn);
  const double d = std::floor(1.5 * s) + 0.5;
  h.xl = mode - d + 0.5;
  h.xr = mode + d + 0.5;
  h.a = ln_weight(r, mode);
  const double kl = std::exp(h.a - ln_weight(r, std::floor(h.xl)));
  const double kr = std::exp(h.a - ln_weight(r, std::floor(h.xr - 1.0)));
  h.lam_l = -std::log(h.xl * (n2 - k + h.xl) / (n1 - h.xl + 1.0) / (k - h.xl + 1.0));
  h.lam_r = -std::log((n1 - h.xr + 1.0) * (k - h.xr + 1.0) / h.xr / (n2 - k + h.xr));
  h.p1 = d + d;
  h.p2 = h.p1 + kl / h.lam_l;
  h.p3 = h.p2 + kr / h.lam_r;
}

// One H2PE attempt from the pair (u, v); -1 when rejected.
double h2pe_attempt(const H2peSetup& h, const Reduced& r, double u, double v, double ln_v) {
  u *= h.p3;
  double ix;
  if (u < h.p1) {  // the rectangle around the mode
    ix = std::floor(h.xl + u);
  } else if (u <= h.p2) {  // the left exponential tail
    ix = std::floor(h.xl + ln_v / h.lam_l);
    v *= (u - h.p1) * h.lam_l;
  } else {  // the right one (both tails end at the support)
    ix = std::floor(h.xr - ln_v / h.lam_r);
    v *= (u - h.p2) * h.lam_r;
  }
  if (!(ix >= 0.0 && ix <= static_cast<double>(r.max))) return -1.0;
  const double mode = static_cast<double>(r.mode);
  if (r.mode < 100 || ix <= 50) {
    // f(ix) / f(mode) by the recurrence.
    double f = 1.0;
    if (mode < ix) {
      for (double i = mode; i < ix; i += 1.0) f *= step_up(r, i);
    } else {
      for (double i = ix; i < mode; i += 1.0) f /= step_up(r, i);
    }
    return v <= f ? ix : -1.0;
  }
  return std::log(v) <= h.a - ln_weight(r, ix) ? ix : -1.0;
}

int32_t fill_table(Header& h, const Reduced& red, StreamRecord* stream, int32_t n, uint32_t* r, int32_t s) {
  const int64_t size = table_size(red);
  const double* cdf_of = table_of(&h);
  const double last = static_cast<double>(size - 1), max = static_cast<double>(red.max);
  const double mean = static_cast<double>(red.k) * red.n1 / red.tn;
  const double bound = std::min(max, last + std::ceil(mean + 60.0 * std::sqrt(mean) + 60.0));
  auto invert = [&](double u) {
    if (u <= cdf_of[size - 1]) return static_cast<double>(first_not_below(cdf_of, size, u));
    double x = last, f = h.spare[0], cdf = cdf_of[size - 1];
    while (u > cdf) {
      if (x >= max) return max;
      if (x >= bound) return -1.0;
      f *= step_up(red, x);
      x += 1.0;
      cdf += f;
    }
    return x;
  };
  return fill_by_inversion<double>(stream, n, r, invert, bound,
                                   [&](double x) { return map_back(red, s, x); });
}

}  // namespace
}  // namespace zok::rng::discrete

using namespace zok::rng::discrete;

extern "C" ZOK_RNG_API int32_t _qoriRngHypergeometric(int32_t, StreamRecord* stream, int32_t n, uint32_t* r,
                                                      int32_t l, int32_t s, int32_t m) {
  if (n <= 0) return 0;
  const Reduced red = reduce(l, s, m);
  const bool table = uses_table(red);
  const int32_t bytes = table ? static_cast<int32_t>(8 * table_size(red) + 48) : kHyperChunkBytes;
  int32_t status;
  auto* h = static_cast<Header*>(setup_chunk(stream, kHyperChunk, bytes, &status, true));
  if (h == nullptr) return status;
  if (red.max == 0) {  // nothing marked, nothing drawn, or the whole lot marked or drawn
    std::fill(r, r + n, to_word(map_back(red, s, 0.0)));
    return 0;
  }
  const uint64_t sm = (static_cast<uint64_t>(static_cast<uint32_t>(s)) << 32) | static_cast<uint32_t>(m);
  if (h->l != l || h->sm != sm) {
    h->l = l;
    h->sm = sm;
    if (table) {
      build_table(*h, red);
    } else {
      build_h2pe(*reinterpret_cast<H2peSetup*>(h), red);
    }
  }
  return table ? fill_table(*h, red, stream, n, r, s)
               : fill_by_rejection(
                     stream, n, r,
                     [&](double u, double v, double ln_v) {
                       return h2pe_attempt(*reinterpret_cast<H2peSetup*>(h), red, u, v, ln_v);
                     },
                     [&](double x) { return map_back(red, s, x); });
}

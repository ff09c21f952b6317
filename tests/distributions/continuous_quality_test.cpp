// Goodness of fit of the continuous distributions in both precisions: a binned chi-square test
// against Boost.Math's distribution functions in long double, bins of equal probability whose
// edges are rounded to the output type.
#include <gsl/gsl_cdf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <boost/math/distributions.hpp>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "tests/distributions/dist_support.h"

#ifndef ZOK_QUALITY_DRAWS
#define ZOK_QUALITY_DRAWS 100000
#define ZOK_QUALITY_BINS 100
#endif

namespace zok::test {
namespace {

using LD = long double;

// A standard law from Boost.Math: CDF, quantile, and the support its variates must keep. Gumbel is
// the smallest-extreme-value law, the mirror of Boost's extreme_value.
struct Law {
  std::function<LD(LD)> cdf, quantile;
  LD lo = -INFINITY, hi = INFINITY;
};
template <class D>
Law law(D d, LD lo = -INFINITY, LD hi = INFINITY) {
  return {[=](LD x) { return x <= lo   ? 0
                             : x >= hi ? 1
                                       : cdf(d, x); }, [=](LD p) { return quantile(d, p); },
          lo, hi};
}
namespace bm = boost::math;
const Law kClosed[] = {law(bm::exponential_distribution<LD>(), 0),
                       law(bm::laplace_distribution<LD>()),
                       law(bm::cauchy_distribution<LD>()),
                       law(bm::rayleigh_distribution<LD>(M_SQRT1_2), 0),
                       {[](LD x) { return cdf(complement(bm::extreme_value_distribution<LD>(), -x)); },
                        [](LD p) { return -quantile(complement(bm::extreme_value_distribution<LD>(), p)); }}};
const char* const kClosedNames[] = {"exponential", "laplace", "cauchy", "rayleigh", "gumbel"};

// Variates round to nearest, so "below the edge e" means below the midpoint of e and the value under
// it. Edges that round to one value merge their bins; bins that cannot hold a value must be empty.
template <class T>
double chi_square(const std::vector<T>& draws, const Law& law, int bins) {
  std::vector<T> edges;
  for (int k = 1; k < bins; ++k)
    if (const T e = static_cast<T>(law.quantile(static_cast<LD>(k) / bins));
        edges.empty() || e > edges.back())
      edges.push_back(e);
  std::vector<LD> below{0};
  for (T e : edges) below.push_back(law.cdf((static_cast<LD>(e) + std::nextafter(e, -INFINITY)) / 2));
  below.push_back(1);
  std::vector<long> counts(edges.size() + 1, 0);
  for (T x : draws) ++counts[std::upper_bound(edges.begin(), edges.end(), x) - edges.begin()];
  double stat = 0;
  int used = 0;
  for (size_t k = 0; k < counts.size(); ++k) {
    const double expected = static_cast<double>((below[k + 1] - below[k]) * draws.size());
    if (expected > 0) {
      stat += (counts[k] - expected) * (counts[k] - expected) / expected, ++used;
    } else {
      EXPECT_EQ(counts[k], 0) << "bin " << k;
    }
  }
  return gsl_cdf_chisq_Q(stat, used - 1);
}

// draw(stream, n, r, a, beta) gives the standard law shifted by a and scaled by beta; per_call > 0
// asks for that many variates at a time.
template <class T>
using Draw = std::function<int32_t(StreamRecord*, int32_t, T*, T, T)>;
template <class T>
void check(const std::string& name, const Law& law, const Draw<T>& draw, T a, T scale, int32_t per_call = 0) {
  SCOPED_TRACE(name + (sizeof(T) == 4 ? " single" : " double") + " a=" + std::to_string(a));
  const int32_t n = ZOK_QUALITY_DRAWS, step = per_call > 0 ? per_call : n;
  std::vector<T> r(n);
  const Stream s(ZOK_RNG_MCG59, 20261207);
  for (int32_t done = 0; done < n; done += step) ASSERT_EQ(draw(s, step, r.data() + done, a, scale), 0);
  const T lo = static_cast<T>(a + scale * law.lo), hi = static_cast<T>(a + scale * law.hi);
  long outside = 0;
  for (T& x : r) {
    outside += !(x >= lo && x <= hi);  // NaN included
    x = (x - a) / scale;
  }
  EXPECT_EQ(outside, 0);
  EXPECT_GT(chi_square(r, law, ZOK_QUALITY_BINS), 1e-4);
}

template <class T, class F2, class F3, class F4>
void quality_grid(const F2* two, F3 weibull_fn, F3 gamma_fn, F4 beta_fn) {
  const auto shaped = [](F3 f, T shape) {
    return Draw<T>([=](StreamRecord* s, int32_t n, T* r, T a, T b) { return f(0, s, n, r, shape, a, b); });
  };
  for (int i = 0; i < 5; ++i) {
    const Draw<T> draw = [f = two[i]](StreamRecord* s, int32_t n, T* r, T a, T b) {
      return f(0, s, n, r, a, b);
    };
    check<T>(kClosedNames[i], kClosed[i], draw, 0, 1);
    check<T>(kClosedNames[i], kClosed[i], draw, -3, T(2.5));
  }
  for (T alpha : {0.1, 0.5, 1.0, 1.5, 10.0, 1000.0})
    check<T>("weibull " + std::to_string(alpha), law(bm::weibull_distribution<LD>(alpha), 0),
             shaped(weibull_fn, alpha), 0, 1);
  for (T alpha : {0.001, 0.05, 0.3, 0.5999999, 0.6, 0.99, 1.0, 1.0000001, 2.5, 100.0, 1e6})
    check<T>("gamma " + std::to_string(alpha), law(bm::gamma_distribution<LD>(alpha), 0),
             shaped(gamma_fn, alpha), 0, 1);
  check<T>("gamma 2.5 one per call", law(bm::gamma_distribution<LD>(2.5), 0), shaped(gamma_fn, T(2.5)), 1, 2,
           1);
  const double shapes[][2] = {{0.001, 0.001}, {0.1, 0.1}, {0.5, 0.5}, {0.3, 2}, {2, 0.3},
                              {1, 1},         {2, 3},     {1, 1000},  {50, 50}, {1e5, 1e5}};
  for (const auto& [p, q] : shapes) {
    const T tp = static_cast<T>(p), tq = static_cast<T>(q);
    check<T>(
        "beta " + std::to_string(p) + "," + std::to_string(q), law(bm::beta_distribution<LD>(tp, tq), 0, 1),
        [=](StreamRecord* s, int32_t n, T* r, T a, T b) { return beta_fn(0, s, n, r, tp, tq, a, b); }, 0, 1);
  }
}

TEST(ContinuousQuality, DoubleFormsFitTheirDistributions) {
  using F = int32_t (*)(int32_t, StreamRecord*, int32_t, double*, double, double);
  const F two[] = {_qordRngExponential, _qordRngLaplace, _qordRngCauchy, _qordRngRayleigh, _qordRngGumbel};
  quality_grid<double>(two, _qordRngWeibull, _qordRngGamma, _qordRngBeta);
}
TEST(ContinuousQuality, SingleFormsFitTheirDistributions) {
  using F = int32_t (*)(int32_t, StreamRecord*, int32_t, float*, float, float);
  const F two[] = {_qorsRngExponential, _qorsRngLaplace, _qorsRngCauchy, _qorsRngRayleigh, _qorsRngGumbel};
  quality_grid<float>(two, _qorsRngWeibull, _qorsRngGamma, _qorsRngBeta);
}

}  // namespace
}  // namespace zok::test

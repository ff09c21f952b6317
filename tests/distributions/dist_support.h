// Helpers for distribution tests: owning streams, a registered stand-in generator that delivers
// chosen uniforms, precision-generic calls, and a binned chi-square test against an exact CDF.
#pragma once

#include <gsl/gsl_cdf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "zok/random.h"
#include "zok/vector_math.h"

namespace zok::test {

// Owns a stream; copying copies the stream (state and chunks).
class Stream {
 public:
  Stream(int32_t brng, uint32_t seed) { EXPECT_EQ(__qorNewStreamEx(&s_, brng, 1, &seed), 0); }
  Stream(const Stream& other) { EXPECT_EQ(__qorCopyStream(&s_, other.s_), 0); }
  ~Stream() { __qorDeleteStream(&s_); }
  operator StreamRecord*() const { return s_; }

 private:
  StreamRecord* s_ = nullptr;
};

// The stand-in generator gives a + (b - a)·u for the scripted u in turn (cycling), as generators
// map their words, so u = 0 gives exactly a and u = 1 exactly b.
inline std::vector<double> g_script{0.5};
inline size_t g_next = 0;
inline void script_uniforms(std::vector<double> u) {
  g_script = std::move(u), g_next = 0;
}
template <class T>
int32_t scripted(StreamRecord*, int32_t n, T* r, T a, T b) {
  for (int32_t k = 0; k < n; ++k) r[k] = static_cast<T>(a + (b - a) * g_script[g_next++ % g_script.size()]);
  return 0;
}
inline int32_t scripted_init(int32_t, StreamRecord*, int32_t, const uint32_t*) {
  return 0;
}
inline int32_t scripted_words(StreamRecord*, int32_t, uint32_t*) {
  return 0;
}
inline int32_t scripted_brng() {
  static const GeneratorProperties row{
      24, 1, 1, 4, 32, scripted_init, scripted<float>, scripted<double>, scripted_words};
  static const int32_t id = __qorRegisterBrng(&row);
  return id;
}

// The double or single form of an operation, by the element type.
template <class T>
int32_t gaussian(int32_t method, StreamRecord* s, int32_t n, T* r, T a, T sigma) {
  if constexpr (sizeof(T) == 8)
    return _qordRngGaussian(method, s, n, r, a, sigma);
  else
    return _qorsRngGaussian(method, s, n, r, a, sigma);
}
// n uniforms on [a, b) straight from the stream's generator.
template <class T>
std::vector<T> uniforms(StreamRecord* s, int32_t n, T a, T b) {
  GeneratorProperties row{};
  EXPECT_EQ(__qorGetBrngProperties(s->brng, &row), 0);
  std::vector<T> u(n);
  if constexpr (sizeof(T) == 8)
    EXPECT_EQ(row.generate_d(s, n, u.data(), a, b), 0);
  else
    EXPECT_EQ(row.generate_s(s, n, u.data(), a, b), 0);
  return u;
}

// p-value of Pearson's statistic for `draws` in `bins` equiprobable bins of the distribution whose
// inverse CDF is `quantile` (bin k is [quantile(k / bins), quantile((k + 1) / bins))).
template <class T>
double chi_square_p(const std::vector<T>& draws, int bins, const std::function<double(double)>& quantile) {
  std::vector<double> edges(bins - 1);
  for (int k = 1; k < bins; ++k) edges[k - 1] = quantile(static_cast<double>(k) / bins);
  std::vector<double> counts(bins, 0);
  for (T x : draws) ++counts[std::upper_bound(edges.begin(), edges.end(), double(x)) - edges.begin()];
  const double expected = static_cast<double>(draws.size()) / bins;
  double stat = 0;
  for (double c : counts) stat += (c - expected) * (c - expected) / expected;
  return gsl_cdf_chisq_Q(stat, bins - 1);
}

}  // namespace zok::test

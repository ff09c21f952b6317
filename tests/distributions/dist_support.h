// Helpers for distribution tests: streams of the built-in generators, a registered stand-in
// generator that delivers chosen uniforms, and a binned chi-square test against an exact CDF.
#pragma once

#include <gsl/gsl_cdf.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "zok/random.h"

namespace zok::test {

// Owns a stream; the copy constructor copies the stream (state and chunks).
class Stream {
 public:
  Stream(int32_t brng, uint32_t seed) { EXPECT_EQ(__qorNewStreamEx(&s_, brng, 1, &seed), 0); }
  Stream(const Stream& other) { EXPECT_EQ(__qorCopyStream(&s_, other.s_), 0); }
  Stream& operator=(const Stream&) = delete;
  ~Stream() { __qorDeleteStream(&s_); }
  StreamRecord* get() const { return s_; }
  operator StreamRecord*() const { return s_; }

 private:
  StreamRecord* s_ = nullptr;
};

// The stand-in generator maps the scripted values u (queued by the test, used in order, then
// repeated from the start) through a + (b - a)·u, as the generators do, so u = 0 gives exactly a
// and u = 1 gives exactly b.
void script_uniforms(std::vector<double> u);
int32_t scripted_brng();

// p-value of Pearson's statistic for `draws` placed in `bins` equiprobable bins of the
// distribution whose inverse CDF is `quantile`: bin edges quantile(k / bins).
double chi_square_p(const std::vector<double>& draws, int bins,
                    const std::function<double(double)>& quantile);
// The same for integer draws in [lo, lo + counts) with equal probabilities.
double chi_square_p_uniform_int(const std::vector<int32_t>& draws, int32_t lo, int32_t count);

}  // namespace zok::test

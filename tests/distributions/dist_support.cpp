// The stand-in generator and the chi-square test of the distribution tests.
#include "tests/distributions/dist_support.h"

#include <algorithm>
#include <cstring>

namespace zok::test {

namespace {

std::vector<double>& script() {
  static std::vector<double> values{0.5};
  return values;
}
size_t& position() {
  static size_t pos = 0;
  return pos;
}
double next_u() {
  const double u = script()[position()];
  position() = (position() + 1) % script().size();
  return u;
}

int32_t scripted_init(int32_t, StreamRecord*, int32_t, const uint32_t*) {
  return 0;
}
int32_t scripted_d(StreamRecord*, int32_t n, double* r, double a, double b) {
  for (int32_t k = 0; k < n; ++k) r[k] = a + (b - a) * next_u();
  return 0;
}
int32_t scripted_s(StreamRecord*, int32_t n, float* r, float a, float b) {
  for (int32_t k = 0; k < n; ++k) r[k] = static_cast<float>(a + (b - a) * next_u());
  return 0;
}
int32_t scripted_i(StreamRecord*, int32_t n, uint32_t* r) {
  for (int32_t k = 0; k < n; ++k) r[k] = static_cast<uint32_t>(next_u() * 4294967296.0);
  return 0;
}

}  // namespace

void script_uniforms(std::vector<double> u) {
  script() = std::move(u);
  position() = 0;
}

int32_t scripted_brng() {
  static const int32_t id = [] {
    const GeneratorProperties row{24, 1, 1, 4, 32, scripted_init, scripted_s, scripted_d, scripted_i};
    return __qorRegisterBrng(&row);
  }();
  return id;
}

double chi_square_p(const std::vector<double>& draws, int bins,
                    const std::function<double(double)>& quantile) {
  std::vector<double> edges(bins - 1);
  for (int k = 1; k < bins; ++k) edges[k - 1] = quantile(static_cast<double>(k) / bins);
  std::vector<long> counts(bins, 0);
  for (double x : draws) ++counts[std::upper_bound(edges.begin(), edges.end(), x) - edges.begin()];
  const double expected = static_cast<double>(draws.size()) / bins;
  double stat = 0;
  for (long c : counts) stat += (c - expected) * (c - expected) / expected;
  return gsl_cdf_chisq_Q(stat, bins - 1);
}

double chi_square_p_uniform_int(const std::vector<int32_t>& draws, int32_t lo, int32_t count) {
  std::vector<long> counts(count, 0);
  for (int32_t x : draws) {
    EXPECT_TRUE(x >= lo && x - lo < count) << x;
    if (x >= lo && x - lo < count) ++counts[x - lo];
  }
  const double expected = static_cast<double>(draws.size()) / count;
  double stat = 0;
  for (long c : counts) stat += (c - expected) * (c - expected) / expected;
  return gsl_cdf_chisq_Q(stat, count - 1);
}

}  // namespace zok::test

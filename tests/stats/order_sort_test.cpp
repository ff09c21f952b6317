// The sorting helpers against std::sort and std::nth_element over data shapes and sizes, a McIlroy
// adversary against the median-of-three steps, and the radix order of signed zeros and specials.
#include "stats/order_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "zok/summary_stats.h"

namespace {

// Element i of n in one of six shapes: random, sorted, reversed, tied, equal, organ pipe.
double shaped(int shape, int64_t i, int64_t n, std::mt19937_64& gen) {
  const double v[] = {std::ldexp(static_cast<double>(gen() >> 11), -53),
                      static_cast<double>(i),
                      static_cast<double>(n - i),
                      static_cast<double>(gen() % 5),
                      7.0,
                      static_cast<double>(std::min(i, n - 1 - i))};
  return v[shape];
}

TEST(OrderSort, HelpersAgreeWithTheStandardLibrary) {
  for (int64_t n : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 15, 1000, 100000})
    for (int shape = 0; shape < 6; ++shape) {
      SCOPED_TRACE(testing::Message() << "n " << n << " shape " << shape);
      std::mt19937_64 gen(11 + n);
      std::vector<double> v(n);
      for (int64_t i = 0; i < n; ++i) v[i] = shaped(shape, i, n, gen);
      std::vector<double> want = v, a = v, r = v, scratch(n), g(3 * n, -99.0);
      std::sort(want.begin(), want.end());
      __qordQSort(n, a.data());
      zok::ss::radix_sort(r.data(), scratch.data(), n);
      EXPECT_TRUE(a == want && r == want);
      // Stride 3 over a gapped array: the gaps keep their marker.
      for (int64_t i = 0; i < n; ++i) g[3 * i] = v[i];
      __qordQSortStep(n, g.data(), 3);
      for (int64_t i = 0; i < n; ++i)
        ASSERT_TRUE(g[3 * i] == want[i] && g[3 * i + 1] == -99 && g[3 * i + 2] == -99);
      for (int64_t k : {int64_t{0}, n / 3, n / 2, n - 1}) {
        if (k < 0 || k >= n) continue;
        std::vector<double> s = v;
        ASSERT_EQ(__qordQSortSelect(n, s.data(), k), want[k]);
        for (int64_t i = 0; i < n; ++i) ASSERT_TRUE(i < k ? s[i] <= s[k] : s[i] >= s[k]) << i;
      }
    }
  double one = 1;
  EXPECT_TRUE(std::isnan(__qordQSortSelect(1, &one, 1)));
}

TEST(OrderSort, RadixOrdersSignedZerosInfinitiesAndDenormals) {
  const double den = std::numeric_limits<double>::denorm_min(), inf = INFINITY;
  std::vector<double> v = {0.0, -0.0, inf, -inf, den, -den, 1e-310, -1e-310, 2.0, -2.0, 0.0, -0.0};
  std::vector<double> want = {-inf, -2.0, -1e-310, -den, -0.0, -0.0, 0.0, 0.0, den, 1e-310, 2.0, inf};
  std::vector<double> scratch(v.size());
  zok::ss::radix_sort(v.data(), scratch.data(), static_cast<int64_t>(v.size()));
  for (size_t i = 0; i < v.size(); ++i)
    EXPECT_EQ(std::bit_cast<uint64_t>(v[i]), std::bit_cast<uint64_t>(want[i]));
}

// McIlroy's adversary: values are fixed only when a comparison needs them, always so that the pivot
// candidate ends up small. Recording the answers gives input that makes the steps quadratic.
struct Adversary {
  std::vector<int64_t> val;
  int64_t gas, solid = 0, candidate = 0, comparisons = 0;
  explicit Adversary(int64_t n) : val(n, n), gas(n) {}
  bool operator()(int64_t x, int64_t y) {
    ++comparisons;
    if (val[x] == gas && val[y] == gas) val[x == candidate ? x : y] = solid++;
    candidate = val[x] == gas ? x : val[y] == gas ? y : candidate;
    return val[x] < val[y];
  }
};

TEST(OrderSort, CraftedInputReachesTheFallback) {
  constexpr int64_t n = 20000;
  for (bool select : {false, true}) {
    SCOPED_TRACE(select ? "select" : "sort");
    auto run = [&](auto a, auto less, int64_t limit) {
      if (select)
        zok::ss::quick_select(n, a, n / 2, less, limit);
      else
        zok::ss::quick_sort(n, a, less, limit);
    };
    // Without the depth limit the adversary forces about n^2/4 comparisons.
    int64_t count = 0;
    std::vector<int64_t> idx(n);
    for (int64_t i = 0; i < n; ++i) idx[i] = i;
    Adversary adv(n);
    run(zok::ss::Strided<int64_t, true>{idx.data(), 1}, std::ref(adv), INT64_MAX);
    EXPECT_GT(adv.comparisons, n * n / 16);
    // The same input under the library's limit: n log n.
    std::vector<double> data(adv.val.begin(), adv.val.end()), a = data, want = data;
    auto counting = [&count](double x, double y) { return ++count, x < y; };
    run(zok::ss::Strided<double, true>{a.data(), 1}, counting, zok::ss::depth_limit(n));
    EXPECT_LT(count, 8 * n * std::log2(double(n)));
    std::sort(want.begin(), want.end());
    EXPECT_TRUE(select ? a[n / 2] == want[n / 2] : a == want);
  }
}

}  // namespace

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

std::vector<double> shaped(int shape, int64_t n, uint64_t seed) {
  std::mt19937_64 gen(seed);
  std::normal_distribution<double> normal;
  std::vector<double> v(n);
  for (int64_t i = 0; i < n; ++i) {
    switch (shape) {
      case 0:
        v[i] = normal(gen);
        break;  // random
      case 1:
        v[i] = static_cast<double>(i);
        break;  // sorted
      case 2:
        v[i] = static_cast<double>(n - i);
        break;  // reversed
      case 3:
        v[i] = static_cast<double>(gen() % 5);
        break;  // tied
      case 4:
        v[i] = 7.0;
        break;  // equal
      default:
        v[i] = static_cast<double>(std::min(i, n - 1 - i));
        break;  // organ pipe
    }
  }
  return v;
}

TEST(OrderSort, HelpersAgreeWithTheStandardLibrary) {
  for (int64_t n : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 15, 1000, 100000})
    for (int shape = 0; shape < 6; ++shape) {
      SCOPED_TRACE(testing::Message() << "n " << n << " shape " << shape);
      const std::vector<double> v = shaped(shape, n, 11 + n);
      std::vector<double> want = v;
      std::sort(want.begin(), want.end());
      std::vector<double> a = v;
      __qordQSort(n, a.data());
      EXPECT_EQ(a, want);
      std::vector<double> scratch(n), r = v;
      zok::ss::radix_sort(r.data(), scratch.data(), n);
      EXPECT_EQ(r, want);
      // Stride 3 over a gapped array: the gaps keep their marker.
      std::vector<double> g(3 * n, -99.0);
      for (int64_t i = 0; i < n; ++i) g[3 * i] = v[i];
      __qordQSortStep(n, g.data(), 3);
      for (int64_t i = 0; i < n; ++i) {
        ASSERT_EQ(g[3 * i], want[i]);
        ASSERT_EQ(g[3 * i + 1], -99.0);
        ASSERT_EQ(g[3 * i + 2], -99.0);
      }
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
  std::vector<float> f = {0.0f, -0.0f, -INFINITY, 1e-40f, -1e-40f, 3.0f};
  std::vector<float> fs(f.size());
  zok::ss::radix_sort(f.data(), fs.data(), static_cast<int64_t>(f.size()));
  EXPECT_TRUE(f[0] == -INFINITY && f[1] == -1e-40f && std::signbit(f[2]) && !std::signbit(f[3]) &&
              f[4] == 1e-40f && f[5] == 3.0f);
}

// McIlroy's adversary: values are fixed only when a comparison needs them, always so that the pivot
// candidate ends up small. Recording the answers gives input that makes the steps quadratic.
struct Adversary {
  std::vector<int64_t> val;
  int64_t gas, solid = 0, candidate = 0;
  int64_t* comparisons;
  Adversary(int64_t n, int64_t* counter) : val(n, n), gas(n), comparisons(counter) {}
  bool operator()(int64_t x, int64_t y) {
    ++*comparisons;
    if (val[x] == gas && val[y] == gas) val[x == candidate ? x : y] = solid++;
    if (val[x] == gas)
      candidate = x;
    else if (val[y] == gas)
      candidate = y;
    return val[x] < val[y];
  }
};

struct CountingLess {
  int64_t* comparisons;
  bool operator()(double a, double b) const {
    ++*comparisons;
    return a < b;
  }
};

TEST(OrderSort, CraftedInputReachesTheFallback) {
  constexpr int64_t n = 20000;
  const double nlogn = n * std::log2(double(n));
  for (bool select : {false, true}) {
    SCOPED_TRACE(select ? "select" : "sort");
    // Without the depth limit the adversary forces about n^2/4 comparisons.
    int64_t crafted_count = 0;
    std::vector<int64_t> idx(n);
    for (int64_t i = 0; i < n; ++i) idx[i] = i;
    Adversary adv(n, &crafted_count);
    zok::ss::Strided<int64_t, true> ia{idx.data(), 1};
    if (select)
      zok::ss::quick_select(n, ia, n / 2, std::ref(adv), INT64_MAX);
    else
      zok::ss::quick_sort(n, ia, std::ref(adv), INT64_MAX);
    EXPECT_GT(crafted_count, n * n / 16);
    std::vector<double> data(n);
    for (int64_t i = 0; i < n; ++i) data[i] = static_cast<double>(adv.val[i]);
    // The same input under the library's limit: n log n.
    int64_t count = 0;
    std::vector<double> a = data;
    zok::ss::Strided<double, true> da{a.data(), 1};
    if (select)
      zok::ss::quick_select(n, da, n / 2, CountingLess{&count}, zok::ss::depth_limit(n));
    else
      zok::ss::quick_sort(n, da, CountingLess{&count}, zok::ss::depth_limit(n));
    EXPECT_LT(count, 8 * nlogn);
    std::vector<double> want = data;
    std::sort(want.begin(), want.end());
    if (select)
      EXPECT_EQ(a[n / 2], want[n / 2]);
    else
      EXPECT_EQ(a, want);
  }
}

}  // namespace

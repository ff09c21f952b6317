// Stream quantiles: every answer's rank within eps*N on a million values in four orders, portions
// against one call, the tracked set and dimension fixed by the first call, statuses, and the
// allocation-failure sweep with every block given back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "core/thread_limit.h"
#include "tests/support/alloc_hook.h"
#include "zok/summary_stats.h"

namespace {

struct Stream {
  int64_t p, n = 0, storage = ZOK_SS_STORAGE_COLUMNS, count, params = 1;
  std::vector<double> orders, out, eps;
  SSTask* task = nullptr;
  Stream(int64_t p_, std::vector<double> o, double e, const int64_t* indices = nullptr)
      : p(p_), count(static_cast<int64_t>(o.size())), orders(std::move(o)), out(p * count + 1, -7), eps{e} {
    EXPECT_EQ(__qordSSNewTask(&task, &p, &n, &storage, nullptr, nullptr, indices, 1), 0);
    __qordSSEditStreamQuantiles(task, &count, orders.data(), out.data(), &params, eps.data());
  }
  ~Stream() { __qorSSDeleteTask(&task); }
  // Feeds observations [i0, i1) of x (columns storage, p values per observation).
  int32_t feed(const std::vector<double>& x, int64_t i0, int64_t i1, uint64_t method, int threads = 1) {
    n = i1 - i0;
    __qordSSEditTask(task, ZOK_SS_ID_X, x.data() + i0 * p);
    return _qordSSStreamQuantiles(task, 0, method, zok::core::threads_up_to(threads));
  }
};

// How far order*N lies outside the ranks v holds in sorted data (a tie holds all its ranks).
double rank_distance(const std::vector<double>& sorted, double v, double target) {
  const double lo = static_cast<double>(std::lower_bound(sorted.begin(), sorted.end(), v) - sorted.begin());
  const double hi = static_cast<double>(std::upper_bound(sorted.begin(), sorted.end(), v) - sorted.begin());
  return std::max({lo + 1 - target, target - hi, 0.0});
}

TEST(StreamQuantiles, RanksWithinEpsilonInEveryOrder) {
  constexpr int64_t N = 1000000;
  const std::vector<double> orders = {0, 0.001, 0.05, 0.25, 0.5, 0.75, 0.95, 0.999, 1};
  std::mt19937_64 gen(17);
  std::normal_distribution<double> normal;
  // Random, sorted, reversed, and 1000 distinct values.
  std::vector<std::vector<double>> data(4, std::vector<double>(N));
  for (int64_t i = 0; i < N; ++i) data[0][i] = normal(gen), data[3][i] = static_cast<double>(gen() % 1000);
  data[1] = data[0];
  std::sort(data[1].begin(), data[1].end());
  data[2].assign(data[1].rbegin(), data[1].rend());
  for (double eps : {0.01, 0.001})
    for (size_t d = 0; d < data.size(); ++d) {
      std::vector<double> ref = data[d];
      std::sort(ref.begin(), ref.end());
      Stream s(1, orders, eps);
      ASSERT_EQ(s.feed(data[d], 0, N / 3, ZOK_SS_METHOD_STREAM_UPDATE), 0);
      ASSERT_EQ(s.feed(data[d], N / 3, N, ZOK_SS_METHOD_STREAM), 0);
      for (int64_t i = 0; i < s.count; ++i)
        EXPECT_LE(rank_distance(ref, s.out[i], orders[i] * N), eps * N)
            << eps << " " << d << " " << orders[i];
    }
}

TEST(StreamQuantiles, PortionsGiveTheAnswerOfOneCall) {
  std::mt19937_64 gen(3);
  std::vector<double> x(3 * 50000);
  for (auto& v : x) v = static_cast<double>(gen() % 100000) * 0.5;
  const std::vector<double> orders = {0.1, 0.5, 0.9, 0.33};
  for (double eps : {0.05, 0.7, 1.0}) {
    Stream whole(3, orders, eps), parts(3, orders, eps);
    ASSERT_EQ(whole.feed(x, 0, 50000, ZOK_SS_METHOD_STREAM), 0);
    int64_t at = 0;
    for (int64_t step : {0, 1, 2, 7, 1000, 333, 12345}) {
      ASSERT_EQ(parts.feed(x, at, at + step, ZOK_SS_METHOD_STREAM, 2), 0);
      at += step;
    }
    ASSERT_EQ(parts.feed(x, at, 50000, ZOK_SS_METHOD_STREAM, 2), 0);
    EXPECT_EQ(whole.out, parts.out) << eps;
  }
}

TEST(StreamQuantiles, TrackedSetStatusesAndLargeEpsilon) {
  const std::vector<double> x = {5, 1, 4, 2, 3, 9, 8, 7, 6, 0};
  const int64_t select[2] = {0, 1}, all[2] = {1, 1};
  {
    Stream s(2, {0.5}, 1.0, select);
    ASSERT_EQ(s.feed(x, 0, 0, ZOK_SS_METHOD_STREAM), 0);  // only creates the state
    ASSERT_EQ(s.feed(x, 0, 5, ZOK_SS_METHOD_STREAM), 0);
    EXPECT_TRUE((s.out[0] == 1 || s.out[0] == 2 || s.out[0] == 7) &&
                s.out[1] == -7);  // variable 1: 1 2 9 7 0
    __qoriSSEditTask(s.task, ZOK_SS_ID_INDICES, all);
    EXPECT_EQ(s.feed(x, 0, 5, ZOK_SS_METHOD_STREAM), ZOK_SS_ERR_INDICES);
    s.p = 1;  // the state is sized by the first call
    EXPECT_EQ(s.feed(x, 0, 5, ZOK_SS_METHOD_STREAM), ZOK_SS_ERR_INDICES);
  }
  Stream s(2, {0.5}, 0.0);
  EXPECT_EQ(s.feed(x, 0, 5, 0), ZOK_SS_ERR_METHOD);
  EXPECT_EQ(s.feed(x, 0, 5, ZOK_SS_METHOD_STREAM), ZOK_SS_ERR_STREAM_EPS);
  s.orders[0] = NAN;
  EXPECT_EQ(s.feed(x, 0, 5, ZOK_SS_METHOD_STREAM), ZOK_SS_ERR_STREAM_ORDER_COUNT);
  s.params = 2;
  EXPECT_EQ(s.feed(x, 0, 5, ZOK_SS_METHOD_STREAM), ZOK_SS_ERR_STREAM_PARAM_COUNT_VALUE);
  // Epsilon near 1 gives blocks of 2 at least: the minimum, kept by every compression, comes first.
  std::vector<double> y(1000);
  for (int i = 0; i < 1000; ++i) y[i] = 1 + (i * 7) % 1000;
  for (double eps : {0.97, 0.6, 0.45}) {
    Stream near(1, {0}, eps);
    ASSERT_EQ(near.feed(y, 0, 1000, ZOK_SS_METHOD_STREAM), 0);
    EXPECT_EQ(near.out[0], 1) << eps;
  }
}

TEST(StreamQuantiles, AllocationFailuresAreReportedAndNothingLeaks) {
  std::vector<double> x(2 * 20000);
  for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<double>((i * 7919) % 10007);
  const long before = zok::test::outstanding_blocks();
  int failures = 0;
  for (long k = 1; k < 400; ++k) {
    Stream s(2, {0.5}, 0.01);
    zok::test::fail_allocation(k);
    const int32_t status = s.feed(x, 0, 20000, ZOK_SS_METHOD_STREAM, 2);
    const bool armed = zok::test::allocations_since_armed() >= k;
    zok::test::fail_allocation(0);
    if (!armed) break;
    EXPECT_EQ(status, ZOK_SS_ERR_MEMORY) << k;
    ++failures;
  }
  EXPECT_GT(failures, 10);
  EXPECT_EQ(zok::test::outstanding_blocks(), before);
}

}  // namespace

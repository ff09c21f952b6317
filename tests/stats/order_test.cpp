// Quantiles, order statistics, sorting, absolute deviations and the weighted quantile against
// references computed here from sorted copies, over storages, selections, thread counts and
// precisions; every status of every routine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "core/thread_limit.h"
#include "zok/summary_stats.h"

namespace {

using Routine = int32_t (*)(SSTask*, uint64_t, uint64_t, const ThreadingServices*);

// Type 7 from a sorted copy, in long double.
double type7(std::vector<double> v, double q) {
  std::sort(v.begin(), v.end());
  const long double pos = (long double)q * (v.size() - 1);
  const size_t k = static_cast<size_t>(pos);
  return k + 1 >= v.size() ? v.back()
                           : static_cast<double>(v[k] + (pos - k) * ((long double)v[k + 1] - v[k]));
}

// p variables of n observations (variable 1 heavily tied) in a task with 64-bit integers; every
// output starts at -1.
template <class T>
struct Fixture {
  int64_t p, n, xs = 0, count = 0, os_storage = ZOK_SS_STORAGE_ROWS, sorted_storage = ZOK_SS_STORAGE_ROWS;
  std::vector<std::vector<double>> cols;  // cols[j][i]
  std::vector<T> x, w, orders, q, os, sorted, mad, meanad;
  std::vector<int64_t> sel;
  SSTask* task = nullptr;
  Fixture(int64_t p_, int64_t n_, bool columns, uint64_t seed, bool weighted = false) : p(p_), n(n_) {
    xs = columns ? ZOK_SS_STORAGE_COLUMNS : ZOK_SS_STORAGE_ROWS;
    cols.assign(p, std::vector<double>(n));
    x.resize(p * n);
    mad = meanad = std::vector<T>(p, -1);
    std::mt19937_64 gen(seed);
    std::normal_distribution<double> normal;
    for (int64_t j = 0; j < p; ++j)
      for (int64_t i = 0; i < n; ++i) {
        cols[j][i] = static_cast<T>(j == 1 ? std::round(normal(gen) * 2) : normal(gen) * (j + 1) + j);
        x[columns ? i * p + j : j * n + i] = static_cast<T>(cols[j][i]);
      }
    for (int64_t i = 0; weighted && i < n; ++i) w.push_back(static_cast<T>(0.5 + (gen() % 4)));
    EXPECT_EQ(make(w.empty() ? nullptr : w.data()), 0);
  }
  ~Fixture() { __qorSSDeleteTask(&task); }
  // One of each pair is ever instantiated.
  int32_t make(const double* w) { return __qordSSNewTask(&task, &p, &n, &xs, x.data(), w, nullptr, 1); }
  int32_t make(const float* w) { return __qorsSSNewTask(&task, &p, &n, &xs, x.data(), w, nullptr, 1); }
  int32_t edit(int64_t id, const double* v) { return __qordSSEditTask(task, id, v); }
  int32_t edit(int64_t id, const float* v) { return __qorsSSEditTask(task, id, v); }
  void set_orders(std::vector<T> o) {
    orders = std::move(o);
    count = static_cast<int64_t>(orders.size());
    q.assign(p * count + 1, -1);
    os.assign(p * n, -1);
    __qoriSSEditTask(task, ZOK_SS_ID_QUANTILE_ORDER_COUNT, &count);
    edit(ZOK_SS_ID_QUANTILE_ORDERS, orders.data());
    edit(ZOK_SS_ID_QUANTILES, q.data());
    edit(ZOK_SS_ID_ORDER_STATS, os.data());
    __qoriSSEditTask(task, ZOK_SS_ID_ORDER_STATS_STORAGE, &os_storage);
  }
  void select(std::vector<int64_t> s) {
    sel = std::move(s);
    __qoriSSEditTask(task, ZOK_SS_ID_INDICES, sel.data());
  }
  bool selected(int64_t j) const { return sel.empty() || sel[j] != 0; }
  int32_t run(Routine r, uint64_t est, uint64_t method, int threads = 1) {
    return r(task, est, method, zok::core::threads_up_to(threads));
  }
  int32_t quantiles(uint64_t est, int threads = 1) {
    return run(sizeof(T) == 8 ? _qordSSQuantiles : _qorsSSQuantiles, est, ZOK_SS_METHOD_EXACT, threads);
  }
  // Element i of slot s of an array in the given storage.
  T at(const std::vector<T>& a, int64_t storage, int64_t s, int64_t i) const {
    return storage == ZOK_SS_STORAGE_COLUMNS && p > 1 ? a[i * p + s] : a[s * n + i];
  }
};

template <class T>
void check_quantiles(int64_t n, bool columns, bool os_columns, bool with_stats, bool selection, int threads) {
  SCOPED_TRACE(testing::Message() << n << columns << os_columns << with_stats << selection << threads);
  Fixture<T> f(4, n, columns, 5);
  f.os_storage = os_columns ? ZOK_SS_STORAGE_COLUMNS : ZOK_SS_STORAGE_ROWS;
  f.set_orders({0.5, 0, 1, 0.25, 0.999, 0.25, 0.0015, 0.75, 0.3337});
  if (selection) f.select({1, 0, 1, 1});
  ASSERT_EQ(f.quantiles(ZOK_SS_QUANTILES | (with_stats ? ZOK_SS_ORDER_STATS : 0), threads), 0);
  const double tol = sizeof(T) == 8 ? 1e-15 : 1e-6;
  for (int64_t j = 0, s = 0; j < f.p; s += f.selected(j++)) {
    if (!f.selected(j)) continue;
    std::vector<double> sorted = f.cols[j];
    std::sort(sorted.begin(), sorted.end());
    for (int64_t i = 0; i < f.count; ++i)
      ASSERT_NEAR(f.q[s * f.count + i], type7(sorted, f.orders[i]), tol * (1 + std::fabs(sorted.back())))
          << i;
    for (int64_t i = 0; with_stats && i < f.n; ++i) ASSERT_EQ(f.at(f.os, f.os_storage, s, i), T(sorted[i]));
  }
}

TEST(OrderStats, QuantilesAreType7OfASortedCopy) {
  for (int64_t n : {1, 1001})
    for (bool columns : {false, true})
      for (bool stats : {false, true})
        for (bool selection : {false, true})
          for (int threads : {1, 3}) {
            check_quantiles<double>(n, columns, !columns, stats, selection, threads);
            check_quantiles<float>(n, columns, columns, stats, selection, threads);
          }
}

TEST(OrderStats, InfinitiesAtExactPositions) {
  for (uint64_t stats : {0ull, ZOK_SS_ORDER_STATS}) {
    // (1 - 0)*2 + 0*inf would be NaN.
    Fixture<double> inf(1, 3, false, 3);
    inf.x = {INFINITY, 1, 2};
    inf.set_orders({0.5, 0.75});
    ASSERT_EQ(inf.quantiles(ZOK_SS_QUANTILES | stats), 0);
    EXPECT_EQ(inf.q[0], 2.0);
    EXPECT_EQ(inf.q[1], INFINITY);
  }
}

TEST(OrderStats, SortingToEitherStorageOrInPlace) {
  for (int64_t in : {ZOK_SS_STORAGE_ROWS, ZOK_SS_STORAGE_COLUMNS})
    for (int64_t out : {ZOK_SS_STORAGE_ROWS, ZOK_SS_STORAGE_COLUMNS})
      for (int mode = 0; mode < 3; ++mode) {  // to an output, with a selection, in place
        if (mode == 2 && in != out) continue;
        Fixture<double> f(3, 517, in == ZOK_SS_STORAGE_COLUMNS, 9);
        f.sorted_storage = out;
        f.sorted.assign(f.p * f.n, -1);
        if (mode == 1) f.select({0, 1, 1});
        f.edit(ZOK_SS_ID_SORTED, mode == 2 ? f.x.data() : f.sorted.data());
        __qoriSSEditTask(f.task, ZOK_SS_ID_SORTED_STORAGE, &f.sorted_storage);
        ASSERT_EQ(f.run(_qordSSSort, 0, ZOK_SS_METHOD_SORT, 2), 0);
        for (int64_t j = 0, s = 0; j < f.p; s += f.selected(j++)) {
          if (!f.selected(j)) continue;
          std::vector<double> want = f.cols[j];
          std::sort(want.begin(), want.end());
          for (int64_t i = 0; i < f.n; ++i)
            ASSERT_EQ(f.at(mode == 2 ? f.x : f.sorted, out, s, i), want[i]) << in << out << mode;
        }
        EXPECT_TRUE(mode == 0 || f.at(f.sorted, out, 2, 0) == -1);  // no selected variable 2, or in place
      }
}

TEST(OrderStats, AbsoluteDeviationsAgainstReferences) {
  for (bool columns : {false, true})
    for (bool weighted : {false, true})
      for (bool given : {false, true}) {
        Fixture<double> f(3, 400, columns, 21, weighted);
        f.select({1, 0, 1});
        const std::vector<double> mean = {0.25, 0, -3};
        f.edit(ZOK_SS_ID_MEDIAN_ABS_DEV, f.mad.data());
        f.edit(ZOK_SS_ID_MEAN_ABS_DEV, f.meanad.data());
        f.edit(ZOK_SS_ID_MEAN, mean.data());
        const uint64_t method = ZOK_SS_METHOD_EXACT | (given ? ZOK_SS_METHOD_GIVEN_MEANS : 0);
        ASSERT_EQ(f.run(_qordSSMAD, ZOK_SS_MEDIAN_ABS_DEV | ZOK_SS_MEAN_ABS_DEV, method, 2), 0);
        for (int64_t j : {0, 2}) {
          const auto& v = f.cols[j];
          std::vector<double> wt(f.n, 1.0), dev(f.n);
          if (weighted) wt.assign(f.w.begin(), f.w.end());
          long double W = 0, S = 0, D = 0;
          for (int64_t i = 0; i < f.n; ++i) W += wt[i], S += wt[i] * v[i];
          const long double centre = given ? mean[j] : S / W, med = type7(v, 0.5);
          for (int64_t i = 0; i < f.n; ++i)
            D += wt[i] * std::fabs(v[i] - centre), dev[i] = std::fabs(v[i] - med);
          EXPECT_NEAR(f.mad[j], type7(dev, 0.5), 1e-14);
          EXPECT_NEAR(f.meanad[j], static_cast<double>(D / W), 1e-13);
        }
        EXPECT_TRUE(f.mad[1] == -1 && f.meanad[1] == -1);
      }
}

TEST(OrderStats, WeightedQuantileBranches) {
  struct Case {
    std::vector<double> v, w;
    double q, want;
  };
  const Case cases[] = {
      {{3, 1, 2}, {}, 0.5, 2},                 // c > T, odd count: the middle value
      {{4, 1, 3, 2}, {}, 0.5, 2.5},            // c = T, even count: halfway to the next value
      {{4, 1, 3, 2}, {2, 1, 0, 1}, 0.5, 3},    // ... skipping a zero weight
      {{1, 2, 3, 4}, {1, 1, 1, 1}, 0.6, 2.4},  // c > T: interpolated from the previous value
      {{1, 2, 3, 4}, {1, 0, 0, 3}, 0.5, 2},    // ... stepping back over zero weights
      {{5, 6, 7}, {2, 1, 1}, 0.25, 5},         // c > T with nothing before
      {{1, 2, 3}, {1, 1, 1}, 1.0, 3},          // the last value
      {{2, 1, 3}, {0, 0, 1}, 0.0, 1},          // c = T = 0 at the first value, odd count
  };
  for (const Case& c : cases) {
    Fixture<double> f(1, static_cast<int64_t>(c.v.size()), false, 1, !c.w.empty());
    f.x = c.v;  // same sizes: the task keeps pointing at them
    if (!c.w.empty()) f.w = c.w;
    f.set_orders({c.q});
    ASSERT_EQ(f.run(_qordSSWMedian, 0, 0), 0);
    EXPECT_DOUBLE_EQ(f.q[0], c.want) << "q " << c.q << " first value " << c.v[0];
  }
}

TEST(OrderStats, EveryStatusInItsOrder) {
  const uint64_t q = ZOK_SS_QUANTILES, os = ZOK_SS_ORDER_STATS, exact = ZOK_SS_METHOD_EXACT;
  const uint64_t all = q | ZOK_SS_MEAN_ABS_DEV, methods = exact | ZOK_SS_METHOD_SORT;
  const Routine routines[] = {_qordSSQuantiles, _qordSSSort, _qordSSMAD, _qordSSWMedian};
  for (auto r : routines) EXPECT_EQ(r(nullptr, all, methods, nullptr), ZOK_SS_ERR_NULL_TASK);
  Fixture<double> f(2, 5, true, 1);
  const int64_t bad = -1;
  double order = 0.5, out[2], stats[10];
  EXPECT_EQ(f.quantiles(q), ZOK_SS_ERR_QUANTILES);
  f.edit(ZOK_SS_ID_QUANTILES, out);
  EXPECT_EQ(f.quantiles(q), ZOK_SS_ERR_ORDERS);
  EXPECT_EQ(f.run(_qordSSWMedian, 0, 0), ZOK_SS_ERR_ORDERS);
  f.edit(ZOK_SS_ID_QUANTILE_ORDERS, &order);
  __qoriSSEditTask(f.task, ZOK_SS_ID_QUANTILE_ORDER_COUNT, &bad);
  EXPECT_EQ(f.quantiles(q), ZOK_SS_ERR_ORDER_COUNT);
  EXPECT_EQ(f.run(_qordSSWMedian, 0, 0), ZOK_SS_ERR_ORDER_COUNT);
  EXPECT_EQ(f.quantiles(os), ZOK_SS_ERR_ORDER_STATS);
  f.edit(ZOK_SS_ID_ORDER_STATS, stats);
  EXPECT_EQ(f.quantiles(os), ZOK_SS_ERR_STORAGE_PTR);
  f.set_orders({0.5});
  EXPECT_EQ(f.run(_qordSSQuantiles, q, 0), ZOK_SS_ERR_METHOD);
  f.orders[0] = NAN;
  EXPECT_EQ(f.quantiles(q), ZOK_SS_ERR_ORDER_COUNT);
  f.orders[0] = 1.5;
  EXPECT_EQ(f.quantiles(q), ZOK_SS_ERR_ORDER_COUNT);
  f.os_storage = 7;
  EXPECT_EQ(f.quantiles(os), ZOK_SS_ERR_STORAGE);
  // Absolute deviations: arrays, methods, registered means, the inner mean's status.
  EXPECT_EQ(f.run(_qordSSMAD, ZOK_SS_MEDIAN_ABS_DEV, exact), ZOK_SS_ERR_MEDIAN_ABS_DEV);
  EXPECT_EQ(f.run(_qordSSMAD, ZOK_SS_MEAN_ABS_DEV, exact), ZOK_SS_ERR_MEAN_ABS_DEV);
  f.edit(ZOK_SS_ID_MEDIAN_ABS_DEV, f.mad.data());
  f.edit(ZOK_SS_ID_MEAN_ABS_DEV, f.meanad.data());
  EXPECT_EQ(f.run(_qordSSMAD, ZOK_SS_MEDIAN_ABS_DEV, ZOK_SS_METHOD_GIVEN_MEANS), ZOK_SS_ERR_METHOD);
  EXPECT_EQ(f.run(_qordSSMAD, ZOK_SS_MEAN_ABS_DEV, ZOK_SS_METHOD_GIVEN_MEANS), ZOK_SS_ERR_MEAN);
  const double negative[5] = {1, -1, 1, 1, 1};
  f.edit(ZOK_SS_ID_WEIGHTS, negative);
  EXPECT_EQ(f.run(_qordSSMAD, ZOK_SS_MEAN_ABS_DEV, exact), ZOK_SS_ERR_BAD_WEIGHT);
  // Sorting: output, its storage, in place (same storage, no selection), storage codes, method.
  EXPECT_EQ(f.run(_qordSSSort, 0, ZOK_SS_METHOD_SORT), ZOK_SS_ERR_SORTED);
  f.edit(ZOK_SS_ID_SORTED, f.x.data());
  EXPECT_EQ(f.run(_qordSSSort, 0, ZOK_SS_METHOD_SORT), ZOK_SS_ERR_STORAGE_PTR);
  __qoriSSEditTask(f.task, ZOK_SS_ID_SORTED_STORAGE, &f.sorted_storage);  // rows, x in columns
  EXPECT_EQ(f.run(_qordSSSort, 0, ZOK_SS_METHOD_SORT), ZOK_SS_ERR_STORAGE_PTR);
  f.sorted_storage = ZOK_SS_STORAGE_COLUMNS;
  f.select({1, 1});
  EXPECT_EQ(f.run(_qordSSSort, 0, ZOK_SS_METHOD_SORT), ZOK_SS_ERR_SORT_SELECTION);
  f.edit(ZOK_SS_ID_SORTED, stats);
  f.sorted_storage = 3;
  EXPECT_EQ(f.run(_qordSSSort, 0, ZOK_SS_METHOD_SORT), ZOK_SS_ERR_STORAGE);
  f.sorted_storage = ZOK_SS_STORAGE_ROWS;
  EXPECT_EQ(f.run(_qordSSSort, 0, exact), ZOK_SS_ERR_METHOD);
  // No observations: refused before anything is read.
  f.n = 0;
  for (auto r : routines) EXPECT_EQ(f.run(r, all, methods), ZOK_SS_ERR_N);
}

}  // namespace

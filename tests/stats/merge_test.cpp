// The merge of partial results against one pass of the basic statistics over all observations: split
// points with empty and one-observation parts, several parts folded in a row and as a tree, weights,
// data far from zero, both precisions; the statuses and that a refused merge writes nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "zok/summary_stats.h"

namespace {

// Every estimate of the basic statistics: mean .. variation, covariance, correlation, sum .. CP.
constexpr uint64_t kMoments = 0x3FF | ZOK_SS_COV | ZOK_SS_COR | 0x1FE000000ULL, kAll = kMoments | 0xC00;
constexpr int32_t kP = 3;
// Identifiers of the vectors (mean .. variation with min and max, sum .. central sum 4), the matrices
// and the weight pair (23).
const std::vector<int64_t> kIds = {7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18,
                                   67, 68, 69, 70, 71, 72, 73, 19, 21, 74, 23};

template <class T>
struct Api {  // the double routines; float below
  static constexpr auto new_task = __qordSSNewTask;
  static constexpr auto edit = __qordSSEditTask;
  static constexpr auto basic = _qordSSBasic;
  static constexpr auto minmax = _qordSSMinmax;
  static constexpr auto merge = _qordSSMerge;
};
template <>
struct Api<float> {
  static constexpr auto new_task = __qorsSSNewTask;
  static constexpr auto edit = __qorsSSEditTask;
  static constexpr auto basic = _qorsSSBasic;
  static constexpr auto minmax = _qorsSSMinmax;
  static constexpr auto merge = _qorsSSMerge;
};

// One part's result: every array of the basic statistics, the extremes and the weight pair, from a
// task over observations [i0, i1) of columns-storage data (none: the arrays as a caller seeds them).
template <class T>
struct Part {
  std::vector<std::vector<T>> a;
  int32_t p = kP, n = 0, full = ZOK_SS_MATRIX_FULL, storage = ZOK_SS_STORAGE_COLUMNS;
  SSTask* task = nullptr;
  Part(const std::vector<T>& x, const std::vector<T>& w, int64_t i0, int64_t i1) : n(int32_t(i1 - i0)) {
    const T *xi = n > 0 ? &x[i0 * kP] : nullptr, *wi = n > 0 && !w.empty() ? &w[i0] : nullptr;
    EXPECT_EQ(Api<T>::new_task(&task, &p, &n, &storage, xi, wi, nullptr, 0), 0);
    for (int64_t id : kIds) {
      const size_t size = id == 19 || id == 21 || id == 74 ? kP * kP : id == ZOK_SS_ID_ACCUM_WEIGHTS ? 2 : kP;
      a.emplace_back(size, id == ZOK_SS_ID_MIN ? T(INFINITY) : id == ZOK_SS_ID_MAX ? T(-INFINITY) : T(0));
      EXPECT_EQ(Api<T>::edit(task, id, a.back().data()), 0);
    }
    for (int64_t id : {ZOK_SS_ID_COV_STORAGE, ZOK_SS_ID_COR_STORAGE, ZOK_SS_ID_CP_STORAGE})
      EXPECT_EQ(__qoriSSEditTask(task, id, &full), 0);
    if (n == 0) return;
    EXPECT_EQ(Api<T>::basic(task, kMoments, ZOK_SS_METHOD_ONEPASS, nullptr), 0);
    EXPECT_EQ(Api<T>::minmax(task, ZOK_SS_MIN | ZOK_SS_MAX, ZOK_SS_METHOD_ONEPASS), 0);
  }
  ~Part() { __qorSSDeleteTask(&task); }
  int32_t merge(const Part& other) { return Api<T>::merge(task, other.task, kAll); }
};

// Skewed, correlated variables around offset; uneven positive weights when asked.
template <class T>
void make_data(int64_t n, double offset, bool weighted, std::vector<T>* x, std::vector<T>* w) {
  std::mt19937_64 gen(static_cast<uint64_t>(offset) + n);
  std::exponential_distribution<double> expo;
  for (int64_t i = 0; i < n; ++i) {
    const double common = expo(gen);
    for (int j = 0; j < kP; ++j) x->push_back(T(offset + j + 0.5 * common + expo(gen) * (1 + 0.3 * j)));
    if (weighted) w->push_back(T(0.25 + expo(gen)));
  }
}

// Every array agrees with the whole pass within tol of the array's largest magnitude; the third and
// fourth central moments, skewness and kurtosis within tol_high (they scale the means' rounding by the
// lower sums).
template <class T>
void expect_close(const Part<T>& got, const Part<T>& whole, double tol, double tol_high,
                  const std::string& what) {
  for (size_t e = 0; e < kIds.size(); ++e) {
    const double t = (kIds[e] >= 12 && kIds[e] <= 15) || kIds[e] == 72 || kIds[e] == 73 ? tol_high : tol;
    double scale = 0;
    for (T v : whole.a[e]) scale = std::max(scale, std::fabs(double(v)));
    for (size_t i = 0; i < whole.a[e].size(); ++i)
      EXPECT_LE(std::fabs(double(got.a[e][i]) - double(whole.a[e][i])), t * scale)
          << what << ", identifier " << kIds[e] << "[" << i << "]: " << got.a[e][i] << " vs "
          << whole.a[e][i];
  }
}

template <class T>
void check_splits(double offset, bool weighted, double tol, double tol_high, int64_t n = 2000) {
  std::vector<T> x, w;
  make_data<T>(n, offset, weighted, &x, &w);
  const Part<T> whole(x, w, 0, n);
  const std::string what = "offset " + std::to_string(offset) + (weighted ? ", weighted" : "");
  // Two parts at every kind of split point: empty on either side, one observation on either side.
  for (int64_t cut : {int64_t(0), int64_t(1), int64_t(700), n - 1, n}) {
    Part<T> a(x, w, 0, cut);
    ASSERT_EQ(a.merge(Part<T>(x, w, cut, n)), 0);
    expect_close(a, whole, tol, tol_high, what + ", cut at " + std::to_string(cut));
  }
  // Five parts, one of a single observation, folded as a tree.
  const int64_t cuts[] = {0, 1, 500, 501, 1500, n};
  std::vector<std::unique_ptr<Part<T>>> parts;
  for (int q = 0; q < 5; ++q) parts.emplace_back(new Part<T>(x, w, cuts[q], cuts[q + 1]));
  for (auto [into, from] : {std::pair{0, 1}, {2, 3}, {0, 2}, {0, 4}})
    ASSERT_EQ(parts[into]->merge(*parts[from]), 0);
  expect_close(*parts[0], whole, tol, tol_high, what + ", five parts as a tree");
}

TEST(SsMerge, PartsAgreeWithOnePass) {
  for (bool weighted : {false, true}) {
    check_splits<double>(3.0, weighted, 1e-12, 1e-12);
    // The parts' means, rounded to doubles near 1e9, move the merged central sums by about
    // 1e-7 sqrt(n)/n relative: enough observations for the 1e-9 bound.
    check_splits<double>(1e9, weighted, 1e-9, 1e-8, 20000);
    check_splits<float>(3.0, weighted, 2e-5, 2e-5);
  }
}

TEST(SsMerge, StatusesComeBeforeAnyWrite) {
  std::vector<double> x, w, mean(kP);
  make_data<double>(50, 3.0, true, &x, &w);
  Part<double> a(x, w, 0, 20), b(x, w, 20, 50);
  std::vector<float> xf(x.begin(), x.end()), wf;
  Part<float> f(xf, wf, 0, 10);
  // A weighted part holding only means, without its weight pair.
  const int32_t n = 30, storage = ZOK_SS_STORAGE_COLUMNS;
  SSTask* bare = nullptr;
  ASSERT_EQ(__qordSSNewTask(&bare, &kP, &n, &storage, x.data(), w.data(), nullptr, 0), 0);
  ASSERT_EQ(__qordSSEditCovCor(bare, mean.data(), nullptr, nullptr, nullptr, nullptr), 0);
  const struct {
    SSTask *task, *other;
    uint64_t estimates;
    int32_t status;
  } cases[] = {
      {nullptr, b.task, ZOK_SS_MEAN, ZOK_SS_ERR_NULL_TASK},
      {a.task, b.task, ZOK_SS_MEAN | ZOK_SS_QUANTILES, ZOK_SS_ERR_NOT_MERGEABLE},
      {a.task, f.task, ZOK_SS_MEAN, ZOK_SS_ERR_MERGE_MISMATCH},
      {a.task, bare, ZOK_SS_MEAN | ZOK_SS_MAX, ZOK_SS_ERR_MAX},
      {a.task, bare, ZOK_SS_MEAN | ZOK_SS_COV, ZOK_SS_ERR_COV},
      {a.task, bare, ZOK_SS_MEAN, ZOK_SS_ERR_ACCUM_WEIGHTS},
  };
  const auto before = a.a;
  for (const auto& c : cases) EXPECT_EQ(_qordSSMerge(c.task, c.other, c.estimates), c.status) << c.estimates;
  EXPECT_EQ(a.a, before);
  __qorSSDeleteTask(&bare);
}

}  // namespace

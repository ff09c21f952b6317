// The bucket index of a task's partition: bucket counts, a table worked out by hand, the bracketing
// property on random partitions, and when the index is (not) rebuilt.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "fitting/task.h"
#include "tests/fitting/fitting_support.h"
#include "zok/data_fitting.h"

namespace {

using zok::test::new_task;
using zok::test::Shape;
using zok::test::Task;

std::vector<double> ramp(int64_t n) {
  std::vector<double> x(n);
  for (int64_t j = 0; j < n; ++j) x[j] = static_cast<double>(j);
  return x;
}

TEST(BucketIndex, CountIsNxOver16Within16And1024) {
  const std::pair<int64_t, int64_t> cases[] = {{2, 16},       {16, 16},      {271, 16},     {272, 17},
                                               {300, 18},     {1000, 62},    {16383, 1023}, {16384, 1024},
                                               {16400, 1024}, {100000, 1024}};
  for (auto [nx, buckets] : cases) {
    const auto x = ramp(nx);
    Task t;
    ASSERT_EQ(new_task(&t.t, nx, x.data()), 0);
    EXPECT_EQ(t.t->bucket_count, buckets) << nx;
    const std::vector<float> xs(x.begin(), x.end());
    Task s;
    ASSERT_EQ(new_task(&s.t, nx, xs.data()), 0);
    EXPECT_EQ(s.t->bucket_count, buckets) << nx;
  }
}

// Five points 0..4 in 16 buckets of width 1/4: node i falls in bucket 4i. Entry j must give the
// last node at or below the bucket's start and the first node beyond its end.
TEST(BucketIndex, SmallTableByHand) {
  const double x[5] = {0, 1, 2, 3, 4};
  Task t;
  ASSERT_EQ(zok_df_kernel_dNewTask1D(&t.t, 5, x, 1, 0, nullptr, 0, 0), 0);
  ASSERT_EQ(t.t->bucket_count, 16);
  EXPECT_EQ(t.t->inverse_bucket_width.d, 4.0);
  const uint64_t lo[17] = {0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3};
  const uint64_t hi[17] = {1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 4};
  for (int j = 0; j < 17; ++j) {
    EXPECT_EQ(t.t->bucket_table[2 * j], lo[j]) << j;
    EXPECT_EQ(t.t->bucket_table[2 * j + 1], hi[j]) << j;
  }
}

// For every site t in [x[0], x[nx-1]) of bucket k: x[lo_k] <= t < x[hi_k]; entry B repeats B-1.
template <class T>
void check_brackets(const std::vector<T>& x, std::mt19937_64& rng) {
  const int64_t nx = static_cast<int64_t>(x.size());
  Task t;
  ASSERT_EQ(new_task(&t.t, nx, x.data()), 0);
  const int64_t buckets = t.t->bucket_count;
  const uint64_t* table = t.t->bucket_table;
  const T inv = sizeof(T) == 8 ? static_cast<T>(t.t->inverse_bucket_width.d) : t.t->inverse_bucket_width.s;
  EXPECT_EQ(table[0], 0u);
  EXPECT_EQ(table[2 * (buckets - 1) + 1], static_cast<uint64_t>(nx - 1));
  EXPECT_EQ(table[2 * buckets], table[2 * (buckets - 1)]);
  EXPECT_EQ(table[2 * buckets + 1], table[2 * (buckets - 1) + 1]);
  for (int64_t j = 1; j < buckets; ++j) {
    EXPECT_LE(table[2 * (j - 1)], table[2 * j]);
    EXPECT_LE(table[2 * (j - 1) + 1], table[2 * j + 1]);
  }
  const auto sites = zok::test::probe_sites(x, 4000, 4000, rng);
  int checked = 0;
  for (T s : sites) {
    if (!(s >= x.front() && s < x.back())) continue;
    const int64_t k = static_cast<int64_t>((s - x[0]) * inv);
    ASSERT_LE(k, buckets);
    const uint64_t lo = table[2 * k], hi = table[2 * k + 1];
    ASSERT_LT(hi, static_cast<uint64_t>(nx));
    EXPECT_LE(x[lo], s) << "bucket " << k << " nx " << nx;
    EXPECT_GT(x[hi], s) << "bucket " << k << " nx " << nx;
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

TEST(BucketIndex, BucketsBracketTheirSites) {
  std::mt19937_64 rng(11);
  for (Shape shape : {Shape::kRandom, Shape::kGraded, Shape::kClustered}) {
    for (size_t n : {2, 5, 8, 9, 300, 5000, 100000}) {
      check_brackets(zok::test::make_partition<double>(shape, n, rng), rng);
      check_brackets(zok::test::make_partition<float>(shape, n, rng), rng);
    }
  }
}

// A uniform partition has no index until xhint is set to 1; editing x or nx leaves the index alone,
// and setting xhint to 1 rebuilds it from the current ones.
TEST(BucketIndex, BuiltOnlyWhenXhintIsSetToOne) {
  const auto x = ramp(300);
  const auto x2 = ramp(1000);
  Task u;
  ASSERT_EQ(zok_df_kernel_dNewTask1D(&u.t, 300, x.data(), ZOK_DF_PARTITION_UNIFORM, 0, nullptr, 0, 0), 0);
  EXPECT_EQ(u.t->bucket_count, 0);
  ASSERT_EQ(zok_df_kernel_iEditVal(u.t, ZOK_DF_ATTR_XHINT, 2), 0);
  ASSERT_EQ(zok_df_kernel_iEditVal(u.t, ZOK_DF_ATTR_XHINT, 0), 0);
  EXPECT_EQ(u.t->bucket_count, 0);
  ASSERT_EQ(zok_df_kernel_iEditVal(u.t, ZOK_DF_ATTR_XHINT, 1), 0);
  Task t;
  ASSERT_EQ(zok_df_kernel_dNewTask1D(&t.t, 300, x.data(), 0, 0, nullptr, 0, 0), 0);
  ASSERT_EQ(zok_df_kernel_dEditPtr(t.t, ZOK_DF_ATTR_X, x2.data()), 0);
  ASSERT_EQ(zok_df_kernel_iEditVal(t.t, ZOK_DF_ATTR_NX, 1000), 0);
  for (const DfTask* k : {u.t, t.t}) {
    EXPECT_EQ(k->bucket_count, 18);
    EXPECT_EQ(k->bucket_table[2 * 17 + 1], 299u);
  }
  ASSERT_EQ(zok_df_kernel_iEditVal(t.t, ZOK_DF_ATTR_XHINT, 1), 0);
  EXPECT_EQ(t.t->bucket_count, 62);
  EXPECT_EQ(t.t->bucket_table[2 * 61 + 1], 999u);
}

}  // namespace

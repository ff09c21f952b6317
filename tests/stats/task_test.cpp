// Summary-statistics tasks: creation checks in order, the identifier rules of the editors, null
// arguments of the multi-field editors, and deletion.
#include "stats/task.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "zok/summary_stats.h"

namespace {

TEST(SsTask, CreationChecksInOrder) {
  SSTask* t = nullptr;
  int32_t p = 2, n = 3, bad_p = 0, bad_n = 0, rows = ZOK_SS_STORAGE_ROWS, bad_storage = 7;
  double x[6] = {};
  EXPECT_EQ(__qordSSNewTask(&t, nullptr, &n, &rows, x, nullptr, nullptr, 0), ZOK_SS_ERR_P);
  // The dimension is checked before anything about the data.
  EXPECT_EQ(__qordSSNewTask(&t, &bad_p, nullptr, nullptr, x, nullptr, nullptr, 0), ZOK_SS_ERR_P);
  EXPECT_EQ(__qordSSNewTask(&t, &p, &n, nullptr, x, nullptr, nullptr, 0), ZOK_SS_ERR_STORAGE_PTR);
  EXPECT_EQ(__qordSSNewTask(&t, &p, &bad_n, &bad_storage, x, nullptr, nullptr, 0), ZOK_SS_ERR_STORAGE);
  EXPECT_EQ(__qordSSNewTask(&t, &p, &bad_n, &rows, x, nullptr, nullptr, 0), ZOK_SS_ERR_N);
  EXPECT_EQ(__qordSSNewTask(&t, &p, nullptr, &rows, x, nullptr, nullptr, 0), ZOK_SS_ERR_N);
  EXPECT_EQ(t, nullptr);
  // Without an observation matrix only the dimension matters.
  ASSERT_EQ(__qordSSNewTask(&t, &p, nullptr, nullptr, nullptr, nullptr, nullptr, 0), 0);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->kind, 2);
  EXPECT_EQ(t->precision, 1);
  EXPECT_EQ(t->mean, nullptr);
  EXPECT_EQ(__qorSSDeleteTask(&t), 0);
  EXPECT_EQ(t, nullptr);
}

TEST(SsTask, IntegerWidthGovernsEveryIntegerRead) {
  // A dimension of 2^32 read as a 32-bit integer is its low half, 0.
  int64_t p64 = int64_t{1} << 32, n64 = 4, rows64 = ZOK_SS_STORAGE_ROWS;
  SSTask* t = nullptr;
  EXPECT_EQ(__qorsSSNewTask(&t, &p64, &n64, &rows64, nullptr, nullptr, nullptr, 0), ZOK_SS_ERR_P);
  p64 = 2;
  float x[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(__qorsSSNewTask(&t, &p64, &n64, &rows64, x, nullptr, nullptr, 1), 0);
  EXPECT_EQ(t->precision, 0);
  int64_t cols64 = ZOK_SS_STORAGE_COLUMNS;
  ASSERT_EQ(__qoriSSEditTask(t, ZOK_SS_ID_X_STORAGE, &cols64), 0);
  float mn[2] = {1e30f, 1e30f};
  ASSERT_EQ(__qorsSSEditTask(t, ZOK_SS_ID_MIN, mn), 0);
  // Variable selection read with an 8-byte stride: only variable 1.
  int64_t sel[2] = {0, 1};
  ASSERT_EQ(__qoriSSEditTask(t, ZOK_SS_ID_INDICES, sel), 0);
  ASSERT_EQ(_qorsSSMinmax(t, ZOK_SS_MIN, ZOK_SS_METHOD_ONEPASS), 0);
  EXPECT_EQ(mn[0], 1e30f);
  EXPECT_EQ(mn[1], 2.0f);  // columns: variable 1 is x[1], x[3], x[5], x[7]
  __qorSSDeleteTask(&t);
}

TEST(SsTask, SingleFieldEditorsCheckIdentifierKindAndNull) {
  int32_t p = 1;
  SSTask* t = nullptr;
  ASSERT_EQ(__qordSSNewTask(&t, &p, nullptr, nullptr, nullptr, nullptr, nullptr, 0), 0);
  int32_t iv = 1;
  double dv = 0;
  EXPECT_EQ(__qoriSSEditTask(nullptr, 1, &iv), ZOK_SS_ERR_NULL_TASK);
  EXPECT_EQ(__qordSSEditTask(nullptr, 7, &dv), ZOK_SS_ERR_NULL_TASK);
  for (int64_t id :
       {int64_t{0}, int64_t{80}, int64_t{3}, int64_t{7}, int64_t{74}, int64_t{-1}, int64_t{1} << 32 | 1})
    EXPECT_EQ(__qoriSSEditTask(t, id, &iv), ZOK_SS_ERR_BAD_ID) << id;
  for (int64_t id : {1, 2, 4, 5, 79, 0, 80, 20, 75})
    EXPECT_EQ(__qordSSEditTask(t, id, &dv), ZOK_SS_ERR_BAD_ID) << id;
  // Every identifier's kind and null status come from one table; spot-check both editors against it.
  int reals = 0, ints = 0;
  for (int64_t id = 1; id <= ZOK_SS_ID_COUNT; ++id) {
    const auto& row = zok::ss::kParams[id];
    if (row.kind == zok::ss::Kind::kInt) {
      ++ints;
      EXPECT_EQ(__qoriSSEditTask(t, id, nullptr), row.null_status) << id;
      EXPECT_EQ(__qordSSEditTask(t, id, &dv), ZOK_SS_ERR_BAD_ID) << id;
      EXPECT_EQ(__qoriSSEditTask(t, id, &iv), 0) << id;
      EXPECT_EQ(zok::ss::field(t, id), static_cast<const void*>(&iv)) << id;
    } else {
      ++reals;
      EXPECT_EQ(__qorsSSEditTask(t, id, nullptr), row.null_status) << id;
      EXPECT_EQ(__qoriSSEditTask(t, id, &iv), ZOK_SS_ERR_BAD_ID) << id;
      EXPECT_EQ(__qordSSEditTask(t, id, &dv), 0) << id;
      EXPECT_EQ(zok::ss::field(t, id), static_cast<const void*>(&dv)) << id;
    }
  }
  EXPECT_EQ(ints + reals, 79);
  EXPECT_EQ(ints, 28);
  // A few rows by name, so a shifted table cannot pass by being self-consistent.
  EXPECT_EQ(__qordSSEditTask(t, 10, nullptr), -4009);
  EXPECT_EQ(__qordSSEditTask(t, 23, nullptr), -4020);
  EXPECT_EQ(__qordSSEditTask(t, 74, nullptr), -4081);
  EXPECT_EQ(__qoriSSEditTask(t, 45, nullptr), -4045);
  EXPECT_EQ(__qordSSEditTask(t, 78, nullptr), -4084);
  EXPECT_EQ(__qordSSEditTask(t, 60, nullptr), -4071);
  // Distinct identifiers land in distinct fields.
  double a[1], b[1];
  ASSERT_EQ(__qordSSEditTask(t, ZOK_SS_ID_RAW4, a), 0);
  ASSERT_EQ(__qordSSEditTask(t, ZOK_SS_ID_CENTRAL_SUM4, b), 0);
  EXPECT_EQ(t->raw[2], a);
  EXPECT_EQ(t->central_sum[2], b);
  __qorSSDeleteTask(&t);
}

TEST(SsTask, MultiFieldEditorsStoreNonNullAndKeepTheRest) {
  int32_t p = 2;
  SSTask* t = nullptr;
  ASSERT_EQ(__qordSSNewTask(&t, &p, nullptr, nullptr, nullptr, nullptr, nullptr, 0), 0);
  double v[16][4];
  int32_t s1 = 0, s2 = 1;
  EXPECT_EQ(__qordSSEditMoments(nullptr, v[0], v[1], v[2], v[3], v[4], v[5], v[6]), ZOK_SS_ERR_NULL_TASK);
  ASSERT_EQ(__qordSSEditMoments(t, v[0], v[1], v[2], v[3], v[4], v[5], v[6]), 0);
  EXPECT_EQ(t->mean, v[0]);
  EXPECT_EQ(t->raw[2], v[3]);
  EXPECT_EQ(t->central[2], v[6]);
  // Nulls keep the earlier pointers.
  ASSERT_EQ(__qordSSEditMoments(t, nullptr, v[7], nullptr, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(t->mean, v[0]);
  EXPECT_EQ(t->raw[0], v[7]);
  EXPECT_EQ(t->raw[1], v[2]);
  ASSERT_EQ(__qorsSSEditCovCor(t, nullptr, reinterpret_cast<float*>(v[8]), &s1, nullptr, &s2), 0);
  EXPECT_EQ(t->mean, v[0]);
  EXPECT_EQ(t->cov, v[8]);
  EXPECT_EQ(t->cov_storage, &s1);
  EXPECT_EQ(t->cor, nullptr);
  EXPECT_EQ(t->cor_storage, &s2);
  ASSERT_EQ(__qordSSEditCP(t, v[9], v[10], v[11], &s2), 0);
  EXPECT_EQ(t->mean, v[9]);
  EXPECT_EQ(t->sum, v[10]);
  EXPECT_EQ(t->cp, v[11]);
  EXPECT_EQ(t->cp_storage, &s2);
  ASSERT_EQ(__qordSSEditSums(t, nullptr, nullptr, nullptr, v[12], nullptr, nullptr, v[13]), 0);
  EXPECT_EQ(t->sum, v[10]);
  EXPECT_EQ(t->raw_sum[2], v[12]);
  EXPECT_EQ(t->central_sum[2], v[13]);
  // Argument order of the longer editors follows their identifier lists.
  int32_t c[5];
  ASSERT_EQ(__qordSSEditMissingVals(t, &c[0], v[0], &c[1], v[1], &c[2], v[2], &c[3], v[3], &c[4], v[4]), 0);
  EXPECT_EQ(t->missing_param_count, &c[0]);
  EXPECT_EQ(t->prior_count, &c[2]);
  EXPECT_EQ(t->prior_params, v[2]);
  EXPECT_EQ(t->simul_count, &c[3]);
  EXPECT_EQ(t->simul_values, v[3]);
  EXPECT_EQ(t->estimates, v[4]);
  ASSERT_EQ(__qordSSEditStreamQuantiles(t, &c[0], v[0], v[1], &c[1], v[2]), 0);
  EXPECT_EQ(t->stream_order_count, &c[0]);
  EXPECT_EQ(t->stream_param_count, &c[1]);
  EXPECT_EQ(t->stream_params, v[2]);
  ASSERT_EQ(__qordSSEditPooledCovariance(t, &c[0], v[0], v[1], &c[1], v[2], v[3]), 0);
  EXPECT_EQ(t->group_selection, &c[1]);
  EXPECT_EQ(t->group_cov, v[3]);
  ASSERT_EQ(__qorsSSEditPartialCovCor(t, &c[0], nullptr, nullptr, nullptr, nullptr,
                                      reinterpret_cast<float*>(v[5]), &c[1], nullptr, &c[2]),
            0);
  EXPECT_EQ(t->partial_selection, &c[0]);
  EXPECT_EQ(t->cov, v[8]);
  EXPECT_EQ(t->partial_cov, v[5]);
  EXPECT_EQ(t->partial_cor_storage, &c[2]);
  __qorSSDeleteTask(&t);
}

int g_cleanups = 0;
void count_cleanup(SSTask* t) {
  ++g_cleanups;
  EXPECT_NE(t, nullptr);
}

TEST(SsTask, DeletionRunsCleanupsOnceAndClearsTheHandle) {
  int32_t p = 1;
  SSTask* t = nullptr;
  ASSERT_EQ(__qordSSNewTask(&t, &p, nullptr, nullptr, nullptr, nullptr, nullptr, 0), 0);
  ASSERT_TRUE(zok::ss::add_cleanup(t, count_cleanup));
  EXPECT_FALSE(zok::ss::add_cleanup(t, count_cleanup));  // one slot
  g_cleanups = 0;
  EXPECT_EQ(__qorSSDeleteTask(&t), 0);
  EXPECT_EQ(g_cleanups, 1);
  EXPECT_EQ(t, nullptr);
  // The cleared handle makes a second deletion a reported no-op rather than a double free.
  EXPECT_EQ(__qorSSDeleteTask(&t), ZOK_SS_ERR_NULL_TASK);
  EXPECT_EQ(__qorSSDeleteTask(nullptr), ZOK_SS_ERR_NULL_TASK);
  EXPECT_EQ(g_cleanups, 1);
  EXPECT_EQ(__qordSSNewTask(nullptr, &p, nullptr, nullptr, nullptr, nullptr, nullptr, 0),
            ZOK_SS_ERR_NULL_TASK);
}

}  // namespace

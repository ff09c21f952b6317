// Data-fitting tasks: creation checks and their order, value and coefficient pointer layouts, the
// editors and queries with their status codes, quiet no-ops, deletion and allocation failures.
#include "fitting/task.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "tests/fitting/fitting_support.h"
#include "zok/data_fitting.h"

namespace {

using zok::test::outstanding_blocks;
using zok::test::Task;

const void* query_ptr(const DfTask* t, int attribute) {
  const void* p = reinterpret_cast<const void*>(0x1);
  EXPECT_EQ(zok_df_kernel_dQueryPtr(t, attribute, &p), 0);
  return p;
}

const void* query_idx(const DfTask* t, int attribute, int64_t index) {
  const void* p = reinterpret_cast<const void*>(0x1);
  EXPECT_EQ(zok_df_kernel_dQueryIdxPtr(t, attribute, index, &p), 0);
  return p;
}

// Reads an integer attribute at the width the task was made with.
int64_t query_val(const DfTask* t, int attribute) {
  int64_t buf = -12345;
  EXPECT_EQ(zok_df_kernel_iQueryVal(t, attribute, &buf), 0);
  return zok::test::load_cell(&buf, t->IntWidthFlag == 0 ? 4 : 8);
}

const double kX[6] = {0.0, 1.0, 2.0, 3.5, 4.0, 9.0};

TEST(TaskCreate, ChecksComeInOrderAndLeaveTheCallersPointerAlone) {
  double y[12] = {};
  DfTask* sentinel = reinterpret_cast<DfTask*>(0x1234);
  struct Case {
    int64_t nx;
    const double* x;
    int64_t xhint, ny;
    const double* y;
    int64_t yhint;
    int32_t expect;
  };
  const Case cases[] = {
      {1, kX, 0, 1, y, 0, ZOK_DF_ERR_NX},        {1, nullptr, 3, 0, y, 64, ZOK_DF_ERR_NX},
      {-5, kX, 0, 1, y, 0, ZOK_DF_ERR_NX},       {2, nullptr, 3, 1, y, 0, ZOK_DF_ERR_X},
      {2, kX, 3, 0, y, 64, ZOK_DF_ERR_X_HINT},   {2, kX, 8, 1, y, 0, ZOK_DF_ERR_X_HINT},
      {2, kX, 0, 0, y, 64, ZOK_DF_ERR_NY},       {2, kX, 0, -1, y, 0, ZOK_DF_ERR_NY},
      {2, kX, 0, -1, nullptr, 0, ZOK_DF_ERR_NY}, {2, kX, 0, 2, nullptr, 64, ZOK_DF_ERR_Y},
      {2, kX, 0, 2, y, 64, ZOK_DF_ERR_Y_HINT},   {2, kX, 0, 0, nullptr, 1, ZOK_DF_ERR_Y_HINT},
  };
  const long before = outstanding_blocks();
  for (const Case& c : cases) {
    DfTask* t = sentinel;
    EXPECT_EQ(zok_df_kernel_dNewTask1D(&t, c.nx, c.x, c.xhint, c.ny, c.y, c.yhint, 0), c.expect)
        << c.nx << " " << c.xhint << " " << c.ny << " " << c.yhint;
    EXPECT_EQ(t, sentinel);
  }
  EXPECT_EQ(outstanding_blocks(), before);
  EXPECT_EQ(zok_df_kernel_dNewTask1D(nullptr, 2, kX, 0, 0, nullptr, 0, 0), ZOK_DF_ERR_NULL_TASK);
}

TEST(TaskCreate, SmallestPartitionAndNoValuesAreAccepted) {
  Task t;
  ASSERT_EQ(zok_df_kernel_dNewTask1D(&t, 2, kX, 0, 0, nullptr, 0, 1), 0);
  EXPECT_EQ(query_val(t, ZOK_DF_ATTR_NX), 2);
  EXPECT_EQ(query_val(t, ZOK_DF_ATTR_NY), 0);
  EXPECT_EQ(query_ptr(t, ZOK_DF_ATTR_X), kX);
  EXPECT_EQ(query_ptr(t, ZOK_DF_ATTR_Y), nullptr);
  EXPECT_EQ(t.t->kind, 4);
  EXPECT_EQ(t.t->PrecisionFlag, 1);
  EXPECT_EQ(t.t->DimensionField, 1);
  // With no functions the task could keep no pointer to the values it was given.
  double y[2] = {}, c[8] = {};
  EXPECT_EQ(zok_df_kernel_dEditPtr(t, ZOK_DF_ATTR_Y, y), ZOK_DF_ERR_NY);
  EXPECT_EQ(zok_df_kernel_dEditPtr(t, ZOK_DF_ATTR_SCOEFF, c), ZOK_DF_ERR_NY);
  EXPECT_EQ(query_ptr(t, ZOK_DF_ATTR_Y), nullptr);
  for (int64_t xhint : {0, 1, 2, 4}) {
    Task u;
    EXPECT_EQ(zok_df_kernel_sNewTask1D(&u, 3, reinterpret_cast<const float*>(kX), xhint, 0, nullptr, 16, 0),
              0);
    EXPECT_EQ(u.t->PrecisionFlag, 0);
  }
}

// Value pointers by storage, for both element sizes.
template <class T>
void check_value_layouts() {
  constexpr int64_t nx = 6, ny = 3;
  std::vector<T> x(nx), y(nx * ny);
  for (int64_t j = 0; j < nx; ++j) x[j] = static_cast<T>(j);
  auto create = [&](Task& t, int64_t yhint) {
    if constexpr (sizeof(T) == 8) {
      return zok_df_kernel_dNewTask1D(&t, nx, x.data(), 0, ny, y.data(), yhint, 0);
    } else {
      return zok_df_kernel_sNewTask1D(&t, nx, x.data(), 0, ny, y.data(), yhint, 0);
    }
  };
  for (int64_t yhint : {0, 16}) {
    Task t;
    ASSERT_EQ(create(t, yhint), 0);
    for (int64_t f = 0; f < ny; ++f) EXPECT_EQ(query_idx(t, ZOK_DF_ATTR_Y, f), y.data() + f * nx);
    EXPECT_EQ(query_ptr(t, ZOK_DF_ATTR_Y), y.data());
  }
  {
    Task t;
    ASSERT_EQ(create(t, ZOK_DF_VALUES_BY_COLUMNS), 0);
    EXPECT_EQ(query_ptr(t, ZOK_DF_ATTR_Y), y.data());
    const void* p = nullptr;
    EXPECT_EQ(zok_df_kernel_dQueryIdxPtr(t, ZOK_DF_ATTR_Y, 0, &p), ZOK_DF_ERR_Y_HINT);
    EXPECT_EQ(zok_df_kernel_dEditIdxPtr(t, ZOK_DF_ATTR_Y, 0, y.data()), ZOK_DF_ERR_Y_HINT);
    // Storage by columns is refused before the index is looked at.
    EXPECT_EQ(zok_df_kernel_dEditIdxPtr(t, ZOK_DF_ATTR_Y, 99, nullptr), ZOK_DF_ERR_Y_HINT);
    EXPECT_EQ(t.t->y_slots, 1);
  }
  {
    Task t;
    ASSERT_EQ(create(t, ZOK_DF_VALUES_FIRST_ONLY), 0);
    EXPECT_EQ(query_idx(t, ZOK_DF_ATTR_Y, 0), y.data());
    EXPECT_EQ(query_idx(t, ZOK_DF_ATTR_Y, 1), nullptr);
    EXPECT_EQ(query_idx(t, ZOK_DF_ATTR_Y, 2), nullptr);
    T other[nx];
    EXPECT_EQ(zok_df_kernel_dEditIdxPtr(t, ZOK_DF_ATTR_Y, 2, other), 0);
    EXPECT_EQ(query_idx(t, ZOK_DF_ATTR_Y, 2), other);
    EXPECT_EQ(query_idx(t, ZOK_DF_ATTR_Y, 1), nullptr);
  }
}

TEST(TaskValues, PointerLayoutByStorage) {
  check_value_layouts<double>();
  check_value_layouts<float>();
}

TEST(TaskSpline, CoefficientStrideFollowsOrderAndType) {
  constexpr int64_t nx = 10, ny = 3;
  double x[nx], y[nx * ny] = {};
  for (int j = 0; j < nx; ++j) x[j] = j;
  Task t;
  ASSERT_EQ(zok_df_kernel_dNewTask1D(&t, nx, x, 0, ny, y, 0, 0), 0);
  std::vector<double> c(4 * nx * ny);
  ASSERT_EQ(zok_df_kernel_dEditPPSpline1D(t, 4, 0, 0, nullptr, 0, nullptr, c.data(), 0), 0);
  for (int64_t f = 0; f < ny; ++f)
    EXPECT_EQ(query_idx(t, ZOK_DF_ATTR_SCOEFF, f), c.data() + f * 4 * (nx - 1));
  ASSERT_EQ(zok_df_kernel_dEditPPSpline1D(t, 4, 1, 0, nullptr, 0, nullptr, c.data(), 0), 0);
  for (int64_t f = 0; f < ny; ++f) EXPECT_EQ(query_idx(t, ZOK_DF_ATTR_SCOEFF, f), c.data() + f * 4 * nx);
  ASSERT_EQ(zok_df_kernel_dEditPPSpline1D(t, 2, 0, 0, nullptr, 0, nullptr, c.data(), 128 | 16), 0);
  EXPECT_EQ(query_ptr(t, ZOK_DF_ATTR_SCOEFF), c.data());
  EXPECT_EQ(query_idx(t, ZOK_DF_ATTR_SCOEFF, 1), nullptr);
  EXPECT_EQ(query_val(t, ZOK_DF_ATTR_SCOEFFHINT), 128 | 16);

  // Single precision: the same layout in 4-byte elements.
  float xs[nx] = {}, ys[nx * ny] = {};
  std::vector<float> cs(3 * nx * ny);
  Task u;
  ASSERT_EQ(zok_df_kernel_sNewTask1D(&u, nx, xs, 0, ny, ys, 0, 0), 0);
  ASSERT_EQ(zok_df_kernel_sEditPPSpline1D(u, 3, 2, 0, nullptr, 0, nullptr, cs.data(), 0), 0);
  EXPECT_EQ(query_idx(u, ZOK_DF_ATTR_SCOEFF, 2), cs.data() + 2 * 3 * (nx - 1));

  // The pointer edit lays out with the stored order, type and hint.
  ASSERT_EQ(zok_df_kernel_iEditVal(t, ZOK_DF_ATTR_SCOEFFHINT, 0), 0);
  ASSERT_EQ(zok_df_kernel_iEditVal(t, ZOK_DF_ATTR_SPLINE_TYPE, 1), 0);
  std::vector<double> c2(2 * nx * ny);
  ASSERT_EQ(zok_df_kernel_dEditPtr(t, ZOK_DF_ATTR_SCOEFF, c2.data()), 0);
  EXPECT_EQ(query_idx(t, ZOK_DF_ATTR_SCOEFF, 2), c2.data() + 2 * 2 * nx);
}

TEST(TaskSpline, ChecksInOrderKeepWhatWasStoredBefore) {
  double x[4] = {0, 1, 2, 3}, y[4] = {}, bc[2] = {}, ic[2] = {}, c[16];
  Task t;
  ASSERT_EQ(zok_df_kernel_dNewTask1D(&t, 4, x, 0, 1, y, 0, 1), 0);
  EXPECT_EQ(zok_df_kernel_dEditPPSpline1D(nullptr, 4, 0, 0, nullptr, 0, nullptr, nullptr, 0),
            ZOK_DF_ERR_NULL_TASK);
  EXPECT_EQ(zok_df_kernel_dEditPPSpline1D(t, -1, -1, 9, nullptr, 1, nullptr, nullptr, 0),
            ZOK_DF_ERR_SPLINE_ORDER);
  EXPECT_EQ(zok_df_kernel_dEditPPSpline1D(t, 4, -1, 9, nullptr, 1, nullptr, nullptr, 0),
            ZOK_DF_ERR_SPLINE_TYPE);
  EXPECT_EQ(query_val(t, ZOK_DF_ATTR_SPLINE_ORDER), 0);  // order and type are stored together
  EXPECT_EQ(zok_df_kernel_dEditPPSpline1D(t, 4, 7, 9, nullptr, 1, nullptr, nullptr, 0), ZOK_DF_ERR_BC);
  EXPECT_EQ(query_val(t, ZOK_DF_ATTR_SPLINE_ORDER), 4);
  EXPECT_EQ(query_val(t, ZOK_DF_ATTR_SPLINE_TYPE), 7);
  EXPECT_EQ(query_val(t, ZOK_DF_ATTR_BC_TYPE), 0);
  for (int64_t bc_type : {0, 1, 2, 64})
    EXPECT_EQ(zok_df_kernel_dEditPPSpline1D(t, 4, 0, bc_type, nullptr, 0, nullptr, nullptr, 0), 0) << bc_type;
  EXPECT_EQ(zok_df_kernel_dEditPPSpline1D(t, 4, 0, 9, bc, 1, nullptr, nullptr, 0), ZOK_DF_ERR_IC);
  EXPECT_EQ(query_val(t, ZOK_DF_ATTR_BC_TYPE), 9);
  EXPECT_EQ(query_ptr(t, ZOK_DF_ATTR_BC), bc);
  EXPECT_EQ(zok_df_kernel_dEditPPSpline1D(t, 4, 0, 9, bc, 0, ic, nullptr, 0), ZOK_DF_ERR_IC_TYPE);
  EXPECT_EQ(zok_df_kernel_dEditPPSpline1D(t, 4, 0, 9, bc, 8, ic, nullptr, 32), 0);
  EXPECT_EQ(query_ptr(t, ZOK_DF_ATTR_IC), ic);
  EXPECT_EQ(query_val(t, ZOK_DF_ATTR_SCOEFFHINT), 32);  // stored without coefficients too
  EXPECT_EQ(query_ptr(t, ZOK_DF_ATTR_SCOEFF), nullptr);

  Task empty;
  ASSERT_EQ(zok_df_kernel_dNewTask1D(&empty, 4, x, 0, 0, nullptr, 0, 1), 0);
  EXPECT_EQ(zok_df_kernel_dEditPPSpline1D(empty, 4, 0, 0, nullptr, 0, nullptr, c, 16), ZOK_DF_ERR_NY);
  EXPECT_EQ(query_val(empty, ZOK_DF_ATTR_SCOEFFHINT), 0);
}

TEST(TaskEdit, PointerEditByAttribute) {
  double x[4] = {0, 1, 2, 3}, x2[4] = {0, 2, 4, 6}, y[8] = {}, y2[8] = {}, v[2] = {}, c[32] = {};
  Task t;
  ASSERT_EQ(zok_df_kernel_dNewTask1D(&t, 4, x, 0, 2, y, 0, 0), 0);
  EXPECT_EQ(zok_df_kernel_dEditPtr(nullptr, ZOK_DF_ATTR_X, x2), ZOK_DF_ERR_NULL_TASK);
  EXPECT_EQ(zok_df_kernel_dEditPtr(t, ZOK_DF_ATTR_X, nullptr), ZOK_DF_ERR_X);
  EXPECT_EQ(zok_df_kernel_dEditPtr(t, ZOK_DF_ATTR_Y, nullptr), ZOK_DF_ERR_Y);
  EXPECT_EQ(zok_df_kernel_dEditPtr(t, ZOK_DF_ATTR_IC, nullptr), ZOK_DF_ERR_IC);
  EXPECT_EQ(zok_df_kernel_dEditPtr(t, ZOK_DF_ATTR_BC, nullptr), ZOK_DF_ERR_BC);
  EXPECT_EQ(zok_df_kernel_dEditPtr(t, ZOK_DF_ATTR_SCOEFF, nullptr), ZOK_DF_ERR_COEFF);
  for (int attribute : {0, 6, 14, 23})
    EXPECT_EQ(zok_df_kernel_dEditPtr(t, attribute, x2), ZOK_DF_ERR_ATTRIBUTE) << attribute;

  EXPECT_EQ(zok_df_kernel_dEditPtr(t, ZOK_DF_ATTR_X, x2), 0);
  EXPECT_EQ(query_ptr(t, ZOK_DF_ATTR_X), x2);
  EXPECT_EQ(zok_df_kernel_dEditPtr(t, ZOK_DF_ATTR_IC, v), 0);
  EXPECT_EQ(query_ptr(t, ZOK_DF_ATTR_IC), v);
  EXPECT_EQ(zok_df_kernel_dEditPtr(t, ZOK_DF_ATTR_BC, v + 1), 0);
  EXPECT_EQ(query_ptr(t, ZOK_DF_ATTR_BC), v + 1);
  EXPECT_EQ(zok_df_kernel_dEditPtr(t, ZOK_DF_ATTR_Y, y2), 0);
  EXPECT_EQ(query_idx(t, ZOK_DF_ATTR_Y, 1), y2 + 4);
  ASSERT_EQ(zok_df_kernel_iEditVal(t, ZOK_DF_ATTR_SPLINE_ORDER, 4), 0);
  EXPECT_EQ(zok_df_kernel_dEditPtr(t, ZOK_DF_ATTR_SCOEFF, c), 0);
  EXPECT_EQ(query_idx(t, ZOK_DF_ATTR_SCOEFF, 1), c + 4 * 3);

  // Single-precision edits lay out 4-byte elements.
  float xs[4] = {0, 1, 2, 3}, ys[8] = {};
  Task u;
  ASSERT_EQ(zok_df_kernel_sNewTask1D(&u, 4, xs, 0, 2, ys, 0, 0), 0);
  float ys2[8] = {};
  EXPECT_EQ(zok_df_kernel_sEditPtr(u, ZOK_DF_ATTR_Y, ys2), 0);
  EXPECT_EQ(query_idx(u, ZOK_DF_ATTR_Y, 1), ys2 + 4);
}

TEST(TaskEdit, IndexedPointerEdit) {
  double x[3] = {0, 1, 2}, y[6] = {}, p[3] = {};
  Task t;
  ASSERT_EQ(zok_df_kernel_dNewTask1D(&t, 3, x, 0, 2, y, 0, 0), 0);
  EXPECT_EQ(zok_df_kernel_dEditIdxPtr(nullptr, ZOK_DF_ATTR_Y, 0, p), ZOK_DF_ERR_NULL_TASK);
  for (int64_t bad : {-1, 2, 1000}) {
    EXPECT_EQ(zok_df_kernel_dEditIdxPtr(t, ZOK_DF_ATTR_Y, bad, nullptr), ZOK_DF_ERR_INDEX);
    EXPECT_EQ(zok_df_kernel_sEditIdxPtr(t, ZOK_DF_ATTR_SCOEFF, bad, nullptr), ZOK_DF_ERR_INDEX);
  }
  EXPECT_EQ(zok_df_kernel_dEditIdxPtr(t, ZOK_DF_ATTR_Y, 1, nullptr), ZOK_DF_ERR_Y);
  EXPECT_EQ(zok_df_kernel_dEditIdxPtr(t, ZOK_DF_ATTR_SCOEFF, 1, nullptr), ZOK_DF_ERR_COEFF);
  EXPECT_EQ(zok_df_kernel_dEditIdxPtr(t, ZOK_DF_ATTR_X, 0, p), ZOK_DF_ERR_ATTRIBUTE);
  EXPECT_EQ(zok_df_kernel_dEditIdxPtr(t, ZOK_DF_ATTR_Y, 1, p), 0);
  EXPECT_EQ(query_idx(t, ZOK_DF_ATTR_Y, 1), p);
  EXPECT_EQ(query_idx(t, ZOK_DF_ATTR_Y, 0), y);
  // No coefficient array was ever given: the slot is made on demand.
  EXPECT_EQ(zok_df_kernel_sEditIdxPtr(t, ZOK_DF_ATTR_SCOEFF, 1, p + 1), 0);
  EXPECT_EQ(query_idx(t, ZOK_DF_ATTR_SCOEFF, 1), p + 1);
  EXPECT_EQ(query_idx(t, ZOK_DF_ATTR_SCOEFF, 0), nullptr);
}

// Pointer arrays are made for the ny and storage of their time; later edits of ny or yhint must not
// let an index reach past them.
TEST(TaskEdit, IndexedPointersFollowALargerNy) {
  double x[3] = {0, 1, 2}, y[6] = {}, p[3] = {}, c[16] = {};
  Task t;
  ASSERT_EQ(zok_df_kernel_dNewTask1D(&t, 3, x, 0, 2, y, 0, 0), 0);
  ASSERT_EQ(zok_df_kernel_dEditPPSpline1D(t, 2, 0, 0, nullptr, 0, nullptr, c, 0), 0);
  ASSERT_EQ(zok_df_kernel_iEditVal(t, ZOK_DF_ATTR_NY, 5), 0);
  EXPECT_EQ(query_idx(t, ZOK_DF_ATTR_Y, 4), nullptr);
  EXPECT_EQ(query_idx(t, ZOK_DF_ATTR_SCOEFF, 3), nullptr);
  EXPECT_EQ(zok_df_kernel_dEditIdxPtr(t, ZOK_DF_ATTR_Y, 4, p), 0);
  EXPECT_EQ(zok_df_kernel_dEditIdxPtr(t, ZOK_DF_ATTR_SCOEFF, 3, p), 0);
  EXPECT_EQ(query_idx(t, ZOK_DF_ATTR_Y, 4), p);
  EXPECT_EQ(query_idx(t, ZOK_DF_ATTR_Y, 1), y + 3);
  EXPECT_EQ(query_idx(t, ZOK_DF_ATTR_Y, 2), nullptr);
  EXPECT_EQ(query_idx(t, ZOK_DF_ATTR_SCOEFF, 3), p);
  EXPECT_EQ(query_idx(t, ZOK_DF_ATTR_SCOEFF, 1), c + 2 * 2);

  Task cols;
  ASSERT_EQ(zok_df_kernel_dNewTask1D(&cols, 3, x, 0, 2, y, ZOK_DF_VALUES_BY_COLUMNS, 0), 0);
  ASSERT_EQ(zok_df_kernel_iEditVal(cols, ZOK_DF_ATTR_YHINT, 16), 0);
  EXPECT_EQ(query_idx(cols, ZOK_DF_ATTR_Y, 1), nullptr);
  EXPECT_EQ(zok_df_kernel_dEditIdxPtr(cols, ZOK_DF_ATTR_Y, 1, p), 0);
  EXPECT_EQ(query_idx(cols, ZOK_DF_ATTR_Y, 1), p);
  EXPECT_EQ(query_idx(cols, ZOK_DF_ATTR_Y, 0), y);
}

TEST(TaskEdit, IntegerEditAcceptsItsValuesOnly) {
  struct Case {
    int attribute;
    std::vector<int64_t> good, bad;
    int32_t error;
  };
  const std::vector<Case> cases = {
      {ZOK_DF_ATTR_NX, {2, 3, int64_t{1} << 40}, {1, 0, -2}, ZOK_DF_ERR_NX},
      {ZOK_DF_ATTR_XHINT, {0, 2, 4, 1}, {3, 5, 8, -1}, ZOK_DF_ERR_X_HINT},
      {ZOK_DF_ATTR_NY, {1, 7}, {0, -1}, ZOK_DF_ERR_NY},
      {ZOK_DF_ATTR_YHINT, {0, 16, 32, 128}, {1, 64, -16}, ZOK_DF_ERR_Y_HINT},
      {ZOK_DF_ATTR_SPLINE_ORDER, {0, 4, 9}, {-1}, ZOK_DF_ERR_SPLINE_ORDER},
      {ZOK_DF_ATTR_SPLINE_TYPE, {0, 1, 2, 3, 4, 5}, {-1, 6, 8}, ZOK_DF_ERR_SPLINE_TYPE},
      {ZOK_DF_ATTR_IC_TYPE, {0, 1, 2, 8, 9, 0x108}, {3, 4, 16, 0x100}, ZOK_DF_ERR_IC_TYPE},
      {ZOK_DF_ATTR_BC_TYPE, {0, 1, 77}, {-1}, ZOK_DF_ERR_BC_TYPE},
      {ZOK_DF_ATTR_SCOEFFHINT, {0, 16, 32, 128}, {1, 64, 144}, ZOK_DF_ERR_COEFF_HINT},
      {ZOK_DF_ATTR_CALLER_FLAG, {0, 1}, {2, -1}, ZOK_DF_ERR_FLAG_VALUE},
  };
  double x[300];
  for (int j = 0; j < 300; ++j) x[j] = j;
  Task t;
  ASSERT_EQ(zok_df_kernel_dNewTask1D(&t, 300, x, 0, 1, x, 0, 1), 0);
  for (const Case& c : cases) {
    for (int64_t v : c.good) {
      EXPECT_EQ(zok_df_kernel_iEditVal(t, c.attribute, v), 0) << c.attribute << " " << v;
      EXPECT_EQ(query_val(t, c.attribute), v) << c.attribute;
    }
    const int64_t kept = query_val(t, c.attribute);
    for (int64_t v : c.bad) {
      EXPECT_EQ(zok_df_kernel_iEditVal(t, c.attribute, v), c.error) << c.attribute << " " << v;
      EXPECT_EQ(query_val(t, c.attribute), kept) << c.attribute;
    }
    if (c.attribute == ZOK_DF_ATTR_NX) {
      ASSERT_EQ(zok_df_kernel_iEditVal(t, c.attribute, 300), 0);
    }
  }
  for (int attribute : {0, 1, 5, 13, 24})
    EXPECT_EQ(zok_df_kernel_iEditVal(t, attribute, 0), ZOK_DF_ERR_ATTRIBUTE) << attribute;
  EXPECT_EQ(zok_df_kernel_iEditVal(nullptr, ZOK_DF_ATTR_NX, 5), ZOK_DF_ERR_NULL_TASK);
}

TEST(TaskQuery, IntegerQueryWritesTheCallersWidth) {
  double x[3] = {0, 1, 2};
  for (int32_t flag : {0, 1, 7}) {
    Task t;
    ASSERT_EQ(zok_df_kernel_dNewTask1D(&t, 3, x, 0, 0, nullptr, 0, flag), 0);
    const size_t width = flag == 0 ? 4 : 8;
    ASSERT_EQ(zok_df_kernel_iEditVal(t, ZOK_DF_ATTR_NX, (int64_t{1} << 32) + 5), 0);
    ASSERT_EQ(zok_df_kernel_iEditVal(t, ZOK_DF_ATTR_CALLER_FLAG, 1), 0);
    for (int attribute = ZOK_DF_ATTR_NX; attribute <= ZOK_DF_ATTR_CALLER_FLAG; ++attribute) {
      std::array<unsigned char, 16> buf;
      buf.fill(0xAB);
      ASSERT_EQ(zok_df_kernel_iQueryVal(t, attribute, buf.data()), 0);
      for (size_t i = width; i < buf.size(); ++i) EXPECT_EQ(buf[i], 0xAB) << attribute << " byte " << i;
      const int64_t v = zok::test::load_cell(buf.data(), width);
      if (attribute == ZOK_DF_ATTR_NX) {
        EXPECT_EQ(v, width == 4 ? 5 : (int64_t{1} << 32) + 5);
      }
      if (attribute == ZOK_DF_ATTR_CALLER_FLAG && width == 8) {
        EXPECT_EQ(v, 1);
      }
    }
    int64_t v = 0;
    EXPECT_EQ(zok_df_kernel_iQueryVal(t, 13, &v), ZOK_DF_ERR_ATTRIBUTE);
    EXPECT_EQ(zok_df_kernel_iQueryVal(t, 13, nullptr), ZOK_DF_ERR_NULL_RESULT);
    EXPECT_EQ(zok_df_kernel_iQueryVal(nullptr, 13, nullptr), ZOK_DF_ERR_NULL_TASK);
  }
}

TEST(TaskQuery, PointerQueriesAndTheirOrder) {
  double x[3] = {0, 1, 2}, y[6] = {};
  Task t;
  ASSERT_EQ(zok_df_kernel_dNewTask1D(&t, 3, x, 0, 2, y, 0, 0), 0);
  void* p = nullptr;
  EXPECT_EQ(zok_df_kernel_sQueryPtr(nullptr, 1, nullptr), ZOK_DF_ERR_NULL_TASK);
  EXPECT_EQ(zok_df_kernel_sQueryPtr(t, 1, nullptr), ZOK_DF_ERR_NULL_RESULT);
  EXPECT_EQ(zok_df_kernel_sQueryPtr(t, 6, &p), ZOK_DF_ERR_ATTRIBUTE);
  EXPECT_EQ(zok_df_kernel_sQueryPtr(t, ZOK_DF_ATTR_SCOEFF, &p), 0);
  EXPECT_EQ(p, nullptr);

  EXPECT_EQ(zok_df_kernel_sQueryIdxPtr(nullptr, 9, -1, nullptr), ZOK_DF_ERR_NULL_TASK);
  EXPECT_EQ(zok_df_kernel_sQueryIdxPtr(t, 9, -1, nullptr), ZOK_DF_ERR_NULL_RESULT);
  EXPECT_EQ(zok_df_kernel_sQueryIdxPtr(t, 9, 2, &p), ZOK_DF_ERR_INDEX);  // index ny
  EXPECT_EQ(zok_df_kernel_sQueryIdxPtr(t, 9, -1, &p), ZOK_DF_ERR_INDEX);
  EXPECT_EQ(zok_df_kernel_sQueryIdxPtr(t, 9, 1, &p), ZOK_DF_ERR_ATTRIBUTE);
  EXPECT_EQ(zok_df_kernel_sQueryIdxPtr(t, ZOK_DF_ATTR_Y, 1, &p), 0);
  EXPECT_EQ(p, y + 3);
}

// A task whose dimension field is not 1 ignores edits and queries but not the spline settings.
TEST(TaskQuery, OtherDimensionsAreQuietNoOps) {
  double x[3] = {0, 1, 2}, x2[3] = {0, 1, 3}, y[3] = {}, c[8];
  Task t;
  ASSERT_EQ(zok_df_kernel_dNewTask1D(&t, 3, x, 0, 1, y, 0, 1), 0);
  t.t->DimensionField = 2;
  EXPECT_EQ(zok_df_kernel_dEditPtr(t, ZOK_DF_ATTR_X, x2), 0);
  EXPECT_EQ(zok_df_kernel_dEditPtr(t, 99, nullptr), 0);
  EXPECT_EQ(zok_df_kernel_dEditIdxPtr(t, ZOK_DF_ATTR_Y, 7, nullptr), 0);
  EXPECT_EQ(zok_df_kernel_iEditVal(t, ZOK_DF_ATTR_NX, 1), 0);
  EXPECT_EQ(zok_df_kernel_iEditVal(t, ZOK_DF_ATTR_NX, 9), 0);
  int64_t v = -7;
  void* p = &v;
  EXPECT_EQ(zok_df_kernel_iQueryVal(t, ZOK_DF_ATTR_NX, &v), 0);
  EXPECT_EQ(zok_df_kernel_iQueryVal(t, 99, &v), 0);
  EXPECT_EQ(zok_df_kernel_dQueryPtr(t, ZOK_DF_ATTR_X, &p), 0);
  EXPECT_EQ(zok_df_kernel_dQueryIdxPtr(t, 99, 0, &p), 0);
  EXPECT_EQ(v, -7);
  EXPECT_EQ(p, &v);
  EXPECT_EQ(zok_df_kernel_dEditPPSpline1D(t, 3, 0, 0, nullptr, 0, nullptr, c, 0), 0);
  t.t->DimensionField = 1;
  EXPECT_EQ(query_ptr(t, ZOK_DF_ATTR_X), x);
  EXPECT_EQ(query_val(t, ZOK_DF_ATTR_NX), 3);
  EXPECT_EQ(query_val(t, ZOK_DF_ATTR_SPLINE_ORDER), 3);
  EXPECT_EQ(query_ptr(t, ZOK_DF_ATTR_SCOEFF), c);
}

TEST(TaskDelete, ReleasesEverythingAndClearsThePointer) {
  EXPECT_EQ(zok_df_kernel_DeleteTask(nullptr), ZOK_DF_ERR_NULL_TASK);
  DfTask* none = nullptr;
  EXPECT_EQ(zok_df_kernel_DeleteTask(&none), ZOK_DF_ERR_NULL_TASK);
  const long before = outstanding_blocks();
  double x[40], y[80] = {}, c[320];
  for (int j = 0; j < 40; ++j) x[j] = j;
  DfTask* t = nullptr;
  ASSERT_EQ(zok_df_kernel_dNewTask1D(&t, 40, x, 1, 2, y, 0, 0), 0);
  ASSERT_EQ(zok_df_kernel_dEditPPSpline1D(t, 4, 0, 0, nullptr, 0, nullptr, c, 0), 0);
  ASSERT_EQ(zok_df_kernel_dEditPtr(t, ZOK_DF_ATTR_Y, y), 0);
  ASSERT_EQ(zok_df_kernel_iEditVal(t, ZOK_DF_ATTR_NY, 4), 0);
  ASSERT_EQ(zok_df_kernel_dEditIdxPtr(t, ZOK_DF_ATTR_Y, 3, y), 0);
  EXPECT_GT(outstanding_blocks(), before);
  EXPECT_EQ(zok_df_kernel_DeleteTask(&t), 0);
  EXPECT_EQ(t, nullptr);
  EXPECT_EQ(outstanding_blocks(), before);
  EXPECT_EQ(y[0], 0.0);
}

// Creation makes three blocks (record, value pointers, bucket table); whichever fails, the status is
// -1001 and what was made can be deleted without a leak.
TEST(TaskMemory, FailuresAreReportedAndNothingLeaks) {
  double x[40], y[40] = {};
  for (int j = 0; j < 40; ++j) x[j] = j;
  const long before = outstanding_blocks();
  for (long ok = 0; ok < 3; ++ok) {
    DfTask* t = reinterpret_cast<DfTask*>(0x1);
    zok::test::fail_allocations_after(ok);
    const int32_t rc = zok_df_kernel_dNewTask1D(&t, 40, x, 0, 1, y, 0, 0);
    zok::test::allow_allocations();
    EXPECT_EQ(rc, ZOK_DF_ERR_MEMORY) << ok;
    if (ok == 0) {
      EXPECT_EQ(t, nullptr);
    } else {
      ASSERT_NE(t, nullptr);
      EXPECT_EQ(zok_df_kernel_DeleteTask(&t), 0);
    }
    EXPECT_EQ(outstanding_blocks(), before) << ok;
  }
  Task t;
  ASSERT_EQ(zok_df_kernel_dNewTask1D(&t, 40, x, 0, 1, y, 0, 0), 0);
  zok::test::fail_allocations_after(0);
  EXPECT_EQ(zok_df_kernel_dEditPtr(t, ZOK_DF_ATTR_Y, y), ZOK_DF_ERR_MEMORY);
  EXPECT_EQ(zok_df_kernel_dEditPPSpline1D(t, 2, 0, 0, nullptr, 0, nullptr, y, 0), ZOK_DF_ERR_MEMORY);
  zok::test::allow_allocations();
  // The rebuilt fields are left empty, their old arrays released.
  EXPECT_EQ(query_ptr(t, ZOK_DF_ATTR_Y), nullptr);
  EXPECT_EQ(query_ptr(t, ZOK_DF_ATTR_SCOEFF), nullptr);
  EXPECT_EQ(zok_df_kernel_dEditPtr(t, ZOK_DF_ATTR_Y, y), 0);
  EXPECT_EQ(query_ptr(t, ZOK_DF_ATTR_Y), y);
}

}  // namespace

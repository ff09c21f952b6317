// Interpolation and integration against a long-double evaluation of piecewise polynomials whose
// coefficients the test sets at random (a wrong cell shows at once), splines reproducing
// polynomials, the argument checks, region and search routines, threads and allocation failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "fitting/task.h"
#include "tests/fitting/fitting_support.h"
#include "zok/data_fitting.h"

namespace {

using zok::test::FixedThreads;
using zok::test::load_cell;
using zok::test::store_cell;
using zok::test::Task;
using LD = long double;

// s_order and s_type of every evaluation kind.
struct Kind {
  int64_t order, type;
};
const Kind kLinear{2, 0}, kQuad{3, 0}, kCubic{4, 0}, kKnotQuad{3, 1}, kOrder6{6, 0}, kStepLeft{0, 8},
    kStepRight{0, 7}, kLookup{0, 6};
const Kind kAllKinds[] = {kLinear, kQuad, kCubic, kKnotQuad, kOrder6, kStepLeft, kStepRight, kLookup};

enum class Mode { Uniform, Quasi, Sorted, Peak, Hybrid, UserCells, RoutineAll, RoutinePart };
const Mode kAllModes[] = {Mode::Uniform, Mode::Quasi,     Mode::Sorted,     Mode::Peak,
                          Mode::Hybrid,  Mode::UserCells, Mode::RoutineAll, Mode::RoutinePart};

// A task over random nodes (or evenly spaced ones) with random coefficients and values, and the
// definition of what it evaluates to.
template <class T>
struct Fixture {
  Kind kind;
  int64_t nx, ny;
  bool uniform, columns, wide;
  std::vector<T> x, arg_x, y, c;  // x: every node as the library places it
  Task task;

  Fixture(Kind k, int64_t n, int64_t functions, bool even, bool by_columns, bool wide_ints, uint64_t seed)
      : kind(k), nx(n), ny(functions), uniform(even), columns(by_columns), wide(wide_ints) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    x = zok::test::make_partition<T>(zok::test::Shape::kRandom, nx, rng);
    if (uniform) {
      arg_x = {T(-3), T(7)};
      const T h = (arg_x[1] - arg_x[0]) / static_cast<T>(nx - 1);
      for (int64_t j = 0; j < nx; ++j) x[j] = arg_x[0] + static_cast<T>(j) * h;
      x.back() = arg_x[1];
    } else {
      arg_x = x;
    }
    y.resize(nx * ny);
    for (auto& v : y) v = static_cast<T>(u(rng));
    c.resize(pieces() * std::max<int64_t>(kind.order, 1) * ny);
    for (auto& v : c) v = static_cast<T>(u(rng));
    const int64_t xhint = uniform ? ZOK_DF_PARTITION_UNIFORM : 0;
    const int64_t yhint = columns ? ZOK_DF_VALUES_BY_COLUMNS : ZOK_DF_VALUES_BY_ROWS;
    std::vector<T> stored(y);
    if (columns)
      for (int64_t f = 0; f < ny; ++f)
        for (int64_t j = 0; j < nx; ++j) stored[j * ny + f] = y[f * nx + j];
    y_store = stored;
    T* coeffs = kind.order > 0 ? c.data() : nullptr;
    if constexpr (sizeof(T) == 8) {
      EXPECT_EQ(zok_df_kernel_dNewTask1D(&task.t, nx, arg_x.data(), xhint, ny, y_store.data(), yhint, wide),
                0);
      EXPECT_EQ(zok_df_kernel_dEditPPSpline1D(task, kind.order, kind.type, 0, nullptr, 0, nullptr, coeffs, 0),
                0);
    } else {
      EXPECT_EQ(zok_df_kernel_sNewTask1D(&task.t, nx, arg_x.data(), xhint, ny, y_store.data(), yhint, wide),
                0);
      EXPECT_EQ(zok_df_kernel_sEditPPSpline1D(task, kind.order, kind.type, 0, nullptr, 0, nullptr, coeffs, 0),
                0);
    }
    if (kind.type == 1) {
      EXPECT_EQ(zok_df_kernel_iEditVal(task, ZOK_DF_ATTR_IC_TYPE, 8), 0);
    }
  }
  std::vector<T> y_store;

  bool knots() const { return kind.order == 3 && kind.type == 1; }
  int64_t pieces() const { return knots() ? nx : nx - 1; }
  int64_t cell(T t) const { return zok::test::reference_cell(x, t); }
  LD knot(int64_t j) const { return j == 0 ? x[0] : j == nx ? x[nx - 1] : T((x[j - 1] + x[j]) / T(2)); }
  // The piece serving t and its left end, by the definition.
  int64_t piece(T t) const {
    if (knots()) {
      int64_t k = 0;
      for (int64_t j = 1; j < nx; ++j) k += knot(j) <= t;
      return k;
    }
    return std::clamp<int64_t>(cell(t) - 1, 0, nx - 2);
  }
  LD left(int64_t p) const { return knots() ? knot(p) : LD(x[p]); }

  // The k-th derivative of function f at t.
  LD value(int64_t f, T t, int64_t k) const {
    if (kind.order == 0) {
      if (k > 0) return 0;
      const auto& yv = y;
      // Continuous from the right: y[k] on [x_k, x_k+1); from the left: on (x_k, x_k+1]; lookup: y[k] at x_k.
      const auto it =
          kind.type == 7 ? std::upper_bound(x.begin(), x.end(), t) : std::lower_bound(x.begin(), x.end(), t);
      return yv[f * nx + std::clamp<int64_t>(it - x.begin() - (kind.type == 6 ? 0 : 1), 0, nx - 1)];
    }
    const int64_t p = piece(t), s = kind.order;
    const LD u = LD(t) - left(p);
    LD sum = 0;
    for (int64_t j = s - 1; j >= k; --j) {
      LD fall = 1;
      for (int64_t m = j - k + 1; m <= j; ++m) fall *= m;
      sum = sum * u + c[(f * pieces() + p) * s + j] * fall;
    }
    return sum;
  }
  // The integral of function f from a to b (a <= b), piece by piece, and the integral of its |s|
  // bounded above by the absolute coefficients.
  void integral(int64_t f, T a, T b, LD* sum, LD* scale) const {
    *sum = *scale = 0;
    std::vector<LD> cuts{LD(a)};
    for (int64_t j = 0; j <= pieces(); ++j)
      if (knot_or_node(j) > a && knot_or_node(j) < b) cuts.push_back(knot_or_node(j));
    cuts.push_back(b);
    for (size_t i = 0; i + 1 < cuts.size(); ++i) {
      const T mid = static_cast<T>((cuts[i] + cuts[i + 1]) / 2);
      const int64_t p = kind.order == 0 ? -1 : piece(mid);
      const LD l = p >= 0 ? left(p) : 0;
      LD hp = 1, lp = 1;
      for (int64_t j = 0; j < std::max<int64_t>(kind.order, 1); ++j) {
        const LD cj = p >= 0 ? LD(c[(f * pieces() + p) * kind.order + j]) : value(f, mid, 0);
        hp *= cuts[i + 1] - l, lp *= cuts[i] - l;
        const LD hi = hp / (j + 1), lo = lp / (j + 1);
        *sum += cj * (hi - lo);
        *scale += std::fabs(cj) * (std::fabs(hi) + std::fabs(lo));
      }
    }
  }
  LD knot_or_node(int64_t j) const { return knots() ? knot(j) : j < nx ? LD(x[j]) : LD(x[nx - 1]); }
};

// The entries in either precision; callbacks are passed as void* and cast to the precision's type.
template <class T>
struct Call {
  int64_t type = 0, sitehint = 0, rhint = 0;
  std::vector<int64_t> dorder;  // stored at the task's width
  const double* datahint = nullptr;
  void* cell = nullptr;
  void *le = nullptr, *re = nullptr, *in = nullptr, *search = nullptr;
  const void* params = nullptr;
  const ThreadingServices* threading = nullptr;

  int32_t interpolate(const DfTask* task, int64_t n, const T* site, T* r) const {
    std::vector<int64_t> d64(dorder);
    std::vector<int32_t> d32(dorder.begin(), dorder.end());
    const void* d = task != nullptr && task->IntWidthFlag ? static_cast<const void*>(d64.data()) : d32.data();
    const int64_t nd = static_cast<int64_t>(dorder.size());
    if constexpr (sizeof(T) == 8) {
      using R = ZokDfdRegionCallback;
      return zok_df_kernel_dDFInterpolate1D(task, type, 0, n, site, sitehint, nd, d, datahint, r, rhint, cell,
                                            R(le), params, R(re), params, R(in), params,
                                            ZokDfdSearchCallback(search), params, threading);
    } else {
      using R = ZokDfsRegionCallback;
      return zok_df_kernel_sDFInterpolate1D(task, type, 0, n, site, sitehint, nd, d, datahint, r, rhint, cell,
                                            R(le), params, R(re), params, R(in), params,
                                            ZokDfsSearchCallback(search), params, threading);
    }
  }
  int32_t integrate(const DfTask* task, int64_t n, const T* a, const T* b, T* r, int64_t hint = 0,
                    const double* rdatahint = nullptr) const {
    if constexpr (sizeof(T) == 8) {
      using R = ZokDfdRegionCallback;
      return zok_df_kernel_dDFIntegrate1D(task, 0, n, a, hint, b, hint, datahint, rdatahint, r, rhint, R(le),
                                          params, R(re), params, R(in), params, ZokDfdSearchCallback(search),
                                          params, threading);
    } else {
      using R = ZokDfsRegionCallback;
      return zok_df_kernel_sDFIntegrate1D(task, 0, n, a, hint, b, hint, datahint, rdatahint, r, rhint, R(le),
                                          params, R(re), params, R(in), params, ZokDfsSearchCallback(search),
                                          params, threading);
    }
  }
};

// A search routine that knows the true cells of the sites of one array: all of them (1000), or
// those of even sites, flagged.
struct KnownCells {
  const void* sites;
  size_t site_size;
  const std::vector<int64_t>* cells;
  bool partial;
  bool wide;
};
template <class T>
int32_t known_cells(void* n, const T* site, void* cell, int32_t* flag, const void* params) {
  const auto* k = static_cast<const KnownCells*>(params);
  const int64_t count = load_cell(n, k->wide ? 8 : 4);
  for (int64_t i = 0; i < count; ++i) {
    const int64_t at = site + i - static_cast<const T*>(k->sites);
    if (k->partial && at % 2 == 1) continue;
    store_cell(static_cast<char*>(cell) + i * (k->wide ? 8 : 4), k->wide ? 8 : 4, (*k->cells)[at]);
    flag[i] = 1;
  }
  return k->partial ? 0 : 1000;
}

template <class T>
T tolerance() {
  return sizeof(T) == 8 ? T(1e-12) : T(2e-5);
}

// Every kind through every search mode and both paths: values and derivatives 0..4 at random
// sites, nodes and their neighbours, the ends and beyond, in every result layout.
template <class T>
void check_kinds(bool wide) {
  std::mt19937_64 rng(wide ? 5 : 6);
  for (const Kind& kind : kAllKinds)
    for (Mode mode : kAllModes)
      for (int64_t ny : {1, 2, 3}) {
        const bool uniform = mode == Mode::Uniform;
        Fixture<T> fx(kind, ny == 3 ? 2 : uniform ? 40 : 90, ny == 3 ? 1 : ny, uniform, ny == 2, wide, rng());
        ny = fx.ny;
        std::vector<T> sites;
        std::uniform_real_distribution<double> u(-4.0, 8.0);
        for (int i = 0; i < 700; ++i) sites.push_back(static_cast<T>(u(rng)));
        for (int64_t j = 0; j < fx.nx; ++j)
          for (T s : {fx.x[j], std::nextafter(fx.x[j], T(-9)), std::nextafter(fx.x[j], T(9))})
            if (!uniform || j == 0 || j == fx.nx - 1) sites.push_back(s);
        if (kind.order == 0 && kind.type == 6) sites.assign(fx.x.begin(), fx.x.end());  // lookup: nodes only
        if (mode == Mode::Sorted) std::sort(sites.begin(), sites.end());
        const int64_t n = static_cast<int64_t>(sites.size());
        std::vector<int64_t> cells(n);
        for (int64_t i = 0; i < n; ++i) cells[i] = fx.cell(sites[i]);
        const size_t width = wide ? 8 : 4;
        std::vector<char> cell_array(n * width);
        Call<T> call;
        call.rhint = std::vector<int64_t>{0, 16, 32, 128}[rng() % 4];
        call.dorder =
            kind.order == 0 && kind.type == 6 ? std::vector<int64_t>{1} : std::vector<int64_t>{1, 1, 1, 1, 1};
        const double peak[5] = {0, 1, 0, 0, double(fx.nx / 3)};
        KnownCells known{sites.data(), sizeof(T), &cells, mode == Mode::RoutinePart, wide};
        if (mode == Mode::Quasi) {
          EXPECT_EQ(zok_df_kernel_iEditVal(fx.task, ZOK_DF_ATTR_XHINT, 2), 0);
        }
        if (mode == Mode::Sorted) call.sitehint = ZOK_DF_SITES_SORTED;
        if (mode == Mode::Peak) call.datahint = peak;
        if (mode == Mode::UserCells) {
          call.type = ZOK_DF_INTERP_USER_CELLS;
          for (int64_t i = 0; i < n; ++i) store_cell(&cell_array[i * width], width, cells[i]);
        } else {
          call.type = ZOK_DF_INTERP_CELLS;
        }
        if (mode == Mode::RoutineAll || mode == Mode::RoutinePart) {
          call.search = reinterpret_cast<void*>(&known_cells<T>);
          call.params = &known;
        }
        call.cell = cell_array.data();
        const int64_t q = static_cast<int64_t>(call.dorder.size());
        std::vector<T> r(ny * n * q);
        ASSERT_EQ(call.interpolate(fx.task, n, sites.data(), r.data()), 0);
        const bool by_site = call.rhint == 16 || call.rhint == 128;
        for (int64_t i = 0; i < n; ++i) {
          if (!uniform) {
            ASSERT_EQ(load_cell(&cell_array[i * width], width), cells[i]) << "site " << sites[i];
          }
          for (int64_t f = 0; f < ny; ++f)
            for (int64_t k = 0; k < q; ++k) {
              const LD want = fx.value(f, sites[i], k);
              const T got = r[f * n * q + (by_site ? i * q + k : k * n + i)];
              const LD scale =
                  std::max<LD>(1, std::fabs(fx.value(f, T(8), k)) + std::fabs(fx.value(f, T(-4), k)));
              ASSERT_LE(std::fabs(got - want), tolerance<T>() * scale)
                  << "order " << kind.order << " type " << kind.type << " mode " << int(mode) << " site "
                  << sites[i] << " f " << f << " derivative " << k;
            }
        }
        // Values alone over all sites, and each site alone (the one-site path), give the same bits.
        if (ny != 1 || mode == Mode::RoutineAll || mode == Mode::RoutinePart) continue;
        call.type = mode == Mode::UserCells ? call.type : 0;
        const std::vector<int64_t> all_orders = call.dorder;
        call.dorder = {1};
        std::vector<T> values(n);
        ASSERT_EQ(call.interpolate(fx.task, n, sites.data(), values.data()), 0);
        for (int64_t i = 0; i < n; ++i) ASSERT_EQ(values[i], r[by_site ? i * q : i]) << sites[i];
        call.dorder = all_orders;
        call.dorder.resize(std::min<size_t>(call.dorder.size(), 4));
        const int64_t q1 = static_cast<int64_t>(call.dorder.size());
        std::vector<T> r1(q1);
        for (int64_t i = 0; i < n; i += 7) {
          call.cell = &cell_array[i * width];
          ASSERT_EQ(call.interpolate(fx.task, 1, &sites[i], r1.data()), 0);
          for (int64_t k = 0; k < q1; ++k) ASSERT_EQ(r1[k], r[by_site ? i * q + k : k * n + i]) << sites[i];
        }
      }
}

TEST(Interpolate, EveryKindEveryModeDouble32) {
  check_kinds<double>(false);
}
TEST(Interpolate, EveryKindEveryModeDouble64) {
  check_kinds<double>(true);
}
TEST(Interpolate, EveryKindEveryModeFloat32) {
  check_kinds<float>(false);
}

// The example of the result layout: two functions, three sites, value and first derivative.
TEST(Interpolate, ResultLayoutOfTwoFunctions) {
  Fixture<double> fx(kCubic, 6, 2, false, false, false, 3);
  const double sites[3] = {fx.x[1] + 0.01, fx.x[3], fx.x[5] + 1};
  Call<double> call;
  call.dorder = {1, 1};
  double r0[12], r16[12];
  call.rhint = 0;
  ASSERT_EQ(call.interpolate(fx.task, 3, sites, r0), 0);
  call.rhint = 16;
  ASSERT_EQ(call.interpolate(fx.task, 3, sites, r16), 0);
  for (int f = 0; f < 2; ++f)
    for (int i = 0; i < 3; ++i)
      for (int k = 0; k < 2; ++k) {
        EXPECT_EQ(r0[f * 6 + k * 3 + i], r16[f * 6 + i * 2 + k]);
        EXPECT_NEAR(r0[f * 6 + k * 3 + i], double(fx.value(f, sites[i], k)), 1e-12);
      }
  // Non-zero entries count, whatever their value; one generated site is the first end.
  call.dorder = {2, -1};
  call.sitehint = ZOK_DF_SITES_UNIFORM;
  ASSERT_EQ(call.interpolate(fx.task, 1, sites, r16), 0);
  EXPECT_EQ(r16[0], r0[0]);
  EXPECT_EQ(r16[1], r0[3]);
  // Cells and results of NaN and the infinities.
  const double odd[3] = {std::numeric_limits<double>::quiet_NaN(), -INFINITY, INFINITY};
  int32_t cells[3];
  call = Call<double>();
  call.type = ZOK_DF_INTERP_CELLS;
  call.cell = cells;
  ASSERT_EQ(call.interpolate(fx.task, 3, odd, r0), 0);
  EXPECT_EQ(cells[0], 6);
  EXPECT_EQ(cells[1], 0);
  EXPECT_EQ(cells[2], 6);
  EXPECT_TRUE(std::isnan(r0[0]));
  call.rhint = 64;
  EXPECT_EQ(call.interpolate(fx.task, 3, sites, r0), ZOK_DF_ERR_RESULT_HINT);
  double lim = 0;
  EXPECT_EQ(call.integrate(fx.task, 1, &lim, &lim, r0), ZOK_DF_ERR_INTEGRAL_HINT);
}

// Splines built from polynomials of their degree give the polynomial and its derivatives back,
// inside and beyond the ends, through the construction's own coefficient layout.
TEST(Interpolate, SplinesReproducePolynomials) {
  struct Case {
    int64_t order, type, bc_type;
    double p[4];  // p0 + p1 t + p2 t^2 + p3 t^3
  };
  const Case cases[] = {
      {2, 0, 0, {0.5, -2, 0, 0}}, {3, 1, 48, {1, 0.25, -0.75, 0}}, {4, 0, 12, {-1, 2, 0.5, -0.3}}};
  std::mt19937_64 rng(9);
  for (const Case& cs : cases)
    for (bool even : {false, true}) {
      const int64_t nx = 30;
      std::vector<double> x = zok::test::make_partition<double>(zok::test::Shape::kRandom, nx, rng), y(nx);
      if (even)
        for (int64_t j = 0; j < nx; ++j) x[j] = -3 + 10.0 * j / (nx - 1);
      auto p = [&](double t, int k) {
        const double d[4][4] = {{cs.p[0], cs.p[1], cs.p[2], cs.p[3]},
                                {cs.p[1], 2 * cs.p[2], 3 * cs.p[3], 0},
                                {2 * cs.p[2], 6 * cs.p[3], 0, 0},
                                {6 * cs.p[3], 0, 0, 0}};
        return d[k][0] + t * (d[k][1] + t * (d[k][2] + t * d[k][3]));
      };
      for (int64_t j = 0; j < nx; ++j) y[j] = p(x[j], 0);
      const double bc[2] = {cs.bc_type == 12 ? p(x[0], 1) : p(x[0], 2),
                            cs.bc_type == 12 ? p(x[nx - 1], 1) : p(x[nx - 1], 2)};
      std::vector<double> c(cs.order * nx), ends{x[0], x[nx - 1]};
      Task task;
      ASSERT_EQ(zok_df_kernel_dNewTask1D(&task.t, nx, even ? ends.data() : x.data(), even ? 4 : 0, 1,
                                         y.data(), 0, 0),
                0);
      ASSERT_EQ(
          zok_df_kernel_dEditPPSpline1D(task, cs.order, cs.type, cs.bc_type, bc, 0, nullptr, c.data(), 0), 0);
      if (cs.type == 1) {
        ASSERT_EQ(zok_df_kernel_iEditVal(task, ZOK_DF_ATTR_IC_TYPE, 8), 0);
      }
      const auto build = cs.order == 2   ? zok_df_kernel_dDFLinearSpline1D
                         : cs.order == 3 ? zok_df_kernel_dDFQuadraticSpline1D
                                         : zok_df_kernel_dDFNaturalCubicSpline1D;
      ASSERT_EQ(build(task, nullptr, 0, nullptr), 0);
      std::vector<double> sites{x[0], x[nx - 1], x[7], -3.5, 7.5};
      for (int i = 0; i < 200; ++i) sites.push_back(-3 + 10.0 * (rng() % 10007) / 10007);
      std::vector<double> r(sites.size() * 4);
      Call<double> call;
      call.dorder = {1, 1, 1, 1};
      call.rhint = 16;
      ASSERT_EQ(call.interpolate(task, sites.size(), sites.data(), r.data()), 0);
      for (size_t i = 0; i < sites.size(); ++i)
        for (int k = 0; k < 4; ++k)
          EXPECT_NEAR(r[i * 4 + k], k < cs.order ? p(sites[i], k) : 0.0, 1e-9)
              << cs.order << " " << sites[i] << " " << k;
    }
}

// Checks in their order, each before anything is written, and the codes of the evaluation.
TEST(Interpolate, ArgumentChecks) {
  Fixture<double> cubic(kCubic, 10, 1, false, false, false, 1), lookup(kLookup, 10, 1, true, false, false, 2);
  const double kind2[5] = {0, 2, 0, 0, 0}, peak_out[5] = {0, 1, 0, 0, 11}, between = 0.3;
  int32_t cell32 = 11;
  auto noop =
      reinterpret_cast<void*>(+[](void*, const void*, const double*, double*, const void*) { return 0; });
  struct Case {
    const char* what;
    DfTask* task;
    Kind edit;  // {-1, -1}: keep the task's spline
    Call<double> call;
    double site;
    int32_t want;
  };
  Call<double> base;
  auto with = [&](auto change) {
    Call<double> c = base;
    change(c);
    return c;
  };
  const Case cases[] = {
      {"null task", nullptr, {-1, -1}, base, 1, ZOK_DF_ERR_NULL_TASK},
      {"order 1", cubic.task, {1, 0}, base, 1, ZOK_DF_ERR_SPLINE_TYPE},
      {"quadratic type 2", cubic.task, {3, 2}, base, 1, ZOK_DF_ERR_SPLINE_TYPE},
      {"cubic type 1", cubic.task, {4, 1}, base, 1, ZOK_DF_ERR_SPLINE_TYPE},
      {"order 0 type 9 without routines", cubic.task, {0, 9}, base, 1, ZOK_DF_ERR_SPLINE_TYPE},
      {"order 0 type 9 with routines",
       cubic.task,
       {0, 9},
       with([&](auto& c) { c.le = c.re = c.in = noop; }),
       1,
       0},
      {"data hint kind 2",
       cubic.task,
       {-1, -1},
       with([&](auto& c) { c.datahint = kind2; }),
       1,
       ZOK_DF_ERR_DATA_HINT},
      {"peak beyond nx",
       cubic.task,
       {-1, -1},
       with([&](auto& c) { c.datahint = peak_out; }),
       1,
       ZOK_DF_ERR_DATA_HINT},
      {"user cell beyond nx",
       cubic.task,
       {-1, -1},
       with([&](auto& c) { c.type = 4, c.cell = &cell32; }),
       1,
       ZOK_DF_ERR_DATA_HINT},
      {"null cell array",
       cubic.task,
       {-1, -1},
       with([&](auto& c) { c.type = 2; }),
       1,
       ZOK_DF_ERR_NULL_RESULT},
      {"lookup two orders",
       lookup.task,
       {-1, -1},
       with([&](auto& c) {
         c.dorder = {1, 1};
       }),
       1,
       ZOK_DF_ERR_LOOKUP_ORDER_COUNT},
      {"lookup derivative",
       lookup.task,
       {-1, -1},
       with([&](auto& c) {
         c.dorder = {0, 1};
       }),
       1,
       ZOK_DF_ERR_LOOKUP_VALUE},
      {"lookup between nodes", lookup.task, {-1, -1}, base, lookup.x[2] + between, ZOK_DF_ERR_SITE_NOT_NODE},
      {"lookup left of the nodes", lookup.task, {-1, -1}, base, -3.5, ZOK_DF_ERR_SITE_NOT_NODE},
      {"lookup right of the nodes", lookup.task, {-1, -1}, base, 7.5, ZOK_DF_ERR_SITE_NOT_NODE},
      {"lookup within 2^-41 steps", lookup.task, {-1, -1}, base, lookup.x[4] + 10.0 / 9 * 0x1p-41, 0},
  };
  for (const Case& cs : cases) {
    if (cs.edit.order >= 0) {
      ASSERT_EQ(zok_df_kernel_dEditPPSpline1D(cs.task, cs.edit.order, cs.edit.type, 0, nullptr, 0, nullptr,
                                              nullptr, 0),
                0);
    }
    double r[2] = {-77, -77};
    const int32_t status = cs.call.interpolate(cs.task, 1, &cs.site, r);
    EXPECT_EQ(status, cs.want) << cs.what;
    if (status != 0 && status != ZOK_DF_ERR_SITE_NOT_NODE) {
      EXPECT_EQ(r[0], -77) << cs.what;
    }
    if (cs.edit.order >= 0) {
      ASSERT_EQ(zok_df_kernel_dEditPPSpline1D(cs.task, 4, 0, 0, nullptr, 0, nullptr, nullptr, 0), 0);
    }
  }
  double r = -77, lim = 1;
  EXPECT_EQ(base.interpolate(cubic.task, 0, &lim, &r), 0);
  EXPECT_EQ(base.integrate(cubic.task, 0, &lim, &lim, &r), 0);
  EXPECT_EQ(r, -77);
  EXPECT_EQ(base.integrate(lookup.task, 1, &lim, &lim, &r), ZOK_DF_ERR_SPLINE_TYPE);
  EXPECT_EQ(base.interpolate(cubic.task, 1, &lim, nullptr), ZOK_DF_ERR_NULL_RESULT);
  // Null coefficients and values; ny 0 counts as one function.
  Task bare;
  ASSERT_EQ(zok::test::new_task(&bare.t, 10, cubic.x.data()), 0);
  ASSERT_EQ(zok_df_kernel_dEditPPSpline1D(bare, 4, 0, 0, nullptr, 0, nullptr, nullptr, 0), 0);
  EXPECT_EQ(base.interpolate(bare, 1, &lim, &r), ZOK_DF_ERR_COEFF);
  ASSERT_EQ(zok_df_kernel_dEditPPSpline1D(bare, 0, 7, 0, nullptr, 0, nullptr, nullptr, 0), 0);
  EXPECT_EQ(base.integrate(bare, 1, &lim, &lim, &r), ZOK_DF_ERR_Y);
}

// Integrals against the long-double antiderivative, to 1e-12 of the integral of |s|: inside,
// beyond both ends, reversed, equal and NaN limits, sorted and peak limit hints, up to 1e6 cells.
template <class T>
void check_integrals(int64_t nx, bool wide) {
  std::mt19937_64 rng(nx);
  std::uniform_real_distribution<double> u(-4.0, 8.0);
  for (const Kind& kind : {kLinear, kQuad, kCubic, kKnotQuad, kOrder6, kStepLeft, kStepRight})
    for (int hints = 0; hints < (nx > 1000 ? 1 : 3); ++hints) {
      if (nx > 1000 && kind.order != 4) continue;
      Fixture<T> fx(kind, nx, 2, hints == 1, false, wide, rng());
      std::vector<T> a, b;
      for (int i = 0; i < (nx > 1000 ? 3 : 600); ++i) a.push_back(T(u(rng))), b.push_back(T(u(rng)));
      a.insert(a.end(), {T(-4), fx.x[3], fx.x[0], fx.x[2], T(1)});
      b.insert(b.end(), {T(8), fx.x[3], fx.x[nx - 1], std::numeric_limits<T>::quiet_NaN(), T(-3.5)});
      if (hints == 2) std::sort(a.begin(), a.end()), std::sort(b.begin(), b.end());
      const double peak[5] = {0, 1, 0, 0, double(nx / 2)};
      Call<T> call;
      call.datahint = hints == 2 ? peak : nullptr;
      const int64_t n = static_cast<int64_t>(a.size());
      std::vector<T> r(2 * n);
      ASSERT_EQ(call.integrate(fx.task, n, a.data(), b.data(), r.data(), hints == 2 ? 64 : 0, call.datahint),
                0);
      for (int64_t f = 0; f < 2; ++f)
        for (int64_t i = 0; i < n; ++i) {
          if (std::isnan(a[i]) || std::isnan(b[i])) {
            EXPECT_TRUE(std::isnan(r[f * n + i]));
            continue;
          }
          LD want, scale;
          fx.integral(f, std::min(a[i], b[i]), std::max(a[i], b[i]), &want, &scale);
          if (a[i] > b[i]) want = -want;
          ASSERT_LE(std::fabs(r[f * n + i] - want), tolerance<T>() * (scale + 1e-300))
              << kind.order << "/" << kind.type << " from " << a[i] << " to " << b[i];
        }
    }
}

TEST(Integrate, AgainstAntiderivatives) {
  check_integrals<double>(70, false);
  check_integrals<double>(70, true);
  check_integrals<float>(70, false);
}
TEST(Integrate, MillionCells) {
  check_integrals<double>(1000001, false);
}

// Region routines: each writes a recognisable function of its sites (interpolation) or the
// integral of a constant (integration); with several threads, one call in four fails with -7.
struct Routine {
  double level;
  bool integral;
  std::atomic<int>* calls;
  int fail_from;  // the call number from which the routine fails; 0 never
};
int32_t routine(void* n, const void* /*cells*/, const double* site, double* r, const void* params) {
  const auto* p = static_cast<const Routine*>(params);
  const int call = ++*p->calls;
  if (p->fail_from > 0 && call >= p->fail_from) return -7;
  const int32_t m = *static_cast<int32_t*>(n);
  for (int32_t f = 0; f < 2; ++f)
    for (int32_t i = 0; i < m; ++i)
      r[f * m + i] = p->integral ? p->level * (site[2 * i + 1] - site[2 * i]) : p->level + f + site[i];
  return 0;
}

TEST(Interpolate, RegionRoutinesAndThreads) {
  Fixture<double> fx(kCubic, 300, 2, false, false, false, 8);
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<double> u(-4.0, 8.0);
  std::vector<double> sites(5000), lo(5000), hi(5000);
  for (auto& s : sites) s = u(rng);
  for (auto& s : lo) s = u(rng);
  for (auto& s : hi) s = u(rng);
  sites[0] = std::numeric_limits<double>::quiet_NaN();
  std::atomic<int> calls{0};
  Routine left{100, false, &calls, 0};
  std::vector<double> r1(2 * sites.size()), r4(r1.size()), ri1(r1.size()), ri4(r1.size());
  for (bool in : {false, true}) {
    Call<double> call;
    call.le = reinterpret_cast<void*>(&routine);
    call.re = reinterpret_cast<void*>(&routine);
    call.in = in ? reinterpret_cast<void*>(&routine) : nullptr;
    call.params = &left;
    for (int threads : {1, 4}) {
      call.threading = FixedThreads::with(threads);
      auto& r = threads == 1 ? r1 : r4;
      ASSERT_EQ(call.interpolate(fx.task, sites.size(), sites.data(), r.data()), 0);
      if (threads == 4) {
        EXPECT_GT(FixedThreads::parallel_calls, 0);
      }
      left.integral = true;
      auto& ri = threads == 1 ? ri1 : ri4;
      ASSERT_EQ(call.integrate(fx.task, lo.size(), lo.data(), hi.data(), ri.data()), 0);
      left.integral = false;
    }
    EXPECT_EQ(std::memcmp(r1.data(), r4.data(), r1.size() * sizeof(double)), 0);
    EXPECT_EQ(std::memcmp(ri1.data(), ri4.data(), ri1.size() * sizeof(double)), 0);
    const int64_t n = sites.size();
    for (int64_t f = 0; f < 2; ++f)
      for (int64_t i = 0; i < n; ++i) {
        const double t = sites[i];
        const bool routine_served = !(t >= fx.x[0] && t <= fx.x.back()) || in;
        if (std::isnan(t)) {
          EXPECT_TRUE(std::isnan(r1[f * n + i]));
        } else if (routine_served) {
          EXPECT_EQ(r1[f * n + i], 100 + f + t);
        } else {
          EXPECT_NEAR(r1[f * n + i], double(fx.value(f, t, 0)), 1e-12);
        }
        // Integrals: the constant 100 beyond the ends (and inside with a routine), the spline else.
        const double a = std::min(lo[i], hi[i]), b = std::max(lo[i], hi[i]);
        const double inner_a = std::max(a, fx.x[0]), inner_b = std::min(b, fx.x.back());
        LD want =
            100.0 * (std::max(0.0, std::min(b, fx.x[0]) - a) + std::max(0.0, b - std::max(a, fx.x.back())));
        if (inner_a < inner_b) {
          LD part = 100.0 * (inner_b - inner_a), scale = 1;
          if (!in) fx.integral(f, inner_a, inner_b, &part, &scale);
          want += part;
        }
        EXPECT_NEAR(ri1[f * n + i], double(lo[i] > hi[i] ? -want : want),
                    1e-9 * (1 + std::fabs(double(want))));
      }
  }
  // A failing routine's status comes back from any thread count, the first failing block deciding.
  left.fail_from = 3;
  for (int threads : {1, 4}) {
    Call<double> call;
    call.le = reinterpret_cast<void*>(&routine);
    call.params = &left;
    call.threading = FixedThreads::with(threads);
    calls = 0;
    EXPECT_EQ(call.interpolate(fx.task, sites.size(), sites.data(), r1.data()), -7);
    calls = 0;
    EXPECT_EQ(call.integrate(fx.task, lo.size(), lo.data(), hi.data(), ri1.data()), -7);
  }
}

// Threads from 513 sites on; an unsorted partition gives meaningless results but stays inside its
// arrays (run under the address sanitizer).
TEST(Interpolate, ThreadThresholdAndUnsortedNodes) {
  Fixture<double> fx(kCubic, 40, 1, false, false, false, 5);
  std::shuffle(fx.x.begin(), fx.x.end(), std::mt19937_64(3));
  ASSERT_EQ(zok_df_kernel_dEditPtr(fx.task, ZOK_DF_ATTR_X, fx.x.data()), 0);
  ASSERT_EQ(zok_df_kernel_iEditVal(fx.task, ZOK_DF_ATTR_XHINT, 1), 0);
  std::vector<double> sites(513), r(513);
  std::vector<int32_t> cells(513);
  for (size_t i = 0; i < sites.size(); ++i) sites[i] = -4 + 12.0 * i / 512;
  Call<double> call;
  call.type = ZOK_DF_INTERP_CELLS;
  call.cell = cells.data();
  for (int64_t n : {512, 513}) {
    call.threading = FixedThreads::with(4);
    ASSERT_EQ(call.interpolate(fx.task, n, sites.data(), r.data()), 0);
    EXPECT_EQ(FixedThreads::parallel_calls > 0, n == 513);
    for (int64_t i = 0; i < n; ++i) ASSERT_TRUE(cells[i] >= 0 && cells[i] <= 40);
  }
}

// Routine scratch beyond the stack area is allocated: a failure gives -1001 and leaks nothing.
TEST(Interpolate, AllocationFailures) {
  Fixture<double> fx(kCubic, 50, 8, false, false, false, 4);
  std::vector<double> sites(2000, 1.0), r(2000 * 8 * 4);
  std::atomic<int> calls{0};
  Routine inside{1, false, &calls, 0};
  Call<double> call;
  call.in = reinterpret_cast<void*>(&routine);
  call.params = &inside;
  call.dorder = {1, 1, 1, 1};
  const long before = zok::test::outstanding_blocks();
  for (int threads : {1, 4}) {
    call.threading = FixedThreads::with(threads);
    zok::test::fail_allocation(1);
    EXPECT_EQ(call.interpolate(fx.task, sites.size(), sites.data(), r.data()), ZOK_DF_ERR_MEMORY);
    EXPECT_EQ(call.integrate(fx.task, sites.size(), sites.data(), sites.data(), r.data()), 0);
    zok::test::fail_allocation(1);
    EXPECT_EQ(call.integrate(fx.task, sites.size(), sites.data(), sites.data(), r.data()), ZOK_DF_ERR_MEMORY);
    zok::test::allow_allocations();
    EXPECT_EQ(call.interpolate(fx.task, sites.size(), sites.data(), r.data()), 0);
  }
  EXPECT_EQ(zok::test::outstanding_blocks(), before);
}

}  // namespace

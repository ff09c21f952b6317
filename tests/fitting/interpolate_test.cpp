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
using zok::test::Task;
using LD = long double;

template <class T>
struct Api {
  static constexpr auto new_task = zok_df_kernel_dNewTask1D;
  static constexpr auto edit = zok_df_kernel_dEditPPSpline1D;
  static constexpr auto interpolate = zok_df_kernel_dDFInterpolate1D;
  static constexpr auto integrate = zok_df_kernel_dDFIntegrate1D;
  using Region = ZokDfdRegionCallback;
  using Search = ZokDfdSearchCallback;
};
template <>
struct Api<float> {
  static constexpr auto new_task = zok_df_kernel_sNewTask1D;
  static constexpr auto edit = zok_df_kernel_sEditPPSpline1D;
  static constexpr auto interpolate = zok_df_kernel_sDFInterpolate1D;
  static constexpr auto integrate = zok_df_kernel_sDFIntegrate1D;
  using Region = ZokDfsRegionCallback;
  using Search = ZokDfsSearchCallback;
};

// s_order and s_type of every evaluation kind.
struct Kind {
  int64_t order, type;
};
const Kind kLinear{2, 0}, kQuad{3, 0}, kCubic{4, 0}, kKnotQuad{3, 1}, kOrder6{6, 0}, kStepLeft{0, 8},
    kStepRight{0, 7}, kLookup{0, 6};

// A task over random (or evenly spaced) nodes in [-3, 7] with random coefficients and values, and
// the definition of what it evaluates to.
template <class T>
struct Fixture {
  Kind kind;
  int64_t nx, ny;
  std::vector<T> x, arg_x, y, y_store, c;  // x: every node where the library places it
  Task task;

  Fixture(Kind k, int64_t n, int64_t functions, bool even, bool columns, bool wide, uint64_t seed)
      : kind(k), nx(n), ny(functions) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    y.resize(nx * ny), c.resize(pieces() * std::max<int64_t>(kind.order, 1) * ny);
    x = arg_x = zok::test::make_partition<T>(zok::test::Shape::kRandom, nx, rng);
    if (even) {
      arg_x = {T(-3), T(7)};
      for (int64_t j = 0; j < nx; ++j) x[j] = T(-3) + static_cast<T>(j) * (T(10) / static_cast<T>(nx - 1));
      x.back() = T(7);
    }
    for (auto* v : {&y, &c})
      for (auto& e : *v) e = static_cast<T>(u(rng));
    y_store = y;
    for (int64_t f = 0; columns && f < ny; ++f)
      for (int64_t j = 0; j < nx; ++j) y_store[j * ny + f] = y[f * nx + j];
    const int64_t yhint = columns ? 32 : 16;
    EXPECT_EQ(Api<T>::new_task(&task.t, nx, arg_x.data(), even ? 4 : 0, ny, y_store.data(), yhint, wide), 0);
    EXPECT_EQ(Api<T>::edit(task, k.order, k.type, 0, 0, 0, 0, k.order > 0 ? c.data() : nullptr, 0), 0);
    EXPECT_EQ(k.type == 1 ? zok_df_kernel_iEditVal(task, ZOK_DF_ATTR_IC_TYPE, 8) : 0, 0);
  }

  bool knots() const { return kind.order == 3 && kind.type == 1; }
  int64_t pieces() const { return knots() ? nx : nx - 1; }
  LD knot(int64_t j) const { return j == 0 ? x[0] : j == nx ? x[nx - 1] : T((x[j - 1] + x[j]) / T(2)); }
  LD cut(int64_t j) const { return knots() ? knot(j) : LD(x[std::min(j, nx - 1)]); }
  // The piece serving t: its knot cell, else the node cell clamped to the pieces.
  int64_t piece(T t) const {
    int64_t k = 0;
    for (int64_t j = 1; knots() && j < nx; ++j) k += knot(j) <= t;
    return knots() ? k : std::clamp<int64_t>(zok::test::reference_cell(x, t) - 1, 0, nx - 2);
  }
  // The k-th derivative of function f at t.
  LD value(int64_t f, T t, int64_t k) const {
    if (kind.order == 0) {
      // From the right: y[j] on [x_j, x_j+1); from the left: on (x_j, x_j+1]; lookup: y[j] at x_j.
      const auto it =
          kind.type == 7 ? std::upper_bound(x.begin(), x.end(), t) : std::lower_bound(x.begin(), x.end(), t);
      return k > 0 ? 0
                   : y[f * nx + std::clamp<int64_t>(it - x.begin() - (kind.type == 6 ? 0 : 1), 0, nx - 1)];
    }
    const int64_t p = piece(t), s = kind.order;
    const LD u = LD(t) - cut(p);
    LD sum = 0;
    for (int64_t j = s - 1; j >= k; --j) {
      LD fall = 1;
      for (int64_t m = j - k + 1; m <= j; ++m) fall *= m;
      sum = sum * u + c[(f * pieces() + p) * s + j] * fall;
    }
    return sum;
  }
  // The integral of function f over [a, b] piece by piece, and a bound of the integral of |s|.
  void integral(int64_t f, T a, T b, LD* sum, LD* scale) const {
    *sum = *scale = 0;
    std::vector<LD> cuts{LD(a)};
    for (int64_t j = 0; j <= pieces(); ++j)
      if (cut(j) > a && cut(j) < b) cuts.push_back(cut(j));
    cuts.push_back(b);
    for (size_t i = 0; i + 1 < cuts.size(); ++i) {
      const T mid = static_cast<T>((cuts[i] + cuts[i + 1]) / 2);
      const int64_t p = kind.order == 0 ? -1 : piece(mid);
      const LD l = p >= 0 ? cut(p) : 0;
      LD hp = 1, lp = 1;
      for (int64_t j = 0; j < std::max<int64_t>(kind.order, 1); ++j) {
        const LD cj = p >= 0 ? LD(c[(f * pieces() + p) * kind.order + j]) : value(f, mid, 0);
        hp *= cuts[i + 1] - l, lp *= cuts[i] - l;
        *sum += cj * (hp - lp) / (j + 1);
        *scale += std::fabs(cj) * (std::fabs(hp) + std::fabs(lp)) / (j + 1);
      }
    }
  }
};

// One set of arguments for both entries; routines are void* cast to the precision's type.
template <class T>
struct Call {
  int64_t type = 0, sitehint = 0, rhint = 0;
  std::vector<int64_t> dorder = {};  // passed at the task's width
  const double* datahint = nullptr;
  void* cell = nullptr;
  void *le = nullptr, *re = nullptr, *in = nullptr, *search = nullptr;
  const void* params = nullptr;
  const ThreadingServices* threading = nullptr;
  using R = typename Api<T>::Region;

  int32_t interpolate(const DfTask* task, int64_t n, const T* site, T* r) const {
    std::vector<int32_t> d32(dorder.begin(), dorder.end());
    const void* d =
        task != nullptr && task->IntWidthFlag ? static_cast<const void*>(dorder.data()) : d32.data();
    return Api<T>::interpolate(task, type, 0, n, site, sitehint, dorder.size(), d, datahint, r, rhint, cell,
                               R(le), params, R(re), params, R(in), params, typename Api<T>::Search(search),
                               params, threading);
  }
  int32_t integrate(const DfTask* task, int64_t n, const T* a, const T* b, T* r) const {
    return Api<T>::integrate(task, 0, n, a, sitehint, b, sitehint, datahint, datahint, r, rhint, R(le),
                             params, R(re), params, R(in), params, typename Api<T>::Search(search), params,
                             threading);
  }
};

// A search routine that knows the true cells of the sites of one array: all of them (1000), or
// those of even sites, flagged.
struct KnownCells {
  const void* sites;
  const std::vector<int64_t>* cells;
  bool partial;
  size_t width;
};
template <class T>
int32_t known_cells(void* n, const T* site, void* cell, int32_t* flag, const void* params) {
  const auto* k = static_cast<const KnownCells*>(params);
  for (int64_t i = 0; i < zok::test::load_cell(n, k->width); ++i) {
    const int64_t at = site + i - static_cast<const T*>(k->sites);
    if (k->partial && at % 2 == 1) continue;
    zok::test::store_cell(static_cast<char*>(cell) + i * k->width, k->width, (*k->cells)[at]);
    flag[i] = 1;
  }
  return k->partial ? 0 : 1000;
}

template <class T>
constexpr T kTolerance = sizeof(T) == 8 ? T(1e-12) : T(2e-5);

enum class Mode { Uniform, Quasi, Sorted, Peak, Hybrid, UserCells, RoutineAll, RoutinePart, End };

// Every kind through every search mode: values and derivatives 0..4 at random sites, nodes and their
// neighbours, the ends and beyond, for one and two functions, nx 2, every result layout; then the
// values alone and each site alone (the one-site path) give the same bits.
template <class T>
void check_kinds(bool wide) {
  std::mt19937_64 rng(wide ? 5 : 6);
  const size_t width = wide ? 8 : 4;
  for (const Kind& kind : {kLinear, kQuad, kCubic, kKnotQuad, kOrder6, kStepLeft, kStepRight, kLookup})
    for (int m = 0; m < int(Mode::End); ++m)
      for (int64_t variant : {1, 2, 3}) {  // one function; two stored by columns; nx 2
        const Mode mode = Mode(m);
        const bool even = mode == Mode::Uniform, lookup = kind.type == 6 && kind.order == 0;
        Fixture<T> fx(kind, variant == 3 ? 2 : 90 - 50 * even, variant == 2 ? 2 : 1, even, variant == 2, wide,
                      rng());
        std::vector<T> sites;
        std::uniform_real_distribution<double> u(-4.0, 8.0);
        for (int i = 0; i < 700 && !lookup; ++i) sites.push_back(static_cast<T>(u(rng)));
        for (int64_t j = 0; j < fx.nx; ++j)
          for (T s : {fx.x[j], std::nextafter(fx.x[j], T(-9)), std::nextafter(fx.x[j], T(9))})
            if ((!even || j == 0 || j == fx.nx - 1) && (!lookup || s == fx.x[j])) sites.push_back(s);
        if (mode == Mode::Sorted) std::sort(sites.begin(), sites.end());
        const int64_t n = static_cast<int64_t>(sites.size()), ny = fx.ny;
        const std::vector<int64_t> cells = zok::test::reference_cells(fx.x, sites);
        std::vector<char> cell_array(n * width);
        const double peak[5] = {0, 1, 0, 0, double(fx.nx / 3)};
        KnownCells known{sites.data(), &cells, mode == Mode::RoutinePart, width};
        Call<T> call{.type = mode == Mode::UserCells ? ZOK_DF_INTERP_USER_CELLS : ZOK_DF_INTERP_CELLS,
                     .sitehint = mode == Mode::Sorted ? ZOK_DF_SITES_SORTED : 0,
                     .rhint = std::vector<int64_t>{0, 16, 32, 128}[(m + variant) % 4],
                     .dorder = std::vector<int64_t>(lookup ? 1 : 5, 1),
                     .datahint = mode == Mode::Peak ? peak : nullptr,
                     .cell = cell_array.data()};
        const int64_t xhint = even ? 4 : 2 * (mode == Mode::Quasi);
        EXPECT_EQ(zok_df_kernel_iEditVal(fx.task, ZOK_DF_ATTR_XHINT, xhint), 0);
        for (int64_t i = 0; mode == Mode::UserCells && i < n; ++i)
          zok::test::store_cell(&cell_array[i * width], width, cells[i]);
        const bool routine = mode == Mode::RoutineAll || mode == Mode::RoutinePart;
        call.search = routine ? reinterpret_cast<void*>(&known_cells<T>) : nullptr;
        call.params = &known;
        const int64_t q = static_cast<int64_t>(call.dorder.size());
        std::vector<T> r(ny * n * q);
        ASSERT_EQ(call.interpolate(fx.task, n, sites.data(), r.data()), 0);
        const bool by_site = call.rhint == 16 || call.rhint == 128;
        for (int64_t i = 0; i < n; ++i) {
          ASSERT_TRUE(even || zok::test::load_cell(&cell_array[i * width], width) == cells[i]) << sites[i];
          for (int64_t f = 0; f < ny; ++f)
            for (int64_t k = 0; k < q; ++k) {
              const LD scale = 1 + std::fabs(fx.value(f, T(8), k)) + std::fabs(fx.value(f, T(-4), k));
              const T got = r[f * n * q + (by_site ? i * q + k : k * n + i)];
              ASSERT_LE(std::fabs(got - fx.value(f, sites[i], k)), kTolerance<T> * scale)
                  << m << " " << sites[i];
            }
        }
        if (ny != 1 || routine) continue;
        call.type = mode == Mode::UserCells ? call.type : 0;
        std::vector<T> values(n), r1(4);
        for (int64_t first = 0; first < n; first += 7) {  // each site alone, up to 4 orders
          call.cell = &cell_array[first * width];
          call.dorder.resize(std::min<int64_t>(q, 4));
          ASSERT_EQ(call.interpolate(fx.task, 1, &sites[first], r1.data()), 0);
          for (size_t k = 0; k < call.dorder.size(); ++k)
            ASSERT_EQ(r1[k], r[by_site ? first * q + k : k * n + first]);
        }
        call.cell = cell_array.data();
        call.dorder = {1};
        ASSERT_EQ(call.interpolate(fx.task, n, sites.data(), values.data()), 0);
        for (int64_t i = 0; i < n; ++i) ASSERT_EQ(values[i], r[by_site ? i * q : i]) << sites[i];
      }
}

TEST(Interpolate, EveryKindEveryMode) {
  check_kinds<double>(false);
  check_kinds<double>(true);
  check_kinds<float>(false);
}

// The quadratic with knots between the nodes, built from a parabola, gives it back with its
// derivatives, inside and beyond the ends, on uneven and even nodes: construction and evaluation
// agree on the knots and where each piece's variable starts. (Cubics: the scipy test.)
TEST(Interpolate, KnotQuadraticReproducesParabolas) {
  for (bool even : {false, true}) {
    Fixture<double> fx({4, 0}, 30, 1, even, false, false, 9);
    auto p = [](double t, int k) {
      return k == 0 ? 1 + t * (0.25 - 0.75 * t) : k == 1 ? 0.25 - 1.5 * t : k == 2 ? -1.5 : 0;
    };
    for (int64_t j = 0; j < 30; ++j) fx.y_store[j] = p(fx.x[j], 0);
    const double bc[2] = {-1.5, -1.5};
    ASSERT_EQ(zok_df_kernel_dEditPPSpline1D(fx.task, 3, 1, 48, bc, 0, 0, fx.c.data(), 0) +
                  zok_df_kernel_iEditVal(fx.task, ZOK_DF_ATTR_IC_TYPE, 8) +
                  zok_df_kernel_dDFQuadraticSpline1D(fx.task, nullptr, 0, nullptr),
              0);
    std::vector<double> sites{fx.x[0], fx.x[29], fx.x[7], -3.5, 7.5}, r(4 * 205);
    for (int i = 0; i < 200; ++i) sites.push_back(-3 + 10.0 * i / 199.5);
    const Call<double> call{.rhint = 16, .dorder = {1, 1, 1, 1}};
    ASSERT_EQ(call.interpolate(fx.task, sites.size(), sites.data(), r.data()), 0);
    for (size_t i = 0; i < sites.size(); ++i)
      for (int k = 0; k < 4; ++k) EXPECT_NEAR(r[i * 4 + k], p(sites[i], k), 1e-9);
  }
}

// Checks in their order, each before anything is written, and the codes found while evaluating.
TEST(Interpolate, ArgumentChecks) {
  Fixture<double> cubic(kCubic, 10, 1, false, false, false, 1), lookup(kLookup, 10, 1, true, false, false, 2);
  const double kind2[5] = {0, 2}, peak_out[5] = {0, 1, 0, 0, 11};
  int32_t cell32 = 11;
  void* noop =
      reinterpret_cast<void*>(+[](void*, const void*, const double*, double*, const void*) { return 0; });
  using C = Call<double>;
  // The status at one site t after setting the spline (order -1: keep it); r stays untouched unless
  // the call got as far as evaluating.
  double r[2];
  auto run = [&](DfTask* task, Kind k, const C& c, double t = 1) {
    EXPECT_EQ(k.order >= 0 ? zok_df_kernel_dEditPPSpline1D(task, k.order, k.type, 0, 0, 0, 0, 0, 0) : 0, 0);
    r[0] = -77;
    const int32_t status = c.interpolate(task, 1, &t, r);
    EXPECT_TRUE(status == 0 || status == ZOK_DF_ERR_SITE_NOT_NODE || r[0] == -77);
    return status;
  };
  // Orders counted by their non-zero entries; one generated site is the first end.
  EXPECT_EQ(run(cubic.task, kCubic, {.sitehint = 4, .dorder = {2, -1}}, 0.5), 0);
  EXPECT_TRUE(std::fabs(r[0] - cubic.value(0, 0.5, 0)) + std::fabs(r[1] - cubic.value(0, 0.5, 1)) < 1e-12);
  for (double t : {double(NAN), -double(INFINITY), double(INFINITY)}) {  // cells nx, 0, nx
    EXPECT_EQ(run(cubic.task, kCubic, {.type = 2, .cell = &cell32}, t), 0);
    EXPECT_TRUE(cell32 == (t < 0 ? 0 : 10) && (t == t || std::isnan(r[0])));
  }
  cell32 = 11;
  EXPECT_EQ(run(nullptr, {-1, 0}, {}), ZOK_DF_ERR_NULL_TASK);
  for (Kind k : {Kind{1, 0}, Kind{3, 2}, Kind{4, 1}, Kind{0, 9}})
    EXPECT_EQ(run(cubic.task, k, {}), ZOK_DF_ERR_SPLINE_TYPE);
  EXPECT_EQ(run(cubic.task, {0, 9}, {.le = noop, .re = noop, .in = noop}), 0);
  EXPECT_EQ(run(cubic.task, kCubic, {.datahint = kind2}), ZOK_DF_ERR_DATA_HINT);
  EXPECT_EQ(run(cubic.task, kCubic, {.datahint = peak_out}), ZOK_DF_ERR_DATA_HINT);
  EXPECT_EQ(run(cubic.task, kCubic, {.type = 4, .cell = &cell32}), ZOK_DF_ERR_DATA_HINT);
  EXPECT_EQ(run(cubic.task, kCubic, {.type = 2}), ZOK_DF_ERR_NULL_RESULT);
  EXPECT_EQ(run(cubic.task, kCubic, {.rhint = 64}), ZOK_DF_ERR_RESULT_HINT);
  EXPECT_EQ(run(lookup.task, {-1, 0}, {.dorder = {1, 1}}), ZOK_DF_ERR_LOOKUP_ORDER_COUNT);
  EXPECT_EQ(run(lookup.task, {-1, 0}, {.dorder = {0, 1}}), ZOK_DF_ERR_LOOKUP_VALUE);
  for (double t : {lookup.x[2] + 0.3, -3.5, 7.5})
    EXPECT_EQ(run(lookup.task, {-1, 0}, {}, t), ZOK_DF_ERR_SITE_NOT_NODE);
  EXPECT_EQ(run(lookup.task, {-1, 0}, {}, lookup.x[4] + 10.0 / 9 * 0x1p-41), 0);
  double lim = 1, out = -77;
  EXPECT_EQ(C().interpolate(cubic.task, 0, &lim, &out) + C().integrate(cubic.task, 0, &lim, &lim, &out), 0);
  EXPECT_EQ(out, -77);
  EXPECT_EQ(C().integrate(lookup.task, 1, &lim, &lim, &out), ZOK_DF_ERR_SPLINE_TYPE);
  EXPECT_EQ(C().interpolate(cubic.task, 1, &lim, nullptr), ZOK_DF_ERR_NULL_RESULT);
  EXPECT_EQ(C{.rhint = 64}.integrate(cubic.task, 1, &lim, &lim, &out), ZOK_DF_ERR_INTEGRAL_HINT);
  Task bare;  // ny 0: one function, but without coefficients or values
  ASSERT_EQ(zok::test::new_task(&bare.t, 10, cubic.x.data()), 0);
  EXPECT_EQ(run(bare, kCubic, {}), ZOK_DF_ERR_COEFF);
  EXPECT_EQ(run(bare, {0, 7}, {}), ZOK_DF_ERR_Y);
}

// Integrals against the long-double antiderivative, to 1e-12 of the integral of |s|: inside,
// beyond both ends, reversed, equal and NaN limits, sorted and peak limit hints, up to 1e6 cells.
template <class T>
void check_integrals(int64_t nx, bool wide) {
  std::mt19937_64 rng(nx);
  std::uniform_real_distribution<double> u(-4.0, 8.0);
  for (const Kind& kind : {kLinear, kQuad, kCubic, kKnotQuad, kOrder6, kStepLeft, kStepRight})
    for (int hints = 0; hints < 4; ++hints) {
      if (nx > 1000 && (kind.order != 4 || hints > 0)) continue;
      Fixture<T> fx(kind, nx, 2, hints == 1, false, wide, rng());
      std::vector<T> a{T(-4), fx.x[3], fx.x[0], fx.x[2], T(1)}, b{T(8), fx.x[3], fx.x[nx - 1], NAN, T(-3.5)};
      for (int i = 0; i < (nx > 1000 ? 3 : 600); ++i) a.push_back(T(u(rng))), b.push_back(T(u(rng)));
      if (hints == 2) std::sort(a.begin(), a.end()), std::sort(b.begin(), b.end());
      const double peak[5] = {0, 1, 0, 0, double(nx / 2)};
      const Call<T> call{.sitehint = hints == 2 ? ZOK_DF_SITES_SORTED : 0,
                         .datahint = hints == 3 ? peak : nullptr};
      const int64_t n = static_cast<int64_t>(a.size());
      std::vector<T> r(2 * n);
      ASSERT_EQ(call.integrate(fx.task, n, a.data(), b.data(), r.data()), 0);
      for (int64_t f = 0; f < 2; ++f)
        for (int64_t i = 0; i < n; ++i) {
          LD want = NAN, scale = 0;
          if (!std::isnan(a[i] + b[i]))
            fx.integral(f, std::min(a[i], b[i]), std::max(a[i], b[i]), &want, &scale);
          const LD got = a[i] > b[i] ? -r[f * n + i] : r[f * n + i];  // NaN stays NaN
          ASSERT_TRUE(std::isnan(want) ? std::isnan(got)
                                       : std::fabs(got - want) <= kTolerance<T> * scale + 1e-300)
              << kind.order << "/" << kind.type << " from " << a[i] << " to " << b[i];
        }
    }
}

TEST(Integrate, AgainstAntiderivatives) {
  check_integrals<double>(70, false);
  check_integrals<double>(70, true);
  check_integrals<float>(70, false);
  check_integrals<double>(1000001, false);
}

// A region routine: 100 + f + site (interpolation) or 100 times the length (integration); fails
// with -7 from its `fail_from`-th call on.
struct Routine {
  bool integral;
  std::atomic<int> calls{0};
  int fail_from = 0;
};
int32_t routine(void* n, const void* /*cells*/, const double* site, double* r, const void* params) {
  auto* p = const_cast<Routine*>(static_cast<const Routine*>(params));
  if (++p->calls >= p->fail_from && p->fail_from > 0) return -7;
  const int32_t m = *static_cast<int32_t*>(n);
  for (int32_t f = 0; f < 2; ++f)
    for (int32_t i = 0; i < m; ++i)
      r[f * m + i] = p->integral ? 100 * (site[2 * i + 1] - site[2 * i]) : 100 + f + site[i];
  return 0;
}

// Routines replacing regions, with the same bits on one and four threads (split from 513 sites
// on), and a failing routine's status from whichever block fails first.
TEST(Interpolate, RegionRoutinesAndThreads) {
  Fixture<double> fx(kCubic, 300, 2, false, false, false, 8);
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<double> u(-4.0, 8.0);
  const int64_t n = 1473;  // 4 blocks and a part
  std::vector<double> sites(n), lo(n), hi(n), r[3], ri[3];
  for (auto* v : {&sites, &lo, &hi})
    for (auto& e : *v) e = u(rng);
  sites[0] = NAN;
  Call<double> call{.threading = FixedThreads::with(4)};
  for (int64_t m : {int64_t{512}, int64_t{513}, n}) {
    ASSERT_EQ(call.interpolate(fx.task, m, sites.data(), (r[2].resize(2 * n), r[2].data())), 0);
    EXPECT_EQ(FixedThreads::parallel_calls > 0, m > 512);
  }
  ASSERT_EQ(call.integrate(fx.task, n, lo.data(), hi.data(), (ri[2].resize(2 * n), ri[2].data())), 0);
  for (bool inside : {false, true}) {
    Routine values{false}, integrals{true};
    call.le = call.re = reinterpret_cast<void*>(&routine);
    call.in = inside ? call.le : nullptr;
    for (int t = 0; t < 2; ++t) {
      call.threading = FixedThreads::with(t == 0 ? 1 : 4);
      call.params = &values;
      ASSERT_EQ(call.interpolate(fx.task, n, sites.data(), (r[t].resize(2 * n), r[t].data())), 0);
      call.params = &integrals;
      ASSERT_EQ(call.integrate(fx.task, n, lo.data(), hi.data(), (ri[t].resize(2 * n), ri[t].data())), 0);
    }
    EXPECT_EQ(std::memcmp(r[0].data(), r[1].data(), 2 * n * sizeof(double)), 0);
    EXPECT_EQ(std::memcmp(ri[0].data(), ri[1].data(), 2 * n * sizeof(double)), 0);
    // Sites and intervals a routine serves against 100 + f + site and 100 times the length, the rest
    // against the results without routines.
    for (int64_t f = 0; f < 2; ++f)
      for (int64_t i = 1; i < n; ++i) {
        const double t = sites[i];
        EXPECT_EQ(r[0][f * n + i], inside || t < fx.x[0] || t > fx.x.back() ? 100 + f + t : r[2][f * n + i]);
        const double a = std::min(lo[i], hi[i]), b = std::max(lo[i], hi[i]);
        const bool routine = inside || b < fx.x[0] || a > fx.x.back(),
                   spline = a >= fx.x[0] && b <= fx.x.back();
        if (routine || spline) {
          EXPECT_NEAR(ri[0][f * n + i], routine ? 100 * (hi[i] - lo[i]) : ri[2][f * n + i], 1e-9);
        }
      }
    EXPECT_TRUE(std::isnan(r[0][0]) && std::isnan(r[0][n]));
  }
  Routine failing{false, {}, 3};
  call.params = &failing;
  for (int threads : {1, 4}) {
    call.threading = FixedThreads::with(threads);
    failing.calls = 0;
    EXPECT_EQ(call.interpolate(fx.task, n, sites.data(), r[0].data()), -7);
    failing.calls = 0;
    EXPECT_EQ(call.integrate(fx.task, n, lo.data(), hi.data(), ri[0].data()), -7);
  }
}

// Routine scratch beyond the stack area is allocated: a failure gives -1001 and leaks nothing. An
// unsorted partition gives meaningless results but stays inside its arrays (under the address
// sanitizer).
TEST(Interpolate, AllocationFailuresAndUnsortedNodes) {
  Fixture<double> fx(kCubic, 50, 8, false, false, false, 4);
  std::vector<double> sites(2000, 1.0), r(2000 * 8 * 4);
  Routine inside{false};
  Call<double> call{.dorder = {1, 1, 1, 1}, .in = reinterpret_cast<void*>(&routine), .params = &inside};
  const long before = zok::test::outstanding_blocks();
  for (int threads : {1, 4}) {
    call.threading = FixedThreads::with(threads);
    zok::test::fail_allocation(1);
    EXPECT_EQ(call.interpolate(fx.task, sites.size(), sites.data(), r.data()), ZOK_DF_ERR_MEMORY);
    zok::test::fail_allocation(1);
    EXPECT_EQ(call.integrate(fx.task, sites.size(), sites.data(), sites.data(), r.data()), ZOK_DF_ERR_MEMORY);
    zok::test::allow_allocations();
    EXPECT_EQ(call.interpolate(fx.task, sites.size(), sites.data(), r.data()), 0);
  }
  EXPECT_EQ(zok::test::outstanding_blocks(), before);
  std::shuffle(fx.x.begin(), fx.x.end(), std::mt19937_64(3));
  ASSERT_EQ(zok_df_kernel_dEditPtr(fx.task, ZOK_DF_ATTR_X, fx.x.data()), 0);
  ASSERT_EQ(zok_df_kernel_iEditVal(fx.task, ZOK_DF_ATTR_XHINT, 1), 0);
  std::vector<int32_t> cells(sites.size());
  for (size_t i = 0; i < sites.size(); ++i) sites[i] = -4 + 12.0 * i / 1999;
  call = {.type = 2, .cell = cells.data()};
  ASSERT_EQ(call.interpolate(fx.task, 2000, sites.data(), r.data()), 0);
  EXPECT_TRUE(std::all_of(cells.begin(), cells.end(), [](int32_t c) { return c >= 0 && c <= 50; }));
}

}  // namespace

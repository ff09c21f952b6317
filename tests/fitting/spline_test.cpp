// Spline construction: polynomials reproduced, defining conditions on random data, the natural cubic
// against a dense long-double solve, statuses in check order, threads, allocation failures and
// single against double precision.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include "fitting/task.h"
#include "tests/fitting/fitting_support.h"
#include "zok/data_fitting.h"

namespace {

using zok::test::FixedThreads;
using zok::test::Task;

enum Kind { kLinear, kQuadratic, kNatural, kBessel, kAkima, kHermite, kDefault };
enum class Storage { kRows, kColumns, kFirstOnly };
using Entry = int32_t (*)(const DfTask*, const void*, int32_t, const ThreadingServices*);
// clang-format off
const Entry kDouble[] = {zok_df_kernel_dDFLinearSpline1D, zok_df_kernel_dDFQuadraticSpline1D,
    zok_df_kernel_dDFNaturalCubicSpline1D, zok_df_kernel_dDFBesselCubicSpline1D, zok_df_kernel_dDFAkimaCubicSpline1D,
    zok_df_kernel_dDFHermiteCubicSpline1D, zok_df_kernel_dDFDefaultCubicSpline1D};
const Entry kSingle[] = {zok_df_kernel_sDFLinearSpline1D, zok_df_kernel_sDFQuadraticSpline1D,
    zok_df_kernel_sDFNaturalCubicSpline1D, zok_df_kernel_sDFBesselCubicSpline1D, zok_df_kernel_sDFAkimaCubicSpline1D,
    zok_df_kernel_sDFHermiteCubicSpline1D, zok_df_kernel_sDFDefaultCubicSpline1D};
// clang-format on
const int64_t kOrder[] = {2, 3, 4, 4, 4, 4, 4};

struct Build {
  Kind kind;
  int64_t bc_type = 2, s_type = 0, ic_type = 0;
  std::vector<double> bc, ic;
  Storage storage = Storage::kRows;
  bool uniform = false;
  const ThreadingServices* threading = nullptr;
  long fail_at = 0;  // the allocation of the entry that fails, 0 for none
};

// A task with the values and the spline settings of s, in either precision.
int32_t make(DfTask** t, int64_t nx, const double* x, int64_t ny, const double* y, int64_t yh, const Build& s,
             const double* bc, const double* ic, double* c) {
  const int32_t st = zok_df_kernel_dNewTask1D(t, nx, x, s.uniform ? 4 : 0, ny, y, yh, 0);
  return st ? st
            : zok_df_kernel_dEditPPSpline1D(*t, kOrder[s.kind], s.s_type, s.bc_type, bc, ic ? 1 : 0, ic, c,
                                            0);
}
int32_t make(DfTask** t, int64_t nx, const float* x, int64_t ny, const float* y, int64_t yh, const Build& s,
             const float* bc, const float* ic, float* c) {
  const int32_t st = zok_df_kernel_sNewTask1D(t, nx, x, s.uniform ? 4 : 0, ny, y, yh, 0);
  return st ? st
            : zok_df_kernel_sEditPPSpline1D(*t, kOrder[s.kind], s.s_type, s.bc_type, bc, ic ? 1 : 0, ic, c,
                                            0);
}

// Builds the spline of functions ys on partition x (the two ends when uniform) and returns the
// status; coefficients of function f in c[f], which starts filled with a marker.
template <class T>
int32_t build(const Build& s, const std::vector<double>& x, int64_t nx,
              const std::vector<std::vector<double>>& ys, std::vector<std::vector<T>>* c) {
  const int64_t ny = static_cast<int64_t>(ys.size()), o = kOrder[s.kind];
  const std::vector<T> xt(x.begin(), x.end()), bc(s.bc.begin(), s.bc.end()), ic(s.ic.begin(), s.ic.end());
  std::vector<T> y(nx * ny);
  for (int64_t f = 0; f < ny; ++f)
    for (int64_t j = 0; j < nx; ++j)
      y[s.storage == Storage::kColumns ? j * ny + f : f * nx + j] = static_cast<T>(ys[f][j]);
  const int64_t yhint = s.storage == Storage::kColumns ? 32 : s.storage == Storage::kFirstOnly ? 128 : 16;
  const int64_t cells = s.kind == kQuadratic && s.s_type == 1 ? nx : nx - 1;
  std::vector<T> all(cells * o * ny, T(-777));
  Task task;
  int32_t st = make(&task, nx, xt.data(), ny, y.data(), yhint, s, bc.empty() ? nullptr : bc.data(),
                    ic.empty() ? nullptr : ic.data(), all.data());
  // A code without values (the quadratic's default knots) can only be set on its own.
  if (st == 0 && s.ic_type != 0) st = zok_df_kernel_iEditVal(task, ZOK_DF_ATTR_IC_TYPE, s.ic_type);
  EXPECT_EQ(st, 0);
  for (int64_t f = 1; s.storage == Storage::kFirstOnly && f < ny; ++f)
    zok_df_kernel_dEditIdxPtr(task, ZOK_DF_ATTR_Y, f, y.data() + f * nx);
  if (s.fail_at > 0) zok::test::fail_allocation(s.fail_at);
  st = (sizeof(T) == 8 ? kDouble : kSingle)[s.kind](task, nullptr, 0, s.threading);
  zok::test::allow_allocations();
  c->assign(ny, {});
  for (int64_t f = 0; f < ny; ++f)
    (*c)[f].assign(all.begin() + f * cells * o, all.begin() + (f + 1) * cells * o);
  return st;
}

// Derivative k of the cell polynomial c (order s) at distance t from its left end.
double eval(const double* c, int s, double t, int k = 0) {
  double v = 0;
  for (int j = s - 1; j >= k; --j) v = v * t + c[j] * std::tgamma(j + 1) / std::tgamma(j - k + 1);
  return v;
}

std::vector<double> random_partition(std::mt19937_64& rng, int64_t n) {
  std::uniform_real_distribution<double> u(0.4, 1.6);
  std::vector<double> x(n, -1.0);
  for (int64_t j = 1; j < n; ++j)
    x[j] = static_cast<float>(x[j - 1] + u(rng));  // as the single build sees it
  return x;
}
double max_abs(const std::vector<double>& v) {
  return std::fabs(*std::ranges::max_element(v, {}, [](double e) { return std::fabs(e); }));
}

// Polynomials of their degree come back as their Taylor coefficients at every cell's left end (a knot
// for the quadratic with knots between nodes), for every storage, on random partitions and on the
// uniform one {0, 1} with nx = 5 (step 0.25).
TEST(Spline, ReproducesPolynomialsOfItsDegree) {
  struct Row {
    Kind kind;
    int degree;
    std::vector<int64_t> bc_types;
    int64_t s_type = 0, ic_type = 0;
  };
  // clang-format off
  const Row rows[] = {{kLinear, 1, {2}}, {kAkima, 1, {0, 1, 2, 12, 36, 24, 48}}, {kBessel, 2, {1, 12, 36, 24, 48}},
                      {kNatural, 3, {1, 12, 36, 24, 48}}, {kNatural, 1, {2}}, {kHermite, 3, {1, 12, 36, 24, 48}},
                      {kDefault, 3, {1, 12, 36, 24, 48}}, {kDefault, 1, {2}}, {kQuadratic, 2, {128}},
                      {kQuadratic, 2, {12, 36, 24, 48}, 1, 8}, {kQuadratic, 2, {12, 48}, 1, 8 | 4},
                      {kQuadratic, 2, {24}, 1, 8 | 1}};
  // clang-format on
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(-2, 2);
  for (const Row& r : rows)
    for (int64_t bc_type : r.bc_types)
      for (Storage storage : {Storage::kRows, Storage::kColumns, Storage::kFirstOnly})
        for (int64_t nx : {3, 5, 9}) {  // 5: uniform; 3: the natural not-a-knot parabola
          if (nx == 3 && !(r.kind == kNatural && bc_type == 1)) continue;
          if (r.ic_type == (8 | 4) && nx != 5) continue;  // evenly spaced knots need even nodes
          const bool uniform = nx == 5;
          const std::vector<double> x = uniform ? std::vector<double>{0, 1} : random_partition(rng, nx);
          std::vector<double> xs(nx), knots;
          for (int64_t j = 0; j < nx; ++j) xs[j] = uniform ? j * 0.25 : x[j];
          std::vector<std::vector<double>> a(2, std::vector<double>(4, 0.0)), ys(2), c;
          for (auto& p : a)
            for (int j = 0; j <= std::min(r.degree, nx == 3 ? 2 : 3); ++j) p[j] = u(rng);
          auto P = [&](int f, double t, int k) { return eval(a[f].data(), 4, t, k); };
          for (int f = 0; f < 2; ++f)
            for (double t : xs) ys[f].push_back(P(f, t, 0));
          Build s{r.kind, bc_type, r.s_type, r.ic_type, {}, {}, storage, uniform};
          // Conditions are read for every function but fit only function 0, which alone is checked
          // unless the conditions come from the data.
          const bool d1l = bc_type == 12 || bc_type == 36, d1r = bc_type == 12 || bc_type == 24;
          s.bc = {P(0, xs[0], d1l ? 1 : 2), P(0, xs[nx - 1], d1r ? 1 : 2)};
          if (bc_type == 128) s.bc = {P(0, (xs[0] + xs[1]) / 2, 0)};
          for (int64_t j = 1; j + 1 < nx && (r.kind == kHermite || r.kind == kDefault); ++j)
            s.ic.push_back(P(0, xs[j], r.kind == kHermite ? 1 : 2));
          for (int64_t j = 0; j <= nx && r.s_type == 1; ++j)  // midway, evenly spaced, or at 0.3 of each step
            knots.push_back(j == 0                 ? xs[0]
                            : j == nx              ? xs[nx - 1]
                            : r.ic_type == 8       ? (xs[j - 1] + xs[j]) / 2
                            : r.ic_type == (8 | 4) ? 0.125 + (j - 1) * 0.25
                                                   : xs[j - 1] + 0.3 * (xs[j] - xs[j - 1]));
          if (r.ic_type == (8 | 4)) s.ic = {knots[1], knots[nx - 1]};
          if (r.ic_type == (8 | 1)) s.ic = knots;
          SCOPED_TRACE(testing::Message() << "kind " << r.kind << " bc " << bc_type << " storage "
                                          << static_cast<int>(storage) << " nx " << nx);
          ASSERT_EQ(build<double>(s, x, nx, ys, &c), 0);
          const bool data_only = bc_type <= 2 && r.kind != kHermite && r.kind != kDefault;
          for (int f = 0; f < (data_only ? 2 : 1); ++f) {
            const int so = static_cast<int>(kOrder[r.kind]);
            std::vector<double> ref;
            for (size_t i = 0; i < c[f].size() / so; ++i)
              for (int k = 0; k < so; ++k)
                ref.push_back(P(f, r.s_type == 1 ? knots[i] : xs[i], k) / std::tgamma(k + 1));
            for (size_t i = 0; i < ref.size(); ++i) ASSERT_NEAR(c[f][i], ref[i], 1e-12 * max_abs(ref)) << i;
          }
        }
}

std::vector<double> random_values(std::mt19937_64& rng, int64_t n, bool periodic) {
  std::uniform_real_distribution<double> u(-1, 1);
  std::vector<double> y(n);
  for (auto& v : y) v = static_cast<float>(u(rng));
  if (periodic) y[n - 1] = y[0];
  return y;
}

// The cubic's derivative k at node j from the left (cell j-1) or the right (cell j).
double at_node(const std::vector<double>& c, const std::vector<double>& xs, int64_t j, bool from_left,
               int k) {
  return from_left ? eval(&c[4 * (j - 1)], 4, xs[j] - xs[j - 1], k) : eval(&c[4 * j], 4, 0.0, k);
}

const int64_t kCubicCodes[] = {1, 2, 12, 36, 24, 48, 64};

// On random data every cubic interpolates, has a continuous first derivative (not the default one,
// whose second derivatives are the caller's), the natural one a continuous second too, across a
// periodic seam included; each meets its end conditions and the caller's interior derivatives; and
// single-precision builds of every kind follow the double ones to 1e-5 of the largest coefficient.
TEST(Spline, CubicsMeetTheirDefiningConditions) {
  std::mt19937_64 rng(11);
  std::vector<std::tuple<Kind, int64_t, int64_t>> cases = {
      {kLinear, 2, 0}, {kQuadratic, 128, 0}, {kQuadratic, 36, 1}};
  for (Kind kind : {kNatural, kBessel, kAkima, kHermite, kDefault})
    for (int64_t code : kCubicCodes) cases.push_back({kind, code, 0});
  for (auto [kind, code, s_type] : cases) {
    const int64_t n = 12;
    const std::vector<double> x = random_partition(rng, n), y = random_values(rng, n, code == 64);
    Build s{kind, code, s_type, s_type ? 8 : 0, {0.75, -1.25}, {}};
    for (int64_t j = 1; j + 1 < n && kind != kQuadratic; ++j)
      s.ic.push_back(std::sin(static_cast<double>(j)));
    std::vector<std::vector<double>> c;
    std::vector<std::vector<float>> cs;
    ASSERT_EQ(build<double>(s, x, n, {y}, &c), 0);
    ASSERT_EQ(build<float>(s, x, n, {y}, &cs), 0);
    const std::vector<double>& k = c[0];
    for (size_t i = 0; i < k.size(); ++i)
      ASSERT_NEAR(cs[0][i], k[i], 1e-5 * max_abs(k)) << kind << " single " << i;
    if (kOrder[kind] != 4) continue;
    auto at = [&](int64_t j, bool from_left, int d) { return at_node(k, x, j, from_left, d); };
    std::vector<std::pair<double, double>> eq;  // (spline, wanted)
    for (int64_t j = 1; j < n; ++j) {
      eq.push_back({at(j, true, 0), y[j]});
      eq.push_back({k[4 * (j - 1)], y[j - 1]});
      if (j + 1 == n) break;
      if (kind != kDefault) eq.push_back({at(j, true, 1), at(j, false, 1)});
      if (kind == kNatural) eq.push_back({at(j, true, 2), at(j, false, 2)});
      if (kind == kHermite) eq.push_back({k[4 * j + 1], s.ic[j - 1]});
      if (kind == kDefault)
        eq.push_back({at(j, true, 2), s.ic[j - 1]}), eq.push_back({at(j, false, 2), s.ic[j - 1]});
    }
    const double l1 = at(0, false, 1), r1 = at(n - 1, true, 1), l2 = at(0, false, 2), r2 = at(n - 1, true, 2);
    const bool d1l = code == 12 || code == 36, d1r = code == 12 || code == 24;
    if (code == 64 && kind != kDefault) eq.push_back({l1, r1});
    if (code == 64 && kind == kNatural) eq.push_back({l2, r2});
    if (code == 64 && kind == kHermite) eq.push_back({l1, s.bc[0]});
    if (code == 64 && kind == kDefault) eq.push_back({l2, s.bc[0]});
    for (int64_t j : {int64_t{1}, n - 2})  // not-a-knot: a continuous third derivative
      if (code == 1 && (kind == kNatural || kind == kDefault))
        eq.push_back({at(j, true, 3), at(j, false, 3)});
    if (code != 1 && code != 64) eq.push_back({d1l ? l1 : l2, code == 2 ? 0.0 : s.bc[0]});
    if (code != 1 && code != 64) eq.push_back({d1r ? r1 : r2, code == 2 ? 0.0 : s.bc[1]});
    for (size_t i = 0; i < eq.size(); ++i)
      EXPECT_NEAR(eq[i].first, eq[i].second, 1e-12 * (1 + max_abs(k)))
          << kind << " bc " << code << " cond " << i;
  }
}

// The natural cubic's derivatives against a dense long-double solve of its conditions written as
// second- and third-derivative equalities, one or two functions, every mode and small sizes.
TEST(Spline, NaturalCubicMatchesADenseSolve) {
  std::mt19937_64 rng(5);
  for (int64_t code : kCubicCodes)
    for (int64_t n : {2, 3, 4, 7, 60})
      for (int ny : {1, 2}) {
        if (code == 1 && n < 4) continue;  // three points with these ends: the parabola, reproduced above
        const std::vector<double> x = random_partition(rng, n);
        Build s{kNatural, code, 0, 0, {0.5, -2.0}, {}};
        std::vector<std::vector<double>> ys, c;
        for (int f = 0; f < ny; ++f) ys.push_back(random_values(rng, n, code == 64));
        ASSERT_EQ(build<double>(s, x, n, ys, &c), 0);
        for (int f = 0; f < ny; ++f) {
          using L = long double;
          std::vector<std::vector<L>> a(n, std::vector<L>(n + 1, 0));
          auto h = [&](int64_t i) { return static_cast<L>(x[i + 1]) - x[i]; };
          auto m = [&](int64_t i) { return (static_cast<L>(ys[f][i + 1]) - ys[f][i]) / h(i); };
          // Adds sign * (derivative k of cell i at its left (end 0) or right end) to row r: the cell's
          // coefficients c1..c3 are d_i, (3m - 2d_i - d_{i+1})/h, (d_i + d_{i+1} - 2m)/h^2.
          auto add = [&](int64_t r, int64_t i, int k, int end, L sign) {
            const L hi = h(i), q = hi * hi, t = end * hi, mi = m(i);  // c0 is never differentiated
            const L cd[4][3] = {
                {0, 0, 0}, {1, 0, 0}, {-2 / hi, -1 / hi, 3 * mi / hi}, {1 / q, 1 / q, -2 * mi / q}};
            for (int j = k; j < 4; ++j) {
              const L w = sign * std::tgamma(j + 1) / std::tgamma(j - k + 1) * std::pow(t, j - k);
              a[r][i] += w * cd[j][0], a[r][i + 1] += w * cd[j][1], a[r][n] -= w * cd[j][2];
            }
          };
          for (int64_t i = 1; i + 1 < n; ++i) add(i, i - 1, 2, 1, 1), add(i, i, 2, 0, -1);
          const bool d1l = code == 12 || code == 36, d1r = code == 12 || code == 24;
          if (code == 64) {  // equal first and second derivatives at both ends
            add(0, 0, 1, 0, 1), add(0, n - 2, 1, 1, -1), add(n - 1, n - 2, 2, 1, 1), add(n - 1, 0, 2, 0, -1);
          } else if (code == 1) {  // third derivatives continuous at x_1 and x_{n-2}
            add(0, 0, 3, 0, 1), add(0, 1, 3, 0, -1), add(n - 1, n - 3, 3, 0, 1), add(n - 1, n - 2, 3, 0, -1);
          } else {
            add(0, 0, d1l ? 1 : 2, 0, 1), add(n - 1, n - 2, d1r ? 1 : 2, 1, 1);
            a[0][n] += code == 2 ? 0 : s.bc[0], a[n - 1][n] += code == 2 ? 0 : s.bc[1];
          }
          for (int64_t col = 0; col < n; ++col) {  // Gauss-Jordan elimination with partial pivoting
            int64_t piv = col;
            for (int64_t r = col + 1; r < n; ++r)
              piv = std::fabs(a[r][col]) > std::fabs(a[piv][col]) ? r : piv;
            std::swap(a[col], a[piv]);
            for (int64_t r = 0; r < n; ++r)
              for (int64_t k = n; k >= col && r != col; --k) a[r][k] -= a[r][col] / a[col][col] * a[col][k];
          }
          std::vector<double> d(n);
          for (int64_t i = 0; i < n; ++i) d[i] = static_cast<double>(a[i][n] / a[i][i]);
          SCOPED_TRACE(testing::Message() << "bc " << code << " n " << n << " f " << f);
          const double tol = 1e-12 * (1 + max_abs(d));
          for (int64_t i = 0; i + 1 < n; ++i) EXPECT_NEAR(c[f][4 * i + 1], d[i], tol) << "node " << i;
          EXPECT_NEAR(at_node(c[f], x, n - 1, true, 1), d[n - 1], tol * 10);
        }
      }
}

// Every status once, in the order the checks run: each row breaks one thing more than the row after
// it needs, so a check that ran out of order would show up as another code. Nothing may be written.
TEST(Spline, StatusesComeInCheckOrder) {
  static double x[8] = {0, 1, 2, 3.5, 4, 5, 6, 7}, bad_x[8] = {0, 1, 2, 2, 4, 5, 6, 7};
  static double nan_x[8] = {0, 1, 2, NAN, 4, 5, 6, 7}, ends[2] = {1, 1};
  const std::tuple<const char*, Kind, int32_t, void (*)(DfTask*), int32_t> rows[] = {
      {"method before task", kLinear, 1, [](DfTask* t) { t->nx = 1; }, -1002},
      {"natural method", kNatural, 3, [](DfTask* t) { t->yhint = 5; }, -1002},
      {"akima nx 4", kAkima, 9, [](DfTask* t) { t->nx = 4, t->yhint = 5; }, -1004},
      {"natural nx 2 not-a-knot", kNatural, 0, [](DfTask* t) { t->nx = 2, t->bc_type = 1; }, -1004},
      {"yhint", kBessel, 0, [](DfTask* t) { t->yhint = 5, t->bc_type = 4; }, -1009},
      {"quadratic type", kQuadratic, 0, [](DfTask* t) { t->s_type = 2, t->ny = 0; }, -1002},
      {"quadratic code", kQuadratic, 0, [](DfTask* t) { t->bc_type = 12, t->bc = nullptr; }, -1014},
      {"quadratic bc", kQuadratic, 0, [](DfTask* t) { t->bc = nullptr, t->ny = 0; }, -1015},
      {"knots code", kQuadratic, 0, [](DfTask* t) { t->s_type = 1, t->ic_type = 4, t->bc_type = 2; }, -1012},
      {"knots bc code", kQuadratic, 0, [](DfTask* t) { t->s_type = 1, t->ic_type = 8, t->bc_type = 2; },
       -1014},
      {"one end only", kNatural, 0, [](DfTask* t) { t->bc_type = 4, t->bc = nullptr; }, -1014},
      {"akima rule elsewhere", kHermite, 0, [](DfTask* t) { t->bc_type = 0, t->ic = nullptr; }, -1014},
      {"bc needed", kDefault, 0, [](DfTask* t) { t->bc = nullptr, t->ny = 0; }, -1015},
      {"periodic bc, type 0", kBessel, 0, [](DfTask* t) { t->bc_type = 64, t->bc = nullptr, t->ny = 0; },
       -1015},
      {"no functions", kAkima, 0, [](DfTask* t) { t->ny = 0, t->scoeff_slots = 0; }, -1007},
      {"no values", kLinear, 0, [](DfTask* t) { t->y_slots = 1, t->scoeff_slots = 0; }, -1008},
      {"no coefficients", kNatural, 0, [](DfTask* t) { t->scoeff_slots = 1, t->s_order = 3; }, -1016},
      {"order", kAkima, 0, [](DfTask* t) { t->s_order = 3, t->ic = nullptr; }, -1011},
      {"hermite ic", kHermite, 0, [](DfTask* t) { t->ic = nullptr, t->x = bad_x; }, -1013},
      {"default periodic bc", kDefault, 0, [](DfTask* t) { t->bc_type = 64, t->s_type = 1, t->bc = nullptr; },
       -1015},
      {"repeated node", kNatural, 0, [](DfTask* t) { t->x = bad_x, t->bc_type = 64; }, -1005},
      {"nan node", kLinear, 0, [](DfTask* t) { t->x = nan_x; }, -1005},
      {"uniform, ends equal", kAkima, 0, [](DfTask* t) { t->x = ends, t->xhint = 4; }, -1005},
      {"order past int", kNatural, 0,
       [](DfTask* t) { t->nx = int64_t{1} << 31, t->xhint = 4, t->bc_type = 64; }, -1500},
      {"periodic values", kNatural, 0, [](DfTask* t) { t->bc_type = 64; }, -1018},
      {"knots", kQuadratic, 0, [](DfTask* t) { t->s_type = 1, t->ic_type = 8 | 4, t->bc_type = 12; }, -1013},
  };
  for (auto [what, kind, method, edit, expected] : rows) {
    Task task;
    std::vector<double> y(16, 0.0), c(64, -5.0), bc = {1, 2}, ic = {1, 2, 3, 4, 5, 6};
    y[7] = 1;  // function 0 is not periodic
    ASSERT_EQ(make(&task, 8, x, 2, y.data(), 16, Build{kind, kind == kQuadratic ? 128 : 12, 0, 0, {}, {}},
                   bc.data(), ic.data(), c.data()),
              0);
    edit(task);
    EXPECT_EQ(kDouble[kind](method == 1 ? nullptr : task.t, nullptr, method, nullptr), expected) << what;
    EXPECT_EQ(c, std::vector<double>(64, -5.0)) << what;
    task.t->nx = 8, task.t->ny = 2;  // for the deletion
  }
}

// Just above each threshold at which work is split, 4 threads give the bits of 1 and did split. Every
// allocation of a construction may fail: the status is -1001, nothing leaks, and once the failures
// are past the build succeeds.
TEST(Spline, ThreadsChangeNoBitAndAllocationsMayFail) {
  const std::tuple<Kind, int64_t, int64_t, int, int64_t> rows[] = {
      {kLinear, 2, 33, 20, 0},    {kAkima, 1, 2050, 5, 0},    {kBessel, 64, 2050, 5, 0},
      {kHermite, 12, 2050, 5, 0}, {kNatural, 2, 600, 3, 0},   {kNatural, 64, 600, 3, 0},
      {kNatural, 2, 700, 1, 0},   {kQuadratic, 12, 700, 2, 1}};
  std::mt19937_64 rng(3);
  for (auto [kind, code, nx, ny, s_type] : rows) {
    const std::vector<double> x = random_partition(rng, nx);
    std::vector<std::vector<double>> ys, one, four;
    for (int f = 0; f < ny; ++f) ys.push_back(random_values(rng, nx, code == 64));
    Build s{kind, code, s_type, s_type ? 8 : 0, {0.5, 1.5}, std::vector<double>(nx - 2, 0.25)};
    if (kind == kQuadratic) s.ic.clear();
    ASSERT_EQ(build<double>(s, x, nx, ys, &one), 0);
    s.threading = FixedThreads::with(4);
    ASSERT_EQ(build<double>(s, x, nx, ys, &four), 0);
    EXPECT_EQ(FixedThreads::parallel_calls > 0, ny > 1 && kind != kQuadratic) << kind;
    EXPECT_EQ(one, four) << kind;
    int32_t st = -1001;
    for (s.fail_at = 1; st == -1001 && (kind == kNatural || kind == kQuadratic); ++s.fail_at) {
      const long before = zok::test::outstanding_blocks();
      st = build<double>(s, x, nx, ys, &four);
      EXPECT_TRUE(st == 0 || (st == -1001 && four != one)) << st;
      EXPECT_EQ(zok::test::outstanding_blocks(), before);
    }
    EXPECT_TRUE(s.fail_at == 1 || s.fail_at > 2) << "no allocation failed";
  }
}

// Akima: both weights zero (slopes 1, 1 | 3, 3 around node 3) and data so small that every weight
// sum is below the absolute cutoff fall back to the mean of the neighbouring slopes; code 0 ends.
TEST(Spline, AkimaFallbackAndEndRule) {
  const std::vector<double> x = {0, 1, 2, 3, 4, 5, 6};
  std::vector<std::vector<double>> c;
  ASSERT_EQ(build<double>(Build{kAkima, 0, 0, 0, {}, {}}, x, 7, {{0, 1, 2, 3, 6, 9, 12}}, &c), 0);
  EXPECT_EQ(c[0][4 * 3 + 1], 2.0);
  EXPECT_EQ(c[0][1], 1.0);  // (3*1 - 1)/2
  std::mt19937_64 rng(4);
  std::vector<double> y = random_values(rng, 7, false);
  for (double& v : y) v *= 1e-12;
  ASSERT_EQ(build<double>(Build{kAkima, 0, 0, 0, {}, {}}, x, 7, {y}, &c), 0);
  for (int i = 1; i < 6; ++i) EXPECT_NEAR(c[0][4 * i + 1], (y[i + 1] - y[i - 1]) / 2, 1e-27) << i;
  EXPECT_NEAR(c[0][1], (3 * (y[1] - y[0]) - (y[2] - y[1])) / 2, 1e-27);
}

}  // namespace

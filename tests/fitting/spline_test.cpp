// Spline construction: polynomials reproduced, defining conditions on random data, the natural cubic
// against a dense long-double solve, statuses in check order, threads, allocation failures and
// single against double precision.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <tuple>
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
const Entry kDouble[] = {zok_df_kernel_dDFLinearSpline1D,       zok_df_kernel_dDFQuadraticSpline1D,
                         zok_df_kernel_dDFNaturalCubicSpline1D, zok_df_kernel_dDFBesselCubicSpline1D,
                         zok_df_kernel_dDFAkimaCubicSpline1D,   zok_df_kernel_dDFHermiteCubicSpline1D,
                         zok_df_kernel_dDFDefaultCubicSpline1D};
const Entry kSingle[] = {zok_df_kernel_sDFLinearSpline1D,       zok_df_kernel_sDFQuadraticSpline1D,
                         zok_df_kernel_sDFNaturalCubicSpline1D, zok_df_kernel_sDFBesselCubicSpline1D,
                         zok_df_kernel_sDFAkimaCubicSpline1D,   zok_df_kernel_sDFHermiteCubicSpline1D,
                         zok_df_kernel_sDFDefaultCubicSpline1D};

struct Build {
  Kind kind;
  int64_t bc_type = 2, s_type = 0, ic_type = 0;
  std::vector<double> bc, ic;
  Storage storage = Storage::kRows;
  bool uniform = false;
  const ThreadingServices* threading = nullptr;
  long fail_at = 0;  // the allocation of the entry that fails, 0 for none
};

int64_t order(Kind k) {
  return k == kLinear ? 2 : k == kQuadratic ? 3 : 4;
}

// Builds the spline of functions ys on partition x (the two ends when uniform) and returns the
// status; coefficients of function f in c[f], which starts filled with a marker.
template <class T>
int32_t build(const Build& s, const std::vector<double>& x, int64_t nx,
              const std::vector<std::vector<double>>& ys, std::vector<std::vector<T>>* c) {
  const int64_t ny = static_cast<int64_t>(ys.size());
  const std::vector<T> xt(x.begin(), x.end()), bc(s.bc.begin(), s.bc.end()), ic(s.ic.begin(), s.ic.end());
  std::vector<T> y(nx * ny);
  for (int64_t f = 0; f < ny; ++f)
    for (int64_t j = 0; j < nx; ++j)
      y[s.storage == Storage::kColumns ? j * ny + f : f * nx + j] = static_cast<T>(ys[f][j]);
  const int64_t yhint = s.storage == Storage::kColumns ? 32 : s.storage == Storage::kFirstOnly ? 128 : 16;
  const int64_t cells = s.kind == kQuadratic && s.s_type == 1 ? nx : nx - 1;
  std::vector<T> all(cells * order(s.kind) * ny, T(-777));
  Task task;
  const int64_t xhint = s.uniform ? ZOK_DF_PARTITION_UNIFORM : 0;
  int32_t st;
  if constexpr (sizeof(T) == 8) {
    st = zok_df_kernel_dNewTask1D(&task, nx, xt.data(), xhint, ny, y.data(), yhint, 0);
    if (st == 0)
      st = zok_df_kernel_dEditPPSpline1D(task, order(s.kind), s.s_type, s.bc_type,
                                         bc.empty() ? nullptr : bc.data(), ic.empty() ? 0 : 1,
                                         ic.empty() ? nullptr : ic.data(), all.data(), 0);
  } else {
    st = zok_df_kernel_sNewTask1D(&task, nx, xt.data(), xhint, ny, y.data(), yhint, 0);
    if (st == 0)
      st = zok_df_kernel_sEditPPSpline1D(task, order(s.kind), s.s_type, s.bc_type,
                                         bc.empty() ? nullptr : bc.data(), ic.empty() ? 0 : 1,
                                         ic.empty() ? nullptr : ic.data(), all.data(), 0);
  }
  // A code without values (the quadratic's default knots) can only be set on its own.
  const int64_t ic_type = s.ic_type != 0 ? s.ic_type : s.ic.empty() ? 0 : 1;
  if (st == 0) st = zok_df_kernel_iEditVal(task, ZOK_DF_ATTR_IC_TYPE, ic_type);
  EXPECT_EQ(st, 0);
  for (int64_t f = 1; s.storage == Storage::kFirstOnly && f < ny; ++f)
    zok_df_kernel_dEditIdxPtr(task, ZOK_DF_ATTR_Y, f, y.data() + f * nx);
  if (s.fail_at > 0) zok::test::fail_allocation(s.fail_at);
  st = (sizeof(T) == 8 ? kDouble : kSingle)[s.kind](task, nullptr, 0, s.threading);
  zok::test::allow_allocations();
  c->assign(ny, {});
  for (int64_t f = 0; f < ny; ++f)
    (*c)[f].assign(all.begin() + f * cells * order(s.kind), all.begin() + (f + 1) * cells * order(s.kind));
  return st;
}

// Derivative k of the cell polynomial c (order s) at distance t from its left end.
double eval(const double* c, int s, double t, int k = 0) {
  double v = 0;
  for (int j = s - 1; j >= k; --j) {
    double f = 1;
    for (int q = 0; q < k; ++q) f *= j - q;
    v = v * t + c[j] * f;
  }
  return v;
}

std::vector<double> random_partition(std::mt19937_64& rng, int64_t n) {
  std::uniform_real_distribution<double> u(0.4, 1.6);
  std::vector<double> x(n, -1.0);
  for (int64_t j = 1; j < n; ++j) x[j] = x[j - 1] + u(rng);
  return x;
}
std::vector<double> nodes(const std::vector<double>& x, int64_t n, bool uniform) {
  if (!uniform) return x;
  std::vector<double> v(n);
  for (int64_t j = 0; j < n; ++j) v[j] = x[0] + static_cast<double>(j) * ((x[1] - x[0]) / (n - 1));
  return v;
}
double max_abs(const std::vector<double>& v) {
  double m = 0;
  for (double e : v) m = std::max(m, std::fabs(e));
  return m;
}

// Polynomials of their degree come back as their Taylor coefficients at every cell's left end, for
// every storage and for a random and a uniform ({0, 1}, nx = 5, step 0.25) partition.
TEST(Spline, ReproducesPolynomialsOfItsDegree) {
  struct Row {
    Kind kind;
    int degree;
    std::vector<int64_t> bc_types;
    int64_t s_type = 0, ic_type = 0;
  };
  const Row rows[] = {{kLinear, 1, {2}},
                      {kAkima, 1, {0, 1, 2, 12, 36, 24, 48}},
                      {kBessel, 2, {1, 12, 36, 24, 48}},
                      {kNatural, 3, {1, 12, 36, 24, 48}},
                      {kNatural, 1, {2}},
                      {kHermite, 3, {1, 12, 36, 24, 48}},
                      {kDefault, 3, {1, 12, 36, 24, 48}},
                      {kDefault, 1, {2}},
                      {kQuadratic, 2, {128}},
                      {kQuadratic, 2, {12, 36, 24, 48}, 1, 8},
                      {kQuadratic, 2, {12, 48}, 1, 8 | 4},
                      {kQuadratic, 2, {24}, 1, 8 | 1}};
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(-2, 2);
  for (const Row& r : rows)
    for (int64_t bc_type : r.bc_types)
      for (Storage storage : {Storage::kRows, Storage::kColumns, Storage::kFirstOnly})
        for (bool uniform : {false, true})
          for (int64_t nx : {int64_t{3}, int64_t{9}}) {
            if (nx == 3 && (uniform || r.kind != kNatural || bc_type != 1)) continue;
            if (r.ic_type == (8 | 4) && !uniform) continue;  // evenly spaced knots need even nodes
            const std::vector<double> x = uniform ? std::vector<double>{0, 1} : random_partition(rng, nx);
            const std::vector<double> xs = nodes(x, nx, uniform);
            std::vector<std::vector<double>> a(2, std::vector<double>(4, 0.0)), ys(2);
            for (auto& p : a)
              for (int j = 0; j <= (nx == 3 ? 2 : r.degree); ++j) p[j] = u(rng);
            auto P = [&](int f, double t, int k) { return eval(a[f].data(), 4, t, k); };
            for (int f = 0; f < 2; ++f)
              for (double t : xs) ys[f].push_back(P(f, t, 0));
            Build s{r.kind, bc_type, r.s_type, r.ic_type, {}, {}};
            s.storage = storage;
            s.uniform = uniform;
            const bool d1l = bc_type == 12 || bc_type == 36, d1r = bc_type == 12 || bc_type == 24;
            const double lo = xs.front(), hi = xs.back();
            // The spline of each function reads one set of conditions: only function 0 gets them,
            // so function 1 is checked only where the conditions come from the data alone.
            s.bc = {P(0, lo, d1l ? 1 : 2), P(0, hi, d1r ? 1 : 2)};
            if (r.kind == kQuadratic && r.s_type == 0) s.bc = {P(0, (xs[0] + xs[1]) / 2, 0)};
            if (r.kind == kHermite || r.kind == kDefault)
              for (int64_t j = 1; j + 1 < nx; ++j) s.ic.push_back(P(0, xs[j], r.kind == kHermite ? 1 : 2));
            std::vector<double> knots;
            if (r.ic_type == (8 | 4)) s.ic = {(xs[0] + xs[1]) / 2, (xs[nx - 2] + xs[nx - 1]) / 2};
            if (r.ic_type == (8 | 1)) {
              knots = {xs[0]};
              for (int64_t j = 1; j < nx; ++j) knots.push_back(xs[j - 1] + 0.3 * (xs[j] - xs[j - 1]));
              knots.push_back(xs[nx - 1]);
              s.ic = knots;
            }
            std::vector<std::vector<double>> c;
            SCOPED_TRACE(testing::Message()
                         << "kind " << r.kind << " bc " << bc_type << " storage " << static_cast<int>(storage)
                         << " uniform " << uniform << " nx " << nx);
            ASSERT_EQ(build<double>(s, x, nx, ys, &c), 0);
            const bool shared = bc_type == 0 || bc_type == 1 || bc_type == 2;
            for (int f = 0; f < (shared && r.kind != kHermite && r.kind != kDefault && r.s_type == 0 ? 2 : 1);
                 ++f) {
              const int s_ord = static_cast<int>(order(r.kind));
              const int64_t cells = static_cast<int64_t>(c[f].size()) / s_ord;
              std::vector<double> ref;
              for (int64_t i = 0; i < cells; ++i) {
                // Cell i starts at node i, or at knot i for the quadratic with knots between nodes.
                double t0 = xs[i];
                if (r.s_type == 1)
                  t0 = r.ic_type == (8 | 1) ? knots[i]
                       : r.ic_type == (8 | 4)
                           ? (i == 0 ? xs[0] : s.ic[0] + (i - 1) * ((s.ic[1] - s.ic[0]) / (nx - 2)))
                           : (i == 0 ? xs[0] : (xs[i - 1] + xs[i]) / 2);
                for (int k = 0; k < s_ord; ++k) ref.push_back(P(f, t0, k) / std::tgamma(k + 1));
              }
              const double tol = 1e-12 * max_abs(ref);
              for (size_t i = 0; i < ref.size(); ++i)
                ASSERT_NEAR(c[f][i], ref[i], tol) << "coefficient " << i;
            }
          }
}

std::vector<double> random_values(std::mt19937_64& rng, int64_t n, bool periodic) {
  std::uniform_real_distribution<double> u(-1, 1);
  std::vector<double> y(n);
  for (auto& v : y) v = u(rng);
  if (periodic) y[n - 1] = y[0];
  return y;
}

// The cubic's derivative k at node j from the left (cell j-1) or the right (cell j).
double at_node(const std::vector<double>& c, const std::vector<double>& xs, int64_t j, bool from_left,
               int k) {
  return from_left ? eval(&c[4 * (j - 1)], 4, xs[j] - xs[j - 1], k) : eval(&c[4 * j], 4, 0.0, k);
}

const int64_t kCubicCodes[] = {1, 2, 12, 36, 24, 48, 64};

// On random data every cubic interpolates, has a continuous first derivative (but the default one) (the
// natural one a continuous second too, across a periodic seam included), meets its end conditions and, for
// the Hermite and default kinds, the caller's interior derivatives.
TEST(Spline, CubicsMeetTheirDefiningConditions) {
  std::mt19937_64 rng(11);
  for (Kind kind : {kNatural, kBessel, kAkima, kHermite, kDefault})
    for (int64_t code : kCubicCodes) {
      const int64_t n = 12;
      const std::vector<double> x = random_partition(rng, n);
      Build s{kind, code, 0, 0, {0.75, -1.25}, {}};
      for (int64_t j = 1; j + 1 < n; ++j) s.ic.push_back(std::sin(static_cast<double>(j)));
      std::vector<std::vector<double>> c;
      const std::vector<double> y = random_values(rng, n, code == 64);
      ASSERT_EQ(build<double>(s, x, n, {y}, &c), 0);
      const std::vector<double>& k = c[0];
      SCOPED_TRACE(testing::Message() << "kind " << kind << " bc " << code);
      const double tol = 1e-12 * (1 + max_abs(k));
      for (int64_t j = 1; j < n; ++j) {
        EXPECT_NEAR(at_node(k, x, j, true, 0), y[j], tol);
        EXPECT_EQ(k[4 * (j - 1)], y[j - 1]);
        if (j + 1 == n) break;
        // The default cubic's second derivatives are the caller's, so its first ones may jump.
        if (kind != kDefault) {
          EXPECT_NEAR(at_node(k, x, j, true, 1), at_node(k, x, j, false, 1), tol);
        }
        if (kind == kNatural) {
          EXPECT_NEAR(at_node(k, x, j, true, 2), at_node(k, x, j, false, 2), tol);
        }
        if (kind == kHermite) {
          EXPECT_NEAR(k[4 * j + 1], s.ic[j - 1], tol);
        }
        if (kind == kDefault) {
          EXPECT_NEAR(at_node(k, x, j, true, 2), s.ic[j - 1], tol);
          EXPECT_NEAR(at_node(k, x, j, false, 2), s.ic[j - 1], tol);
        }
      }
      const double left1 = at_node(k, x, 0, false, 1), right1 = at_node(k, x, n - 1, true, 1);
      const double left2 = at_node(k, x, 0, false, 2), right2 = at_node(k, x, n - 1, true, 2);
      const bool d1l = code == 12 || code == 36, d1r = code == 12 || code == 24;
      if (code == 64) {
        if (kind != kDefault) {
          EXPECT_NEAR(left1, right1, tol);
        }
        if (kind == kNatural) {
          EXPECT_NEAR(left2, right2, tol);
        }
        if (kind == kHermite) {
          EXPECT_NEAR(left1, s.bc[0], tol);
        }
        if (kind == kDefault) {
          EXPECT_NEAR(left2, s.bc[0], tol);
        }
      } else if (code == 1) {
        if (kind == kNatural || kind == kDefault) {  // a continuous third derivative at x_1 and x_{n-2}
          for (int64_t j : {int64_t{1}, n - 2})
            EXPECT_NEAR(at_node(k, x, j, true, 3), at_node(k, x, j, false, 3), tol);
        }
      } else {
        EXPECT_NEAR(d1l ? left1 : left2, code == 2 ? 0.0 : s.bc[0], tol);
        EXPECT_NEAR(d1r ? right1 : right2, code == 2 ? 0.0 : s.bc[1], tol);
      }
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
          // Second derivative of cell i at its left (end 0) or right (end 1) end, into row r with sign.
          auto second = [&](int64_t r, int64_t i, int end, L sign) {
            const L w = sign / h(i);
            a[r][i] += w * (end ? 2 : -4);
            a[r][i + 1] += w * (end ? 4 : -2);
            a[r][n] -= w * (end ? -6 : 6) * m(i);
          };
          auto third = [&](int64_t r, int64_t i, L sign) {
            const L w = sign / (h(i) * h(i));
            a[r][i] += 6 * w;
            a[r][i + 1] += 6 * w;
            a[r][n] += 12 * w * m(i);
          };
          for (int64_t i = 1; i + 1 < n; ++i) second(i, i - 1, 1, 1), second(i, i, 0, -1);
          const bool d1l = code == 12 || code == 36, d1r = code == 12 || code == 24;
          if (code == 64) {
            a[0][0] = 1, a[0][n - 1] = -1;
            second(n - 1, n - 2, 1, 1), second(n - 1, 0, 0, -1);
          } else if (code == 1) {
            third(0, 0, 1), third(0, 1, -1), third(n - 1, n - 3, 1), third(n - 1, n - 2, -1);
          } else {
            if (d1l)
              a[0][0] = 1, a[0][n] = s.bc[0];
            else
              second(0, 0, 0, 1), a[0][n] += code == 2 ? 0 : s.bc[0];
            if (d1r)
              a[n - 1][n - 1] = 1, a[n - 1][n] = s.bc[1];
            else
              second(n - 1, n - 2, 1, 1), a[n - 1][n] += code == 2 ? 0 : s.bc[1];
          }
          for (int64_t col = 0; col < n; ++col) {  // Gaussian elimination with partial pivoting
            int64_t piv = col;
            for (int64_t r = col + 1; r < n; ++r)
              if (std::fabs(a[r][col]) > std::fabs(a[piv][col])) piv = r;
            std::swap(a[col], a[piv]);
            for (int64_t r = 0; r < n; ++r) {
              if (r == col) continue;
              const L q = a[r][col] / a[col][col];
              for (int64_t k = col; k <= n; ++k) a[r][k] -= q * a[col][k];
            }
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
  struct Row {
    const char* what;
    Kind kind;
    int32_t method;
    void (*edit)(DfTask*);
    int32_t expected;
  };
  static double x[8] = {0, 1, 2, 3.5, 4, 5, 6, 7}, bad_x[8] = {0, 1, 2, 2, 4, 5, 6, 7};
  static double nan_x[8] = {0, 1, 2, NAN, 4, 5, 6, 7}, ends[2] = {1, 1};
  const Row rows[] = {
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
  for (const Row& r : rows) {
    Task task;
    std::vector<double> y(16, 0.0), c(64, -5.0), bc = {1, 2}, ic = {1, 2, 3, 4, 5, 6};
    y[7] = 1;  // function 0 is not periodic
    ASSERT_EQ(zok_df_kernel_dNewTask1D(&task, 8, x, 0, 2, y.data(), 16, 0), 0);
    ASSERT_EQ(zok_df_kernel_dEditPPSpline1D(task, order(r.kind), 0, r.kind == kQuadratic ? 128 : 12,
                                            bc.data(), 1, ic.data(), c.data(), 0),
              0);
    r.edit(task);
    const int32_t st = kDouble[r.kind](r.method == 1 ? nullptr : task.t, nullptr, r.method, nullptr);
    EXPECT_EQ(st, r.expected) << r.what;
    EXPECT_EQ(c, std::vector<double>(64, -5.0)) << r.what;
    task.t->nx = 8, task.t->ny = 2;  // for the deletion
  }
}

// Just above each threshold at which work is split, 4 threads give the bits of 1 and did split.
TEST(Spline, ThreadsChangeNoBit) {
  struct Row {
    Kind kind;
    int64_t code, nx;
    int ny;
  };
  const Row rows[] = {{kLinear, 2, 33, 20},    {kAkima, 1, 2050, 5},  {kBessel, 64, 2050, 5},
                      {kHermite, 12, 2050, 5}, {kNatural, 2, 600, 3}, {kNatural, 64, 600, 3}};
  std::mt19937_64 rng(3);
  for (const Row& r : rows) {
    const std::vector<double> x = random_partition(rng, r.nx);
    std::vector<std::vector<double>> ys, one, four;
    for (int f = 0; f < r.ny; ++f) ys.push_back(random_values(rng, r.nx, r.code == 64));
    Build s{r.kind, r.code, 0, 0, {0.5, 1.5}, std::vector<double>(r.nx - 2, 0.25)};
    ASSERT_EQ(build<double>(s, x, r.nx, ys, &one), 0);
    s.threading = FixedThreads::with(4);
    ASSERT_EQ(build<double>(s, x, r.nx, ys, &four), 0);
    EXPECT_GT(FixedThreads::parallel_calls, 0) << r.kind;
    EXPECT_EQ(one, four) << r.kind;
  }
}

// Every allocation of a construction may fail: the status is -1001, nothing leaks, and once the
// failures pass the build succeeds.
TEST(Spline, AllocationFailuresAreReported) {
  std::mt19937_64 rng(9);
  const std::vector<double> x = random_partition(rng, 700);
  const std::vector<std::vector<double>> ys = {random_values(rng, 700, true), random_values(rng, 700, true)};
  for (auto [kind, code, s_type] : {std::tuple{kNatural, 64, 0}, {kNatural, 2, 0}, {kQuadratic, 12, 1}}) {
    for (const ThreadingServices* threading :
         {static_cast<const ThreadingServices*>(nullptr), FixedThreads::with(2)}) {
      Build s{kind, code, s_type, s_type == 1 ? 8 : 0, {0.5, 1.5}, {}};
      s.threading = threading;
      std::vector<std::vector<double>> c;
      int32_t st = -1001;
      for (s.fail_at = 1; st == -1001 && s.fail_at < 10; ++s.fail_at) {
        const long before = zok::test::outstanding_blocks();
        st = build<double>(s, x, 700, ys, &c);
        EXPECT_TRUE(st == 0 || st == -1001) << st;
        EXPECT_EQ(zok::test::outstanding_blocks(), before);
      }
      EXPECT_EQ(st, 0);
      EXPECT_GT(s.fail_at, 2);  // at least one failure was met
    }
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

// Single precision follows the double build to 1e-5 of the largest coefficient.
TEST(Spline, SingleFollowsDouble) {
  std::mt19937_64 rng(21);
  for (Kind kind : {kLinear, kQuadratic, kNatural, kBessel, kAkima, kHermite, kDefault})
    for (int64_t s_type : {0, 1}) {
      if (s_type == 1 && kind != kQuadratic) continue;
      const int64_t n = 40;
      std::vector<double> x = random_partition(rng, n), y = random_values(rng, n, true);
      Build s{kind,        kind == kQuadratic ? (s_type ? 36 : 128) : 64,           s_type, s_type ? 8 : 0,
              {0.25, 0.5}, std::vector<double>(kind == kQuadratic ? 0 : n - 2, 0.5)};
      for (double& v : x) v = static_cast<float>(v);  // both builds see the same data
      for (double& v : y) v = static_cast<float>(v);
      std::vector<std::vector<double>> d;
      std::vector<std::vector<float>> f;
      ASSERT_EQ(build<double>(s, x, n, {y}, &d), 0);
      ASSERT_EQ(build<float>(s, x, n, {y}, &f), 0);
      const double tol = 1e-5 * max_abs(d[0]);
      for (size_t i = 0; i < d[0].size(); ++i) ASSERT_NEAR(f[0][i], d[0][i], tol) << kind << " " << i;
    }
}

}  // namespace

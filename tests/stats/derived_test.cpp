// Derived covariance estimates against long-double second implementations: Cholesky solves for the
// inverse, partial covariance and distances, a Jacobi decomposition for the rank test and repair, and
// group sums by definition; statuses with sentinel outputs and allocation failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "core/thread_limit.h"
#include "stats/task.h"
#include "tests/support/alloc_hook.h"
#include "zok/summary_stats.h"

namespace {

using LD = long double;
using Mat = std::vector<LD>;  // row-major p x p
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kSentinel = -777.0;

// Lower Cholesky factor, then solves A x = b.
Mat cholesky(const Mat& a, int p) {
  Mat l(p * p, 0);
  for (int j = 0; j < p; ++j)
    for (int i = j; i < p; ++i) {
      LD s = a[i * p + j];
      for (int k = 0; k < j; ++k) s -= l[i * p + k] * l[j * p + k];
      l[i * p + j] = i == j ? std::sqrt(s) : s / l[j * p + j];
    }
  return l;
}
std::vector<LD> solve(const Mat& l, int p, std::vector<LD> b) {
  for (int i = 0; i < p; ++i) {
    for (int k = 0; k < i; ++k) b[i] -= l[i * p + k] * b[k];
    b[i] /= l[i * p + i];
  }
  for (int i = p - 1; i >= 0; --i) {
    for (int k = i + 1; k < p; ++k) b[i] -= l[k * p + i] * b[k];
    b[i] /= l[i * p + i];
  }
  return b;
}
Mat inverse(const Mat& a, int p) {
  const Mat l = cholesky(a, p);
  Mat r(p * p);
  for (int j = 0; j < p; ++j) {
    std::vector<LD> e(p, 0);
    e[j] = 1;
    e = solve(l, p, e);
    for (int i = 0; i < p; ++i) r[i * p + j] = e[i];
  }
  return r;
}
// Cyclic Jacobi: eigenvalues ascending, eigenvector j in column j of v.
void jacobi(Mat a, int p, std::vector<LD>& lambda, Mat& v) {
  v.assign(p * p, 0);
  for (int i = 0; i < p; ++i) v[i * p + i] = 1;
  for (int sweep = 0; sweep < 60; ++sweep)
    for (int r = 0; r < p; ++r)
      for (int c = r + 1; c < p; ++c) {
        if (std::fabs(a[r * p + c]) < 1e-40L) continue;
        const LD th = (a[c * p + c] - a[r * p + r]) / (2 * a[r * p + c]);
        const LD t = (th >= 0 ? 1 : -1) / (std::fabs(th) + std::sqrt(th * th + 1));
        const LD cs = 1 / std::sqrt(t * t + 1), sn = t * cs;
        for (int k = 0; k < p; ++k) {
          const LD x = a[k * p + r], y = a[k * p + c];
          a[k * p + r] = cs * x - sn * y;
          a[k * p + c] = sn * x + cs * y;
        }
        for (int k = 0; k < p; ++k) {
          const LD x = a[r * p + k], y = a[c * p + k];
          a[r * p + k] = cs * x - sn * y;
          a[c * p + k] = sn * x + cs * y;
          const LD vx = v[k * p + r], vy = v[k * p + c];
          v[k * p + r] = cs * vx - sn * vy;
          v[k * p + c] = sn * vx + cs * vy;
        }
      }
  std::vector<int> order(p);
  for (int i = 0; i < p; ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](int x, int y) { return a[x * p + x] < a[y * p + y]; });
  Mat vs(p * p);
  lambda.resize(p);
  for (int j = 0; j < p; ++j) {
    lambda[j] = a[order[j] * p + order[j]];
    for (int i = 0; i < p; ++i) vs[i * p + j] = v[i * p + order[j]];
  }
  v = vs;
}
// A^T A / m + ridge for an m x p normal A; rank min(m, p) without the ridge.
Mat gram(int p, int m, uint64_t seed, LD ridge) {
  std::mt19937_64 gen(seed);
  std::normal_distribution<double> nd;
  std::vector<double> a(m * p);
  for (auto& x : a) x = nd(gen);
  Mat g(p * p, 0);
  for (int i = 0; i < p; ++i)
    for (int j = 0; j < p; ++j) {
      for (int k = 0; k < m; ++k) g[i * p + j] += static_cast<LD>(a[k * p + i]) * a[k * p + j];
      g[i * p + j] = g[i * p + j] / m + (i == j ? ridge : 0);
    }
  return g;
}
std::vector<double> to_double(const Mat& a) { return std::vector<double>(a.begin(), a.end()); }
// Element (i, j) of a matrix in storage code f (0 full, 1 packed rows of the lower, 2 of the upper).
int64_t index(int64_t i, int64_t j, int64_t p, int f) {
  if (f == 0) return i * p + j;
  if ((f == 1) == (i < j)) std::swap(i, j);
  return f == 1 ? i * (i + 1) / 2 + j : i * p - i * (i - 1) / 2 + (j - i);
}
std::vector<double> store(const Mat& a, int64_t p, int f) {
  std::vector<double> s(f == 0 ? p * p : p * (p + 1) / 2);
  for (int64_t i = 0; i < p; ++i)
    for (int64_t j = 0; j < p; ++j) s[index(i, j, p, f)] = static_cast<double>(a[i * p + j]);
  return s;
}
LD max_abs(const Mat& a) {
  LD m = 0;
  for (LD x : a) m = std::max(m, std::fabs(x));
  return m;
}

TEST(RankTest, SingleValueRules) {
  const double tiny = 4.94e-321;
  struct Case {
    double in, out;
    int32_t status;
  } cases[] = {{2.5, 2.5, 0},    {-2.5e-322, tiny, 0}, {0.0, tiny, 0},       {-tiny, tiny, 0},
               {-1e-320, -1e-320, -4033}, {-1, -1, -4033}, {kNaN, kNaN, -4033}};
  for (const Case& c : cases) {
    double v = c.in;
    EXPECT_EQ(__qordTestCovRank(1, &v), c.status) << c.in;
    EXPECT_TRUE(v == c.out || (std::isnan(v) && std::isnan(c.out))) << c.in;
  }
  float f = -1e-43f, g = -1e-40f;
  EXPECT_EQ(__qorsTestCovRank(1, &f), 0);
  EXPECT_EQ(f, 1.401e-42f);
  EXPECT_EQ(__qorsTestCovRank(1, &g), -4033);
}

// Zero eigenvalues of a Gram matrix of deficient rank: the shift is 1% of the smallest positive
// eigenvalue of a Jacobi decomposition; without a positive one, or indefinite, the test fails.
TEST(RankTest, ShiftOfSingularMatrices) {
  const int p = 6;
  for (int rank : {6, 5, 4, 0}) {
    Mat g = rank == 0 ? Mat(p * p, 0) : gram(p, rank, 7 + rank, rank == 6 ? 0.1L : 0);
    std::vector<LD> lambda;
    Mat v;
    jacobi(g, p, lambda, v);
    std::vector<double> c = to_double(g);
    const int32_t status = __qordTestCovRank(p, c.data());
    if (rank == 0) {
      EXPECT_EQ(status, -4033);
      continue;
    }
    ASSERT_EQ(status, 0) << rank;
    const LD shift = rank == p ? 0 : 0.01L * lambda[p - rank];
    for (int i = 0; i < p; ++i)
      for (int j = 0; j < p; ++j)
        if (i == j)
          EXPECT_NEAR(c[i * p + j] - static_cast<double>(g[i * p + j]), shift, 1e-6 * shift + 1e-15) << rank;
        else
          EXPECT_EQ(c[i * p + j], static_cast<double>(g[i * p + j]));
  }
  std::vector<double> indefinite = {1, 2, 2, 1};
  EXPECT_EQ(__qordTestCovRank(2, indefinite.data()), -4033);
}

TEST(InvCov, AgainstCholeskyInverseAndTriangleUntouched) {
  for (int p : {1, 2, 3, 4, 9}) {
    const Mat g = gram(p, p + 3, 11 + p, 0.3L);
    const Mat r = inverse(g, p);
    std::vector<double> c = to_double(g);
    for (int i = 0; i < p; ++i)
      for (int j = i + 1; j < p; ++j) c[i * p + j] = kSentinel;
    ASSERT_EQ(__qordInvCov(p, c.data()), 0) << p;
    for (int i = 0; i < p; ++i)
      for (int j = 0; j < p; ++j)
        if (j <= i)
          EXPECT_NEAR(c[i * p + j], static_cast<double>(r[i * p + j]), 1e-12 * max_abs(r)) << p;
        else
          EXPECT_EQ(c[i * p + j], kSentinel);
  }
  // Indefinite inputs of each closed form and of the factorisation, and an inverse that overflows.
  const std::vector<std::vector<double>> bad = {
      {-1}, {1, 9, 2, 1}, {1, 0, 0, 2, 1, 0, 1, 1, 1}, {-1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
  for (const auto& m : bad) {
    std::vector<double> c = m;
    const int p = static_cast<int>(std::lround(std::sqrt(m.size())));
    EXPECT_EQ(__qordInvCov(p, c.data()), -5041) << p;
    EXPECT_EQ(c, m);
  }
  double tiny = 4.94e-321;
  EXPECT_EQ(__qordInvCov(1, &tiny), -5042);
}

// A task over p variables with int64 integers; the test registers what each case needs.
struct Task {
  SSTask* t = nullptr;
  int64_t p, n, xs = ZOK_SS_STORAGE_ROWS;
  explicit Task(int64_t p_, int64_t n_ = 1, const double* x = nullptr) : p(p_), n(n_) {
    __qordSSNewTask(&t, &p, &n, &xs, x, nullptr, nullptr, 1);
  }
  ~Task() { __qorSSDeleteTask(&t); }
};

// Partial covariance as the Schur complement S_YY - S_YZ S_ZZ^-1 S_ZY through Cholesky solves.
Mat schur(const Mat& s, int p, const std::vector<int>& y, const std::vector<int>& z) {
  const int ny = y.size(), nz = z.size();
  Mat szz(nz * nz);
  for (int a = 0; a < nz; ++a)
    for (int b = 0; b < nz; ++b) szz[a * nz + b] = s[z[a] * p + z[b]];
  const Mat l = cholesky(szz, nz);
  Mat r(ny * ny);
  for (int b = 0; b < ny; ++b) {
    std::vector<LD> col(nz);
    for (int a = 0; a < nz; ++a) col[a] = s[z[a] * p + y[b]];
    col = solve(l, nz, col);
    for (int a = 0; a < ny; ++a) {
      LD dot = 0;
      for (int k = 0; k < nz; ++k) dot += s[y[a] * p + z[k]] * col[k];
      r[a * ny + b] = s[y[a] * p + y[b]] - dot;
    }
  }
  return r;
}

TEST(PartialCovariance, StoragePairingsAgainstSchurComplement) {
  const int p = 7;
  const std::vector<int64_t> sel = {1, -1, 1, -1, 0, 1, -1};
  const std::vector<int> y = {0, 2, 5}, z = {1, 3, 6};
  const Mat s = gram(p, 12, 3, 0.05L);
  const Mat pc = schur(s, p, y, z);
  // From a correlation: its diagonal holds variances, taken as 1.
  Mat cr(p * p);
  for (int i = 0; i < p; ++i)
    for (int j = 0; j < p; ++j)
      cr[i * p + j] = i == j ? s[i * p + i] : s[i * p + j] / std::sqrt(s[i * p + i] * s[j * p + j]);
  Mat unit = cr;
  for (int i = 0; i < p; ++i) unit[i * p + i] = 1;
  for (bool from_cor : {false, true})
    for (int fin : {0, 1, 2})
      for (int fout : {0, 1, 2}) {
        const Mat ref = from_cor ? schur(unit, p, y, z) : pc;
        Task t(p);
        std::vector<double> in = store(from_cor ? cr : s, p, fin), pcov(9, kSentinel), pcor(9, kSentinel);
        int64_t fi = fin, fo = fout;
        __qoriSSEditTask(t.t, 45, sel.data());
        __qordSSEditTask(t.t, from_cor ? 21 : 19, in.data());
        __qoriSSEditTask(t.t, from_cor ? 22 : 20, &fi);
        __qordSSEditTask(t.t, 46, pcov.data());
        __qoriSSEditTask(t.t, 47, &fo);
        __qordSSEditTask(t.t, 48, pcor.data());
        __qoriSSEditTask(t.t, 49, &fo);
        ASSERT_EQ(_qordSSPartialCovariance(t.t, ZOK_SS_PARTIAL_COV | ZOK_SS_PARTIAL_COR, 1), 0);
        for (int a = 0; a < 3; ++a)
          for (int b = 0; b < 3; ++b) {
            const LD cor = ref[a * 3 + b] / std::sqrt(ref[a * 3 + a] * ref[b * 3 + b]);
            EXPECT_NEAR(pcov[index(a, b, 3, fout)], static_cast<double>(ref[a * 3 + b]), 1e-12 * max_abs(ref));
            EXPECT_NEAR(pcor[index(a, b, 3, fout)], static_cast<double>(cor), 1e-11);
          }
        if (fout != 0) {
          EXPECT_EQ(pcov[6], kSentinel);
        }
      }
}

// Statuses: no conditioning set, no input, a singular conditioning block (a repeated variable), and Y
// explained by Z; nothing is written.
TEST(PartialCovariance, RefusalsLeaveOutputsAlone) {
  const int p = 4;
  Mat s = gram(p, 9, 5, 0);
  for (int i = 0; i < p; ++i) s[i * p + 3] = s[3 * p + i] = s[i * p + 1];  // variable 3 repeats 1
  s[3 * p + 3] = s[1 * p + 1];
  const std::vector<double> in = to_double(s);
  struct Case {
    std::vector<int64_t> sel;
    bool input;
    uint64_t method;
    int32_t status;
  } cases[] = {{{1, 1, 1, 1}, true, 1, -4073},  {{1, -1, 0, 0}, false, 1, -4018}, {{1, -1, 0, 0}, true, 2, -4029},
               {{1, -1, 0, -1}, true, 1, -5010}, {{0, 1, 0, -1}, true, 1, -5011}};
  for (const Case& c : cases) {
    Task t(p);
    std::vector<double> out(4, kSentinel), cor(4, kSentinel);
    int64_t f = 0;
    __qoriSSEditTask(t.t, 45, c.sel.data());
    if (c.input) __qordSSEditTask(t.t, 19, in.data());
    __qoriSSEditTask(t.t, 20, &f);
    __qordSSEditPartialCovCor(t.t, nullptr, nullptr, nullptr, nullptr, nullptr, out.data(), &f, cor.data(), &f);
    EXPECT_EQ(_qordSSPartialCovariance(t.t, ZOK_SS_PARTIAL_COV | ZOK_SS_PARTIAL_COR, c.method), c.status);
    EXPECT_EQ(out, std::vector<double>(4, kSentinel));
    EXPECT_EQ(cor, std::vector<double>(4, kSentinel));
  }
}

}  // namespace

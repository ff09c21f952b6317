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
std::vector<double> to_double(const Mat& a) {
  return std::vector<double>(a.begin(), a.end());
}
Mat to_ld(const std::vector<double>& a) {
  return Mat(a.begin(), a.end());
}
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
  } cases[] = {{2.5, 2.5, 0},      {-2.5e-322, tiny, 0},      {0.0, tiny, 0},
               {-tiny, tiny, 0},   {-1e-320, -1e-320, -4033}, {-1, -1, -4033},
               {kNaN, kNaN, -4033}};
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
template <class T>
struct TaskOf {
  SSTask* t = nullptr;
  int64_t p, n, xs;
  explicit TaskOf(int64_t p_, int64_t n_ = 1, const T* x = nullptr, int64_t xs_ = ZOK_SS_STORAGE_ROWS)
      : p(p_), n(n_), xs(xs_) {
    if constexpr (sizeof(T) == 8)
      __qordSSNewTask(&t, &p, &n, &xs, x, nullptr, nullptr, 1);
    else
      __qorsSSNewTask(&t, &p, &n, &xs, x, nullptr, nullptr, 1);
  }
  ~TaskOf() { __qorSSDeleteTask(&t); }
};
using Task = TaskOf<double>;

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
            EXPECT_NEAR(pcov[index(a, b, 3, fout)], static_cast<double>(ref[a * 3 + b]),
                        1e-12 * max_abs(ref));
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
  } cases[] = {{{1, 1, 1, 1}, true, 1, -4073},
               {{1, -1, 0, 0}, false, 1, -4018},
               {{1, -1, 0, 0}, true, 2, -4029},
               {{1, -1, 0, -1}, true, 1, -5010},
               {{0, 1, 0, -1}, true, 1, -5011}};
  for (const Case& c : cases) {
    Task t(p);
    std::vector<double> out(4, kSentinel), cor(4, kSentinel);
    int64_t f = 0;
    __qoriSSEditTask(t.t, 45, c.sel.data());
    if (c.input) __qordSSEditTask(t.t, 19, in.data());
    __qoriSSEditTask(t.t, 20, &f);
    __qordSSEditPartialCovCor(t.t, nullptr, nullptr, nullptr, nullptr, nullptr, out.data(), &f, cor.data(),
                              &f);
    EXPECT_EQ(_qordSSPartialCovariance(t.t, ZOK_SS_PARTIAL_COV | ZOK_SS_PARTIAL_COR, c.method), c.status);
    EXPECT_EQ(out, std::vector<double>(4, kSentinel));
    EXPECT_EQ(cor, std::vector<double>(4, kSentinel));
  }
}

// Observations near 1e3 with unit spread, in groups 0, 1 and 3 (2 is empty), with uneven weights
// (some zero); the reference sums each group's weights and centred products by definition.
struct Groups {
  int64_t p, n;
  std::vector<double> x, w;  // x in rows storage
  std::vector<int64_t> g;
  std::vector<LD> W, W2, mean, C;  // per group: 4, 4, 4p, 4pp
  Groups(int64_t p_, int64_t n_, bool weighted, int groups = 4) : p(p_), n(n_), x(p * n), g(n) {
    std::mt19937_64 gen(p * 31 + n);
    std::normal_distribution<double> nd;
    for (int64_t i = 0; i < n; ++i) {
      g[i] = groups == 1 ? 0 : (i * 7 % 5) % 3 == 2 ? 3 : (i * 7 % 5) % 3;
      const double common = nd(gen);
      for (int64_t j = 0; j < p; ++j) x[j * n + i] = 1e3 * (1 + j) + 10.0 * g[i] + common * 0.5 + nd(gen);
      if (weighted) w.push_back(i % 17 == 3 ? 0.0 : 0.25 + (i % 13) * 0.3);
    }
    W.assign(4, 0);
    W2 = W;
    mean.assign(4 * p, 0);
    C.assign(4 * p * p, 0);
    for (int pass = 0; pass < 2; ++pass)
      for (int64_t i = 0; i < n; ++i) {
        const LD wi = weighted ? w[i] : 1;
        LD* m = &mean[g[i] * p];
        if (pass == 0) {
          W[g[i]] += wi;
          W2[g[i]] += wi * wi;
          for (int64_t j = 0; j < p; ++j) m[j] += wi * x[j * n + i];
        } else {
          for (int64_t a = 0; a < p; ++a)
            for (int64_t b = 0; b < p; ++b)
              C[(g[i] * p + a) * p + b] += wi * (x[a * n + i] - m[a]) * (x[b * n + i] - m[b]);
        }
        if (pass == 0 && i == n - 1)
          for (int q = 0; q < 4; ++q)
            for (int64_t j = 0; j < p; ++j) mean[q * p + j] /= W[q] > 0 ? W[q] : 1;
      }
  }
  LD norm(int q) const { return W[q] - W2[q] / W[q]; }
};

struct PooledOut {
  std::vector<double> pm, pc, gm, gc;
  int64_t pf, gf;
  std::vector<int64_t> sel = {1, 0, 1, 1};
  PooledOut(int64_t p, int64_t pf_, int64_t gf_)
      : pm(p, kSentinel),
        pc(p * p, kSentinel),
        gm(4 * p, kSentinel),
        gc(4 * p * p, kSentinel),
        pf(pf_),
        gf(gf_) {}
  void attach(SSTask* t, const Groups& d) {
    __qordSSEditPooledCovariance(t, d.g.data(), pm.data(), pc.data(), sel.data(), gm.data(), gc.data());
    __qoriSSEditTask(t, 29, &pf);
    __qoriSSEditTask(t, 34, &gf);
  }
};
constexpr uint64_t kPooledAll = ZOK_SS_POOLED_COV | ZOK_SS_POOLED_MEAN | ZOK_SS_GROUP_COV | ZOK_SS_GROUP_MEAN;

TEST(PooledCovariance, GroupsAndPooledAgainstDefinitionOnThreads) {
  const int64_t p = 12, n = 3000;
  for (bool weighted : {false, true}) {
    const Groups d(p, n, weighted);
    std::vector<double> first;
    for (int threads : {1, 2, 8}) {
      const int64_t f = threads == 2 ? 1 : threads == 8 ? 2 : 0;
      Task t(p, n, d.x.data());
      if (weighted) __qordSSEditTask(t.t, 6, d.w.data());
      PooledOut o(p, f, 2 - f);
      o.attach(t.t, d);
      ASSERT_EQ(_qordSSPooledCovariance(t.t, kPooledAll, 2, zok::core::threads_up_to(threads)), 0);
      LD Wsum = 0, nsum = 0;
      for (int q : {0, 1, 3}) Wsum += d.W[q], nsum += d.norm(q);
      const int64_t gsize = f == 2 ? p * p : p * (p + 1) / 2;
      for (int64_t a = 0; a < p; ++a) {
        LD pmean = 0;
        for (int q : {0, 1, 3}) pmean += d.W[q] * d.mean[q * p + a];
        EXPECT_NEAR(o.pm[a], static_cast<double>(pmean / Wsum), 1e-12 * 1e3 * (1 + a));
        EXPECT_EQ(o.gm[1 * p + a], kSentinel);     // unselected
        EXPECT_TRUE(std::isnan(o.gm[2 * p + a]));  // empty
        for (int q : {0, 3})
          EXPECT_NEAR(o.gm[q * p + a], static_cast<double>(d.mean[q * p + a]), 1e-12 * 1e3 * (1 + a));
        for (int64_t b = 0; b < p; ++b) {
          LD pc = 0;
          for (int q : {0, 1, 3}) pc += d.C[(q * p + a) * p + b];
          pc /= nsum;
          const LD scale = std::sqrt(d.C[a * p + a] * d.C[b * p + b]) / d.norm(0);
          EXPECT_NEAR(o.pc[index(a, b, p, f)], static_cast<double>(pc), 1e-10 * static_cast<double>(scale));
          if (threads == 1) first.push_back(o.pc[a * p + b]);
          EXPECT_NEAR(o.pc[index(a, b, p, f)], first[a * p + b], 1e-12 * static_cast<double>(scale));
          for (int q : {0, 3})
            EXPECT_NEAR(o.gc[q * gsize + index(a, b, p, 2 - f)],
                        static_cast<double>(d.C[(q * p + a) * p + b] / d.norm(q)),
                        1e-10 * static_cast<double>(scale));
          EXPECT_TRUE(std::isnan(o.gc[2 * gsize + index(a, b, p, 2 - f)]));
          EXPECT_EQ(o.gc[1 * gsize + index(a, b, p, 2 - f)], kSentinel);
        }
      }
    }
  }
}

// A single group is the basic statistics' mean and covariance.
TEST(PooledCovariance, OneGroupIsTheBasicCovariance) {
  const int64_t p = 5, n = 14000;  // several blocks per group
  const Groups d(p, n, false, 1);
  Task t(p, n, d.x.data());
  PooledOut o(p, 0, 0);
  o.attach(t.t, d);
  std::vector<double> mean(p), cov(p * p);
  int64_t full = 0;
  __qordSSEditCovCor(t.t, mean.data(), cov.data(), &full, nullptr, nullptr);
  ASSERT_EQ(_qordSSBasic(t.t, ZOK_SS_MEAN | ZOK_SS_COV, 2, nullptr), 0);
  ASSERT_EQ(_qordSSPooledCovariance(t.t, kPooledAll, 2, nullptr), 0);
  for (int64_t a = 0; a < p; ++a) {
    EXPECT_NEAR(o.gm[a], mean[a], 1e-13 * std::fabs(mean[a]));
    for (int64_t b = 0; b < p; ++b) {
      EXPECT_NEAR(o.gc[a * p + b], cov[a * p + b], 1e-12);
      EXPECT_NEAR(o.pc[a * p + b], cov[a * p + b], 1e-12);
    }
  }
}

TEST(PooledCovariance, RefusalsLeaveOutputsAlone) {
  const int64_t p = 3, n = 40;
  const Groups d(p, n, true);
  enum Fault { kNoP, kNoGroups, kMethod, kNegative, kSelection, kWeight, kNoPooledCov };
  const std::pair<Fault, int32_t> cases[] = {{kNoP, -4001},        {kNoGroups, -4030},  {kMethod, -4029},
                                             {kNegative, -4038},   {kSelection, -4038}, {kWeight, -4005},
                                             {kNoPooledCov, -4034}};
  for (auto [fault, status] : cases) {
    Groups e = d;
    if (fault == kNegative) e.g[7] = -1;
    if (fault == kWeight) e.w[5] = -1;
    Task t(p, n, e.x.data());
    __qordSSEditTask(t.t, 6, e.w.data());
    PooledOut o(p, 0, 0);
    if (fault == kSelection) o.sel[2] = 2;
    o.attach(t.t, e);
    if (fault == kNoP) t.p = 0;
    if (fault == kNoGroups) t.t->group_index = nullptr;
    if (fault == kNoPooledCov) t.t->pooled_cov = nullptr;
    EXPECT_EQ(_qordSSPooledCovariance(t.t, kPooledAll, fault == kMethod ? 1 : 2, nullptr), status);
    for (auto* v : {&o.pm, &o.pc, &o.gm, &o.gc}) EXPECT_EQ(*v, std::vector<double>(v->size(), kSentinel));
  }
}

// Repair against clipping and rescaling a Jacobi decomposition; a definite input comes back with unit
// diagonal and nothing else changed; packed in place.
TEST(CorParametrization, ClippedAndRescaledAgainstJacobi) {
  std::mt19937_64 gen(17);
  std::uniform_real_distribution<double> u(-0.7, 0.7);
  Mat big(64, 0);
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j <= i; ++j) big[i * 8 + j] = big[j * 8 + i] = i == j ? 1 : u(gen);
  Mat definite = gram(4, 9, 2, 0.2L);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      if (i != j) definite[i * 4 + j] /= std::sqrt(definite[i * 4 + i] * definite[j * 4 + j]);
  const std::vector<Mat> cases = {{1, .9, -.9, .9, 1, .9, -.9, .9, 1}, big, definite};
  for (const Mat& m : cases) {
    const int p = static_cast<int>(std::lround(std::sqrt(m.size())));
    Mat unit = m;
    for (int i = 0; i < p; ++i) unit[i * p + i] = 1;
    std::vector<LD> lambda;
    Mat v;
    jacobi(unit, p, lambda, v);
    const bool clipped = lambda[0] < 1e-14L;
    Mat ref = unit;
    if (clipped) {
      for (LD& l : lambda) l = std::max(l, 1e-14L);
      for (int i = 0; i < p; ++i)
        for (int j = 0; j < p; ++j) {
          LD s = 0, ti = 0, tj = 0;
          for (int k = 0; k < p; ++k) {
            s += lambda[k] * v[i * p + k] * v[j * p + k];
            ti += lambda[k] * v[i * p + k] * v[i * p + k];
            tj += lambda[k] * v[j * p + k] * v[j * p + k];
          }
          ref[i * p + j] = s / std::sqrt(ti * tj);
        }
    }
    EXPECT_EQ(clipped, p != 4);
    for (int f : {0, 1}) {
      Task t(p);
      std::vector<double> cor = store(m, p, f);
      int64_t code = f;
      __qordSSEditMtxParametrz(t.t, cor.data(), &code, cor.data(), &code);  // in place
      ASSERT_EQ(_qordSSCorParametrization(t.t, 0, 4, nullptr), 0);
      Mat out(p * p);
      for (int i = 0; i < p; ++i)
        for (int j = 0; j < p; ++j) out[i * p + j] = cor[index(i, j, p, f)];
      for (int i = 0; i < p; ++i) {
        EXPECT_NEAR(out[i * p + i], 1, 1e-13);
        for (int j = 0; j < p; ++j)
          if (clipped)
            EXPECT_NEAR(out[i * p + j], ref[i * p + j], 1e-10);
          else
            EXPECT_EQ(out[i * p + j], static_cast<double>(unit[i * p + j]));
      }
      jacobi(out, p, lambda, v);
      EXPECT_GE(lambda[0], -1e-13L);
    }
  }
  Task t(3);
  std::vector<double> cor = store(cases[0], 3, 1);
  int64_t packed = 1, full = 0;
  __qordSSEditMtxParametrz(t.t, cor.data(), &packed, cor.data(), &full);
  EXPECT_EQ(_qordSSCorParametrization(t.t, 0, 4, nullptr), -4003);
  __qoriSSEditTask(t.t, 61, &packed);
  EXPECT_EQ(_qordSSCorParametrization(t.t, 0, 1, nullptr), -4029);
  EXPECT_EQ(cor, store(cases[0], 3, 1));
}

// Distances against Cholesky solves with the covariance, over block edges, both observation storages
// and full (upper triangle NaN: never read) or packed inverses.
TEST(MahDistance, AgainstCholeskySolve) {
  for (int p : {1, 3, 100}) {
    const int64_t n = 600, first = 5, last = 520;
    const Mat sigma = gram(p, p + 20, 40 + p, 0.1L);
    const Mat l = cholesky(sigma, p), s = inverse(sigma, p);
    const int f = p == 100 ? 2 : 0;
    std::vector<double> inv = store(s, p, f);
    if (f == 0)
      for (int i = 0; i < p; ++i)
        for (int j = i + 1; j < p; ++j) inv[i * p + j] = kNaN;
    std::mt19937_64 gen(p);
    std::normal_distribution<double> nd;
    std::vector<double> x(p * n), mean(p);
    for (auto& e : x) e = 3 + nd(gen);
    for (auto& e : mean) e = 3 + 0.1 * nd(gen);
    const int64_t xs = p == 3 ? ZOK_SS_STORAGE_COLUMNS : ZOK_SS_STORAGE_ROWS;
    Task t(p, n, x.data(), xs);
    int64_t code = f;
    std::vector<double> out(last - first + 1, kSentinel);
    t.t->work_mean = mean.data();
    t.t->work_cov = inv.data();
    t.t->work_cov_storage = &code;
    t.t->work_first = first;
    t.t->work_last = last;
    t.t->work_out = out.data();
    ASSERT_EQ(_qordSSMahDistance(t.t, 0, 0, nullptr), 0);
    for (int64_t i = first; i < last; ++i) {
      std::vector<LD> d(p);
      for (int v = 0; v < p; ++v)
        d[v] = (xs == ZOK_SS_STORAGE_COLUMNS ? x[i * p + v] : x[v * n + i]) - mean[v];
      const std::vector<LD> y = solve(l, p, d);
      LD q = 0;
      for (int v = 0; v < p; ++v) q += d[v] * y[v];
      EXPECT_NEAR(out[i - first], static_cast<double>(std::sqrt(q)),
                  1e-12 * static_cast<double>(std::sqrt(q)));
    }
    EXPECT_EQ(out.back(), kSentinel);
  }
  Task t(2);
  EXPECT_EQ(_qordSSMahDistance(nullptr, 0, 0, nullptr), -4031);
  EXPECT_EQ(_qordSSMahDistance(t.t, 0, 0, nullptr), -4029);
}

// The single-precision forms share the templates: once each against the double results.
TEST(SinglePrecision, FormsFollowTheDoubleOnes) {
  const int p = 4;
  const Mat g = gram(p, 8, 9, 0.5L);
  std::vector<float> c(g.begin(), g.end());
  std::vector<double> cd = to_double(g);
  ASSERT_EQ(__qorsInvCov(p, c.data()), 0);
  ASSERT_EQ(__qordInvCov(p, cd.data()), 0);
  for (int i = 0; i < p * p; ++i) EXPECT_NEAR(c[i], cd[i], 1e-5 * max_abs(to_ld(cd)));
  std::vector<float> sing = {1, 1, 1, 1};
  EXPECT_EQ(__qorsTestCovRank(2, sing.data()), 0);
  EXPECT_FLOAT_EQ(sing[0], 1.02f);

  TaskOf<float> t(p);
  const std::vector<int64_t> sel = {1, -1, 1, 0};
  std::vector<float> in(g.begin(), g.end()), pc(4, 0), pcor(4, 0), rep(p * p);
  int64_t full = 0;
  __qorsSSEditPartialCovCor(t.t, sel.data(), in.data(), &full, nullptr, nullptr, pc.data(), &full,
                            pcor.data(), &full);
  ASSERT_EQ(_qorsSSPartialCovariance(t.t, ZOK_SS_PARTIAL_COV | ZOK_SS_PARTIAL_COR, 1), 0);
  const Mat ref = schur(g, p, {0, 2}, {1});
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(pc[i], static_cast<double>(ref[i]), 1e-5 * max_abs(ref));
  std::vector<float> bad = {1, .9f, -.9f, .9f, 1, .9f, -.9f, .9f, 1};
  TaskOf<float> r(3);
  __qorsSSEditMtxParametrz(r.t, bad.data(), &full, rep.data(), &full);
  ASSERT_EQ(_qorsSSCorParametrization(r.t, 0, 4, nullptr), 0);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(rep[i * 3 + i], 1, 1e-6);

  std::vector<float> x = {1, 2, 4, 7, 0, 1, 1, 3};  // 2 variables, rows storage
  std::vector<int64_t> groups = {0, 0, 1, 1}, gsel = {1, 1};
  TaskOf<float> q(2, 4, x.data());
  std::vector<float> pm(2), pcov(4), gm(4), gc(8);
  __qorsSSEditPooledCovariance(q.t, groups.data(), pm.data(), pcov.data(), gsel.data(), gm.data(), gc.data());
  __qoriSSEditTask(q.t, 29, &full);
  __qoriSSEditTask(q.t, 34, &full);
  ASSERT_EQ(_qorsSSPooledCovariance(q.t, kPooledAll, 2, nullptr), 0);
  // Groups {1, 2 | 0, 1} and {4, 7 | 1, 3}: cross-products (0.5, 0.5, 0.5) and (4.5, 3, 2) over 2.
  EXPECT_FLOAT_EQ(gm[2], 5.5f);
  EXPECT_FLOAT_EQ(pcov[0], 2.5f);
  EXPECT_FLOAT_EQ(pcov[1], 1.75f);
  EXPECT_FLOAT_EQ(pcov[3], 1.25f);

  std::vector<float> mean = {0, 0}, inv = {4, 0, 0, 1}, out(4);
  q.t->work_mean = mean.data();
  q.t->work_cov = inv.data();
  q.t->work_first = 0;
  q.t->work_last = 4;
  q.t->work_out = out.data();
  ASSERT_EQ(_qorsSSMahDistance(q.t, 0, 0, nullptr), 0);
  EXPECT_FLOAT_EQ(out[2], std::sqrt(4 * 16.0f + 1));
}

// Every allocation failing in turn: -4000 with the outputs untouched, until the call succeeds.
TEST(AllocationFailure, NothingWritten) {
  const int64_t p = 12, n = 100;
  const Groups d(p, n, false);
  const Mat g = gram(5, 9, 4, 0.1L);
  const std::vector<int64_t> sel = {1, -1, 1, -1, 0};
  for (int routine = 0; routine < 3; ++routine)
    for (long k = 1;; ++k) {
      Task t(routine == 0 ? p : 5, n, d.x.data());
      PooledOut o(p, 0, 1);
      o.attach(t.t, d);
      std::vector<double> in = to_double(g);
      int64_t full = 0;
      __qordSSEditPartialCovCor(t.t, sel.data(), in.data(), &full, nullptr, nullptr, o.pc.data(), &full,
                                o.gc.data(), &full);
      __qordSSEditMtxParametrz(t.t, in.data(), &full, o.gm.data(), &full);
      zok::test::fail_allocation(k);
      const int32_t status = routine == 0 ? _qordSSPooledCovariance(t.t, kPooledAll, 2, nullptr)
                             : routine == 1
                                 ? _qordSSPartialCovariance(t.t, ZOK_SS_PARTIAL_COV | ZOK_SS_PARTIAL_COR, 1)
                                 : _qordSSCorParametrization(t.t, 0, 4, nullptr);
      zok::test::fail_allocation(0);
      if (status == 0) break;
      ASSERT_EQ(status, -4000) << routine << " " << k;
      for (auto* v : {&o.pm, &o.pc, &o.gm, &o.gc}) EXPECT_EQ(*v, std::vector<double>(v->size(), kSentinel));
    }
}

}  // namespace

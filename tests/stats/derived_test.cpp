// Derived covariance estimates against long-double second implementations: matrices built from known
// eigenvalues (Q diag(l) Q with Q a reflection) for the rank test, inverse, partial covariance and
// distances, a circulant matrix's Fourier spectrum for the repair, group sums by definition; statuses
// with sentinel outputs and allocation failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "core/thread_limit.h"
#include "stats/task.h"
#include "tests/support/alloc_hook.h"
#include "zok/summary_stats.h"

namespace {

using LD = long double;
using Mat = std::vector<LD>;  // row-major p x p
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN(), kSentinel = -777.0;
constexpr uint64_t kPooledAll = ZOK_SS_POOLED_COV | ZOK_SS_POOLED_MEAN | ZOK_SS_GROUP_COV | ZOK_SS_GROUP_MEAN;
constexpr uint64_t kPartialBoth = ZOK_SS_PARTIAL_COV | ZOK_SS_PARTIAL_COR;

// Q diag(lambda) Q with Q = I - 2uu^T/u^Tu for a random u of the seed: the columns of Q are the
// eigenvectors, and the same seed with 1/lambda gives the inverse.
Mat spectral(const std::vector<LD>& lambda, uint64_t seed, Mat* q_out = nullptr) {
  const int p = static_cast<int>(lambda.size());
  std::mt19937_64 gen(seed);
  std::normal_distribution<double> nd;
  std::vector<LD> u(p);
  LD norm = 0;
  for (LD& x : u) {
    x = nd(gen);
    norm += x * x;
  }
  Mat q(p * p), a(p * p, 0);
  for (int i = 0; i < p * p; ++i) q[i] = (i % (p + 1) == 0) - 2 * u[i / p] * u[i % p] / norm;
  for (int i = 0; i < p * p; ++i)
    for (int k = 0; k < p; ++k) a[i] += q[i / p * p + k] * lambda[k] * q[i % p * p + k];
  if (q_out != nullptr) *q_out = q;
  return a;
}
// Element (i, j) in storage code f (0 full, 1 rows of the lower triangle, 2 rows of the upper).
int64_t index(int64_t i, int64_t j, int64_t p, int f) {
  if (f == 0) return i * p + j;
  if ((f == 1) == (i < j)) std::swap(i, j);
  return f == 1 ? i * (i + 1) / 2 + j : i * p - i * (i - 1) / 2 + (j - i);
}
template <class T = double>
std::vector<T> store(const Mat& a, int64_t p, int f = 0) {
  std::vector<T> s(f == 0 ? p * p : p * (p + 1) / 2);
  for (int64_t i = 0; i < p * p; ++i) s[index(i / p, i % p, p, f)] = static_cast<T>(a[i]);
  return s;
}
bool untouched(const std::vector<double>& v) {
  return std::all_of(v.begin(), v.end(), [](double x) { return x == kSentinel; });
}

struct Task {
  SSTask* t = nullptr;
  int64_t p, n, xs;
  explicit Task(int64_t p_, int64_t n_ = 1, const double* x = nullptr, int64_t xs_ = ZOK_SS_STORAGE_ROWS)
      : p(p_), n(n_), xs(xs_) {
    __qordSSNewTask(&t, &p, &n, &xs, x, nullptr, nullptr, 1);
  }
  ~Task() { __qorSSDeleteTask(&t); }
};

TEST(RankTest, SingleValuesAndZeroEigenvalues) {
  const double t = 4.94e-321, single[][3] = {{2.5, 2.5, 0}, {-2.5e-322, t, 0},         {0.0, t, 0},
                                             {-t, t, 0},    {-1e-320, -1e-320, -4033}, {kNaN, kNaN, -4033}};
  for (const auto& c : single) {
    double v = c[0];
    EXPECT_EQ(__qordTestCovRank(1, &v), c[2]) << c[0];
    EXPECT_EQ(std::bit_cast<uint64_t>(v), std::bit_cast<uint64_t>(c[1])) << c[0];
  }
  float f[] = {-1e-43f, -1e-40f};
  EXPECT_TRUE(__qorsTestCovRank(1, f) == 0 && f[0] == 1.401e-42f && __qorsTestCovRank(1, f + 1) == -4033);
  // Computed zero eigenvalues are rounding noise of either sign: one or two of them get the diagonal
  // shifted by 1% of the smallest positive eigenvalue; none positive, or a negative one, fails.
  const LD spectra[][6] = {
      {.5, 1, 2, 3, 4, 5}, {0, .5, 1, 2, 3, 4}, {0, 0, .5, 1, 2, 3}, {}, {-1, 1, 1, 2, 2, 3}};
  const double shifts[] = {0, 0.005, 0.005, -1, -1};
  for (int s = 0; s < 5; ++s)
    for (uint64_t seed = 1; seed <= 8; ++seed) {
      std::vector<double> c = store(spectral(Mat(spectra[s], spectra[s] + 6), seed), 6), c0 = c;
      ASSERT_EQ(__qordTestCovRank(6, c.data()), shifts[s] < 0 ? -4033 : 0) << s;
      for (int i = 0; i < 36; ++i) {
        const bool shifted = shifts[s] > 0 && i % 7 == 0;
        EXPECT_NEAR(c[i] - c0[i], shifted ? shifts[s] : 0, shifted ? 1e-6 * shifts[s] + 1e-15 : 0) << s;
      }
    }
}

TEST(InvCov, KnownInverseIndefiniteInputsAndUntouchedTriangle) {
  for (int p : {1, 2, 3, 4, 9}) {
    std::vector<LD> lambda(p), inv(p);
    for (int k = 0; k < p; ++k) inv[k] = 1 / (lambda[k] = 1 + 99.0L * k / std::max(p - 1, 1));
    const Mat ref = spectral(inv, p), a = spectral(lambda, p);
    std::vector<double> c = store(a, p);
    std::vector<float> cf(c.begin(), c.end());
    for (int i = 0; i < p * p; ++i) c[i] = i % p > i / p ? kSentinel : c[i];
    ASSERT_TRUE(__qordInvCov(p, c.data()) == 0 && __qorsInvCov(p, cf.data()) == 0) << p;
    for (int i = 0; i < p * p; ++i) {
      EXPECT_NEAR(c[i], i % p <= i / p ? ref[i] : kSentinel, 1e-12) << p;
      EXPECT_NEAR(cf[i], i % p <= i / p ? ref[i] : static_cast<float>(a[i]), 2e-5) << p;
    }
  }
  const std::vector<std::vector<double>> bad = {
      {-1}, {1, 9, 2, 1}, {1, 0, 0, 2, 1, 0, 1, 1, 1}, {-1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
  for (const auto& m : bad) {
    std::vector<double> c = m;
    EXPECT_EQ(__qordInvCov(std::lround(std::sqrt(m.size())), c.data()), -5041);
    EXPECT_EQ(c, m);
  }
  double tiny = 4.94e-321;
  EXPECT_EQ(__qordInvCov(1, &tiny), -5042);  // the inverse overflows
}

// Over Y (0, 2, 5) and Z (1, 3, 6) the covariance is Q diag(l) Q, so P = ((S^-1)_YY)^-1 by a 3 x 3
// cofactor inverse; variable 4 is left out and its entries are noise. From a correlation (variances
// on its diagonal, counted as 1) P scales by 1/sqrt(s_aa s_bb).
TEST(PartialCovariance, StoragePairingsAndRefusals) {
  const int p = 7, yz[] = {0, 1, 2, 3, 5, 6}, y[] = {0, 2, 5};
  const std::vector<int64_t> sel = {1, -1, 1, -1, 0, 1, -1};
  const Mat s6 = spectral({0.3, 0.5, 1, 2, 3, 5}, 3), k6 = spectral({1 / 0.3L, 2, 1, 0.5, 1 / 3.0L, 0.2L}, 3);
  Mat s(p * p, 0.7L), cr(p * p), k(9), ref(9);
  for (int i = 0; i < 36; ++i) s[yz[i / 6] * p + yz[i % 6]] = s6[i];
  for (int i = 0; i < p * p; ++i) cr[i] = s[i] / (i % (p + 1) ? std::sqrt(s[i / p * 8] * s[i % p * 8]) : 1);
  for (int i = 0; i < 9; ++i) k[i] = k6[i / 3 * 12 + i % 3 * 2];  // Y at 0, 2, 4 of the six
  for (int i = 0; i < 9; ++i) {
    const int r0 = (i % 3 + 1) % 3, r1 = (i % 3 + 2) % 3, c0 = (i / 3 + 1) % 3, c1 = (i / 3 + 2) % 3;
    ref[i] = k[r0 * 3 + c0] * k[r1 * 3 + c1] - k[r0 * 3 + c1] * k[r1 * 3 + c0];
  }
  const LD det = k[0] * ref[0] + k[1] * ref[3] + k[2] * ref[6];
  for (LD& v : ref) v /= det;
  for (bool from_cor : {false, true})
    for (int fin : {0, 1, 2})
      for (int fout : {0, 1, 2}) {
        Task t(p);
        std::vector<double> in = store(from_cor ? cr : s, p, fin), pcov(9, kSentinel), pcor(9, kSentinel);
        int64_t fi = fin, fo = fout;
        __qordSSEditPartialCovCor(t.t, sel.data(), nullptr, nullptr, nullptr, nullptr, pcov.data(), &fo,
                                  pcor.data(), &fo);
        __qordSSEditTask(t.t, from_cor ? 21 : 19, in.data());
        __qoriSSEditTask(t.t, from_cor ? 22 : 20, &fi);
        ASSERT_EQ(_qordSSPartialCovariance(t.t, kPartialBoth, 1), 0);
        for (int i = 0; i < 9; ++i) {
          const int a = i / 3, b = i % 3;
          const LD scale = from_cor ? std::sqrt(s[y[a] * 8] * s[y[b] * 8]) : 1;
          EXPECT_NEAR(pcov[index(a, b, 3, fout)], ref[i] / scale, 1e-12 * 8);
          EXPECT_NEAR(pcor[index(a, b, 3, fout)], ref[i] / std::sqrt(ref[a * 4] * ref[b * 4]), 1e-11);
        }
        EXPECT_TRUE(fout == 0 || (pcov[6] == kSentinel && pcor[8] == kSentinel));  // packed: 6 written
      }
  // No conditioning set, no input, the method; a singular conditioning block and Y explained by Z
  // (variable 3 is 0.3 of 1 plus 0.7 of 2, rounded: the zero pivot or variance is noise of either
  // sign): nothing written.
  const std::vector<std::vector<int64_t>> sels = {
      {1, 1, 1, 1}, {1, -1, 0, 0}, {1, -1, 0, 0}, {1, -1, -1, -1}, {0, -1, -1, 1}};
  const int32_t status[] = {-4073, -4018, -4029, -5010, -5011};
  for (uint64_t seed = 1; seed <= 16; ++seed) {
    Mat m = spectral({0.5, 1, 2, 3}, seed);
    for (int i = 0; i < 3; ++i) m[i * 4 + 3] = m[3 * 4 + i] = 0.3L * m[i * 4 + 1] + 0.7L * m[i * 4 + 2];
    m[15] = 0.09L * m[5] + 0.42L * m[6] + 0.49L * m[10];
    const std::vector<double> in = store(m, 4);
    for (int c = 0; c < 5; ++c) {
      Task t(4);
      std::vector<double> out(4, kSentinel), cor(4, kSentinel);
      int64_t f = 0;
      __qordSSEditPartialCovCor(t.t, sels[c].data(), c == 1 ? nullptr : in.data(), &f, nullptr, nullptr,
                                out.data(), &f, cor.data(), &f);
      EXPECT_EQ(_qordSSPartialCovariance(t.t, kPartialBoth, c == 2 ? 2 : 1), status[c]) << seed;
      EXPECT_TRUE(untouched(out) && untouched(cor)) << c;
    }
  }
}

// Observations near 1e3 with unit spread in groups 0, 1 and 3 (2 is empty), uneven weights with some
// zeros; the reference sums each group's weights and centred products by definition.
struct Groups {
  int64_t p, n, pf = 0, gf = 2;
  std::vector<double> x, w, pm, pc, gm, gc;  // x in rows storage
  std::vector<int64_t> g, sel = {1, 0, 1, 1};
  std::vector<LD> W = std::vector<LD>(4), W2 = W, mean, C;
  Groups(int64_t p_, int64_t n_, bool weighted)
      : p(p_), n(n_), x(p * n), w(weighted ? n : 0), g(n), mean(4 * p), C(4 * p * p) {
    std::mt19937_64 gen(p * 31 + n);
    std::normal_distribution<double> nd;
    for (int64_t i = 0; i < n; ++i) {
      g[i] = i % 5 % 3 == 2 ? 3 : i % 5 % 3;
      const double common = nd(gen);
      for (int64_t j = 0; j < p; ++j) x[j * n + i] = 1e3 * (1 + j) + 10.0 * g[i] + common * 0.5 + nd(gen);
      if (weighted) w[i] = i % 17 == 3 ? 0.0 : 0.25 + (i % 13) * 0.3;
      W[g[i]] += weighted ? w[i] : 1;
      W2[g[i]] += weighted ? w[i] * w[i] : 1;
      for (int64_t j = 0; j < p; ++j) mean[g[i] * p + j] += (weighted ? w[i] : 1) * x[j * n + i];
    }
    for (int64_t q = 0; q < 4 * p; ++q) mean[q] /= W[q / p] > 0 ? W[q / p] : 1;
    for (int64_t i = 0; i < n * p * p; ++i) {
      const int64_t o = i / (p * p), a = i / p % p, b = i % p, q = g[o];
      C[q * p * p + a * p + b] +=
          (w.empty() ? 1 : w[o]) * (x[a * n + o] - mean[q * p + a]) * (x[b * n + o] - mean[q * p + b]);
    }
  }
  LD norm(int q) const { return W[q] - W2[q] / W[q]; }
  // Outputs filled with the sentinel, registered with pooled storage f and group storage 2 - f.
  void attach(SSTask* t, int64_t f) {
    pm.assign(p, kSentinel), pc.assign(p * p, kSentinel), gm.assign(4 * p, kSentinel);
    gc.assign(4 * p * p, kSentinel), pf = f, gf = 2 - f;
    __qordSSEditPooledCovariance(t, g.data(), pm.data(), pc.data(), sel.data(), gm.data(), gc.data());
    __qoriSSEditTask(t, 29, &pf);
    __qoriSSEditTask(t, 34, &gf);
    if (!w.empty()) __qordSSEditTask(t, 6, w.data());
  }
  bool untouched_all() const { return untouched(pm) && untouched(pc) && untouched(gm) && untouched(gc); }
};

TEST(PooledCovariance, AgainstDefinitionOnThreadsWithEmptyAndUnselectedGroups) {
  const int64_t p = 12, n = 30000;  // one thread: several blocks per group
  for (bool weighted : {false, true}) {
    Groups d(p, n, weighted);
    std::vector<double> first;
    for (int threads : {1, 2, 8}) {
      const int f = threads / 4;  // pooled storage 0, 0, 2; group storage 2, 2, 0
      Task t(p, n, d.x.data());
      d.attach(t.t, f);
      ASSERT_EQ(_qordSSPooledCovariance(t.t, kPooledAll, 2, zok::core::threads_up_to(threads)), 0);
      const LD Wsum = d.W[0] + d.W[1] + d.W[3], nsum = d.norm(0) + d.norm(1) + d.norm(3);
      const int64_t gsize = f == 2 ? p * p : p * (p + 1) / 2;
      for (int64_t a = 0; a < p; ++a) {
        EXPECT_NEAR(d.pm[a],
                    (d.W[0] * d.mean[a] + d.W[1] * d.mean[p + a] + d.W[3] * d.mean[3 * p + a]) / Wsum, 1e-9);
        EXPECT_TRUE(d.gm[p + a] == kSentinel && std::isnan(d.gm[2 * p + a]));  // unselected, empty
        for (int q : {0, 3}) EXPECT_NEAR(d.gm[q * p + a], d.mean[q * p + a], 1e-9);
        for (int64_t b = 0; b < p; ++b) {
          const LD pc = (d.C[a * p + b] + d.C[(p + a) * p + b] + d.C[(3 * p + a) * p + b]) / nsum;
          const double scale = std::sqrt(d.C[a * p + a] * d.C[b * p + b]) / d.norm(0);
          EXPECT_NEAR(d.pc[index(a, b, p, f)], pc, 1e-10 * scale);
          if (threads == 1) first.push_back(d.pc[a * p + b]);
          EXPECT_NEAR(d.pc[index(a, b, p, f)], first[a * p + b], 1e-12 * scale);
          for (int q : {0, 3})
            EXPECT_NEAR(d.gc[q * gsize + index(a, b, p, 2 - f)], d.C[(q * p + a) * p + b] / d.norm(q),
                        1e-10 * scale);
          EXPECT_TRUE(std::isnan(d.gc[2 * gsize + index(a, b, p, 2 - f)]) &&
                      d.gc[gsize + index(a, b, p, 2 - f)] == kSentinel);
        }
      }
    }
  }
  // Statuses, checked before anything is written.
  const int32_t status[] = {-4001, -4002, -4029, -4038, -4038, -4005};
  for (int c = 0; c < 6; ++c) {
    Groups d(3, 40, true);
    d.g[7] = c == 3 ? -1 : d.g[7], d.sel[2] = c == 4 ? 2 : 1, d.w[5] = c == 5 ? -1 : 1;
    Task t(3, 40, d.x.data());
    d.attach(t.t, 0);
    t.p = c == 0 ? 0 : 3, t.n = c == 1 ? 0 : 40;
    EXPECT_EQ(_qordSSPooledCovariance(t.t, kPooledAll, c == 2 ? 1 : 2, nullptr), status[c]);
    EXPECT_TRUE(d.untouched_all()) << c;
  }
}

// A symmetric circulant has the Fourier vectors as eigenvectors, so its repair has a closed form:
// R(i, j) = sum_k l'_k cos(2 pi k (i - j)/p) / sum_k l'_k with l' the clipped spectrum. Also a 3 x 3
// case with a known answer and a definite one (only its diagonal becomes 1), each in place.
TEST(CorParametrization, ClosedFormsOfClippedSpectra) {
  const int p = 8;
  const LD row[p] = {1, 0.6, -0.3, 0.5, 0.2, 0.5, -0.3, 0.6}, tau = 2 * std::numbers::pi_v<LD>;
  auto dft = [&](auto&& r, int k) {
    LD s = 0;
    for (int j = 0; j < p; ++j) s += r(j) * std::cos(tau * j * k / p);
    return s;
  };
  LD lam[p], total = 0, ref[p];
  for (int k = 0; k < p; ++k) total += lam[k] = std::max(dft([&](int j) { return row[j]; }, k), 1e-14L);
  for (int k = 0; k < p; ++k) ref[k] = dft([&](int j) { return lam[j]; }, k) / total;
  Mat circ(p * p), neg = {1, .9, -.9, .9, 1, .9, -.9, .9, 1}, definite = {2, .3, .1, .3, 3, -.2, .1, -.2, 1};
  for (int i = 0; i < p * p; ++i) circ[i] = row[(i / p - i % p + p) % p];
  for (int f : {0, 1, 2})
    for (const Mat* m : {&circ, &neg, &definite}) {
      const int q = std::lround(std::sqrt(m->size()));
      Task t(q);
      std::vector<double> cor = store(*m, q, f);
      int64_t code = f;
      __qordSSEditMtxParametrz(t.t, cor.data(), &code, cor.data(), &code);
      ASSERT_EQ(_qordSSCorParametrization(t.t, 0, 4, nullptr), 0);
      for (int i = 0; i < q * q; ++i) {
        const int a = i / q, b = i % q;
        const double want = m == &circ  ? ref[(a - b + p) % p]
                            : a == b    ? 1.0
                            : m == &neg ? 0.5 * (*m)[i] / 0.9
                                        : (*m)[i];
        EXPECT_NEAR(cor[index(a, b, q, f)], want, m == &definite ? 0 : a == b ? 1e-13 : 1e-10) << q << f;
      }
      for (int k = 0; k < p && m == &circ; ++k)  // the repaired circulant's eigenvalues
        EXPECT_GE(dft([&](int j) { return cor[index(0, j, p, f)]; }, k), -1e-13);
    }
}

// Distances against the spectral form of the inverse, over block edges, both observation storages,
// a full inverse whose upper triangle is NaN (never read) and a packed one.
TEST(MahDistance, AgainstTheSpectralForm) {
  for (int p : {1, 3, 100}) {
    const int64_t n = 2600, first = 5, last = 2100, f = p == 100 ? 2 : 0;
    std::vector<LD> lambda(p), inv(p);
    for (int k = 0; k < p; ++k) inv[k] = 1 / (lambda[k] = 0.5L + k % 7);
    Mat q;
    std::vector<double> s = store(spectral(inv, p, &q), p, f), x(p * n + p), out(last - first + 1, kSentinel);
    for (int i = 0; i < p * p && f == 0; ++i) s[i] = i % p > i / p ? kNaN : s[i];
    for (size_t i = 0; i < x.size(); ++i) x[i] = 3 + 0.1 * std::sin(1.7 * i * i);  // the mean: the last p
    const bool cols = p == 3;
    Task t(p, n, x.data(), cols ? ZOK_SS_STORAGE_COLUMNS : ZOK_SS_STORAGE_ROWS);
    t.t->work_mean = x.data() + p * n, t.t->work_cov = s.data(), t.t->work_cov_storage = &f;
    t.t->work_first = first, t.t->work_last = last, t.t->work_out = out.data();
    ASSERT_EQ(_qordSSMahDistance(t.t, 0, 0, nullptr), 0);
    for (int64_t i = first; i < last; ++i) {
      LD d2 = 0;
      for (int k = 0; k < p; ++k) {
        LD proj = 0;
        for (int v = 0; v < p; ++v)
          proj += q[v * p + k] * ((cols ? x[i * p + v] : x[v * n + i]) - x[p * n + v]);
        d2 += proj * proj / lambda[k];
      }
      EXPECT_NEAR(out[i - first], std::sqrt(d2), 1e-12 * std::sqrt(d2));
    }
    EXPECT_EQ(out.back(), kSentinel);
  }
  Task t(2);
  EXPECT_TRUE(_qordSSMahDistance(nullptr, 0, 0, nullptr) == -4031 &&
              _qordSSMahDistance(t.t, 0, 0, nullptr) == -4029);
}

// The other single-precision forms share the templates: each once, on cases with known answers.
TEST(SinglePrecision, EachFormOnce) {
  // Groups {1, 2 | 0, 1} and {4, 7 | 1, 3}: cross-products (0.5, 0.5, 0.5) and (4.5, 3, 2), over 2.
  std::vector<float> x = {1, 2, 4, 7, 0, 1, 1, 3}, pm(2), pc(4), gm(4), gc(8), rep(9), mean = {0, 0};
  std::vector<float> cov = {4, 2, 2, 2}, bad = {1, .9f, -.9f, .9f, 1, .9f, -.9f, .9f, 1}, inv = {4, 0, 0, 1};
  std::vector<int64_t> groups = {0, 0, 1, 1}, sel = {1, 1}, partial = {1, -1};
  int64_t full = 0, p = 2, n = 4, xs = ZOK_SS_STORAGE_ROWS;
  SSTask* task = nullptr;
  ASSERT_EQ(__qorsSSNewTask(&task, &p, &n, &xs, x.data(), nullptr, nullptr, 1), 0);
  __qorsSSEditPooledCovariance(task, groups.data(), pm.data(), pc.data(), sel.data(), gm.data(), gc.data());
  __qoriSSEditTask(task, 29, &full);
  __qoriSSEditTask(task, 34, &full);
  ASSERT_EQ(_qorsSSPooledCovariance(task, kPooledAll, 2, nullptr), 0);
  EXPECT_EQ(std::vector<float>({gm[2], pc[0], pc[1], pc[3]}), std::vector<float>({5.5f, 2.5f, 1.75f, 1.25f}));
  __qorsSSEditPartialCovCor(task, partial.data(), cov.data(), &full, nullptr, nullptr, rep.data(), &full,
                            nullptr, nullptr);
  ASSERT_EQ(_qorsSSPartialCovariance(task, ZOK_SS_PARTIAL_COV, 1), 0);
  EXPECT_EQ(rep[0], 2.0f);  // 4 - 2 * 2 / 2
  task->work_mean = mean.data(), task->work_cov = inv.data(), task->work_last = 4, task->work_out = gc.data();
  ASSERT_EQ(_qorsSSMahDistance(task, 0, 0, nullptr), 0);
  EXPECT_FLOAT_EQ(gc[2], std::sqrt(4 * 16.0f + 1));
  p = 3;
  __qorsSSEditMtxParametrz(task, bad.data(), &full, rep.data(), &full);
  ASSERT_EQ(_qorsSSCorParametrization(task, 0, 4, nullptr), 0);
  EXPECT_NEAR(rep[1], 0.5, 1e-6);
  __qorSSDeleteTask(&task);
}

// Every allocation failing in turn: -4000 with the outputs untouched, until the call succeeds.
TEST(AllocationFailure, NothingWritten) {
  const std::vector<int64_t> sel = {1, -1, 1, -1, 0};
  const std::vector<double> in = store(spectral({1, 2, 3, 4, 5}, 4), 5);
  for (int routine = 0; routine < 2; ++routine)
    for (long k = 1;; ++k) {
      Groups d(12, 100, false);
      Task t(routine == 0 ? 12 : 5, 100, d.x.data());
      d.attach(t.t, 0);
      int64_t full = 0;
      __qordSSEditPartialCovCor(t.t, sel.data(), in.data(), &full, nullptr, nullptr, d.pc.data(), &full,
                                d.gc.data(), &full);
      zok::test::fail_allocation(k);
      const int32_t status = routine == 0 ? _qordSSPooledCovariance(t.t, kPooledAll, 2, nullptr)
                                          : _qordSSPartialCovariance(t.t, kPartialBoth, 1);
      zok::test::fail_allocation(0);
      if (status == 0) break;
      ASSERT_EQ(status, -4000) << routine << " " << k;
      EXPECT_TRUE(d.untouched_all()) << routine;
    }
}

}  // namespace

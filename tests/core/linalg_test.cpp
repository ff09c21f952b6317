// Core linear algebra: tridiagonal factor/solve without pivoting, the packed triangular product and
// the BLAS/LAPACK forwarders, each against an oracle written here (dense elimination, naive loops,
// hand-computed results).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "zok/core_services.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Entry (i, j) of a column-major matrix with leading dimension ld.
template <typename V>
auto& At(V& a, int ld, int i, int j) {
  return a[static_cast<size_t>(i) + static_cast<size_t>(j) * static_cast<size_t>(ld)];
}

// Bitwise comparison that treats NaNs as equal, for "nothing was written" checks.
template <typename T>
bool SameBits(const std::vector<T>& a, const std::vector<T>& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](T x, T y) {
           return (std::isnan(x) && std::isnan(y)) || x == y;
         });
}

// Gaussian elimination with partial pivoting for A X = B (ld n): shares nothing with the
// tridiagonal code.
std::vector<double> DenseSolve(std::vector<double> a, int n, std::vector<double> b, int nrhs) {
  for (int k = 0; k < n; ++k) {
    int p = k;
    for (int i = k + 1; i < n; ++i)
      if (std::fabs(At(a, n, i, k)) > std::fabs(At(a, n, p, k))) p = i;
    for (int j = 0; j < n; ++j) std::swap(At(a, n, k, j), At(a, n, p, j));
    for (int j = 0; j < nrhs; ++j) std::swap(At(b, n, k, j), At(b, n, p, j));
    for (int i = k + 1; i < n; ++i) {
      const double f = At(a, n, i, k) / At(a, n, k, k);
      for (int j = k; j < n; ++j) At(a, n, i, j) -= f * At(a, n, k, j);
      for (int j = 0; j < nrhs; ++j) At(b, n, i, j) -= f * At(b, n, k, j);
    }
  }
  for (int j = 0; j < nrhs; ++j)
    for (int i = n - 1; i >= 0; --i) {
      double s = At(b, n, i, j);
      for (int k = i + 1; k < n; ++k) s -= At(a, n, i, k) * At(b, n, k, j);
      At(b, n, i, j) = s / At(a, n, i, i);
    }
  return b;
}

// Right-hand sides in an ldb-high array; the rows below n hold a sentinel that must survive.
template <typename T>
std::vector<T> RandomRhs(int n, int nrhs, int ldb, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-2.0, 2.0);
  std::vector<T> b(static_cast<size_t>(ldb) * nrhs, static_cast<T>(-777.0));
  for (int j = 0; j < nrhs; ++j)
    for (int i = 0; i < n; ++i) At(b, ldb, i, j) = static_cast<T>(u(rng));
  return b;
}

// Tridiagonal systems

template <typename T>
struct Tri;
template <>
struct Tri<double> {
  static constexpr auto trf = &ddttrfb_4dfl;
  static constexpr auto trs = &ddttrsb_4dfl;
  static constexpr auto sv = &ddtsvb_4dfl;
  static constexpr double kTol = 1e-13;
};
template <>
struct Tri<float> {
  static constexpr auto trf = &sdttrfb_4dfl;
  static constexpr auto trs = &sdttrsb_4dfl;
  static constexpr auto sv = &sdtsvb_4dfl;
  static constexpr double kTol = 1e-5;
};

template <typename T>
struct TriSystem {
  int n;
  std::vector<T> dl, d, du;

  // Diagonally dominant by at least 0.5: no pivot vanishes and the condition stays small.
  static TriSystem Random(int n, std::mt19937& rng) {
    std::uniform_real_distribution<double> off(-1.0, 1.0), extra(0.5, 1.5);
    TriSystem s{n, std::vector<T>(std::max(n - 1, 1)), std::vector<T>(std::max(n, 1)),
                std::vector<T>(std::max(n - 1, 1))};
    for (int i = 0; i + 1 < n; ++i) {
      s.dl[i] = static_cast<T>(off(rng));
      s.du[i] = static_cast<T>(off(rng));
    }
    for (int i = 0; i < n; ++i) {
      double mag = extra(rng);
      if (i > 0) mag += std::fabs(static_cast<double>(s.dl[i - 1]));
      if (i + 1 < n) mag += std::fabs(static_cast<double>(s.du[i]));
      s.d[i] = static_cast<T>(off(rng) < 0 ? -mag : mag);
    }
    return s;
  }

  // Solves op(A) X = B0 with the dense oracle; B0 and the result are n x nrhs with ld n.
  std::vector<double> Oracle(bool transpose, const std::vector<T>& b0, int nrhs, int ldb) const {
    std::vector<double> a(static_cast<size_t>(n) * n, 0.0), rhs(static_cast<size_t>(n) * nrhs);
    for (int i = 0; i < n; ++i) At(a, n, i, i) = d[i];
    for (int i = 0; i + 1 < n; ++i) {
      At(a, n, transpose ? i : i + 1, transpose ? i + 1 : i) = dl[i];
      At(a, n, transpose ? i + 1 : i, transpose ? i : i + 1) = du[i];
    }
    for (int j = 0; j < nrhs; ++j)
      for (int i = 0; i < n; ++i) At(rhs, n, i, j) = At(b0, ldb, i, j);
    return DenseSolve(a, n, rhs, nrhs);
  }
};

template <typename T>
class TridiagTest : public ::testing::Test {};
using RealTypes = ::testing::Types<double, float>;
TYPED_TEST_SUITE(TridiagTest, RealTypes);

// Wrong factors, wrong transpose handling, or writes into the padding rows of b, for the
// factor-then-solve pair and the combined solve.
TYPED_TEST(TridiagTest, SolvesMatchDenseElimination) {
  using T = TypeParam;
  std::mt19937 rng(20240611u);
  for (int n : {1, 2, 3, 17, 200})
    for (int nrhs : {1, 4})
      for (char trans : {'N', 'T', 'C', 'n', 't', 'S'}) {  // 'S': the combined solve
        SCOPED_TRACE("n=" + std::to_string(n) + " nrhs=" + std::to_string(nrhs) + " trans=" + trans);
        const auto sys = TriSystem<T>::Random(n, rng);
        const int ldb = n + 3;
        const auto b0 = RandomRhs<T>(n, nrhs, ldb, rng);
        auto dl = sys.dl, d = sys.d, du = sys.du;
        auto b = b0;
        int info = 99;
        if (trans == 'S') {
          Tri<T>::sv(&n, &nrhs, dl.data(), d.data(), du.data(), b.data(), &ldb, &info);
        } else {
          Tri<T>::trf(&n, dl.data(), d.data(), du.data(), &info);
          ASSERT_EQ(info, 0);
          Tri<T>::trs(&trans, &n, &nrhs, dl.data(), d.data(), du.data(), b.data(), &ldb, &info);
        }
        ASSERT_EQ(info, 0);
        const auto x = sys.Oracle(trans != 'N' && trans != 'n' && trans != 'S', b0, nrhs, ldb);
        for (int j = 0; j < nrhs; ++j) {
          double scale = 1.0;
          for (int i = 0; i < n; ++i) scale = std::max(scale, std::fabs(At(x, n, i, j)));
          for (int i = 0; i < n; ++i)
            ASSERT_NEAR(At(b, ldb, i, j), At(x, n, i, j), Tri<T>::kTol * scale) << i << "," << j;
          for (int i = n; i < ldb; ++i) ASSERT_EQ(At(b, ldb, i, j), T(-777)) << "padding";
        }
      }
}

// The factor layout itself (pivots in d, multipliers in dl, du untouched) on a hand-computed system.
TYPED_TEST(TridiagTest, HandComputedSystem) {
  using T = TypeParam;
  // [2 1 0; 1 2 1; 0 1 2]: pivots 2, 3/2, 4/3 and multipliers 1/2, 2/3; A*(1,2,3) = (4,8,8).
  int n = 3, nrhs = 1, ldb = 3, info = 99;
  std::vector<T> dl{1, 1}, d{2, 2, 2}, du{1, 1}, b{4, 8, 8};
  Tri<T>::trf(&n, dl.data(), d.data(), du.data(), &info);
  ASSERT_EQ(info, 0);
  const double eps = std::numeric_limits<T>::epsilon() * 4, pivots[] = {2.0, 1.5, 4.0 / 3.0};
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(d[i], pivots[i], eps);
  for (int i = 0; i < 2; ++i) EXPECT_NEAR(dl[i], 1.0 / pivots[i], eps);
  EXPECT_EQ(du, (std::vector<T>{1, 1}));
  const char no = 'N';
  Tri<T>::trs(&no, &n, &nrhs, dl.data(), d.data(), du.data(), b.data(), &ldb, &info);
  ASSERT_EQ(info, 0);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(b[i], i + 1.0, 8 * eps);
}

// A zero pivot reports its 1-based position and stops there; the combined solve leaves b alone.
TYPED_TEST(TridiagTest, ZeroPivotReportsItsPosition) {
  using T = TypeParam;
  struct Case {
    std::vector<T> dl, d, du;
    int expect;
  };
  const std::vector<Case> cases = {
      {{1, 1}, {0, 2, 2}, {1, 1}, 1},
      {{1, 5, 5}, {1, 1, 3, 3}, {1, 5, 5}, 2},  // the second pivot 1 - 1*1 vanishes in elimination
      {{1}, {1, 1}, {1}, 2},                    // only the last pivot is zero
      {{7}, {0}, {7}, 1}};
  for (const Case& c : cases) {
    auto dl = c.dl, d = c.d, du = c.du;
    int n = static_cast<int>(d.size()), info = 0;
    Tri<T>::trf(&n, dl.data(), d.data(), du.data(), &info);
    EXPECT_EQ(info, c.expect) << "n=" << n;
    for (int i = c.expect; i < n; ++i)
      EXPECT_EQ(d[i], c.d[i]) << "n=" << n << ": pivot past the zero changed";
    for (int i = c.expect - 1; i + 1 < n; ++i) EXPECT_EQ(dl[i], c.dl[i]) << "n=" << n;
  }
  int n = 4, nrhs = 2, ldb = 4, info = 0;
  auto dl = cases[1].dl, d = cases[1].d, du = cases[1].du;
  std::vector<T> b{1, 2, 3, 4, 5, 6, 7, 8};
  const auto b0 = b;
  Tri<T>::sv(&n, &nrhs, dl.data(), d.data(), du.data(), b.data(), &ldb, &info);
  EXPECT_EQ(info, 2);
  EXPECT_TRUE(SameBits(b, b0));
}

// Illegal arguments report -position and write nothing; empty problems succeed without writing.
TYPED_TEST(TridiagTest, BadAndEmptyArguments) {
  using T = TypeParam;
  std::mt19937 rng(3u);
  const auto sys = TriSystem<T>::Random(4, rng);
  const auto b0 = RandomRhs<T>(4, 2, 5, rng);
  struct Case {
    char routine, trans;  // routine: 'r' trs, 'v' sv, 'f' trf
    int n, nrhs, ldb, expect;
  };
  for (const Case& c :
       {Case{'r', 'X', 4, 2, 5, -1}, Case{'r', '\0', -1, -1, 0, -1}, Case{'r', 'N', -1, 2, 5, -2},
        Case{'r', 'T', 4, -1, 5, -3}, Case{'r', 'N', 4, -1, 0, -3}, Case{'r', 'N', 4, 2, 3, -8},
        Case{'r', 'C', 0, 1, 0, -8}, Case{'f', 0, -1, 0, 0, -1}, Case{'v', 0, -1, 2, 5, -1},
        Case{'v', 0, -1, -1, 0, -1}, Case{'v', 0, 4, -1, 5, -2}, Case{'v', 0, 4, 2, 3, -7},
        Case{'v', 0, 0, 1, 0, -7}, Case{'f', 0, 0, 0, 0, 0}, Case{'r', 'T', 0, 1, 1, 0},
        Case{'v', 0, 0, 1, 1, 0}, Case{'r', 'T', 1, 0, 2, 0}}) {
    SCOPED_TRACE(std::string(1, c.routine) + " trans=" + std::to_string(c.trans) + " n=" +
                 std::to_string(c.n) + " nrhs=" + std::to_string(c.nrhs) + " ldb=" + std::to_string(c.ldb));
    auto dl = sys.dl, d = sys.d, du = sys.du;
    auto b = b0;
    int info = 12345;
    if (c.routine == 'r')
      Tri<T>::trs(&c.trans, &c.n, &c.nrhs, dl.data(), d.data(), du.data(), b.data(), &c.ldb, &info);
    if (c.routine == 'v') Tri<T>::sv(&c.n, &c.nrhs, dl.data(), d.data(), du.data(), b.data(), &c.ldb, &info);
    if (c.routine == 'f') Tri<T>::trf(&c.n, dl.data(), d.data(), du.data(), &info);
    EXPECT_EQ(info, c.expect);
    EXPECT_TRUE(SameBits(b, b0) && SameBits(dl, sys.dl) && SameBits(d, sys.d) && SameBits(du, sys.du));
  }
}

// Triangular products

template <typename T>
struct Tr;
template <>
struct Tr<double> {
  static constexpr auto ptrmm = &zok_blas4yub_dptrmm;
  static constexpr auto trmm = &zok_blas4yub_dtrmm;
  static constexpr auto trmm_plain = &zok_blas_dtrmm;
  static constexpr auto trmm_x = &zok_blas_xdtrmm_4yub;
};
template <>
struct Tr<float> {
  static constexpr auto ptrmm = &zok_blas4yub_sptrmm;
  static constexpr auto trmm = &zok_blas4yub_strmm;
  static constexpr auto trmm_plain = &zok_blas_strmm;
  static constexpr auto trmm_x = &zok_blas_xstrmm_4yub;
};

struct TrmmShape {
  char side, uplo, trans, diag;
  int m, n;
  int Order() const { return side == 'L' ? m : n; }
  std::string Describe() const {
    return std::string("side=") + side + " uplo=" + uplo + " trans=" + trans + " diag=" + diag +
           " m=" + std::to_string(m) + " n=" + std::to_string(n);
  }
};

std::vector<TrmmShape> AllTrmmShapes(int m, int n) {
  std::vector<TrmmShape> shapes;
  for (char side : {'L', 'R'})
    for (char uplo : {'U', 'L'})
      for (char trans : {'N', 'T'})
        for (char diag : {'N', 'U'}) shapes.push_back({side, uplo, trans, diag, m, n});
  return shapes;
}

// A k x k matrix whose referenced triangle is random; what trmm must not read (the other triangle,
// and a unit diagonal) is NaN so that reading it shows in the result.
template <typename T>
std::vector<T> RandomTriangle(int k, char uplo, char diag, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<T> a(static_cast<size_t>(k) * k, static_cast<T>(kNaN));
  for (int j = 0; j < k; ++j)
    for (int i = 0; i < k; ++i)
      if ((uplo == 'U' ? i < j : i > j) || (i == j && diag == 'N')) At(a, k, i, j) = static_cast<T>(u(rng));
  return a;
}

// Column-major packing as in BLAS tpmv; the diagonal is copied even when unit (then it is NaN).
template <typename T>
std::vector<T> Pack(const std::vector<T>& a, int k, char uplo) {
  std::vector<T> ap;
  for (int j = 0; j < k; ++j)
    for (int i = uplo == 'U' ? 0 : j; i < (uplo == 'U' ? j + 1 : k); ++i) ap.push_back(At(a, k, i, j));
  return ap;
}

// Naive alpha*op(A)*B or alpha*B*op(A) in double; `bound` gets the same sum over absolute values,
// the scale of the rounding error any implementation may make.
template <typename T>
std::vector<double> NaiveTrmm(const TrmmShape& s, double alpha, const std::vector<T>& a,
                              const std::vector<T>& b, int ldb, std::vector<double>* bound) {
  const int k = s.Order();
  auto op = [&](int i, int j) -> double {
    const int r = s.trans == 'N' ? i : j, c = s.trans == 'N' ? j : i;
    if (r == c) return s.diag == 'U' ? 1.0 : static_cast<double>(At(a, k, r, c));
    return (s.uplo == 'U' ? r < c : r > c) ? static_cast<double>(At(a, k, r, c)) : 0.0;
  };
  std::vector<double> out(static_cast<size_t>(s.m) * s.n, 0.0);
  bound->assign(out.size(), 0.0);
  for (int i = 0; i < s.m; ++i)
    for (int j = 0; j < s.n; ++j) {
      double sum = 0.0, abs_sum = 0.0;
      for (int p = 0; p < k; ++p) {
        const double t = s.side == 'L' ? op(i, p) * At(b, ldb, p, j) : At(b, ldb, i, p) * op(p, j);
        sum += t;
        abs_sum += std::fabs(t);
      }
      At(out, s.m, i, j) = alpha * sum;
      At(*bound, s.m, i, j) = std::fabs(alpha) * abs_sum;
    }
  return out;
}

template <typename T>
class TrmmTest : public ::testing::Test {};
TYPED_TEST_SUITE(TrmmTest, RealTypes);

// Every side/uplo/trans/diag form of the packed and the three full-storage products against the
// naive product, reading nothing outside the triangle and writing no padding row of b; lower-case
// options and 'C' (the same as 'T' for real data) give bit-identical packed results.
TYPED_TEST(TrmmTest, PackedAndFullStorageMatchNaiveProduct) {
  using T = TypeParam;
  std::mt19937 rng(424242u);
  const T alpha = static_cast<T>(-1.75);
  const double eps = std::numeric_limits<T>::epsilon();
  auto lc = [](char c) { return static_cast<char>(c - 'A' + 'a'); };
  for (auto [m, n] : {std::pair{5, 3}, std::pair{3, 6}, std::pair{1, 4}, std::pair{4, 1}, std::pair{4, 3}}) {
    for (const TrmmShape& s : AllTrmmShapes(m, n)) {
      SCOPED_TRACE(s.Describe());
      const int k = s.Order(), ldb = m + 3;
      const auto a = RandomTriangle<T>(k, s.uplo, s.diag, rng);
      const auto ap = Pack(a, k, s.uplo);
      const auto b0 = RandomRhs<T>(m, n, ldb, rng);
      std::vector<double> bound;
      const auto expect = NaiveTrmm(s, alpha, a, b0, ldb, &bound);
      auto packed = b0, lower = b0;
      Tr<T>::ptrmm(&s.side, &s.uplo, &s.trans, &s.diag, &m, &n, &alpha, ap.data(), packed.data(), &ldb);
      const char side = lc(s.side), uplo = lc(s.uplo), diag = lc(s.diag), trans = s.trans == 'T' ? 'c' : 'n';
      Tr<T>::ptrmm(&side, &uplo, &trans, &diag, &m, &n, &alpha, ap.data(), lower.data(), &ldb);
      ASSERT_TRUE(SameBits(packed, lower)) << "lower-case options";
      for (auto full : {Tr<T>::trmm, Tr<T>::trmm_plain, Tr<T>::trmm_x, decltype(Tr<T>::trmm){}}) {
        auto b = packed;
        if (full) {
          b = b0;
          full(&s.side, &s.uplo, &s.trans, &s.diag, &m, &n, &alpha, a.data(), &k, b.data(), &ldb);
        }
        for (int j = 0; j < n; ++j) {
          for (int i = 0; i < m; ++i)
            ASSERT_NEAR(At(b, ldb, i, j), At(expect, m, i, j),
                        4.0 * (k + 2) * eps * At(bound, m, i, j) + 1e-300)
                << (full ? "full" : "packed") << " at " << i << "," << j;
          for (int i = m; i < ldb && !full; ++i) ASSERT_EQ(At(b, ldb, i, j), T(-777)) << "padding";
        }
      }
    }
  }
}

// alpha = 0 sets B to zero (even NaN entries) without reading A, and leaves the padding alone.
TYPED_TEST(TrmmTest, PackedZeroAlphaClearsWithoutReadingA) {
  using T = TypeParam;
  const T zero = 0;
  int m = 3, n = 2, ldb = 5;
  const std::vector<T> ap(6, static_cast<T>(kNaN));
  for (const TrmmShape& s : AllTrmmShapes(m, n)) {
    std::vector<T> b(static_cast<size_t>(ldb) * n, static_cast<T>(kNaN));
    for (int j = 0; j < n; ++j)
      for (int i = m; i < ldb; ++i) At(b, ldb, i, j) = T(-777);
    Tr<T>::ptrmm(&s.side, &s.uplo, &s.trans, &s.diag, &m, &n, &zero, ap.data(), b.data(), &ldb);
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < ldb; ++i) EXPECT_EQ(At(b, ldb, i, j), i < m ? T(0) : T(-777)) << s.Describe();
  }
}

// Empty shapes and every kind of illegal argument leave B untouched.
TYPED_TEST(TrmmTest, PackedEmptyAndInvalidArgumentsLeaveBUntouched) {
  using T = TypeParam;
  std::mt19937 rng(11u);
  const T alpha = 2;
  const auto ap = Pack(RandomTriangle<T>(4, 'U', 'N', rng), 4, 'U');
  const auto b0 = RandomRhs<T>(4, 4, 4, rng);
  struct Case {
    TrmmShape s;
    int ldb;
  };
  for (const Case& c : {Case{{'L', 'U', 'N', 'N', 0, 4}, 1}, Case{{'R', 'U', 'N', 'N', 4, 0}, 4},
                        Case{{'X', 'U', 'N', 'N', 4, 4}, 4}, Case{{'L', 'X', 'N', 'N', 4, 4}, 4},
                        Case{{'L', 'U', 'X', 'N', 4, 4}, 4}, Case{{'L', 'U', 'N', 'X', 4, 4}, 4},
                        Case{{'L', 'U', 'N', 'N', -1, 4}, 4}, Case{{'L', 'U', 'N', 'N', 4, -1}, 4},
                        Case{{'L', 'U', 'N', 'N', 4, 4}, 3}, Case{{'R', 'U', 'N', 'N', 0, 4}, 0}}) {
    const TrmmShape& s = c.s;
    auto b = b0;
    Tr<T>::ptrmm(&s.side, &s.uplo, &s.trans, &s.diag, &s.m, &s.n, &alpha, ap.data(), b.data(), &c.ldb);
    EXPECT_TRUE(SameBits(b, b0)) << s.Describe() << " ldb=" << c.ldb;
  }
}

// BLAS forwarders

// Every transpose combination of both gemm entry points: C = 2*A*B - C0 with A = [1 2 3; 4 5 6],
// B = [7 8; 9 10; 11 12], A*B = [58 64; 139 154]; at and bt hold the transposes.
template <typename T, typename Gemm>
void CheckGemm(Gemm gemm, char ta, char tb) {
  const std::vector<T> a{1, 4, 2, 5, 3, 6}, at{1, 2, 3, 4, 5, 6}, b{7, 9, 11, 8, 10, 12},
      bt{7, 8, 9, 10, 11, 12};
  std::vector<T> c{1, 2, 3, 4};
  const int m = 2, n = 2, k = 3, lda = ta == 'N' ? 2 : 3, ldb = tb == 'N' ? 3 : 2;
  const T alpha = 2, beta = -1;
  gemm(&ta, &tb, &m, &n, &k, &alpha, (ta == 'N' ? a : at).data(), &lda, (tb == 'N' ? b : bt).data(), &ldb,
       &beta, c.data(), &m);
  EXPECT_EQ(c, (std::vector<T>{115, 276, 125, 304})) << ta << tb;
}

TEST(BlasForwarders, GemmHandComputed) {
  CheckGemm<double>(zok_blas_dgemm, 'N', 'N');
  CheckGemm<double>(zok_blas_xdgemm, 'T', 'N');
  CheckGemm<double>(zok_blas_dgemm, 'N', 'T');
  CheckGemm<double>(zok_blas_xdgemm, 'T', 'T');
  CheckGemm<float>(zok_blas_sgemm, 'N', 'N');
  CheckGemm<float>(zok_blas_xsgemm, 'T', 'N');
  CheckGemm<float>(zok_blas_sgemm, 'N', 'T');
}

// alpha/beta, transpose and a strided x, with A = [1 2 3; 4 5 6].
TEST(BlasForwarders, GemvHandComputed) {
  const std::vector<double> a{1, 4, 2, 5, 3, 6}, x{1, 0, -1}, x2{1, -100, 2};
  const int m = 2, n = 3, one = 1, two = 2;
  const char no = 'N', tr = 'T';
  const double d1 = 1, half = 0.5, d0 = 0;
  std::vector<double> y{10, 20};  // A*(1, 0, -1) + 0.5*(10, 20)
  zok_blas_dgemv(&no, &m, &n, &d1, a.data(), &two, x.data(), &one, &half, y.data(), &one);
  EXPECT_EQ(y, (std::vector<double>{3, 8}));
  y = {5, 5, 5};  // A^T*(1, 2) with x read at stride 2
  zok_blas_dgemv(&tr, &m, &n, &d1, a.data(), &two, x2.data(), &two, &d0, y.data(), &one);
  EXPECT_EQ(y, (std::vector<double>{9, 12, 15}));
  const std::vector<float> af(a.begin(), a.end()), xf(x.begin(), x.end());
  std::vector<float> yf{10, 20};
  const float fm1 = -1, f1 = 1;
  zok_blas_sgemv(&no, &m, &n, &fm1, af.data(), &two, xf.data(), &one, &f1, yf.data(), &one);
  EXPECT_EQ(yf, (std::vector<float>{12, 22}));
}

// A random ld x n matrix with the sentinel -777 outside the `uplo` triangle (none for uplo 0).
template <typename T>
std::vector<T> RandomWithSentinel(int ld, int n, char uplo, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<T> a(static_cast<size_t>(ld) * n);
  for (auto& v : a) v = static_cast<T>(u(rng));
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i)
      if (uplo && (uplo == 'U' ? i > j : i < j)) At(a, ld, i, j) = T(-777);
  return a;
}

// Symmetric rank-k update against a naive loop on the referenced triangle; the other keeps its
// sentinel.
template <typename T, typename Syrk>
void CheckSyrk(Syrk syrk, char uplo, char trans) {
  std::mt19937 rng(17u);
  const int n = 4, k = 3, ldc = 5, rows = trans == 'N' ? n : k, cols = trans == 'N' ? k : n, lda = rows + 1;
  const auto a = RandomWithSentinel<T>(lda, cols, 0, rng);
  auto c = RandomWithSentinel<T>(ldc, n, uplo, rng);
  const auto c0 = c;
  const T alpha = static_cast<T>(1.5), beta = static_cast<T>(-0.5);
  syrk(&uplo, &trans, &n, &k, &alpha, a.data(), &lda, &beta, c.data(), &ldc);
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      double s = 0;
      for (int p = 0; p < k; ++p)
        s += trans == 'N' ? double(At(a, lda, i, p)) * At(a, lda, j, p)
                          : double(At(a, lda, p, i)) * At(a, lda, p, j);
      if (uplo == 'U' ? i > j : i < j)
        EXPECT_EQ(At(c, ldc, i, j), T(-777));
      else
        EXPECT_NEAR(At(c, ldc, i, j), alpha * s + beta * double(At(c0, ldc, i, j)),
                    16 * std::numeric_limits<T>::epsilon())
            << uplo << trans << " " << i << "," << j;
    }
}

// Symmetric rank-1 update with a strided x, likewise.
template <typename T, typename Syr>
void CheckSyr(Syr syr, char uplo) {
  std::mt19937 rng(23u);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const int n = 4, lda = 4, incx = 2;
  std::vector<T> x(static_cast<size_t>(n) * incx);
  for (auto& v : x) v = static_cast<T>(u(rng));
  auto a = RandomWithSentinel<T>(lda, n, uplo, rng);
  const auto a0 = a;
  const T alpha = static_cast<T>(-2.0);
  syr(&uplo, &n, &alpha, x.data(), &incx, a.data(), &lda);
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i)
      if (uplo == 'U' ? i > j : i < j)
        EXPECT_EQ(At(a, lda, i, j), T(-777));
      else
        EXPECT_NEAR(At(a, lda, i, j), double(At(a0, lda, i, j)) + alpha * double(x[i * incx]) * x[j * incx],
                    8 * std::numeric_limits<T>::epsilon())
            << uplo << " " << i << "," << j;
}

TEST(BlasForwarders, SyrkAndSyrMatchNaiveLoop) {
  CheckSyrk<double>(zok_blas_dsyrk, 'U', 'N');
  CheckSyrk<double>(zok_blas_xdsyrk, 'L', 'T');
  CheckSyrk<float>(zok_blas_ssyrk, 'L', 'N');
  CheckSyrk<float>(zok_blas_xssyrk, 'U', 'T');
  CheckSyr<double>(zok_blas_dsyr, 'L');
  CheckSyr<double>(zok_blas_xdsyr, 'U');
  CheckSyr<float>(zok_blas_ssyr, 'U');
  CheckSyr<float>(zok_blas_xssyr, 'L');
}

// symm against a naive loop; only the `uplo` triangle of A is given, the other is NaN.
template <typename T, typename Symm>
void CheckSymm(Symm symm, char side, char uplo) {
  std::mt19937 rng(29u);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const int m = 3, n = 2, k = side == 'L' ? m : n, lda = k, ldb = m + 1, ldc = m + 2;
  std::vector<T> a(static_cast<size_t>(lda) * k, static_cast<T>(kNaN));
  for (int j = 0; j < k; ++j)
    for (int i = 0; i < k; ++i)
      if (uplo == 'U' ? i <= j : i >= j) At(a, lda, i, j) = static_cast<T>(u(rng));
  auto sym = [&](int i, int j) -> double {
    return (uplo == 'U') == (i <= j) ? double(At(a, lda, i, j)) : double(At(a, lda, j, i));
  };
  std::vector<T> b(static_cast<size_t>(ldb) * n), c(static_cast<size_t>(ldc) * n);
  for (auto& v : b) v = static_cast<T>(u(rng));
  for (auto& v : c) v = static_cast<T>(u(rng));
  const auto c0 = c;
  const T alpha = static_cast<T>(0.75), beta = static_cast<T>(2.0);
  symm(&side, &uplo, &m, &n, &alpha, a.data(), &lda, b.data(), &ldb, &beta, c.data(), &ldc);
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < m; ++i) {
      double s = 0;
      for (int p = 0; p < k; ++p)
        s += side == 'L' ? sym(i, p) * At(b, ldb, p, j) : At(b, ldb, i, p) * sym(p, j);
      EXPECT_NEAR(At(c, ldc, i, j), alpha * s + beta * double(At(c0, ldc, i, j)),
                  16 * std::numeric_limits<T>::epsilon())
          << side << uplo << " " << i << "," << j;
    }
}

TEST(BlasForwarders, SymmMatchesNaiveLoop) {
  CheckSymm<float>(zok_blas_xssymm, 'L', 'U');
  CheckSymm<float>(zok_blas_xssymm, 'R', 'L');
  CheckSymm<double>(zok_blas_xdsymm, 'L', 'L');
  CheckSymm<double>(zok_blas_xdsymm, 'R', 'U');
}

// LAPACK forwarders

// Cholesky of A = L*L^T with a known L, the other triangle untouched, A*inv(A) = I, and the failing
// leading minor of a matrix that is not positive definite.
TEST(LapackForwarders, CholeskyAndInverseOfKnownMatrix) {
  const std::vector<double> a0{4, 2, 4, 2, 10, 5, 4, 5, 21}, l{2, 1, 2, 0, 3, 1, 0, 0, 4};
  const int n = 3;
  int info = 99;
  for (char uplo : {'L', 'U'}) {
    auto a = a0;
    zok_lapack_dpotrf(&uplo, &n, a.data(), &n, &info);
    ASSERT_EQ(info, 0);
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i) {
        if (uplo == 'L' ? i < j : i > j)
          EXPECT_EQ(At(a, n, i, j), At(a0, n, i, j)) << "other triangle written";
        else
          EXPECT_NEAR(At(a, n, i, j), uplo == 'L' ? At(l, 3, i, j) : At(l, 3, j, i), 1e-14) << uplo;
      }
    zok_lapack_dpotri(&uplo, &n, a.data(), &n, &info);
    ASSERT_EQ(info, 0);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        double s = 0;
        for (int p = 0; p < n; ++p)
          s += At(a0, 3, i, p) * ((uplo == 'L') == (p >= j) ? At(a, n, p, j) : At(a, n, j, p));
        EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 1e-13) << uplo << " " << i << "," << j;
      }
  }
  std::vector<float> af(a0.begin(), a0.end());
  const char lower = 'L', upper = 'U';
  zok_lapack_spotrf(&lower, &n, af.data(), &n, &info);
  ASSERT_EQ(info, 0);
  for (int j = 0; j < n; ++j)
    for (int i = j; i < n; ++i) EXPECT_NEAR(At(af, n, i, j), At(l, 3, i, j), 1e-6);
  zok_lapack_spotri(&lower, &n, af.data(), &n, &info);
  ASSERT_EQ(info, 0);
  EXPECT_NEAR(af[0], 185.0 / 576.0, 1e-6);  // (10*21 - 25) / det(A), det(A) = det(L)^2 = 576
  std::vector<double> indefinite{1, 2, 2, 1};
  const int two = 2;
  zok_lapack_dpotrf(&upper, &two, indefinite.data(), &two, &info);
  EXPECT_EQ(info, 2);
}

// Triangular inverses (unit diagonal not read, other triangle untouched) and a singular diagonal.
TEST(LapackForwarders, TriangularInverseHandComputed) {
  const int n = 3, two = 2;
  const char upper = 'U', lower = 'L', unit = 'U', non_unit = 'N';
  int info = 99;
  // inv([1 2 3; 0 1 4; 0 0 1]) = [1 -2 5; 0 1 -4; 0 0 1].
  std::vector<float> a{7, -777, -777, 2, 7, -777, 3, 4, 7};
  zok_lapack_strtri(&upper, &unit, &n, a.data(), &n, &info);
  ASSERT_EQ(info, 0);
  EXPECT_EQ(a, (std::vector<float>{7, -777, -777, -2, 7, -777, 5, -4, 7}));
  std::vector<double> b{2, 1, -777, 4};  // inv([2 0; 1 4]) = [1/2 0; -1/8 1/4]
  zok_lapack_dtrtri(&lower, &non_unit, &two, b.data(), &two, &info);
  ASSERT_EQ(info, 0);
  EXPECT_EQ(b, (std::vector<double>{0.5, -0.125, -777, 0.25}));
  std::vector<double> singular{1, 0, 1, 0};  // [1 1; 0 0]
  zok_lapack_dtrtri(&upper, &non_unit, &two, singular.data(), &two, &info);
  EXPECT_EQ(info, 2);
}

// tridiag(1, 2, 1) of order 3 has eigenvalues 2 - sqrt(2), 2, 2 + sqrt(2).
const std::vector<double> kTri3{2, 1, 0, 1, 2, 1, 0, 1, 2};
const double kTri3Eigen[3] = {2 - std::sqrt(2.0), 2.0, 2 + std::sqrt(2.0)};

// The eigenvalues, and columns of z (leading dimension ldz) that are orthonormal eigenvectors.
template <typename T>
void ExpectEigenpairs(const std::vector<T>& z, int ldz, const T* w, double wtol, double tol) {
  for (int e = 0; e < 3; ++e) {
    EXPECT_NEAR(w[e], kTri3Eigen[e], wtol);
    double norm = 0;
    for (int i = 0; i < 3; ++i) {
      double av = 0;
      for (int p = 0; p < 3; ++p) av += At(kTri3, 3, i, p) * At(z, ldz, p, e);
      EXPECT_NEAR(av, double(w[e]) * At(z, ldz, i, e), tol) << "eigenpair " << e;
      norm += double(At(z, ldz, i, e)) * At(z, ldz, i, e);
    }
    EXPECT_NEAR(norm, 1.0, tol);
  }
}

// Workspace query then solve; the triangle not named by uplo is NaN and must not be read.
TEST(LapackForwarders, SyevKnownEigenvalues) {
  const int n = 3, lda = 4;
  const char jobz = 'V', uplo = 'L';
  std::vector<double> a(static_cast<size_t>(lda) * n, kNaN);
  for (int j = 0; j < n; ++j)
    for (int i = j; i < n; ++i) At(a, lda, i, j) = At(kTri3, 3, i, j);
  double w[3], query = 0;
  int lwork = -1, info = 99;
  zok_lapack_dsyev(&jobz, &uplo, &n, a.data(), &lda, w, &query, &lwork, &info);
  ASSERT_EQ(info, 0);
  ASSERT_GE(query, 3 * n - 1);
  lwork = static_cast<int>(query);
  std::vector<double> work(lwork);
  zok_lapack_dsyev(&jobz, &uplo, &n, a.data(), &lda, w, work.data(), &lwork, &info);
  ASSERT_EQ(info, 0);
  ExpectEigenpairs(a, lda, w, 1e-14, 1e-13);
  std::vector<float> af(kTri3.begin(), kTri3.end());
  float wf[3], workf[16];
  const char values = 'N', up = 'U';
  const int lworkf = 16;
  zok_lapack_ssyev(&values, &up, &n, af.data(), &n, wf, workf, &lworkf, &info);
  ASSERT_EQ(info, 0);
  for (int e = 0; e < 3; ++e) EXPECT_NEAR(wf[e], kTri3Eigen[e], 1e-6);
}

// Packed storage: the workspace query returns at least the documented minimums for jobz = 'V'
// (1 + 6n + n^2 and 3 + 5n), and the solve with them gives the known eigenpairs.
template <typename T, typename Spevd>
void CheckSpevd(Spevd spevd, char uplo, std::vector<T> ap, double wtol, double tol) {
  const int n = 3, ldz = 3;
  const char jobz = 'V';
  std::vector<T> z(9);
  T w[3], work_query = 0;
  int iwork_query = 0, lwork = -1, liwork = -1, info = 99;
  spevd(&jobz, &uplo, &n, ap.data(), w, z.data(), &ldz, &work_query, &lwork, &iwork_query, &liwork, &info);
  ASSERT_EQ(info, 0);
  ASSERT_GE(work_query, 1 + 6 * n + n * n);
  ASSERT_GE(iwork_query, 3 + 5 * n);
  lwork = static_cast<int>(work_query);
  liwork = iwork_query;
  std::vector<T> work(lwork);
  std::vector<int> iwork(liwork);
  spevd(&jobz, &uplo, &n, ap.data(), w, z.data(), &ldz, work.data(), &lwork, iwork.data(), &liwork, &info);
  ASSERT_EQ(info, 0);
  ExpectEigenpairs(z, ldz, w, wtol, tol);
}

TEST(LapackForwarders, SpevdWorkspaceQueryThenSolve) {
  // Upper packed by columns: a00 | a01 a11 | a02 a12 a22; lower: a00 a10 a20 | a11 a21 | a22.
  CheckSpevd<double>(zok_lapack_dspevd, 'U', {2, 1, 2, 0, 1, 2}, 1e-14, 1e-13);
  CheckSpevd<float>(zok_lapack_sspevd, 'L', {2, 1, 0, 2, 1, 2}, 1e-6, 1e-5);
}

}  // namespace

// Tests of the core linear algebra: tridiagonal factor/solve without pivoting, the packed triangular
// matrix product, and the BLAS/LAPACK forwarders, each against an oracle written here.
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
template <typename T>
T& At(std::vector<T>& a, int ld, int i, int j) {
  return a[static_cast<size_t>(i) + static_cast<size_t>(j) * static_cast<size_t>(ld)];
}
template <typename T>
T At(const std::vector<T>& a, int ld, int i, int j) {
  return a[static_cast<size_t>(i) + static_cast<size_t>(j) * static_cast<size_t>(ld)];
}

// Bitwise comparison that also treats identical NaNs as equal, for "nothing was written" checks.
template <typename T>
bool SameBits(const std::vector<T>& a, const std::vector<T>& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](T x, T y) {
           return (std::isnan(x) && std::isnan(y)) || x == y;
         });
}

// Solves A X = B (A n x n, B n x nrhs, both column-major with ld n) by Gaussian elimination with
// partial pivoting: an oracle that shares nothing with the tridiagonal code.
std::vector<double> DenseSolve(std::vector<double> a, int n, std::vector<double> b, int nrhs) {
  for (int k = 0; k < n; ++k) {
    int p = k;
    for (int i = k + 1; i < n; ++i)
      if (std::fabs(At(a, n, i, k)) > std::fabs(At(a, n, p, k))) p = i;
    if (p != k) {
      for (int j = 0; j < n; ++j) std::swap(At(a, n, k, j), At(a, n, p, j));
      for (int j = 0; j < nrhs; ++j) std::swap(At(b, n, k, j), At(b, n, p, j));
    }
    for (int i = k + 1; i < n; ++i) {
      const double f = At(a, n, i, k) / At(a, n, k, k);
      for (int j = k; j < n; ++j) At(a, n, i, j) -= f * At(a, n, k, j);
      for (int j = 0; j < nrhs; ++j) At(b, n, i, j) -= f * At(b, n, k, j);
    }
  }
  for (int j = 0; j < nrhs; ++j) {
    for (int i = n - 1; i >= 0; --i) {
      double s = At(b, n, i, j);
      for (int k = i + 1; k < n; ++k) s -= At(a, n, i, k) * At(b, n, k, j);
      At(b, n, i, j) = s / At(a, n, i, i);
    }
  }
  return b;
}

// ------------------------------------------------------------------------------------------------
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

  // Strictly diagonally dominant with a margin of at least 0.5, so no pivot can vanish and the
  // condition number stays small whatever n is.
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

  // The dense matrix, or its transpose.
  std::vector<double> Dense(bool transpose) const {
    std::vector<double> a(static_cast<size_t>(n) * n, 0.0);
    for (int i = 0; i < n; ++i) At(a, n, i, i) = d[i];
    for (int i = 0; i + 1 < n; ++i) {
      At(a, n, transpose ? i : i + 1, transpose ? i + 1 : i) = dl[i];
      At(a, n, transpose ? i + 1 : i, transpose ? i : i + 1) = du[i];
    }
    return a;
  }
};

// Right-hand sides in an ldb-high array; the rows below n hold a sentinel that must survive.
template <typename T>
std::vector<T> RandomRhs(int n, int nrhs, int ldb, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-2.0, 2.0);
  std::vector<T> b(static_cast<size_t>(ldb) * nrhs, static_cast<T>(-777.0));
  for (int j = 0; j < nrhs; ++j)
    for (int i = 0; i < n; ++i) At(b, ldb, i, j) = static_cast<T>(u(rng));
  return b;
}

// Compares the n x nrhs solution in b (leading dimension ldb) with the dense oracle for the
// original right-hand sides b0, and checks that the padding rows kept their sentinel.
template <typename T>
void ExpectSolution(const TriSystem<T>& sys, bool transpose, const std::vector<T>& b0,
                    const std::vector<T>& b, int nrhs, int ldb, double tol, const std::string& what) {
  const int n = sys.n;
  std::vector<double> rhs(static_cast<size_t>(n) * nrhs);
  for (int j = 0; j < nrhs; ++j)
    for (int i = 0; i < n; ++i) At(rhs, n, i, j) = At(b0, ldb, i, j);
  const std::vector<double> x = DenseSolve(sys.Dense(transpose), n, rhs, nrhs);
  for (int j = 0; j < nrhs; ++j) {
    double scale = 0.0;
    for (int i = 0; i < n; ++i) scale = std::max(scale, std::fabs(At(x, n, i, j)));
    for (int i = 0; i < n; ++i)
      ASSERT_NEAR(At(b, ldb, i, j), At(x, n, i, j), tol * std::max(scale, 1.0))
          << what << " row " << i << " column " << j;
    for (int i = n; i < ldb; ++i) ASSERT_EQ(At(b, ldb, i, j), static_cast<T>(-777.0)) << what << " padding";
  }
}

template <typename T>
class TridiagTest : public ::testing::Test {};
using RealTypes = ::testing::Types<double, float>;
TYPED_TEST_SUITE(TridiagTest, RealTypes);

TYPED_TEST(TridiagTest, FactorThenSolveMatchesDenseElimination) {
  using T = TypeParam;
  std::mt19937 rng(20240611u);
  for (int n : {1, 2, 3, 17, 200}) {
    for (int nrhs : {1, 4}) {
      for (char trans : {'N', 'T', 'C', 'n', 't'}) {
        const auto sys = TriSystem<T>::Random(n, rng);
        const int ldb = n + 3;
        const auto b0 = RandomRhs<T>(n, nrhs, ldb, rng);
        auto dl = sys.dl, d = sys.d, du = sys.du;
        auto b = b0;
        int info = 99;
        Tri<T>::trf(&n, dl.data(), d.data(), du.data(), &info);
        ASSERT_EQ(info, 0);
        Tri<T>::trs(&trans, &n, &nrhs, dl.data(), d.data(), du.data(), b.data(), &ldb, &info);
        ASSERT_EQ(info, 0);
        const std::string what =
            "n=" + std::to_string(n) + " nrhs=" + std::to_string(nrhs) + " trans=" + trans;
        const bool transpose = trans != 'N' && trans != 'n';
        ExpectSolution(sys, transpose, b0, b, nrhs, ldb, Tri<T>::kTol, what);
      }
    }
  }
}

TYPED_TEST(TridiagTest, FactorsReproduceTheMatrixAndLeaveSuperDiagonal) {
  using T = TypeParam;
  std::mt19937 rng(7u);
  int n = 17;
  const auto sys = TriSystem<T>::Random(n, rng);
  auto dl = sys.dl, d = sys.d, du = sys.du;
  int info = 99;
  Tri<T>::trf(&n, dl.data(), d.data(), du.data(), &info);
  ASSERT_EQ(info, 0);
  EXPECT_TRUE(SameBits(du, sys.du));
  // L*U has sub-diagonal l_i*u_ii, diagonal u_ii + l_{i-1}*du_{i-1} and super-diagonal du.
  EXPECT_EQ(d[0], sys.d[0]);
  for (int i = 0; i + 1 < n; ++i) {
    EXPECT_NEAR(static_cast<double>(dl[i]) * d[i], sys.dl[i], Tri<T>::kTol * 10) << i;
    EXPECT_NEAR(d[i + 1] + static_cast<double>(dl[i]) * du[i], sys.d[i + 1], Tri<T>::kTol * 10) << i;
  }
}

TYPED_TEST(TridiagTest, CombinedSolveMatchesDenseElimination) {
  using T = TypeParam;
  std::mt19937 rng(99u);
  for (int n : {1, 2, 3, 17, 200}) {
    for (int nrhs : {1, 3}) {
      const auto sys = TriSystem<T>::Random(n, rng);
      const int ldb = n + 2;
      const auto b0 = RandomRhs<T>(n, nrhs, ldb, rng);
      auto dl = sys.dl, d = sys.d, du = sys.du;
      auto b = b0;
      int info = 99;
      Tri<T>::sv(&n, &nrhs, dl.data(), d.data(), du.data(), b.data(), &ldb, &info);
      ASSERT_EQ(info, 0);
      ExpectSolution(sys, false, b0, b, nrhs, ldb, Tri<T>::kTol, "n=" + std::to_string(n));
    }
  }
}

TYPED_TEST(TridiagTest, HandComputedSystem) {
  using T = TypeParam;
  // [2 1 0; 1 2 1; 0 1 2]: pivots 2, 3/2, 4/3 and multipliers 1/2, 2/3; A*(1,2,3) = (4,8,8).
  int n = 3, nrhs = 1, ldb = 3, info = 99;
  std::vector<T> dl{1, 1}, d{2, 2, 2}, du{1, 1}, b{4, 8, 8};
  Tri<T>::trf(&n, dl.data(), d.data(), du.data(), &info);
  ASSERT_EQ(info, 0);
  const double eps = std::numeric_limits<T>::epsilon() * 4;
  EXPECT_NEAR(d[0], 2.0, eps);
  EXPECT_NEAR(d[1], 1.5, eps);
  EXPECT_NEAR(d[2], 4.0 / 3.0, eps);
  EXPECT_NEAR(dl[0], 0.5, eps);
  EXPECT_NEAR(dl[1], 2.0 / 3.0, eps);
  const char trans = 'N';
  Tri<T>::trs(&trans, &n, &nrhs, dl.data(), d.data(), du.data(), b.data(), &ldb, &info);
  ASSERT_EQ(info, 0);
  EXPECT_NEAR(b[0], 1.0, 8 * eps);
  EXPECT_NEAR(b[1], 2.0, 8 * eps);
  EXPECT_NEAR(b[2], 3.0, 8 * eps);

  // Non-symmetric: A = [1 2; 3 4]. A^T x = (7, 10) has x = (1, 2) (A^T = [1 3; 2 4]).
  n = 2;
  ldb = 2;
  std::vector<T> dl2{3}, d2{1, 4}, du2{2}, b2{7, 10};
  Tri<T>::trf(&n, dl2.data(), d2.data(), du2.data(), &info);
  ASSERT_EQ(info, 0);
  const char tr = 'T';
  Tri<T>::trs(&tr, &n, &nrhs, dl2.data(), d2.data(), du2.data(), b2.data(), &ldb, &info);
  ASSERT_EQ(info, 0);
  EXPECT_NEAR(b2[0], 1.0, 8 * eps);
  EXPECT_NEAR(b2[1], 2.0, 8 * eps);
}

TYPED_TEST(TridiagTest, ZeroPivotReportsItsPosition) {
  using T = TypeParam;
  int info = 0;
  {
    int n = 3;
    std::vector<T> dl{1, 1}, d{0, 2, 2}, du{1, 1};
    Tri<T>::trf(&n, dl.data(), d.data(), du.data(), &info);
    EXPECT_EQ(info, 1);
  }
  {
    // The second pivot 1 - 1*1 vanishes during elimination: stop there, the third is untouched.
    int n = 4;
    std::vector<T> dl{1, 5, 5}, d{1, 1, 3, 3}, du{1, 5, 5};
    Tri<T>::trf(&n, dl.data(), d.data(), du.data(), &info);
    EXPECT_EQ(info, 2);
    EXPECT_EQ(d[2], T(3));
    EXPECT_EQ(dl[1], T(5));
  }
  {
    // Only the last pivot is zero: [1 1; 1 1].
    int n = 2;
    std::vector<T> dl{1}, d{1, 1}, du{1};
    Tri<T>::trf(&n, dl.data(), d.data(), du.data(), &info);
    EXPECT_EQ(info, 2);
  }
  {
    int n = 1;
    std::vector<T> dl{7}, d{0}, du{7};
    Tri<T>::trf(&n, dl.data(), d.data(), du.data(), &info);
    EXPECT_EQ(info, 1);
  }
  {
    // The combined solve reports the same and leaves b alone.
    int n = 4, nrhs = 2, ldb = 4;
    std::vector<T> dl{1, 5, 5}, d{1, 1, 3, 3}, du{1, 5, 5};
    std::vector<T> b{1, 2, 3, 4, 5, 6, 7, 8};
    const auto b0 = b;
    Tri<T>::sv(&n, &nrhs, dl.data(), d.data(), du.data(), b.data(), &ldb, &info);
    EXPECT_EQ(info, 2);
    EXPECT_TRUE(SameBits(b, b0));
  }
}

TYPED_TEST(TridiagTest, BadArgumentsReportPositionAndWriteNothing) {
  using T = TypeParam;
  std::mt19937 rng(3u);
  const auto sys = TriSystem<T>::Random(4, rng);
  const auto b0 = RandomRhs<T>(4, 2, 5, rng);

  struct TrsCase {
    char trans;
    int n, nrhs, ldb, expect;
  };
  for (const TrsCase& c : {TrsCase{'X', 4, 2, 5, -1}, TrsCase{'\0', -1, -1, 0, -1},
                           TrsCase{'N', -1, 2, 5, -2}, TrsCase{'T', 4, -1, 5, -3}, TrsCase{'N', 4, -1, 0, -3},
                           TrsCase{'N', 4, 2, 3, -8}, TrsCase{'C', 0, 1, 0, -8}}) {
    auto dl = sys.dl, d = sys.d, du = sys.du;
    auto b = b0;
    int info = 12345;
    Tri<T>::trs(&c.trans, &c.n, &c.nrhs, dl.data(), d.data(), du.data(), b.data(), &c.ldb, &info);
    EXPECT_EQ(info, c.expect) << "trans=" << static_cast<int>(c.trans) << " n=" << c.n << " nrhs=" << c.nrhs
                              << " ldb=" << c.ldb;
    EXPECT_TRUE(SameBits(b, b0));
  }
  {
    auto dl = sys.dl, d = sys.d, du = sys.du;
    int n = -1, info = 12345;
    Tri<T>::trf(&n, dl.data(), d.data(), du.data(), &info);
    EXPECT_EQ(info, -1);
    EXPECT_TRUE(SameBits(dl, sys.dl) && SameBits(d, sys.d) && SameBits(du, sys.du));
  }

  struct SvCase {
    int n, nrhs, ldb, expect;
  };
  for (const SvCase& c : {SvCase{-1, 2, 5, -1}, SvCase{-1, -1, 0, -1}, SvCase{4, -1, 5, -2},
                          SvCase{4, 2, 3, -7}, SvCase{0, 1, 0, -7}}) {
    auto dl = sys.dl, d = sys.d, du = sys.du;
    auto b = b0;
    int info = 12345;
    Tri<T>::sv(&c.n, &c.nrhs, dl.data(), d.data(), du.data(), b.data(), &c.ldb, &info);
    EXPECT_EQ(info, c.expect) << "n=" << c.n << " nrhs=" << c.nrhs << " ldb=" << c.ldb;
    EXPECT_TRUE(SameBits(b, b0));
    EXPECT_TRUE(SameBits(dl, sys.dl) && SameBits(d, sys.d) && SameBits(du, sys.du));
  }
}

TYPED_TEST(TridiagTest, EmptyProblemsSucceedWithoutWriting) {
  using T = TypeParam;
  std::vector<T> dl{5}, d{5}, du{5}, b{5, 5};
  int zero = 0, one = 1, info = 12345;
  Tri<T>::trf(&zero, dl.data(), d.data(), du.data(), &info);
  EXPECT_EQ(info, 0);
  const char trans = 'T';
  info = 12345;
  Tri<T>::trs(&trans, &zero, &one, dl.data(), d.data(), du.data(), b.data(), &one, &info);
  EXPECT_EQ(info, 0);
  info = 12345;
  Tri<T>::sv(&zero, &one, dl.data(), d.data(), du.data(), b.data(), &one, &info);
  EXPECT_EQ(info, 0);
  // No right-hand sides: the solve writes nothing.
  int two = 2;
  info = 12345;
  Tri<T>::trs(&trans, &one, &zero, dl.data(), d.data(), du.data(), b.data(), &two, &info);
  EXPECT_EQ(info, 0);
  EXPECT_TRUE((dl == std::vector<T>{5}) && (d == std::vector<T>{5}) && (du == std::vector<T>{5}));
  EXPECT_TRUE((b == std::vector<T>{5, 5}));
}

// ------------------------------------------------------------------------------------------------
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
  int Order() const { return side == 'L' ? m : n; }  // the order of A
};

// A full k x k matrix whose referenced triangle is random; everything trmm must not read (the other
// triangle, and the diagonal when it is unit) is NaN so that reading it shows in the result.
template <typename T>
std::vector<T> RandomTriangle(int k, char uplo, char diag, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<T> a(static_cast<size_t>(k) * k, static_cast<T>(kNaN));
  for (int j = 0; j < k; ++j)
    for (int i = 0; i < k; ++i) {
      const bool inside = uplo == 'U' ? i < j : i > j;
      if (inside || (i == j && diag == 'N')) At(a, k, i, j) = static_cast<T>(u(rng));
    }
  return a;
}

// Column-major packing as in BLAS tpmv; the diagonal is copied even when unit (then it is NaN).
template <typename T>
std::vector<T> Pack(const std::vector<T>& a, int k, char uplo) {
  std::vector<T> ap;
  for (int j = 0; j < k; ++j) {
    if (uplo == 'U')
      for (int i = 0; i <= j; ++i) ap.push_back(At(a, k, i, j));
    else
      for (int i = j; i < k; ++i) ap.push_back(At(a, k, i, j));
  }
  return ap;
}

// Naive alpha*op(A)*B or alpha*B*op(A) in double; `bound` receives the same sum over absolute values,
// the scale of the rounding error any implementation may make.
template <typename T>
std::vector<double> NaiveTrmm(const TrmmShape& s, double alpha, const std::vector<T>& a,
                              const std::vector<T>& b, int ldb, std::vector<double>* bound) {
  const int k = s.Order();
  auto op = [&](int i, int j) -> double {  // op(A)(i, j) with the triangle and unit diagonal applied
    const int r = s.trans == 'N' ? i : j, c = s.trans == 'N' ? j : i;
    if (r == c) return s.diag == 'U' ? 1.0 : static_cast<double>(At(a, k, r, c));
    const bool inside = s.uplo == 'U' ? r < c : r > c;
    return inside ? static_cast<double>(At(a, k, r, c)) : 0.0;
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

std::vector<TrmmShape> AllTrmmShapes(int m, int n) {
  std::vector<TrmmShape> shapes;
  for (char side : {'L', 'R'})
    for (char uplo : {'U', 'L'})
      for (char trans : {'N', 'T'})
        for (char diag : {'N', 'U'}) shapes.push_back({side, uplo, trans, diag, m, n});
  return shapes;
}

std::string Describe(const TrmmShape& s) {
  return std::string("side=") + s.side + " uplo=" + s.uplo + " trans=" + s.trans + " diag=" + s.diag +
         " m=" + std::to_string(s.m) + " n=" + std::to_string(s.n);
}

template <typename T>
class TrmmTest : public ::testing::Test {};
TYPED_TEST_SUITE(TrmmTest, RealTypes);

TYPED_TEST(TrmmTest, PackedMatchesFullStorageAndNaiveProduct) {
  using T = TypeParam;
  std::mt19937 rng(424242u);
  const T alpha = static_cast<T>(-1.75);
  const double eps = std::numeric_limits<T>::epsilon();
  for (auto [m, n] : {std::pair{5, 3}, std::pair{3, 6}, std::pair{1, 4}, std::pair{4, 1}}) {
    for (const TrmmShape& s : AllTrmmShapes(m, n)) {
      const int k = s.Order(), ldb = m + 3;
      const auto a = RandomTriangle<T>(k, s.uplo, s.diag, rng);
      const auto ap = Pack(a, k, s.uplo);
      const auto b0 = RandomRhs<T>(m, n, ldb, rng);
      std::vector<double> bound;
      const auto expect = NaiveTrmm(s, alpha, a, b0, ldb, &bound);

      auto packed = b0, full = b0;
      Tr<T>::ptrmm(&s.side, &s.uplo, &s.trans, &s.diag, &m, &n, &alpha, ap.data(), packed.data(), &ldb);
      Tr<T>::trmm(&s.side, &s.uplo, &s.trans, &s.diag, &m, &n, &alpha, a.data(), &k, full.data(), &ldb);
      for (int j = 0; j < n; ++j) {
        for (int i = 0; i < m; ++i) {
          const double tol = 4.0 * (k + 2) * eps * At(bound, m, i, j) + 1e-300;
          ASSERT_NEAR(At(packed, ldb, i, j), At(expect, m, i, j), tol)
              << Describe(s) << " naive " << i << "," << j;
          ASSERT_NEAR(At(packed, ldb, i, j), At(full, ldb, i, j), 2 * tol)
              << Describe(s) << " full " << i << "," << j;
        }
        for (int i = m; i < ldb; ++i) ASSERT_EQ(At(packed, ldb, i, j), T(-777)) << Describe(s) << " padding";
      }
    }
  }
}

TYPED_TEST(TrmmTest, PackedAcceptsLowerCaseAndConjugateTranspose) {
  using T = TypeParam;
  std::mt19937 rng(5u);
  const T alpha = static_cast<T>(0.5);
  int m = 4, n = 3, ldb = 4;
  for (const TrmmShape& s : AllTrmmShapes(m, n)) {
    const int k = s.Order();
    const auto ap = Pack(RandomTriangle<T>(k, s.uplo, s.diag, rng), k, s.uplo);
    const auto b0 = RandomRhs<T>(m, n, ldb, rng);
    auto upper = b0, lower = b0;
    Tr<T>::ptrmm(&s.side, &s.uplo, &s.trans, &s.diag, &m, &n, &alpha, ap.data(), upper.data(), &ldb);
    auto lc = [](char c) { return static_cast<char>(c - 'A' + 'a'); };
    const char side = lc(s.side), uplo = lc(s.uplo), diag = lc(s.diag);
    const char trans = s.trans == 'T' ? 'c' : 'n';
    Tr<T>::ptrmm(&side, &uplo, &trans, &diag, &m, &n, &alpha, ap.data(), lower.data(), &ldb);
    EXPECT_TRUE(SameBits(upper, lower)) << Describe(s);
    EXPECT_FALSE(SameBits(upper, b0)) << Describe(s);
  }
}

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
    for (int j = 0; j < n; ++j) {
      for (int i = 0; i < m; ++i) EXPECT_EQ(At(b, ldb, i, j), T(0)) << Describe(s);
      for (int i = m; i < ldb; ++i) EXPECT_EQ(At(b, ldb, i, j), T(-777)) << Describe(s);
    }
  }
}

TYPED_TEST(TrmmTest, PackedEmptyAndInvalidArgumentsLeaveBUntouched) {
  using T = TypeParam;
  std::mt19937 rng(11u);
  const T alpha = 2;
  const auto ap = Pack(RandomTriangle<T>(4, 'U', 'N', rng), 4, 'U');
  const auto b0 = RandomRhs<T>(4, 4, 4, rng);
  struct Case {
    char side, uplo, trans, diag;
    int m, n, ldb;
  };
  for (const Case& c : {Case{'L', 'U', 'N', 'N', 0, 4, 1}, Case{'R', 'U', 'N', 'N', 4, 0, 4},
                        Case{'X', 'U', 'N', 'N', 4, 4, 4}, Case{'L', 'X', 'N', 'N', 4, 4, 4},
                        Case{'L', 'U', 'X', 'N', 4, 4, 4}, Case{'L', 'U', 'N', 'X', 4, 4, 4},
                        Case{'L', 'U', 'N', 'N', -1, 4, 4}, Case{'L', 'U', 'N', 'N', 4, -1, 4},
                        Case{'L', 'U', 'N', 'N', 4, 4, 3}, Case{'R', 'U', 'N', 'N', 0, 4, 0}}) {
    auto b = b0;
    Tr<T>::ptrmm(&c.side, &c.uplo, &c.trans, &c.diag, &c.m, &c.n, &alpha, ap.data(), b.data(), &c.ldb);
    EXPECT_TRUE(SameBits(b, b0)) << c.side << c.uplo << c.trans << c.diag << " m=" << c.m << " n=" << c.n
                                 << " ldb=" << c.ldb;
  }
}

TYPED_TEST(TrmmTest, FullStorageFormsMatchNaiveProduct) {
  using T = TypeParam;
  std::mt19937 rng(8u);
  const T alpha = static_cast<T>(3.0);
  const double eps = std::numeric_limits<T>::epsilon();
  int m = 4, n = 3;
  for (const TrmmShape& s : AllTrmmShapes(m, n)) {
    const int k = s.Order(), ldb = m + 1;
    const auto a = RandomTriangle<T>(k, s.uplo, s.diag, rng);
    const auto b0 = RandomRhs<T>(m, n, ldb, rng);
    std::vector<double> bound;
    const auto expect = NaiveTrmm(s, alpha, a, b0, ldb, &bound);
    for (auto f : {Tr<T>::trmm_plain, Tr<T>::trmm_x, Tr<T>::trmm}) {
      auto b = b0;
      f(&s.side, &s.uplo, &s.trans, &s.diag, &m, &n, &alpha, a.data(), &k, b.data(), &ldb);
      for (int j = 0; j < n; ++j)
        for (int i = 0; i < m; ++i)
          ASSERT_NEAR(At(b, ldb, i, j), At(expect, m, i, j),
                      4.0 * (k + 2) * eps * At(bound, m, i, j) + 1e-300)
              << Describe(s);
    }
  }
}

// ------------------------------------------------------------------------------------------------
// BLAS forwarders

TEST(BlasForwarders, GemmHandComputed) {
  // A = [1 2 3; 4 5 6], B = [7 8; 9 10; 11 12], A*B = [58 64; 139 154]; C = 2*A*B - C0.
  // at and bt hold the transposes, read with transa or transb = 'T'.
  const std::vector<double> a{1, 4, 2, 5, 3, 6}, at{1, 2, 3, 4, 5, 6}, b{7, 9, 11, 8, 10, 12},
      bt{7, 8, 9, 10, 11, 12};
  const std::vector<double> c0{1, 2, 3, 4}, expect{115, 276, 125, 304};
  const int m = 2, n = 2, k = 3, two = 2, three = 3;
  const char no = 'N', tr = 'T';
  {
    const double alpha = 2, beta = -1;
    auto c = c0;
    zok_blas_dgemm(&no, &no, &m, &n, &k, &alpha, a.data(), &two, b.data(), &three, &beta, c.data(), &two);
    EXPECT_EQ(c, expect);
    c = c0;
    zok_blas_xdgemm(&tr, &no, &m, &n, &k, &alpha, at.data(), &three, b.data(), &three, &beta, c.data(), &two);
    EXPECT_EQ(c, expect);
    c = c0;
    zok_blas_dgemm(&no, &tr, &m, &n, &k, &alpha, a.data(), &two, bt.data(), &two, &beta, c.data(), &two);
    EXPECT_EQ(c, expect);
    c = c0;
    zok_blas_xdgemm(&tr, &tr, &m, &n, &k, &alpha, at.data(), &three, bt.data(), &two, &beta, c.data(), &two);
    EXPECT_EQ(c, expect);
  }
  {
    const std::vector<float> af(a.begin(), a.end()), atf(at.begin(), at.end()), bf(b.begin(), b.end()),
        btf(bt.begin(), bt.end());
    const std::vector<float> c0f(c0.begin(), c0.end()), expectf(expect.begin(), expect.end());
    const float alpha = 2, beta = -1;
    auto c = c0f;
    zok_blas_sgemm(&no, &no, &m, &n, &k, &alpha, af.data(), &two, bf.data(), &three, &beta, c.data(), &two);
    EXPECT_EQ(c, expectf);
    c = c0f;
    zok_blas_xsgemm(&tr, &no, &m, &n, &k, &alpha, atf.data(), &three, bf.data(), &three, &beta, c.data(),
                    &two);
    EXPECT_EQ(c, expectf);
    c = c0f;
    zok_blas_sgemm(&no, &tr, &m, &n, &k, &alpha, af.data(), &two, btf.data(), &two, &beta, c.data(), &two);
    EXPECT_EQ(c, expectf);
  }
}

TEST(BlasForwarders, GemvHandComputed) {
  const std::vector<double> a{1, 4, 2, 5, 3, 6};  // [1 2 3; 4 5 6]
  const int m = 2, n = 3, lda = 2, one = 1, two = 2;
  const char no = 'N', tr = 'T';
  {
    // A*(1, 0, -1) = (-2, -2); y = that + 0.5*(10, 20).
    const std::vector<double> x{1, 0, -1};
    std::vector<double> y{10, 20};
    const double alpha = 1, beta = 0.5;
    zok_blas_dgemv(&no, &m, &n, &alpha, a.data(), &lda, x.data(), &one, &beta, y.data(), &one);
    EXPECT_EQ(y, (std::vector<double>{3, 8}));
  }
  {
    // A^T*(1, 2) = (9, 12, 15), x read with stride 2.
    const std::vector<double> x{1, -100, 2};
    std::vector<double> y{5, 5, 5};
    const double alpha = 1, beta = 0;
    zok_blas_dgemv(&tr, &m, &n, &alpha, a.data(), &lda, x.data(), &two, &beta, y.data(), &one);
    EXPECT_EQ(y, (std::vector<double>{9, 12, 15}));
  }
  {
    const std::vector<float> af(a.begin(), a.end()), x{1, 0, -1};
    std::vector<float> y{10, 20};
    const float alpha = -1, beta = 1;
    zok_blas_sgemv(&no, &m, &n, &alpha, af.data(), &lda, x.data(), &one, &beta, y.data(), &one);
    EXPECT_EQ(y, (std::vector<float>{12, 22}));
  }
}

// Symmetric rank updates, checked against naive loops on the referenced triangle only; the other
// triangle holds a sentinel that must survive.
template <typename T, typename Syrk>
void CheckSyrk(Syrk syrk, char uplo, char trans) {
  std::mt19937 rng(17u);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const int n = 4, k = 3, ldc = 5;
  const int rows = trans == 'N' ? n : k, cols = trans == 'N' ? k : n, lda = rows + 1;
  std::vector<T> a(static_cast<size_t>(lda) * cols);
  for (auto& v : a) v = static_cast<T>(u(rng));
  std::vector<T> c(static_cast<size_t>(ldc) * n);
  for (auto& v : c) v = static_cast<T>(u(rng));
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i)
      if (uplo == 'U' ? i > j : i < j) At(c, ldc, i, j) = T(-777);
  const auto c0 = c;
  const T alpha = static_cast<T>(1.5), beta = static_cast<T>(-0.5);
  syrk(&uplo, &trans, &n, &k, &alpha, a.data(), &lda, &beta, c.data(), &ldc);
  const double tol = 16 * std::numeric_limits<T>::epsilon();
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      if (uplo == 'U' ? i > j : i < j) {
        EXPECT_EQ(At(c, ldc, i, j), T(-777));
        continue;
      }
      double s = 0;
      for (int p = 0; p < k; ++p)
        s += trans == 'N' ? double(At(a, lda, i, p)) * At(a, lda, j, p)
                          : double(At(a, lda, p, i)) * At(a, lda, p, j);
      EXPECT_NEAR(At(c, ldc, i, j), alpha * s + beta * double(At(c0, ldc, i, j)), tol) << i << "," << j;
    }
}

template <typename T, typename Syr>
void CheckSyr(Syr syr, char uplo) {
  std::mt19937 rng(23u);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const int n = 4, lda = 4, incx = 2;
  std::vector<T> x(static_cast<size_t>(n) * incx);
  for (auto& v : x) v = static_cast<T>(u(rng));
  std::vector<T> a(static_cast<size_t>(lda) * n);
  for (auto& v : a) v = static_cast<T>(u(rng));
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i)
      if (uplo == 'U' ? i > j : i < j) At(a, lda, i, j) = T(-777);
  const auto a0 = a;
  const T alpha = static_cast<T>(-2.0);
  syr(&uplo, &n, &alpha, x.data(), &incx, a.data(), &lda);
  const double tol = 8 * std::numeric_limits<T>::epsilon();
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      if (uplo == 'U' ? i > j : i < j) {
        EXPECT_EQ(At(a, lda, i, j), T(-777));
        continue;
      }
      const double expect = double(At(a0, lda, i, j)) + alpha * double(x[i * incx]) * x[j * incx];
      EXPECT_NEAR(At(a, lda, i, j), expect, tol) << i << "," << j;
    }
}

TEST(BlasForwarders, SyrkMatchesNaiveLoop) {
  CheckSyrk<double>(zok_blas_dsyrk, 'U', 'N');
  CheckSyrk<double>(zok_blas_xdsyrk, 'L', 'T');
  CheckSyrk<float>(zok_blas_ssyrk, 'L', 'N');
  CheckSyrk<float>(zok_blas_xssyrk, 'U', 'T');
}

TEST(BlasForwarders, SyrMatchesNaiveLoop) {
  CheckSyr<double>(zok_blas_dsyr, 'L');
  CheckSyr<double>(zok_blas_xdsyr, 'U');
  CheckSyr<float>(zok_blas_ssyr, 'U');
  CheckSyr<float>(zok_blas_xssyr, 'L');
}

template <typename T, typename Symm>
void CheckSymm(Symm symm, char side, char uplo) {
  std::mt19937 rng(29u);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const int m = 3, n = 2, k = side == 'L' ? m : n, lda = k, ldb = m + 1, ldc = m + 2;
  // Only the `uplo` triangle is given; the other is NaN and must not be read.
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

// ------------------------------------------------------------------------------------------------
// LAPACK forwarders

TEST(LapackForwarders, CholeskyAndInverseOfKnownMatrix) {
  // A = L*L^T with L = [2 0 0; 1 3 0; 2 1 4], so the factor is known exactly.
  const std::vector<double> a0{4, 2, 4, 2, 10, 5, 4, 5, 21};
  const std::vector<double> l{2, 1, 2, 0, 3, 1, 0, 0, 4};
  const int n = 3, lda = 3;
  for (char uplo : {'L', 'U'}) {
    auto a = a0;
    int info = 99;
    zok_lapack_dpotrf(&uplo, &n, a.data(), &lda, &info);
    ASSERT_EQ(info, 0);
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i) {
        if (uplo == 'L' ? i < j : i > j)
          EXPECT_EQ(At(a, lda, i, j), At(a0, lda, i, j)) << "other triangle written";
        else
          EXPECT_NEAR(At(a, lda, i, j), uplo == 'L' ? At(l, 3, i, j) : At(l, 3, j, i), 1e-14) << uplo;
      }
    zok_lapack_dpotri(&uplo, &n, a.data(), &lda, &info);
    ASSERT_EQ(info, 0);
    std::vector<double> inv(9);
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i)
        At(inv, 3, i, j) = (uplo == 'L') == (i >= j) ? At(a, lda, i, j) : At(a, lda, j, i);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        double s = 0;
        for (int p = 0; p < n; ++p) s += At(a0, 3, i, p) * At(inv, 3, p, j);
        EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 1e-13) << uplo << " " << i << "," << j;
      }
  }
  {
    std::vector<float> a(a0.begin(), a0.end());
    const char uplo = 'L';
    int info = 99;
    zok_lapack_spotrf(&uplo, &n, a.data(), &lda, &info);
    ASSERT_EQ(info, 0);
    for (int j = 0; j < n; ++j)
      for (int i = j; i < n; ++i) EXPECT_NEAR(At(a, lda, i, j), At(l, 3, i, j), 1e-6);
    zok_lapack_spotri(&uplo, &n, a.data(), &lda, &info);
    ASSERT_EQ(info, 0);
    // inv(A)(0,0) = (10*21 - 25) / det(A), det(A) = det(L)^2 = 576.
    EXPECT_NEAR(a[0], 185.0 / 576.0, 1e-6);
  }
  {
    // [1 2; 2 1] is not positive definite: the second leading minor fails.
    std::vector<double> a{1, 2, 2, 1};
    const char uplo = 'U';
    const int two = 2;
    int info = 0;
    zok_lapack_dpotrf(&uplo, &two, a.data(), &two, &info);
    EXPECT_EQ(info, 2);
  }
}

TEST(LapackForwarders, TriangularInverseHandComputed) {
  const int n = 3, lda = 3;
  int info = 99;
  {
    // inv([1 2 3; 0 1 4; 0 0 1]) = [1 -2 5; 0 1 -4; 0 0 1]; the diagonal is not read when unit.
    std::vector<float> a{7, -777, -777, 2, 7, -777, 3, 4, 7};
    const char uplo = 'U', diag = 'U';
    zok_lapack_strtri(&uplo, &diag, &n, a.data(), &lda, &info);
    ASSERT_EQ(info, 0);
    EXPECT_EQ(At(a, lda, 0, 1), -2.0f);
    EXPECT_EQ(At(a, lda, 0, 2), 5.0f);
    EXPECT_EQ(At(a, lda, 1, 2), -4.0f);
    EXPECT_EQ(At(a, lda, 1, 0), -777.0f);
    EXPECT_EQ(At(a, lda, 2, 1), -777.0f);
  }
  {
    // inv([2 0; 1 4]) = [1/2 0; -1/8 1/4].
    std::vector<double> a{2, 1, -777, 4};
    const char uplo = 'L', diag = 'N';
    const int two = 2;
    zok_lapack_dtrtri(&uplo, &diag, &two, a.data(), &two, &info);
    ASSERT_EQ(info, 0);
    EXPECT_EQ(a, (std::vector<double>{0.5, -0.125, -777, 0.25}));
  }
  {
    std::vector<double> a{1, 0, 1, 0};  // [1 1; 0 0]: singular at the second diagonal entry
    const char uplo = 'U', diag = 'N';
    const int two = 2;
    zok_lapack_dtrtri(&uplo, &diag, &two, a.data(), &two, &info);
    EXPECT_EQ(info, 2);
  }
}

// tridiag(1, 2, 1) of order 3 has eigenvalues 2 - sqrt(2), 2, 2 + sqrt(2).
const std::vector<double> kTri3{2, 1, 0, 1, 2, 1, 0, 1, 2};
const double kTri3Eigen[3] = {2 - std::sqrt(2.0), 2.0, 2 + std::sqrt(2.0)};

// Checks that the columns of z (leading dimension ldz) are orthonormal eigenvectors of kTri3.
template <typename T>
void ExpectEigenvectors(const std::vector<T>& z, int ldz, const T* w, double tol) {
  for (int e = 0; e < 3; ++e) {
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
  for (int e = 0; e < 3; ++e) EXPECT_NEAR(w[e], kTri3Eigen[e], 1e-14);
  ExpectEigenvectors(a, lda, w, 1e-13);

  std::vector<float> af(kTri3.begin(), kTri3.end());
  float wf[3], workf[16];
  const char values = 'N', up = 'U';
  const int three = 3, lworkf = 16;
  zok_lapack_ssyev(&values, &up, &three, af.data(), &three, wf, workf, &lworkf, &info);
  ASSERT_EQ(info, 0);
  for (int e = 0; e < 3; ++e) EXPECT_NEAR(wf[e], kTri3Eigen[e], 1e-6);
}

TEST(LapackForwarders, SpevdWorkspaceQueryThenSolve) {
  const int n = 3, ldz = 3;
  const char jobz = 'V', uplo = 'U';
  // Upper triangle packed by columns: a00 | a01 a11 | a02 a12 a22.
  const std::vector<double> ap0{2, 1, 2, 0, 1, 2};
  {
    auto ap = ap0;
    std::vector<double> z(9);
    double w[3], work_query = 0;
    int iwork_query = 0, lwork = -1, liwork = -1, info = 99;
    zok_lapack_dspevd(&jobz, &uplo, &n, ap.data(), w, z.data(), &ldz, &work_query, &lwork, &iwork_query,
                      &liwork, &info);
    ASSERT_EQ(info, 0);
    // The documented minimums for jobz = 'V': 1 + 6n + n^2 and 3 + 5n.
    ASSERT_GE(work_query, 1 + 6 * n + n * n);
    ASSERT_GE(iwork_query, 3 + 5 * n);
    lwork = static_cast<int>(work_query);
    liwork = iwork_query;
    std::vector<double> work(lwork);
    std::vector<int> iwork(liwork);
    zok_lapack_dspevd(&jobz, &uplo, &n, ap.data(), w, z.data(), &ldz, work.data(), &lwork, iwork.data(),
                      &liwork, &info);
    ASSERT_EQ(info, 0);
    for (int e = 0; e < 3; ++e) EXPECT_NEAR(w[e], kTri3Eigen[e], 1e-14);
    ExpectEigenvectors(z, ldz, w, 1e-13);
  }
  {
    // Lower triangle packed by columns: a00 a10 a20 | a11 a21 | a22.
    std::vector<float> ap{2, 1, 0, 2, 1, 2};
    std::vector<float> z(9);
    float w[3], work_query = 0;
    int iwork_query = 0, lwork = -1, liwork = -1, info = 99;
    const char lower = 'L';
    zok_lapack_sspevd(&jobz, &lower, &n, ap.data(), w, z.data(), &ldz, &work_query, &lwork, &iwork_query,
                      &liwork, &info);
    ASSERT_EQ(info, 0);
    lwork = static_cast<int>(work_query);
    liwork = iwork_query;
    std::vector<float> work(std::max(lwork, 1));
    std::vector<int> iwork(std::max(liwork, 1));
    zok_lapack_sspevd(&jobz, &lower, &n, ap.data(), w, z.data(), &ldz, work.data(), &lwork, iwork.data(),
                      &liwork, &info);
    ASSERT_EQ(info, 0);
    for (int e = 0; e < 3; ++e) EXPECT_NEAR(w[e], kTri3Eigen[e], 1e-6);
    ExpectEigenvectors(z, ldz, w, 1e-5);
  }
}

}  // namespace

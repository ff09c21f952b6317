// Core linear algebra: tridiagonal factor/solve without pivoting and the packed triangular product
// against oracles written here (residuals, naive loops), and one hand-computed call of every
// BLAS/LAPACK forwarder.
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
  static constexpr double kTol = 1e-14;
};
template <>
struct Tri<float> {
  static constexpr auto trf = &sdttrfb_4dfl;
  static constexpr auto trs = &sdttrsb_4dfl;
  static constexpr auto sv = &sdtsvb_4dfl;
  static constexpr double kTol = 2e-6;
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

  // Residual op(A)*x - b0 of column j (x and b0 with leading dimension ldb) and, in `scale`, the
  // same sum over absolute values: the size of the rounding error a backward-stable solve may make.
  double Residual(bool transpose, const std::vector<T>& x, const std::vector<T>& b0, int ldb, int j, int i,
                  double* scale) const {
    const double lower = i > 0 ? (transpose ? du[i - 1] : dl[i - 1]) : 0.0;
    const double upper = i + 1 < n ? (transpose ? dl[i] : du[i]) : 0.0;
    const double terms[3] = {i > 0 ? lower * At(x, ldb, i - 1, j) : 0.0, d[i] * double(At(x, ldb, i, j)),
                             i + 1 < n ? upper * At(x, ldb, i + 1, j) : 0.0};
    *scale = std::fabs(double(At(b0, ldb, i, j)));
    for (double t : terms) *scale += std::fabs(t);
    return terms[0] + terms[1] + terms[2] - At(b0, ldb, i, j);
  }
};

template <typename T>
class TridiagTest : public ::testing::Test {};
using RealTypes = ::testing::Types<double, float>;
TYPED_TEST_SUITE(TridiagTest, RealTypes);

// Wrong factors, wrong transpose handling, or writes into the padding rows of b, for the
// factor-then-solve pair and the combined solve.
TYPED_TEST(TridiagTest, SolutionsSatisfyTheSystem) {
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
        const bool transpose = trans != 'N' && trans != 'n' && trans != 'S';
        for (int j = 0; j < nrhs; ++j) {
          for (int i = 0; i < n; ++i) {
            double scale;
            const double r = sys.Residual(transpose, b, b0, ldb, j, i, &scale);
            ASSERT_LE(std::fabs(r), Tri<T>::kTol * scale) << i << "," << j;
          }
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
struct Tr {
  static constexpr auto ptrmm = &zok_blas4yub_dptrmm;
};
template <>
struct Tr<float> {
  static constexpr auto ptrmm = &zok_blas4yub_sptrmm;
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

// Every side/uplo/trans/diag form of the packed product against the naive product, reading nothing
// outside the triangle and writing no padding row of b; lower-case options and 'C' (the same as 'T'
// for real data) give bit-identical results.
TYPED_TEST(TrmmTest, PackedMatchesNaiveProduct) {
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
      auto b = b0, lower = b0;
      Tr<T>::ptrmm(&s.side, &s.uplo, &s.trans, &s.diag, &m, &n, &alpha, ap.data(), b.data(), &ldb);
      const char side = lc(s.side), uplo = lc(s.uplo), diag = lc(s.diag), trans = s.trans == 'T' ? 'c' : 'n';
      Tr<T>::ptrmm(&side, &uplo, &trans, &diag, &m, &n, &alpha, ap.data(), lower.data(), &ldb);
      ASSERT_TRUE(SameBits(b, lower)) << "lower-case options";
      for (int j = 0; j < n; ++j) {
        for (int i = 0; i < m; ++i)
          ASSERT_NEAR(At(b, ldb, i, j), At(expect, m, i, j),
                      4.0 * (k + 2) * eps * At(bound, m, i, j) + 1e-300)
              << i << "," << j;
        for (int i = m; i < ldb; ++i) ASSERT_EQ(At(b, ldb, i, j), T(-777)) << "padding";
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

// Forwarders

// Every forwarded name once, on a problem where each argument has its own value (sizes, leading
// dimensions, strides, option letters, alpha and beta), so that a swapped or dropped argument
// changes the result. The results are small integers worked out by hand; 99 marks padding and -777
// a triangle that must be neither read nor written. LAPACK calls append their info.

// 2*op(A)*b - c, op(A) = A = [1 2 3; 4 5 6] given transposed (lda 4), b = (7, 8, 9), c = (10, 20).
template <typename T, typename F>
std::vector<double> Gemm(F f) {
  std::vector<T> a{1, 2, 3, 99, 4, 5, 6, 99}, b{7, 8, 9, 99, 99}, c{10, 20, 99};
  const int m = 2, n = 1, k = 3, lda = 4, ldb = 5, ldc = 3;
  const T alpha = 2, beta = -1;
  f("T", "N", &m, &n, &k, &alpha, a.data(), &lda, b.data(), &ldb, &beta, c.data(), &ldc);
  return {c.begin(), c.end()};
}
// 2*A^T*x + y/2, A = [1 4; 2 5; 3 6] (lda 4), x = (1, -1, 2) at stride 2, y = (10, 20) at stride 2.
template <typename T, typename F>
std::vector<double> Gemv(F f) {
  std::vector<T> a{1, 2, 3, 99, 4, 5, 6, 99}, x{1, 99, -1, 99, 2}, y{10, 99, 20};
  const int m = 3, n = 2, lda = 4, incx = 2, incy = 2;
  const T alpha = 2, beta = 0.5;
  f("T", &m, &n, &alpha, a.data(), &lda, x.data(), &incx, &beta, y.data(), &incy);
  return {y.begin(), y.end()};
}
// Lower triangle of 2*A^T*A - C, A = [1 4; 2 5; 3 6] (lda 4), C = [1 .; 2 3] (ldc 3).
template <typename T, typename F>
std::vector<double> Syrk(F f) {
  std::vector<T> a{1, 2, 3, 99, 4, 5, 6, 99}, c{1, 2, 99, -777, 3, 99};
  const int n = 2, k = 3, lda = 4, ldc = 3;
  const T alpha = 2, beta = -1;
  f("L", "T", &n, &k, &alpha, a.data(), &lda, &beta, c.data(), &ldc);
  return {c.begin(), c.end()};
}
// Upper triangle of A + 2*x*x^T, x = (1, 3) at stride 2, A = [1 2; . 3] (lda 3).
template <typename T, typename F>
std::vector<double> Syr(F f) {
  std::vector<T> x{1, 99, 3}, a{1, -777, 99, 2, 3, 99};
  const int n = 2, incx = 2, lda = 3;
  const T alpha = 2;
  f("U", &n, &alpha, x.data(), &incx, a.data(), &lda);
  return {a.begin(), a.end()};
}
// 2*B*A - C from the right, A = [1 2; 2 3] given by its lower triangle (lda 3), B = (4 5), C = (10 20).
template <typename T, typename F>
std::vector<double> Symm(F f) {
  std::vector<T> a{1, 2, 99, -777, 3, 99}, b{4, 99, 5, 99}, c{10, 99, 20, 99};
  const int m = 1, n = 2, lda = 3, ldb = 2, ldc = 2;
  const T alpha = 2, beta = -1;
  f("R", "L", &m, &n, &alpha, a.data(), &lda, b.data(), &ldb, &beta, c.data(), &ldc);
  return {c.begin(), c.end()};
}
// 2*A^T*b from the left, A = [1 2; 0 3] upper, non-unit (lda 3), b = (4, 5) (ldb 3).
template <typename T, typename F>
std::vector<double> Trmm(F f) {
  std::vector<T> a{1, -777, 99, 2, 3, 99}, b{4, 5, 99};
  const int m = 2, n = 1, lda = 3, ldb = 3;
  const T alpha = 2;
  f("L", "U", "T", "N", &m, &n, &alpha, a.data(), &lda, b.data(), &ldb);
  return {b.begin(), b.end()};
}
// Lower Cholesky factor of [1 2; 2 5] (lda 3), or (given that factor) the lower triangle of the inverse.
template <typename T, typename F>
std::vector<double> Potrf(F f, std::vector<T> a = {1, 2, 99, -777, 5, 99}) {
  const int n = 2, lda = 3;
  int info = 99;
  f("L", &n, a.data(), &lda, &info);
  a.push_back(static_cast<T>(info));
  return {a.begin(), a.end()};
}
// Inverse of the unit lower triangle [1 0 0; 2 1 0; 3 4 1] (lda 4); its diagonal holds 7, not read.
template <typename T, typename F>
std::vector<double> Trtri(F f) {
  std::vector<T> a{7, 2, 3, 99, -777, 7, 4, 99, -777, -777, 7, 99};
  const int n = 3, lda = 4;
  int info = 99;
  f("L", "U", &n, a.data(), &lda, &info);
  a.push_back(static_cast<T>(info));
  return {a.begin(), a.end()};
}
// Eigenvalues of [2 1; 1 2]: 1 and 3, from the upper triangle (lda 3), or packed lower.
template <typename T, typename F>
std::vector<double> Syev(F f) {
  std::vector<T> a{2, -777, 99, 1, 2, 99}, w(2), work(16);
  const int n = 2, lda = 3, lwork = 16;
  int info = 99;
  f("N", "U", &n, a.data(), &lda, w.data(), work.data(), &lwork, &info);
  return {w[0], w[1], static_cast<double>(info)};
}
template <typename T, typename F>
std::vector<double> Spevd(F f) {
  std::vector<T> ap{2, 1, 2}, w(2), z(1), work(16);
  std::vector<int> iwork(16);
  const int n = 2, ldz = 1, lwork = 16, liwork = 16;
  int info = 99;
  f("N", "L", &n, ap.data(), w.data(), z.data(), &ldz, work.data(), &lwork, iwork.data(), &liwork, &info);
  return {w[0], w[1], static_cast<double>(info)};
}

TEST(Forwarders, EveryNameComputesItsOperation) {
  const std::vector<double> gemm{90, 224, 99}, gemv{15, 99, 32}, syrk{27, 62, 99, -777, 151, 99},
      syr{3, -777, 99, 8, 21, 99}, symm{18, 99, 26, 99}, trmm{8, 46, 99}, potrf{1, 2, 99, -777, 1, 99, 0},
      potri{5, -2, 99, -777, 1, 99, 0}, trtri{7, -2, 5, 99, -777, 7, -4, 99, -777, -777, 7, 99, 0},
      eigen{1, 3, 0};
  const std::vector<double> factor_d{1, 2, 99, -777, 1, 99};
  const std::vector<float> factor_s{1, 2, 99, -777, 1, 99};
  const struct {
    const char* name;
    std::vector<double> got, want;
  } rows[] = {
      {"sgemm", Gemm<float>(zok_blas_sgemm), gemm},
      {"dgemm", Gemm<double>(zok_blas_dgemm), gemm},
      {"xsgemm", Gemm<float>(zok_blas_xsgemm), gemm},
      {"xdgemm", Gemm<double>(zok_blas_xdgemm), gemm},
      {"sgemv", Gemv<float>(zok_blas_sgemv), gemv},
      {"dgemv", Gemv<double>(zok_blas_dgemv), gemv},
      {"ssyrk", Syrk<float>(zok_blas_ssyrk), syrk},
      {"dsyrk", Syrk<double>(zok_blas_dsyrk), syrk},
      {"xssyrk", Syrk<float>(zok_blas_xssyrk), syrk},
      {"xdsyrk", Syrk<double>(zok_blas_xdsyrk), syrk},
      {"ssyr", Syr<float>(zok_blas_ssyr), syr},
      {"dsyr", Syr<double>(zok_blas_dsyr), syr},
      {"xssyr", Syr<float>(zok_blas_xssyr), syr},
      {"xdsyr", Syr<double>(zok_blas_xdsyr), syr},
      {"xssymm", Symm<float>(zok_blas_xssymm), symm},
      {"xdsymm", Symm<double>(zok_blas_xdsymm), symm},
      {"strmm", Trmm<float>(zok_blas_strmm), trmm},
      {"dtrmm", Trmm<double>(zok_blas_dtrmm), trmm},
      {"xstrmm_4yub", Trmm<float>(zok_blas_xstrmm_4yub), trmm},
      {"xdtrmm_4yub", Trmm<double>(zok_blas_xdtrmm_4yub), trmm},
      {"4yub_strmm", Trmm<float>(zok_blas4yub_strmm), trmm},
      {"4yub_dtrmm", Trmm<double>(zok_blas4yub_dtrmm), trmm},
      {"spotrf", Potrf<float>(zok_lapack_spotrf), potrf},
      {"dpotrf", Potrf<double>(zok_lapack_dpotrf), potrf},
      {"spotri", Potrf<float>(zok_lapack_spotri, factor_s), potri},
      {"dpotri", Potrf<double>(zok_lapack_dpotri, factor_d), potri},
      {"strtri", Trtri<float>(zok_lapack_strtri), trtri},
      {"dtrtri", Trtri<double>(zok_lapack_dtrtri), trtri},
      {"ssyev", Syev<float>(zok_lapack_ssyev), eigen},
      {"dsyev", Syev<double>(zok_lapack_dsyev), eigen},
      {"sspevd", Spevd<float>(zok_lapack_sspevd), eigen},
      {"dspevd", Spevd<double>(zok_lapack_dspevd), eigen},
  };
  for (const auto& row : rows) {
    ASSERT_EQ(row.got.size(), row.want.size()) << row.name;
    // Eigenvalues come out of an iteration; everything else is exact.
    for (size_t i = 0; i < row.want.size(); ++i)
      EXPECT_NEAR(row.got[i], row.want[i], 1e-5) << row.name << " " << i;
  }
}

}  // namespace

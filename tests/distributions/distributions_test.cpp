// Uniform, raw-bit, Gaussian, multivariate Gaussian and lognormal operations: formulas in long
// double on the stream's own uniforms (drawn from a copy), chosen uniforms through the stand-in
// generator, split requests against one call, and the caller's vector-math state around a call.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "tests/distributions/dist_support.h"

namespace zok::test {
namespace {

template <class T>
constexpr T kLnZero = sizeof(T) == 8 ? -744.4400719213812 : -103.27893f;
template <class T>
constexpr T kEdge = sizeof(T) == 8 ? 5.8635847487551676 : 3.832507f;

// a + (b - a)·u past b or below a is clamped only with the accurate bit; a double that rounded to
// b gives b - 1 as an integer.
TEST(Uniform, ClampingAndIntegerEdge) {
  const Stream s(scripted_brng(), 1);
  for (int32_t method : {0, ZOK_RNG_UNIFORM_ACCURATE}) {
    script_uniforms({1 + 0x1p-20, -0x1p-20});
    double d[2];
    float f[2];
    ASSERT_EQ(_qordRngUniform(method, s, 2, d, 2.0, 6.0), 0);
    ASSERT_EQ(_qorsRngUniform(method, s, 2, f, 2.0f, 6.0f), 0);
    EXPECT_EQ(d[0] == 6 && d[1] == 2 && f[0] == 6 && f[1] == 2, method != 0);
  }
  script_uniforms({1.0, 0.0});
  int32_t r[2];
  ASSERT_EQ(_qoriRngUniform(0, s, 2, r, -5, 5), 0);
  EXPECT_TRUE(r[0] == 4 && r[1] == -5) << r[0] << " " << r[1];
}

// Bits32 and Bits64 against the generator's own words: as they are, or MCG59's top 32 of 59 bits
// (also by its legacy identifier 3), paired first word low. Others: -1014 and nothing written.
TEST(Uniform, BitFormsByGenerator) {
  // clang-format off
  const int32_t brngs[] = {ZOK_RNG_MT19937, ZOK_RNG_SFMT19937, ZOK_RNG_PHILOX4X32X10, ZOK_RNG_MT2203, ZOK_RNG_MCG59, 3,
                           ZOK_RNG_R250, ZOK_RNG_MCG31M1, ZOK_RNG_WH, ZOK_RNG_SOBOL, 0, scripted_brng()};
  // clang-format on
  const int shifts[] = {0, 0, 0, 0, 27, 27, -1, -1, -1, -1, -1, -1};  // -1: no form
  const int32_t n = 2500;                                             // past MCG59's blocks of 2048 words
  for (int i = 0; i < 12; ++i) {
    const int32_t brng = brngs[i], shift = shifts[i];
    const Stream s(brng, 5), copy(s);
    std::vector<uint32_t> r32(n, 0xA5A5A5A5u), words(3 * n);
    std::vector<uint64_t> r64(n, 7), raw(3 * n);
    const int32_t want = shift < 0 ? ZOK_RNG_ERROR_NO_BITS : 0;
    EXPECT_EQ(_qoriRngUniformBits32(0, s, n, r32.data()), want) << brng;
    EXPECT_EQ(_qoriRngUniformBits64(0, s, n, r64.data()), want) << brng;
    if (shift < 0) {
      EXPECT_TRUE(r32 == std::vector<uint32_t>(n, 0xA5A5A5A5u) && r64 == std::vector<uint64_t>(n, 7));
      continue;
    }
    GeneratorProperties row{};
    ASSERT_EQ(__qorGetBrngProperties(brng, &row), 0);
    ASSERT_EQ(row.generate_i(copy, 3 * n, shift ? reinterpret_cast<uint32_t*>(raw.data()) : words.data()), 0);
    if (shift)
      std::transform(raw.begin(), raw.end(), words.begin(), [](uint64_t w) { return uint32_t(w >> 27); });
    for (int32_t k = 0; k < n; ++k) {
      ASSERT_EQ(r32[k], words[k]) << brng << " at " << k;
      ASSERT_EQ(r64[k], words[n + 2 * k] | uint64_t{words[n + 2 * k + 1]} << 32) << brng << " at " << k;
    }
  }
}

// Each method against its formula on a copy's uniforms: method 0 the sin half of each pair,
// method 1 both halves, method 2 erfinv (GSL's normal quantile; a single uniform can round to -1: -E). The
// error, scaled by the size of the terms, stays within 1e-6 (double, EP kernels) or 3e-5 (single). Requests
// of any sizes, empty ones between, give the one call's values bit for bit; method 1's pending pair is held
// after an odd total and dropped after one more element.
template <class T>
void check_methods(int32_t brng, double tolerance, int32_t pair_chunk) {
  const int32_t sizes[] = {1, 1, 1, 0, 7, 1023, 0, 1024, 1025, 1, 2047, 3, 512, 0, 2}, n = 5647;
  const T a = T(1.5), sigma = T(2.25);
  const long double two_pi = sizeof(T) == 8 ? 0x1.921fb54442d18p+2L : 6.2831855f;
  for (int32_t method = 0; method < 3; ++method) {
    const Stream s(brng, 2024), copy(s), parts(s);
    std::vector<T> r(n), split(n);
    ASSERT_EQ(gaussian<T>(method, s, n, r.data(), a, sigma), 0);
    T* at = split.data();
    for (int32_t m : sizes) ASSERT_EQ(gaussian<T>(method, parts, m, (at += m) - m, a, sigma), 0);
    EXPECT_EQ(std::memcmp(r.data(), split.data(), n * sizeof(T)), 0) << "method " << method;
    const std::vector<T> u = method == 2 ? uniforms<T>(copy, n, -1, 1) : uniforms<T>(copy, 2 * n, 0, 1);
    long double worst = 0;
    for (int32_t k = 0; k < n; ++k) {
      long double x, scale;
      if (method == 2) {
        x = (u[k] == -1 ? -kEdge<T> * std::sqrt(2.0L) : gsl_cdf_ugaussian_Pinv((u[k] + 1.0) / 2)) * sigma;
        scale = std::fabs(x) + a;
      } else {
        const int32_t pair = method == 0 ? k : k / 2;
        const long double rho = std::sqrt(-2 * std::log(static_cast<long double>(u[2 * pair]))) * sigma;
        const long double theta = u[2 * pair + 1] * two_pi;
        x = rho * (method == 1 && k % 2 ? std::cos(theta) : std::sin(theta));
        scale = rho + a;
      }
      worst = std::max(worst, std::fabs(r[k] - (x + a)) / scale);
    }
    EXPECT_LE(worst, tolerance) << "generator " << brng << " method " << method;
    if (method != 1) continue;
    const T* pair = static_cast<const T*>(__qorSearchChunk(parts, pair_chunk));
    ASSERT_TRUE(pair != nullptr && pair[0] != -1);
    ASSERT_EQ(gaussian<T>(method, parts, 1, r.data(), a, sigma), 0);
    EXPECT_TRUE(pair[0] == -1 && pair[1] == -1);
  }
}

TEST(Gaussian, MethodsFollowTheirFormulasInAnyPieces) {
  for (int32_t brng : {ZOK_RNG_MRG32K3A, ZOK_RNG_MCG59}) {
    check_methods<double>(brng, 1e-6, ZOK_RNG_CHUNK_GAUSSIAN_PAIR_D);
    check_methods<float>(brng, 3e-5, ZOK_RNG_CHUNK_GAUSSIAN_PAIR_S);
  }
}

int g_caller_calls = 0;
int32_t caller_callback(ErrorContext*) {
  return ++g_caller_calls, 0;
}

// Chosen uniforms at the repaired edges: u1 = 0 (with sin theta = 1) gives sqrt(-2 L)·sigma + a, not
// infinity; erfinv(∓1) gives ∓E. Afterwards the caller's word, callback and status are as they were
// and the caller's callback was never called. A method outside 0..2 gives -2 and writes nothing.
template <class T>
void check_edges() {
  const Stream s(scripted_brng(), 1);
  const uint32_t mode = _yubGetMode();
  const ErrorCallback callback = _yubGetErrorCallBack();
  const int32_t status = _yubGetErrStatus(), calls = g_caller_calls;
  const T a = T(0.75), sigma = T(2), scale = T(sizeof(T) == 8 ? 1.4142135623730951 : 1.4142135f) * sigma;
  const T rho = std::sqrt(-2 * kLnZero<T>) * sigma + a;
  for (int32_t method = 0; method < 3; ++method) {
    script_uniforms({0.0, method < 2 ? 0.25 : 1.0});
    T r[2] = {a, a};
    ASSERT_EQ(gaussian<T>(method, s, method < 2 ? 1 : 2, r, a, sigma), 0);
    // Double methods draw through the EP kernels and float ones through LA, so sin(pi/2) may come
    // out a few ulps below 1.
    const T want0 = method < 2 ? rho : -kEdge<T> * scale + a, want1 = method < 2 ? a : kEdge<T> * scale + a;
    const T tol = sizeof(T) == 8 ? T(0x1p-26) : T(0x1p-21);
    EXPECT_NEAR(r[0], want0, std::fabs(want0) * tol) << method;
    EXPECT_NEAR(r[1], want1, std::fabs(want1) * tol) << method;
    EXPECT_EQ(_yubGetMode(), mode) << method;
    EXPECT_EQ(_yubGetErrorCallBack(), callback) << method;
    EXPECT_EQ(_yubGetErrStatus(), status) << method;
  }
  EXPECT_EQ(g_caller_calls, calls);
  T r = 5;
  EXPECT_TRUE(gaussian<T>(3, s, 1, &r, a, sigma) == -2 && gaussian<T>(-1, s, 1, &r, a, sigma) == -2 &&
              r == 5);
}

void check_edges_both() {
  check_edges<double>();
  check_edges<float>();
}

TEST(Gaussian, RepairedEdgesKeepCallersState) {
  check_edges_both();  // the default word
  _yubSetErrStatus(ZOK_VM_STATUS_OVERFLOW);
  const ErrorCallback old = _yubSetErrorCallBack(caller_callback);
  check_edges_both();
  _yubSetErrorCallBack(old);
  _yubSetErrStatus(0);
  // Empty error field: a restore through the setter would leave the callback bit behind.
  setenv("ZOK_YUB_MODE", "YUB_LA", 1);
  std::thread([] {
    EXPECT_EQ(_yubGetMode() & ZOK_VM_ERRMODE_MASK, 0u);
    check_edges_both();
  }).join();
  unsetenv("ZOK_YUB_MODE");
}

// GaussianMV against L·z + mean computed plainly on a copy's standard normals, for each storage, the
// small (d 4) and general (d 12) multiply; the full storage's upper triangle (noise) is ignored.
// Dimension 1 is the Gaussian of mean[0] and t[0] even under an unknown storage code (7).
template <class T>
void check_mv(int32_t d, double tolerance) {
  std::vector<long double> lower(d * d);
  std::vector<T> full(d * d), packed, diagonal(d), mean(d);
  for (int32_t i = 0; i < d; ++i) {
    mean[i] = T(i - 1.5);
    diagonal[i] = full[i * d + i] = lower[i * d + i] = T(0.5 + 0.125 * i);
    for (int32_t j = 0; j < i; ++j) full[i * d + j] = lower[i * d + j] = T(0.25 * ((i * 7 + j * 3) % 5 - 2));
    for (int32_t j = i + 1; j < d; ++j) full[i * d + j] = 99;
  }
  for (int32_t j = 0; j < d; ++j)
    for (int32_t i = j; i < d; ++i) packed.push_back(T(lower[i * d + j]));
  const std::vector<T>* factors[] = {&full, &packed, &diagonal};
  const int32_t n = 300;
  for (int32_t storage = 0; storage < 3; ++storage) {
    const int32_t method = (storage + 1) % 3;
    const Stream s(ZOK_RNG_MRG32K3A, 31), copy(s);
    std::vector<T> r(n * d), z(n * d);
    const T* t = factors[storage]->data();
    const int32_t code = d == 1 && storage == ZOK_RNG_MV_DIAGONAL ? 7 : storage;
    if constexpr (sizeof(T) == 8)
      ASSERT_EQ(_qordRngGaussianMV(method, s, n, r.data(), d, code, mean.data(), t), 0);
    else
      ASSERT_EQ(_qorsRngGaussianMV(method, s, n, r.data(), d, code, mean.data(), t), 0);
    ASSERT_EQ(gaussian<T>(method, copy, n * d, z.data(), 0, 1), 0);
    long double worst = 0;
    for (int32_t v = 0; v < n; ++v)
      for (int32_t i = 0; i < d; ++i) {
        long double x = mean[i];
        for (int32_t j = storage == ZOK_RNG_MV_DIAGONAL ? i : 0; j <= i; ++j)
          x += lower[i * d + j] * z[v * d + j];
        worst = std::max(worst, std::fabs(r[v * d + i] - x) / (1 + std::fabs(x)));
      }
    EXPECT_LE(worst, tolerance) << "d " << d << " storage " << storage;
  }
}

TEST(GaussianMV, StoragesAgainstPlainProduct) {
  for (int32_t d : {1, 4, 12}) {
    check_mv<double>(d, 1e-14);
    check_mv<float>(d, 1e-6);
  }
}

}  // namespace
}  // namespace zok::test

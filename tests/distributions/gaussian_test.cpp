// Gaussian methods against their formulas in long double on the stream's own uniforms, requests
// split anywhere against one call, chosen uniforms at the repaired edges, and the caller's mode
// word, callback and error status around a call.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "tests/distributions/dist_support.h"
#include "zok/vector_math.h"

namespace zok::test {
namespace {

template <class T>
int32_t gaussian(int32_t method, StreamRecord* s, int32_t n, T* r, T a, T sigma) {
  if constexpr (sizeof(T) == 8) {
    return _qordRngGaussian(method, s, n, r, a, sigma);
  } else {
    return _qorsRngGaussian(method, s, n, r, a, sigma);
  }
}

template <class T>
std::vector<T> uniforms(StreamRecord* s, int32_t n, T a, T b) {
  GeneratorProperties row{};
  EXPECT_EQ(__qorGetBrngProperties(s->brng, &row), 0);
  std::vector<T> u(n);
  if constexpr (sizeof(T) == 8) {
    EXPECT_EQ(row.generate_d(s, n, u.data(), a, b), 0);
  } else {
    EXPECT_EQ(row.generate_s(s, n, u.data(), a, b), 0);
  }
  return u;
}

// erfinv(v) by bisection on erfl: slow and plain, independent of any kernel.
long double erfinv_reference(long double v) {
  long double lo = -7, hi = 7;
  for (int i = 0; i < 90; ++i) {
    const long double mid = (lo + hi) / 2;
    (std::erf(mid) < v ? lo : hi) = mid;
  }
  return (lo + hi) / 2;
}

// Each method's variates against its formula on the uniforms a copy of the stream delivers: the
// result, scaled by the size of its terms, within 1e-6 (double, EP kernels) or 3e-5 (single).
template <class T>
void check_formulas(int32_t brng, double tolerance) {
  const int32_t n = 5000;
  const T a = T(1.5), sigma = T(2.25);
  const long double two_pi = sizeof(T) == 8 ? 0x1.921fb54442d18p+2L : static_cast<long double>(6.2831855f);
  for (int32_t method = 0; method < 3; ++method) {
    const Stream s(brng, 2024);
    const Stream copy(s);
    std::vector<T> r(n);
    ASSERT_EQ(gaussian<T>(method, s, n, r.data(), a, sigma), 0);
    std::vector<long double> ref(n), scale(n);
    if (method == 2) {
      const std::vector<T> v = uniforms<T>(copy, n, T(-1), T(1));
      // A single uniform can round to -1, whose erfinv is repaired to -E.
      const long double edge = sizeof(T) == 8 ? 5.8635847487551676L : 3.832507f;
      for (int32_t k = 0; k < n; ++k) {
        const long double x = (v[k] == T(-1) ? -edge : erfinv_reference(v[k])) * std::sqrt(2.0L) * sigma;
        ref[k] = x + a;
        scale[k] = std::fabs(x) + a;
      }
    } else {
      const std::vector<T> u = uniforms<T>(copy, 2 * n, T(0), T(1));
      for (int32_t k = 0; k < n; ++k) {
        // Method 0 takes one variate (the sin half) per pair, method 1 both halves of each pair.
        const int32_t pair = method == 0 ? k : k / 2;
        const long double rho = std::sqrt(-2 * std::log(static_cast<long double>(u[2 * pair])));
        const long double theta = u[2 * pair + 1] * two_pi;
        const long double x = rho * sigma * (method == 0 || k % 2 == 0 ? std::sin(theta) : std::cos(theta));
        ref[k] = x + a;
        scale[k] = rho * sigma + a;
      }
    }
    long double worst = 0;
    for (int32_t k = 0; k < n; ++k) worst = std::max(worst, std::fabs(r[k] - ref[k]) / scale[k]);
    EXPECT_LE(worst, tolerance) << "generator " << brng << " method " << method;
  }
}

TEST(Gaussian, MethodsFollowTheirFormulas) {
  for (int32_t brng : {ZOK_RNG_MRG32K3A, ZOK_RNG_MCG59}) {
    check_formulas<double>(brng, 1e-6);
    check_formulas<float>(brng, 3e-5);
  }
}

// Requests of any sizes, empty ones between, give the values of one call bit for bit; method 1's
// pending pair is held after an odd total and gone after one more element.
template <class T>
void check_split() {
  const int32_t sizes[] = {1, 1, 1, 0, 7, 1023, 0, 1024, 1025, 1, 2047, 3, 512, 0, 2};
  int32_t total = 0;
  for (int32_t m : sizes) total += m;
  const int32_t chunk_id = sizeof(T) == 8 ? ZOK_RNG_CHUNK_GAUSSIAN_PAIR_D : ZOK_RNG_CHUNK_GAUSSIAN_PAIR_S;
  for (int32_t method = 0; method < 3; ++method) {
    const Stream whole(ZOK_RNG_MCG59, 9);
    const Stream parts(whole);
    std::vector<T> one(total), split(total);
    ASSERT_EQ(gaussian<T>(method, whole, total, one.data(), T(-3), T(0.5)), 0);
    int32_t done = 0;
    for (int32_t m : sizes) {
      ASSERT_EQ(gaussian<T>(method, parts, m, split.data() + done, T(-3), T(0.5)), 0);
      done += m;
    }
    EXPECT_EQ(std::memcmp(one.data(), split.data(), total * sizeof(T)), 0) << "method " << method;
    if (method != 1) continue;
    ASSERT_EQ(total % 2, 1);
    const T* pair = static_cast<const T*>(__qorSearchChunk(parts, chunk_id));
    ASSERT_NE(pair, nullptr);
    EXPECT_NE(pair[0], T(-1));
    T extra;
    ASSERT_EQ(gaussian<T>(method, parts, 1, &extra, T(-3), T(0.5)), 0);
    EXPECT_EQ(pair[0], T(-1));
    EXPECT_EQ(pair[1], T(-1));
  }
}

TEST(Gaussian, SplitRequestsEqualOneCall) {
  check_split<double>();
  check_split<float>();
}

// Chosen uniforms: u1 = 0 gives rho = sqrt(-2 L) rather than infinity; erfinv(-1) and erfinv(+1)
// give -E and +E.
template <class T>
void check_edges(T lnzero, T edge) {
  const Stream s(scripted_brng(), 1);
  const T a = T(0.75), sigma = T(2);
  T r[2];
  // theta = 0.25·2π: sin theta is 1, so the variate is rho·sigma + a.
  const T rho = std::sqrt(-(lnzero + lnzero));
  for (int32_t method : {0, 1}) {
    script_uniforms({0.0, 0.25});
    ASSERT_EQ(gaussian<T>(method, s, 1, r, a, sigma), 0);
    EXPECT_EQ(r[0], rho * sigma * T(1) + a) << method;
  }
  script_uniforms({0.0, 1.0});
  ASSERT_EQ(gaussian<T>(2, s, 2, r, a, sigma), 0);
  const T scale = T(sizeof(T) == 8 ? 1.4142135623730951 : 1.4142135f) * sigma;
  EXPECT_EQ(r[0], -edge * scale + a);
  EXPECT_EQ(r[1], edge * scale + a);
  const T sentinel = T(123);
  r[0] = sentinel;
  EXPECT_EQ(gaussian<T>(3, s, 1, r, a, sigma), -2);
  EXPECT_EQ(gaussian<T>(-1, s, 1, r, a, sigma), -2);
  EXPECT_EQ(r[0], sentinel);
}

TEST(Gaussian, RepairedEdges) {
  check_edges<double>(-744.4400719213812, 5.8635847487551676);
  EXPECT_EQ(std::sqrt(-2 * -744.4400719213812), std::sqrt(1488.8801438427624));
  check_edges<float>(-103.27893f, 3.832507f);
}

int g_caller_calls = 0;
int32_t caller_callback(ErrorContext*) {
  ++g_caller_calls;
  return 0;
}

// Every repaired element sets the status and goes to the Gaussian's callback; afterwards the
// caller's word, callback and status are back, and the caller's callback was never called.
void check_state_kept() {
  const Stream s(scripted_brng(), 1);
  script_uniforms({0.0, 0.25, 0.0, 1.0});
  const uint32_t mode = _yubGetMode();
  const ErrorCallback callback = _yubGetErrorCallBack();
  const int32_t status = _yubGetErrStatus();
  const int calls = g_caller_calls;
  for (int32_t method = 0; method < 3; ++method) {
    double d[4];
    float f[4];
    ASSERT_EQ(_qordRngGaussian(method, s, 4, d, 0.0, 1.0), 0);
    ASSERT_EQ(_qorsRngGaussian(method, s, 4, f, 0.0f, 1.0f), 0);
    EXPECT_EQ(_yubGetMode(), mode) << method;
    EXPECT_EQ(_yubGetErrorCallBack(), callback) << method;
    EXPECT_EQ(_yubGetErrStatus(), status) << method;
  }
  EXPECT_EQ(g_caller_calls, calls);
}

TEST(Gaussian, CallersModeCallbackAndStatusKept) {
  check_state_kept();  // the default word
  _yubSetErrStatus(ZOK_VM_STATUS_OVERFLOW);
  const ErrorCallback old = _yubSetErrorCallBack(caller_callback);
  check_state_kept();
  _yubSetErrorCallBack(old);
  _yubSetErrStatus(0);
  // A thread whose word has an empty error field: a restore through the setter would leave the
  // callback bit behind.
  setenv("ZOK_YUB_MODE", "YUB_LA", 1);
  std::thread([] {
    ASSERT_EQ(_yubGetMode() & ZOK_VM_ERRMODE_MASK, 0u);
    check_state_kept();
  }).join();
  unsetenv("ZOK_YUB_MODE");
}

}  // namespace
}  // namespace zok::test

// Continuous distributions: the closed forms against their formulas on a copied stream's uniforms,
// chosen uniforms through the stand-in generator, the caller's vector-math state, the kernel slots
// and modes of every internal call, the gamma pair chunk and failing statuses; goodness of fit of
// every law against Boost.Math's in long double (10^5 draws in 100 bins; 10^7 in 1000 when built
// with ZOK_QUALITY_DRAWS for the slow label).
#include <gsl/gsl_cdf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <boost/math/distributions.hpp>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/distributions/dist_support.h"
#include "tests/support/alloc_hook.h"
#include "zok/core_services.h"
#include "zok/vector_math.h"

#ifndef ZOK_QUALITY_DRAWS
#define ZOK_QUALITY_DRAWS 100000
#define ZOK_QUALITY_BINS 100
#endif

namespace zok::test {
namespace {

using LD = long double;
constexpr LD kA = 1.5, kScale = 2;

// draw(stream, n, r, a, beta): the standard law shifted by a and scaled by beta.
template <class T>
using Draw = std::function<int32_t(StreamRecord*, int32_t, T*, T, T)>;
#define ZOK_FORMS(t, T)                                                                                     \
  Draw<T> closed(int i, T) {                                                                                \
    using F = int32_t (*)(int32_t, StreamRecord*, int32_t, T*, T, T);                                       \
    static const F forms[] = {_qor##t##RngExponential, _qor##t##RngLaplace, _qor##t##RngCauchy,             \
                              _qor##t##RngRayleigh, _qor##t##RngGumbel};                                    \
    return [f = forms[i]](StreamRecord* s, int32_t n, T* r, T a, T b) { return f(0, s, n, r, a, b); };      \
  }                                                                                                         \
  Draw<T> weibull(T x) {                                                                                    \
    return [x](StreamRecord* s, int32_t n, T* r, T a, T b) {                                                \
      return _qor##t##RngWeibull(0, s, n, r, x, a, b);                                                      \
    };                                                                                                      \
  }                                                                                                         \
  Draw<T> gamma(T x) {                                                                                      \
    return                                                                                                  \
        [x](StreamRecord* s, int32_t n, T* r, T a, T b) { return _qor##t##RngGamma(0, s, n, r, x, a, b); }; \
  }                                                                                                         \
  Draw<T> beta(T p, T q) {                                                                                  \
    return [=](StreamRecord* s, int32_t n, T* r, T a, T b) {                                                \
      return _qor##t##RngBeta(0, s, n, r, p, q, a, b);                                                      \
    };                                                                                                      \
  }
ZOK_FORMS(d, double)
ZOK_FORMS(s, float)
#undef ZOK_FORMS

// Every operation and gamma/beta method of one precision at a = 1.5, beta = 2; the closed forms
// with their formula on their uniforms (u, w).
template <class T>
struct Case {
  std::string name;
  Draw<T> draw;
  int per_variate;  // uniforms per variate of a closed form; 0 for a rejection method
  LD (*formula)(LD u, LD w);
  int32_t operator()(StreamRecord* s, int32_t n, T* r) const { return draw(s, n, r, T(kA), T(kScale)); }
};
LD exponential(LD u, LD) {
  return std::max(kA, kA - kScale * std::log(u));
}
template <class T>
std::vector<Case<T>> cases() {
  return {{"exponential", closed(0, T()), 1, exponential},
          {"laplace", closed(1, T()), 2,
           [](LD u, LD w) { return w <= 0.5 ? kA - kScale * std::log(u) : kA + kScale * std::log(u); }},
          {"weibull", weibull(T(0.5)), 1,
           [](LD u, LD) { return std::max(kA, kScale * std::pow(std::log(u), 2.0L) + kA); }},
          {"cauchy", closed(2, T()), 1, [](LD u, LD) { return kA + kScale * std::tan(u); }},
          {"rayleigh", closed(3, T()), 1,
           [](LD u, LD) { return std::max(kA, kScale * std::sqrt(-std::log(u)) + kA); }},
          {"gumbel", closed(4, T()), 1, [](LD u, LD) { return kScale * std::log(-std::log(u)) + kA; }},
          {"gamma 1", gamma(T(1)), 1, exponential},
          {"gamma 0.3", gamma(T(0.3)), 0, nullptr},
          {"gamma 0.8", gamma(T(0.8)), 0, nullptr},
          {"gamma 2.5", gamma(T(2.5)), 0, nullptr},
          {"beta 0.5 0.5", beta(T(0.5), T(0.5)), 0, nullptr},
          {"beta 2 3", beta(T(2), T(3)), 0, nullptr},
          {"beta 0.3 2", beta(T(0.3), T(2)), 0, nullptr},
          {"beta 2 0.3", beta(T(2), T(0.3)), 0, nullptr}};
}

// The closed forms on the uniforms of a copy, drawn in pieces across the 1024-output blocks; the
// error allowed is a small multiple of the EP (double, 2^-26) or LA (single, 4 ulp) bound.
template <class T>
void closed_forms_follow_their_formulas() {
  const LD tol = sizeof(T) == 8 ? 0x1p-20L : 0x1p-16L;
  const T half_pi = sizeof(T) == 8 ? T(1.5707963267948966) : T(1.57079625f);
  for (const Case<T>& c : cases<T>()) {
    if (c.per_variate == 0) continue;
    SCOPED_TRACE(c.name);
    const Stream s(ZOK_RNG_MCG59, 11);
    const Stream copy(s);
    std::vector<T> r(3000);
    ASSERT_EQ(c(s, 1000, r.data()), 0);
    ASSERT_EQ(c(s, 1100, r.data() + 1000), 0);
    ASSERT_EQ(c(s, 900, r.data() + 2100), 0);
    const bool cauchy = c.name == "cauchy";
    const std::vector<T> u =
        uniforms<T>(copy, 3000 * c.per_variate, cauchy ? -half_pi : T(0), cauchy ? half_pi : T(1));
    for (size_t k = 0, w = c.per_variate; k < r.size(); ++k) {
      const LD want = c.formula(u[w * k], w == 2 ? u[w * k + 1] : 0);
      ASSERT_LE(std::fabs(r[k] - want), tol * std::max(std::fabs(want - kA), kScale)) << k;
    }
  }
}
TEST(ContinuousForms, ClosedFormsFollowTheirFormulas) {
  closed_forms_follow_their_formulas<double>();
  closed_forms_follow_their_formulas<float>();
}

// Zeros among spread values, in a prime period, so that rejection rounds, which take uniforms in
// varying numbers, meet new combinations and end.
std::vector<double> zeros_among_others() {
  std::vector<double> u;
  for (int k = 0; k < 97; ++k) u.push_back(k % 5 == 0 ? 0.0 : std::fmod(k * 0.6180339887, 1.0));
  return u;
}

// A zero uniform stands for the smallest denormal (ln 0 = L): finite variates, Cauchy's on its own
// side of a, and beta in [a, a + beta] whatever zeros its methods meet.
template <class T>
void zero_uniforms_give_finite_variates() {
  const LD big = sizeof(T) == 8 ? 744.4400719213812L : 103.27893L, tol = sizeof(T) == 8 ? 0x1p-20L : 0x1p-16L;
  const Stream s(scripted_brng(), 1);
  // By case: exponential, -, weibull 0.5, -, rayleigh, gumbel, gamma 1.
  const LD expected[] = {big, 0, big * big, 0, std::sqrt(big), std::log(big), big};
  const std::vector<Case<T>> all = cases<T>();
  for (size_t i = 0; i < all.size(); ++i) {
    const Case<T>& c = all[i];
    SCOPED_TRACE(c.name);
    T r[40];
    script_uniforms(c.name.rfind("beta", 0) == 0 ? zeros_among_others() : std::vector<double>{0.0});
    ASSERT_EQ(c(s, 40, r), 0);
    if (c.name == "cauchy") {
      EXPECT_TRUE(std::isfinite(r[0]) && r[0] < T(kA - 1e6 * kScale)) << r[0];
    }
    const LD want = i < 7 ? kA + kScale * expected[i] : 0;
    EXPECT_TRUE(i >= 7 || expected[i] == 0 || std::fabs(r[39] - want) <= tol * want) << r[39];
    for (T x : r) EXPECT_TRUE(c.name.rfind("beta", 0) != 0 || (x >= T(kA) && x <= T(kA + kScale))) << x;
  }
}
TEST(ContinuousChosen, ZeroUniformsGiveFiniteVariates) {
  zero_uniforms_give_finite_variates<double>();
  zero_uniforms_give_finite_variates<float>();
}

int callback_calls = 0;
int32_t counting_callback(ErrorContext*) {
  return ++callback_calls, 0;
}

constexpr int32_t kFailure = -1131;
template <class... A>
int32_t failing(A...) {
  return kFailure;
}

// The caller's mode word (the default one included), callback and error status are as they were,
// and the callback never hears of the logarithms of zero uniforms. A generator's failure is passed
// up by every operation and method.
template <class T>
void caller_state_is_kept() {
  GeneratorProperties row{};
  __qorGetBrngProperties(scripted_brng(), &row);
  row.generate_s = failing<StreamRecord*, int32_t, float*, float, float>;
  row.generate_d = failing<StreamRecord*, int32_t, double*, double, double>;
  const Stream s(scripted_brng(), 1), broken(__qorRegisterBrng(&row), 1);
  EXPECT_EQ(_yubGetMode(), ZOK_VM_DEFAULT_MODE);
  for (uint32_t set : {0u, ZOK_VM_FTZDAZ_ON | ZOK_VM_ERRMODE_IGNORE | ZOK_VM_LA}) {
    if (set != 0) _yubSetMode(set);
    // Installing a callback turns its error-mode bit on.
    _yubSetErrorCallBack(counting_callback);
    const uint32_t mode = _yubGetMode();
    _yubSetErrStatus(ZOK_VM_STATUS_OVERFLOW);
    for (const Case<T>& c : cases<T>()) {
      T r[8];
      script_uniforms(zeros_among_others());
      ASSERT_EQ(c(s, 8, r), 0) << c.name;
      EXPECT_EQ(_yubGetMode(), mode) << c.name;
      EXPECT_EQ(_yubGetErrorCallBack(), &counting_callback) << c.name;
      EXPECT_EQ(_yubGetErrStatus(), ZOK_VM_STATUS_OVERFLOW) << c.name;
      EXPECT_EQ(c(broken, 8, r), kFailure) << c.name;
    }
  }
  EXPECT_EQ(callback_calls, 0);
}
// Threads of their own start from the default word.
TEST(ContinuousChosen, CallerStateIsKept) {
  std::thread(caller_state_is_kept<double>).join();
  std::thread(caller_state_is_kept<float>).join();
}

// ---- every internal kernel call, through recording table slots ----
// Slot i of the 36: table i / 3 (Ln, Exp, Sqrt, Tan, Powx, SinCos; double then single), slot i % 3.
void** const kTables[] = {zok_yub_kernel_dLn_ttab,  zok_yub_kernel_dExp_ttab,  zok_yub_kernel_dSqrt_ttab,
                          zok_yub_kernel_dTan_ttab, zok_yub_kernel_dPowx_ttab, zok_yub_kernel_dSinCos_ttab,
                          zok_yub_kernel_sLn_ttab,  zok_yub_kernel_sExp_ttab,  zok_yub_kernel_sSqrt_ttab,
                          zok_yub_kernel_sTan_ttab, zok_yub_kernel_sPowx_ttab, zok_yub_kernel_sSinCos_ttab};
void* saved[36];
std::vector<std::pair<int, uint32_t>> calls;  // (slot of the 36, mode word during the call)

template <int I, class... A>
void record(int n, A... args) {
  calls.emplace_back(I, _yubGetMode());
  reinterpret_cast<void (*)(int, A...)>(saved[I])(n, args...);
}
template <int I>
void* recorder() {
  using T = std::conditional_t<(I < 18), double, float>;
  if constexpr (I / 3 % 6 == 4)
    return reinterpret_cast<void*>(&record<I, const T*, T, T*>);
  else if constexpr (I / 3 % 6 == 5)
    return reinterpret_cast<void*>(&record<I, const T*, T*, T*>);
  else
    return reinterpret_cast<void*>(&record<I, const T*, T*>);
}
template <int... I>
void install(std::integer_sequence<int, I...>) {
  ((saved[I] = kTables[I / 3][I % 3], kTables[I / 3][I % 3] = recorder<I>()), ...);
}

// Double work runs on EP and single on LA, gamma and beta also on HA ln, exp and sqrt; every call
// keeps denormals, and all but Cauchy's report errors to the callback only.
template <class T>
void kernel_calls_use_their_flavours() {
  const int fast = sizeof(T) == 8 ? 2 : 0, first = sizeof(T) == 8 ? 0 : 6;
  for (const Case<T>& c : cases<T>()) {
    SCOPED_TRACE(c.name);
    const bool exact = c.name.rfind("gamma", 0) == 0 || c.name.rfind("beta", 0) == 0;
    const Stream s(ZOK_RNG_MCG59, 5);
    std::vector<T> r(3000);
    calls.clear();
    ASSERT_EQ(c(s, 3000, r.data()), 0);
    EXPECT_FALSE(calls.empty());
    for (const auto& [i, mode] : calls) {
      const int fn = i / 3 - first, slot = i % 3;
      EXPECT_TRUE(fn >= 0 && fn < 6 && (slot == fast || (exact && slot == 1 && fn <= 2)))
          << fn << " " << slot;
      EXPECT_EQ(mode & ZOK_VM_DENORMAL_MASK, ZOK_VM_FTZDAZ_OFF);
      if (c.name != "cauchy") {
        EXPECT_EQ(mode & ZOK_VM_ERRMODE_MASK, ZOK_VM_ERRMODE_CALLBACK);
      }
    }
  }
}
TEST(ContinuousKernels, CallsUseTheirFlavoursAndModes) {
  install(std::make_integer_sequence<int, 36>());
  _yubSetMode(ZOK_VM_FTZDAZ_ON);
  kernel_calls_use_their_flavours<double>();
  kernel_calls_use_their_flavours<float>();
  for (int i = 0; i < 36; ++i) kTables[i / 3][i % 3] = saved[i];
}

// ---- the gamma pair chunk ----
// A pair chunk of another size, or a shared one (an image may carry either), is replaced by a
// private one of the right size, never read past its end; one variate leaves a half waiting there.
template <class T>
void pair_chunk_is_private_and_sized(int32_t id) {
  const uint64_t shared_key[2] = {0x5EED, 31};
  for (int32_t size : {0, 4, static_cast<int32_t>(2 * sizeof(T)), 64}) {
    const Stream s(ZOK_RNG_MCG59, 9);
    if (size > 0) {
      void* block = zok_serv_allocate(size, 128);
      std::memset(block, 0x7F, size);
      ASSERT_EQ(__qorAddChunk(s, id, size == 2 * sizeof(T) ? shared_key : nullptr, block, size), 0);
    }
    T r;
    ASSERT_EQ(cases<T>()[9](s, 1, &r), 0);
    const StreamChunk* c = static_cast<StreamRecord*>(s)->chunks;
    ASSERT_TRUE(c != nullptr && c->next == nullptr && c->id == id);
    EXPECT_EQ(c->size, static_cast<int32_t>(2 * sizeof(T)));
    EXPECT_TRUE(c->key[0] == 0 && c->key[1] == 0);
    EXPECT_GE(static_cast<const T*>(c->data)[0], T(0));
  }
}
// A failed allocation of the chunk (its block, then its record) gives -4 and leaves no chunk.
TEST(ContinuousGamma, PairChunkIsPrivateAndSized) {
  const long blocks = outstanding_blocks();
  pair_chunk_is_private_and_sized<double>(ZOK_RNG_CHUNK_GAMMA_PAIR_D);
  pair_chunk_is_private_and_sized<float>(ZOK_RNG_CHUNK_GAMMA_PAIR_S);
  for (long k = 1; k <= 3; ++k) {
    const Stream s(ZOK_RNG_MCG59, 9);
    double r[4];
    fail_allocation(k);
    EXPECT_EQ(_qordRngGamma(0, s, 4, r, 2.5, 0.0, 1.0), k < 3 ? ZOK_RNG_ERROR_MEMORY : 0) << k;
    fail_allocation(0);
    EXPECT_EQ(__qorGetNumChunks(s), k < 3 ? 0 : 1) << k;
  }
  EXPECT_EQ(outstanding_blocks(), blocks);
}

// ---- goodness of fit ----
// A standard law from Boost.Math: CDF, quantile, and the support its variates must keep. Gumbel is
// the smallest-extreme-value law, the mirror of Boost's extreme_value.
struct Law {
  std::function<LD(LD)> cdf, quantile;
  LD lo = -INFINITY, hi = INFINITY;
};
template <class D>
Law law(D d, LD lo = -INFINITY, LD hi = INFINITY) {
  return {[=](LD x) { return x <= lo   ? 0
                             : x >= hi ? 1
                                       : cdf(d, x); }, [=](LD p) { return quantile(d, p); },
          lo, hi};
}
namespace bm = boost::math;
const Law kClosed[] = {law(bm::exponential_distribution<LD>(), 0),
                       law(bm::laplace_distribution<LD>()),
                       law(bm::cauchy_distribution<LD>()),
                       law(bm::rayleigh_distribution<LD>(M_SQRT1_2), 0),
                       {[](LD x) { return cdf(complement(bm::extreme_value_distribution<LD>(), -x)); },
                        [](LD p) { return -quantile(complement(bm::extreme_value_distribution<LD>(), p)); }}};
const char* const kClosedNames[] = {"exponential", "laplace", "cauchy", "rayleigh", "gumbel"};

// Variates round to nearest, so "below the edge e" means below the midpoint of e and the value under
// it. Edges that round to one value merge their bins; bins that cannot hold a value must be empty.
template <class T>
double chi_square(const std::vector<T>& draws, const Law& law, int bins) {
  std::vector<T> edges;
  for (int k = 1; k < bins; ++k)
    if (const T e = static_cast<T>(law.quantile(static_cast<LD>(k) / bins));
        edges.empty() || e > edges.back())
      edges.push_back(e);
  std::vector<LD> below{0};
  for (T e : edges) below.push_back(law.cdf((static_cast<LD>(e) + std::nextafter(e, -INFINITY)) / 2));
  below.push_back(1);
  std::vector<long> counts(edges.size() + 1, 0);
  for (T x : draws) ++counts[std::upper_bound(edges.begin(), edges.end(), x) - edges.begin()];
  double stat = 0;
  int used = 0;
  for (size_t k = 0; k < counts.size(); ++k) {
    const double expected = static_cast<double>((below[k + 1] - below[k]) * draws.size());
    if (expected > 0) {
      stat += (counts[k] - expected) * (counts[k] - expected) / expected, ++used;
    } else {
      EXPECT_EQ(counts[k], 0) << "bin " << k;
    }
  }
  return gsl_cdf_chisq_Q(stat, used - 1);
}

// per_call > 0 asks for that many variates at a time.
template <class T>
void check(const std::string& name, const Law& law, const Draw<T>& draw, T a, T scale, int32_t per_call = 0) {
  SCOPED_TRACE(name + (sizeof(T) == 4 ? " single" : " double") + " a=" + std::to_string(a));
  const int32_t n = ZOK_QUALITY_DRAWS, step = per_call > 0 ? per_call : n;
  std::vector<T> r(n);
  const Stream s(ZOK_RNG_MCG59, 20261207);
  for (int32_t done = 0; done < n; done += step) ASSERT_EQ(draw(s, step, r.data() + done, a, scale), 0);
  const T lo = static_cast<T>(a + scale * law.lo), hi = static_cast<T>(a + scale * law.hi);
  long outside = 0;
  for (T& x : r) {
    outside += !(x >= lo && x <= hi);  // NaN included
    x = (x - a) / scale;
  }
  EXPECT_EQ(outside, 0);
  EXPECT_GT(chi_square(r, law, ZOK_QUALITY_BINS), 1e-4);
}

template <class T>
void quality_grid() {
  for (int i = 0; i < 5; ++i) {
    check<T>(kClosedNames[i], kClosed[i], closed(i, T()), 0, 1);
    check<T>(kClosedNames[i], kClosed[i], closed(i, T()), -3, T(2.5));
  }
  for (T alpha : {0.1, 0.5, 1.0, 1.5, 10.0, 1000.0})
    check<T>("weibull " + std::to_string(alpha), law(bm::weibull_distribution<LD>(alpha), 0), weibull(alpha),
             0, 1);
  for (T alpha : {0.001, 0.05, 0.3, 0.5999999, 0.6, 0.99, 1.0, 1.0000001, 2.5, 100.0, 1e6})
    check<T>("gamma " + std::to_string(alpha), law(bm::gamma_distribution<LD>(alpha), 0), gamma(alpha), 0, 1);
  check<T>("gamma 2.5 one per call", law(bm::gamma_distribution<LD>(2.5), 0), gamma(T(2.5)), 1, 2, 1);
  const double shapes[][2] = {{0.001, 0.001}, {0.1, 0.1}, {0.5, 0.5}, {0.3, 2}, {2, 0.3},
                              {1, 1},         {2, 3},     {1, 1000},  {50, 50}, {1e5, 1e5}};
  for (const auto& [p, q] : shapes) {
    const T tp = static_cast<T>(p), tq = static_cast<T>(q);
    check<T>("beta " + std::to_string(p) + "," + std::to_string(q),
             law(bm::beta_distribution<LD>(tp, tq), 0, 1), beta(tp, tq), 0, 1);
  }
}
TEST(ContinuousQuality, FormsFitTheirDistributions) {
  quality_grid<double>();
  quality_grid<float>();
}

}  // namespace
}  // namespace zok::test

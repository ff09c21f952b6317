// Continuous distributions: the closed forms against their formulas on a copied stream's uniforms,
// chosen uniforms through the stand-in generator, the caller's vector-math state, the kernel slots
// and modes of every internal call, the gamma pair chunk and failing statuses.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "tests/distributions/dist_support.h"
#include "tests/support/alloc_hook.h"
#include "zok/core_services.h"
#include "zok/vector_math.h"

namespace zok::test {
namespace {

using LD = long double;

// Every operation of this family, each precision, as one callable over a standard set of
// parameters (shapes chosen per case), with the formula of the closed forms on their uniforms.
template <class T>
struct Case {
  const char* name;
  std::function<int32_t(StreamRecord*, int32_t, T*)> draw;
  int uniforms_per_variate;  // 0: a rejection method
  std::function<LD(LD u, LD w)> formula;
};

constexpr LD kA = 1.5, kScale = 2;

template <class T, class F>
auto dist(F f) {
  return [f](StreamRecord* s, int32_t n, T* r) { return f(0, s, n, r, T(kA), T(kScale)); };
}
template <class T, class F>
auto shaped(F f, T shape) {
  return [f, shape](StreamRecord* s, int32_t n, T* r) { return f(0, s, n, r, shape, T(kA), T(kScale)); };
}
template <class T, class F>
auto beta_of(F f, T p, T q) {
  return [f, p, q](StreamRecord* s, int32_t n, T* r) { return f(0, s, n, r, p, q, T(kA), T(kScale)); };
}

#define ZOK_FORMS(t, T)                                                                                 \
  std::vector<Case<T>> cases_##t() {                                                                    \
    return {                                                                                            \
        {"exponential", dist<T>(_qor##t##RngExponential), 1,                                            \
         [](LD u, LD) { return std::max(kA, kA - kScale * std::log(u)); }},                             \
        {"laplace", dist<T>(_qor##t##RngLaplace), 2,                                                    \
         [](LD u, LD w) { return w <= 0.5 ? kA - kScale * std::log(u) : kA + kScale * std::log(u); }},  \
        {"weibull", shaped<T>(_qor##t##RngWeibull, T(0.5)), 1,                                          \
         [](LD u, LD) { return std::max(kA, kScale * std::pow(-std::log(u), 2.0L) + kA); }},            \
        {"cauchy", dist<T>(_qor##t##RngCauchy), 1, [](LD u, LD) { return kA + kScale * std::tan(u); }}, \
        {"rayleigh", dist<T>(_qor##t##RngRayleigh), 1,                                                  \
         [](LD u, LD) { return std::max(kA, kScale * std::sqrt(-std::log(u)) + kA); }},                 \
        {"gumbel", dist<T>(_qor##t##RngGumbel), 1,                                                      \
         [](LD u, LD) { return kScale * std::log(-std::log(u)) + kA; }},                                \
        {"gamma 1", shaped<T>(_qor##t##RngGamma, T(1)), 1,                                              \
         [](LD u, LD) { return std::max(kA, kA - kScale * std::log(u)); }},                             \
        {"gamma 0.3", shaped<T>(_qor##t##RngGamma, T(0.3)), 0, {}},                                     \
        {"gamma 0.8", shaped<T>(_qor##t##RngGamma, T(0.8)), 0, {}},                                     \
        {"gamma 2.5", shaped<T>(_qor##t##RngGamma, T(2.5)), 0, {}},                                     \
        {"beta 0.5 0.5", beta_of<T>(_qor##t##RngBeta, T(0.5), T(0.5)), 0, {}},                          \
        {"beta 2 3", beta_of<T>(_qor##t##RngBeta, T(2), T(3)), 0, {}},                                  \
        {"beta 0.3 2", beta_of<T>(_qor##t##RngBeta, T(0.3), T(2)), 0, {}},                              \
        {"beta 2 0.3", beta_of<T>(_qor##t##RngBeta, T(2), T(0.3)), 0, {}},                              \
    };                                                                                                  \
  }
ZOK_FORMS(d, double)
ZOK_FORMS(s, float)
#undef ZOK_FORMS

template <class T>
std::vector<Case<T>> cases() {
  if constexpr (sizeof(T) == 8)
    return cases_d();
  else
    return cases_s();
}

// The closed forms on the uniforms of a copy, drawn in pieces that cross the 1024-output blocks;
// the error allowed is a small multiple of the EP (double, 2^-26) or LA (single, 4 ulp) bound.
template <class T>
void closed_forms_follow_their_formulas() {
  const LD tol = sizeof(T) == 8 ? 0x1p-20L : 0x1p-16L;
  const T half_pi = sizeof(T) == 8 ? T(1.5707963267948966) : T(1.57079625f);
  for (const Case<T>& c : cases<T>()) {
    if (c.uniforms_per_variate == 0) continue;
    SCOPED_TRACE(c.name);
    const Stream s(ZOK_RNG_MCG59, 11);
    const Stream copy(s);
    const int32_t n = 3000;
    std::vector<T> r(n), u(n * c.uniforms_per_variate);
    int32_t done = 0;
    for (int32_t piece : {1000, 1100, 900}) {
      ASSERT_EQ(c.draw(s, piece, r.data() + done), 0);
      done += piece;
    }
    const bool cauchy = std::string(c.name) == "cauchy";
    const T lo = cauchy ? -half_pi : T(0), hi = cauchy ? half_pi : T(1);
    if constexpr (sizeof(T) == 8) {
      ASSERT_EQ(_qordRngUniform(0, copy, u.size(), u.data(), lo, hi), 0);
    } else {
      ASSERT_EQ(_qorsRngUniform(0, copy, u.size(), u.data(), lo, hi), 0);
    }
    int bad = 0;
    for (int32_t k = 0; k < n; ++k) {
      const int w = c.uniforms_per_variate;
      const LD want = c.formula(u[w * k], w == 2 ? u[w * k + 1] : 0);
      if (!(std::fabs(r[k] - want) <= tol * std::max(std::fabs(want - kA), kScale)) && bad++ == 0)
        ADD_FAILURE() << k << ": " << r[k] << " against " << static_cast<double>(want);
    }
    EXPECT_EQ(bad, 0);
  }
}
TEST(ContinuousForms, DoubleFormsFollowTheirFormulas) {
  closed_forms_follow_their_formulas<double>();
}
TEST(ContinuousForms, SingleFormsFollowTheirFormulas) {
  closed_forms_follow_their_formulas<float>();
}

// Gamma of shape 1 is the exponential generator's (0, 1) output from the same state, scaled.
TEST(ContinuousForms, GammaOfShapeOneIsTheExponential) {
  const Stream s(ZOK_RNG_MCG59, 3);
  const Stream copy(s);
  std::vector<double> g(2500), e(2500);
  ASSERT_EQ(_qordRngGamma(0, s, 2500, g.data(), 1.0, -1.0, 3.0), 0);
  ASSERT_EQ(_qordRngExponential(0, copy, 2500, e.data(), 0.0, 1.0), 0);
  for (size_t k = 0; k < g.size(); ++k) ASSERT_EQ(g[k], std::max(-1.0, e[k] * 3.0 + -1.0)) << k;
}

// Zeros among spread values, in a prime period so that rejection methods, whose rounds take
// uniforms in varying numbers, meet new combinations and end.
std::vector<double> zeros_among_others() {
  std::vector<double> u;
  for (int k = 0; k < 97; ++k) u.push_back(k % 5 == 0 ? 0.0 : std::fmod(k * 0.6180339887, 1.0));
  return u;
}

// A zero uniform stands for the smallest denormal: ln 0 = L gives finite variates, and beta stays
// in [a, a + beta] whatever zeros its rejection methods meet.
template <class T>
void zero_uniforms_give_finite_variates() {
  const LD big = sizeof(T) == 8 ? 744.4400719213812L : 103.27893L;
  const LD tol = sizeof(T) == 8 ? 0x1p-20L : 0x1p-16L;
  const Stream s(scripted_brng(), 1);
  const std::pair<const char*, LD> expected[] = {{"exponential", kA + kScale * big},
                                                 {"weibull", kA + kScale * big * big},
                                                 {"rayleigh", kA + kScale * std::sqrt(big)},
                                                 {"gamma 1", kA + kScale * big},
                                                 {"gumbel", kA + kScale * std::log(big)}};
  for (const Case<T>& c : cases<T>()) {
    SCOPED_TRACE(c.name);
    T r[40];
    script_uniforms({0.0});
    if (std::string(c.name) == "cauchy") {
      ASSERT_EQ(c.draw(s, 1, r), 0);
      EXPECT_TRUE(std::isfinite(r[0]) && r[0] < T(kA - 1e6 * kScale)) << r[0];
    }
    for (const auto& [name, value] : expected) {
      if (std::string(c.name) != name) continue;
      ASSERT_EQ(c.draw(s, 3, r), 0);
      EXPECT_NEAR(r[2], value, tol * value) << r[2];
    }
    if (std::string(c.name).rfind("beta", 0) == 0) {
      script_uniforms(zeros_among_others());
      ASSERT_EQ(c.draw(s, 40, r), 0);
      for (T x : r) EXPECT_TRUE(x >= T(kA) && x <= T(kA + kScale)) << x;
    }
  }
}
TEST(ContinuousChosen, DoubleZeroUniformsGiveFiniteVariates) {
  zero_uniforms_give_finite_variates<double>();
}
TEST(ContinuousChosen, SingleZeroUniformsGiveFiniteVariates) {
  zero_uniforms_give_finite_variates<float>();
}

int callback_calls = 0;
int32_t counting_callback(ErrorContext*) {
  ++callback_calls;
  return 0;
}

// The caller's mode word (the default one included), callback and error status are as they were,
// and the callback never hears of the logarithms of zero uniforms.
template <class T>
void caller_state_is_kept() {
  const Stream s(scripted_brng(), 1);
  for (uint32_t set : {0u, ZOK_VM_FTZDAZ_ON | ZOK_VM_ERRMODE_IGNORE | ZOK_VM_LA}) {
    if (set != 0) _yubSetMode(set);
    if (set == 0) {
      EXPECT_EQ(_yubGetMode(), ZOK_VM_DEFAULT_MODE);
    }
    // Installing a callback turns its error-mode bit on.
    _yubSetErrorCallBack(counting_callback);
    const uint32_t mode = _yubGetMode();
    _yubSetErrStatus(ZOK_VM_STATUS_OVERFLOW);
    callback_calls = 0;
    for (const Case<T>& c : cases<T>()) {
      T r[8];
      script_uniforms(zeros_among_others());
      ASSERT_EQ(c.draw(s, 8, r), 0) << c.name;
      EXPECT_EQ(_yubGetMode(), mode) << c.name;
      EXPECT_EQ(_yubGetErrorCallBack(), &counting_callback) << c.name;
      EXPECT_EQ(_yubGetErrStatus(), ZOK_VM_STATUS_OVERFLOW) << c.name;
    }
    EXPECT_EQ(callback_calls, 0);
  }
}
// Threads of their own start from the default word.
TEST(ContinuousChosen, CallerStateIsKept) {
  std::thread(caller_state_is_kept<double>).join();
  std::thread(caller_state_is_kept<float>).join();
}

constexpr int32_t kFailure = -1131;
int32_t failing_init(int32_t, StreamRecord*, int32_t, const uint32_t*) {
  return 0;
}
int32_t failing_d(StreamRecord*, int32_t, double*, double, double) {
  return kFailure;
}
int32_t failing_s(StreamRecord*, int32_t, float*, float, float) {
  return kFailure;
}
int32_t failing_i(StreamRecord*, int32_t, uint32_t*) {
  return kFailure;
}

// Every operation and method passes the generator's failure up.
TEST(ContinuousChosen, GeneratorFailureIsPassedUp) {
  const GeneratorProperties row{24, 1, 1, 4, 32, failing_init, failing_s, failing_d, failing_i};
  const int32_t brng = __qorRegisterBrng(&row);
  ASSERT_GT(brng, 0);
  const Stream s(brng, 1);
  for (const Case<double>& c : cases<double>()) {
    double r[4];
    EXPECT_EQ(c.draw(s, 4, r), kFailure) << c.name;
  }
  for (const Case<float>& c : cases<float>()) {
    float r[4];
    EXPECT_EQ(c.draw(s, 4, r), kFailure) << c.name;
  }
}

// ---- every internal kernel call, through recording table slots ----
struct Call {
  int table, slot;
  uint32_t mode;
};
std::vector<Call> calls;
void** const kTables[] = {zok_yub_kernel_dLn_ttab,  zok_yub_kernel_dExp_ttab,  zok_yub_kernel_dSqrt_ttab,
                          zok_yub_kernel_dTan_ttab, zok_yub_kernel_dPowx_ttab, zok_yub_kernel_dSinCos_ttab,
                          zok_yub_kernel_sLn_ttab,  zok_yub_kernel_sExp_ttab,  zok_yub_kernel_sSqrt_ttab,
                          zok_yub_kernel_sTan_ttab, zok_yub_kernel_sPowx_ttab, zok_yub_kernel_sSinCos_ttab};
void* saved[12][3];

template <int Table, int Slot, class... A>
void record(int n, A... args) {
  calls.push_back({Table, Slot, _yubGetMode()});
  reinterpret_cast<void (*)(int, A...)>(saved[Table][Slot])(n, args...);
}
template <int Table, class... A>
void install() {
  for (int slot = 0; slot < 3; ++slot) saved[Table][slot] = kTables[Table][slot];
  kTables[Table][0] = reinterpret_cast<void*>(&record<Table, 0, A...>);
  kTables[Table][1] = reinterpret_cast<void*>(&record<Table, 1, A...>);
  kTables[Table][2] = reinterpret_cast<void*>(&record<Table, 2, A...>);
}
template <class T, int Base>
void install_precision() {
  install<Base + 0, const T*, T*>();
  install<Base + 1, const T*, T*>();
  install<Base + 2, const T*, T*>();
  install<Base + 3, const T*, T*>();
  install<Base + 4, const T*, T, T*>();
  install<Base + 5, const T*, T*, T*>();
}

// Double work runs on EP and single on LA, gamma and beta also on the HA ln, exp and sqrt; every
// call keeps denormals, and all but Cauchy's report errors to the callback only.
template <class T>
void kernel_calls_use_their_flavours() {
  const int fast = sizeof(T) == 8 ? 2 : 0, base = sizeof(T) == 8 ? 0 : 6;
  for (const Case<T>& c : cases<T>()) {
    SCOPED_TRACE(c.name);
    const std::string name = c.name;
    const bool accurate = name.rfind("gamma", 0) == 0 || name.rfind("beta", 0) == 0;
    const Stream s(ZOK_RNG_MCG59, 5);
    std::vector<T> r(3000);
    calls.clear();
    ASSERT_EQ(c.draw(s, 3000, r.data()), 0);
    EXPECT_FALSE(calls.empty());
    for (const Call& call : calls) {
      const int fn = call.table - base;
      EXPECT_TRUE(fn >= 0 && fn < 6) << call.table;
      EXPECT_TRUE(call.slot == fast || (accurate && call.slot == 1 && fn <= 2)) << fn << " " << call.slot;
      EXPECT_EQ(call.mode & ZOK_VM_DENORMAL_MASK, ZOK_VM_FTZDAZ_OFF);
      if (name != "cauchy") {
        EXPECT_EQ(call.mode & ZOK_VM_ERRMODE_MASK, ZOK_VM_ERRMODE_CALLBACK);
      }
    }
  }
}
TEST(ContinuousKernels, CallsUseTheirFlavoursAndModes) {
  install_precision<double, 0>();
  install_precision<float, 6>();
  _yubSetMode(ZOK_VM_FTZDAZ_ON);
  kernel_calls_use_their_flavours<double>();
  kernel_calls_use_their_flavours<float>();
  for (int t = 0; t < 12; ++t)
    for (int slot = 0; slot < 3; ++slot) kTables[t][slot] = saved[t][slot];
}

// ---- the gamma pair chunk ----
template <class T>
std::vector<const StreamChunk*> chunks_of(const StreamRecord* s, int32_t id) {
  std::vector<const StreamChunk*> found;
  for (const StreamChunk* c = s->chunks; c != nullptr; c = c->next)
    if (c->id == id) found.push_back(c);
  return found;
}

// A pair chunk of another size or a shared one (from an image, or any caller) is replaced by a
// private one of the right size, never read past its end; a call of one variate leaves its pair's
// second half waiting there.
template <class T, class F>
void pair_chunk_is_private_and_sized(F gamma, int32_t id) {
  const uint64_t shared_key[2] = {0x5EED, 31};
  for (int32_t size : {0, 4, static_cast<int32_t>(2 * sizeof(T)), 64}) {
    for (const uint64_t* key : {static_cast<const uint64_t*>(nullptr), shared_key}) {
      if (size == 0 && key != nullptr) continue;
      const Stream s(ZOK_RNG_MCG59, 9);
      if (size > 0) {
        void* block = zok_serv_allocate(size, 128);
        std::memset(block, 0x7F, size);
        ASSERT_EQ(__qorAddChunk(s, id, key, block, size), 0);
      }
      T r;
      ASSERT_EQ(gamma(0, s, 1, &r, T(2.5), T(0), T(1)), 0);
      const auto found = chunks_of<T>(s, id);
      ASSERT_EQ(found.size(), 1u);
      EXPECT_EQ(found[0]->size, static_cast<int32_t>(2 * sizeof(T)));
      EXPECT_TRUE(found[0]->key[0] == 0 && found[0]->key[1] == 0);
      EXPECT_GE(static_cast<const T*>(found[0]->data)[0], T(0)) << "a half waits after one variate";
    }
  }
}
TEST(ContinuousGamma, PairChunkIsPrivateAndSized) {
  const long blocks = outstanding_blocks();
  pair_chunk_is_private_and_sized<double>(_qordRngGamma, ZOK_RNG_CHUNK_GAMMA_PAIR_D);
  pair_chunk_is_private_and_sized<float>(_qorsRngGamma, ZOK_RNG_CHUNK_GAMMA_PAIR_S);
  EXPECT_EQ(outstanding_blocks(), blocks);
}

// A failed allocation of the chunk gives -4, leaves no chunk and gives every block back.
TEST(ContinuousGamma, AllocationFailureSweep) {
  const long blocks = outstanding_blocks();
  int failures = 0;
  for (long k = 1; k < 8; ++k) {
    const Stream s(ZOK_RNG_MCG59, 9);
    double r[4];
    fail_allocation(k);
    const int32_t status = _qordRngGamma(0, s, 4, r, 2.5, 0.0, 1.0);
    const bool failed = allocations_since_armed() >= k;
    fail_allocation(0);
    if (!failed) {
      EXPECT_EQ(status, 0);
      break;
    }
    ++failures;
    EXPECT_EQ(status, ZOK_RNG_ERROR_MEMORY);
    EXPECT_EQ(__qorGetNumChunks(s), 0);
  }
  EXPECT_EQ(failures, 2);  // the block, then the chunk record
  EXPECT_EQ(outstanding_blocks(), blocks);
}

}  // namespace
}  // namespace zok::test

// Discrete distributions' mechanics: formulas on a copied stream's uniforms, the mirror of the
// binomial, kernel calls through the tables, set-up chunks, chosen uniforms, failing generators and
// allocations, and the caller's vector-math state.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "frame/thread_state.h"
#include "tests/distributions/dist_support.h"
#include "tests/support/alloc_hook.h"
#include "zok/core_services.h"
#include "zok/vector_math.h"

namespace {

using zok::test::Stream;
using Draw = std::function<int32_t(StreamRecord*, int32_t, uint32_t*)>;

TEST(DiscreteCalls, BernoulliGeometricFromTheirUniforms) {
  Stream s(ZOK_RNG_MCG31M1, 11), copy(s);
  const int n = 5000;
  std::vector<float> u(n);
  std::vector<uint32_t> b(n), g(n);
  ASSERT_EQ(_qoriRngBernoulli(0, s, n, b.data(), 0.3), 0);
  ASSERT_EQ(_qoriRngGeometric(0, s, n, g.data(), 0.05), 0);
  ASSERT_EQ(_qorsRngUniform(0, copy, n, u.data(), 0, 1), 0);
  for (int k = 0; k < n; ++k) EXPECT_EQ(b[k], u[k] < 0.3f ? 1u : 0u);
  ASSERT_EQ(_qorsRngUniform(0, copy, n, u.data(), 0, 1), 0);
  // The float logarithm may differ from the C library's by an ulp or two: a count may move by one.
  const float c = static_cast<float>(1 / std::log(0.95));
  for (int k = 0; k < n; ++k) EXPECT_LE(std::fabs(g[k] - std::trunc(std::log(u[k]) * c)), 1.0) << u[k];
}

TEST(DiscreteCalls, BinomialMirrorsFromCopies) {
  for (int32_t ntrial : {100, 1000}) {
    Stream s(ZOK_RNG_MCG59, 3), copy(s);
    std::vector<uint32_t> hi(3000), lo(3000);
    ASSERT_EQ(_qoriRngBinomial(0, s, 3000, hi.data(), ntrial, 0.75), 0);
    ASSERT_EQ(_qoriRngBinomial(0, copy, 3000, lo.data(), ntrial, 0.25), 0);
    for (int k = 0; k < 3000; ++k) ASSERT_EQ(hi[k], ntrial - lo[k]) << k;
  }
}

// Recording kernels in table slots: they count calls, check that denormals are kept, and forward.
int calls[4];
bool denormals_flushed;
void* saved[4];
void* const* const tables[4] = {zok_yub_kernel_dPowx_ttab, zok_yub_kernel_sLn_ttab, zok_yub_kernel_sErf_ttab,
                                zok_yub_kernel_dExp_ttab};
const int slots[4] = {2, 0, 0, 2};
void note(int i) {
  ++calls[i];
  denormals_flushed |= (_yubGetMode() & ZOK_VM_DENORMAL_MASK) != ZOK_VM_FTZDAZ_OFF;
}
void powx(int n, const double* a, double b, double* r) {
  note(0), reinterpret_cast<void (*)(int, const double*, double, double*)>(saved[0])(n, a, b, r);
}
template <int I, class T>
void unary(int n, const T* a, T* r) {
  note(I), reinterpret_cast<void (*)(int, const T*, T*)>(saved[I])(n, a, r);
}
struct Recording {
  Recording() {
    void* fns[4] = {(void*)powx, (void*)unary<1, float>, (void*)unary<2, float>, (void*)unary<3, double>};
    for (int i = 0; i < 4; ++i)
      saved[i] = tables[i][slots[i]], const_cast<void**>(tables[i])[slots[i]] = fns[i], calls[i] = 0;
    denormals_flushed = false;
  }
  ~Recording() {
    for (int i = 0; i < 4; ++i) const_cast<void**>(tables[i])[slots[i]] = saved[i];
  }
};

int32_t chunk_size(StreamRecord* s, int32_t id) {
  for (StreamChunk* c = s->chunks; c; c = c->next)
    if (c->id == id) return c->size;
  return -1;
}

TEST(DiscreteCalls, SetupsKernelsAndChunks) {
  Recording rec;
  _yubSetMode(ZOK_VM_FTZDAZ_ON);
  Stream s(ZOK_RNG_MCG59, 1);
  std::vector<uint32_t> r(2000);
  // ntrial·q = 29.75 inverts from (1 - q)^ntrial, once per (ntrial, p); 30.25 runs BTPE on logarithms.
  ASSERT_EQ(_qoriRngBinomial(0, s, 100, r.data(), 100, 0.2975), 0);
  ASSERT_EQ(_qoriRngBinomial(0, s, 100, r.data(), 100, 0.2975), 0);
  EXPECT_EQ(calls[0], 1);
  ASSERT_EQ(_qoriRngBinomial(0, s, 100, r.data(), 100, 1 - 0.2975), 0);
  EXPECT_EQ(calls[0], 2);
  ASSERT_EQ(_qoriRngBinomial(0, s, 100, r.data(), 100, 0.3025), 0);
  EXPECT_TRUE(calls[0] == 2 && calls[1] > 0);
  EXPECT_EQ(chunk_size(s, 5), 544);
  // The negative binomial tabulates below mode 100 and rejects from there, without a table.
  ASSERT_EQ(_qoriRngNegbinomial(0, s, 100, r.data(), 101, 0.5), 0);
  EXPECT_TRUE(calls[0] == 2 && chunk_size(s, 4) == -1);
  ASSERT_EQ(_qoriRngNegbinomial(0, s, 100, r.data(), 100.8, 0.5), 0);
  EXPECT_TRUE(calls[0] == 3 && chunk_size(s, 4) == 1328);
  // Poisson method 1 and PoissonV keep nothing; method 0 its set-up.
  const std::vector<double> lam(2000, 3.0);
  ASSERT_EQ(_qoriRngPoisson(1, s, 2000, r.data(), 3.0), 0);
  ASSERT_EQ(_qoriRngPoissonV(0, s, 2000, r.data(), lam.data()), 0);
  EXPECT_TRUE(chunk_size(s, 3) == -1 && calls[2] > 0);
  ASSERT_EQ(_qoriRngPoisson(0, s, 2000, r.data(), 3.0), 0);
  EXPECT_TRUE(chunk_size(s, 3) == 696 && calls[3] == 1);
  // The hypergeometric's table has 8 bytes per value; its chunk grows and never shrinks.
  ASSERT_EQ(_qoriRngHypergeometric(0, s, 100, r.data(), 10, 5, 3), 0);
  EXPECT_EQ(chunk_size(s, 6), 4 * 8 + 48);
  ASSERT_EQ(_qoriRngHypergeometric(0, s, 100, r.data(), 1000000, 500000, 500000), 0);
  EXPECT_EQ(chunk_size(s, 6), 600);
  ASSERT_EQ(_qoriRngHypergeometric(0, s, 100, r.data(), 10, 5, 3), 0);
  EXPECT_EQ(chunk_size(s, 6), 600);
  EXPECT_EQ(__qorGetNumChunks(s), 4);
  EXPECT_FALSE(denormals_flushed);
  // A chunk of a foreign size is replaced; a copy continues as the original.
  __qorDeleteChunksById(s, 5);
  void* odd = zok_serv_allocate(16, 128);
  ASSERT_EQ(__qorAddChunk(s, 5, nullptr, odd, 16), 0);
  ASSERT_EQ(_qoriRngBinomial(0, s, 100, r.data(), 1000, 0.4), 0);
  EXPECT_TRUE(chunk_size(s, 5) == 544 && __qorGetNumChunks(s) == 4);
  Stream copy(s);
  std::vector<uint32_t> a(500), b(500);
  for (int i = 0; i < 2; ++i) {
    _qoriRngBinomial(0, i ? static_cast<StreamRecord*>(copy) : static_cast<StreamRecord*>(s), 250,
                     (i ? b : a).data(), 1000, 0.4);
    _qoriRngHypergeometric(0, i ? static_cast<StreamRecord*>(copy) : static_cast<StreamRecord*>(s), 250,
                           (i ? b : a).data() + 250, 10, 5, 3);
  }
  EXPECT_EQ(a, b);
  _yubSetMode(ZOK_VM_FTZDAZ_OFF);
}

int callback_calls;
int32_t counting_callback(ErrorContext*) {
  return ++callback_calls, 0;
}

TEST(DiscreteCalls, ChosenUniformsAndCallerState) {
  Stream s(zok::test::scripted_brng(), 0);
  std::vector<uint32_t> r(8);
  // A float uniform of exactly 1.0 counts as the float below it; no search runs away on it.
  zok::test::script_uniforms({1.0});
  ASSERT_EQ(_qoriRngBernoulli(0, s, 8, r.data(), 1.0), 0);
  EXPECT_EQ(r, std::vector<uint32_t>(8, 1));
  struct Bounded {
    Draw draw;
    uint32_t most;
  } cases[] = {{[](auto s, int n, auto r) { return _qoriRngBinomial(0, s, n, r, 10, 0.3); }, 10},
               {[](auto s, int n, auto r) { return _qoriRngBinomial(0, s, n, r, 1000000000, 1e-9); }, 200},
               {[](auto s, int n, auto r) { return _qoriRngHypergeometric(0, s, n, r, 10, 5, 3); }, 3},
               {[](auto s, int n, auto r) { return _qoriRngNegbinomial(0, s, n, r, 1.2, 0.003); }, 30000},
               {[](auto s, int n, auto r) { return _qoriRngPoisson(1, s, n, r, 0.5); }, 100}};
  for (auto& c : cases) {
    ASSERT_EQ(c.draw(s, 8, r.data()), 0);
    EXPECT_LE(r[0], c.most);
  }
  // The geometric's uniform 0: ln 0 stands for ln of the smallest float, with the caller's mode word,
  // callback and error status as they were and the callback never called.
  zok::test::script_uniforms({0.0});
  for (uint32_t mode : {uint32_t{ZOK_VM_DEFAULT_MODE}, 0x141000u | ZOK_VM_EP}) {
    zok::vm::thread_state()->mode = mode;
    _yubSetErrorCallBack(counting_callback);
    _yubSetErrStatus(4);
    callback_calls = 0;
    ASSERT_EQ(_qoriRngGeometric(0, s, 8, r.data(), 0.2), 0);
    EXPECT_EQ(r[0], static_cast<uint32_t>(-103.27893f * static_cast<float>(1 / std::log(0.8))));
    EXPECT_TRUE(_yubGetMode() == mode && _yubGetErrStatus() == 4 && callback_calls == 0 &&
                _yubGetErrorCallBack() == counting_callback);
  }
}

TEST(DiscreteCalls, FailuresPassedUp) {
  // A generator whose every draw fails.
  static const GeneratorProperties row{24,
                                       1,
                                       1,
                                       4,
                                       32,
                                       [](int32_t, StreamRecord*, int32_t, const uint32_t*) { return 0; },
                                       [](StreamRecord*, int32_t, float*, float, float) { return -1131; },
                                       [](StreamRecord*, int32_t, double*, double, double) { return -1131; },
                                       [](StreamRecord*, int32_t, uint32_t*) { return -1131; }};
  Stream bad(__qorRegisterBrng(&row), 0), good(ZOK_RNG_MCG59, 2);
  const double lam[2] = {3, 50};
  uint32_t r[2];
  const std::function<int32_t(StreamRecord*)> all[] = {
      [&](auto s) { return _qoriRngBernoulli(0, s, 2, r, 0.5); },
      [&](auto s) { return _qoriRngGeometric(0, s, 2, r, 0.5); },
      [&](auto s) { return _qoriRngBinomial(0, s, 2, r, 10, 0.5); },
      [&](auto s) { return _qoriRngBinomial(0, s, 2, r, 1000, 0.5); },
      [&](auto s) { return _qoriRngHypergeometric(0, s, 2, r, 900, 300, 500); },
      [&](auto s) { return _qoriRngHypergeometric(0, s, 2, r, 1000000, 500000, 500000); },
      [&](auto s) { return _qoriRngPoisson(0, s, 2, r, 3); },
      [&](auto s) { return _qoriRngPoisson(0, s, 2, r, 300); },
      [&](auto s) { return _qoriRngPoisson(1, s, 2, r, 3); },
      [&](auto s) { return _qoriRngPoissonV(0, s, 2, r, lam); },
      [&](auto s) { return _qoriRngNegbinomial(0, s, 2, r, 10, 0.3); },
      [&](auto s) { return _qoriRngNegbinomial(0, s, 2, r, 1e6, 0.5); }};
  for (size_t i = 0; i < std::size(all); ++i) EXPECT_EQ(all[i](bad), -1131) << i;
  // Either allocation of a set-up chunk (its block, the chunk record) may fail: -4, nothing kept.
  const long before = zok::test::outstanding_blocks();
  for (int i : {2, 4, 6, 10})
    for (long k : {1, 2}) {
      __qorDeleteChunks(good);
      const long live = zok::test::outstanding_blocks();
      zok::test::fail_allocation(k);
      EXPECT_EQ(all[i](good), -4) << i << k;
      zok::test::allow_allocations();
      EXPECT_TRUE(zok::test::outstanding_blocks() == live && __qorGetNumChunks(good) == 0) << i << k;
    }
  EXPECT_EQ(zok::test::outstanding_blocks(), before);
}

}  // namespace

// Abstract streams: the ring buffer against a callback that numbers what it writes (so the order
// delivered is checkable), refill statuses, constructors, record offsets, images, interval mapping,
// and distributions drawn from the caller's numbers by their formulas.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <tuple>
#include <type_traits>
#include <vector>

#include "tests/streams/generator_support.h"
#include "zok/random.h"

namespace {

using zok::test::Stream;
using Call = std::array<int32_t, 4>;  // N, nmin, nmax, idx as the callback was told
using Pair = std::array<double, 2>;
using Addresses = std::array<const void*, 2>;  // buffer and callback

// Writes next, next + 1, ... (or list[next], list[next + 1], ... cycling) from idx on, wrapping at
// N: `counts` of them per call (else nmax); returns `answers` per call (else the count). It
// scribbles on its integers, which are copies.
struct Feeder {
  uint32_t next = 0;
  std::vector<int32_t> counts, answers;
  std::vector<Call> calls;
  std::vector<double> list;
};
thread_local Feeder* g_feeder = nullptr;

template <class T>
int32_t feed(StreamRecord*, int32_t* n, T* buffer, int32_t* nmin, int32_t* nmax, int32_t* idx) {
  Feeder& f = *g_feeder;
  const size_t k = f.calls.size();
  f.calls.push_back({*n, *nmin, *nmax, *idx});
  const int32_t count = k < f.counts.size() ? f.counts[k] : *nmax;
  for (int32_t j = 0; j < count; ++j, ++f.next)
    buffer[(*idx + j) % *n] = static_cast<T>(f.list.empty() ? f.next : f.list[f.next % f.list.size()]);
  *n = 1;
  *nmin = *nmax = *idx = -7;
  return k < f.answers.size() ? f.answers[k] : count;
}

constexpr uint32_t kGuard = 0xA5A5A5A5u;

// A stream of N places fed by `f` from its start: words, or reals over [a, b). draw() (words) leaves
// kGuard where nothing was delivered.
template <class T = uint32_t>
struct Ring {
  Ring(int32_t n, Feeder& f, T a = 0, T b = 1) : buffer(static_cast<size_t>(n)) {
    g_feeder = &f;
    f.next = 0;
    StreamRecord* s = nullptr;
    if constexpr (std::is_same_v<T, double>)
      EXPECT_EQ(__qordNewAbstractStream(&s, n, buffer.data(), a, b, feed<T>), 0);
    else if constexpr (std::is_same_v<T, float>)
      EXPECT_EQ(__qorsNewAbstractStream(&s, n, buffer.data(), a, b, feed<T>), 0);
    else
      EXPECT_EQ(__qoriNewAbstractStream(&s, n, buffer.data(), feed<T>), 0);
    stream.reset(s);
  }
  std::vector<uint32_t> draw(int32_t want, int32_t expected_status = 0) {
    std::vector<uint32_t> out(static_cast<size_t>(want), kGuard);
    EXPECT_EQ(__qoriBRngiAbstract(stream.get(), want, out.data()), expected_status);
    return out;
  }
  std::vector<T> buffer;
  Stream stream;
};

std::vector<uint32_t> seq(uint32_t from, size_t count, size_t guards = 0) {
  std::vector<uint32_t> v(count);
  std::iota(v.begin(), v.end(), from);
  v.resize(count + guards, kGuard);
  return v;
}
template <class T>
T field(const StreamRecord* s, size_t offset) {
  T v;
  std::memcpy(&v, reinterpret_cast<const unsigned char*>(s) + offset, sizeof v);
  return v;
}

TEST(AbstractRing, RefillsWhenUsedUpAndDeliversInOrder) {
  Feeder f;
  Ring ring(5, f);
  EXPECT_EQ(ring.draw(3), seq(0, 3));  // a fresh stream refills at once
  EXPECT_EQ(ring.draw(2), seq(3, 2));
  EXPECT_EQ(ring.draw(23), seq(5, 23));  // several N: refill after refill
  EXPECT_EQ(ring.draw(2), seq(28, 2));
  EXPECT_EQ(f.calls,
            (std::vector<Call>{
                {5, 3, 5, 0}, {5, 5, 5, 0}, {5, 5, 5, 0}, {5, 5, 5, 0}, {5, 5, 5, 0}, {5, 3, 5, 0}}));
}

// Refills of 3 into 4 places start one place further back each time: the unread part wraps.
TEST(AbstractRing, PartialRefillsWrapTheRing) {
  Feeder f;
  f.counts.assign(20, 3);
  Ring ring(4, f);
  std::vector<uint32_t> got;
  for (int32_t want : {2, 5, 1, 7, 4}) {
    const std::vector<uint32_t> part = ring.draw(want);
    got.insert(got.end(), part.begin(), part.end());
  }
  EXPECT_EQ(got, seq(0, 19));
  EXPECT_EQ(f.calls.size(), 7u);
}

// A refused count is found before anything of that refill is delivered; what came before stays
// delivered and consumed, and the next request asks the callback again.
TEST(AbstractRing, RefusedRefillCountsAndTheRequestAfter) {
  const int32_t answers[][2] = {{0, ZOK_RNG_ERROR_ABSTRACT_EMPTY},
                                {-1, ZOK_RNG_ERROR_ABSTRACT_COUNT},
                                {5, ZOK_RNG_ERROR_ABSTRACT_COUNT}};
  for (const auto& [answer, status] : answers) {
    Feeder f;
    f.answers = {4, answer};
    Ring ring(4, f);
    EXPECT_EQ(ring.draw(1), seq(0, 1));
    EXPECT_EQ(ring.draw(6, status), seq(1, 3, 3)) << answer;
    EXPECT_EQ(ring.draw(2), seq(8, 2)) << answer;  // the refused refill wrote 4..7
    EXPECT_EQ(f.calls.size(), 3u);
  }
}

// Without a buffer the generator answers -5. An image keeps N, start and consumed count but not the
// saving process's addresses; rings the generator could not walk are refused.
TEST(AbstractRing, ImagesDropAddressesAndRefuseBrokenRings) {
  Feeder f;
  Ring ring(6, f);
  ring.draw(4);
  std::vector<unsigned char> image(static_cast<size_t>(__qorGetStreamSize(ring.stream.get())));
  ASSERT_EQ(__qorSaveStreamM(ring.stream.get(), image.data()), 0);
  StreamRecord* loaded = nullptr;
  ASSERT_EQ(__qorLoadStreamMEx(&loaded, image.data(), image.size()), 0);
  const Stream owner(loaded);
  EXPECT_EQ(field<Call>(loaded, 16), (Call{6, 4, 4, 0}));
  EXPECT_EQ(field<Addresses>(loaded, 32), (Addresses{}));
  uint32_t out = kGuard;
  EXPECT_EQ(__qoriBRngiAbstract(loaded, 1, &out), ZOK_RNG_ERROR_NULL_POINTER);
  std::memset(reinterpret_cast<unsigned char*>(ring.stream.get()) + 32, 0, 8);
  EXPECT_EQ(__qoriBRngiAbstract(ring.stream.get(), 1, &out), ZOK_RNG_ERROR_NULL_POINTER);
  EXPECT_EQ(out, kGuard);
  // N, start, consumed at image bytes 20, 24, 28.
  const int32_t broken[][3] = {{0, 0, 0}, {-4, 0, 0}, {6, 6, 0}, {6, -1, 0}, {6, 0, 7}, {6, 0, -1}};
  for (const auto& b : broken) {
    std::memcpy(&image[20], b, sizeof b);
    StreamRecord* s = nullptr;
    EXPECT_EQ(__qorLoadStreamMEx(&s, image.data(), image.size()), ZOK_RNG_ERROR_MEMORY_HEADER)
        << b[0] << b[1] << b[2];
  }
}

// Refusals leave *stream alone; accepted streams have their fields where images expect them.
TEST(AbstractStreams, ConstructorsAndRecordLayout) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  double d[4];
  float s[4];
  uint32_t w[4];
  StreamRecord* const untouched = reinterpret_cast<StreamRecord*>(0x1);
  StreamRecord* out = untouched;
  // N, buffer given, callback given, a, b.
  const std::tuple<int32_t, bool, bool, double, double> bad[] = {
      {0, 1, 1, 0, 1}, {-1, 1, 1, 0, 1}, {4, 0, 1, 0, 1},   {4, 1, 0, 0, 1},
      {4, 1, 1, 1, 1}, {4, 1, 1, 2, 1},  {4, 1, 1, nan, 1}, {4, 1, 1, 0, nan}};
  for (const auto& [n, buffer, callback, a, b] : bad) {
    const float fa = static_cast<float>(a), fb = static_cast<float>(b);
    EXPECT_EQ(__qordNewAbstractStream(&out, n, buffer ? d : nullptr, a, b, callback ? feed<double> : nullptr),
              -3);
    EXPECT_EQ(
        __qorsNewAbstractStream(&out, n, buffer ? s : nullptr, fa, fb, callback ? feed<float> : nullptr), -3);
    // The integer kind has no interval.
    EXPECT_EQ(__qoriNewAbstractStream(&out, a < b ? n : 0, buffer ? w : nullptr,
                                      callback ? feed<uint32_t> : nullptr),
              -3);
    EXPECT_EQ(out, untouched);
  }
  Feeder f;
  const Ring<double> dk(4, f, -1.5, 2.5);
  const Ring<float> sk(3, f, -1.5f, 2.5f);
  const Ring ik(2, f);
  const auto address = [](const auto& ring, auto callback) {
    return Addresses{ring.buffer.data(), reinterpret_cast<const void*>(callback)};
  };
  StreamRecord *const ds = dk.stream.get(), *const sg = sk.stream.get(), *const out_i = ik.stream.get();
  EXPECT_EQ(field<Call>(ds, 0)[0], ZOK_RNG_DABSTRACT);
  EXPECT_EQ(field<Call>(ds, 16), (Call{4, 0, 4, 0}));
  EXPECT_EQ(field<Pair>(ds, 32), (Pair{-1.5, 2.5}));
  EXPECT_EQ(field<Addresses>(ds, 48), address(dk, feed<double>));
  EXPECT_EQ(field<Call>(sg, 16), (Call{3, 0, 3, std::bit_cast<int32_t>(-1.5f)}));
  EXPECT_EQ(field<float>(sg, 32), 2.5f);
  EXPECT_EQ(field<Addresses>(sg, 40), address(sk, feed<float>));
  EXPECT_EQ(field<Addresses>(out_i, 32), address(ik, feed<uint32_t>));
  EXPECT_EQ(__qorLeapfrogStream(out_i, 0, 2), ZOK_RNG_ERROR_NO_LEAPFROG);
  EXPECT_EQ(__qorSkipAheadStream(out_i, 1), ZOK_RNG_ERROR_NO_SKIP_AHEAD);
  EXPECT_EQ(__RegBrngsNew[9].init_stream(3, out_i, 6, nullptr), ZOK_RNG_ERROR_METHOD);
}

// k/256 keeps every mapping exact; eleven elements cover the vector lanes and the tail.
TEST(AbstractMapping, IntervalsMapAffinely) {
  Feeder feeder;
  for (int k = 0; k < 11; ++k) feeder.list.push_back(k / 256.0);
  std::vector<double> r(11), q(11);
  std::vector<float> f(11);
  ASSERT_EQ(__qordBRngdAbstract(Ring<double>(3, feeder, 0, 1).stream.get(), 11, r.data(), 2.0, 4.0), 0);
  ASSERT_EQ(__qordBRngdAbstract(Ring<double>(3, feeder, -1, 3).stream.get(), 11, q.data(), 10.0, 12.0), 0);
  ASSERT_EQ(__qorsBRngsAbstract(Ring<float>(3, feeder, -1, 3).stream.get(), 11, f.data(), 10.0f, 12.0f), 0);
  for (int k = 0; k < 11; ++k) {
    const double u = feeder.list[k];
    EXPECT_EQ(r[k], 2 + 2 * u) << k;
    EXPECT_EQ(q[k], 10 + (u + 1) / 2) << k;
    EXPECT_EQ(f[k], static_cast<float>(10 + (u + 1) / 2)) << k;
  }
}

long double erfinv(long double y) {
  long double lo = -7, hi = 7;
  for (int i = 0; i < 200; ++i) ((std::erf(lo / 2 + hi / 2) < y) ? lo : hi) = lo / 2 + hi / 2;
  return lo / 2 + hi / 2;
}

// By their formulas in long double. The kernels run in their EP (double) and LA (float) flavours,
// hence the bounds; a number out of order or mapped wrongly is off by far more.
TEST(AbstractDistributions, DrawTheCallersNumbersByTheirFormulas) {
  Feeder f;
  f.list = {0.8125, 0.31, 0.0625, 0.615, 0.4375, 0.99, 0.2125, 0.7125};  // 20u is never near an integer
  const auto u = [&](size_t k) { return static_cast<long double>(f.list[k % 8]); };
  const auto near = [](long double want, double got, long double bound) {
    EXPECT_NEAR(static_cast<long double>(got), want, bound * (1 + std::fabs(want)));
  };
  const long double two_pi = 6.283185307179586476925L;
  const Ring<double> ring(3, f);  // refills at every third number, wrapping
  StreamRecord* s = ring.stream.get();
  double r[8];
  int32_t ints[8];
  ASSERT_EQ(_qordRngUniform(0, s, 8, r, -3.0, 5.0), 0);
  ASSERT_EQ(_qoriRngUniform(0, s, 8, ints, -10, 10), 0);
  for (size_t k = 0; k < 8; ++k) {
    near(-3 + 8 * u(k), r[k], 1e-16L);
    EXPECT_EQ(ints[k], static_cast<int32_t>(std::floor(-10 + 20 * u(k)))) << k;
  }
  // Pair k of Box-Muller is uniforms 2k and 2k + 1; method 1 gives its sine then its cosine half.
  const auto rho = [&](size_t k) { return std::sqrt(-2 * std::log(u(2 * k))); };
  const auto theta = [&](size_t k) { return two_pi * u(2 * k + 1); };
  ASSERT_EQ(_qordRngGaussian(ZOK_RNG_GAUSSIAN_BOXMULLER, s, 4, r, 1.0, 2.0), 0);
  for (size_t k = 0; k < 4; ++k) near(1 + 2 * rho(k) * std::sin(theta(k)), r[k], 1e-7L);
  ASSERT_EQ(_qordRngGaussian(ZOK_RNG_GAUSSIAN_BOXMULLER2, s, 8, r, 0.0, 1.0), 0);
  for (size_t k = 0; k < 8; ++k) near(rho(k / 2) * (k % 2 ? cosl : sinl)(theta(k / 2)), r[k], 1e-7L);
  ASSERT_EQ(_qordRngGaussian(ZOK_RNG_GAUSSIAN_ICDF, s, 8, r, -1.0, 0.5), 0);
  for (size_t k = 0; k < 8; ++k) near(-1 + 0.5L * std::sqrt(2.0L) * erfinv(-1 + 2 * u(k)), r[k], 1e-7L);
  const Ring<float> single(3, f);
  float g[8];
  ASSERT_EQ(_qorsRngGaussian(ZOK_RNG_GAUSSIAN_ICDF, single.stream.get(), 8, g, 3.0f, 2.0f), 0);
  for (size_t k = 0; k < 8; ++k) near(3 + 2 * std::sqrt(2.0L) * erfinv(-1 + 2 * u(k)), g[k], 1e-5L);
}

// The slots without output of their type give 0 for no elements, else -1001 and write nothing, so a
// distribution of the wrong type fails.
TEST(AbstractDistributions, EmptySlotsRefuseOtherTypes) {
  Feeder f;
  Ring ring(4, f);
  float s[2] = {-7, -7};
  double d[2] = {-7, -7};
  EXPECT_EQ(_qordRngGaussian(ZOK_RNG_GAUSSIAN_ICDF, ring.stream.get(), 2, d, 0, 1),
            ZOK_RNG_ERROR_UNAVAILABLE);
  EXPECT_EQ(_qorsRngUniform(0, ring.stream.get(), 2, s, 0, 1), ZOK_RNG_ERROR_UNAVAILABLE);
  EXPECT_EQ(_qordRngUniform(0, ring.stream.get(), 0, d, 0, 1), 0);
  EXPECT_EQ(s[0] + s[1] + d[0] + d[1], -28);
  EXPECT_TRUE(f.calls.empty());
}

}  // namespace

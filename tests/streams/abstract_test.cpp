// Abstract streams: the ring buffer against a callback that numbers what it writes (so the order
// delivered is checkable), refill statuses, constructors, record offsets, images, interval mapping.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>
#include <vector>

#include "tests/streams/generator_support.h"
#include "zok/random.h"

namespace {

using zok::test::Stream;

// A refill callback that writes the numbers next, next + 1, ... from idx on, wrapping at N, and
// records what it was told. `counts` says how many to write per call (else nmax); `answers` what
// to return instead of the count written. It scribbles on the integers it was given, which must
// not reach the stream.
struct Feeder {
  struct Call {
    int32_t n, nmin, nmax, idx;
  };
  uint32_t next = 0;
  std::vector<int32_t> counts, answers;
  std::vector<Call> calls;
};
thread_local Feeder* g_feeder = nullptr;

template <class T>
int32_t feed(StreamRecord*, int32_t* n, T* buffer, int32_t* nmin, int32_t* nmax, int32_t* idx) {
  Feeder& f = *g_feeder;
  f.calls.push_back({*n, *nmin, *nmax, *idx});
  const size_t k = f.calls.size() - 1;
  const int32_t count = k < f.counts.size() ? f.counts[k] : *nmax;
  for (int32_t j = 0; j < std::min(count, *nmax); ++j) buffer[(*idx + j) % *n] = static_cast<T>(f.next++);
  *n = 1;
  *nmin = *nmax = *idx = -7;
  return k < f.answers.size() ? f.answers[k] : count;
}

constexpr uint32_t kGuard = 0xA5A5A5A5u;

// An integer stream over a buffer of n words fed by `f`.
struct Ring {
  explicit Ring(int32_t n, Feeder& f) : buffer(static_cast<size_t>(n)) {
    g_feeder = &f;
    StreamRecord* s = nullptr;
    EXPECT_EQ(__qoriNewAbstractStream(&s, n, buffer.data(), feed<uint32_t>), 0);
    stream.reset(s);
  }
  // `want` words in one request; the status goes to *status, the slots not written keep kGuard.
  std::vector<uint32_t> draw(int32_t want, int32_t* status = nullptr) {
    std::vector<uint32_t> out(static_cast<size_t>(want), kGuard);
    const int32_t got = __qoriBRngiAbstract(stream.get(), want, out.data());
    if (status != nullptr)
      *status = got;
    else
      EXPECT_EQ(got, 0);
    return out;
  }
  std::vector<uint32_t> buffer;
  Stream stream;
};

std::vector<uint32_t> iota(uint32_t from, uint32_t count) {
  std::vector<uint32_t> v(count);
  for (uint32_t i = 0; i < count; ++i) v[i] = from + i;
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
  // A fresh stream has consumed its (empty) filling: the first request refills at once.
  EXPECT_EQ(ring.draw(3), iota(0, 3));
  ASSERT_EQ(f.calls.size(), 1u);
  EXPECT_EQ(f.calls[0].n, 5);
  EXPECT_EQ(f.calls[0].nmin, 3);
  EXPECT_EQ(f.calls[0].nmax, 5);
  EXPECT_EQ(f.calls[0].idx, 0);
  EXPECT_EQ(ring.draw(2), iota(3, 2));
  EXPECT_EQ(f.calls.size(), 1u);
  // Several N in one request: refill after refill, nmin the need capped at N.
  EXPECT_EQ(ring.draw(23), iota(5, 23));
  std::vector<int32_t> nmin;
  for (size_t k = 1; k < f.calls.size(); ++k) nmin.push_back(f.calls[k].nmin);
  EXPECT_EQ(nmin, (std::vector<int32_t>{5, 5, 5, 5, 3}));
  EXPECT_EQ(ring.draw(2), iota(28, 2));
  EXPECT_EQ(f.calls.size(), 6u);
  EXPECT_EQ(field<int32_t>(ring.stream.get(), 16), 5) << "the callback's writes to N reached the stream";
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
  EXPECT_EQ(got, iota(0, 19));
  std::vector<int32_t> idx;
  for (const Feeder::Call& c : f.calls) idx.push_back(c.idx);
  EXPECT_EQ(idx, (std::vector<int32_t>{0, 3, 2, 1, 0, 3, 2}));
}

// A refused count is found before any of that refill is delivered; what came before stays delivered
// and consumed, and the next request asks the callback again.
TEST(AbstractRing, RefusedRefillCountsAndTheRequestAfter) {
  struct Case {
    int32_t answer, status;
  } const cases[] = {{0, ZOK_RNG_ERROR_ABSTRACT_EMPTY},
                     {-1, ZOK_RNG_ERROR_ABSTRACT_COUNT},
                     {5, ZOK_RNG_ERROR_ABSTRACT_COUNT}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    Feeder f;
    f.answers = {4, c.answer};
    Ring ring(4, f);
    EXPECT_EQ(ring.draw(1), iota(0, 1));
    int32_t status = 0;
    std::vector<uint32_t> want = iota(1, 3);
    want.resize(6, kGuard);
    EXPECT_EQ(ring.draw(6, &status), want);
    EXPECT_EQ(status, c.status);
    // The failed refill wrote 4, 5, 6, 7; none of them is delivered.
    EXPECT_EQ(ring.draw(2), iota(8, 2));
    EXPECT_EQ(f.calls.size(), 3u);
  }
}

TEST(AbstractRing, NoBufferAnswersMinusFive) {
  Feeder f;
  Ring ring(4, f);
  uint32_t* none = nullptr;
  std::memcpy(reinterpret_cast<unsigned char*>(ring.stream.get()) + 32, &none, sizeof none);
  uint32_t out = kGuard;
  EXPECT_EQ(__qoriBRngiAbstract(ring.stream.get(), 1, &out), ZOK_RNG_ERROR_NULL_POINTER);
  EXPECT_EQ(out, kGuard);
  EXPECT_TRUE(f.calls.empty());
}

// An image keeps N, start index and consumed count but not the saving process's addresses: the
// loaded stream answers -5 and calls nothing. Rings the generator could not walk are refused.
TEST(AbstractRing, ImagesDropAddressesAndRefuseBrokenRings) {
  Feeder f;
  Ring ring(6, f);
  ring.draw(4);
  std::vector<unsigned char> image(static_cast<size_t>(__qorGetStreamSize(ring.stream.get())));
  ASSERT_EQ(__qorSaveStreamM(ring.stream.get(), image.data()), 0);
  StreamRecord* loaded = nullptr;
  ASSERT_EQ(__qorLoadStreamMEx(&loaded, image.data(), image.size()), 0);
  const Stream owner(loaded);
  EXPECT_EQ(field<int32_t>(loaded, 16), 6);
  EXPECT_EQ(field<int32_t>(loaded, 20), 4);
  EXPECT_EQ(field<int32_t>(loaded, 24), 4);
  EXPECT_EQ(field<void*>(loaded, 32), nullptr);
  EXPECT_EQ(field<void*>(loaded, 40), nullptr);
  uint32_t out = kGuard;
  EXPECT_EQ(__qoriBRngiAbstract(loaded, 1, &out), ZOK_RNG_ERROR_NULL_POINTER);
  EXPECT_EQ(f.calls.size(), 1u);
  // N, start, consumed at image bytes 20, 24, 28 (state from byte 20).
  const int32_t broken[][3] = {{0, 0, 0}, {-4, 0, 0}, {6, 6, 0}, {6, -1, 0}, {6, 0, 7}, {6, 0, -1}};
  for (const auto& b : broken) {
    std::vector<unsigned char> bad = image;
    std::memcpy(&bad[20], b, sizeof b);
    StreamRecord* s = nullptr;
    EXPECT_EQ(__qorLoadStreamMEx(&s, bad.data(), bad.size()), ZOK_RNG_ERROR_MEMORY_HEADER)
        << b[0] << " " << b[1] << " " << b[2];
    EXPECT_EQ(s, nullptr);
  }
}

// Refusals leave *stream alone; an accepted stream has its fields where images expect them.
TEST(AbstractStreams, ConstructorsAndRecordLayout) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  double d[4] = {};
  float s[4] = {};
  uint32_t w[4] = {};
  StreamRecord* const untouched = reinterpret_cast<StreamRecord*>(0x1);
  StreamRecord* out = untouched;
  struct Bad {
    int32_t n;
    bool buffer, callback;
    double a, b;
  } const bad[] = {{0, true, true, 0, 1},   {-1, true, true, 0, 1}, {4, false, true, 0, 1},
                   {4, true, false, 0, 1},  {4, true, true, 1, 1},  {4, true, true, 2, 1},
                   {4, true, true, nan, 1}, {4, true, true, 0, nan}};
  for (const Bad& c : bad) {
    SCOPED_TRACE(testing::Message() << c.n << " " << c.buffer << c.callback << " " << c.a << " " << c.b);
    EXPECT_EQ(__qordNewAbstractStream(&out, c.n, c.buffer ? d : nullptr, c.a, c.b,
                                      c.callback ? feed<double> : nullptr),
              ZOK_RNG_ERROR_BAD_ARGUMENT);
    EXPECT_EQ(__qorsNewAbstractStream(&out, c.n, c.buffer ? s : nullptr, static_cast<float>(c.a),
                                      static_cast<float>(c.b), c.callback ? feed<float> : nullptr),
              ZOK_RNG_ERROR_BAD_ARGUMENT);
    if (c.a < c.b) {
      EXPECT_EQ(
          __qoriNewAbstractStream(&out, c.n, c.buffer ? w : nullptr, c.callback ? feed<uint32_t> : nullptr),
          ZOK_RNG_ERROR_BAD_ARGUMENT);
    }
    EXPECT_EQ(out, untouched);
  }
  ASSERT_EQ(__qordNewAbstractStream(&out, 4, d, -1.5, 2.5, feed<double>), 0);
  const Stream ds(out);
  EXPECT_EQ(out->brng, ZOK_RNG_DABSTRACT);
  EXPECT_EQ(field<int32_t>(out, 16), 4);
  EXPECT_EQ(field<int32_t>(out, 20), 0);
  EXPECT_EQ(field<int32_t>(out, 24), 4);
  EXPECT_EQ(field<double>(out, 32), -1.5);
  EXPECT_EQ(field<double>(out, 40), 2.5);
  EXPECT_EQ(field<double*>(out, 48), d);
  EXPECT_EQ(field<ZokRngAbstractCallbackD>(out, 56), feed<double>);
  ASSERT_EQ(__qorsNewAbstractStream(&out, 3, s, -1.5f, 2.5f, feed<float>), 0);
  const Stream ss(out);
  EXPECT_EQ(out->brng, ZOK_RNG_SABSTRACT);
  EXPECT_EQ(field<int32_t>(out, 24), 3);
  EXPECT_EQ(field<float>(out, 28), -1.5f);
  EXPECT_EQ(field<float>(out, 32), 2.5f);
  EXPECT_EQ(field<float*>(out, 40), s);
  EXPECT_EQ(field<ZokRngAbstractCallbackS>(out, 48), feed<float>);
  ASSERT_EQ(__qoriNewAbstractStream(&out, 2, w, feed<uint32_t>), 0);
  const Stream is(out);
  EXPECT_EQ(out->brng, ZOK_RNG_IABSTRACT);
  EXPECT_EQ(field<int32_t>(out, 24), 2);
  EXPECT_EQ(field<uint32_t*>(out, 32), w);
  EXPECT_EQ(field<ZokRngAbstractCallbackI>(out, 40), feed<uint32_t>);
  EXPECT_EQ(__qorLeapfrogStream(out, 0, 2), ZOK_RNG_ERROR_NO_LEAPFROG);
  EXPECT_EQ(__qorSkipAheadStream(out, 1), ZOK_RNG_ERROR_NO_SKIP_AHEAD);
  EXPECT_EQ(__RegBrngsNew[9].init_stream(3, out, 6, nullptr), ZOK_RNG_ERROR_METHOD);
}

// The slots without output of their type: nothing to do for no elements, -1001 and nothing written
// otherwise.
TEST(AbstractStreams, EmptySlotsRefuseOutputsOfOtherTypes) {
  float s[2] = {-7, -7};
  double d[2] = {-7, -7};
  uint32_t w[2] = {7, 7};
  const GeneratorProperties ik = zok::test::row(ZOK_RNG_IABSTRACT), dk = zok::test::row(ZOK_RNG_DABSTRACT),
                            sk = zok::test::row(ZOK_RNG_SABSTRACT);
  for (int32_t n : {0, 2}) {
    const int32_t want = n == 0 ? 0 : ZOK_RNG_ERROR_UNAVAILABLE;
    EXPECT_EQ(ik.generate_s(nullptr, n, s, 0, 1), want);
    EXPECT_EQ(ik.generate_d(nullptr, n, d, 0, 1), want);
    EXPECT_EQ(dk.generate_s(nullptr, n, s, 0, 1), want);
    EXPECT_EQ(dk.generate_i(nullptr, n, w), want);
    EXPECT_EQ(sk.generate_d(nullptr, n, d, 0, 1), want);
    EXPECT_EQ(sk.generate_i(nullptr, n, w), want);
  }
  EXPECT_EQ(s[0] + s[1] + d[0] + d[1], -28);
  EXPECT_EQ(w[0] + w[1], 14u);
}

// Numbers on multiples of 2^-8 keep every mapping below exact, so the expected values are plain
// arithmetic. One request (vector lanes and tail) must equal one-element requests.
template <class T, class New>
void check_mapping(New make, T a, T b, T c, T d, T (*expected)(T u)) {
  std::vector<T> buffer(7);
  Feeder f;
  g_feeder = &f;
  StreamRecord* raw = nullptr;
  ASSERT_EQ(make(&raw, 7, buffer.data(), a, b), 0);
  Stream s(raw);
  const GeneratorProperties row = zok::test::row(raw->brng);
  std::vector<T> whole(11), single(11);
  int32_t status;
  if constexpr (std::is_same_v<T, double>)
    status = row.generate_d(raw, 11, whole.data(), c, d);
  else
    status = row.generate_s(raw, 11, whole.data(), c, d);
  ASSERT_EQ(status, 0);
  for (T& v : single)
    if constexpr (std::is_same_v<T, double>)
      ASSERT_EQ(row.generate_d(raw, 1, &v, c, d), 0);
    else
      ASSERT_EQ(row.generate_s(raw, 1, &v, c, d), 0);
  for (int32_t i = 0; i < 11; ++i) {
    // The feeder wrote k; the buffered number is k itself, scaled into [a, b) by the callback below.
    EXPECT_EQ(whole[i], expected(static_cast<T>(i))) << i;
    EXPECT_EQ(single[i], expected(static_cast<T>(11 + i))) << i;
  }
}

// Numbers 0, 1, 2, ... read as u = k / 256 through a callback wrapper.
template <class T>
int32_t feed_scaled(StreamRecord* s, int32_t* n, T* buffer, int32_t* nmin, int32_t* nmax, int32_t* idx) {
  const int32_t at = *idx, size = *n;
  const int32_t count = feed<T>(s, n, buffer, nmin, nmax, idx);
  for (int32_t j = 0; j < count; ++j) buffer[(at + j) % size] /= 256;
  return count;
}

TEST(AbstractMapping, IntervalsMapAffinely) {
  check_mapping<double>(
      [](StreamRecord** s, int32_t n, double* buf, double a, double b) {
        return __qordNewAbstractStream(s, n, buf, a, b, feed_scaled<double>);
      },
      0.0, 1.0, 2.0, 4.0, [](double k) { return 2 + 2 * (k / 256); });
  check_mapping<double>(
      [](StreamRecord** s, int32_t n, double* buf, double a, double b) {
        return __qordNewAbstractStream(s, n, buf, a, b, feed_scaled<double>);
      },
      -1.0, 3.0, 10.0, 12.0, [](double k) { return 10 + (k / 256 + 1) / 2; });
  check_mapping<float>([](StreamRecord** s, int32_t n, float* buf, float a,
                          float b) { return __qorsNewAbstractStream(s, n, buf, a, b, feed_scaled<float>); },
                       -1.0f, 3.0f, 10.0f, 12.0f, [](float k) { return 10 + (k / 256 + 1) / 2; });
}

// The caller's list, handed out in order and from the start again.
std::vector<double> g_list;
size_t g_at = 0;
template <class T>
int32_t feed_list(StreamRecord*, int32_t* n, T* buffer, int32_t*, int32_t* nmax, int32_t* idx) {
  for (int32_t j = 0; j < *nmax; ++j, g_at = (g_at + 1) % g_list.size())
    buffer[(*idx + j) % *n] = static_cast<T>(g_list[g_at]);
  return *nmax;
}

long double erfinv(long double y) {
  long double lo = -7, hi = 7;
  for (int i = 0; i < 200; ++i) ((std::erf(lo / 2 + hi / 2) < y) ? lo : hi) = lo / 2 + hi / 2;
  return lo / 2 + hi / 2;
}

// Distributions on the caller's numbers, by their formulas in long double. The vector kernels run
// in their EP (double) and LA (float) flavours, hence the bounds; a number out of order or mapped
// wrongly is off by far more.
TEST(AbstractDistributions, DrawTheCallersNumbersByTheirFormulas) {
  g_list = {0.8125, 0.31, 0.0625, 0.615, 0.4375, 0.99, 0.2125, 0.7125};  // -10 + 20u never near an integer
  g_at = 0;
  const long double two_pi = 6.283185307179586476925L;
  std::vector<double> buffer(3);  // three places: refills at every third number, wrapping
  StreamRecord* raw = nullptr;
  ASSERT_EQ(__qordNewAbstractStream(&raw, 3, buffer.data(), 0.0, 1.0, feed_list<double>), 0);
  Stream s(raw);
  const auto u = [](size_t k) { return static_cast<long double>(g_list[k % g_list.size()]); };
  const auto near = [](long double want, double got, long double bound) {
    EXPECT_NEAR(static_cast<long double>(got), want, bound * (1 + std::fabs(want)));
  };
  double r[8];
  ASSERT_EQ(_qordRngUniform(0, raw, 8, r, -3.0, 5.0), 0);
  for (size_t k = 0; k < 8; ++k) near(-3 + 8 * u(k), r[k], 1e-16L);
  int32_t ints[8];
  ASSERT_EQ(_qoriRngUniform(0, raw, 8, ints, -10, 10), 0);
  for (size_t k = 0; k < 8; ++k) EXPECT_EQ(ints[k], static_cast<int32_t>(std::floor(-10 + 20 * u(k)))) << k;
  ASSERT_EQ(_qordRngGaussian(ZOK_RNG_GAUSSIAN_BOXMULLER, raw, 4, r, 1.0, 2.0), 0);
  for (size_t k = 0; k < 4; ++k)
    near(1 + 2 * std::sqrt(-2 * std::log(u(2 * k))) * std::sin(two_pi * u(2 * k + 1)), r[k], 1e-7L);
  ASSERT_EQ(_qordRngGaussian(ZOK_RNG_GAUSSIAN_BOXMULLER2, raw, 8, r, 0.0, 1.0), 0);
  for (size_t k = 0; k < 4; ++k) {
    const long double rho = std::sqrt(-2 * std::log(u(2 * k))), theta = two_pi * u(2 * k + 1);
    near(rho * std::sin(theta), r[2 * k], 1e-7L);
    near(rho * std::cos(theta), r[2 * k + 1], 1e-7L);
  }
  ASSERT_EQ(_qordRngGaussian(ZOK_RNG_GAUSSIAN_ICDF, raw, 8, r, -1.0, 0.5), 0);
  for (size_t k = 0; k < 8; ++k) near(-1 + 0.5L * std::sqrt(2.0L) * erfinv(-1 + 2 * u(k)), r[k], 1e-7L);

  // The single kind serves the single Gaussian.
  std::vector<float> fbuffer(5);
  g_at = 0;
  ASSERT_EQ(__qorsNewAbstractStream(&raw, 5, fbuffer.data(), 0.0f, 1.0f, feed_list<float>), 0);
  Stream fs(raw);
  float f[8];
  ASSERT_EQ(_qorsRngGaussian(ZOK_RNG_GAUSSIAN_ICDF, raw, 8, f, 3.0f, 2.0f), 0);
  for (size_t k = 0; k < 8; ++k)
    near(3 + 2 * std::sqrt(2.0L) * erfinv(-1 + 2 * static_cast<long double>(static_cast<float>(u(k)))), f[k],
         1e-5L);
}

// An integer stream has no doubles: the distributions pass the empty slot's status back and write
// nothing; the raw-bit form hands out the caller's words.
TEST(AbstractDistributions, IntegerStreamsServeBitsOnly) {
  Feeder f;
  Ring ring(4, f);
  double d[3] = {-7, -7, -7};
  EXPECT_EQ(_qordRngUniform(0, ring.stream.get(), 3, d, 0, 1), ZOK_RNG_ERROR_UNAVAILABLE);
  EXPECT_EQ(_qordRngGaussian(ZOK_RNG_GAUSSIAN_ICDF, ring.stream.get(), 3, d, 0, 1),
            ZOK_RNG_ERROR_UNAVAILABLE);
  EXPECT_EQ(d[0] + d[1] + d[2], -21);
  uint32_t w[6];
  ASSERT_EQ(_qoriRngUniformBits(0, ring.stream.get(), 6, w), 0);
  EXPECT_EQ(std::vector<uint32_t>(w, w + 6), iota(0, 6));
}

}  // namespace

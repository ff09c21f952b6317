// PHILOX4X32X10 and ARS5 against the published blocks of tests/data and against Random123's own
// block functions on every block path, their state layout, counters, skips and copies; the hardware
// generator's seeding and statuses through the library's feature seam, and a check of its words.
#include <Random123/ars.h>
#include <Random123/philox.h>
#include <cpuid.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "streams/generators/hardware.h"
#include "tests/streams/block_paths.h"
#include "zok/random.h"

namespace {

using Words = std::vector<uint32_t>;
using u128 = unsigned __int128;
using zok::test::for_each_isa;

// Where each counter-based generator keeps its fields, offsets from the start of the record.
struct Counter {
  const char* name;
  int32_t brng;
  int key_words, counter_at, remaining_at, buffer_at, state_end;
};
constexpr Counter kPhilox = {"philox", ZOK_RNG_PHILOX4X32X10, 2, 24, 40, 44, 60};
constexpr Counter kArs = {"ars5", ZOK_RNG_ARS5, 4, 32, 48, 52, 68};
constexpr Counter kCounters[] = {kPhilox, kArs};

struct Key {
  uint32_t w[4];
};

// Random123's block of counter c (four words, lowest first).
std::array<uint32_t, 4> reference_block(const Counter& g, const Key& k, u128 c) {
  const uint32_t cw[4] = {static_cast<uint32_t>(c), static_cast<uint32_t>(c >> 32),
                          static_cast<uint32_t>(c >> 64), static_cast<uint32_t>(c >> 96)};
  if (g.brng == ZOK_RNG_PHILOX4X32X10) {
    const r123::Philox4x32_R<10>::ctr_type ctr = {{cw[0], cw[1], cw[2], cw[3]}};
    const r123::Philox4x32_R<10>::key_type key = {{k.w[0], k.w[1]}};
    const auto b = r123::Philox4x32_R<10>()(ctr, key);
    return {b[0], b[1], b[2], b[3]};
  }
  const r123::ARS4x32_R<5>::ctr_type ctr = {{cw[0], cw[1], cw[2], cw[3]}};
  const r123::ARS4x32_R<5>::key_type key = {{k.w[0], k.w[1], k.w[2], k.w[3]}};
  const auto b = r123::ARS4x32_R<5>()(ctr, key);
  return {b[0], b[1], b[2], b[3]};
}

// Words from position `at` on (word at % 4 of block c + at / 4), n of them.
Words reference(const Counter& g, const Key& k, u128 c, u128 at, size_t n) {
  Words out;
  size_t skip = static_cast<size_t>(at % 4);
  for (u128 block = c + at / 4; out.size() < n; ++block)
    for (uint32_t w : reference_block(g, k, block))
      if (skip > 0)
        --skip;
      else if (out.size() < n)
        out.push_back(w);
  return out;
}

struct StreamDeleter {
  void operator()(StreamRecord* s) const { __qorDeleteStream(&s); }
};
using Stream = std::unique_ptr<StreamRecord, StreamDeleter>;

Stream make(int32_t brng, const Words& seeds) {
  StreamRecord* s = nullptr;
  EXPECT_EQ(__qorNewStreamEx(&s, brng, static_cast<int32_t>(seeds.size()), seeds.data()), 0);
  return Stream(s);
}
Stream make(const Counter& g, const Key& k, u128 c) {
  Words seeds(k.w, k.w + g.key_words);
  for (int i = 0; i < 4; ++i) seeds.push_back(static_cast<uint32_t>(c >> (32 * i)));
  return make(g.brng, seeds);
}

// n integers in one request; the word past them must stay untouched.
Words draw(StreamRecord* s, int32_t n, int32_t want_status = 0) {
  Words out(static_cast<size_t>(n) + 1, 0xA5A5A5A5u);
  GeneratorProperties p{};
  EXPECT_EQ(__qorGetBrngProperties(s->brng, &p), 0);
  EXPECT_EQ(p.generate_i(s, n, out.data()), want_status);
  EXPECT_EQ(out.back(), 0xA5A5A5A5u) << "wrote past n words";
  out.pop_back();
  return out;
}

const unsigned char* bytes(const StreamRecord* s) {
  return reinterpret_cast<const unsigned char*>(s);
}
u128 counter_of(const Counter& g, const StreamRecord* s) {
  u128 c = 0;
  std::memcpy(&c, bytes(s) + g.counter_at, sizeof c);
  return c;
}
uint32_t word_at(const StreamRecord* s, int offset) {
  uint32_t v = 0;
  std::memcpy(&v, bytes(s) + offset, sizeof v);
  return v;
}
// Key, counter, remaining and the words not yet read (those already read are of no account).
bool same_state(const Counter& g, const StreamRecord* a, const StreamRecord* b) {
  const int unread = g.buffer_at + 16 - 4 * static_cast<int>(std::min(word_at(a, g.remaining_at), 4u));
  return std::memcmp(bytes(a) + 16, bytes(b) + 16, g.buffer_at - 16) == 0 &&
         std::memcmp(bytes(a) + unread, bytes(b) + unread, g.state_end - unread) == 0;
}

std::vector<std::string> data_lines(const char* file, const char* kind) {
  std::ifstream in(std::string(ZOK_TEST_DATA_DIR) + "/" + file);
  EXPECT_TRUE(in.good()) << file;
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    if (line.rfind(kind, 0) == 0) lines.push_back(line.substr(std::strlen(kind)));
  return lines;
}

Words hex_words(const std::string& text) {
  std::istringstream in(text);
  Words w;
  for (std::string v; in >> v;)
    if (v != "->" && v != "counter" && v != "key")
      w.push_back(static_cast<uint32_t>(std::stoul(v, nullptr, 16)));
  return w;
}

// The published blocks through every block path, and Random123 giving the same blocks, which makes
// it the oracle of the tests below.
TEST(CounterBased, PublishedBlocks) {
  const auto philox = data_lines("philox4x32_10.txt", "block "), ars = data_lines("ars5.txt", "block ");
  const auto stream = data_lines("philox4x32_10.txt", "stream ");
  ASSERT_EQ(philox.size(), 3u);
  ASSERT_EQ(ars.size(), 2u);
  ASSERT_EQ(stream.size(), 1u);
  for_each_isa([&] {
    for (const auto& [g, lines] : {std::pair{kPhilox, philox}, std::pair{kArs, ars}}) {
      for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        const Words w = hex_words(line);  // philox: counter, key; ars5: counter, key
        const int kw = g.key_words;
        Key k{};
        std::copy(w.begin() + 4, w.begin() + 4 + kw, k.w);
        u128 c = 0;
        for (int i = 3; i >= 0; --i) c = c << 32 | w[i];
        const Words want(w.begin() + 4 + kw, w.end());
        EXPECT_EQ(draw(make(g, k, c).get(), 4), want);
        const auto ref = reference_block(g, k, c);
        EXPECT_EQ(Words(ref.begin(), ref.end()), want);
      }
    }
    Words want;
    std::istringstream in(stream[0]);
    for (uint32_t v; in >> v;) want.push_back(v);
    EXPECT_EQ(draw(make(ZOK_RNG_PHILOX4X32X10, {1, 2, 3, 4, 5, 6}).get(), 16), want);
  });
}

// Keys and counters: random ones, and counters whose low word, low half or whole value is about to
// wrap inside a 16-counter pass.
std::vector<std::pair<Key, u128>> starts() {
  std::mt19937_64 rng(20241206);
  std::vector<std::pair<Key, u128>> out;
  for (u128 c : {u128{0xFFFFFFFFu - 5}, u128{~uint64_t{0}} - 9, ~u128{0} - 6, u128{0}, u128{0}}) {
    Key k{};
    for (uint32_t& w : k.w) w = static_cast<uint32_t>(rng());
    if (c == 0) c = u128{rng()} << 64 | rng();
    out.push_back({k, c});
  }
  return out;
}

// Every length up to 40, around a 16-counter pass and long, after 0..3 words already drawn, on every
// block path; the continuous forms are the words read as signed, scaled and centred.
TEST(CounterBased, AgreeWithRandom123) {
  std::vector<int32_t> lengths;
  for (int32_t n = 0; n <= 40; ++n) lengths.push_back(n);
  for (int32_t n : {63, 64, 65, 66, 67, 127, 128, 129, 1024, 1025, 10007}) lengths.push_back(n);
  for_each_isa([&] {
    for (const Counter& g : kCounters) {
      SCOPED_TRACE(g.name);
      for (const auto& [k, c] : starts())
        for (int32_t before = 0; before < 4; ++before)
          for (int32_t n : lengths) {
            Stream s = make(g, k, c);
            draw(s.get(), before);
            ASSERT_EQ(draw(s.get(), n), reference(g, k, c, before, n)) << "after " << before << ", n " << n;
          }
      const auto [k, c] = starts()[3];
      const Words w = reference(g, k, c, 0, 1037);
      Stream s = make(g, k, c);
      std::vector<double> d(1037);
      std::vector<float> f(1037);
      GeneratorProperties p{};
      ASSERT_EQ(__qorGetBrngProperties(g.brng, &p), 0);
      ASSERT_EQ(p.generate_d(s.get(), 1037, d.data(), -3.0, 5.0), 0);
      s = make(g, k, c);
      ASSERT_EQ(p.generate_s(s.get(), 1037, f.data(), 2.5f, -0.5f), 0);
      const float scale = g.brng == ZOK_RNG_ARS5 ? static_cast<float>(-3.0 * 0x1p-32) : -3.0f * 0x1p-32f;
      for (size_t i = 0; i < w.size(); ++i) {
        ASSERT_EQ(d[i], static_cast<int32_t>(w[i]) * (8.0 * 0x1p-32) + 1.0) << i;
        ASSERT_EQ(f[i], static_cast<float>(static_cast<int32_t>(w[i])) * scale + 1.0f) << i;
      }
    }
  });
}

// After five words the counter has passed two blocks, three words of the second wait in the buffer;
// a counter that wraps carries through all 128 bits.
TEST(CounterBased, StateLayoutAndCounterCarries) {
  const Key k = {{7, 8, 9, 10}};
  for (const Counter& g : kCounters) {
    SCOPED_TRACE(g.name);
    Stream s = make(g, k, 1000);
    draw(s.get(), 5);
    EXPECT_EQ(counter_of(g, s.get()), u128{1002});
    EXPECT_EQ(word_at(s.get(), g.remaining_at), 3u);
    const auto b = reference_block(g, k, 1001);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(word_at(s.get(), g.buffer_at + 4 * i), b[i]);
    const u128 low_word = 0xFFFFFFFFu, low_half = ~uint64_t{0}, three_words = ~u128{0} >> 32;
    for (u128 c : {low_word, low_half, three_words, ~u128{0}}) {
      s = make(g, k, c);
      EXPECT_EQ(draw(s.get(), 4), reference(g, k, c, 0, 4));
      EXPECT_TRUE(counter_of(g, s.get()) == c + 1);
    }
  }
}

// Skipping s words leaves the state that drawing s words leaves, from every buffer position; far
// skips land where counter arithmetic says, and leapfrog is refused without a change.
TEST(CounterBased, SkipEqualsDiscarding) {
  const auto [k, c] = starts()[4];
  for_each_isa([&] {
    for (const Counter& g : kCounters) {
      SCOPED_TRACE(g.name);
      for (int32_t before = 0; before < 4; ++before) {
        for (uint64_t skip : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 63, 64, 1001}) {
          Stream a = make(g, k, c), b = make(g, k, c);
          draw(a.get(), before);
          ASSERT_EQ(__qorSkipAheadStream(a.get(), skip), 0);
          draw(b.get(), before + static_cast<int32_t>(skip));
          EXPECT_TRUE(same_state(g, a.get(), b.get())) << before << " then " << skip;
          EXPECT_EQ(draw(a.get(), 9), draw(b.get(), 9));
        }
        for (uint64_t skip : {(1ull << 32) + 3, (1ull << 40) + 1, (1ull << 62) + 2, ~0ull}) {
          Stream a = make(g, k, c);
          draw(a.get(), before);
          ASSERT_EQ(__qorSkipAheadStream(a.get(), skip), 0);
          EXPECT_EQ(draw(a.get(), 9), reference(g, k, c, u128{skip} + before, 9))
              << before << " then " << skip;
        }
      }
      Stream s = make(g, k, c), same = make(g, k, c);
      draw(s.get(), 2);
      draw(same.get(), 2);
      EXPECT_EQ(__qorLeapfrogStream(s.get(), 1, 3), ZOK_RNG_ERROR_NO_LEAPFROG);
      EXPECT_TRUE(same_state(g, s.get(), same.get()));
    }
  });
}

// A state copy takes the unread words along: the destination goes on exactly as the source.
TEST(CounterBased, StateCopyContinuesTheSource) {
  const auto [k, c] = starts()[3];
  for (const Counter& g : kCounters)
    for (int32_t drawn = 1; drawn <= 5; ++drawn) {
      Stream source = make(g, k, c), dest = make(g, {{1, 2, 3, 4}}, 5);
      draw(source.get(), drawn);
      ASSERT_EQ(__qorCopyStreamState(dest.get(), source.get()), 0);
      EXPECT_EQ(draw(dest.get(), 11), draw(source.get(), 11)) << g.name << " after " << drawn;
    }
}

struct FeatureOverride {
  ~FeatureOverride() {
    zok::rng::override_aes(-1);
    zok::rng::override_rdrand(-1);
    zok::rng::override_hardware_draws(nullptr, nullptr);
  }
};

// The exported tests answer CPUID whatever the library was told to believe.
TEST(Features, ExportedTestsAskTheProcessor) {
  FeatureOverride restore;
  unsigned a = 0, b = 0, c = 0, d = 0;
  ASSERT_TRUE(__get_cpuid(1, &a, &b, &c, &d));
  zok::rng::override_aes(!((c >> 25) & 1));
  zok::rng::override_rdrand(!((c >> 30) & 1));
  EXPECT_EQ(__qorCPUisAES(), static_cast<int32_t>((c >> 25) & 1));
  EXPECT_EQ(__qorCPUisRDRAND(), static_cast<int32_t>((c >> 30) & 1));
}

// Without the instruction every form answers its status and writes nothing; seeding still works.
TEST(Features, GeneratorsRefuseWithoutTheirInstructions) {
  FeatureOverride restore;
  zok::rng::override_aes(0);
  zok::rng::override_rdrand(0);
  for (const auto& [brng, status] :
       {std::pair{ZOK_RNG_ARS5, ZOK_RNG_ERROR_NO_AES}, std::pair{ZOK_RNG_TRNG, ZOK_RNG_ERROR_NO_RDRAND}}) {
    Stream s = make(brng, {1, 2});
    GeneratorProperties p{};
    ASSERT_EQ(__qorGetBrngProperties(brng, &p), 0);
    uint32_t w[3] = {5, 5, 5};
    double d = -1;
    float f = -1;
    EXPECT_EQ(p.generate_i(s.get(), 3, w), status);
    EXPECT_EQ(p.generate_d(s.get(), 1, &d, 0, 1), status);
    EXPECT_EQ(p.generate_s(s.get(), 1, &f, 0, 1), status);
    EXPECT_EQ(w[0] | w[1] | w[2], 5u);
    EXPECT_EQ(d, -1);
    EXPECT_EQ(f, -1);
  }
  Stream s = make(ZOK_RNG_ARS5, {1});
  EXPECT_EQ(__qorSkipAheadStream(s.get(), 3), ZOK_RNG_ERROR_NO_AES);
}

// Seed word 1 sets the retry limit unless it is 0 or missing; the generator has no jumps.
TEST(Trng, SeedingAndRefusedJumps) {
  const struct {
    Words seeds;
    uint32_t limit;
  } cases[] = {{{}, 10}, {{5}, 10}, {{5, 0}, 10}, {{5, 7}, 7}, {{0, 0xFFFFFFFF, 3}, 0xFFFFFFFF}};
  for (const auto& t : cases) {
    Stream s = make(ZOK_RNG_TRNG, t.seeds);
    EXPECT_EQ(word_at(s.get(), 16), 0u);
    EXPECT_EQ(word_at(s.get(), 20), t.limit) << t.seeds.size();
  }
  Stream s = make(ZOK_RNG_TRNG, {});
  EXPECT_EQ(__qorLeapfrogStream(s.get(), 0, 2), ZOK_RNG_ERROR_NO_LEAPFROG);
  EXPECT_EQ(__qorSkipAheadStream(s.get(), 1), ZOK_RNG_ERROR_NO_SKIP_AHEAD);
}

// A scripted unit: draw number i (from 0) gives value + i·step, and fails while i is in
// [fail_from, fail_to).
struct Script {
  uint64_t fail_from, fail_to, value, step;
  uint64_t calls;
} g_script;
bool scripted(uint64_t* v) {
  const uint64_t i = g_script.calls++;
  *v = g_script.value + i * g_script.step;
  return i < g_script.fail_from || i >= g_script.fail_to;
}
bool scripted32(uint32_t* v) {
  uint64_t w = 0;
  const bool ok = scripted(&w);
  *v = static_cast<uint32_t>(w);
  return ok;
}

// A failed draw is tried again up to the retry limit; one failure more ends in -1131 with the
// earlier words in place. A value of all ones counts as failed even when flagged good.
TEST(Trng, RetryLimitThroughTheSeam) {
  FeatureOverride restore;
  zok::rng::override_rdrand(1);
  zok::rng::override_hardware_draws(scripted, scripted32);
  const struct {
    uint64_t fail_from, fail_to, value;
    int32_t n, status;
    uint64_t calls;
    int32_t written;
  } cases[] = {{0, 3, 100, 5, 0, 6, 5},
               {0, 4, 100, 5, ZOK_RNG_ERROR_RDRAND_FAILED, 4, 0},
               {2, 99, 100, 6, ZOK_RNG_ERROR_RDRAND_FAILED, 6, 4},
               {2, 99, 100, 5, ZOK_RNG_ERROR_RDRAND_FAILED, 6, 4},
               {0, 0, ~0ull, 2, ZOK_RNG_ERROR_RDRAND_FAILED, 4, 0}};
  for (const auto& t : cases) {
    Stream s = make(ZOK_RNG_TRNG, {0, 3});
    g_script = {t.fail_from, t.fail_to, t.value, t.value == ~0ull ? 0u : 1u, 0};
    const Words w = draw(s.get(), t.n, t.status);
    EXPECT_EQ(g_script.calls, t.calls) << t.fail_from << ".." << t.fail_to;
    for (int32_t i = 0; i < t.n; ++i) EXPECT_EQ(w[i] != 0xA5A5A5A5u, i < t.written) << i;
  }
}

// The unit's own words: every bit position near one half, no 64-bit pair repeated, an odd request's
// last word filled, doubles inside their interval.
TEST(Trng, HardwareWordsHaveNoStuckBits) {
  if (!__qorCPUisRDRAND()) GTEST_SKIP() << "no hardware random-number instruction";
  constexpr int32_t kN = 65537;
  Stream s = make(ZOK_RNG_TRNG, {});
  const Words w = draw(s.get(), kN);
  EXPECT_NE(w.back(), 0xA5A5A5A5u);
  for (int bit = 0; bit < 32; ++bit) {
    int64_t ones = 0;
    for (int32_t i = 0; i < kN - 1; ++i) ones += (w[i] >> bit) & 1;
    EXPECT_LE(std::abs(ones - (kN - 1) / 2), 6 * 128) << "bit " << bit;  // σ = sqrt(2^16 / 4)
  }
  std::vector<uint64_t> pairs;
  for (int32_t i = 0; i + 1 < kN; i += 2) pairs.push_back(w[i] | uint64_t{w[i + 1]} << 32);
  std::sort(pairs.begin(), pairs.end());
  EXPECT_EQ(std::adjacent_find(pairs.begin(), pairs.end()), pairs.end());
  std::vector<double> d(1000);
  ASSERT_EQ(__qordBRngTRNG(s.get(), 1000, d.data(), 2.0, 3.0), 0);
  double lo = 3, hi = 2;
  for (double v : d) lo = std::min(lo, v), hi = std::max(hi, v);
  EXPECT_GE(lo, 2.0);
  EXPECT_LE(hi, 3.0);
  EXPECT_GT(hi - lo, 0.9);
}

}  // namespace

// PHILOX4X32X10 and ARS5 against the published blocks of tests/data and against Random123's block
// functions on every block path: lengths, state layout, counters, skips, copies. The hardware
// generator's seeding and statuses through the library's feature seam, and a check of its words.
#include <Random123/ars.h>
#include <Random123/philox.h>
#include <cpuid.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "streams/generators/hardware.h"
#include "tests/streams/generator_support.h"

namespace {

using Words = std::vector<uint32_t>;
using u128 = unsigned __int128;
using zok::test::for_each_isa;
using zok::test::make;
using zok::test::Stream;

// Where each generator keeps its fields, offsets from the start of the record.
struct Counter {
  const char* name;
  int32_t brng;
  int key_words, counter_at, remaining_at, buffer_at;
};
constexpr Counter kPhilox = {"philox", ZOK_RNG_PHILOX4X32X10, 2, 24, 40, 44};
constexpr Counter kArs = {"ars5", ZOK_RNG_ARS5, 4, 32, 48, 52};
constexpr Counter kCounters[] = {kPhilox, kArs};

struct Start {
  uint32_t key[4];
  u128 c;
};

// Random123's block of counter c, then the n words from position `at` on.
Words reference_block(const Counter& g, const uint32_t* k, u128 c) {
  const r123array4x32 ctr = {{static_cast<uint32_t>(c), static_cast<uint32_t>(c >> 32),
                              static_cast<uint32_t>(c >> 64), static_cast<uint32_t>(c >> 96)}};
  const r123array4x32 b = g.brng == ZOK_RNG_PHILOX4X32X10
                              ? r123::Philox4x32_R<10>()(ctr, {{k[0], k[1]}})
                              : r123::ARS4x32_R<5>()(ctr, {{k[0], k[1], k[2], k[3]}});
  return Words(b.begin(), b.end());
}
Words reference(const Counter& g, const Start& s, u128 at, size_t n) {
  Words out;
  for (u128 block = s.c + at / 4; out.size() < n + at % 4; ++block)
    for (uint32_t w : reference_block(g, s.key, block)) out.push_back(w);
  return Words(out.begin() + static_cast<int>(at % 4), out.begin() + static_cast<int>(at % 4 + n));
}

Stream make(const Counter& g, const Start& s) {
  Words seeds(s.key, s.key + g.key_words);
  for (int i = 0; i < 4; ++i) seeds.push_back(static_cast<uint32_t>(s.c >> (32 * i)));
  return make(g.brng, seeds);
}

const GeneratorProperties& row(int32_t brng) {
  return __RegBrngsNew[(brng >> 20) - 1];
}

// n integers in one request; the word past them must stay untouched.
Words draw(StreamRecord* s, int32_t n, int32_t want_status = 0) {
  Words out(static_cast<size_t>(n) + 1, 0xA5A5A5A5u);
  EXPECT_EQ(row(s->brng).generate_i(s, n, out.data()), want_status);
  EXPECT_EQ(out.back(), 0xA5A5A5A5u) << "wrote past n words";
  out.pop_back();
  return out;
}

template <class T = uint32_t>
T field(const StreamRecord* s, int offset) {
  T v{};
  std::memcpy(&v, reinterpret_cast<const unsigned char*>(s) + offset, sizeof v);
  return v;
}
// Counter and unread words (the next draws compare the words themselves).
bool same_position(const Counter& g, const StreamRecord* a, const StreamRecord* b) {
  return field<u128>(a, g.counter_at) == field<u128>(b, g.counter_at) &&
         field(a, g.remaining_at) == field(b, g.remaining_at);
}

// The numbers of the lines of a data file that start with `kind`, in the given base.
std::vector<Words> data(const char* file, const std::string& kind, int base) {
  std::ifstream in(std::string(ZOK_TEST_DATA_DIR) + "/" + file);
  std::vector<Words> lines;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(kind + " ", 0) != 0) continue;
    std::istringstream words(line.substr(kind.size()));
    lines.emplace_back();
    for (std::string v; words >> v;)
      if (v.find_first_not_of("0123456789abcdef") == std::string::npos)
        lines.back().push_back(static_cast<uint32_t>(std::stoul(v, nullptr, base)));
  }
  return lines;
}

// The published blocks, and Random123 giving the same blocks, which makes it the oracle of the tests
// below (they reach every block path). Block lines hold counter, key, then the block.
TEST(CounterBased, PublishedBlocks) {
  const auto philox = data("philox4x32_10.txt", "block", 16), ars = data("ars5.txt", "block", 16);
  const auto stream = data("philox4x32_10.txt", "stream", 10);
  ASSERT_TRUE(philox.size() == 3 && ars.size() == 2 && stream.size() == 1);
  for (const auto& [g, lines] : {std::pair{kPhilox, philox}, std::pair{kArs, ars}})
    for (const Words& w : lines) {
      Start s{{}, u128{w[3]} << 96 | u128{w[2]} << 64 | u128{w[1]} << 32 | w[0]};
      std::copy(w.begin() + 4, w.begin() + 4 + g.key_words, s.key);
      const Words want(w.begin() + 4 + g.key_words, w.end());
      EXPECT_EQ(draw(make(g, s).get(), 4), want) << g.name;
      EXPECT_EQ(reference_block(g, s.key, s.c), want) << g.name;
    }
  EXPECT_EQ(draw(make(ZOK_RNG_PHILOX4X32X10, {1, 2, 3, 4, 5, 6}).get(), 16), stream[0]);
}

// Random keys with random counters, and counters whose low word, low half or whole value wraps
// inside a 16-counter pass.
std::vector<Start> starts() {
  std::mt19937_64 rng(20241206);
  std::vector<Start> out;
  for (u128 c : {u128{0xFFFFFFFFu - 5}, u128{~uint64_t{0}} - 9, ~u128{0} - 6, u128{0}, u128{0}}) {
    Start s{{}, c == 0 ? u128{rng()} << 64 | rng() : c};
    for (uint32_t& w : s.key) w = static_cast<uint32_t>(rng());
    out.push_back(s);
  }
  return out;
}

// Every length up to 40, around a 16-counter pass and long, after 0..3 words already drawn, on every
// block path; the continuous forms are the words read as signed, scaled and centred.
TEST(CounterBased, AgreeWithRandom123) {
  std::vector<int32_t> lengths = {63, 64, 65, 66, 67, 127, 128, 129, 1024, 1025, 10007};
  for (int32_t n = 0; n <= 40; ++n) lengths.push_back(n);
  for_each_isa([&] {
    for (const Counter& g : kCounters) {
      SCOPED_TRACE(g.name);
      for (const Start& start : starts())
        for (int32_t before = 0; before < 4; ++before)
          for (int32_t n : lengths) {
            Stream s = make(g, start);
            draw(s.get(), before);
            ASSERT_EQ(draw(s.get(), n), reference(g, start, before, n)) << "after " << before << ", n " << n;
          }
      const Words w = reference(g, starts()[3], 0, 1037);
      std::vector<double> d(1037);
      std::vector<float> f(1037);
      ASSERT_EQ(row(g.brng).generate_d(make(g, starts()[3]).get(), 1037, d.data(), -3.0, 5.0), 0);
      ASSERT_EQ(row(g.brng).generate_s(make(g, starts()[3]).get(), 1037, f.data(), 2.5f, -0.5f), 0);
      const float scale = g.brng == ZOK_RNG_ARS5 ? static_cast<float>(-3.0 * 0x1p-32) : -3.0f * 0x1p-32f;
      for (size_t i = 0; i < w.size(); ++i) {
        ASSERT_EQ(d[i], static_cast<int32_t>(w[i]) * (8.0 * 0x1p-32) + 1.0) << i;
        ASSERT_EQ(f[i], static_cast<float>(static_cast<int32_t>(w[i])) * scale + 1.0f) << i;
      }
    }
  });
}

// After five words the counter has passed two blocks and three words of the second wait in the
// buffer; a counter that wraps carries through all 128 bits.
TEST(CounterBased, StateLayoutAndCounterCarries) {
  for (const Counter& g : kCounters) {
    const Start start = {{7, 8, 9, 10}, 1000};
    Stream s = make(g, start);
    draw(s.get(), 5);
    EXPECT_TRUE(field<u128>(s.get(), g.counter_at) == 1002 && field(s.get(), g.remaining_at) == 3) << g.name;
    EXPECT_EQ(field(s.get(), g.buffer_at + 4), reference(g, start, 5, 1)[0]);
    for (u128 c : {u128{0xFFFFFFFFu}, u128{~uint64_t{0}}, ~u128{0} >> 32, ~u128{0}}) {
      s = make(g, {{7, 8, 9, 10}, c});
      EXPECT_EQ(draw(s.get(), 4), reference(g, {{7, 8, 9, 10}, c}, 0, 4));
      EXPECT_TRUE(field<u128>(s.get(), g.counter_at) == c + 1) << g.name;
    }
  }
}

// Skipping s words leaves the state that drawing s words leaves, from every buffer position, and a
// state copy goes on from there; far skips land where counter arithmetic says. A refused leapfrog
// changes nothing on the way.
TEST(CounterBased, SkipEqualsDiscarding) {
  const Start start = starts()[4];
  for_each_isa([&] {
    for (const Counter& g : kCounters) {
      SCOPED_TRACE(g.name);
      for (int32_t before = 0; before < 4; ++before) {
        for (uint64_t skip : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 63, 64, 1001}) {
          Stream a = make(g, start), b = make(g, start), copy = make(g, {{1, 2, 3, 4}, 5});
          draw(a.get(), before);
          ASSERT_EQ(__qorLeapfrogStream(a.get(), 1, 3), ZOK_RNG_ERROR_NO_LEAPFROG);
          ASSERT_EQ(__qorSkipAheadStream(a.get(), skip), 0);
          draw(b.get(), before + static_cast<int32_t>(skip));
          EXPECT_TRUE(same_position(g, a.get(), b.get())) << before << " then " << skip;
          // A state copy takes the unread words along.
          ASSERT_EQ(__qorCopyStreamState(copy.get(), a.get()), 0);
          const Words next = draw(b.get(), 9);
          EXPECT_EQ(draw(a.get(), 9), next);
          EXPECT_EQ(draw(copy.get(), 9), next);
        }
        for (uint64_t skip : {(1ull << 32) + 3, (1ull << 40) + 1, (1ull << 62) + 2, ~0ull}) {
          Stream a = make(g, start);
          draw(a.get(), before);
          ASSERT_EQ(__qorSkipAheadStream(a.get(), skip), 0);
          EXPECT_EQ(draw(a.get(), 9), reference(g, start, u128{skip} + before, 9))
              << before << " then " << skip;
        }
      }
    }
  });
}

struct FeatureOverride {
  ~FeatureOverride() {
    zok::rng::override_aes(-1);
    zok::rng::override_rdrand(-1);
    zok::rng::override_hardware_draws(nullptr, nullptr);
  }
};

// Without the instruction every form answers its status and writes nothing; seeding still works.
// The exported tests go on answering what CPUID says.
TEST(Features, GeneratorsRefuseWithoutTheirInstructions) {
  FeatureOverride restore;
  zok::rng::override_aes(0);
  zok::rng::override_rdrand(0);
  unsigned a = 0, b = 0, c = 0, d = 0;
  ASSERT_TRUE(__get_cpuid(1, &a, &b, &c, &d));
  EXPECT_EQ(__qorCPUisAES(), static_cast<int32_t>((c >> 25) & 1));
  EXPECT_EQ(__qorCPUisRDRAND(), static_cast<int32_t>((c >> 30) & 1));
  for (const auto& [brng, status] :
       {std::pair{ZOK_RNG_ARS5, ZOK_RNG_ERROR_NO_AES}, std::pair{ZOK_RNG_TRNG, ZOK_RNG_ERROR_NO_RDRAND}}) {
    Stream s = make(brng, {1, 2});
    const GeneratorProperties& p = row(brng);
    uint32_t w[3] = {5, 5, 5};
    double x = -1;
    float y = -1;
    EXPECT_EQ(p.generate_i(s.get(), 3, w), status);
    EXPECT_EQ(p.generate_d(s.get(), 1, &x, 0, 1), status);
    EXPECT_EQ(p.generate_s(s.get(), 1, &y, 0, 1), status);
    EXPECT_TRUE(w[0] == 5 && w[1] == 5 && w[2] == 5 && x == -1 && y == -1);
  }
  EXPECT_EQ(__qorSkipAheadStream(make(ZOK_RNG_ARS5, {1}).get(), 3), ZOK_RNG_ERROR_NO_AES);
}

// Seed word 1 sets the retry limit unless it is 0 or missing; the generator has no jumps.
TEST(Trng, SeedingAndRefusedJumps) {
  const std::pair<Words, uint32_t> cases[] = {
      {{}, 10}, {{5}, 10}, {{5, 0}, 10}, {{5, 7}, 7}, {{0, 0xFFFFFFFF, 3}, 0xFFFFFFFF}};
  for (const auto& [seeds, limit] : cases) {
    Stream s = make(ZOK_RNG_TRNG, seeds);
    EXPECT_TRUE(field(s.get(), 16) == 0 && field(s.get(), 20) == limit) << seeds.size();
  }
  Stream s = make(ZOK_RNG_TRNG, {});
  EXPECT_EQ(__qorLeapfrogStream(s.get(), 0, 2), ZOK_RNG_ERROR_NO_LEAPFROG);
  EXPECT_EQ(__qorSkipAheadStream(s.get(), 1), ZOK_RNG_ERROR_NO_SKIP_AHEAD);
}

// A scripted unit: draw number i (from 0) gives value + i·step and fails while i is in [from, to).
struct Script {
  uint64_t from, to, value, step, calls;
} g_script;
template <class T>
bool scripted(T* v) {
  const uint64_t i = g_script.calls++;
  *v = static_cast<T>(g_script.value + i * g_script.step);
  return i < g_script.from || i >= g_script.to;
}

// A failed draw is tried again up to the retry limit (3 here); one failure more ends in -1131 with
// the earlier words in place. A value of all ones counts as failed even when flagged good.
TEST(Trng, RetryLimitThroughTheSeam) {
  FeatureOverride restore;
  zok::rng::override_rdrand(1);
  zok::rng::override_hardware_draws(scripted<uint64_t>, scripted<uint32_t>);
  constexpr int32_t kFailed = ZOK_RNG_ERROR_RDRAND_FAILED;
  const struct {
    Script script;
    int32_t n, status;
    uint64_t calls;
    int32_t written;
  } cases[] = {{{0, 3, 100, 1, 0}, 5, 0, 6, 5},
               {{0, 4, 100, 1, 0}, 5, kFailed, 4, 0},
               {{2, 99, 100, 1, 0}, 6, kFailed, 6, 4},
               {{2, 99, 100, 1, 0}, 5, kFailed, 6, 4},
               {{0, 0, ~0ull, 0, 0}, 2, kFailed, 4, 0}};
  for (const auto& t : cases) {
    Stream s = make(ZOK_RNG_TRNG, {0, 3});
    g_script = t.script;
    const Words w = draw(s.get(), t.n, t.status);
    EXPECT_EQ(g_script.calls, t.calls) << t.script.from << ".." << t.script.to;
    for (int32_t i = 0; i < t.n; ++i) EXPECT_EQ(w[i] != 0xA5A5A5A5u, i < t.written) << i;
  }
}

// The unit's own words: every bit position near one half, no 64-bit pair repeated, an odd request's
// last word filled.
TEST(Trng, HardwareWordsHaveNoStuckBits) {
  if (!__qorCPUisRDRAND()) GTEST_SKIP() << "no hardware random-number instruction";
  constexpr int32_t kN = 65537;
  Stream s = make(ZOK_RNG_TRNG, {});
  const Words w = draw(s.get(), kN);
  EXPECT_NE(w.back(), 0xA5A5A5A5u);
  std::vector<uint64_t> pairs;
  for (int32_t i = 0; i + 1 < kN; i += 2) pairs.push_back(w[i] | uint64_t{w[i + 1]} << 32);
  for (int bit = 0; bit < 64; ++bit) {
    const auto ones = std::count_if(pairs.begin(), pairs.end(), [bit](uint64_t v) { return (v >> bit) & 1; });
    EXPECT_LE(std::abs(ones - (kN - 1) / 4), 6 * 91) << "bit " << bit;  // σ = sqrt(2^15 / 4)
  }
  std::sort(pairs.begin(), pairs.end());
  EXPECT_EQ(std::adjacent_find(pairs.begin(), pairs.end()), pairs.end());
}

}  // namespace

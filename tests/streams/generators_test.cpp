// The built generators of include/zok/rng_generators.def: the known answers of tests/data/congruential.txt,
// and for every one of them block output equal to one-element output, refused methods, copies,
// leapfrog and skip-ahead; then what only some generators have (R250's seed ring, WH's rounding).
#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <cfenv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "streams/generators/block_isa.h"
#include "streams/generators/wh_members.h"
#include "tests/streams/generator_support.h"
#include "zok/random.h"

namespace {

using zok::test::for_each_isa;
using zok::test::make;
using zok::test::row;
using zok::test::Stream;
using Words = std::vector<uint32_t>;

struct Gen {
  const char* name;
  int32_t brng;
  int words;  // 32-bit words per integer element
};

#define ZOK_TEST_BUILT(N, word) {#N, ZOK_RNG_##N, word / 4},
#define ZOK_TEST_NOT_BUILT(N, word)
#define ZOK_TEST_ABSTRACT(N, word)  // abstract_test.cpp
#define ZOK_GENERATOR(N, label, state, seeds, zero, word, bits, members, status) ZOK_TEST_##status(N, word)
constexpr Gen kBuilt[] = {
#include "zok/rng_generators.def"
};
#undef ZOK_GENERATOR
// The hardware generator has no sequence to repeat; counter_based_test.cpp tests it.
const std::vector<Gen> kGenerators = [] {
  std::vector<Gen> all(std::begin(kBuilt), std::end(kBuilt));
  std::erase_if(all, [](const Gen& g) { return g.brng == ZOK_RNG_TRNG; });
  return all;
}();

const Gen& gen(const std::string& name) {
  for (const Gen& g : kGenerators)
    if (name == g.name) return g;
  ADD_FAILURE() << "no built generator " << name;
  return kGenerators[0];
}

// n elements in one request of the given form (integers when T is uint32_t); a guard element past
// them must stay untouched.
template <typename T = uint32_t>
std::vector<T> draw(StreamRecord* s, const Gen& g, int32_t n, double a = 0, double b = 1) {
  const T guard = std::is_integral_v<T> ? T(0xA5A5A5A5u) : T(-7);
  std::vector<T> out(static_cast<size_t>(n) * (std::is_integral_v<T> ? g.words : 1) + 1, guard);
  const GeneratorProperties p = row(g.brng);
  int32_t status;
  if constexpr (std::is_same_v<T, double>)
    status = p.generate_d(s, n, out.data(), a, b);
  else if constexpr (std::is_same_v<T, float>)
    status = p.generate_s(s, n, out.data(), static_cast<float>(a), static_cast<float>(b));
  else
    status = p.generate_i(s, n, out.data());
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out.back(), guard) << "wrote past n elements";
  out.pop_back();
  return out;
}

// The same n elements as n one-element requests.
template <typename T = uint32_t>
std::vector<T> draw_singly(StreamRecord* s, const Gen& g, int32_t n, double a = 0, double b = 1) {
  std::vector<T> out;
  for (int32_t i = 0; i < n; ++i) {
    const std::vector<T> one = draw<T>(s, g, 1, a, b);
    out.insert(out.end(), one.begin(), one.end());
  }
  return out;
}

// One line of tests/data/congruential.txt: "NAME member seeds op form: values". Long doubles hold
// MCG59's 64-bit integers and every float and double exactly.
struct KnownAnswer {
  std::string text, name, seeds, op, form;
  int32_t member = 0;
  std::vector<long double> values;
};

std::vector<KnownAnswer> known_answers() {
  std::vector<KnownAnswer> all;
  std::ifstream in(std::string(ZOK_TEST_DATA_DIR) + "/congruential.txt");
  EXPECT_TRUE(in.good()) << "tests/data/congruential.txt";
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    KnownAnswer k;
    k.text = line;
    std::istringstream head(line.substr(0, line.find(':'))), values(line.substr(line.find(':') + 1));
    head >> k.name >> k.member >> k.seeds >> k.op >> k.form;
    for (std::string v; values >> v;) k.values.push_back(std::strtold(v.c_str(), nullptr));
    EXPECT_FALSE(k.values.empty()) << line;
    all.push_back(k);
  }
  return all;
}

// What the line names, drawn from stream `brng` after the line's operation.
std::vector<long double> answer(int32_t brng, const Gen& g, const KnownAnswer& k) {
  Words seeds;
  std::istringstream list(k.seeds == "-" ? "" : k.seeds);
  for (std::string v; std::getline(list, v, ',');) seeds.push_back(static_cast<uint32_t>(std::stoul(v)));
  Stream s = make(brng, seeds);
  const char* arg = std::strchr(k.op.c_str(), '=');
  const uint64_t x = arg ? std::strtoull(arg + 1, nullptr, 10) : 0;
  int32_t status = 0;
  if (k.op[0] == 'a') draw(s.get(), g, static_cast<int32_t>(x));
  if (k.op[0] == 's') status = __qorSkipAheadStream(s.get(), x);
  if (k.op[0] == 'l')
    status = __qorLeapfrogStream(s.get(), static_cast<int32_t>(x), std::atoi(std::strchr(arg, '/') + 1));
  EXPECT_EQ(status, 0);
  const auto n = static_cast<int32_t>(k.values.size()) / (g.words == 4 && k.form == "i" ? 4 : 1);
  std::vector<long double> got;
  if (k.form == "i") {
    const Words w = draw(s.get(), g, n);
    for (size_t i = 0; i < w.size(); i += g.words == 2 ? 2 : 1)
      got.push_back(g.words == 2 ? w[i] | uint64_t{w[i + 1]} << 32 : w[i]);
    return got;
  }
  const double a = std::strtod(k.form.c_str() + 2, nullptr),
               b = std::strtod(std::strchr(k.form.c_str(), ',') + 1, nullptr);
  if (k.form[0] == 'd') {
    for (double v : draw<double>(s.get(), g, n, a, b)) got.push_back(v);
  } else {
    for (float v : draw<float>(s.get(), g, n, a, b)) got.push_back(v);
  }
  return got;
}

// Every line through every block path; WH members are also reached by their legacy identifiers.
TEST(KnownAnswers, EveryLineOfTheData) {
  const std::vector<KnownAnswer> all = known_answers();
  ASSERT_GT(all.size(), 50u);
  for_each_isa([&] {
    for (const KnownAnswer& k : all) {
      SCOPED_TRACE(k.text);
      const Gen& g = gen(k.name);
      EXPECT_EQ(answer(g.brng + k.member, g, k), k.values);
      if (g.brng == ZOK_RNG_WH) {
        EXPECT_EQ(answer(4 + k.member, g, k), k.values);
      }
    }
  });
}

// Lengths around every block and tail (8 and 16 lanes, MRG32K3A's 96-element threshold, R250's
// 250-word block) and long runs.
std::vector<int32_t> lengths() {
  std::vector<int32_t> n;
  for (int32_t i = 0; i <= 40; ++i) n.push_back(i);
  for (int32_t i : {63, 64, 65, 95, 96, 97, 100, 249, 250, 251, 500, 1023, 1024, 1025, 3001, 65536 + 13})
    n.push_back(i);
  return n;
}

// Whatever the length, form and caller's rounding direction, one request gives what as many
// one-element requests give and leaves the same state behind.
TEST(EveryGenerator, BlockOutputEqualsOneAtATime) {
  for_each_isa([] {
    for (const Gen& g : kGenerators) {
      SCOPED_TRACE(g.name);
      const Words seeds = {2024, 7, 1, 2, 3, 4};
      for (int rounding : {FE_TONEAREST, FE_UPWARD, FE_TOWARDZERO}) {
        for (int32_t n : lengths()) {
          SCOPED_TRACE(::testing::Message() << "rounding " << rounding << ", n " << n);
          Stream whole[3] = {make(g.brng, seeds), make(g.brng, seeds), make(g.brng, seeds)};
          Stream single[3] = {make(g.brng, seeds), make(g.brng, seeds), make(g.brng, seeds)};
          std::fesetround(rounding);
          const bool same = draw(whole[0].get(), g, n) == draw_singly(single[0].get(), g, n) &&
                            draw<double>(whole[1].get(), g, n, -3, 5) ==
                                draw_singly<double>(single[1].get(), g, n, -3, 5) &&
                            draw<float>(whole[2].get(), g, n, 2.5, -0.5) ==
                                draw_singly<float>(single[2].get(), g, n, 2.5, -0.5);
          std::fesetround(FE_TONEAREST);
          ASSERT_TRUE(same);
          for (int f = 0; f < 3; ++f)
            ASSERT_EQ(draw(whole[f].get(), g, 300), draw(single[f].get(), g, 300)) << f;
        }
      }
    }
  });
}

// Methods other than seeding, leapfrog and skip-ahead are refused, and so are the jumps a generator
// lacks, with the status that names the missing one; a refused request leaves the stream alone. A
// copy continues the sequence.
TEST(EveryGenerator, RefusedMethodsChangeNothingAndCopiesContinue) {
  const uint32_t p[2] = {1, 0};
  for (const Gen& g : kGenerators) {
    SCOPED_TRACE(g.name);
    Stream s = make(g.brng, {1}), fresh = make(g.brng, {1});
    const auto init = row(g.brng).init_stream;
    EXPECT_EQ(init(3, s.get(), 1, p), ZOK_RNG_ERROR_METHOD);
    EXPECT_EQ(init(-1, s.get(), 1, p), ZOK_RNG_ERROR_METHOD);
    // A request that was carried out starts the stream afresh, so the last draw sees only refusals.
    const int32_t leap = __qorLeapfrogStream(s.get(), 0, 2);
    EXPECT_TRUE(leap == 0 || leap == ZOK_RNG_ERROR_NO_LEAPFROG) << leap;
    if (leap == 0) {
      s = make(g.brng, {1});
    } else {
      EXPECT_EQ(init(ZOK_RNG_METHOD_LEAPFROG, s.get(), 2, p), ZOK_RNG_ERROR_NO_LEAPFROG);
    }
    const int32_t skip = __qorSkipAheadStream(s.get(), 3);
    EXPECT_TRUE(skip == 0 || skip == ZOK_RNG_ERROR_NO_SKIP_AHEAD) << skip;
    if (skip == 0) {
      s = make(g.brng, {1});
    } else {
      EXPECT_EQ(init(ZOK_RNG_METHOD_SKIP, s.get(), 2, p), ZOK_RNG_ERROR_NO_SKIP_AHEAD);
    }
    EXPECT_EQ(draw(s.get(), g, 5), draw(fresh.get(), g, 5));

    Stream original = make(g.brng, {99, 98, 97, 96, 95, 94});
    draw(original.get(), g, 37);
    StreamRecord* copy = nullptr;
    ASSERT_EQ(__qorCopyStream(&copy, original.get()), 0);
    Stream held(copy);
    EXPECT_EQ(draw(copy, g, 1000), draw(original.get(), g, 1000));
  }
}

// Stream k of N yields every N-th element of the undivided sequence; together the N streams cover
// N consecutive elements per round. (Where the rounds begin the known answers fix.)
TEST(EveryGenerator, LeapfrogStreamsInterleaveTheSequence) {
  for (const Gen& g : kGenerators) {
    SCOPED_TRACE(g.name);
    const Words seeds = {31337, 4, 5, 6};
    for (int32_t nstreams : {1, 3, 7}) {
      Stream probe = make(g.brng, seeds);
      if (__qorLeapfrogStream(probe.get(), 0, nstreams) != 0) break;
      const int32_t n = 2000;
      Stream whole = make(g.brng, seeds);
      const Words all = draw(whole.get(), g, (n + 1) * nstreams);
      const Words first = draw(probe.get(), g, 1);
      size_t start = 0;
      while (start < static_cast<size_t>(nstreams) &&
             !std::equal(first.begin(), first.end(), all.begin() + start * g.words))
        ++start;
      ASSERT_LT(start, static_cast<size_t>(nstreams));
      for (int32_t k = 0; k < nstreams; ++k) {
        Stream s = make(g.brng, seeds);
        ASSERT_EQ(__qorLeapfrogStream(s.get(), k, nstreams), 0);
        const Words got = draw(s.get(), g, n);
        for (int32_t i = 0; i < n; ++i)
          ASSERT_TRUE(std::equal(got.begin() + i * g.words, got.begin() + (i + 1) * g.words,
                                 all.begin() + (start + static_cast<size_t>(i) * nstreams + k) * g.words))
              << "stream " << k << " of " << nstreams << ", element " << i;
      }
    }
  }
}

// Skipping equals discarding through every block path; skips add up far beyond what can be
// discarded, and a skip after drawing counts from there.
TEST(EveryGenerator, SkipAheadEqualsDiscarding) {
  for_each_isa([] {
    for (const Gen& g : kGenerators) {
      SCOPED_TRACE(g.name);
      const Words seeds = {271828, 1, 2, 3, 4, 5};
      Stream probe = make(g.brng, seeds);
      if (__qorSkipAheadStream(probe.get(), 1) != 0) continue;
      Stream whole = make(g.brng, seeds);
      const Words all = draw(whole.get(), g, 70000 + 1100);
      for (uint64_t skip : {0ull, 1ull, 7ull, 16ull, 17ull, 250ull, 1025ull, 4099ull, 70000ull}) {
        Stream s = make(g.brng, seeds);
        ASSERT_EQ(__qorSkipAheadStream(s.get(), skip), 0);
        const Words want(all.begin() + skip * g.words, all.begin() + (skip + 1100) * g.words);
        ASSERT_EQ(draw(s.get(), g, 1100), want) << "skip " << skip;
      }
      // The quasi-random sequences end before point 2^32 and refuse skips past it.
      const uint64_t far = __qorSkipAheadStream(probe.get(), 1ull << 40) == 0 ? 1ull << 40 : 1ull << 31;
      Stream one = make(g.brng, seeds), two = make(g.brng, seeds);
      ASSERT_EQ(__qorSkipAheadStream(one.get(), far + 12345), 0);
      ASSERT_EQ(__qorSkipAheadStream(two.get(), far), 0);
      draw(two.get(), g, 12000);
      ASSERT_EQ(__qorSkipAheadStream(two.get(), 345), 0);
      EXPECT_EQ(draw(one.get(), g, 100), draw(two.get(), g, 100));
    }
  });
}

uint32_t* state(StreamRecord* s) {
  return reinterpret_cast<uint32_t*>(reinterpret_cast<unsigned char*>(s) + 16);
}

// 250 seeds become the ring as given; one seed fills it with a staircase of leading bits.
TEST(R250, SeedsFillTheRing) {
  Words seeds(250);
  for (int t = 0; t < 250; ++t) seeds[t] = 0x01000193u * (t + 1);
  Stream s = make(ZOK_RNG_R250, seeds);
  EXPECT_EQ(std::memcmp(state(s.get()), seeds.data(), 1000), 0);
  EXPECT_EQ(draw(s.get(), gen("R250"), 1)[0], seeds[0] ^ seeds[103]);
  s = make(ZOK_RNG_R250, {4711});
  const uint32_t* w = state(s.get());
  EXPECT_EQ(w[3] >> 31, 1u);
  EXPECT_EQ(w[10] >> 30, 1u);
  EXPECT_EQ(w[220], 1u);  // word 7·31 + 3 keeps no bit but bit 0, which is set
}

// A loaded image can carry any bytes. R250's ring positions are brought into the ring instead of
// indexing past it (the address sanitizer build would see that), and WH components at or above
// their modulus count as their residues.
TEST(ForeignStates, StayInsideTheirRecords) {
  Stream s = make(ZOK_RNG_R250, {5});
  uint32_t* words = state(s.get());
  words[250] = 1000 + 7;  // i
  words[251] = 0xFFFFFFF0u;
  for (int32_t n : {1, 300}) {
    draw(s.get(), gen("R250"), n);
    EXPECT_LT(words[250], 250u);
    EXPECT_LT(words[251], 250u);
  }
  const Gen& wh = gen("WH");
  Stream a = make(ZOK_RNG_WH, {5, 6, 7, 8}), b = make(ZOK_RNG_WH, {5, 6, 7, 8});
  uint32_t* x = state(a.get());
  x[0] += zok::rng::kWhModuli[0][0];
  x[3] += 2 * zok::rng::kWhModuli[0][3];
  EXPECT_EQ(draw(a.get(), wh, 3), draw(b.get(), wh, 3));
  x[1] += zok::rng::kWhModuli[0][1];
  EXPECT_EQ(draw(a.get(), wh, 100), draw(b.get(), wh, 100));
}

// A record whose identifier names no WH member (only a caller writing into the header can make one)
// is refused instead of reading past the member table.
TEST(Wh, RefusesAnIdentifierWithoutMember) {
  Stream s = make(ZOK_RNG_WH, {1});
  s->brng = ZOK_RNG_WH + 273;
  uint32_t w[8] = {5, 5, 5, 5, 5, 5, 5, 5};
  double d = -1;
  EXPECT_EQ(__qoriBRngWH(s.get(), 2, w), ZOK_RNG_ERROR_BAD_BRNG);
  EXPECT_EQ(__qordBRngWH(s.get(), 1, &d, 0, 1), ZOK_RNG_ERROR_BAD_BRNG);
  EXPECT_EQ(__qorBRngWHInitStream(ZOK_RNG_METHOD_SEED, s.get(), 1, w), ZOK_RNG_ERROR_BAD_BRNG);
  for (uint32_t v : w) EXPECT_EQ(v, 5u);
  EXPECT_EQ(d, -1);
  s->brng = ZOK_RNG_WH;
}

// WH rounds toward zero whatever the caller set, and gives the caller's control word back whole.
TEST(Wh, CallersControlWordIsRestoredAndDoesNotChangeResults) {
  const Gen& g = gen("WH");
  Stream s = make(ZOK_RNG_WH, {1, 2, 3, 4});
  const std::vector<double> want = draw<double>(s.get(), g, 300, -2.0, 3.0);
  const unsigned original = _mm_getcsr();
  for (unsigned mode : {0x0000u, 0x2000u, 0x4000u, 0x6000u, 0x8040u | 0x4000u}) {
    SCOPED_TRACE(mode);
    const unsigned caller = (original & ~0xE040u) | mode;
    s = make(ZOK_RNG_WH, {1, 2, 3, 4});
    _mm_setcsr(caller);
    double d[300];
    float f[300];
    uint32_t w[4 * 300];
    const int32_t status = __qordBRngWH(s.get(), 300, d, -2.0, 3.0);
    const unsigned after_d = _mm_getcsr() & ~0x3Fu;
    __qorsBRngWH(s.get(), 300, f, 0.0f, 1.0f);
    const unsigned after_s = _mm_getcsr() & ~0x3Fu;
    __qoriBRngWH(s.get(), 300, w);
    const unsigned after_i = _mm_getcsr() & ~0x3Fu;
    _mm_setcsr(original);
    EXPECT_EQ(status, 0);
    // Only the exception flags (bits 0-5) may differ.
    EXPECT_EQ(after_d, caller & ~0x3Fu);
    EXPECT_EQ(after_s, caller & ~0x3Fu);
    EXPECT_EQ(after_i, caller & ~0x3Fu);
    EXPECT_EQ(std::vector<double>(d, d + 300), want);
  }
}

// Modular powers against Python's pow where the generators' jumps do not reach: zero exponents and
// bases, a modulus of 2, exponents of 62 bits, multipliers at or above the modulus; a zero modulus
// gives 0. The skip-ahead and leapfrog answers cover the generators' own multipliers.
TEST(ModularPowers, KnownPowers) {
  constexpr uint64_t kBig = (1ull << 62) + 123456789;
  enum Fn { kMod, k31, k59 };
  const struct {
    Fn fn;
    uint64_t a, n, m, want;
  } cases[] = {{kMod, 0, 0, 5, 1},
               {kMod, 5, 3, 0, 0},
               {kMod, 2, 40, 16770647, 11239809},
               {kMod, 1132489760, 257, 4294967087u, 1697917654},
               {kMod, 127, kBig, 16770647, 2131143},
               {kMod, 4294967295u, 65, 2, 1},
               {k31, 0, 0, 0, 1},
               {k31, 2, 40, 0, 512},
               {k31, 1132489760, kBig, 0, 449251148},
               {k31, 4294967295u, 3, 0, 1},
               {k59, 3, 0, 0, 1},
               {k59, 302875106592253ull, kBig, 0, 511146429714194253ull},
               {k59, ~0ull, 257, 0, 576460752303423487ull},
               {k59, 2, 59, 0, 0}};
  for (const auto& c : cases) {
    const auto a = static_cast<uint32_t>(c.a);
    const uint64_t got = c.fn == kMod  ? __qoriPowMod(a, c.n, static_cast<uint32_t>(c.m))
                         : c.fn == k31 ? __qoriPowMod2P31M1(a, c.n)
                                       : __qoriPowMod2P59(c.a, c.n);
    EXPECT_EQ(got, c.want) << "function " << c.fn << ": " << c.a << "^" << c.n << " mod " << c.m;
  }
}

// Vect3PowMod steps x_new = c0·newest + c1·middle + c2·oldest n times (values from Python); a zero
// modulus leaves v alone. MRG32K3A's own matrices are covered by its skip-ahead answers.
TEST(ModularPowers, Vect3PowModStepsTheRecurrence) {
  const uint32_t c[3] = {2, 3, 4};
  const struct {
    uint64_t n;
    uint32_t want[3];
  } cases[] = {{0, {23, 40, 77}}, {1, {40, 77, 63}}, {5, {16, 17, 29}}, {1000, {25, 49, 96}}};
  for (const auto& k : cases) {
    uint32_t v[3] = {23, 40, 77};
    __qoriVect3PowMod(v, c, 101, k.n);
    EXPECT_EQ(Words(v, v + 3), Words(k.want, k.want + 3)) << k.n;
  }
  const uint32_t cx[3] = {0, 1403580, 4294967087u - 810728};
  uint32_t v[3] = {12345, 4000000000u, 77};
  __qoriVect3PowMod(v, cx, 4294967087u, 64);
  EXPECT_EQ(Words(v, v + 3), (Words{2071288797, 2228851738u, 1705488999}));
  __qoriVect3PowMod(v, c, 0, 5);
  EXPECT_EQ(Words(v, v + 3), (Words{2071288797, 2228851738u, 1705488999}));
}

}  // namespace

// The congruential generators against published outputs and one-element-at-a-time references written
// here: every length and output form, seeding, leapfrog, skip-ahead, modular powers, WH's rounding.
#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "streams/generators/block_isa.h"
#include "streams/generators/wh_members.h"
#include "zok/random.h"

namespace {

using zok::rng::BlockIsa;
using Words = std::vector<uint32_t>;

// Each reference yields one element's integer output (1, 2 or 4 words) and its output on [a, b).
struct Reference {
  virtual ~Reference() = default;
  virtual void next(uint32_t* words) = 0;
  virtual double real(const uint32_t* words, double a, double b) const = 0;
};

constexpr uint64_t kM31 = 2147483647;
constexpr uint64_t kA31 = 1132489760;

struct Mcg31Ref : Reference {
  explicit Mcg31Ref(uint64_t x) : x_(x) {}
  void next(uint32_t* w) override {
    w[0] = static_cast<uint32_t>(x_);
    x_ = x_ * kA31 % kM31;
  }
  double real(const uint32_t* w, double a, double b) const override {
    return w[0] * ((b - a) * 4.656612875245797e-10) + a;
  }
  uint64_t x_;
};

constexpr unsigned __int128 kM59 = static_cast<unsigned __int128>(1) << 59;
constexpr uint64_t kA59 = 302875106592253ull;

struct Mcg59Ref : Reference {
  explicit Mcg59Ref(uint64_t x) : x_(x) {}
  void next(uint32_t* w) override {
    w[0] = static_cast<uint32_t>(x_);
    w[1] = static_cast<uint32_t>(x_ >> 32);
    x_ = static_cast<uint64_t>(static_cast<unsigned __int128>(x_) * kA59 % kM59);
  }
  double real(const uint32_t* w, double a, double b) const override {
    const uint64_t x = w[0] | static_cast<uint64_t>(w[1]) << 32;
    return static_cast<double>(x) * ((b - a) * 0x1p-59) + a;
  }
  uint64_t x_;
};

// The textbook shift register: a history of every word, each new one the XOR of the words 250 and
// 147 places back.
struct R250Ref : Reference {
  explicit R250Ref(const Words& seeds) {
    if (seeds.size() >= 250) {
      hist_.assign(seeds.begin(), seeds.begin() + 250);
      return;
    }
    uint32_t s = !seeds.empty() && seeds[0] != 0 ? seeds[0] : 1;
    for (int t = 0; t < 250; ++t) {
      s *= 69069u;
      hist_.push_back(s);
    }
    for (int t = 0; t < 32; ++t) {
      uint32_t& w = hist_[7 * t + 3];
      for (int bit = 31; bit > 31 - t; --bit) w &= ~(1u << bit);
      w |= 1u << (31 - t);
    }
  }
  void next(uint32_t* w) override {
    const size_t n = hist_.size();
    hist_.push_back(hist_[n - 250] ^ hist_[n - 147]);
    w[0] = hist_.back();
  }
  double real(const uint32_t* w, double a, double b) const override { return w[0] * ((b - a) * 0x1p-32) + a; }
  std::vector<uint32_t> hist_;
};

// L'Ecuyer's published MRG32k3a recurrence in double arithmetic. It reports z = p1 - p2 + m1 where
// the generator gives (p1 - p2) mod m1, so p1 == p2 maps to 0.
struct MrgRef : Reference {
  explicit MrgRef(const double* s) : s10_(s[0]), s11_(s[1]), s12_(s[2]), s20_(s[3]), s21_(s[4]), s22_(s[5]) {}
  void next(uint32_t* w) override {
    const double m1 = 4294967087.0, m2 = 4294944443.0;
    double p1 = 1403580.0 * s11_ - 810728.0 * s10_;
    long k = static_cast<long>(p1 / m1);
    p1 -= k * m1;
    if (p1 < 0.0) p1 += m1;
    s10_ = s11_;
    s11_ = s12_;
    s12_ = p1;
    double p2 = 527612.0 * s22_ - 1370589.0 * s20_;
    k = static_cast<long>(p2 / m2);
    p2 -= k * m2;
    if (p2 < 0.0) p2 += m2;
    s20_ = s21_;
    s21_ = s22_;
    s22_ = p2;
    last_lecuyer_ = p1 > p2 ? p1 - p2 : p1 - p2 + m1;
    w[0] = p1 >= p2 ? static_cast<uint32_t>(p1 - p2) : static_cast<uint32_t>(p1 - p2 + m1);
  }
  double real(const uint32_t* w, double a, double b) const override {
    return w[0] * ((b - a) * 2.328306549837829e-10) + a;
  }
  double lecuyer_u() const { return last_lecuyer_ * 2.328306549295727688e-10; }
  double s10_, s11_, s12_, s20_, s21_, s22_;
  double last_lecuyer_ = 0;
};

// WH computes its fractions with rounding toward zero.
__attribute__((noinline)) double wh_real(const uint32_t* x, const uint32_t* m, double a, double b) {
  // The reciprocals are the doubles nearest to 1/m, whatever the caller's direction.
  const int saved = std::fegetround();
  std::fesetround(FE_TONEAREST);
  double recip[4];
  for (int k = 0; k < 4; ++k) recip[k] = 1.0 / m[k];
  std::fesetround(FE_TOWARDZERO);
  volatile double s = static_cast<double>(x[0]) * recip[0];
  s = s + static_cast<double>(x[1]) * recip[1];
  s = s + static_cast<double>(x[2]) * recip[2];
  s = s + static_cast<double>(x[3]) * recip[3];
  const double u = s - std::trunc(s);
  volatile double r = u * (b - a) + a;
  const double out = r;
  std::fesetround(saved);
  return out;
}

__attribute__((noinline)) float wh_real_float(const uint32_t* x, const uint32_t* m, float a, float b) {
  const double r = wh_real(x, m, a, b);
  // The rounding of the double result to float happens under the same direction.
  const int saved = std::fegetround();
  std::fesetround(FE_TOWARDZERO);
  volatile float f = static_cast<float>(r);
  const float out = f;
  std::fesetround(saved);
  return out;
}

struct WhRef : Reference {
  WhRef(int member, const Words& seeds) {
    for (int k = 0; k < 4; ++k) {
      m_[k] = zok::rng::kWhModuli[member][k];
      a_[k] = zok::rng::kWhMultipliers[member][k];
      x_[k] = k < static_cast<int>(seeds.size()) ? seeds[k] % m_[k] : 1;
      if (x_[k] == 0) x_[k] = 1;
    }
  }
  void next(uint32_t* w) override {
    for (int k = 0; k < 4; ++k) w[k] = x_[k] = static_cast<uint32_t>(uint64_t{a_[k]} * x_[k] % m_[k]);
  }
  double real(const uint32_t* w, double a, double b) const override { return wh_real(w, m_, a, b); }
  uint32_t m_[4], a_[4], x_[4];
};

struct Gen {
  const char* name;
  int32_t brng;
  int words;  // 32-bit words per integer element
  bool has_leapfrog, has_skip;
  std::function<std::unique_ptr<Reference>(const Words&)> reference;
};

double mrg_seed(const Words& s, size_t k, double m) {
  const double v = k < s.size() ? s[k] : 1.0;
  return v >= m ? v - m : v;
}

std::unique_ptr<Reference> mrg_ref(const Words& seeds) {
  double s[6];
  for (int k = 0; k < 3; ++k) {
    s[k] = mrg_seed(seeds, k, 4294967087.0);
    s[k + 3] = mrg_seed(seeds, k + 3, 4294944443.0);
  }
  if (s[0] == 0 && s[1] == 0 && s[2] == 0) s[0] = 1;
  if (s[3] == 0 && s[4] == 0 && s[5] == 0) s[3] = 1;
  return std::make_unique<MrgRef>(s);
}

uint64_t mcg31_seed(const Words& s) {
  const uint64_t x = s.empty() ? 1 : s[0] % kM31;
  return x == 0 ? 1 : x;
}
uint64_t mcg59_seed(const Words& s) {
  uint64_t x = s.empty() ? 0 : s[0];
  if (s.size() >= 2) x = static_cast<uint64_t>((x | static_cast<uint64_t>(s[1]) << 32) % kM59);
  return x == 0 ? 1 : x;
}

const std::vector<Gen>& generators() {
  static const std::vector<Gen> all = {
      {"MCG31M1", ZOK_RNG_MCG31M1, 1, true, true,
       [](const Words& s) { return std::make_unique<Mcg31Ref>(mcg31_seed(s)); }},
      {"MCG59", ZOK_RNG_MCG59, 2, true, true,
       [](const Words& s) { return std::make_unique<Mcg59Ref>(mcg59_seed(s)); }},
      {"R250", ZOK_RNG_R250, 1, false, false, [](const Words& s) { return std::make_unique<R250Ref>(s); }},
      {"MRG32K3A", ZOK_RNG_MRG32K3A, 1, false, true, mrg_ref},
      {"WH member 0", ZOK_RNG_WH, 4, true, true,
       [](const Words& s) { return std::make_unique<WhRef>(0, s); }},
      {"WH member 272", ZOK_RNG_WH + 272, 4, true, true,
       [](const Words& s) { return std::make_unique<WhRef>(272, s); }},
  };
  return all;
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

GeneratorProperties row(int32_t brng) {
  GeneratorProperties p{};
  EXPECT_EQ(__qorGetBrngProperties(brng, &p), 0);
  return p;
}

// n elements in one request of the given output form (integer without an interval); a guard element
// past them must stay untouched.
template <typename T = uint32_t>
std::vector<T> draw(StreamRecord* s, const Gen& g, int32_t n, T a = 0, T b = 0) {
  const T guard = std::is_integral_v<T> ? T(0xA5A5A5A5u) : T(-7);
  std::vector<T> out(static_cast<size_t>(n) * (std::is_integral_v<T> ? g.words : 1) + 1, guard);
  const GeneratorProperties p = row(g.brng);
  int32_t status;
  if constexpr (std::is_same_v<T, double>)
    status = p.generate_d(s, n, out.data(), a, b);
  else if constexpr (std::is_same_v<T, float>)
    status = p.generate_s(s, n, out.data(), a, b);
  else
    status = p.generate_i(s, n, out.data());
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out.back(), guard) << "wrote past n elements";
  out.pop_back();
  return out;
}

Words expected(Reference& ref, const Gen& g, int64_t n) {
  Words out(static_cast<size_t>(n) * g.words);
  for (int64_t i = 0; i < n; ++i) ref.next(&out[i * g.words]);
  return out;
}

// Names the first differing element.
::testing::AssertionResult same_words(const Words& got, const Words& want, int words) {
  if (got.size() != want.size())
    return ::testing::AssertionFailure() << "sizes " << got.size() << " vs " << want.size();
  for (size_t i = 0; i < got.size(); ++i)
    if (got[i] != want[i])
      return ::testing::AssertionFailure()
             << "element " << i / words << " word " << i % words << ": " << got[i] << " vs " << want[i];
  return ::testing::AssertionSuccess();
}

// Lengths that cover every tail of every block path (8 lanes, 16 lanes, R250's 250-word block and
// its 1024-word buffer, MRG32K3A's 96-element threshold) and long runs.
std::vector<int32_t> lengths() {
  std::vector<int32_t> n;
  for (int32_t i = 0; i <= 100; ++i) n.push_back(i);
  for (int32_t i : {247,  248,  249,  250,  251,  252,  253,  396,  397,  500,  1000, 1023,  1024,
                    1025, 1026, 1039, 1040, 1041, 1055, 2047, 2048, 2049, 3000, 4099, 10007, 65536 + 13})
    n.push_back(i);
  return n;
}

const std::vector<Words>& seed_sets() {
  static const std::vector<Words> sets = {{}, {12345}, {0xDEADBEEF, 0x12345678, 7, 9, 11, 13}};
  return sets;
}

// Runs `body` once per block-path instruction set this machine has.
void for_each_isa(const std::function<void()>& body) {
  for (BlockIsa isa : {BlockIsa::kSse41, BlockIsa::kAvx2}) {
    if (isa > zok::rng::widest_block_isa()) continue;
    zok::rng::set_block_isa(isa);
    SCOPED_TRACE(isa == BlockIsa::kSse41 ? "sse41" : "avx2");
    body();
  }
  zok::rng::set_block_isa(zok::rng::widest_block_isa());
}

// The published lines of tests/data/congruential.txt, as numbers by key.
std::map<std::string, std::vector<std::string>> read_known_answers() {
  std::map<std::string, std::vector<std::string>> k;
  std::ifstream in(std::string(ZOK_TEST_DATA_DIR) + "/congruential.txt");
  EXPECT_TRUE(in.good()) << "tests/data/congruential.txt";
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream values(line.substr(line.find(':') + 1));
    auto& v = k[line.substr(0, line.find(':'))];
    for (std::string x; values >> x;) v.push_back(x);
  }
  return k;
}

// Published first outputs of MCG31M1, MCG59 and MRG32K3A; L'Ecuyer's own recurrence reproduces his
// uniforms and the generator follows it over a long run.
TEST(KnownAnswers, PublishedFirstOutputs) {
  auto k = read_known_answers();
  const auto ints = [&](const char* key) {
    std::vector<uint64_t> v;
    for (const std::string& x : k[key]) v.push_back(std::stoull(x));
    return v;
  };
  const std::vector<uint64_t> mcg31 = ints("mcg31m1 x0=1"), mcg59 = ints("mcg59 x0=1"),
                              mrg_z = ints("mrg32k3a seeds=12345x6 z");
  const std::vector<std::string>& mrg_u = k["mrg32k3a seeds=12345x6 u"];
  ASSERT_EQ(mcg31.size(), 6u);
  ASSERT_EQ(mcg59.size(), 4u);
  ASSERT_EQ(mrg_z.size(), 6u);
  ASSERT_EQ(mrg_u.size(), 5u);

  Stream s = make(ZOK_RNG_MCG31M1, {1});
  Words got(6);
  ASSERT_EQ(__qoriBRngMCG31M1(s.get(), 6, got.data()), 0);
  EXPECT_EQ(std::vector<uint64_t>(got.begin(), got.end()), mcg31);
  s = make(ZOK_RNG_MCG59, {1});
  std::vector<uint64_t> got59(4);
  ASSERT_EQ(__qoriBRngMCG59(s.get(), 4, reinterpret_cast<uint32_t*>(got59.data())), 0);
  EXPECT_EQ(got59, mcg59);

  const Words seeds(6, 12345);
  s = make(ZOK_RNG_MRG32K3A, seeds);
  ASSERT_EQ(__qoriBRngMRG32K3A(s.get(), 6, got.data()), 0);
  EXPECT_EQ(std::vector<uint64_t>(got.begin(), got.end()), mrg_z);
  // This generator's double output is z times 1/m1, not L'Ecuyer's 1/(m1 + 1).
  s = make(ZOK_RNG_MRG32K3A, seeds);
  std::vector<double> u(5);
  ASSERT_EQ(__qordBRngMRG32K3A(s.get(), 5, u.data(), 0.0, 1.0), 0);
  const double s6[6] = {12345, 12345, 12345, 12345, 12345, 12345};
  MrgRef ref(s6);
  uint32_t w = 0;
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(u[i], mrg_z[i] * 2.328306549837829e-10) << i;
    ref.next(&w);
    EXPECT_EQ(ref.lecuyer_u(), std::stod(mrg_u[i])) << i;
  }
  for_each_isa([&] {
    Stream st = make(ZOK_RNG_MRG32K3A, seeds);
    MrgRef fresh(s6);
    const Gen& g = generators()[3];
    EXPECT_TRUE(same_words(draw(st.get(), g, 200000), expected(fresh, g, 200000), 1));
  });
}

// Every length through every block path and tail, then the state left behind continues the sequence.
TEST(Sequences, IntegerOutputOfEveryLengthFollowsTheReference) {
  for_each_isa([] {
    for (const Gen& g : generators()) {
      SCOPED_TRACE(g.name);
      for (const Words& seeds : seed_sets()) {
        for (int32_t n : lengths()) {
          SCOPED_TRACE(n);
          Stream s = make(g.brng, seeds);
          auto ref = g.reference(seeds);
          ASSERT_TRUE(same_words(draw(s.get(), g, n), expected(*ref, g, n), g.words));
          ASSERT_TRUE(same_words(draw(s.get(), g, 37), expected(*ref, g, 37), g.words));
          ASSERT_TRUE(same_words(draw(s.get(), g, 1100), expected(*ref, g, 1100), g.words));
        }
      }
    }
  });
}

// A long request leaves exactly the state that as many one-element requests leave (R250 keeps its
// ring in another rotation after a block, so there the ring is compared from its oldest word).
TEST(Sequences, BlockPathsLeaveTheOneAtATimeState) {
  for_each_isa([] {
    for (const Gen& g : generators()) {
      SCOPED_TRACE(g.name);
      const int32_t state_bytes = row(g.brng).state_size - 16;
      for (int32_t n : {16, 17, 31, 32, 33, 250, 251, 1024, 1031, 5000}) {
        SCOPED_TRACE(n);
        Stream whole = make(g.brng, {99, 98, 97, 96, 95, 94});
        Stream single = make(g.brng, {99, 98, 97, 96, 95, 94});
        draw(whole.get(), g, n);
        for (int32_t i = 0; i < n; ++i) draw(single.get(), g, 1);
        const auto* a = reinterpret_cast<const unsigned char*>(whole.get()) + 16;
        const auto* b = reinterpret_cast<const unsigned char*>(single.get()) + 16;
        if (g.brng != ZOK_RNG_R250) {
          EXPECT_EQ(std::memcmp(a, b, state_bytes), 0);
          continue;
        }
        const auto* wa = reinterpret_cast<const uint32_t*>(a);
        const auto* wb = reinterpret_cast<const uint32_t*>(b);
        for (int t = 0; t < 250; ++t) ASSERT_EQ(wa[(wa[250] + t) % 250], wb[(wb[250] + t) % 250]) << t;
        EXPECT_EQ((wa[251] + 250 - wa[250]) % 250, 103u);
      }
    }
  });
}

// The formulas hold under the caller's rounding direction too (WH sets its own): block paths must
// round where and as the one-element path does.
TEST(Sequences, ContinuousOutputsFollowTheirFormulas) {
  const double intervals[][2] = {{0.0, 1.0}, {-3.0, 5.0}, {1e6, 1e6 + 1.0}, {2.5, -0.5}};
  for (int rounding : {FE_TONEAREST, FE_UPWARD, FE_TOWARDZERO}) {
    SCOPED_TRACE(rounding);
    for_each_isa([&] {
      for (const Gen& g : generators()) {
        SCOPED_TRACE(g.name);
        for (int32_t n : {0,  1,  3,  4,   5,   7,   8,   9,    15,   16,   17,  33,
                          95, 96, 97, 100, 249, 250, 251, 1023, 1024, 1025, 3001}) {
          SCOPED_TRACE(n);
          for (const auto& ab : intervals) {
            const Words seeds = {2024, 7, 1, 2, 3, 4};
            auto ref = g.reference(seeds);
            const Words ints = expected(*ref, g, n);
            Stream sd = make(g.brng, seeds), ss = make(g.brng, seeds);
            std::fesetround(rounding);
            const std::vector<double> d = draw(sd.get(), g, n, ab[0], ab[1]);
            const std::vector<float> f =
                draw(ss.get(), g, n, static_cast<float>(ab[0]), static_cast<float>(ab[1]));
            std::vector<double> want_d(n);
            std::vector<float> want_f(n);
            for (int32_t i = 0; i < n; ++i) {
              const uint32_t* w = &ints[static_cast<size_t>(i) * g.words];
              want_d[i] = ref->real(w, ab[0], ab[1]);
              if (g.words == 4)
                want_f[i] = wh_real_float(w, static_cast<const WhRef*>(ref.get())->m_,
                                          static_cast<float>(ab[0]), static_cast<float>(ab[1]));
              else
                want_f[i] =
                    static_cast<float>(ref->real(w, static_cast<float>(ab[0]), static_cast<float>(ab[1])));
            }
            std::fesetround(FE_TONEAREST);
            for (int32_t i = 0; i < n; ++i) {
              ASSERT_EQ(d[i], want_d[i]) << "element " << i;
              ASSERT_EQ(f[i], want_f[i]) << "element " << i;
            }
            // Continuous and integer requests advance the same state.
            EXPECT_TRUE(same_words(draw(sd.get(), g, 5), expected(*ref, g, 5), g.words));
          }
        }
      }
    });
  }
}

// MCG31M1 seeded 2^31 - 2 starts at its largest state: u must stay below 1.
TEST(Sequences, UnitIntervalIsHalfOpenAtItsTop) {
  Stream s = make(ZOK_RNG_MCG31M1, {2147483646u});
  double u = 0;
  ASSERT_EQ(__qordBRngMCG31M1(s.get(), 1, &u, 0.0, 1.0), 0);
  EXPECT_LT(u, 1.0);
  EXPECT_GT(u, 0.9999999);
}

// The first element as a 64-bit number (MCG59's two words; the others leave the high word 0).
uint64_t first(int32_t brng, const Words& seeds) {
  Stream s = make(brng, seeds);
  uint32_t w[4] = {};
  row(brng).generate_i(s.get(), 1, w);
  return w[0] | uint64_t{w[1]} << 32;
}

uint32_t* state(StreamRecord* s) {
  return reinterpret_cast<uint32_t*>(reinterpret_cast<unsigned char*>(s) + 16);
}

// MCG seeds are reduced mod m, zero standing for 1; MCG59's high word contributes its low 27 bits.
TEST(Seeding, McgSeedsAreReducedAndNeverZero) {
  const struct {
    int32_t brng;
    Words seeds;
    uint64_t first;
  } cases[] = {{ZOK_RNG_MCG31M1, {0}, 1},
               {ZOK_RNG_MCG31M1, {2147483647u}, 1},
               {ZOK_RNG_MCG31M1, {}, 1},
               {ZOK_RNG_MCG31M1, {2147483647u + 5}, 5},
               {ZOK_RNG_MCG31M1, {0xFFFFFFFFu}, 1},
               {ZOK_RNG_MCG59, {0xFFFFFFFFu}, 0xFFFFFFFFull},
               {ZOK_RNG_MCG59, {0x89ABCDEFu, 0xFFFFFFFFu}, 0x7FFFFFF89ABCDEFull},
               {ZOK_RNG_MCG59, {5, 0x08000000u}, 5},
               {ZOK_RNG_MCG59, {5, 6, 7}, 5u | 6ull << 32},
               {ZOK_RNG_MCG59, {0, 0x08000000u}, 1},
               {ZOK_RNG_MCG59, {0}, 1},
               {ZOK_RNG_MCG59, {}, 1}};
  for (const auto& c : cases)
    EXPECT_EQ(first(c.brng, c.seeds), c.first) << c.brng << " seeds " << c.seeds.size() << " " << c.seeds[0];
}

TEST(Seeding, R250FillsItsRingFromOneSeedOrTakesTwoHundredFifty) {
  Stream s = make(ZOK_RNG_R250, {4711});
  const uint32_t* w = state(s.get());
  R250Ref ref({4711});
  for (int t = 0; t < 250; ++t) EXPECT_EQ(w[t], ref.hist_[t]) << t;
  EXPECT_EQ(w[3] >> 31, 1u);
  EXPECT_EQ(w[10] >> 30, 1u);
  EXPECT_EQ(w[220], 1u);  // word 7·31 + 3 keeps no bit but bit 0, which is set
  EXPECT_EQ(w[250], 0u);
  EXPECT_EQ(w[251], 103u);
  // Seed 0 and no seed both stand for 1.
  EXPECT_EQ(first(ZOK_RNG_R250, {0}), first(ZOK_RNG_R250, {1}));
  EXPECT_EQ(first(ZOK_RNG_R250, {}), first(ZOK_RNG_R250, {1}));

  Words seeds(250);
  for (int t = 0; t < 250; ++t) seeds[t] = 0x01000193u * (t + 1);
  s = make(ZOK_RNG_R250, seeds);
  EXPECT_EQ(std::memcmp(state(s.get()), seeds.data(), 1000), 0);
  EXPECT_EQ(first(ZOK_RNG_R250, seeds), seeds[0] ^ seeds[103]);
}

// Missing and all-zero triples become 1 0 0 (or 1 1 1 with no seeds); words at or above the modulus
// lose one modulus.
TEST(Seeding, Mrg32k3aReplacesMissingAndZeroSeeds) {
  const struct {
    Words seeds, state;
  } cases[] = {{{0, 0, 0, 0, 0, 0}, {1, 0, 0, 1, 0, 0}},
               {{}, {1, 1, 1, 1, 1, 1}},
               {{7, 8}, {7, 8, 1, 1, 1, 1}},
               {{0xFFFFFFFFu, 4294967087u, 4294967086u, 0xFFFFFFFFu, 4294944443u, 9, 10},
                {208, 0, 4294967086u, 22852, 0, 9}},
               {{4294967087u, 0, 0, 0, 4294944443u, 0}, {1, 0, 0, 1, 0, 0}}};
  for (const auto& c : cases) {
    Stream s = make(ZOK_RNG_MRG32K3A, c.seeds);
    EXPECT_EQ(Words(state(s.get()), state(s.get()) + 6), c.state) << c.seeds.size();
  }
}

// Each generator refuses methods other than 0, 1, 2 and the jumps it lacks, with the status that names
// the missing one, and a refused request leaves the stream as it was.
TEST(Seeding, UnsupportedMethodsAreRefused) {
  const uint32_t p[2] = {1, 0};
  for (const Gen& g : generators()) {
    SCOPED_TRACE(g.name);
    Stream s = make(g.brng, {1}), fresh = make(g.brng, {1});
    const auto init = row(g.brng).init_stream;
    EXPECT_EQ(init(3, s.get(), 1, p), ZOK_RNG_ERROR_METHOD);
    EXPECT_EQ(init(-1, s.get(), 1, p), ZOK_RNG_ERROR_METHOD);
    if (!g.has_leapfrog) {
      EXPECT_EQ(init(ZOK_RNG_METHOD_LEAPFROG, s.get(), 2, p), ZOK_RNG_ERROR_NO_LEAPFROG);
      EXPECT_EQ(__qorLeapfrogStream(s.get(), 0, 2), ZOK_RNG_ERROR_NO_LEAPFROG);
    }
    if (!g.has_skip) {
      EXPECT_EQ(init(ZOK_RNG_METHOD_SKIP, s.get(), 2, p), ZOK_RNG_ERROR_NO_SKIP_AHEAD);
      EXPECT_EQ(__qorSkipAheadStream(s.get(), 3), ZOK_RNG_ERROR_NO_SKIP_AHEAD);
    }
    EXPECT_EQ(draw(s.get(), g, 5), draw(fresh.get(), g, 5));
  }
}

TEST(Seeding, WhReducesSeedsPerComponentAndPicksTheMember) {
  const uint32_t* m = zok::rng::kWhModuli[5];
  Stream s = make(ZOK_RNG_WH + 5, {0, m[1] + 3, m[2]});
  const uint32_t* st = state(s.get());
  EXPECT_EQ(Words(st, st + 4), (Words{1, 3, 1, 1}));
  for (int k = 0; k < 4; ++k) EXPECT_EQ(st[4 + k], zok::rng::kWhMultipliers[5][k]);

  // Current WH + k and legacy 4 + k both follow member k's own reference.
  const Gen wh{"WH", ZOK_RNG_WH, 4, true, true, nullptr};
  for (int member : {0, 1, 100, 272}) {
    Stream current = make(ZOK_RNG_WH + member, {11, 12, 13, 14});
    Stream legacy = make(4 + member, {11, 12, 13, 14});
    WhRef ref(member, {11, 12, 13, 14});
    const Words want = expected(ref, wh, 50);
    EXPECT_EQ(draw(current.get(), wh, 50), want) << member;
    EXPECT_EQ(draw(legacy.get(), wh, 50), want) << member;
  }
}

// A record whose identifier names no WH member (only a caller writing into the header can make one)
// is refused instead of reading past the member table.
TEST(Seeding, WhRefusesAnIdentifierWithoutMember) {
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

// A loaded image can carry any bytes. R250's ring positions are brought into the ring instead of
// indexing past it (the address sanitizer build would see that), and WH components at or above
// their modulus count as their residues.
TEST(Seeding, ForeignStatesStayInsideTheirRecords) {
  const Gen& r250 = generators()[2];
  Stream s = make(ZOK_RNG_R250, {5});
  uint32_t* words = state(s.get());
  words[250] = 1000 + 7;  // i
  words[251] = 0xFFFFFFF0u;
  for (int32_t n : {1, 300}) {
    draw(s.get(), r250, n);
    EXPECT_LT(words[250], 250u);
    EXPECT_LT(words[251], 250u);
  }

  const Gen& wh = generators()[4];
  Stream a = make(ZOK_RNG_WH, {5, 6, 7, 8}), b = make(ZOK_RNG_WH, {5, 6, 7, 8});
  uint32_t* x = state(a.get());
  x[0] += zok::rng::kWhModuli[0][0];
  x[3] += 2 * zok::rng::kWhModuli[0][3];
  EXPECT_EQ(draw(a.get(), wh, 3), draw(b.get(), wh, 3));
  x[1] += zok::rng::kWhModuli[0][1];
  EXPECT_EQ(draw(a.get(), wh, 100), draw(b.get(), wh, 100));
}

// Stream k of N yields elements k, k + N, k + 2N, ... of the undivided sequence. WH keeps the last
// element produced rather than the next one, so its streams begin one round later: stream k yields
// elements N - 1 + k, 2N - 1 + k, ...; together they still cover that sequence once.
TEST(Jumps, LeapfrogStreamsInterleaveTheSequence) {
  for (const Gen& g : generators()) {
    if (!g.has_leapfrog) continue;
    SCOPED_TRACE(g.name);
    const bool keeps_last = g.words == 4;
    const Words seeds = {31337, 4, 5, 6};
    for (int32_t nstreams : {1, 3, 7}) {
      for (int32_t n : {1, 5, 17, 100, 2000}) {
        auto ref = g.reference(seeds);
        const Words all = expected(*ref, g, static_cast<int64_t>(n + 1) * nstreams);
        const size_t start = keeps_last ? nstreams - 1 : 0;
        for (int32_t k = 0; k < nstreams; ++k) {
          Stream s = make(g.brng, seeds);
          ASSERT_EQ(__qorLeapfrogStream(s.get(), k, nstreams), 0);
          const Words got = draw(s.get(), g, n);
          for (int32_t i = 0; i < n; ++i)
            for (int w = 0; w < g.words; ++w)
              ASSERT_EQ(got[i * g.words + w],
                        all[(start + static_cast<size_t>(i) * nstreams + k) * g.words + w])
                  << "stream " << k << " of " << nstreams << ", element " << i;
        }
      }
    }
  }
}

TEST(Jumps, SkipAheadEqualsDiscarding) {
  for_each_isa([] {
    for (const Gen& g : generators()) {
      SCOPED_TRACE(g.name);
      const Words seeds = {271828, 1, 2, 3, 4, 5};
      if (!g.has_skip) continue;
      auto ref = g.reference(seeds);
      const int64_t longest = 70000 + 1100;
      const Words all = expected(*ref, g, longest);
      for (uint64_t skip : {0ull, 1ull, 2ull, 7ull, 8ull, 9ull, 15ull, 16ull, 17ull, 250ull, 1023ull, 1024ull,
                            1025ull, 4096ull + 3, 70000ull}) {
        for (int32_t n : {1, 9, 1100}) {
          Stream s = make(g.brng, seeds);
          ASSERT_EQ(__qorSkipAheadStream(s.get(), skip), 0);
          const Words got = draw(s.get(), g, n);
          const Words want(all.begin() + skip * g.words, all.begin() + (skip + n) * g.words);
          ASSERT_TRUE(same_words(got, want, g.words)) << "skip " << skip << ", n " << n;
        }
      }
      // Skips add up, far beyond what can be discarded, and a skip after drawing counts from there.
      Stream one = make(g.brng, seeds), two = make(g.brng, seeds);
      ASSERT_EQ(__qorSkipAheadStream(one.get(), (1ull << 40) + 12345), 0);
      ASSERT_EQ(__qorSkipAheadStream(two.get(), 1ull << 40), 0);
      draw(two.get(), g, 12000);
      ASSERT_EQ(__qorSkipAheadStream(two.get(), 345), 0);
      EXPECT_EQ(draw(one.get(), g, 100), draw(two.get(), g, 100));
    }
  });
}

// A full period of MCG31M1 (2^31 - 2 elements) or of MCG59's odd states (2^57) returns to the start.
TEST(Jumps, SkippingAWholePeriodChangesNothing) {
  const Gen& mcg31 = generators()[0];
  const Gen& mcg59 = generators()[1];
  Stream a = make(ZOK_RNG_MCG31M1, {777}), b = make(ZOK_RNG_MCG31M1, {777});
  ASSERT_EQ(__qorSkipAheadStream(a.get(), 2147483646ull), 0);
  EXPECT_EQ(draw(a.get(), mcg31, 20), draw(b.get(), mcg31, 20));
  a = make(ZOK_RNG_MCG59, {777, 3});
  b = make(ZOK_RNG_MCG59, {777, 3});
  ASSERT_EQ(__qorSkipAheadStream(a.get(), 1ull << 57), 0);
  EXPECT_EQ(draw(a.get(), mcg59, 20), draw(b.get(), mcg59, 20));
}

uint64_t slow_pow(uint64_t a, uint64_t n, unsigned __int128 m) {
  unsigned __int128 r = 1 % m;
  for (uint64_t i = 0; i < n; ++i) r = r * a % m;
  return static_cast<uint64_t>(r);
}

TEST(ModularPowers, AgreeWithRepeatedMultiplication) {
  std::vector<uint64_t> exponents;
  for (uint64_t n = 0; n <= 40; ++n) exponents.push_back(n);
  for (uint64_t n : {63, 64, 65, 127, 128, 129, 255, 256, 257}) exponents.push_back(n);
  for (uint64_t n : exponents) {
    for (uint32_t a : {0u, 1u, 2u, 69069u, 1132489760u, 2147483646u}) {
      EXPECT_EQ(__qoriPowMod2P31M1(a, n), slow_pow(a, n, kM31)) << a << "^" << n;
      for (uint32_t m : {2u, 3u, 16770647u, 4294967087u, 4294967295u})
        ASSERT_EQ(__qoriPowMod(a, n, m), n == 0 ? 1u : slow_pow(a, n, m)) << a << "^" << n << " mod " << m;
    }
    for (uint64_t a : {uint64_t{1}, uint64_t{3}, kA59, uint64_t{0x7FFFFFFFFFFFFFF}, ~uint64_t{0}})
      ASSERT_EQ(__qoriPowMod2P59(a, n), slow_pow(a, n, kM59)) << a << "^" << n;
  }
  // Large exponents through Fermat (m prime) and the order 2^57 of odd numbers mod 2^59.
  const uint64_t big = (1ull << 62) + 123456789;
  EXPECT_EQ(__qoriPowMod2P31M1(kA31, big), slow_pow(kA31, big % (kM31 - 1), kM31));
  EXPECT_EQ(__qoriPowMod(127, big, 16770647), slow_pow(127, big % 16770646, 16770647));
  EXPECT_EQ(__qoriPowMod2P59(kA59, big), slow_pow(kA59, big % (1ull << 57), kM59));
  // A multiplier just below 2^32 is reduced before use.
  EXPECT_EQ(__qoriPowMod2P31M1(0xFFFFFFFFu, 3), 1u);
  EXPECT_EQ(__qoriPowMod(5, 3, 0), 0u);
}

// v advanced n steps of x_new = c0·newest + c1·middle + c2·oldest, one step at a time.
void slow_vect3(uint32_t* v, const uint32_t* c, uint64_t m, uint64_t n) {
  for (uint64_t i = 0; i < n; ++i) {
    const uint64_t next =
        (uint64_t{c[0]} * v[2] % m + uint64_t{c[1]} * v[1] % m + uint64_t{c[2]} * v[0] % m) % m;
    v[0] = v[1];
    v[1] = v[2];
    v[2] = static_cast<uint32_t>(next);
  }
}

TEST(ModularPowers, Vect3PowModStepsTheRecurrence) {
  const uint32_t cx[3] = {0, 1403580, 4294967087u - 810728};
  const uint32_t cy[3] = {527612, 0, 4294944443u - 1370589};
  const uint32_t cs[3] = {2, 3, 4};
  for (uint64_t n : {0ull, 1ull, 2ull, 3ull, 4ull, 5ull, 63ull, 64ull, 1000ull}) {
    for (const auto& [c, m] : {std::pair{cx, 4294967087u}, std::pair{cy, 4294944443u}, std::pair{cs, 101u}}) {
      uint32_t v[3] = {12345 % m, 4000000000u % m, 77};
      uint32_t w[3] = {v[0], v[1], v[2]};
      __qoriVect3PowMod(v, c, m, n);
      slow_vect3(w, c, m, n);
      EXPECT_EQ(Words(v, v + 3), Words(w, w + 3)) << "n " << n << " m " << m;
    }
  }
  uint32_t v[3] = {1, 2, 3};
  __qoriVect3PowMod(v, cs, 0, 5);
  EXPECT_EQ(Words(v, v + 3), (Words{1, 2, 3}));
}

TEST(WhRounding, CallersControlWordIsRestoredAndDoesNotChangeResults) {
  const Gen& g = generators()[4];
  Stream s = make(ZOK_RNG_WH, {1, 2, 3, 4});
  const std::vector<double> want = draw(s.get(), g, 300, -2.0, 3.0);
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

}  // namespace

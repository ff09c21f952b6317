// MT19937, the MT2203 family and SFMT19937: published known answers drawn in pieces and at once on
// every block path, a plain second implementation of the registers, the continuous forms, and
// skip-ahead against discarding and against a jump computed here from first principles.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "streams/generators/mt2203_members.h"
#include "streams/generators/mt_jump_polys.h"
#include "tests/streams/generator_support.h"
#include "zok/random.h"

namespace {

using zok::test::for_each_isa;
using zok::test::make;
using zok::test::row;
using zok::test::Stream;

using Words = std::vector<uint32_t>;

// n words in one request; the word after them must stay untouched.
Words draw(StreamRecord* s, int32_t n) {
  Words out(static_cast<size_t>(n) + 1, 0xA5A5A5A5u);
  EXPECT_EQ(row(s->brng).generate_i(s, n, out.data()), 0);
  EXPECT_EQ(out.back(), 0xA5A5A5A5u) << "wrote past n";
  out.pop_back();
  return out;
}

// The "key" sections of a known-answer file: the key words and the outputs after them.
std::vector<std::pair<Words, Words>> known_answers(const char* file) {
  std::vector<std::pair<Words, Words>> all;
  std::ifstream in(std::string(ZOK_TEST_DATA_DIR) + "/" + file);
  EXPECT_TRUE(in.good()) << file;
  for (std::string line, w; std::getline(in, line);) {
    std::istringstream words(line);
    if (line.rfind("key", 0) == 0) {
      all.emplace_back();
      for (words >> w; words >> w;)
        all.back().first.push_back(static_cast<uint32_t>(std::stoul(w, nullptr, 16)));
    } else if (!line.empty() && line[0] != '#') {
      all.back().second.push_back(static_cast<uint32_t>(std::stoul(line)));
    }
  }
  return all;
}

// The published outputs, in one request and in pieces that straddle every block boundary.
TEST(Twisters, PublishedOutputsInPiecesAndAtOnce) {
  const struct {
    const char* file;
    int32_t brng;
  } sets[] = {{"mt19937_init_by_array.txt", ZOK_RNG_MT19937}, {"sfmt19937.txt", ZOK_RNG_SFMT19937}};
  for_each_isa([&] {
    for (const auto& set : sets) {
      const auto all = known_answers(set.file);
      ASSERT_FALSE(all.empty());
      for (const auto& [key, want] : all) {
        SCOPED_TRACE(::testing::Message() << set.file << " key " << key[0]);
        Stream s = make(set.brng, key);
        EXPECT_EQ(draw(s.get(), 1000), want);
        s = make(set.brng, key);
        Words pieces;
        for (int32_t k = 0; pieces.size() < want.size(); ++k) {
          const Words part = draw(s.get(), std::min<int32_t>(1 + (k * 37) % 300, 1000 - pieces.size()));
          pieces.insert(pieces.end(), part.begin(), part.end());
        }
        EXPECT_EQ(pieces, want);
      }
    }
  });
}

// ---- a plain second implementation: one word at a time, every index taken modulo the length ----

// An MT-type register: N words, middle distance M, `upper` bits kept from the older word, tempering
// shift u and masks b, c. Seeded by init-by-array as published.
struct RefTwister {
  int n, m;
  uint32_t upper, a, u, b, c;
  Words mt;
  int pos = 0;  // the ring's oldest word

  void seed(Words key) {
    if (key.empty()) key = {1};
    mt.assign(n, 0);
    mt[0] = 19650218u;
    for (int i = 1; i < n; ++i) mt[i] = 1812433253u * (mt[i - 1] ^ (mt[i - 1] >> 30)) + i;
    int i = 1;
    size_t j = 0;
    for (size_t k = std::max<size_t>(n, key.size()); k > 0; --k) {
      mt[i] = (mt[i] ^ ((mt[i - 1] ^ (mt[i - 1] >> 30)) * 1664525u)) + key[j] + static_cast<uint32_t>(j);
      if (++i >= n) mt[0] = mt[n - 1], i = 1;
      if (++j >= key.size()) j = 0;
    }
    for (int k = n - 1; k > 0; --k) {
      mt[i] = (mt[i] ^ ((mt[i - 1] ^ (mt[i - 1] >> 30)) * 1566083941u)) - i;
      if (++i >= n) mt[0] = mt[n - 1], i = 1;
    }
    mt[0] = 0x80000000u;
    pos = 0;
  }
  void step() {
    const uint32_t y = (mt[pos] & upper) | (mt[(pos + 1) % n] & ~upper);
    mt[pos] = mt[(pos + m) % n] ^ (y >> 1) ^ (y & 1 ? a : 0);
    pos = (pos + 1) % n;
  }
  uint32_t next() {
    step();
    uint32_t y = mt[(pos + n - 1) % n];
    y ^= y >> u;
    y ^= (y << 7) & b;
    y ^= (y << 15) & c;
    return y ^ (y >> 18);
  }
  void add(const RefTwister& o) {
    for (int k = 0; k < n; ++k) mt[(pos + k) % n] ^= o.mt[(o.pos + k) % n];
  }
};

// MT19937, or the published MT2203 member of brng.
RefTwister reference(int32_t brng, const Words& key) {
  // The family's published members, whose constants the table must hold.
  static const std::map<int32_t, std::array<uint32_t, 3>> kPublished = {
      {0, {0xAF81055Fu, 0xDD7EEF80u, 0xEFD78000u}},
      {1, {0x832604E1u, 0x66AD7F80u, 0xEBD58000u}},
      {6023, {0xE8761D4Bu, 0x72967680u, 0xEFEB0000u}}};
  const auto abc =
      brng == ZOK_RNG_MT19937 ? std::array<uint32_t, 3>{} : kPublished.at(brng & ZOK_RNG_MEMBER_MASK);
  RefTwister r = brng == ZOK_RNG_MT19937
                     ? RefTwister{624, 397, 0x80000000u, 0x9908B0DFu, 11, 0x9D2C5680u, 0xEFC60000u, {}}
                     : RefTwister{69, 34, 0xFFFFFFE0u, abc[0], 12, abc[1], abc[2], {}};
  r.seed(key);
  return r;
}

// SFMT19937 as a ring of 156 words of four 32-bit lanes.
struct RefSfmt {
  std::vector<std::array<uint32_t, 4>> w;
  int pos = 0;
  int lane = 4;  // lanes of the newest word already delivered

  void step() {
    static constexpr uint32_t kMask[4] = {0xDFFFFFEFu, 0xDDFECB7Fu, 0xBFFAFFFFu, 0xBFFFFFF6u};
    auto wide = [](const std::array<uint32_t, 4>& x) {
      unsigned __int128 v = 0;
      for (int k = 3; k >= 0; --k) v = v << 32 | x[k];
      return v;
    };
    const auto& a = w[pos];
    const auto& b = w[(pos + 122) % 156];
    const auto& c = w[(pos + 154) % 156];
    const auto& d = w[(pos + 155) % 156];
    const unsigned __int128 shifted = (wide(a) << 8) ^ (wide(c) >> 8);
    std::array<uint32_t, 4> r;
    for (int k = 0; k < 4; ++k)
      r[k] = a[k] ^ static_cast<uint32_t>(shifted >> (32 * k)) ^ ((b[k] >> 11) & kMask[k]) ^ (d[k] << 18);
    w[pos] = r;
    pos = (pos + 1) % 156;
  }
  uint32_t next() {
    if (lane == 4) step(), lane = 0;
    return w[(pos + 155) % 156][lane++];
  }
  void add(const RefSfmt& o) {
    for (int k = 0; k < 156; ++k)
      for (int l = 0; l < 4; ++l) w[(pos + k) % 156][l] ^= o.w[(o.pos + k) % 156][l];
  }
};

// The reference SFMT starts from the library's seeded state (its seeding is checked by the
// published outputs).
RefSfmt sfmt_reference(StreamRecord* fresh) {
  RefSfmt r;
  r.w.resize(156);
  std::memcpy(r.w.data(), reinterpret_cast<unsigned char*>(fresh) + 16, 2496);
  return r;
}

template <class Ref>
Words take(Ref& ref, size_t n) {
  Words out(n);
  for (auto& x : out) x = ref.next();
  return out;
}

// Every block path against the plain implementation, request by request from one stream.
TEST(Twisters, EveryPathEqualsThePlainRegister) {
  const Words key = {0x1F2E3D4Cu, 77, 0};
  std::vector<int32_t> lengths = {68, 69, 70, 155, 156, 157, 623, 624, 625, 1000, 1248, 5003, 65536 + 13};
  for (int32_t i = 0; i <= 40; ++i) lengths.push_back(i);
  for_each_isa([&] {
    Stream mt = make(ZOK_RNG_MT19937, key), sf = make(ZOK_RNG_SFMT19937, key);
    RefTwister mt_ref = reference(ZOK_RNG_MT19937, key);
    RefSfmt sf_ref = sfmt_reference(sf.get());
    std::vector<std::pair<Stream, RefTwister>> family;
    for (int member : {0, 1, 6023})
      family.emplace_back(make(ZOK_RNG_MT2203 + member, key), reference(ZOK_RNG_MT2203 + member, key));
    for (int32_t n : lengths) {
      SCOPED_TRACE(n);
      ASSERT_EQ(draw(mt.get(), n), take(mt_ref, n));
      ASSERT_EQ(draw(sf.get(), n), take(sf_ref, n));
      for (auto& [s, ref] : family) ASSERT_EQ(draw(s.get(), n), take(ref, n)) << s->brng;
    }
  });
}

// Reals are the words mapped by the generator's formula: MT19937 x·(b - a)·2^-32 + a with x
// unsigned (in float for the float form), MT2203 and SFMT19937 s·(b - a)·2^-32 + (a + b)/2 with s
// the signed word (in double, rounded once for floats).
TEST(Twisters, ContinuousFormsFollowTheirFormulas) {
  const double a = -1.5, b = 3.25;
  for_each_isa([&] {
    for (int32_t brng : {ZOK_RNG_MT19937, ZOK_RNG_MT2203 + 1, ZOK_RNG_SFMT19937}) {
      for (int32_t n : {1, 3, 70, 700, 2500}) {
        SCOPED_TRACE(::testing::Message() << brng << " n " << n);
        Stream si = make(brng, {5}), sd = make(brng, {5}), sf = make(brng, {5});
        const Words x = draw(si.get(), n);
        std::vector<double> d(n + 1, -9);
        std::vector<float> f(n + 1, -9);
        ASSERT_EQ(row(brng).generate_d(sd.get(), n, d.data(), a, b), 0);
        ASSERT_EQ(row(brng).generate_s(sf.get(), n, f.data(), static_cast<float>(a), static_cast<float>(b)),
                  0);
        EXPECT_EQ(d[n], -9);
        EXPECT_EQ(f[n], -9);
        for (int32_t i = 0; i < n; ++i) {
          const double ds = static_cast<int32_t>(x[i]) * ((b - a) * 0x1p-32) + (a + b) * 0.5;
          if (brng == ZOK_RNG_MT19937) {
            const float fs = static_cast<float>(b) - static_cast<float>(a);
            ASSERT_EQ(d[i], x[i] * ((b - a) * 0x1p-32) + a) << i;
            ASSERT_EQ(f[i], static_cast<float>(x[i]) * (fs * 0x1p-32f) + static_cast<float>(a)) << i;
          } else {
            ASSERT_EQ(d[i], ds) << i;
            ASSERT_EQ(f[i], static_cast<float>(ds)) << i;
          }
        }
      }
    }
  });
}

// ---- skip-ahead ----

// Skipping equals discarding, from a fresh stream and from inside a block, on both sides of the
// hand-over from Horner's rule to the window (20561/20562 words for MT19937, 79872/79877 for SFMT).
TEST(Twisters, SkipEqualsDiscarding) {
  for_each_isa([] {
    for (int32_t brng : {ZOK_RNG_MT19937, ZOK_RNG_SFMT19937}) {
      for (int32_t before : {0, 100, 622, 700}) {
        for (uint64_t skip : {0ull, 1ull, 3ull, 623ull, 624ull, 625ull, 1000ull, 20561ull, 20562ull, 79872ull,
                              79877ull, 1000000ull}) {
          SCOPED_TRACE(::testing::Message() << brng << " after " << before << " skip " << skip);
          Stream jumped = make(brng, {42, 43}), walked = make(brng, {42, 43});
          draw(jumped.get(), before);
          ASSERT_EQ(__qorSkipAheadStream(jumped.get(), skip), 0);
          draw(walked.get(), static_cast<int32_t>(before + skip));
          ASSERT_EQ(draw(jumped.get(), 700), draw(walked.get(), 700));
        }
      }
    }
  });
}

// Polynomials over GF(2) as bit arrays, done the plain way: one bit at a time.
using Poly = std::vector<uint64_t>;
bool coefficient(const Poly& p, int64_t i) {
  return (p[i >> 6] >> (i & 63)) & 1;
}
void flip(Poly& p, int64_t i) {
  p[i >> 6] ^= uint64_t{1} << (i & 63);
}

// r·x^extra squared, then reduced modulo phi from the top bit down.
Poly square_mod(const Poly& r, int extra, const Poly& phi, int64_t degree) {
  Poly sq(r.size() + 2);
  for (int64_t i = 0; i < degree; ++i)
    if (coefficient(r, i)) flip(sq, 2 * i + extra);
  for (int64_t i = 2 * degree; i >= degree; --i) {
    if (!coefficient(sq, i)) continue;
    const int64_t shift = i - degree, q = shift >> 6, b = shift & 63;
    for (size_t k = 0; k < phi.size(); ++k) {
      sq[q + k] ^= phi[k] << b;
      if (b != 0) sq[q + k + 1] ^= phi[k] >> (64 - b);
    }
  }
  sq.resize(r.size());
  return sq;
}

// x^s mod phi by squaring and multiplying, from the top bit of s.
Poly x_power_mod(uint64_t s, const Poly& phi, int64_t degree) {
  Poly r(2 * (degree / 64) + 4);
  flip(r, 0);
  for (int b = 63; b >= 0; --b) r = square_mod(r, (s >> b) & 1, phi, degree);
  return r;
}

Poly polynomial(const int32_t* exponents, int terms) {
  Poly phi(exponents[terms - 1] / 64 + 1);
  for (int t = 0; t < terms; ++t) flip(phi, exponents[t]);
  return phi;
}

// g(T)·v by Horner's rule, one step per coefficient.
template <class Ref>
Ref horner(const Ref& v, const Poly& g, int64_t degree) {
  int64_t top = degree;
  while (top > 0 && !coefficient(g, top)) --top;
  Ref w = v;
  for (int64_t i = top - 1; i >= 0; --i) {
    w.step();
    if (coefficient(g, i)) w.add(v);
  }
  return w;
}

// The characteristic polynomials annihilate the output: the sum of the words (MT19937) or 128-bit
// words (SFMT19937) at offsets t + e, over the polynomial's exponents e, is zero.
TEST(Twisters, JumpPolynomialsAnnihilateTheOutput) {
  using namespace zok::rng;
  Stream mt = make(ZOK_RNG_MT19937, {3}), sf = make(ZOK_RNG_SFMT19937, {3});
  const Words x = draw(mt.get(), kMt19937JumpDegree + 100),
              y = draw(sf.get(), 4 * (kSfmt19937JumpDegree + 20));
  for (int t = 0; t < 100; ++t) {
    uint32_t sum = 0;
    for (int32_t e : kMt19937JumpExponents) sum ^= x[t + e];
    ASSERT_EQ(sum, 0u) << t;
  }
  for (int t = 0; t < 4 * 20; ++t) {
    uint32_t sum = 0;
    for (int32_t e : kSfmt19937JumpExponents) sum ^= y[t + 4 * e];
    ASSERT_EQ(sum, 0u) << t;
  }
}

// Far jumps against x^s mod phi computed and applied here: 2^40 and 2^64 - 1 words.
TEST(Twisters, FarJumpsEqualAPlainJump) {
  using namespace zok::rng;
  const Poly mt_phi = polynomial(kMt19937JumpExponents, kMt19937JumpTerms);
  const Poly sf_phi = polynomial(kSfmt19937JumpExponents, kSfmt19937JumpTerms);
  for (uint64_t s : {1ull << 40, ~0ull}) {
    SCOPED_TRACE(s);
    Stream mt = make(ZOK_RNG_MT19937, {7, 8, 9}), sf = make(ZOK_RNG_SFMT19937, {7, 8, 9});
    RefTwister mt_ref = horner(reference(ZOK_RNG_MT19937, {7, 8, 9}),
                               x_power_mod(s, mt_phi, kMt19937JumpDegree), kMt19937JumpDegree);
    RefSfmt sf_ref = horner(sfmt_reference(sf.get()), x_power_mod(s / 4, sf_phi, kSfmt19937JumpDegree),
                            kSfmt19937JumpDegree);
    take(sf_ref, s % 4);
    ASSERT_EQ(__qorSkipAheadStream(mt.get(), s), 0);
    ASSERT_EQ(__qorSkipAheadStream(sf.get(), s), 0);
    EXPECT_EQ(draw(mt.get(), 1500), take(mt_ref, 1500));
    EXPECT_EQ(draw(sf.get(), 1500), take(sf_ref, 1500));
  }
}

// A state copy continues the source's sequence, SFMT19937's position included.
TEST(Twisters, StateCopiesContinueTheSource) {
  for (int32_t brng : {ZOK_RNG_MT19937, ZOK_RNG_MT2203 + 6023, ZOK_RNG_SFMT19937}) {
    SCOPED_TRACE(brng);
    Stream src = make(brng, {1, 2}), dst = make(brng, {9});
    draw(src.get(), 101);
    ASSERT_EQ(__qorCopyStreamState(dst.get(), src.get()), 0);
    EXPECT_EQ(draw(dst.get(), 1500), draw(src.get(), 1500));
  }
}

// ---- the MT2203 family ----

// The minimal polynomial of the bit sequence, by Berlekamp-Massey.
Poly minimal_polynomial(const std::vector<uint8_t>& bits, int64_t& degree) {
  std::vector<uint8_t> c(bits.size() + 1), b(bits.size() + 1);
  c[0] = b[0] = 1;
  int64_t length = 0, shift = 1;
  for (size_t t = 0; t < bits.size(); ++t) {
    uint8_t d = bits[t];
    for (int64_t i = 1; i <= length; ++i) d ^= c[i] & bits[t - i];
    if (d == 0) {
      ++shift;
      continue;
    }
    const std::vector<uint8_t> previous = c;
    for (size_t i = shift; i < c.size(); ++i) c[i] ^= b[i - shift];
    if (2 * length <= static_cast<int64_t>(t)) {
      length = static_cast<int64_t>(t) + 1 - length;
      b = previous;
      shift = 1;
    } else {
      ++shift;
    }
  }
  degree = length;
  Poly phi(length / 64 + 1);
  for (int64_t e = 0; e <= length; ++e)
    if (c[length - e]) flip(phi, e);
  return phi;
}

// Squaring modulo phi of degree 2203 a byte at a time: table[b] = b(x)·x^2203 mod phi, and the
// product's bits above the degree are folded in from the top, eight at a time.
class ByteSquarer {
 public:
  static constexpr int kDegree = 2203, kWords = kDegree / 64 + 1;
  explicit ByteSquarer(const Poly& phi) : table_(256, Poly(kWords + 1)) {
    Poly power(kWords + 1);  // x^(2203 + i) mod phi
    for (int e = 0; e < kDegree; ++e)
      if (coefficient(phi, e)) flip(power, e);
    for (int i = 0; i < 8; ++i) {
      for (int b = 0; b < (1 << i); ++b)
        for (int k = 0; k <= kWords; ++k) table_[b + (1 << i)][k] = table_[b][k] ^ power[k];
      const bool top = coefficient(power, kDegree - 1);
      for (int k = kWords; k > 0; --k) power[k] = (power[k] << 1) | (power[k - 1] >> 63);
      power[0] <<= 1;
      if (top) {
        flip(power, kDegree);
        for (int e = 0; e < kDegree; ++e)
          if (coefficient(phi, e)) flip(power, e);
      }
    }
  }
  Poly square(const Poly& r) const {
    static const std::array<uint16_t, 256> spread = [] {
      std::array<uint16_t, 256> t{};
      for (int b = 0; b < 256; ++b)
        for (int i = 0; i < 8; ++i) t[b] |= ((b >> i) & 1) << (2 * i);
      return t;
    }();
    Poly sq(2 * kWords + 2);
    for (int k = 0; k < 4 * kWords; ++k)
      sq[k / 2] |= static_cast<uint64_t>(spread[(r[k / 4] >> (16 * (k % 4))) & 0xFF] |
                                         spread[(r[k / 4] >> (16 * (k % 4) + 8)) & 0xFF] << 16)
                   << (32 * (k % 2));
    for (int64_t low = 2 * kDegree - 2 - 7 - kDegree; low > -8; low -= 8) {
      const int64_t at = std::max<int64_t>(low, 0) + kDegree, w = at >> 6, s = at & 63;
      uint32_t byte = static_cast<uint32_t>((sq[w] >> s) | (s != 0 ? sq[w + 1] << (64 - s) : 0)) & 0xFF;
      if (low < 0) byte &= 0xFFu >> -low;  // the last, partial byte
      const int64_t q = std::max<int64_t>(low, 0) >> 6, b = std::max<int64_t>(low, 0) & 63;
      uint64_t carry = 0;
      for (int k = 0; k <= kWords; ++k) {
        sq[q + k] ^= (table_[byte][k] << b) | carry;
        carry = b != 0 ? table_[byte][k] >> (64 - b) : 0;
      }
      sq[q + kWords + 1] ^= carry;
    }
    sq.resize(kWords);
    sq[kWords - 1] &= (uint64_t{1} << (kDegree & 63)) - 1;
    return sq;
  }

 private:
  std::vector<Poly> table_;
};

// Every member the table holds has period 2^2203 - 1: the minimal polynomial of its output has
// degree 2203 and x^(2^2203) = x modulo it (2203 is prime, so that means irreducible, and 2^2203 - 1
// is prime, so irreducible means primitive). Twist constants differ between members.
bool full_period(int member) {
  Stream s = make(ZOK_RNG_MT2203 + member, {member + 1u});
  const Words out = draw(s.get(), 2 * 2203);
  std::vector<uint8_t> bits(out.size());
  for (size_t t = 0; t < out.size(); ++t) bits[t] = out[t] & 1;
  int64_t degree = 0;
  const Poly phi = minimal_polynomial(bits, degree);
  if (degree != 2203) return false;
  const ByteSquarer mod(phi);
  Poly x(ByteSquarer::kWords), want(x.size());
  flip(x, 1);
  flip(want, 1);
  for (int k = 0; k < 2203; ++k) x = mod.square(x);
  return x == want;
}

TEST(Mt2203, EveryListedMemberHasTheFullPeriod) {
  std::vector<int> listed, failed;
  std::vector<uint32_t> twists;
  for (int member = 0; member < zok::rng::kMt2203MemberCount; ++member)
    if (zok::rng::kMt2203Members[member][0] != 0) {
      listed.push_back(member);
      twists.push_back(zok::rng::kMt2203Members[member][0]);
    }
  std::atomic<size_t> next{0};
  std::mutex lock;
  auto prove = [&] {
    for (size_t i; (i = next++) < listed.size();) {
      if (full_period(listed[i])) continue;
      const std::lock_guard<std::mutex> hold(lock);
      failed.push_back(listed[i]);
    }
  };
  std::thread helper(prove);
  prove();
  helper.join();
  EXPECT_TRUE(failed.empty()) << "first member without the full period: " << failed[0];
  EXPECT_GE(listed.size(), 3u);
  std::sort(twists.begin(), twists.end());
  EXPECT_EQ(std::adjacent_find(twists.begin(), twists.end()), twists.end());
}

// Every member has its constants (the period test above proves each listed one and that their twist
// constants differ); an identifier past the family is refused and nothing is made.
TEST(Mt2203, EveryMemberIsBuiltAndThoseBeyondAreRefused) {
  for (int32_t m = 0; m < zok::rng::kMt2203MemberCount; ++m)
    ASSERT_NE(zok::rng::kMt2203Members[m][0], 0u) << m;
  StreamRecord* s = nullptr;
  const uint32_t seed = 1;
  EXPECT_EQ(__qorNewStreamEx(&s, ZOK_RNG_MT2203 + zok::rng::kMt2203MemberCount, 1, &seed),
            ZOK_RNG_ERROR_BAD_BRNG);
  EXPECT_EQ(s, nullptr);
}

}  // namespace

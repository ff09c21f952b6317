// SOBOL and NIEDERR: the published listings, the net property of every coordinate, and every path
// (forms, split requests, skips, leapfrog, threads, user tables) against points built from the Gray
// code; seed layouts, fallbacks and refusals.
#include "streams/generators/quasi.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "streams/generators/niederr_table.h"
#include "tests/streams/generator_support.h"
#include "zok/random.h"

namespace {

using zok::test::for_each_isa;
using zok::test::make;
using zok::test::row;
using zok::test::Stream;
using Words = std::vector<uint32_t>;

struct Fields {
  uint32_t counter;
  int32_t dim, coord, pos;
};
Fields& fields(StreamRecord* s) {
  return *reinterpret_cast<Fields*>(reinterpret_cast<unsigned char*>(s) + 16);
}

// n elements of the form T (integers for uint32_t); the element past them must stay untouched.
template <typename T = uint32_t>
std::vector<T> draw(StreamRecord* s, int32_t n, double a = 0, double b = 1) {
  std::vector<T> out(n + 1, T(77));
  const GeneratorProperties p = row(s->brng);
  if constexpr (std::is_same_v<T, double>)
    EXPECT_EQ(p.generate_d(s, n, out.data(), a, b), 0);
  else if constexpr (std::is_same_v<T, float>)
    EXPECT_EQ(p.generate_s(s, n, out.data(), float(a), float(b)), 0);
  else
    EXPECT_EQ(p.generate_i(s, n, out.data()), 0);
  EXPECT_EQ(out.back(), T(77)) << "wrote past n elements";
  out.pop_back();
  return out;
}

// The points of a table (dimension j's 32 numbers at cols[32j]) straight from the definition:
// coordinate j of point i is the XOR of the numbers of the set bits of i ^ (i >> 1).
struct Gray {
  Words cols;
  int32_t d;
  uint32_t at(uint64_t i, int32_t j) const {
    uint32_t x = 0;
    for (uint64_t g = i ^ (i >> 1), b = 0; g != 0; g >>= 1, ++b)
      if (g & 1) x ^= cols[32 * j + b];
    return x;
  }
  // Elements first .. first+n-1 of the point sequence that starts at point 1.
  Words elements(uint64_t first, int64_t n) const {
    Words w;
    for (uint64_t e = first; e < first + n; ++e) w.push_back(at(1 + e / d, static_cast<int32_t>(e % d)));
    return w;
  }
};

Gray niederr_table(int32_t d) {
  return {Words(&zok::rng::kNiederrDirections[0][0], &zok::rng::kNiederrDirections[0][0] + 32 * d), d};
}
Gray random_table(int32_t d, uint32_t seed) {
  std::mt19937 gen(seed);
  Words cols(32 * d);
  for (auto& w : cols) w = gen();
  return {cols, d};
}
Words cat(std::initializer_list<Words> parts) {
  Words all;
  for (const Words& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}
// A stream of the caller's whole table (kind 4).
Stream with_table(int32_t brng, const Gray& g) {
  return make(brng, cat({{static_cast<uint32_t>(g.d), 1, 4}, g.cols}));
}
// The built-in SOBOL numbers as the stream gives them: point 2^b differs from point 2^b - 1 (the
// zero point for b = 0) by those of bit b.
Gray sobol_builtin(int32_t d) {
  Gray g{Words(32 * d), d};
  for (uint64_t b = 0, i = 1; b < 32; ++b, i <<= 1) {
    Stream s = make(ZOK_RNG_SOBOL, {static_cast<uint32_t>(d)});
    EXPECT_EQ(__qorSkipAheadStream(s.get(), (i - 1 - (b > 0)) * d), 0);
    const Words w = cat({Words(b > 0 ? 0 : d), draw(s.get(), b > 0 ? 2 * d : d)});
    for (int32_t j = 0; j < d; ++j) g.cols[32 * j + b] = w[j] ^ w[d + j];
  }
  return g;
}

std::vector<std::vector<double>> listing(const std::string& name) {
  std::ifstream in(std::string(ZOK_TEST_DATA_DIR) + "/" + name);
  EXPECT_TRUE(in.good()) << name;
  std::vector<std::vector<double>> points;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    points.emplace_back();
    for (double v; fields >> v;) points.back().push_back(v);
  }
  return points;
}

// Our doubles on [0, 1) equal the published points exactly: the 40-dimension SOBOL listing starts at
// point 1, the 12-dimension NIEDERR listing at the zero point.
TEST(Quasi, PublishedListings) {
  const auto sobol = listing("sobol_bratley_fox.txt");
  ASSERT_EQ(sobol.size(), 1024u);
  Stream s = make(ZOK_RNG_SOBOL, {40});
  const std::vector<double> got = draw<double>(s.get(), 40 * 1024);
  for (size_t i = 0; i < sobol.size(); ++i)
    ASSERT_EQ(std::vector<double>(got.begin() + 40 * i, got.begin() + 40 * (i + 1)), sobol[i])
        << "point " << i + 1;
  const auto nied = listing("niederreiter2_12dims.txt");
  ASSERT_EQ(nied.size(), 1024u);
  Stream n = make(ZOK_RNG_NIEDERR, {12});
  const std::vector<double> mine = draw<double>(n.get(), 12 * 1023);
  for (size_t i = 1; i < nied.size(); ++i)
    ASSERT_EQ(std::vector<double>(mine.begin() + 12 * (i - 1), mine.begin() + 12 * i), nied[i])
        << "point " << i;
}

// The first 2^m points of each coordinate, zero point included, m <= 16: every interval
// [k 2^(t-m), (k+1) 2^(t-m)) holds 2^t of them, t = 0 for SOBOL and degree - 1 for NIEDERR.
TEST(Quasi, EveryCoordinateIsANet) {
  for (const auto& [brng, dims] : {std::pair{ZOK_RNG_SOBOL, 40}, std::pair{ZOK_RNG_NIEDERR, 318}}) {
    for (int32_t j = 0; j < dims; ++j) {
      const int t = brng == ZOK_RNG_SOBOL ? 0 : 31 - __builtin_clz(zok::rng::kNiederrPolynomials[j]) - 1;
      Stream s = make(brng, {static_cast<uint32_t>(dims)});
      ASSERT_EQ(__qorLeapfrogStream(s.get(), j, 0x7FFFFFFF), 0);
      Words x = draw(s.get(), (1 << 16) - 1);
      x.insert(x.begin(), 0);
      for (int m = t + 1; m <= 16; ++m) {
        std::vector<int> count(1 << (m - t));
        for (int i = 0; i < (1 << m); ++i) ++count[x[i] >> (32 - (m - t))];
        for (int c : count) ASSERT_EQ(c, 1 << t) << brng << " dimension " << j + 1 << " m " << m;
      }
    }
  }
}

// Each construction agrees with the generated table on all 318 dimensions, and a stream of the
// built-in polynomials (kind 1) or of the table itself (kind 4) gives the built-in sequence.
TEST(Quasi, NiederrConstructionMatchesTheTable) {
  for (int32_t j = 0; j < zok::rng::kNiederrDims; ++j) {
    uint32_t v[32];
    zok::rng::niederr_directions(zok::rng::kNiederrPolynomials[j], v);
    ASSERT_EQ(Words(v, v + 32), Words(zok::rng::kNiederrDirections[j], zok::rng::kNiederrDirections[j] + 32))
        << "dimension " << j + 1;
  }
  Stream built = make(ZOK_RNG_NIEDERR, {318}),
         from_polys = make(
             ZOK_RNG_NIEDERR,
             cat({{318, 1, 1}, Words(zok::rng::kNiederrPolynomials, zok::rng::kNiederrPolynomials + 318)}));
  Stream from_table = with_table(ZOK_RNG_NIEDERR, niederr_table(318));
  const Words want = draw(built.get(), 318 * 300);
  EXPECT_EQ(draw(from_polys.get(), 318 * 300), want);
  EXPECT_EQ(draw(from_table.get(), 318 * 300), want);
}

// SOBOL's kinds fed the built-in data give the built-in sequence: polynomials and initial values
// (kinds 2, 3, 11, with longer rows than the degrees need), the whole table (kind 4); kind 1 equals
// kind 3 with all initial values 1.
TEST(Quasi, SobolKindsFedTheBuiltInData) {
  const int32_t d = 40;
  const Gray table = sobol_builtin(d);
  const Words want = table.elements(0, d * 200);
  // Polynomials and initial values of dimensions 2..40 read back from the table: m_k = v_k >> (32-k).
  Words polys, values;
  const uint32_t known[] = {3,   7,   11,  13,  19,  25,  37,  59,  47,  61,  55,  41,  67,
                            97,  91,  109, 103, 115, 131, 193, 137, 145, 143, 241, 157, 185,
                            167, 229, 171, 213, 191, 253, 203, 211, 239, 247, 285, 369, 299};
  for (int32_t j = 1; j < d; ++j) {
    polys.push_back(known[j - 1]);
    for (int k = 0; k < 9; ++k) values.push_back(table.cols[32 * j + k] >> (31 - k));
  }
  for (const Words& seeds : {cat({{d, 1, 2, 9}, values}), cat({{d, 1, 3}, polys, {9}, values}),
                             cat({{d, 1, 11, 1}, polys, {9}, Words(9, 1), values})}) {
    Stream s = make(ZOK_RNG_SOBOL, seeds);
    EXPECT_EQ(draw(s.get(), d * 200), want) << "kind " << seeds[2];
  }
  Stream whole = with_table(ZOK_RNG_SOBOL, table);
  EXPECT_EQ(draw(whole.get(), d * 200), want);
  Stream a = make(ZOK_RNG_SOBOL, cat({{d, 1, 1}, polys})),
         b = make(ZOK_RNG_SOBOL, cat({{d, 1, 3}, polys, {8}, Words(8 * (d - 1), 1)}));
  const Words w = draw(a.get(), d * 300);
  EXPECT_EQ(w, draw(b.get(), d * 300));
  EXPECT_NE(w, want);
}

// Every path against the definition: the three forms in requests split at random lengths, on
// every block width; skips across and from inside points; each coordinate after leapfrog.
TEST(Quasi, EveryPathFollowsTheGrayCode) {
  struct Case {
    const char* what;
    int32_t brng;
    Gray table;
    bool builtin;
  };
  const Case cases[] = {{"sobol 1", ZOK_RNG_SOBOL, sobol_builtin(1), true},
                        {"sobol 3", ZOK_RNG_SOBOL, sobol_builtin(3), true},
                        {"sobol 40", ZOK_RNG_SOBOL, sobol_builtin(40), true},
                        {"sobol table 64", ZOK_RNG_SOBOL, random_table(64, 1), false},
                        {"sobol table 5", ZOK_RNG_SOBOL, random_table(5, 2), false},
                        {"niederr 12", ZOK_RNG_NIEDERR, niederr_table(12), true},
                        {"niederr 318", ZOK_RNG_NIEDERR, niederr_table(318), true},
                        {"niederr table 33", ZOK_RNG_NIEDERR, random_table(33, 3), false}};
  std::mt19937 gen(5);
  for_each_isa([&] {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      const int32_t d = c.table.d;
      auto fresh = [&] {
        return c.builtin ? make(c.brng, {static_cast<uint32_t>(d)}) : with_table(c.brng, c.table);
      };
      const int64_t total = std::max<int64_t>(8000, 40 * d);
      const Words want = c.table.elements(0, total);
      Stream whole = fresh();
      draw(whole.get(), 2 * d + 1);
      ASSERT_EQ(draw(whole.get(), static_cast<int32_t>(total - 2 * d - 1)),
                Words(want.begin() + 2 * d + 1, want.end()));
      std::vector<double> doubles;
      std::vector<float> floats;
      for (uint32_t x : want) {
        doubles.push_back(-2 + 5 * std::ldexp(double(x >> 1), -31));
        floats.push_back(static_cast<float>(1 - 0.5 * std::ldexp(double(x >> 1), -31)));
      }
      Stream forms[3] = {fresh(), fresh(), fresh()};
      for (int64_t e = 0, n = 0; e < total; e += n) {
        n = std::min<int64_t>(total - e, gen() % (3 * d + 40));
        const auto m = static_cast<int32_t>(n);
        ASSERT_EQ(draw(forms[0].get(), m), Words(want.begin() + e, want.begin() + e + n));
        ASSERT_EQ(draw<double>(forms[1].get(), m, -2, 3),
                  std::vector(doubles.begin() + e, doubles.begin() + e + n));
        ASSERT_EQ(draw<float>(forms[2].get(), m, 1, 0.5),
                  std::vector(floats.begin() + e, floats.begin() + e + n));
      }
      for (int64_t drawn : {int64_t{0}, int64_t{1}, int64_t{d}, int64_t{d + d / 2}}) {
        for (uint64_t skip : {uint64_t{0}, uint64_t{1}, uint64_t(d - 1), uint64_t(d), uint64_t(7 * d + 3),
                              uint64_t{1000003}}) {
          Stream s = fresh();
          draw(s.get(), static_cast<int32_t>(drawn));
          ASSERT_EQ(__qorSkipAheadStream(s.get(), skip), 0);
          ASSERT_EQ(draw(s.get(), 2 * d + 5), c.table.elements(drawn + skip, 2 * d + 5))
              << drawn << " " << skip;
        }
      }
      for (int32_t k : {0, d / 2, d - 1}) {
        Stream s = fresh();
        draw(s.get(), d + 1);  // point 2 begun: coordinate k starts at point 3
        ASSERT_EQ(__qorLeapfrogStream(s.get(), k, 0x7FFFFFFF), 0);
        ASSERT_EQ(__qorSkipAheadStream(s.get(), 5), 0);
        const Words got = draw(s.get(), 1000);
        for (int i = 0; i < 1000; ++i)
          ASSERT_EQ(got[i], c.table.at(8 + i, k)) << "coordinate " << k << " point " << 8 + i;
      }
    }
  });
}

// Long requests over 64 or more dimensions go to threads by 32-dimension slices when more than one
// is allowed; the output and the state equal the one-thread run's.
TEST(Quasi, ThreadsGiveTheOneThreadResult) {
  const Gray table = random_table(96, 6);
  for (const auto& [brng, d] :
       {std::pair{ZOK_RNG_NIEDERR, 318}, std::pair{ZOK_RNG_NIEDERR, 64}, std::pair{ZOK_RNG_SOBOL, 96}}) {
    auto fresh = [&, brng = brng, d = d] {
      return brng == ZOK_RNG_SOBOL ? with_table(brng, table) : make(brng, {uint32_t(d)});
    };
    Stream one = fresh(), many = fresh();
    EXPECT_EQ(draw(one.get(), d / 2 + 3), draw(many.get(), d / 2 + 3));
    setenv("ZOK_NUM_THREADS", "1", 1);
    const std::vector<double> a = draw<double>(one.get(), d * 2000 + 17);
    unsetenv("ZOK_NUM_THREADS");
    EXPECT_EQ(a, draw<double>(many.get(), d * 2000 + 17));
    EXPECT_EQ(std::memcmp(one.get() + 1, many.get() + 1, brng == ZOK_RNG_SOBOL ? 16 : 16 + 4 * 33 * d), 0);
    if (brng == ZOK_RNG_SOBOL) {
      EXPECT_EQ(std::memcmp(__qorSearchChunk(one.get(), 13), __qorSearchChunk(many.get(), 13), 4 * d), 0);
    }
  }
}

// Copies of a stream of the caller's table share its block; copies continue the sequence.
TEST(Quasi, CopiesShareTheCallersTable) {
  const Gray table = random_table(50, 9);
  Stream s = with_table(ZOK_RNG_SOBOL, table);
  draw(s.get(), 77);
  StreamRecord* copy = nullptr;
  ASSERT_EQ(__qorCopyStream(&copy, s.get()), 0);
  Stream held(copy);
  EXPECT_EQ(__qorSearchChunk(copy, 9), __qorSearchChunk(s.get(), 9));
  const Words want = table.elements(77, 500);
  EXPECT_EQ(draw(copy, 500), want);
  EXPECT_EQ(draw(s.get(), 500), want);
}

// Seeds that do not make a table of their kind fall back to dimension 1 (or word 0's dimension
// when it is in range); malformed polynomials and short initial values are refused.
TEST(Quasi, FallbacksAndRefusals) {
  // Seeds and the dimension they give: no seeds, word 0 of 0 or 41 (319), one polynomial, one table
  // word or row short, huge dimensions and row lengths, NIEDERR kinds it does not take.
  constexpr int32_t S = ZOK_RNG_SOBOL, N = ZOK_RNG_NIEDERR;
  const std::tuple<int32_t, Words, int32_t> fallbacks[] = {{S, {}, 1},
                                                           {S, {0, 1, 4}, 1},
                                                           {S, {41}, 1},
                                                           {S, {7, 1, 1, 3, 3, 3, 3, 3}, 7},
                                                           {S, {2, 1, 4, 1, 2}, 2},
                                                           {S, {3, 1, 2, 0xFFFFFFFF, 1}, 3},
                                                           {S, {0xFFFFFFFF, 1, 11, 1, 1}, 1},
                                                           {S, {3, 1, 3, 3, 7, 0xFFFFFFF0, 1, 1}, 3},
                                                           {N, {319}, 1},
                                                           {N, {319, 1, 1}, 1},
                                                           {N, {2, 1, 2, 1, 1}, 2},
                                                           {N, {3, 1, 1, 2, 3}, 3}};
  for (const auto& [brng, seeds, dim] : fallbacks) {
    Stream s = make(brng, seeds), plain = make(brng, Words{static_cast<uint32_t>(dim)});
    EXPECT_EQ(fields(s.get()).dim, dim) << seeds.size();
    EXPECT_EQ(__qorGetNumChunks(s.get()), 0);
    EXPECT_EQ(draw(s.get(), 100), draw(plain.get(), 100));
  }
  // A polynomial of degree 9, 0 or none (NIEDERR: degree 0 or none); fewer initial values than the
  // degree in kinds 2, 3 and 11.
  const std::pair<int32_t, Words> refused[] = {
      {ZOK_RNG_SOBOL, {3, 1, 1, 7, 0x200}},       {ZOK_RNG_SOBOL, {3, 1, 1, 7, 0}},
      {ZOK_RNG_SOBOL, {3, 1, 2, 1, 1, 1}},        {ZOK_RNG_SOBOL, {2, 1, 3, 11, 2, 1, 1}},
      {ZOK_RNG_SOBOL, {2, 1, 11, 1, 7, 1, 1, 1}}, {ZOK_RNG_NIEDERR, {2, 1, 1, 3, 1}},
      {ZOK_RNG_NIEDERR, {2, 1, 1, 0, 3}}};
  for (const auto& [brng, seeds] : refused) {
    StreamRecord* s = nullptr;
    EXPECT_EQ(__qorNewStreamEx(&s, brng, static_cast<int32_t>(seeds.size()), seeds.data()), -3) << seeds[2];
    __qorDeleteStream(&s);
  }
  // Legacy identifiers 277 and 278 reach the same generators; leapfrog only to one coordinate.
  Stream legacy_sobol = make(277, {7}), sobol7 = make(ZOK_RNG_SOBOL, {7});
  EXPECT_EQ(draw(legacy_sobol.get(), 700), draw(sobol7.get(), 700));
  Stream legacy_niederr = make(278, {9}), niederr9 = make(ZOK_RNG_NIEDERR, {9});
  EXPECT_EQ(draw(legacy_niederr.get(), 900), draw(niederr9.get(), 900));
  for (const auto& [k, nstreams] : {std::pair{0u, 2}, std::pair{7u, 0x7FFFFFFF}, std::pair{~0u, 0x7FFFFFFF}})
    EXPECT_EQ(row(S).init_stream(ZOK_RNG_METHOD_LEAPFROG, sobol7.get(), nstreams, &k),
              ZOK_RNG_ERROR_NO_LEAPFROG);
}

// Fields that do not fit the stream's tables (a foreign image can carry any) are refused by the
// loaders' check and by every operation, which then write nothing.
TEST(Quasi, ForeignFieldsAreRefused) {
  const std::pair<int32_t, Fields> cases[] = {
      {ZOK_RNG_SOBOL, {1, 41, -1, 0}},  {ZOK_RNG_SOBOL, {1, 0, -1, 0}},    {ZOK_RNG_SOBOL, {0, 40, -1, 0}},
      {ZOK_RNG_SOBOL, {1, 40, 40, 0}},  {ZOK_RNG_SOBOL, {1, 40, -2, 0}},   {ZOK_RNG_SOBOL, {1, 40, -1, 40}},
      {ZOK_RNG_SOBOL, {1, 40, -1, -1}}, {ZOK_RNG_NIEDERR, {1, 319, -1, 0}}};
  for (const auto& [brng, f] : cases) {
    SCOPED_TRACE(::testing::Message() << f.counter << " " << f.dim << " " << f.coord << " " << f.pos);
    Stream s = make(brng, {static_cast<uint32_t>(brng == ZOK_RNG_SOBOL ? 40 : 318)});
    EXPECT_TRUE(zok::rng::quasi::state_fits(s.get()));
    fields(s.get()) = f;
    EXPECT_FALSE(zok::rng::quasi::state_fits(s.get()));
    Words out(5, 9);
    EXPECT_EQ(row(brng).generate_i(s.get(), 5, out.data()), ZOK_RNG_ERROR_BAD_ARGUMENT);
    EXPECT_EQ(out, Words(5, 9));
    EXPECT_EQ(__qorSkipAheadStream(s.get(), 3), ZOK_RNG_ERROR_BAD_ARGUMENT);
  }
  // A caller's table shorter than the dimension says.
  Stream s = with_table(ZOK_RNG_SOBOL, random_table(50, 4));
  fields(s.get()).dim = 51;
  EXPECT_FALSE(zok::rng::quasi::state_fits(s.get()));
}

// The last point is 2^32 - 2: a request or skip past it is refused and changes nothing (the next
// elements are still the ones due).
TEST(Quasi, EndOfTheSequence) {
  for (int32_t brng : {ZOK_RNG_SOBOL, ZOK_RNG_NIEDERR}) {
    Stream s = make(brng, {1});
    ASSERT_EQ(__qorSkipAheadStream(s.get(), (uint64_t{1} << 32) - 16), 0);
    Words out(15, 5);
    EXPECT_EQ(row(brng).generate_i(s.get(), 15, out.data()), ZOK_RNG_ERROR_COUNTER_LIMIT);
    EXPECT_EQ(out, Words(15, 5));
    EXPECT_EQ(__qorSkipAheadStream(s.get(), 15), ZOK_RNG_ERROR_COUNTER_LIMIT);
    const Gray g = brng == ZOK_RNG_NIEDERR ? niederr_table(1) : sobol_builtin(1);
    EXPECT_EQ(draw(s.get(), 14), g.elements((uint64_t{1} << 32) - 16, 14));
    EXPECT_EQ(row(brng).generate_i(s.get(), 1, out.data()), ZOK_RNG_ERROR_COUNTER_LIMIT);
  }
}

}  // namespace

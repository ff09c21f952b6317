// Uniform, integer uniform and raw-bit operations: clamping and the integer edge on chosen
// uniforms, integers against floors of the generator's doubles and a chi-square fit, bit forms
// against the generator's own words.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "tests/distributions/dist_support.h"

namespace zok::test {
namespace {

// a + (b - a)·u rounds past b or below a for u just outside [0, 1): only the accurate bit clamps.
TEST(Uniform, AccurateBitClampsIntoClosedRange) {
  const Stream s(scripted_brng(), 1);
  const double up = 1 + 0x1p-20, down = -0x1p-20;
  for (int32_t method : {0, ZOK_RNG_UNIFORM_ACCURATE}) {
    const bool clamp = method != 0;
    script_uniforms({up, down, 0.25});
    double d[3];
    ASSERT_EQ(_qordRngUniform(method, s, 3, d, 2.0, 6.0), 0);
    EXPECT_EQ(d[0] == 6.0, clamp) << d[0];
    EXPECT_EQ(d[1] == 2.0, clamp) << d[1];
    EXPECT_EQ(d[2], 3.0);
    script_uniforms({up, down, 0.25});
    float f[3];
    ASSERT_EQ(_qorsRngUniform(method, s, 3, f, 2.0f, 6.0f), 0);
    EXPECT_EQ(f[0] == 6.0f, clamp) << f[0];
    EXPECT_EQ(f[1] == 2.0f, clamp) << f[1];
    EXPECT_EQ(f[2], 3.0f);
  }
}

// A double equal to b would floor to b: the integer form gives b - 1 instead.
TEST(IntegerUniform, DoubleRoundedToBoundGivesBoundMinusOne) {
  const Stream s(scripted_brng(), 1);
  script_uniforms({1.0, 0.0, 0.999});
  int32_t r[3];
  ASSERT_EQ(_qoriRngUniform(0, s, 3, r, -5, 5), 0);
  EXPECT_EQ(r[0], 4);
  EXPECT_EQ(r[1], -5);
  EXPECT_EQ(r[2], 4);
}

// Blocks of 1024 are invisible: every element is floor of the generator's double on [a, b).
TEST(IntegerUniform, FloorsOfTheGeneratorsDoublesAndFits) {
  for (int32_t brng : {ZOK_RNG_MCG59, ZOK_RNG_MRG32K3A}) {
    const Stream s(brng, 77);
    const Stream copy(s);
    const int32_t n = 100000;
    std::vector<int32_t> r(n);
    ASSERT_EQ(_qoriRngUniform(0, s, 1025, r.data(), -50, 50), 0);
    ASSERT_EQ(_qoriRngUniform(0, s, n - 1025, r.data() + 1025, -50, 50), 0);
    std::vector<double> u(n);
    GeneratorProperties row{};
    ASSERT_EQ(__qorGetBrngProperties(brng, &row), 0);
    ASSERT_EQ(row.generate_d(copy, n, u.data(), -50.0, 50.0), 0);
    int mismatches = 0;
    for (int32_t k = 0; k < n; ++k) mismatches += r[k] != static_cast<int32_t>(std::floor(u[k]));
    EXPECT_EQ(mismatches, 0) << brng;
    EXPECT_GE(chi_square_p_uniform_int(r, -50, 100), 1e-4) << brng;
  }
}

// Bits32 and Bits64 against the generator's own words: as they are for the 32-bit generators, the
// top 32 of 59 bits for MCG59 (by its current or legacy identifier); pairs with the first word in
// the low half. Generators without a form give -1014 and write nothing.
TEST(UniformBits, FormsByGeneratorRow) {
  struct Case {
    int32_t brng;
    int shift;  // -1: no form
  };
  const Case cases[] = {{ZOK_RNG_MT19937, 0}, {ZOK_RNG_SFMT19937, 0}, {ZOK_RNG_PHILOX4X32X10, 0},
                        {ZOK_RNG_MT2203, 0},  {ZOK_RNG_MCG59, 27},    {3, 27},
                        {ZOK_RNG_R250, -1},   {ZOK_RNG_MCG31M1, -1},  {ZOK_RNG_MRG32K3A, -1},
                        {ZOK_RNG_WH, -1},     {ZOK_RNG_SOBOL, -1},    {0, -1},
                        {scripted_brng(), -1}};
  const int32_t n = 2500;  // crosses MCG59's blocks of 2048 words
  for (const Case& c : cases) {
    const Stream s(c.brng, 5);
    const Stream copy(s);
    std::vector<uint32_t> r32(n, 0xA5A5A5A5u);
    std::vector<uint64_t> r64(n, 0xA5A5A5A5A5A5A5A5u);
    if (c.shift < 0) {
      EXPECT_EQ(_qoriRngUniformBits32(0, s, n, r32.data()), ZOK_RNG_ERROR_NO_BITS) << c.brng;
      EXPECT_EQ(_qoriRngUniformBits64(0, s, n, r64.data()), ZOK_RNG_ERROR_NO_BITS) << c.brng;
      for (int32_t k = 0; k < n; ++k) ASSERT_TRUE(r32[k] == 0xA5A5A5A5u && r64[k] == 0xA5A5A5A5A5A5A5A5u);
      continue;
    }
    ASSERT_EQ(_qoriRngUniformBits32(0, s, n, r32.data()), 0);
    ASSERT_EQ(_qoriRngUniformBits64(0, s, n, r64.data()), 0);
    // The reference: 3n words from the copy's integer operation, reduced to 32 bits.
    GeneratorProperties row{};
    ASSERT_EQ(__qorGetBrngProperties(c.brng, &row), 0);
    std::vector<uint32_t> words(3 * n);
    if (c.shift == 0) {
      ASSERT_EQ(row.generate_i(copy, 3 * n, words.data()), 0);
    } else {
      std::vector<uint64_t> raw(3 * n);
      ASSERT_EQ(row.generate_i(copy, 3 * n, reinterpret_cast<uint32_t*>(raw.data())), 0);
      for (int32_t k = 0; k < 3 * n; ++k) words[k] = static_cast<uint32_t>(raw[k] >> c.shift);
    }
    int mismatches = 0;
    for (int32_t k = 0; k < n; ++k) {
      mismatches += r32[k] != words[k];
      mismatches += r64[k] != (words[n + 2 * k] | static_cast<uint64_t>(words[n + 2 * k + 1]) << 32);
    }
    EXPECT_EQ(mismatches, 0) << c.brng;
  }
}

}  // namespace
}  // namespace zok::test

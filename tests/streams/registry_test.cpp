// The generator registry: the built-in rows and their placeholder operations, the legacy table,
// identifier lookup and validity, and registration up to the last usable row.
#include "streams/registry.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "zok/random.h"

namespace {

struct Expected {
  const char* name;
  int32_t state_size, seed_count, includes_zero, word_size, bit_count, members;
};

// The properties each built-in generator is documented with, in row order.
constexpr Expected kBuiltin[16] = {{"MCG31M1", 24, 1, 0, 4, 31, 1},
                                   {"R250", 1024, 252, 1, 4, 32, 1},
                                   {"MRG32K3A", 40, 6, 1, 4, 32, 1},
                                   {"MCG59", 32, 1, 0, 8, 59, 1},
                                   {"WH", 48, 4, 1, 16, 24, 273},
                                   {"SOBOL", 11712, 2604, 0, 4, 32, 1},
                                   {"NIEDERR", 84288, 10498, 0, 4, 32, 1},
                                   {"MT19937", 2520, 625, 1, 4, 32, 1},
                                   {"MT2203", 312, 70, 1, 4, 32, 6024},
                                   {"integer abstract", 48, 0, 1, 4, 32, 1},
                                   {"double abstract", 64, 0, 1, 4, 32, 1},
                                   {"single abstract", 56, 0, 1, 4, 32, 1},
                                   {"SFMT19937", 2536, 625, 1, 4, 32, 1},
                                   {"non-deterministic", 24, 1, 1, 4, 32, 1},
                                   {"ARS5", 72, 8, 1, 4, 32, 1},
                                   {"PHILOX4X32X10", 64, 8, 1, 4, 32, 1}};

bool same_row(const GeneratorProperties& a, const GeneratorProperties& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

GeneratorProperties filled(unsigned char byte) {
  GeneratorProperties p;
  std::memset(&p, byte, sizeof p);
  return p;
}

TEST(BuiltinRows, CarryTheirGeneratorsProperties) {
  for (int r = 0; r < 16; ++r) {
    SCOPED_TRACE(kBuiltin[r].name);
    const Expected& e = kBuiltin[r];
    const GeneratorProperties& row = __RegBrngsNew[r];
    EXPECT_EQ(row.state_size, e.state_size);
    EXPECT_EQ(row.seed_count, e.seed_count);
    EXPECT_EQ(row.includes_zero, e.includes_zero);
    EXPECT_EQ(row.word_size, e.word_size);
    EXPECT_EQ(row.bit_count, e.bit_count);
    EXPECT_TRUE(row.init_stream && row.generate_s && row.generate_d && row.generate_i);

    const int32_t id = (r + 1) * 0x100000;
    GeneratorProperties got = filled(0);
    ASSERT_EQ(__qorGetBrngProperties(id, &got), 0);
    EXPECT_TRUE(same_row(got, row));
    // The last member of each family is valid, the next is not.
    EXPECT_EQ(__qorGetBrngProperties(id + e.members - 1, &got), 0);
    EXPECT_EQ(__qorGetBrngProperties(id + e.members, &got), ZOK_RNG_ERROR_BAD_BRNG);
    EXPECT_EQ(__qorIsBrngValid(__RegBrngsNew, r, e.members - 1), 0);
    EXPECT_EQ(__qorIsBrngValid(__RegBrngsNew, r, e.members), ZOK_RNG_ERROR_BAD_BRNG);
  }
}

// Until each generator is built its operations must fail and leave every output alone, so that no
// caller can take a made-up sequence for real numbers.
TEST(BuiltinRows, PlaceholderOperationsFailAndWriteNothing) {
  for (int r = 0; r < 16; ++r) {
    SCOPED_TRACE(kBuiltin[r].name);
    if (!zok::rng::has_placeholder_operations(__RegBrngsNew[r])) continue;  // built already
    const int32_t id = (r + 1) * 0x100000;
    StreamRecord* s = nullptr;
    ASSERT_EQ(__qorAllocateStream(&s, __RegBrngsNew, id, r, 0), 0);
    const GeneratorProperties& row = __RegBrngsNew[r];
    const uint32_t seeds[2] = {1, 2};
    const uint64_t skip = 5;
    EXPECT_LT(row.init_stream(ZOK_RNG_METHOD_SEED, s, 2, seeds), 0);
    EXPECT_LT(row.init_stream(ZOK_RNG_METHOD_LEAPFROG, s, 2, seeds), 0);
    EXPECT_LT(row.init_stream(ZOK_RNG_METHOD_SKIP, s, 2, reinterpret_cast<const uint32_t*>(&skip)), 0);
    EXPECT_EQ(row.init_stream(3, s, 2, seeds), ZOK_RNG_ERROR_METHOD);
    float fs[4] = {-7, -7, -7, -7};
    double ds[4] = {-7, -7, -7, -7};
    uint32_t is[8] = {7, 7, 7, 7, 7, 7, 7, 7};
    EXPECT_LT(row.generate_s(s, 4, fs, 0.0f, 1.0f), 0);
    EXPECT_LT(row.generate_d(s, 4, ds, 0.0, 1.0), 0);
    EXPECT_LT(row.generate_i(s, 2, is), 0);
    for (float v : fs) EXPECT_EQ(v, -7.0f);
    for (double v : ds) EXPECT_EQ(v, -7.0);
    for (uint32_t v : is) EXPECT_EQ(v, 7u);
    EXPECT_LT(__qorLeapfrogStream(s, 0, 2), 0);
    EXPECT_LT(__qorSkipAheadStream(s, 10), 0);
    __qorDeleteStream(&s);
  }
}

TEST(LegacyTable, MirrorsTheCurrentRows) {
  for (int r = 0; r < 4; ++r) EXPECT_TRUE(same_row(__RegBrngs[r], __RegBrngsNew[r])) << "row " << r;
  for (int r = 4; r <= 276; ++r) ASSERT_TRUE(same_row(__RegBrngs[r], __RegBrngsNew[4])) << "row " << r;
  EXPECT_TRUE(same_row(__RegBrngs[277], __RegBrngsNew[5]));
  EXPECT_TRUE(same_row(__RegBrngs[278], __RegBrngsNew[6]));
  const GeneratorProperties zero = filled(0);
  EXPECT_TRUE(same_row(__RegBrngs[279], zero));
  EXPECT_TRUE(same_row(__RegBrngs[280], zero));
}

TEST(Identifiers, ResolveToTableRowAndMember) {
  struct Case {
    int32_t id;
    bool legacy;
    int32_t index, member;
  };
  const Case cases[] = {{0x100000, false, 0, 0},
                        {0x500000, false, 4, 0},
                        {0x500000 + 272, false, 4, 272},
                        {0x900000 + 6023, false, 8, 6023},
                        {0x1FFFFF, false, 0, 0xFFFFF},
                        {0x1000000, false, 15, 0},
                        {0, true, 0, 0},
                        {3, true, 3, 0},
                        {4, true, 4, 0},
                        {5, true, 4, 1},
                        {276, true, 4, 272},
                        {277, true, 277, 0},
                        {278, true, 278, 0},
                        {279, true, 279, 0},
                        {0xFFFFF, true, 0xFFFFF, 0},
                        {-1, true, -1, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    int32_t index = -99, member = -99;
    const GeneratorProperties* table = __qorGetBrngBaseOffset(c.id, &index, &member);
    EXPECT_EQ(table, c.legacy ? __RegBrngs : static_cast<const GeneratorProperties*>(__RegBrngsNew));
    EXPECT_EQ(index, c.index);
    EXPECT_EQ(member, c.member);
  }
}

// Rows without operations and identifiers below zero would lead a caller to a null or out-of-table
// function, so every entry refuses them.
TEST(Validity, RefusesRowsWithoutOperations) {
  for (int32_t index : {279, 280, 281, -1, INT_MIN})
    EXPECT_EQ(__qorIsBrngValid(__RegBrngs, index, 0), ZOK_RNG_ERROR_BAD_BRNG) << index;
  EXPECT_EQ(__qorIsBrngValid(__RegBrngs, 278, 0), 0);
  EXPECT_EQ(__qorIsBrngValid(__RegBrngsNew, -1, 0), ZOK_RNG_ERROR_BAD_BRNG);
  EXPECT_EQ(__qorIsBrngValid(__RegBrngsNew, 0, -1), ZOK_RNG_ERROR_BAD_BRNG);
  EXPECT_EQ(__qorIsBrngValid(__RegBrngsNew, __qorGetNumRegBrngs(), 0), ZOK_RNG_ERROR_BAD_BRNG);
  EXPECT_EQ(__qorIsBrngValid(__RegBrngsNew, __qorGetNumRegBrngs() - 1, 0), 0);
  EXPECT_EQ(__qorIsBrngValid(&__RegBrngsNew[1], 0, 0), ZOK_RNG_ERROR_BAD_BRNG);  // not a table

  for (int32_t id : {279, 280, -1, -0x100000, INT_MIN, 0x11000000}) {
    SCOPED_TRACE(id);
    GeneratorProperties untouched = filled(0x5A);
    EXPECT_EQ(__qorGetBrngProperties(id, &untouched), ZOK_RNG_ERROR_BAD_BRNG);
    EXPECT_TRUE(same_row(untouched, filled(0x5A)));
    StreamRecord* s = reinterpret_cast<StreamRecord*>(0x1);
    EXPECT_EQ(__qorNewStreamEx(&s, id, 0, nullptr), ZOK_RNG_ERROR_BAD_BRNG);
    int32_t index = 0, member = 0;
    const GeneratorProperties* table = __qorGetBrngBaseOffset(id, &index, &member);
    EXPECT_EQ(__qorAllocateStream(&s, table, id, index, member), ZOK_RNG_ERROR_BAD_BRNG);
    EXPECT_EQ(s, reinterpret_cast<StreamRecord*>(0x1));
    StreamRecord fake{id, 1, nullptr};
    EXPECT_EQ(__qorCopyStream(&s, &fake), ZOK_RNG_ERROR_BAD_BRNG);
  }
  // The abstract streams have their own constructors.
  for (int32_t id : {0xA00000, 0xB00000, 0xC00000}) {
    StreamRecord* s = nullptr;
    EXPECT_EQ(__qorNewStreamEx(&s, id, 0, nullptr), ZOK_RNG_ERROR_BAD_BRNG) << id;
    EXPECT_EQ(s, nullptr);
  }
}

GeneratorProperties user_row() {
  GeneratorProperties p{40, 6, 1, 4, 32, nullptr, nullptr, nullptr, nullptr};
  p.init_stream = [](int32_t, StreamRecord*, int32_t, const uint32_t*) { return 0; };
  p.generate_s = [](StreamRecord*, int32_t, float*, float, float) { return 0; };
  p.generate_d = [](StreamRecord*, int32_t, double*, double, double) { return 0; };
  p.generate_i = [](StreamRecord*, int32_t, uint32_t*) { return 0; };
  return p;
}

// One test, because the registry only grows: identifiers in order, refusals in order, then the end
// of the table.
TEST(Registration, NumbersRowsInOrderUpToTheLastUsableRow) {
  ASSERT_EQ(__qorGetNumRegBrngs(), 16) << "needs a process that has registered nothing";
  const GeneratorProperties empty = filled(0);
  ASSERT_TRUE(same_row(__RegBrngsNew[16], empty));

  const GeneratorProperties first = user_row();
  ASSERT_EQ(__qorRegisterBrng(&first), 0x1100000);
  EXPECT_EQ(__qorGetNumRegBrngs(), 17);
  EXPECT_TRUE(same_row(__RegBrngsNew[16], first));
  GeneratorProperties got = filled(0);
  EXPECT_EQ(__qorGetBrngProperties(0x1100000, &got), 0);
  EXPECT_TRUE(same_row(got, first));
  EXPECT_EQ(__qorGetBrngProperties(0x1100001, &got), ZOK_RNG_ERROR_BAD_BRNG);  // one member

  GeneratorProperties second = user_row();
  second.state_size = 0;  // a header-only stream is allowed
  second.word_size = 8;
  ASSERT_EQ(__qorRegisterBrng(&second), 0x1200000);

  // Each record breaks the tested rule and every later one, so only the test order picks the status.
  struct Refusal {
    const char* what;
    GeneratorProperties record;
    int32_t status;
  };
  auto with = [](auto change) {
    GeneratorProperties p = user_row();
    change(p);
    return p;
  };
  const Refusal refusals[] = {
      {"state_size", with([](auto& p) { p = {-1, 0, 1, 3, 0, nullptr, nullptr, nullptr, nullptr}; }), -1008},
      {"word_size", with([](auto& p) { p = {40, 0, 1, 3, 0, nullptr, nullptr, nullptr, nullptr}; }), -1009},
      {"word_size 2", with([](auto& p) { p.word_size = 2; }), -1009},
      {"word_size 32", with([](auto& p) { p.word_size = 32; }), -1009},
      {"seed_count", with([](auto& p) { p = {40, 0, 1, 16, 0, nullptr, nullptr, nullptr, nullptr}; }), -1010},
      {"bit_count", with([](auto& p) { p = {40, 1, 1, 4, 0, nullptr, nullptr, nullptr, nullptr}; }), -1011},
      {"init_stream", with([](auto& p) { p.init_stream = nullptr; }), -5},
      {"generate_s", with([](auto& p) { p.generate_s = nullptr; }), -5},
      {"generate_d", with([](auto& p) { p.generate_d = nullptr; }), -5},
      {"generate_i", with([](auto& p) { p.generate_i = nullptr; }), -5},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(__qorRegisterBrng(&r.record), r.status);
    EXPECT_EQ(__qorGetNumRegBrngs(), 18);
    EXPECT_TRUE(same_row(__RegBrngsNew[18], empty));
  }
  EXPECT_EQ(__qorRegisterBrng(nullptr), -5);

  GeneratorProperties wide = user_row();
  wide.word_size = 16;
  for (int32_t rows = 18; rows < 512; ++rows) ASSERT_EQ(__qorRegisterBrng(&wide), (rows + 1) * 0x100000);
  EXPECT_EQ(__qorGetNumRegBrngs(), 512);
  EXPECT_EQ(__qorGetBrngProperties(0x20000000, &got), 0);  // row 511

  // The member counts end at row 511: a 513th row has nowhere to keep its count.
  EXPECT_EQ(__qorRegisterBrng(&wide), ZOK_RNG_ERROR_REGISTRY_FULL);
  EXPECT_EQ(__qorGetNumRegBrngs(), 512);
  EXPECT_TRUE(same_row(__RegBrngsNew[512], empty));
  EXPECT_EQ(__qorGetBrngProperties(0x20100000, &got), ZOK_RNG_ERROR_BAD_BRNG);
  EXPECT_EQ(__qorIsBrngValid(__RegBrngsNew, 512, 0), ZOK_RNG_ERROR_BAD_BRNG);
}

}  // namespace

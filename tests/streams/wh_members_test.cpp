// The WH member table: the published members 0, 1 and 272, and for all 273 members prime moduli in
// range, strictly decreasing, never repeated, multipliers that are primitive roots, exact reciprocals.
#include "streams/generators/wh_members.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <vector>

namespace {

using zok::rng::kWhModuli;
using zok::rng::kWhMultipliers;
using zok::rng::kWhReciprocals;

bool is_prime(uint32_t n) {
  if (n < 2) return false;
  for (uint32_t d = 2; d * d <= n; ++d)
    if (n % d == 0) return false;
  return true;
}

uint64_t power(uint64_t a, uint64_t n, uint64_t m) {
  uint64_t r = 1;
  for (a %= m; n != 0; n >>= 1, a = a * a % m)
    if (n & 1) r = r * a % m;
  return r;
}

// a generates the multiplicative group mod prime p when a^((p-1)/q) != 1 for every prime q | p-1.
bool is_primitive_root(uint32_t a, uint32_t p) {
  uint32_t rest = p - 1;
  for (uint32_t q = 2; q * q <= rest; ++q) {
    if (rest % q != 0) continue;
    if (power(a, (p - 1) / q, p) == 1) return false;
    while (rest % q == 0) rest /= q;
  }
  return rest == 1 || power(a, (p - 1) / rest, p) != 1;
}

TEST(WhMembers, PublishedMembers) {
  const struct {
    int member;
    uint32_t m[4];
    int a[4];
  } published[] = {{0, {16770647, 16770643, 16770623, 16770617}, {125, 117, 127, 126}},
                   {1, {16770311, 16770283, 16770263, 16770209}, {127, 126, 125, 123}},
                   {272, {16766363, 16766359, 16766327, 16766231}, {126, 127, 125, 124}}};
  for (const auto& p : published)
    for (int k = 0; k < 4; ++k) {
      EXPECT_EQ(kWhModuli[p.member][k], p.m[k]) << p.member << "/" << k;
      EXPECT_EQ(kWhMultipliers[p.member][k], p.a[k]) << p.member << "/" << k;
    }
}

TEST(WhMembers, EveryMemberHasDistinctPrimeModuliAndPrimitiveRootMultipliers) {
  std::set<uint32_t> seen;
  for (int member = 0; member < zok::rng::kWhMemberCount; ++member) {
    SCOPED_TRACE(member);
    for (int k = 0; k < 4; ++k) {
      const uint32_t m = kWhModuli[member][k];
      const uint32_t a = kWhMultipliers[member][k];
      EXPECT_GE(m, 16718909u);
      EXPECT_LE(m, 16776971u);
      EXPECT_TRUE(is_prime(m)) << m;
      if (k > 0) {
        EXPECT_LT(m, kWhModuli[member][k - 1]);
      }
      EXPECT_GE(a, 112u);
      EXPECT_LE(a, 127u);
      EXPECT_TRUE(is_primitive_root(a, m)) << a << " mod " << m;
      EXPECT_EQ(kWhReciprocals[member][k], 1.0 / m);
      seen.insert(m);
    }
  }
  EXPECT_EQ(seen.size(), 4u * zok::rng::kWhMemberCount);
}

// The primitive-root test itself: 3 generates mod 7, 2 does not (2^3 = 8 ≡ 1).
TEST(WhMembers, PrimitiveRootTestSeparatesGeneratorsFromOthers) {
  EXPECT_TRUE(is_primitive_root(3, 7));
  EXPECT_FALSE(is_primitive_root(2, 7));
  EXPECT_TRUE(is_primitive_root(2, 11));
  EXPECT_FALSE(is_primitive_root(3, 11));  // 3^5 = 243 ≡ 1
}

}  // namespace

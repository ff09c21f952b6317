// The WH family's member table: per member four prime moduli (strictly decreasing), their
// multipliers and the doubles nearest to their reciprocals. Defined in the generated wh_members.cpp.
#pragma once

#include <cstdint>

namespace zok::rng {

inline constexpr int32_t kWhMemberCount = 273;

extern const uint32_t kWhModuli[kWhMemberCount][4];
extern const uint8_t kWhMultipliers[kWhMemberCount][4];
extern const double kWhReciprocals[kWhMemberCount][4];

}  // namespace zok::rng

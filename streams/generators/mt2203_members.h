// The MT2203 family's member table: twist constant a and tempering masks b, c per member, from the
// generated mt2203_members.cpp. A row of zeros is a member not generated yet.
#pragma once

#include <cstdint>

namespace zok::rng {

inline constexpr int32_t kMt2203MemberCount = 6024;

extern const uint32_t kMt2203Members[kMt2203MemberCount][3];

}  // namespace zok::rng

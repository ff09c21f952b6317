// The generator registry seen from inside the library: table limits, row lookup for stream
// operations, and names of the built-in generators.
#pragma once

#include <cstdint>

#include "zok/random.h"

namespace zok::rng {

inline constexpr int32_t kBuiltinRows = 16;
inline constexpr int32_t kCurrentRows = 532;
// The per-row member counts stop at 512 rows, so registration stops there too.
inline constexpr int32_t kUsableRows = 512;
inline constexpr int32_t kLegacyRows = 281;
// Legacy rows 279 and 280 hold no operations.
inline constexpr int32_t kLegacyUsableRows = 279;
inline constexpr int32_t kHeaderBytes = 16;

// The row whose operations serve a stream of identifier `brng`, or null when the identifier names
// no usable row. The member is not checked: the stream was checked when it was made.
const GeneratorProperties* operations_row(int32_t brng);

// Bytes of a stream record of `row`: its state_size, but never less than the header.
inline int32_t record_bytes(const GeneratorProperties& row) {
  return row.state_size > kHeaderBytes ? row.state_size : kHeaderBytes;
}

// Members of the family of current row `index` (0 for an unused row).
int32_t member_count(int32_t index);

// "MCG31M1", ... for the built-in rows, "registered" for others.
const char* row_name(int32_t index);

// True while the row's operations are the placeholders that only report
// ZOK_RNG_ERROR_UNAVAILABLE.
bool has_placeholder_operations(const GeneratorProperties& row);

}  // namespace zok::rng

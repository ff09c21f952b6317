// The generator registry: the current and legacy tables of generator rows, the member count of
// each row, identifier lookup and registration of user generators.
#include "streams/registry.h"

#include <cstddef>

namespace zok::rng {

// The core library reads rows in this layout.
static_assert(offsetof(GeneratorProperties, bit_count) == 16);
static_assert(offsetof(GeneratorProperties, init_stream) == 24);
static_assert(offsetof(GeneratorProperties, generate_i) == 48);
static_assert(sizeof(GeneratorProperties) == 56);

namespace {

// Until a generator's own operations are built, its row carries these: they report the generator as
// unavailable and write nothing, so no caller can mistake them for a sequence. Once every row is
// built only the first is referenced (it marks a placeholder row).
int32_t placeholder_init(int32_t method, StreamRecord*, int32_t, const uint32_t*) {
  if (method < ZOK_RNG_METHOD_SEED || method > ZOK_RNG_METHOD_SKIP) return ZOK_RNG_ERROR_METHOD;
  return ZOK_RNG_ERROR_UNAVAILABLE;
}
[[maybe_unused]] int32_t placeholder_s(StreamRecord*, int32_t, float*, float, float) {
  return ZOK_RNG_ERROR_UNAVAILABLE;
}
[[maybe_unused]] int32_t placeholder_d(StreamRecord*, int32_t, double*, double, double) {
  return ZOK_RNG_ERROR_UNAVAILABLE;
}
[[maybe_unused]] int32_t placeholder_i(StreamRecord*, int32_t, uint32_t*) {
  return ZOK_RNG_ERROR_UNAVAILABLE;
}

// Each row of the generator list becomes a constant kRow_<NAME>; built generators bring their
// operations, the others the placeholders.
#define ZOK_OPERATIONS_BUILT(N) __qorBRng##N##InitStream, __qorsBRng##N, __qordBRng##N, __qoriBRng##N
#define ZOK_OPERATIONS_NOT_BUILT(N) placeholder_init, placeholder_s, placeholder_d, placeholder_i
#define ZOK_OPERATIONS_ABSTRACT(N) ZOK_OPERATIONS_BUILT(N)
#define ZOK_GENERATOR(N, label, state, seeds, zero, word, bits, members, status)                         \
  constexpr GeneratorProperties kRow_##N = {state, seeds, zero, word, bits, ZOK_OPERATIONS_##status(N)}; \
  constexpr int32_t kMembers_##N = members;
#include "zok/rng_generators.def"
#undef ZOK_GENERATOR

// Row positions; the public identifiers must name the same rows.
enum RowIndex : int32_t {
#define ZOK_GENERATOR(N, ...) kIndex_##N,
#include "zok/rng_generators.def"
#undef ZOK_GENERATOR
  kListedRows
};
static_assert(kListedRows == kBuiltinRows);
#define ZOK_GENERATOR(N, ...) static_assert(ZOK_RNG_##N == (kIndex_##N + 1) * ZOK_RNG_ID_STEP);
#include "zok/rng_generators.def"
#undef ZOK_GENERATOR

// Legacy identifiers 4..276 are the WH members 0..272, all served by legacy row 4.
constexpr int32_t kLegacyWhFirst = kIndex_WH;
constexpr int32_t kLegacyWhLast = kLegacyWhFirst + kMembers_WH - 1;

constexpr const char* kBuiltinNames[kBuiltinRows] = {
#define ZOK_GENERATOR(N, label, ...) label,
#include "zok/rng_generators.def"
#undef ZOK_GENERATOR
};

// Members per row; registration gives each new row one member.
constinit int32_t g_member_counts[kUsableRows] = {
#define ZOK_GENERATOR(N, ...) kMembers_##N,
#include "zok/rng_generators.def"
#undef ZOK_GENERATOR
};
constinit int32_t g_registered_count = kBuiltinRows;

}  // namespace

}  // namespace zok::rng

using namespace zok::rng;

// The legacy table repeats the WH row once per member; the count is 3 * 7 * 13 = 273.
static_assert(kMembers_WH == 273);
#define ZOK_WH_13                                                                                    \
  kRow_WH, kRow_WH, kRow_WH, kRow_WH, kRow_WH, kRow_WH, kRow_WH, kRow_WH, kRow_WH, kRow_WH, kRow_WH, \
      kRow_WH, kRow_WH
#define ZOK_WH_91 ZOK_WH_13, ZOK_WH_13, ZOK_WH_13, ZOK_WH_13, ZOK_WH_13, ZOK_WH_13, ZOK_WH_13
#define ZOK_WH_273 ZOK_WH_91, ZOK_WH_91, ZOK_WH_91

extern "C" {

constinit GeneratorProperties __RegBrngsNew[kCurrentRows] = {
#define ZOK_GENERATOR(N, ...) kRow_##N,
#include "zok/rng_generators.def"
#undef ZOK_GENERATOR
};

// Rows 279 and 280 stay zero.
constinit const GeneratorProperties __RegBrngs[kLegacyRows] = {
    kRow_MCG31M1, kRow_R250, kRow_MRG32K3A, kRow_MCG59, ZOK_WH_273, kRow_SOBOL, kRow_NIEDERR};

const GeneratorProperties* __qorGetBrngBaseOffset(int32_t id, int32_t* index, int32_t* member) {
  if (id >= ZOK_RNG_ID_STEP) {
    *index = (id >> 20) - 1;
    *member = id & ZOK_RNG_MEMBER_MASK;
    return __RegBrngsNew;
  }
  if (id >= kLegacyWhFirst && id <= kLegacyWhLast) {
    *index = kLegacyWhFirst;
    *member = id - kLegacyWhFirst;
  } else {
    *index = id;
    *member = 0;
  }
  return __RegBrngs;
}

int32_t __qorIsBrngValid(const GeneratorProperties* table, int32_t index, int32_t member) {
  // A negative index would read before the tables; a legacy row above 278 has no operations.
  if (index < 0 || member < 0) return ZOK_RNG_ERROR_BAD_BRNG;
  if (table == __RegBrngs) return index < kLegacyUsableRows ? ZOK_RNG_STATUS_OK : ZOK_RNG_ERROR_BAD_BRNG;
  if (table == __RegBrngsNew && index < g_registered_count && member < g_member_counts[index])
    return ZOK_RNG_STATUS_OK;
  return ZOK_RNG_ERROR_BAD_BRNG;
}

int32_t __qorGetBrngProperties(int32_t id, GeneratorProperties* properties) {
  int32_t index = 0, member = 0;
  const GeneratorProperties* table = __qorGetBrngBaseOffset(id, &index, &member);
  const int32_t status = __qorIsBrngValid(table, index, member);
  if (status != ZOK_RNG_STATUS_OK) return status;
  *properties = table[index];
  return ZOK_RNG_STATUS_OK;
}

int32_t __qorGetNumRegBrngs(void) {
  return g_registered_count;
}

int32_t __qorRegisterBrng(const GeneratorProperties* p) {
  if (p == nullptr) return ZOK_RNG_ERROR_NULL_POINTER;
  if (p->state_size < 0) return ZOK_RNG_ERROR_STATE_SIZE;
  if (p->word_size != 4 && p->word_size != 8 && p->word_size != 16) return ZOK_RNG_ERROR_WORD_SIZE;
  if (p->seed_count < 1) return ZOK_RNG_ERROR_SEED_COUNT;
  if (p->bit_count < 1) return ZOK_RNG_ERROR_BIT_COUNT;
  if (p->generate_d == nullptr || p->generate_s == nullptr || p->generate_i == nullptr ||
      p->init_stream == nullptr)
    return ZOK_RNG_ERROR_NULL_POINTER;
  if (g_registered_count >= kUsableRows) return ZOK_RNG_ERROR_REGISTRY_FULL;
  const int32_t index = g_registered_count;
  __RegBrngsNew[index] = *p;
  g_member_counts[index] = 1;
  g_registered_count = index + 1;
  return (index + 1) * ZOK_RNG_ID_STEP;
}

}  // extern "C"

namespace zok::rng {

const GeneratorProperties* operations_row(int32_t brng) {
  int32_t index = 0, member = 0;
  const GeneratorProperties* table = __qorGetBrngBaseOffset(brng, &index, &member);
  if (index < 0) return nullptr;
  if (table == __RegBrngs) return index < kLegacyUsableRows ? &__RegBrngs[index] : nullptr;
  return index < g_registered_count ? &__RegBrngsNew[index] : nullptr;
}

int32_t member_count(int32_t index) {
  return index >= 0 && index < g_registered_count ? g_member_counts[index] : 0;
}

const char* row_name(int32_t index) {
  return index >= 0 && index < kBuiltinRows ? kBuiltinNames[index] : "registered";
}

bool has_placeholder_operations(const GeneratorProperties& row) {
  return row.init_stream == placeholder_init;
}

}  // namespace zok::rng

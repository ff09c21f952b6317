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
// unavailable and write nothing, so no caller can mistake them for a sequence.
int32_t placeholder_init(int32_t method, StreamRecord*, int32_t, const uint32_t*) {
  if (method < ZOK_RNG_METHOD_SEED || method > ZOK_RNG_METHOD_SKIP) return ZOK_RNG_ERROR_METHOD;
  return ZOK_RNG_ERROR_UNAVAILABLE;
}
int32_t placeholder_s(StreamRecord*, int32_t, float*, float, float) {
  return ZOK_RNG_ERROR_UNAVAILABLE;
}
int32_t placeholder_d(StreamRecord*, int32_t, double*, double, double) {
  return ZOK_RNG_ERROR_UNAVAILABLE;
}
int32_t placeholder_i(StreamRecord*, int32_t, uint32_t*) {
  return ZOK_RNG_ERROR_UNAVAILABLE;
}

constexpr GeneratorProperties row(int32_t state_size, int32_t seed_count, int32_t includes_zero,
                                  int32_t word_size, int32_t bit_count) {
  return {state_size,       seed_count,    includes_zero, word_size,    bit_count,
          placeholder_init, placeholder_s, placeholder_d, placeholder_i};
}

constexpr GeneratorProperties kMcg31m1 = {
    24, 1, 0, 4, 31, __qorBRngMCG31M1InitStream, __qorsBRngMCG31M1, __qordBRngMCG31M1, __qoriBRngMCG31M1};
constexpr GeneratorProperties kR250 = {
    1024, 252, 1, 4, 32, __qorBRngR250InitStream, __qorsBRngR250, __qordBRngR250, __qoriBRngR250};
constexpr GeneratorProperties kMrg32k3a = {
    40, 6, 1, 4, 32, __qorBRngMRG32K3AInitStream, __qorsBRngMRG32K3A, __qordBRngMRG32K3A, __qoriBRngMRG32K3A};
constexpr GeneratorProperties kMcg59 = {
    32, 1, 0, 8, 59, __qorBRngMCG59InitStream, __qorsBRngMCG59, __qordBRngMCG59, __qoriBRngMCG59};
constexpr GeneratorProperties kWh = {
    48, 4, 1, 16, 24, __qorBRngWHInitStream, __qorsBRngWH, __qordBRngWH, __qoriBRngWH};
constexpr GeneratorProperties kSobol = row(11712, 2604, 0, 4, 32);
constexpr GeneratorProperties kNiederr = row(84288, 10498, 0, 4, 32);
constexpr GeneratorProperties kMt19937 = row(2520, 625, 1, 4, 32);
constexpr GeneratorProperties kMt2203 = row(312, 70, 1, 4, 32);
constexpr GeneratorProperties kIAbstract = row(48, 0, 1, 4, 32);
constexpr GeneratorProperties kDAbstract = row(64, 0, 1, 4, 32);
constexpr GeneratorProperties kSAbstract = row(56, 0, 1, 4, 32);
constexpr GeneratorProperties kSfmt19937 = row(2536, 625, 1, 4, 32);
constexpr GeneratorProperties kNondeterm = row(24, 1, 1, 4, 32);
constexpr GeneratorProperties kArs5 = row(72, 8, 1, 4, 32);
constexpr GeneratorProperties kPhilox = row(64, 8, 1, 4, 32);

constexpr int32_t kWhMembers = 273;
constexpr int32_t kMt2203Members = 6024;
// Legacy identifiers 4..276 are the WH members 0..272, all served by legacy row 4.
constexpr int32_t kLegacyWhFirst = 4;
constexpr int32_t kLegacyWhLast = kLegacyWhFirst + kWhMembers - 1;

constexpr const char* kBuiltinNames[kBuiltinRows] = {"MCG31M1",
                                                     "R250",
                                                     "MRG32K3A",
                                                     "MCG59",
                                                     "WH",
                                                     "SOBOL",
                                                     "NIEDERR",
                                                     "MT19937",
                                                     "MT2203",
                                                     "integer abstract",
                                                     "double abstract",
                                                     "single abstract",
                                                     "SFMT19937",
                                                     "non-deterministic",
                                                     "ARS5",
                                                     "PHILOX4X32X10"};

// Members per row; registration gives each new row one member.
constinit int32_t g_member_counts[kUsableRows] = {1, 1, 1, 1, kWhMembers, 1, 1, 1, kMt2203Members,
                                                  1, 1, 1, 1, 1,          1, 1};
constinit int32_t g_registered_count = kBuiltinRows;

}  // namespace

}  // namespace zok::rng

using namespace zok::rng;

// The legacy table repeats the WH row once per member; the count is 3 * 7 * 13 = 273.
#define ZOK_WH_13 kWh, kWh, kWh, kWh, kWh, kWh, kWh, kWh, kWh, kWh, kWh, kWh, kWh
#define ZOK_WH_91 ZOK_WH_13, ZOK_WH_13, ZOK_WH_13, ZOK_WH_13, ZOK_WH_13, ZOK_WH_13, ZOK_WH_13
#define ZOK_WH_273 ZOK_WH_91, ZOK_WH_91, ZOK_WH_91

extern "C" {

constinit GeneratorProperties __RegBrngsNew[kCurrentRows] = {
    kMcg31m1, kR250,      kMrg32k3a,  kMcg59,     kWh,        kSobol,     kNiederr, kMt19937,
    kMt2203,  kIAbstract, kDAbstract, kSAbstract, kSfmt19937, kNondeterm, kArs5,    kPhilox};

// Rows 279 and 280 stay zero.
constinit const GeneratorProperties __RegBrngs[kLegacyRows] = {kMcg31m1,   kR250,  kMrg32k3a, kMcg59,
                                                               ZOK_WH_273, kSobol, kNiederr};

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

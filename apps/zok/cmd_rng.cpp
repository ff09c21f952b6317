// zok rng: the generator registry as a table; the random-stream tour stop (registry rows, a
// registered generator, a stream with chunks copied and deleted).
#include <cstdio>
#include <cstring>

#include "apps/zok/commands.h"
#include "streams/registry.h"
#include "streams/shared_data.h"
#include "zok/core_services.h"
#include "zok/random.h"

namespace {

using zok::rng::has_placeholder_operations;
using zok::rng::member_count;
using zok::rng::row_name;

void print_row_heading() {
  std::printf("  %4s  %-10s  %-18s %6s %6s %5s %5s %5s %8s  %s\n", "row", "identifier", "name", "state",
              "seeds", "word", "bits", "zero", "members", "operations");
}

void print_row(int32_t index) {
  const GeneratorProperties& row = __RegBrngsNew[index];
  std::printf("  %4d  0x%-8X  %-18s %6d %6d %5d %5d %5s %8d  %s\n", index,
              static_cast<unsigned>((index + 1) * ZOK_RNG_ID_STEP), row_name(index), row.state_size,
              row.seed_count, row.word_size, row.bit_count, row.includes_zero ? "yes" : "no",
              member_count(index), has_placeholder_operations(row) ? "not built yet" : "available");
}

int list_registry() {
  const int32_t rows = __qorGetNumRegBrngs();
  std::printf(
      "generator registry: %d of %d rows in use (state: bytes of a stream record, header "
      "included; word: bytes per integer output)\n",
      rows, zok::rng::kUsableRows);
  print_row_heading();
  for (int32_t i = 0; i < rows; ++i) print_row(i);
  std::printf("legacy identifiers: 0-3 rows 0-3; 4-276 WH members 0-272; 277 SOBOL; 278 NIEDERR\n");
  return 0;
}

int run_rng(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "list") == 0) return list_registry();
  std::fprintf(stderr, "usage: zok rng list\n");
  return 2;
}

// A 32-bit xorshift generator that the tour registers as a user generator; its state is one word
// right after the stream header.
uint32_t& xorshift_word(StreamRecord* s) {
  return *reinterpret_cast<uint32_t*>(reinterpret_cast<unsigned char*>(s) + zok::rng::kHeaderBytes);
}
uint32_t xorshift_next(StreamRecord* s) {
  uint32_t x = xorshift_word(s);
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  return xorshift_word(s) = x;
}
int32_t xorshift_init(int32_t method, StreamRecord* s, int32_t n, const uint32_t* params) {
  if (method != ZOK_RNG_METHOD_SEED) return ZOK_RNG_ERROR_METHOD;
  // Zero is the one state xorshift never leaves.
  xorshift_word(s) = n >= 1 && params[0] != 0 ? params[0] : 2463534242u;
  return 0;
}
int32_t xorshift_i(StreamRecord* s, int32_t n, uint32_t* r) {
  for (int32_t i = 0; i < n; ++i) r[i] = xorshift_next(s);
  return 0;
}
int32_t xorshift_d(StreamRecord* s, int32_t n, double* r, double a, double b) {
  for (int32_t i = 0; i < n; ++i) r[i] = a + (b - a) * (xorshift_next(s) * 0x1p-32);
  return 0;
}
int32_t xorshift_s(StreamRecord* s, int32_t n, float* r, float a, float b) {
  for (int32_t i = 0; i < n; ++i) r[i] = a + (b - a) * static_cast<float>(xorshift_next(s) * 0x1p-32);
  return 0;
}

void show_chunks(const char* what, const StreamRecord* s) {
  std::printf("  %s: %d chunks, ids from the head:", what, __qorGetNumChunks(s));
  for (const StreamChunk* c = s->chunks; c != nullptr; c = c->next)
    std::printf(" %d%s", c->id, c->key[0] | c->key[1] ? " (shared)" : "");
  std::printf("\n");
}

void tour_rng() {
  zok::app::tour_heading("random streams: the generator registry");
  print_row_heading();
  for (int32_t index : {0, 4, 8, 15}) print_row(index);
  StreamRecord* s = nullptr;
  const uint32_t seed = 7;
  const int32_t builtin = __qorNewStreamEx(&s, ZOK_RNG_MCG31M1, 1, &seed);
  std::printf("  an MCG31M1 stream: status %d (its generator is not built yet)\n", builtin);
  __qorDeleteStream(&s);

  const GeneratorProperties row{
      zok::rng::kHeaderBytes + 8, 1, 0, 4, 32, xorshift_init, xorshift_s, xorshift_d, xorshift_i};
  const int32_t id = __qorRegisterBrng(&row);
  std::printf("  registered a 32-bit xorshift generator as 0x%X\n", static_cast<unsigned>(id));
  if (id < 0 || __qorNewStreamEx(&s, id, 1, &seed) != 0) return;
  uint32_t draws[4] = {};
  __RegBrngsNew[(id >> 20) - 1].generate_i(s, 4, draws);
  std::printf("  seeded with 7, it draws %u %u %u %u\n", draws[0], draws[1], draws[2], draws[3]);

  const uint64_t key[2] = {0x70757274, 1};
  void* table = zok_serv_allocate(64, 128);
  void* notes = zok_serv_allocate(16, 128);
  if (table != nullptr) std::memset(table, 0, 64);
  if (notes != nullptr) std::memset(notes, 0, 16);
  // A block stays the caller's when it could not be attached.
  if (__qorAddChunk(s, 1, key, table, 64) != 0) zok_serv_deallocate(table);
  if (__qorAddChunk(s, 2, nullptr, notes, 16) != 0) zok_serv_deallocate(notes);
  show_chunks("stream with a shared table (id 1) and private notes (id 2)", s);
  StreamRecord* copy = nullptr;
  if (__qorCopyStream(&copy, s) == 0) {
    show_chunks("its copy (the list comes out reversed)", copy);
    GlobalRODataEntry* entry = nullptr;
    if (__qorFindGlobRODataTableEntry(&entry, key) == 0)
      std::printf("  the shared block is held once, by %d chunks\n", entry->refcount);
    __RegBrngsNew[(id >> 20) - 1].generate_i(copy, 4, draws);
    std::printf("  the copy continues the sequence: %u %u %u %u\n", draws[0], draws[1], draws[2], draws[3]);
  }
  __qorDeleteStream(&s);
  __qorDeleteStream(&copy);
  std::printf("  both deleted: %d shared entries remain\n", zok::rng::shared_table().entry_count);
}

const bool kRegistered = zok::app::register_command(
    {"rng", "rng list      the generator registry: identifiers, names, sizes, members", run_rng, tour_rng,
     100});

}  // namespace

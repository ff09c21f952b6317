// Stream records with a registered generator: creation, copies, state copies, deletion and the
// leapfrog and skip-ahead requests; chunk lists and their sharing through the shared data table.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "streams/shared_data.h"
#include "tests/streams/test_support.h"
#include "zok/core_services.h"
#include "zok/random.h"

namespace {

using zok::rng::shared_table;
using zok::test::block;
using zok::test::chunk_list;
using zok::test::counter_brng;
using zok::test::counter_state;
using zok::test::CounterState;
using zok::test::init_log;
using zok::test::outstanding_blocks;
using zok::test::refcount;

using Streams = zok::test::StreamTest;

bool filled_with(const void* p, int32_t size, unsigned char fill) {
  const auto* b = static_cast<const unsigned char*>(p);
  return std::all_of(b, b + size, [&](unsigned char c) { return c == fill; });
}

std::vector<int32_t> ids(const StreamRecord* s) {
  std::vector<int32_t> out;
  for (const StreamChunk* c = s->chunks; c != nullptr; c = c->next) out.push_back(c->id);
  return out;
}

const StreamChunk* chunk_with_id(const StreamRecord* s, int32_t id) {
  for (const StreamChunk* c = s->chunks; c != nullptr; c = c->next)
    if (c->id == id) return c;
  return nullptr;
}

// NewStreamEx fills the header and seeds once; a failed initialisation still hands over the record.
TEST_F(Streams, NewStreamFillsTheHeaderAndSeedsTheGenerator) {
  init_log() = {};
  StreamRecord* s = make(41, 3);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->brng, brng_);
  EXPECT_EQ(s->created, 1);
  EXPECT_EQ(s->chunks, nullptr);
  EXPECT_EQ(__qorGetStreamStateBrng(s), brng_);
  EXPECT_EQ(init_log().calls, 1);
  EXPECT_EQ(init_log().method, ZOK_RNG_METHOD_SEED);
  EXPECT_EQ(init_log().n, 2);
  uint32_t out[3];
  ASSERT_EQ(__RegBrngsNew[(brng_ >> 20) - 1].generate_i(s, 3, out), 0);
  EXPECT_EQ(out[0], 41u);
  EXPECT_EQ(out[2], 47u);
  EXPECT_EQ(__qorDeleteStream(&s), 0);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(__qorDeleteStream(&s), 0);  // deleting nothing is harmless

  const uint32_t seed = zok::test::kFailingSeed;
  EXPECT_EQ(__qorNewStreamEx(&s, brng_, 1, &seed), zok::test::kFailingStatus);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->brng, brng_);
  __qorDeleteStream(&s);
}

TEST_F(Streams, AllocateStreamMakesAnUninitialisedRecord) {
  init_log() = {};
  const int32_t index = (brng_ >> 20) - 1;
  StreamRecord* s = nullptr;
  ASSERT_EQ(__qorAllocateStream(&s, __RegBrngsNew, brng_, index, 0), 0);
  EXPECT_EQ(init_log().calls, 0);
  EXPECT_EQ(s->brng, brng_);
  EXPECT_EQ(s->created, 1);
  EXPECT_EQ(s->chunks, nullptr);
  __qorDeleteStream(&s);
  EXPECT_EQ(__qorAllocateStream(&s, __RegBrngsNew, brng_, index, 1), ZOK_RNG_ERROR_BAD_BRNG);
  EXPECT_EQ(__qorAllocateStream(&s, __RegBrngsNew, brng_, __qorGetNumRegBrngs(), 0), ZOK_RNG_ERROR_BAD_BRNG);
  EXPECT_EQ(s, nullptr);
}

TEST_F(Streams, CopyHoldsTheWholeStateAndTheChunksInReverse) {
  StreamRecord* src = make(7, 2);
  CounterState* st = counter_state(src);
  st->leap_index = 11;
  st->leap_count = 12;
  st->skipped = 0x1122334455667788u;
  st->tail[0] = 0xCAFEF00Du;
  st->tail[1] = 0xBEEFu;
  const uint64_t key[2] = {0x51, 0x52};
  ASSERT_EQ(__qorAddChunk(src, 1, nullptr, block(24, 0x11), 24), 0);
  ASSERT_EQ(__qorAddChunk(src, 2, key, block(32, 0x22), 32), 0);
  ASSERT_EQ(__qorAddChunk(src, 3, nullptr, block(8, 0x33), 8), 0);
  ASSERT_EQ(ids(src), (std::vector<int32_t>{3, 2, 1}));
  ASSERT_EQ(refcount(key), 1);

  StreamRecord* copy = nullptr;
  ASSERT_EQ(__qorCopyStream(&copy, src), 0);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, src);
  EXPECT_EQ(copy->brng, src->brng);
  EXPECT_EQ(copy->created, 1);
  EXPECT_EQ(std::memcmp(counter_state(copy), st, sizeof(CounterState)), 0);
  EXPECT_EQ(ids(copy), (std::vector<int32_t>{1, 2, 3}));

  // Private blocks are duplicated, the shared one is referenced once more.
  const StreamChunk* a = chunk_with_id(copy, 1);
  EXPECT_NE(a->data, chunk_with_id(src, 1)->data);
  EXPECT_EQ(a->size, 24);
  EXPECT_TRUE(filled_with(a->data, 24, 0x11));
  EXPECT_EQ(a->key[0] | a->key[1], 0u);
  const StreamChunk* b = chunk_with_id(copy, 2);
  EXPECT_EQ(b->data, chunk_with_id(src, 2)->data);
  EXPECT_EQ(b->key[0], key[0]);
  EXPECT_EQ(b->key[1], key[1]);
  EXPECT_EQ(refcount(key), 2);
  EXPECT_TRUE(filled_with(chunk_with_id(copy, 3)->data, 8, 0x33));

  __qorDeleteStream(&src);
  EXPECT_EQ(refcount(key), 1);
  EXPECT_TRUE(filled_with(b->data, 32, 0x22));  // still alive for the copy
  __qorDeleteStream(&copy);
  EXPECT_EQ(refcount(key), -1);
}

TEST_F(Streams, StateCopyOntoItselfChangesNothing) {
  StreamRecord* s = make(9);
  const uint64_t key[2] = {0x61, 0};
  ASSERT_EQ(__qorAddChunk(s, 1, key, block(16, 1), 16), 0);
  ASSERT_EQ(__qorAddChunk(s, 2, nullptr, block(16, 2), 16), 0);
  const auto before = chunk_list(s);
  const CounterState state = *counter_state(s);
  const long blocks = outstanding_blocks();
  EXPECT_EQ(__qorCopyStreamState(s, s), 0);
  EXPECT_EQ(chunk_list(s), before);
  EXPECT_EQ(std::memcmp(counter_state(s), &state, sizeof state), 0);
  EXPECT_EQ(refcount(key), 1);
  EXPECT_EQ(outstanding_blocks(), blocks);
  __qorDeleteStream(&s);
}

TEST_F(Streams, StateCopyTakesTheCoreStateAndTheSourceChunks) {
  StreamRecord* src = make(100, 5);
  StreamRecord* dst = make(200, 6);
  counter_state(src)->leap_index = 1;
  counter_state(dst)->leap_index = 2;
  counter_state(dst)->tail[1] = 99;
  const uint64_t dst_key[2] = {0x71, 0x72};
  const uint64_t src_key[2] = {0x73, 0x74};
  ASSERT_EQ(__qorAddChunk(dst, 10, dst_key, block(8, 0xD1), 8), 0);
  ASSERT_EQ(__qorAddChunk(dst, 11, nullptr, block(8, 0xD2), 8), 0);
  ASSERT_EQ(__qorAddChunk(src, 20, nullptr, block(8, 0x51), 8), 0);
  ASSERT_EQ(__qorAddChunk(src, 21, src_key, block(8, 0x52), 8), 0);

  ASSERT_EQ(__qorCopyStreamState(dst, src), 0);
  // seed_count 2 words of 4 bytes: value and step only.
  EXPECT_EQ(counter_state(dst)->value, 100u);
  EXPECT_EQ(counter_state(dst)->step, 5u);
  EXPECT_EQ(counter_state(dst)->leap_index, 2u);
  EXPECT_EQ(counter_state(dst)->tail[1], 99u);
  EXPECT_EQ(ids(dst), (std::vector<int32_t>{20, 21}));
  EXPECT_EQ(refcount(dst_key), -1);  // dst's only reference went with its chunks
  EXPECT_EQ(refcount(src_key), 2);
  EXPECT_TRUE(filled_with(__qorSearchChunk(dst, 20), 8, 0x51));
  EXPECT_NE(__qorSearchChunk(dst, 20), __qorSearchChunk(src, 20));
  __qorDeleteStream(&src);
  __qorDeleteStream(&dst);
}

// A WH row counts 4 words of 16 bytes while its state region holds 32 bytes: the copy must take all
// 32 and write nothing past the record (the test allocator's guard zone would catch it).
TEST_F(Streams, WhStateCopyTakesItsWholeStateAndStaysInside) {
  StreamRecord* src = nullptr;
  StreamRecord* dst = nullptr;
  ASSERT_EQ(__qorAllocateStream(&src, __RegBrngsNew, ZOK_RNG_WH + 5, 4, 5), 0);
  int32_t index = 0, member = 0;
  const GeneratorProperties* legacy = __qorGetBrngBaseOffset(9, &index, &member);
  ASSERT_EQ(__qorAllocateStream(&dst, legacy, 9, index, member), 0);
  auto* from = reinterpret_cast<unsigned char*>(src) + 16;
  auto* to = reinterpret_cast<unsigned char*>(dst) + 16;
  for (int i = 0; i < 32; ++i) {
    from[i] = static_cast<unsigned char>(i + 1);
    to[i] = 0xEE;
  }
  EXPECT_EQ(__qorCopyStreamState(dst, src), 0);
  EXPECT_EQ(std::memcmp(to, from, 32), 0);
  __qorDeleteStream(&src);
  __qorDeleteStream(&dst);
}

// A generator of the given sizes whose operations do nothing.
int32_t register_once(int32_t state_size, int32_t seed_count) {
  GeneratorProperties row{state_size, seed_count, 1, 4, 32, nullptr, nullptr, nullptr, nullptr};
  row.init_stream = [](int32_t, StreamRecord*, int32_t, const uint32_t*) { return 0; };
  row.generate_s = [](StreamRecord*, int32_t, float*, float, float) { return 0; };
  row.generate_d = [](StreamRecord*, int32_t, double*, double, double) { return 0; };
  row.generate_i = [](StreamRecord*, int32_t, uint32_t*) { return 0; };
  return __qorRegisterBrng(&row);
}

// The core library is meant to pair streams of one generator, but a state copy between generators
// of different sizes must still stay inside the smaller record.
TEST_F(Streams, StateCopyBetweenGeneratorsStaysInsideBothRecords) {
  static const int32_t big = register_once(16 + 96, 24);  // 96-byte core state
  ASSERT_GT(big, 0);
  StreamRecord* src = nullptr;
  ASSERT_EQ(__qorNewStreamEx(&src, big, 0, nullptr), 0);
  std::memset(reinterpret_cast<unsigned char*>(src) + 16, 0x3C, 96);
  StreamRecord* dst = make(1);
  EXPECT_EQ(__qorCopyStreamState(dst, src), 0);
  EXPECT_TRUE(filled_with(counter_state(dst), sizeof(CounterState), 0x3C));
  EXPECT_EQ(dst->brng, brng_);
  __qorDeleteStream(&src);
  __qorDeleteStream(&dst);
}

// A generator may declare a record smaller than the header; its streams still get a whole header.
TEST_F(Streams, HeaderOnlyGeneratorStreamsKeepTheirHeader) {
  static const int32_t tiny = register_once(0, 1);
  ASSERT_GT(tiny, 0);
  StreamRecord* s = nullptr;
  ASSERT_EQ(__qorNewStreamEx(&s, tiny, 0, nullptr), 0);
  EXPECT_EQ(s->brng, tiny);
  EXPECT_EQ(s->created, 1);
  ASSERT_EQ(__qorAddChunk(s, 4, nullptr, block(4, 4), 4), 0);
  StreamRecord* copy = nullptr;
  ASSERT_EQ(__qorCopyStream(&copy, s), 0);
  EXPECT_EQ(copy->brng, tiny);
  EXPECT_EQ(__qorGetNumChunks(copy), 1);
  EXPECT_EQ(__qorCopyStreamState(copy, s), 0);
  __qorDeleteStream(&s);
  __qorDeleteStream(&copy);
}

// Leapfrog refuses a negative count before asking the generator and passes k as a 32-bit word;
// skip-ahead passes the whole 64-bit count.
TEST_F(Streams, LeapfrogAndSkipAheadPassTheirArguments) {
  StreamRecord* s = make(1);
  init_log() = {};
  EXPECT_EQ(__qorLeapfrogStream(s, 0, -1), ZOK_RNG_ERROR_LEAPFROG_COUNT);
  EXPECT_EQ(__qorLeapfrogStream(s, 0, INT_MIN), ZOK_RNG_ERROR_LEAPFROG_COUNT);
  EXPECT_EQ(init_log().calls, 0);

  EXPECT_EQ(__qorLeapfrogStream(s, 3, INT_MAX), 0);
  EXPECT_EQ(init_log().method, ZOK_RNG_METHOD_LEAPFROG);
  EXPECT_EQ(init_log().n, INT_MAX);
  EXPECT_EQ(counter_state(s)->leap_index, 3u);
  EXPECT_EQ(counter_state(s)->leap_count, static_cast<uint32_t>(INT_MAX));
  EXPECT_EQ(__qorLeapfrogStream(s, INT_MAX - 1, INT_MAX), 0);  // k travels as a 32-bit word
  EXPECT_EQ(counter_state(s)->leap_index, 0x7FFFFFFEu);
  EXPECT_EQ(init_log().calls, 2);

  EXPECT_EQ(__qorSkipAheadStream(s, 0x123456789ABCDEF0u), 0);
  EXPECT_EQ(init_log().method, ZOK_RNG_METHOD_SKIP);
  EXPECT_EQ(init_log().n, 2);
  EXPECT_EQ(init_log().skip, 0x123456789ABCDEF0u);
  EXPECT_EQ(counter_state(s)->skipped, 0x123456789ABCDEF0u);
  __qorDeleteStream(&s);
}

TEST_F(Streams, ChunksAreFoundFromTheHead) {
  StreamRecord* s = make(1);
  EXPECT_EQ(__qorGetNumChunks(s), 0);
  EXPECT_EQ(__qorSearchChunk(s, 1), nullptr);
  void* first = block(4, 1);
  void* second = block(4, 2);
  ASSERT_EQ(__qorAddChunk(s, 1, nullptr, first, 4), 0);
  ASSERT_EQ(__qorAddChunk(s, 2, nullptr, block(4, 3), 4), 0);
  ASSERT_EQ(__qorAddChunk(s, 1, nullptr, second, 4), 0);
  EXPECT_EQ(__qorGetNumChunks(s), 3);
  EXPECT_EQ(ids(s), (std::vector<int32_t>{1, 2, 1}));
  EXPECT_EQ(__qorSearchChunk(s, 1), second);  // the later chunk of that id is met first
  EXPECT_EQ(__qorSearchChunk(s, 5), nullptr);
  __qorDeleteStream(&s);
}

TEST_F(Streams, DeleteChunksByIdKeepsTheOthersInOrder) {
  StreamRecord* s = make(1);
  for (int32_t id : {1, 2, 3, 2, 4}) ASSERT_EQ(__qorAddChunk(s, id, nullptr, block(4, 0), 4), 0);
  ASSERT_EQ(ids(s), (std::vector<int32_t>{4, 2, 3, 2, 1}));
  const auto before = chunk_list(s);
  const long blocks = outstanding_blocks();

  EXPECT_EQ(__qorDeleteChunksById(s, 9), 0);
  EXPECT_EQ(chunk_list(s), before);

  EXPECT_EQ(__qorDeleteChunksById(s, 4), 0);  // the head
  EXPECT_EQ(s->chunks, before[1]);
  EXPECT_EQ(ids(s), (std::vector<int32_t>{2, 3, 2, 1}));
  EXPECT_EQ(outstanding_blocks(), blocks - 2);  // the chunk and its block

  EXPECT_EQ(__qorDeleteChunksById(s, 2), 0);  // every chunk of the id
  EXPECT_EQ(ids(s), (std::vector<int32_t>{3, 1}));
  EXPECT_EQ(chunk_list(s), (std::vector<const StreamChunk*>{before[2], before[4]}));
  EXPECT_EQ(__qorDeleteChunksById(s, 1), 0);  // the tail
  EXPECT_EQ(ids(s), (std::vector<int32_t>{3}));

  EXPECT_EQ(__qorDeleteChunks(s), 0);
  EXPECT_EQ(s->chunks, nullptr);
  EXPECT_EQ(outstanding_blocks(), blocks - 10);
  __qorDeleteStream(&s);
}

TEST_F(Streams, AddChunkSharesABlockUnderAHeldKey) {
  StreamRecord* one = make(1);
  StreamRecord* two = make(2);
  const uint64_t key[2] = {0xABC, 0xDEF};
  void* mine = block(16, 0x77);
  ASSERT_EQ(__qorAddChunk(one, 5, key, mine, 16), 0);
  EXPECT_EQ(__qorSearchChunk(one, 5), mine);
  EXPECT_EQ(refcount(key), 1);
  GlobalRODataEntry* entry = nullptr;
  ASSERT_EQ(__qorFindGlobRODataTableEntry(&entry, key), 0);
  EXPECT_EQ(entry->data, mine);

  // The second block is not taken: the chunk points at the shared one and the caller keeps its own.
  void* theirs = block(16, 0x88);
  ASSERT_EQ(__qorAddChunk(two, 6, key, theirs, 16), 0);
  EXPECT_EQ(__qorSearchChunk(two, 6), mine);
  EXPECT_EQ(two->chunks->key[0], key[0]);
  EXPECT_EQ(refcount(key), 2);
  EXPECT_TRUE(filled_with(theirs, 16, 0x88));
  zok_serv_deallocate(theirs);

  // A null or zero key makes a private chunk.
  const uint64_t zero[2] = {0, 0};
  ASSERT_EQ(__qorAddChunk(two, 7, zero, block(4, 1), 4), 0);
  ASSERT_EQ(__qorAddChunk(two, 8, nullptr, block(4, 1), 4), 0);
  EXPECT_EQ(shared_table().entry_count, entries_ + 1);

  __qorDeleteStream(&one);
  EXPECT_TRUE(filled_with(__qorSearchChunk(two, 6), 16, 0x77));
  __qorDeleteStream(&two);
}

TEST_F(Streams, FullTableKeepsNewBlocksPrivate) {
  uint64_t keys[128][2];
  for (int i = 0; i < 127; ++i) {
    keys[i][0] = 0x1000 + i;
    keys[i][1] = 7;
    GlobalRODataEntry* e = nullptr;
    ASSERT_EQ(__qorCreateGlobRODataTableEntry(&e, keys[i], block(8, 0)), 0);
  }
  ASSERT_EQ(shared_table().entry_count, 127);
  StreamRecord* s = make(1);
  const uint64_t fresh[2] = {0x9999, 1};
  void* mine = block(8, 0x44);
  ASSERT_EQ(__qorAddChunk(s, 1, fresh, mine, 8), 0);
  EXPECT_EQ(s->chunks->key[0] | s->chunks->key[1], 0u);
  EXPECT_EQ(s->chunks->data, mine);
  EXPECT_EQ(shared_table().entry_count, 127);
  EXPECT_EQ(refcount(fresh), -1);

  // A held key is still shared.
  void* unused = block(8, 0);
  ASSERT_EQ(__qorAddChunk(s, 2, keys[3], unused, 8), 0);
  EXPECT_EQ(refcount(keys[3]), 2);
  zok_serv_deallocate(unused);

  // A copy meeting a key the table does not hold enters it only below 127 entries.
  StreamRecord* src = make(2);
  ASSERT_EQ(__qorAddChunk(src, 3, nullptr, block(8, 0x45), 8), 0);
  src->chunks->key[0] = 0x5555;
  src->chunks->key[1] = 5;
  StreamRecord* copy = nullptr;
  ASSERT_EQ(__qorCopyStream(&copy, src), 0);
  EXPECT_EQ(copy->chunks->key[0] | copy->chunks->key[1], 0u);
  EXPECT_EQ(shared_table().entry_count, 127);
  __qorDeleteStream(&copy);

  // The last slot is left for direct entries.
  keys[127][0] = 0x2000;
  keys[127][1] = 7;
  GlobalRODataEntry* e = nullptr;
  ASSERT_EQ(__qorCreateGlobRODataTableEntry(&e, keys[127], block(8, 0)), 0);
  const uint64_t extra[2] = {0x3000, 7};
  EXPECT_EQ(__qorCreateGlobRODataTableEntry(&e, extra, nullptr), ZOK_RNG_ERROR_SHARED_FULL);
  EXPECT_EQ(shared_table().entry_count, 128);

  for (auto& k : keys) EXPECT_EQ(__qorUnregisterGlobRODataReference(k), 0);
  EXPECT_EQ(refcount(keys[3]), 1);  // s still references it
  __qorDeleteStream(&s);

  // Below 127 entries the copy enters the key with its own copy of the block.
  ASSERT_EQ(__qorCopyStream(&copy, src), 0);
  EXPECT_EQ(copy->chunks->key[0], 0x5555u);
  EXPECT_EQ(refcount(src->chunks->key), 1);
  EXPECT_NE(copy->chunks->data, src->chunks->data);
  EXPECT_TRUE(filled_with(copy->chunks->data, 8, 0x45));
  __qorDeleteStream(&copy);
  src->chunks->key[0] = src->chunks->key[1] = 0;  // the block is src's own again
  __qorDeleteStream(&src);
}

TEST_F(Streams, SharedEntriesCountTheirReferences) {
  const uint64_t key[2] = {0x42, 0x43};
  const uint64_t zero[2] = {0, 0};
  GlobalRODataEntry* e = nullptr;
  EXPECT_EQ(__qorFindGlobRODataTableEntry(&e, nullptr), ZOK_RNG_ERROR_SHARED_KEY);
  EXPECT_EQ(__qorFindGlobRODataTableEntry(&e, zero), ZOK_RNG_ERROR_SHARED_KEY);
  EXPECT_EQ(__qorFindGlobRODataTableEntry(&e, key), ZOK_RNG_ERROR_SHARED_KEY);
  EXPECT_EQ(__qorCreateGlobRODataTableEntry(&e, zero, nullptr), ZOK_RNG_ERROR_SHARED_KEY);

  void* data = block(32, 0x5E);
  ASSERT_EQ(__qorCreateGlobRODataTableEntry(&e, key, data), 0);
  EXPECT_EQ(e->refcount, 1);
  GlobalRODataEntry* found = nullptr;
  ASSERT_EQ(__qorFindGlobRODataTableEntry(&found, key), 0);
  EXPECT_EQ(found, e);
  EXPECT_EQ(found->data, data);

  void* holder[2] = {nullptr, nullptr};
  EXPECT_EQ(__qorRegisterGlobRODataReference(holder, key), 0);
  EXPECT_EQ(holder[1], data);
  EXPECT_EQ(holder[0], nullptr);
  EXPECT_EQ(refcount(key), 2);
  const uint64_t other[2] = {0x42, 0x44};
  void* untouched[2] = {nullptr, nullptr};
  EXPECT_EQ(__qorRegisterGlobRODataReference(untouched, other), ZOK_RNG_ERROR_SHARED_KEY);
  EXPECT_EQ(untouched[1], nullptr);

  const long blocks = outstanding_blocks();
  EXPECT_EQ(__qorUnregisterGlobRODataReference(key), 0);
  EXPECT_EQ(refcount(key), 1);
  EXPECT_EQ(outstanding_blocks(), blocks);
  EXPECT_EQ(__qorUnregisterGlobRODataReference(key), 0);
  EXPECT_EQ(refcount(key), -1);
  EXPECT_EQ(outstanding_blocks(), blocks - 1);  // the last reference freed the block
  EXPECT_EQ(__qorUnregisterGlobRODataReference(key), ZOK_RNG_ERROR_SHARED_KEY);
}

TEST_F(Streams, ReleasedEntryIsFilledByTheLastOne) {
  const uint64_t k[3][2] = {{1, 1}, {2, 2}, {3, 3}};
  for (const auto& key : k) {
    GlobalRODataEntry* e = nullptr;
    ASSERT_EQ(__qorCreateGlobRODataTableEntry(&e, key, block(4, 0)), 0);
  }
  ASSERT_EQ(__qorUnregisterGlobRODataReference(k[0]), 0);
  EXPECT_EQ(shared_table().entry_count, entries_ + 2);
  GlobalRODataEntry* e = nullptr;
  ASSERT_EQ(__qorFindGlobRODataTableEntry(&e, k[2]), 0);
  EXPECT_EQ(e, &shared_table().entries[entries_]);
  ASSERT_EQ(__qorFindGlobRODataTableEntry(&e, k[1]), 0);
  EXPECT_EQ(e, &shared_table().entries[entries_ + 1]);
  EXPECT_EQ(__qorUnregisterGlobRODataReference(k[1]), 0);
  EXPECT_EQ(__qorUnregisterGlobRODataReference(k[2]), 0);
}

uint64_t g_counter_values[4];
int g_counter_reads = 0;
uint64_t fake_counter() {
  return g_counter_values[g_counter_reads++];
}

TEST_F(Streams, NewEntryIdsAvoidHeldKeys) {
  uint64_t key[2] = {0, 0};
  ASSERT_EQ(__qorGenerateNewGlobalRODataTableEntryId(key, 0x7A6), 0);
  EXPECT_EQ(key[1], 0x7A6u);
  EXPECT_EQ(refcount(key), -1);

  // A counter reading that names a held key is read again.
  const uint64_t held[2][2] = {{500, 9}, {501, 9}};
  for (const auto& k : held) {
    GlobalRODataEntry* e = nullptr;
    ASSERT_EQ(__qorCreateGlobRODataTableEntry(&e, k, nullptr), 0);
  }
  const uint64_t readings[4] = {500, 501, 502, 503};
  std::memcpy(g_counter_values, readings, sizeof readings);
  g_counter_reads = 0;
  zok::rng::generate_entry_id(key, 9, fake_counter);
  EXPECT_EQ(key[0], 502u);
  EXPECT_EQ(key[1], 9u);
  EXPECT_EQ(g_counter_reads, 3);
  // The same readings under another tag name no held key.
  g_counter_reads = 0;
  zok::rng::generate_entry_id(key, 8, fake_counter);
  EXPECT_EQ(key[0], 500u);
  EXPECT_EQ(g_counter_reads, 1);
  for (const auto& k : held) EXPECT_EQ(__qorUnregisterGlobRODataReference(k), 0);
}

}  // namespace

// Streams and chunks under allocation failure (every allocation of an operation made to fail in
// turn), under arguments a careless caller passes, and under several threads sharing keys through
// the shared data table.
#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <climits>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "streams/shared_data.h"
#include "tests/streams/test_support.h"
#include "zok/core_services.h"
#include "zok/random.h"

namespace {

using zok::rng::shared_table;
using zok::test::allocations_since_armed;
using zok::test::block;
using zok::test::chunk_list;
using zok::test::counter_brng;
using zok::test::counter_state;
using zok::test::CounterState;
using zok::test::fail_allocation;
using zok::test::init_log;
using zok::test::outstanding_blocks;
using zok::test::refcount;
using zok::test::sweep;

using Robustness = zok::test::StreamTest;

// Constructors take one allocation and hand out no record when it fails.
TEST_F(Robustness, ConstructorsFailCleanly) {
  StreamRecord* s = nullptr;
  const uint32_t seed = 3;
  EXPECT_EQ(sweep([&] { return __qorNewStreamEx(&s, brng_, 1, &seed); }, [&] { EXPECT_EQ(s, nullptr); }), 1);
  __qorDeleteStream(&s);
  const int32_t index = (brng_ >> 20) - 1;
  EXPECT_EQ(sweep([&] { return __qorAllocateStream(&s, __RegBrngsNew, brng_, index, 0); },
                  [&] { EXPECT_EQ(s, nullptr); }),
            1);
  __qorDeleteStream(&s);
}

// A failed AddChunk neither links a chunk nor enters the key.
TEST_F(Robustness, AddChunkFailsWithoutTakingTheBlock) {
  StreamRecord* s = make(1);
  const uint64_t key[2] = {0xF1, 0xF2};
  void* mine = block(8, 1);
  EXPECT_EQ(sweep([&] { return __qorAddChunk(s, 1, key, mine, 8); },
                  [&] {
                    EXPECT_EQ(s->chunks, nullptr);
                    EXPECT_EQ(refcount(key), -1);
                  }),
            1);
  EXPECT_EQ(refcount(key), 1);
  __qorDeleteStream(&s);
}

// Every allocation of each copy made to fail in turn hands out nothing half made and leaves the shared
// key's count alone. The source's chunks take every path: private, shared, private without a block.
TEST_F(Robustness, CopiesFailCleanly) {
  const uint64_t key[2] = {0xE1, 0xE2};
  StreamRecord* src = make(5);
  ASSERT_EQ(__qorAddChunk(src, 1, nullptr, block(16, 0x11), 16), 0);
  ASSERT_EQ(__qorAddChunk(src, 2, key, block(16, 0x22), 16), 0);
  ASSERT_EQ(__qorAddChunk(src, 3, nullptr, nullptr, 0), 0);

  // The record, then for the chunks: 1 (no block), 1 (shared), 2 (chunk and its copy).
  StreamRecord* copy = reinterpret_cast<StreamRecord*>(0x1);
  EXPECT_EQ(sweep([&] { return __qorCopyStream(&copy, src); },
                  [&] {
                    EXPECT_EQ(copy, nullptr);
                    EXPECT_EQ(refcount(key), 1);
                  }),
            5);
  EXPECT_EQ(__qorGetNumChunks(copy), 3);
  EXPECT_EQ(refcount(key), 2);
  __qorDeleteStream(&copy);

  // CopyChunks leaves the destination's own chunks as they were.
  StreamRecord* dst = make(6);
  ASSERT_EQ(__qorAddChunk(dst, 9, nullptr, block(4, 9), 4), 0);
  void* unused = block(16, 9);
  ASSERT_EQ(__qorAddChunk(dst, 2, key, unused, 16), 0);  // shared: the block stays ours
  zok_serv_deallocate(unused);
  const auto before = chunk_list(dst);
  EXPECT_EQ(sweep([&] { return __qorCopyChunks(dst, src); },
                  [&] {
                    EXPECT_EQ(chunk_list(dst), before);
                    EXPECT_EQ(refcount(key), 2);
                  }),
            4);
  EXPECT_EQ(__qorGetNumChunks(dst), 5);
  EXPECT_EQ(refcount(key), 3);
  __qorDeleteStream(&dst);

  // A failed CopyStreamState leaves everything of the destination as it was: its state, its chunks
  // and the count of the key it shares; a whole one replaces both.
  dst = make(6, 7);
  ASSERT_EQ(__qorAddChunk(dst, 8, nullptr, block(4, 8), 4), 0);
  unused = block(16, 9);
  ASSERT_EQ(__qorAddChunk(dst, 2, key, unused, 16), 0);
  zok_serv_deallocate(unused);
  const CounterState state = *counter_state(dst);
  const auto own = chunk_list(dst);
  EXPECT_EQ(sweep([&] { return __qorCopyStreamState(dst, src); },
                  [&] {
                    EXPECT_EQ(std::memcmp(counter_state(dst), &state, sizeof state), 0);
                    EXPECT_EQ(chunk_list(dst), own);
                    EXPECT_EQ(refcount(key), 2);
                  }),
            4);
  EXPECT_EQ(counter_state(dst)->value, 5u);
  EXPECT_EQ(__qorGetNumChunks(dst), 3);
  EXPECT_EQ(__qorSearchChunk(dst, 8), nullptr);
  EXPECT_EQ(refcount(key), 2);
  __qorDeleteStream(&dst);
  __qorDeleteStream(&src);
}

// A negative size, or a null block with a positive size, is refused before anything is allocated,
// linked or entered: a copy of such a chunk would read size bytes (a negative size as about 4 GiB)
// from the block. A null block of size 0 is a chunk without data and stays accepted.
TEST_F(Robustness, AddChunkRefusesSizesItsBlockCannotBack) {
  StreamRecord* s = make(1);
  const uint64_t key[2] = {0xB1, 0xB2};
  // An accepted block passes to the stream, so only a refused one is given back here.
  auto add = [&](const uint64_t* k, bool with_block, int32_t size) {
    void* b = with_block ? block(8, 3) : nullptr;
    const int32_t status = __qorAddChunk(s, 1, k, b, size);
    if (status != 0) zok_serv_deallocate(b);
    return status;
  };
  const long blocks = outstanding_blocks();
  for (const int32_t size : {-1, -8, INT_MIN}) {
    EXPECT_EQ(add(nullptr, true, size), ZOK_RNG_ERROR_BAD_ARGUMENT) << size;
    EXPECT_EQ(add(key, true, size), ZOK_RNG_ERROR_BAD_ARGUMENT) << size;
    EXPECT_EQ(add(nullptr, false, size), ZOK_RNG_ERROR_BAD_ARGUMENT) << size;
  }
  for (const int32_t size : {1, 8, INT_MAX}) {
    EXPECT_EQ(add(nullptr, false, size), ZOK_RNG_ERROR_BAD_ARGUMENT) << size;
    EXPECT_EQ(add(key, false, size), ZOK_RNG_ERROR_BAD_ARGUMENT) << size;
  }
  EXPECT_EQ(s->chunks, nullptr);
  EXPECT_EQ(refcount(key), -1);
  EXPECT_EQ(outstanding_blocks(), blocks);

  ASSERT_EQ(add(nullptr, false, 0), 0);
  ASSERT_EQ(add(key, true, 8), 0);
  StreamRecord* copy = nullptr;
  ASSERT_EQ(__qorCopyStream(&copy, s), 0);
  EXPECT_EQ(__qorGetNumChunks(copy), 2);
  EXPECT_EQ(refcount(key), 2);
  __qorDeleteStream(&copy);
  __qorDeleteStream(&s);
}

// Leapfrog into no streams at all, or to an index outside 0..nstreams-1, is refused before the
// generator is asked; MCG31M1 would otherwise take multiplier a^0 = 1 and repeat one number.
TEST_F(Robustness, LeapfrogRefusesSplitsThatHaveNoSuchStream) {
  StreamRecord* s = make(1);
  init_log() = {};
  const std::pair<int32_t, int32_t> refused[] = {
      {0, 0},      {1, 0},  {-1, 0},      {1, 1},  {5, 5},
      {6, 5},      {-1, 5}, {INT_MIN, 3}, {0, -1}, {INT_MAX, INT_MAX},
      {INT_MAX, 0}};
  for (const auto& [k, n] : refused)
    EXPECT_EQ(__qorLeapfrogStream(s, k, n), ZOK_RNG_ERROR_LEAPFROG_COUNT) << k << " of " << n;
  EXPECT_EQ(init_log().calls, 0);
  EXPECT_EQ(__qorLeapfrogStream(s, 0, 1), 0);
  EXPECT_EQ(__qorLeapfrogStream(s, 4, 5), 0);
  EXPECT_EQ(init_log().calls, 2);
  __qorDeleteStream(&s);

  const uint32_t seed = 1;
  StreamRecord* refused_mcg = nullptr;
  StreamRecord* untouched = nullptr;
  ASSERT_EQ(__qorNewStreamEx(&refused_mcg, ZOK_RNG_MCG31M1, 1, &seed), 0);
  ASSERT_EQ(__qorNewStreamEx(&untouched, ZOK_RNG_MCG31M1, 1, &seed), 0);
  EXPECT_EQ(__qorLeapfrogStream(refused_mcg, 0, 0), ZOK_RNG_ERROR_LEAPFROG_COUNT);
  EXPECT_EQ(__qorLeapfrogStream(refused_mcg, 3, 3), ZOK_RNG_ERROR_LEAPFROG_COUNT);
  uint32_t got[8], want[8];
  ASSERT_EQ(__qoriBRngMCG31M1(refused_mcg, 8, got), 0);
  ASSERT_EQ(__qoriBRngMCG31M1(untouched, 8, want), 0);
  EXPECT_EQ(std::memcmp(got, want, sizeof got), 0);
  EXPECT_NE(got[1], got[2]);
  __qorDeleteStream(&refused_mcg);
  __qorDeleteStream(&untouched);
}

// Skip-ahead of the shift-register generators with each of its allocations failing in turn (the
// polynomial's work space, the window table, the working state) reports -4, gives every block back
// and leaves the stream as it was; both jump methods are reached.
TEST_F(Robustness, SkipAheadFailsCleanlyAtEveryAllocation) {
  const uint32_t seed = 17;
  for (int32_t brng : {ZOK_RNG_MT19937, ZOK_RNG_SFMT19937}) {
    for (uint64_t skip : {5000ull, 1ull << 40}) {
      SCOPED_TRACE(::testing::Message() << brng << " skip " << skip);
      StreamRecord* s = nullptr;
      ASSERT_EQ(__qorNewStreamEx(&s, brng, 1, &seed), 0);
      uint32_t words[9];
      ASSERT_EQ(__RegBrngsNew[(brng >> 20) - 1].generate_i(s, 9, words), 0);
      const int32_t bytes = __RegBrngsNew[(brng >> 20) - 1].state_size;
      const std::vector<unsigned char> before(reinterpret_cast<unsigned char*>(s),
                                              reinterpret_cast<unsigned char*>(s) + bytes);
      const int failed = sweep([&] { return __qorSkipAheadStream(s, skip); },
                               [&] { EXPECT_EQ(std::memcmp(s, before.data(), bytes), 0); });
      EXPECT_GE(failed, skip > 20000 ? 3 : 1);
      __qorDeleteStream(&s);
    }
  }
}

// Threads make, copy and delete streams whose chunks share three keys; afterwards each key's count
// must equal the chunks that reference it, and deleting everything must empty the table.
TEST_F(Robustness, ThreadsShareKeysWithoutLosingReferences) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 400;
  // Few kept streams, so that keys often lose their last reference while others take new ones.
  constexpr size_t kKeep = 1;
  const uint64_t keys[3][2] = {{0xC1, 1}, {0xC2, 2}, {0xC3, 3}};
  std::vector<std::vector<StreamRecord*>> kept(kThreads);
  std::atomic<int> failures{0};
  std::atomic<int> wrong_blocks{0};

  auto work = [&](int t) {
    std::vector<StreamRecord*>& mine = kept[t];
    for (int r = 0; r < kRounds; ++r) {
      const int k = (t + r) % 3;
      const unsigned char fill = static_cast<unsigned char>(0xC1 + k);
      StreamRecord* s = nullptr;
      const uint32_t seed = static_cast<uint32_t>(r + 1);
      if (__qorNewStreamEx(&s, brng_, 1, &seed) != 0) ++failures;
      void* own = block(16, fill);
      if (__qorAddChunk(s, 100 + k, keys[k], own, 16) != 0) ++failures;
      void* used = __qorSearchChunk(s, 100 + k);
      if (used != own) zok_serv_deallocate(own);  // the key was shared already
      for (int i = 0; i < 16; ++i)
        if (static_cast<unsigned char*>(used)[i] != fill) ++wrong_blocks;
      if (__qorAddChunk(s, 1, nullptr, block(8, static_cast<unsigned char>(t)), 8) != 0) ++failures;
      StreamRecord* copy = nullptr;
      if (__qorCopyStream(&copy, s) != 0) ++failures;
      if (!mine.empty() && r % 3 == 0 && __qorCopyStreamState(mine.back(), s) != 0) ++failures;
      __qorDeleteStream(&s);
      mine.push_back(copy);
      if (mine.size() > kKeep) {
        __qorDeleteStream(&mine.front());
        mine.erase(mine.begin());
      }
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(work, t);
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(wrong_blocks.load(), 0);

  for (int k = 0; k < 3; ++k) {
    int32_t references = 0;
    GlobalRODataEntry* e = nullptr;
    const bool held = __qorFindGlobRODataTableEntry(&e, keys[k]) == 0;
    for (const auto& list : kept)
      for (const StreamRecord* s : list)
        for (const StreamChunk* c = s->chunks; c != nullptr; c = c->next)
          if (c->key[0] == keys[k][0] && c->key[1] == keys[k][1]) {
            ++references;
            ASSERT_TRUE(held);
            EXPECT_EQ(c->data, e->data);
          }
    EXPECT_EQ(held ? e->refcount : 0, references) << "key " << k;
  }
  for (auto& list : kept)
    for (StreamRecord*& s : list) __qorDeleteStream(&s);
}

// All threads enter the same new key at once, round after round: exactly one entry may appear,
// counting every thread's chunk, and it must go with the last chunk.
TEST_F(Robustness, ThreadsEnteringOneNewKeyMakeOneEntry) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 300;
  std::barrier sync(kThreads);
  std::vector<StreamRecord*> streams(kThreads, nullptr);
  std::atomic<int> failures{0};
  int bad_rounds = 0;  // written by thread 0 only

  auto work = [&](int t) {
    for (int r = 0; r < kRounds; ++r) {
      const uint64_t key[2] = {0xD000u + static_cast<uint64_t>(r), 7};
      const uint32_t seed = 1;
      if (__qorNewStreamEx(&streams[t], brng_, 1, &seed) != 0) ++failures;
      void* own = block(16, static_cast<unsigned char>(r));
      sync.arrive_and_wait();
      if (__qorAddChunk(streams[t], 1, key, own, 16) != 0) ++failures;
      if (__qorSearchChunk(streams[t], 1) != own) zok_serv_deallocate(own);
      sync.arrive_and_wait();
      if (t == 0) {
        const auto& table = shared_table();
        int entries = 0;
        int32_t refs = 0;
        for (int32_t i = 0; i < table.entry_count; ++i)
          if (table.entries[i].key[0] == key[0] && table.entries[i].key[1] == key[1]) {
            ++entries;
            refs = table.entries[i].refcount;
          }
        bool one_block = true;
        for (const StreamRecord* s : streams)
          one_block = one_block && s->chunks->data == streams[0]->chunks->data;
        if (entries != 1 || refs != kThreads || !one_block) ++bad_rounds;
      }
      sync.arrive_and_wait();
      StreamRecord* copy = nullptr;
      if (__qorCopyStream(&copy, streams[t]) != 0) ++failures;
      __qorDeleteStream(&streams[t]);
      __qorDeleteStream(&copy);
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(work, t);
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(bad_rounds, 0);
}

// Seeding SOBOL and NIEDERR from the caller's polynomials or tables with each allocation failing in
// turn (the table, the point, the chunk records) reports -4, gives every block back and leaves a
// stream that still generates.
TEST_F(Robustness, QuasiSeedingFailsCleanlyAtEveryAllocation) {
  for (const auto& [brng, kind] :
       {std::pair{ZOK_RNG_SOBOL, 4u}, std::pair{ZOK_RNG_NIEDERR, 4u}, std::pair{ZOK_RNG_NIEDERR, 1u}}) {
    std::vector<uint32_t> seeds(3 + 32 * 5, 7);  // five dimensions: polynomials or numbers 7
    seeds[0] = 5, seeds[1] = 1, seeds[2] = kind;
    StreamRecord* s = nullptr;
    ASSERT_EQ(__qorNewStreamEx(&s, brng, 1, seeds.data()), 0);
    const auto& row = __RegBrngsNew[(brng >> 20) - 1];
    uint32_t w[12];
    EXPECT_GE(sweep([&] { return row.init_stream(0, s, static_cast<int32_t>(seeds.size()), seeds.data()); },
                    [&] { EXPECT_EQ(row.generate_i(s, 12, w), 0); }),
              2)
        << brng << " kind " << kind;
    __qorDeleteStream(&s);
  }
}

}  // namespace

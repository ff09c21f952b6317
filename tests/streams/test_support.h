// Helpers for stream tests: the counting, guarding allocator of tests/support and a small
// registered generator that records the requests it receives.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tests/support/alloc_hook.h"
#include "zok/random.h"

namespace zok::test {

// State of the counter generator behind the 16-byte header. Its core state (seed_count 2 words of
// 4 bytes) is value and step; the rest is bookkeeping that a state copy must leave alone.
struct CounterState {
  uint32_t value;
  uint32_t step;
  uint32_t leap_index;
  uint32_t leap_count;
  uint64_t skipped;
  uint64_t tail[2];
};
inline constexpr int32_t kCounterStateSize = 16 + static_cast<int32_t>(sizeof(CounterState));

// Initialisation with this first seed word fails with kFailingStatus.
inline constexpr uint32_t kFailingSeed = 0xDEAD;
inline constexpr int32_t kFailingStatus = -7;

// What the calling thread's last init_stream request was.
struct InitLog {
  int calls;
  int32_t method;
  int32_t n;
  uint32_t first_param;
  uint64_t skip;
};
InitLog& init_log();

// The counter generator's identifier; registered on first use.
int32_t counter_brng();
inline CounterState* counter_state(StreamRecord* s) {
  return reinterpret_cast<CounterState*>(reinterpret_cast<unsigned char*>(s) + 16);
}

// A fixture whose tests must end with what they started with: no block and no shared entry left
// behind. make() creates a stream of the counter generator.
class StreamTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  StreamRecord* make(uint32_t seed, uint32_t step = 1);

  int32_t brng_ = 0;
  long blocks_ = 0;
  int32_t entries_ = 0;
};

// A core-allocated block of `size` bytes filled with `fill`.
void* block(int32_t size, unsigned char fill);
// The chunks of a stream, head first.
std::vector<const StreamChunk*> chunk_list(const StreamRecord* s);
// The shared entry's reference count, -1 when the key is not held.
int32_t refcount(const uint64_t* key);

// Runs op with its k-th allocation failing, k = 1, 2, ... until a run needs fewer than k; each failed
// run must report -4, give back every block and pass `check`. Returns the number of failed runs.
template <typename Op, typename Check>
int sweep(Op op, Check check) {
  for (long k = 1; k < 64; ++k) {
    const long blocks = outstanding_blocks();
    fail_allocation(k);
    const int32_t status = op();
    const bool failed = allocations_since_armed() >= k;
    fail_allocation(0);
    if (!failed) {
      EXPECT_EQ(status, 0);
      return static_cast<int>(k - 1);
    }
    EXPECT_EQ(status, ZOK_RNG_ERROR_MEMORY) << "allocation " << k;
    EXPECT_EQ(outstanding_blocks(), blocks) << "allocation " << k;
    check();
  }
  ADD_FAILURE() << "operation never succeeded";
  return -1;
}

}  // namespace zok::test

// The process-wide table of shared read-only data blocks as the chunk code uses it: every lookup
// and the update it decides on happen under one hold of the table's spin lock.
#pragma once

#include <cstdint>

#include "zok/random.h"

namespace zok::rng {

inline constexpr int32_t kSharedCapacity = 128;
// Chunks enter new keys only while fewer entries than this are live; one slot stays for
// __qorCreateGlobRODataTableEntry.
inline constexpr int32_t kChunkEntryLimit = 127;

struct GlobalRODataTable {
  GlobalRODataEntry entries[kSharedCapacity];
  int32_t entry_count;
  int32_t lock;
};

// The table itself, for inspection by tests and tools; hold no pointer into it across calls.
GlobalRODataTable& shared_table();

inline bool key_is_zero(const uint64_t* key) {
  return key == nullptr || (key[0] == 0 && key[1] == 0);
}

// When `key` is held, counts one more reference, stores its block in *block and returns true.
bool acquire_shared(const uint64_t* key, void** block);

enum class Sharing {
  kShared,    // the key was held: *block is the shared block, the caller's block is not used
  kEntered,   // the caller's block now belongs to the table under `key`
  kPrivate,   // the table is too full: the caller's block stays private
  kMismatch,  // the key is held for a block of another size: nothing shared, nothing entered
};
// Shares `data`, `size` bytes, under `key` (non-zero) as the chunk operations do. The table keeps
// the size of every block a chunk entered, so that no chunk is ever pointed at a shorter block;
// blocks entered through __qorCreateGlobRODataTableEntry have no known size and are not checked.
Sharing share_block(const uint64_t* key, void* data, int64_t size, void** block);

// Drops one reference to `key`; the last one frees the block. Returns false when the key is not
// held, in which case the caller's block is its own to free.
bool release_shared(const uint64_t* key);

using CounterFn = uint64_t (*)();
// key = {counter(), tag}, with the counter read again while a live entry holds that key.
void generate_entry_id(uint64_t* key, uint64_t tag, CounterFn counter);

}  // namespace zok::rng

// The shared read-only data table: 128 entries under a spin lock, its five exported operations and
// the reference counting that chunks rely on.
#include "streams/shared_data.h"

#include <x86intrin.h>

#include <atomic>
#include <cstddef>

#include "zok/core_services.h"

namespace zok::rng {

static_assert(offsetof(GlobalRODataEntry, refcount) == 16);
static_assert(offsetof(GlobalRODataEntry, data) == 24);
static_assert(sizeof(GlobalRODataEntry) == 32);

namespace {

constinit GlobalRODataTable g_table = {};
// The byte size of each live entry's block, slot for slot; -1 where it is not known.
constinit int64_t g_sizes[kSharedCapacity] = {};

// Holds are a few dozen compares long, so spinning beats sleeping.
class TableLock {
 public:
  TableLock() : word_(g_table.lock) {
    int32_t expected = 0;
    while (!word_.compare_exchange_weak(expected, 1, std::memory_order_acquire, std::memory_order_relaxed)) {
      expected = 0;
      __builtin_ia32_pause();
    }
  }
  ~TableLock() { word_.store(0, std::memory_order_release); }
  TableLock(const TableLock&) = delete;
  TableLock& operator=(const TableLock&) = delete;

 private:
  std::atomic_ref<int32_t> word_;
};

int32_t find_locked(const uint64_t* key) {
  for (int32_t i = 0; i < g_table.entry_count; ++i)
    if (g_table.entries[i].key[0] == key[0] && g_table.entries[i].key[1] == key[1]) return i;
  return -1;
}

GlobalRODataEntry* append_locked(const uint64_t* key, void* data, int64_t size) {
  g_sizes[g_table.entry_count] = size;
  GlobalRODataEntry& e = g_table.entries[g_table.entry_count++];
  e.key[0] = key[0];
  e.key[1] = key[1];
  e.refcount = 1;
  e.data = data;
  return &e;
}

// Drops one reference of live entry i. When it was the last, the last live entry fills the slot and
// the block is returned so that it is freed outside the lock.
void* drop_locked(int32_t i) {
  if (--g_table.entries[i].refcount > 0) return nullptr;
  void* data = g_table.entries[i].data;
  const int32_t last = --g_table.entry_count;
  g_table.entries[i] = g_table.entries[last];
  g_sizes[i] = g_sizes[last];
  g_table.entries[last] = GlobalRODataEntry{};
  return data;
}

uint64_t read_time_stamp_counter() {
  return __rdtsc();
}

}  // namespace

GlobalRODataTable& shared_table() {
  return g_table;
}

bool acquire_shared(const uint64_t* key, void** block) {
  if (key_is_zero(key)) return false;
  TableLock hold;
  const int32_t i = find_locked(key);
  if (i < 0) return false;
  ++g_table.entries[i].refcount;
  *block = g_table.entries[i].data;
  return true;
}

Sharing share_block(const uint64_t* key, void* data, int64_t size, void** block) {
  // Lookup and append share one hold, so two streams entering the same new key at once cannot
  // both append it.
  TableLock hold;
  const int32_t i = find_locked(key);
  if (i >= 0) {
    if (g_sizes[i] >= 0 && g_sizes[i] != size) return Sharing::kMismatch;
    ++g_table.entries[i].refcount;
    *block = g_table.entries[i].data;
    return Sharing::kShared;
  }
  *block = data;
  if (g_table.entry_count >= kChunkEntryLimit) return Sharing::kPrivate;
  append_locked(key, data, size);
  return Sharing::kEntered;
}

bool release_shared(const uint64_t* key) {
  if (key_is_zero(key)) return false;
  void* unused = nullptr;
  {
    TableLock hold;
    const int32_t i = find_locked(key);
    if (i < 0) return false;
    unused = drop_locked(i);
  }
  zok_serv_deallocate(unused);
  return true;
}

void generate_entry_id(uint64_t* key, uint64_t tag, CounterFn counter) {
  for (;;) {
    key[0] = counter();
    key[1] = tag;
    if (key_is_zero(key)) return;
    TableLock hold;
    if (find_locked(key) < 0) return;
  }
}

}  // namespace zok::rng

using namespace zok::rng;

extern "C" {

int32_t __qorFindGlobRODataTableEntry(GlobalRODataEntry** entry, const uint64_t* key) {
  if (key_is_zero(key)) return ZOK_RNG_ERROR_SHARED_KEY;
  TableLock hold;
  const int32_t i = find_locked(key);
  if (i < 0) return ZOK_RNG_ERROR_SHARED_KEY;
  *entry = &g_table.entries[i];
  return ZOK_RNG_STATUS_OK;
}

int32_t __qorCreateGlobRODataTableEntry(GlobalRODataEntry** entry, const uint64_t* key, void* data) {
  // A zero key could never be found again, so its entry would live for ever.
  if (key_is_zero(key)) return ZOK_RNG_ERROR_SHARED_KEY;
  TableLock hold;
  if (g_table.entry_count >= kSharedCapacity) return ZOK_RNG_ERROR_SHARED_FULL;
  *entry = append_locked(key, data, -1);
  return ZOK_RNG_STATUS_OK;
}

int32_t __qorRegisterGlobRODataReference(void* holder, const uint64_t* key) {
  if (holder == nullptr || key_is_zero(key)) return ZOK_RNG_ERROR_SHARED_KEY;
  void* block = nullptr;
  if (!acquire_shared(key, &block)) return ZOK_RNG_ERROR_SHARED_KEY;
  static_cast<void**>(holder)[1] = block;
  return ZOK_RNG_STATUS_OK;
}

int32_t __qorUnregisterGlobRODataReference(const uint64_t* key) {
  return release_shared(key) ? ZOK_RNG_STATUS_OK : ZOK_RNG_ERROR_SHARED_KEY;
}

int32_t __qorGenerateNewGlobalRODataTableEntryId(uint64_t* key, uint64_t tag) {
  if (key == nullptr) return ZOK_RNG_ERROR_SHARED_KEY;
  generate_entry_id(key, tag, read_time_stamp_counter);
  return ZOK_RNG_STATUS_OK;
}

}  // extern "C"

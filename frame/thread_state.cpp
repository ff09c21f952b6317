// Per-thread vector-math records on a pthread key and the private heap; load and unload hooks;
// the mode word and its environment option; the exported mode services.
#include "frame/thread_state.h"

#include <pthread.h>

#include <atomic>
#include <cstring>

#include "frame/private_heap.h"
#include "zok/core_services.h"

namespace zok::vm {

namespace {

constexpr uint32_t kNoSlot = 0xFFFFFFFFu;
constexpr size_t kHeapInitialBytes = 32;
constexpr int kStateMessage = 760;
constexpr int kStateExitCode = 3;

static_assert(sizeof(pthread_key_t) <= sizeof(uint32_t));
static_assert(sizeof(ThreadState) <= kHeapCellSize);

std::atomic<uint32_t> g_slot{kNoSlot};
std::atomic<PrivateHeap*> g_heap{nullptr};
int g_slot_lock = 0;
int g_heap_lock = 0;

// Runs at thread exit with the thread's record (the key's value is already cleared).
void release_record(void* record) {
  if (t_record == record) t_record = nullptr;
  if (PrivateHeap* heap = g_heap.load(std::memory_order_acquire)) heap_free(heap, record);
}

void report_state_failure() {
  zok_serv_print(1, kStateMessage, 0);
}

[[noreturn]] void fail_state() {
  report_state_failure();
  zok_serv_exit(kStateExitCode);
  __builtin_unreachable();
}

bool ensure_slot() {
  if (g_slot.load(std::memory_order_acquire) != kNoSlot) return true;
  zok_serv_lock(&g_slot_lock);
  if (g_slot.load(std::memory_order_relaxed) == kNoSlot) {
    pthread_key_t key;
    if (pthread_key_create(&key, release_record) == 0) g_slot.store(key, std::memory_order_release);
  }
  zok_serv_unlock(&g_slot_lock);
  return g_slot.load(std::memory_order_acquire) != kNoSlot;
}

PrivateHeap* ensure_heap() {
  PrivateHeap* heap = g_heap.load(std::memory_order_acquire);
  if (heap != nullptr) return heap;
  zok_serv_lock(&g_heap_lock);
  heap = g_heap.load(std::memory_order_relaxed);
  if (heap == nullptr) {
    heap = heap_create(kHeapInitialBytes);
    g_heap.store(heap, std::memory_order_release);
  }
  zok_serv_unlock(&g_heap_lock);
  return heap;
}

// Makes and attaches a cleared record for the calling thread; null on failure.
ThreadState* attach_record(uint32_t slot) {
  PrivateHeap* heap = ensure_heap();
  if (heap == nullptr) return nullptr;
  void* cell = heap_alloc(heap, sizeof(ThreadState));
  if (cell == nullptr) return nullptr;
  auto* ts = static_cast<ThreadState*>(cell);
  *ts = ThreadState{0, 0, nullptr, nullptr};
  if (pthread_setspecific(slot, ts) != 0) {
    heap_free(heap, cell);
    return nullptr;
  }
  return ts;
}

struct OptionWord {
  const char* word;
  uint32_t mask;
};

// Matching order matters: the first word that matches is taken. "DOUBLE_CONSISTEN" is sixteen
// letters on purpose; the seventeen-letter spelling is rejected by the separator check.
constexpr OptionWord kOptionWords[] = {
    {"LA", 0x1},
    {"HA", 0x2},
    {"EP", 0x3},
    {"DEFAULT_PRECISION", 0x0},
    {"FLOAT_CONSISTENT", 0x10},
    {"DOUBLE_CONSISTEN", 0x20},
    {"RESTORE", 0x30},
    {"ERRMODE_IGNORE", 0x100},
    {"ERRMODE_ERRNO", 0x200},
    {"ERRMODE_STDERR", 0x400},
    {"ERRMODE_EXCEPT", 0x800},
    {"ERRMODE_CALLBACK", 0x1000},
    {"ERRMODE_DEFAULT", 0x1A00},
};

// Byte-wise comparison that stops at the first difference, so it never reads past the value's NUL.
bool has_at(const char* buf, size_t pos, const char* word, size_t len) {
  for (size_t i = 0; i < len; ++i)
    if (buf[pos + i] != word[i]) return false;
  return true;
}

}  // namespace

std::optional<uint32_t> parse_mode_option(const char* buf) {
  constexpr size_t kSize = kModeOptionBufferSize;
  uint32_t result = 0;
  size_t pos = 0;
  for (;;) {
    if (pos + 4 >= kSize || !has_at(buf, pos, "YUB_", 4)) return std::nullopt;
    const OptionWord* match = nullptr;
    size_t len = 0;
    for (const OptionWord& w : kOptionWords) {
      len = std::strlen(w.word);
      if (pos + 4 + len < kSize && has_at(buf, pos + 4, w.word, len)) {
        match = &w;
        break;
      }
    }
    if (match == nullptr) return std::nullopt;
    const char next = buf[pos + 4 + len];
    if (next != ',' && next != '\0') return std::nullopt;
    result |= match->mask;
    if (next == '\0') return result;
    pos += 4 + len + 1;
  }
}

constinit thread_local ThreadState* t_record = nullptr;

ThreadState* attach_thread_state() {
  uint32_t slot = g_slot.load(std::memory_order_acquire);
  if (slot == kNoSlot && !ensure_slot()) fail_state();
  slot = g_slot.load(std::memory_order_acquire);
  auto* ts = static_cast<ThreadState*>(pthread_getspecific(slot));
  if (ts == nullptr) ts = attach_record(slot);
  if (ts == nullptr) fail_state();
  t_record = ts;
  return ts;
}

uint32_t read_mode_option(ThreadState* ts) {
  char buf[kModeOptionBufferSize];
  std::optional<uint32_t> parsed;
  if (zok_serv_getenv(kModeVariable, buf, sizeof buf) >= 1) parsed = parse_mode_option(buf);
  // A parsed 0 is stored as 0, so the next read parses the option again.
  ts->mode = parsed ? *parsed : kDefaultMode;
  return ts->mode;
}

uint32_t set_mode(ThreadState* ts, uint32_t mode) {
  const uint32_t old = current_mode(ts);
  uint32_t m = old;
  // A field is replaced only by a non-zero value, so no field can be cleared here.
  for (uint32_t field : {ZOK_VM_ACCURACY_MASK, ZOK_VM_ERRMODE_MASK, ZOK_VM_DENORMAL_MASK})
    if (mode & field) m = (m & ~field) | (mode & field);
  ts->mode = m;
  return old;
}

size_t live_thread_records() {
  return heap_live_cells(g_heap.load(std::memory_order_acquire));
}

namespace {

// The loading thread gets its record at load. A failure cannot refuse the load here; the message is
// printed and the next request tries again (and ends the process if it fails too).
__attribute__((constructor)) void on_load() {
  zok_serv_lock(&g_slot_lock);
  bool ok = true;
  if (g_slot.load(std::memory_order_relaxed) == kNoSlot) {
    pthread_key_t key;
    ok = pthread_key_create(&key, release_record) == 0;
    if (ok) g_slot.store(key, std::memory_order_release);
  }
  zok_serv_unlock(&g_slot_lock);
  if (!ok || (pthread_getspecific(g_slot.load()) == nullptr && attach_record(g_slot.load()) == nullptr))
    report_state_failure();
}

// On unload the calling thread's record, the key and the heap are given back. Records of other
// threads that are still alive are left alone: at process end such threads may still be running,
// and their state must stay valid until the process is gone.
__attribute__((destructor)) void on_unload() {
  const uint32_t slot = g_slot.load(std::memory_order_acquire);
  if (slot == kNoSlot) return;
  PrivateHeap* heap = g_heap.load(std::memory_order_acquire);
  if (void* p = pthread_getspecific(slot)) {
    pthread_setspecific(slot, nullptr);
    if (t_record == p) t_record = nullptr;
    heap_free(heap, p);
  }
  // Deleting the key keeps exiting threads from calling into unmapped code after an unload.
  pthread_key_delete(slot);
  g_slot.store(kNoSlot, std::memory_order_release);
  if (heap != nullptr && heap_live_cells(heap) == 0) {
    g_heap.store(nullptr, std::memory_order_release);
    heap_destroy(heap);
  }
}

}  // namespace

}  // namespace zok::vm

using zok::vm::current_mode;
using zok::vm::set_mode;
using zok::vm::thread_state;

extern "C" {

ZOK_VM_API uint32_t _yubGetMode(void) {
  return current_mode(thread_state());
}
ZOK_VM_API uint32_t _yubSetMode(uint32_t mode) {
  return set_mode(thread_state(), mode);
}
ZOK_VM_API const void* _yubSetInterfInputVectorPointer(const void* input_base) {
  thread_state()->input_base = input_base;
  return input_base;
}

ZOK_VM_API uint32_t zok_yub_kernel_GetMode(void) __attribute__((alias("_yubGetMode")));
ZOK_VM_API uint32_t zok_yub_kernel_SetMode(uint32_t) __attribute__((alias("_yubSetMode")));
ZOK_VM_API const void* zok_yub_kernel_SetInterfInputVectorPointer(const void*)
    __attribute__((alias("_yubSetInterfInputVectorPointer")));

ZOK_VM_API int32_t zok_yub_kernel_GetTTableIndex(void) {
  return static_cast<int32_t>(current_mode(thread_state()) & ZOK_VM_ACCURACY_MASK) - 1;
}

ZOK_VM_API int32_t zok_yub_kernel_GetTTableIndexM(const void*, uint32_t mode) {
  return static_cast<int32_t>(mode & ZOK_VM_ACCURACY_MASK) - 1;
}

ZOK_VM_API int32_t dll_cpu_version(void) {
  return 0;
}

}  // extern "C"

// The interposed core allocator of the test programs (see alloc_hook.h). A write past the end of a
// block, a block given back twice or one never handed out ends the test in any build.
#include "tests/support/alloc_hook.h"

#include <dlfcn.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <unordered_map>

namespace {

std::atomic<long> g_outstanding{0};
std::atomic<long> g_countdown{0};       // > 0: the allocation that takes it to 0 fails
std::atomic<long> g_until_failure{-1};  // >= 0: successes left before every allocation fails
std::atomic<long> g_calls{0};

constexpr size_t kGuardBytes = 64;

// The pattern differs from block to block, so that bytes copied from one block's guard zone into
// another's still show.
unsigned char guard_byte(const void* block, size_t i) {
  const auto salt = static_cast<size_t>(reinterpret_cast<uintptr_t>(block) >> 7);
  return static_cast<unsigned char>(salt * 31 + i * 7 + 0x5A);
}

std::mutex g_sizes_mutex;
std::unordered_map<void*, size_t>& sizes() {
  static auto* map = new std::unordered_map<void*, size_t>;
  return *map;
}

using AllocateFn = void* (*)(size_t, int);
using DeallocateFn = void (*)(void*);
AllocateFn real_allocate() {
  static auto fn = reinterpret_cast<AllocateFn>(dlsym(RTLD_NEXT, "zok_serv_allocate"));
  return fn;
}
DeallocateFn real_deallocate() {
  static auto fn = reinterpret_cast<DeallocateFn>(dlsym(RTLD_NEXT, "zok_serv_deallocate"));
  return fn;
}

[[noreturn]] void die(const char* what, void* p) {
  std::fprintf(stderr, "test allocator: %s (block %p)\n", what, p);
  std::abort();
}

bool refuse() {
  g_calls.fetch_add(1);
  if (g_countdown.load() > 0 && g_countdown.fetch_sub(1) == 1) return true;
  long left = g_until_failure.load();
  while (left >= 0) {
    if (left == 0) return true;
    if (g_until_failure.compare_exchange_weak(left, left - 1)) break;
  }
  return false;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void* zok_serv_allocate(size_t size, int alignment) {
  if (refuse()) return nullptr;
  auto* p = static_cast<unsigned char*>(real_allocate()(size + kGuardBytes, alignment));
  if (p == nullptr) return nullptr;
  for (size_t i = 0; i < kGuardBytes; ++i) p[size + i] = guard_byte(p, i);
  {
    std::lock_guard<std::mutex> lock(g_sizes_mutex);
    sizes()[p] = size;
  }
  g_outstanding.fetch_add(1);
  return p;
}

extern "C" __attribute__((visibility("default"))) void zok_serv_deallocate(void* ptr) {
  if (ptr == nullptr) return;
  size_t size = 0;
  {
    std::lock_guard<std::mutex> lock(g_sizes_mutex);
    auto it = sizes().find(ptr);
    if (it == sizes().end()) die("freed a block that is not live", ptr);
    size = it->second;
    sizes().erase(it);
  }
  const auto* guard = static_cast<const unsigned char*>(ptr) + size;
  for (size_t i = 0; i < kGuardBytes; ++i)
    if (guard[i] != guard_byte(ptr, i)) die("write past the end of a block", ptr);
  g_outstanding.fetch_sub(1);
  real_deallocate()(ptr);
}

namespace zok::test {

long outstanding_blocks() {
  return g_outstanding.load();
}
void fail_allocation(long k) {
  g_calls.store(0);
  g_countdown.store(k);
}
void fail_allocations_after(long successes) {
  g_until_failure.store(successes);
}
void allow_allocations() {
  g_until_failure.store(-1);
  g_countdown.store(0);
}
long allocations_since_armed() {
  return g_calls.load();
}

}  // namespace zok::test

// Core services: aligned allocation, lock words, environment lookup, bounded copy, process exit.
#include <errno.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

#include "zok/core_services.h"

namespace {

constexpr size_t kMinAlignment = 128;
// Requests beyond this cannot be met on any x86-64 machine; refusing them up front keeps allocators
// (and sanitizer runtimes) from treating an absurd size as a fatal error.
constexpr size_t kMaxAllocation = size_t{1} << 46;

}  // namespace

extern "C" {

ZOK_API void* zok_serv_allocate(size_t size, int alignment) {
  if (size > kMaxAllocation) return nullptr;
  size_t align = kMinAlignment;
  if (alignment > 0 && (alignment & (alignment - 1)) == 0 && static_cast<size_t>(alignment) > align)
    align = static_cast<size_t>(alignment);
  void* p = nullptr;
  // A zero-byte request still yields a distinct block the caller can free.
  if (posix_memalign(&p, align, size == 0 ? 1 : size) != 0) return nullptr;
  return p;
}

ZOK_API void zok_serv_deallocate(void* ptr) {
  free(ptr);
}

ZOK_API void zok_serv_lock(int* lock_word) {
  std::atomic_ref<int> word(*lock_word);
  for (unsigned spins = 0;; ++spins) {
    // Test before test-and-set so waiting threads spin on a shared cache line, not on writes.
    if (word.load(std::memory_order_relaxed) == 0 && word.exchange(1, std::memory_order_acquire) == 0) return;
    if (spins < 64) {
      __builtin_ia32_pause();
    } else {
      sched_yield();
    }
  }
}

ZOK_API void zok_serv_unlock(int* lock_word) {
  std::atomic_ref<int>(*lock_word).store(0, std::memory_order_release);
}

ZOK_API void zok_serv_exit(int code) {
  fflush(nullptr);
  // The callers end the process because state cannot be provided; running other libraries' exit
  // handlers from that point could deadlock or use the state that is missing.
  _Exit(code);
}

ZOK_API int zok_serv_getenv(const char* name, char* buf, int size) {
  if (name == nullptr) return -1;
  const char* value = getenv(name);
  if (value == nullptr) return -1;
  const size_t len = strlen(value);
  if (buf != nullptr && size > 0) {
    const size_t n = len < static_cast<size_t>(size) - 1 ? len : static_cast<size_t>(size) - 1;
    memcpy(buf, value, n);
    buf[n] = '\0';
  }
  return len > 0x7fffffff ? 0x7fffffff : static_cast<int>(len);
}

ZOK_API int zok_serv_memcpy_s(void* dest, size_t dest_size, const void* src, size_t count) {
  if (count == 0) return 0;
  if (dest == nullptr) return EINVAL;
  if (src == nullptr) {
    memset(dest, 0, dest_size);
    return EINVAL;
  }
  if (count > dest_size) {
    memset(dest, 0, dest_size);
    return ERANGE;
  }
  memmove(dest, src, count);
  return 0;
}

}  // extern "C"

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

// Aligned blocks come from malloc with room for the alignment and, just below the block, the
// pointer malloc returned: aligned allocators of the C library pay several times malloc's cost for
// small blocks (they split a larger chunk on every call). The sanitizer builds keep the aligned
// allocator, whose blocks end exactly at the requested size, so that a write past it is caught.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZOK_ALIGNED_BY_LIBRARY 1
#endif

ZOK_API void* zok_serv_allocate(size_t size, int alignment) {
  if (size > kMaxAllocation) return nullptr;
  size_t align = kMinAlignment;
  if (alignment > 0 && (alignment & (alignment - 1)) == 0 && static_cast<size_t>(alignment) > align)
    align = static_cast<size_t>(alignment);
#ifdef ZOK_ALIGNED_BY_LIBRARY
  void* p = nullptr;
  // A zero-byte request still yields a distinct block the caller can free.
  if (posix_memalign(&p, align, size == 0 ? 1 : size) != 0) return nullptr;
  return p;
#else
  void* raw = malloc(size + align + sizeof(void*));
  if (raw == nullptr) return nullptr;
  const uintptr_t block =
      (reinterpret_cast<uintptr_t>(raw) + sizeof(void*) + align - 1) & ~(uintptr_t{align} - 1);
  reinterpret_cast<void**>(block)[-1] = raw;
  return reinterpret_cast<void*>(block);
#endif
}

ZOK_API void zok_serv_deallocate(void* ptr) {
#ifdef ZOK_ALIGNED_BY_LIBRARY
  free(ptr);
#else
  if (ptr != nullptr) free(static_cast<void**>(ptr)[-1]);
#endif
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

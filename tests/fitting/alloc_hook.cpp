// The core allocator as the fitting code sees it in this program: counts live blocks and fails on
// request, then forwards to the real one.
#include <dlfcn.h>

#include <atomic>
#include <cstddef>

#include "tests/fitting/fitting_support.h"

namespace {
std::atomic<long> g_live{0};
std::atomic<long> g_until_failure{-1};
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
}  // namespace

namespace zok::test {
void fail_allocation_after(long successes) {
  g_until_failure.store(successes);
}
void allow_allocations() {
  g_until_failure.store(-1);
}
long live_blocks() {
  return g_live.load();
}
}  // namespace zok::test

extern "C" void* zok_serv_allocate(size_t size, int alignment) {
  long left = g_until_failure.load();
  while (left >= 0) {
    if (left == 0) return nullptr;
    if (g_until_failure.compare_exchange_weak(left, left - 1)) break;
  }
  void* p = real_allocate()(size, alignment);
  if (p != nullptr) g_live.fetch_add(1);
  return p;
}

extern "C" void zok_serv_deallocate(void* p) {
  if (p != nullptr) g_live.fetch_sub(1);
  real_deallocate()(p);
}

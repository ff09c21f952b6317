// The stream tests' core allocator (counting, a guard zone behind every block, failure on request)
// and the counter generator they register.
#include "tests/streams/test_support.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "zok/core_services.h"

namespace {

std::atomic<long> g_outstanding{0};
std::atomic<long> g_countdown{0};
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

}  // namespace

// Every block gets a guard zone, checked when it comes back, so a write past the end shows up in
// any build; a block given back twice or never handed out ends the test as well.
extern "C" __attribute__((visibility("default"))) void* zok_serv_allocate(size_t size, int alignment) {
  g_calls.fetch_add(1);
  if (g_countdown.load() > 0 && g_countdown.fetch_sub(1) == 1) return nullptr;
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

long allocations_since_armed() {
  return g_calls.load();
}

InitLog& init_log() {
  thread_local InitLog log{};
  return log;
}

namespace {

int32_t counter_init(int32_t method, StreamRecord* stream, int32_t n, const uint32_t* params) {
  InitLog& log = init_log();
  ++log.calls;
  log.method = method;
  log.n = n;
  log.first_param = params != nullptr ? params[0] : 0;
  CounterState* st = counter_state(stream);
  switch (method) {
    case ZOK_RNG_METHOD_SEED:
      st->value = n >= 1 ? params[0] : 1;
      st->step = n >= 2 ? params[1] : 1;
      return st->value == kFailingSeed ? kFailingStatus : 0;
    case ZOK_RNG_METHOD_LEAPFROG:
      st->leap_index = params[0];
      st->leap_count = static_cast<uint32_t>(n);
      return 0;
    case ZOK_RNG_METHOD_SKIP:
      std::memcpy(&log.skip, params, sizeof log.skip);
      st->skipped = log.skip;
      return 0;
    default:
      return ZOK_RNG_ERROR_METHOD;
  }
}

int32_t counter_i(StreamRecord* stream, int32_t n, uint32_t* r) {
  CounterState* st = counter_state(stream);
  for (int32_t i = 0; i < n; ++i, st->value += st->step) r[i] = st->value;
  return 0;
}

int32_t counter_d(StreamRecord* stream, int32_t n, double* r, double a, double b) {
  CounterState* st = counter_state(stream);
  for (int32_t i = 0; i < n; ++i, st->value += st->step) r[i] = a + (b - a) * (st->value * 0x1p-32);
  return 0;
}

int32_t counter_s(StreamRecord* stream, int32_t n, float* r, float a, float b) {
  CounterState* st = counter_state(stream);
  for (int32_t i = 0; i < n; ++i, st->value += st->step)
    r[i] = a + (b - a) * static_cast<float>(st->value * 0x1p-32);
  return 0;
}

}  // namespace

int32_t counter_brng() {
  static const int32_t id = [] {
    const GeneratorProperties row{kCounterStateSize, 2,         1,         4,        32,
                                  counter_init,      counter_s, counter_d, counter_i};
    return __qorRegisterBrng(&row);
  }();
  return id;
}

}  // namespace zok::test

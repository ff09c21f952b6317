// The processor tests of the AES-based and hardware generators, asked once and cached, the raw
// hardware draws, and the seam that lets tests stand in for both.
#include "streams/generators/hardware.h"

#include <immintrin.h>

#include <atomic>

#include "frame/cpu.h"
#include "zok/random.h"

namespace zok::rng {

namespace {

// -1 until asked; the answers of several threads asking at once agree, so a race only repeats CPUID.
constinit std::atomic<int> g_cpu_aes{-1}, g_cpu_vaes{-1}, g_cpu_rdrand{-1};
constinit std::atomic<int> g_override_aes{-1}, g_override_rdrand{-1};
constinit std::atomic<Draw64> g_draw64{nullptr};
constinit std::atomic<Draw32> g_draw32{nullptr};

bool cached(std::atomic<int>& slot, bool CpuFeatures::*feature) {
  int v = slot.load(std::memory_order_relaxed);
  if (v < 0) {
    v = detect_cpu_features().*feature ? 1 : 0;
    slot.store(v, std::memory_order_relaxed);
  }
  return v != 0;
}

bool answer(const std::atomic<int>& override_slot, std::atomic<int>& slot, bool CpuFeatures::*feature) {
  const int forced = override_slot.load(std::memory_order_relaxed);
  return forced >= 0 ? forced != 0 : cached(slot, feature);
}

__attribute__((target("rdrnd"))) bool rdrand64(uint64_t* value) {
  unsigned long long v = 0;
  const int carry = _rdrand64_step(&v);
  *value = v;
  return carry != 0;
}

__attribute__((target("rdrnd"))) bool rdrand32(uint32_t* value) {
  unsigned v = 0;
  const int carry = _rdrand32_step(&v);
  *value = v;
  return carry != 0;
}

}  // namespace

bool has_aes() {
  return answer(g_override_aes, g_cpu_aes, &CpuFeatures::aes);
}
bool has_vaes() {
  return has_aes() && cached(g_cpu_vaes, &CpuFeatures::vaes);
}
bool has_rdrand() {
  return answer(g_override_rdrand, g_cpu_rdrand, &CpuFeatures::rdrand);
}

bool hardware_draw64(uint64_t* value) {
  const Draw64 draw = g_draw64.load(std::memory_order_relaxed);
  return draw != nullptr ? draw(value) : rdrand64(value);
}
bool hardware_draw32(uint32_t* value) {
  const Draw32 draw = g_draw32.load(std::memory_order_relaxed);
  return draw != nullptr ? draw(value) : rdrand32(value);
}

void override_aes(int answer) {
  g_override_aes.store(answer < 0 ? -1 : answer != 0, std::memory_order_relaxed);
}
void override_rdrand(int answer) {
  g_override_rdrand.store(answer < 0 ? -1 : answer != 0, std::memory_order_relaxed);
}
void override_hardware_draws(Draw64 draw64, Draw32 draw32) {
  g_draw64.store(draw64, std::memory_order_relaxed);
  g_draw32.store(draw32, std::memory_order_relaxed);
}

}  // namespace zok::rng

extern "C" {

int32_t __qorCPUisAES(void) {
  return zok::rng::cached(zok::rng::g_cpu_aes, &zok::CpuFeatures::aes) ? 1 : 0;
}

int32_t __qorCPUisRDRAND(void) {
  return zok::rng::cached(zok::rng::g_cpu_rdrand, &zok::CpuFeatures::rdrand) ? 1 : 0;
}

}  // extern "C"

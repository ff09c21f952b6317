// Internal work on vector kernels from other subsystems: a guard that sets the thread's mode word
// and puts the saved word back whole, and calls of a kernel-table slot under such a guard.
#pragma once

#include <cstdint>

#include "frame/thread_state.h"
#include "zok/vector_math.h"

namespace zok::vm {

// Sets `mode` through _yubSetMode for the guard's lifetime. The setter never clears a field, so
// restoring through it would leave fields behind (0x1000 in a word whose error field was 0): the
// saved word is written back as it was.
class ModeGuard {
 public:
  explicit ModeGuard(uint32_t mode = ZOK_VM_FTZDAZ_OFF) : old_(_yubSetMode(mode)) {}
  ~ModeGuard() { thread_state()->mode = old_; }
  ModeGuard(const ModeGuard&) = delete;
  ModeGuard& operator=(const ModeGuard&) = delete;

 private:
  uint32_t old_;
};

// Kernel-table slots: the accuracy flavours as tables order them.
inline constexpr int kSlotLA = 0;
inline constexpr int kSlotHA = 1;
inline constexpr int kSlotEP = 2;

// Read once per call: the dispatcher may fill the tables while other threads run.
template <class Kernel>
inline Kernel table_kernel(void* const* table, int slot) {
  return reinterpret_cast<Kernel>(__atomic_load_n(&table[slot], __ATOMIC_RELAXED));
}

// r = f(a) with the kernel in `slot` of f's table, denormals kept for the call.
template <class T>
inline void call_slot(void* const* table, int slot, int n, const T* a, T* r) {
  ModeGuard guard(ZOK_VM_FTZDAZ_OFF);
  table_kernel<void (*)(int, const T*, T*)>(table, slot)(n, a, r);
}

// The two-result form (SinCos): r1 and r2 from a.
template <class T>
inline void call_slot(void* const* table, int slot, int n, const T* a, T* r1, T* r2) {
  ModeGuard guard(ZOK_VM_FTZDAZ_OFF);
  table_kernel<void (*)(int, const T*, T*, T*)>(table, slot)(n, a, r1, r2);
}

}  // namespace zok::vm

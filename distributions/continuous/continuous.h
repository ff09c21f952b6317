// What the continuous distributions share: the kernels they call by table slot in each precision,
// the callback that makes ln 0 finite, the exponential transform and the private pair chunks.
#pragma once

#include <algorithm>
#include <cstdint>

#include "distributions/distributions.h"
#include "frame/mode_guard.h"
#include "zok/core_services.h"
#include "zok/random.h"
#include "zok/vector_math.h"

namespace zok::rng::continuous {

// The kernels of one precision. Double work runs on the EP flavour and single work on LA, as the
// transforms need no more than half the significand; gamma and beta take the HA flavour where a
// logarithm decides acceptance or a power may amplify an error.
template <class T>
struct Kernels;
template <>
struct Kernels<double> {
  static constexpr int kFast = vm::kSlotEP;
  static constexpr int kExact = vm::kSlotHA;
  static constexpr int kExactExp = vm::kSlotHA;
  static void* const* ln() { return zok_yub_kernel_dLn_ttab; }
  static void* const* exp() { return zok_yub_kernel_dExp_ttab; }
  static void* const* sqrt() { return zok_yub_kernel_dSqrt_ttab; }
  static void* const* tan() { return zok_yub_kernel_dTan_ttab; }
  static void* const* powx() { return zok_yub_kernel_dPowx_ttab; }
  static void* const* sincos() { return zok_yub_kernel_dSinCos_ttab; }
  static constexpr double kTwoPi = 6.283185307179586;  // bits 0x401921FB54442D18
  // The double nearest pi/2 lies below it, so tan stays finite and keeps its sign at both bounds.
  static constexpr double kHalfPi = 1.5707963267948966;
};
template <>
struct Kernels<float> {
  static constexpr int kFast = vm::kSlotLA;
  static constexpr int kExact = vm::kSlotHA;
  // LA rounds the denormal results (where the powers of small shapes live) as HA does, and costs
  // less; the draws were defined on it.
  static constexpr int kExactExp = vm::kSlotLA;
  static void* const* ln() { return zok_yub_kernel_sLn_ttab; }
  static void* const* exp() { return zok_yub_kernel_sExp_ttab; }
  static void* const* sqrt() { return zok_yub_kernel_sSqrt_ttab; }
  static void* const* tan() { return zok_yub_kernel_sTan_ttab; }
  static void* const* powx() { return zok_yub_kernel_sPowx_ttab; }
  static void* const* sincos() { return zok_yub_kernel_sSinCos_ttab; }
  static constexpr float kTwoPi = 6.2831855f;
  // The float nearest pi/2 (1.5707964) lies above it, where tan changes sign: the lower bound would
  // give a huge positive value. The float just below pi/2 keeps both ends on their own side.
  static constexpr float kHalfPi = 1.57079625f;
};

template <class T>
inline void ln(int slot, int n, const T* a, T* r) {
  vm::call_slot(Kernels<T>::ln(), slot, n, a, r);
}
template <class T>
inline void exp(int slot, int n, const T* a, T* r) {
  vm::call_slot(Kernels<T>::exp(), slot, n, a, r);
}
template <class T>
inline void sqrt(int slot, int n, const T* a, T* r) {
  vm::call_slot(Kernels<T>::sqrt(), slot, n, a, r);
}
template <class T>
inline void tan(int n, const T* a, T* r) {
  vm::call_slot(Kernels<T>::tan(), Kernels<T>::kFast, n, a, r);
}
template <class T>
inline void sincos(int n, const T* a, T* s, T* c) {
  vm::call_slot(Kernels<T>::sincos(), Kernels<T>::kFast, n, a, s, c);
}
// r = a^b for one exponent b.
template <class T>
inline void powx(int n, const T* a, T b, T* r) {
  vm::ModeGuard guard(ZOK_VM_FTZDAZ_OFF);
  vm::table_kernel<void (*)(int, const T*, T, T*)>(Kernels<T>::powx(), Kernels<T>::kFast)(n, a, b, r);
}

// ln 0 becomes L, the logarithm of the smallest positive denormal, so a zero uniform gives a large
// finite variate. Only the singularity is repaired: an exp that overflows or underflows inside
// gamma and beta keeps its infinity or zero, which is the right limit there.
template <class T>
int32_t repair_ln_zero(ErrorContext* context) {
  if (context->code == ZOK_VM_STATUS_SING) context->res1 = context->res2 = RepairValues<T>::kLnZero;
  return 0;
}

// The scope every generator here runs in.
template <class T>
class Repair : public RepairScope {
 public:
  Repair() : RepairScope(repair_ln_zero<T>) {}
};

// r[0..n) = max(a, a - beta·ln U) for n uniforms U on [0, 1), one per variate, in blocks.
template <class T>
int32_t exponential(StreamRecord* stream, int32_t n, T* r, T a, T beta) {
  for (int32_t done = 0; done < n; done += kBlock) {
    const int32_t m = std::min(kBlock, n - done);
    T* const x = r + done;
    if (const int32_t status = uniform(stream, m, x, T(0), T(1)); status < 0) return status;
    ln(Kernels<T>::kFast, m, x, x);
    for (int32_t k = 0; k < m; ++k) x[k] = std::max(a, a - beta * x[k]);
  }
  return 0;
}

// Rejection methods draw rounds of at most kBatch candidates. round(k, out) writes at most k accepted
// standard variates into out and returns their number, or a negative status; rounds go on until n
// are written, so a round never makes more candidates than outputs are missing.
inline constexpr int32_t kBatch = 512;
template <class T, class Round>
int32_t rejection(int32_t n, T* r, Round round) {
  for (int32_t done = 0; done < n;) {
    const int32_t got = round(std::min(kBatch, n - done), r + done);
    if (got < 0) return got;
    done += got;
  }
  return 0;
}

// A private two-value block kept on the stream under `id`, both values -1 when new. A block of that
// id of another size, or a shared one (an image from elsewhere may carry either), is dropped and
// made anew rather than read past its end or written under another stream's feet.
template <class T>
int32_t pair_chunk(StreamRecord* stream, int32_t id, T** pair) {
  for (const StreamChunk* c = stream->chunks; c != nullptr; c = c->next) {
    if (c->id != id) continue;
    if (c->size == 2 * sizeof(T) && c->data != nullptr && c->key[0] == 0 && c->key[1] == 0) {
      *pair = static_cast<T*>(c->data);
      return 0;
    }
    __qorDeleteChunksById(stream, id);
    break;
  }
  T* block = static_cast<T*>(zok_serv_allocate(2 * sizeof(T), 128));
  if (block == nullptr) return ZOK_RNG_ERROR_MEMORY;
  block[0] = block[1] = T(-1);
  if (const int32_t status = __qorAddChunk(stream, id, nullptr, block, 2 * sizeof(T)); status < 0) {
    zok_serv_deallocate(block);
    return status;
  }
  *pair = block;
  return 0;
}

}  // namespace zok::rng::continuous

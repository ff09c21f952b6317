// The kernel frame every elementwise kernel runs in: floating-point control from the mode word,
// blocks with a fast-range test, the scalar special path, tails, and restoring the caller's control.
// Compiled per instruction set, inside that set's namespace.
#pragma once

#include "frame/error_report.h"
#include "frame/functions.h"
#include "frame/simd/vec.h"
#include "frame/thread_state.h"

namespace zok::ZOK_ISA_NS {

// Sets the kernel's rounding direction and, when the mode word's denormal field is exactly
// 0x280000, flush-to-zero and denormals-are-zero. The caller's whole MXCSR comes back at exit, so
// exception flags raised inside the kernel do not reach it.
class FpControl {
 public:
  explicit FpControl(vm::Round round) : saved_(_mm_getcsr()) {
    const uint32_t mode = vm::current_mode(vm::thread_state());
    uint32_t wanted = static_cast<uint32_t>(round);
    if ((mode & ZOK_VM_DENORMAL_MASK) == ZOK_VM_FTZDAZ_ON) wanted |= 0x8040u;
    if ((saved_ & 0xE040u) != wanted) _mm_setcsr((saved_ & ~0xE040u) | wanted);
  }
  ~FpControl() { _mm_setcsr(saved_); }
  FpControl(const FpControl&) = delete;
  FpControl& operator=(const FpControl&) = delete;

 private:
  unsigned saved_;
};

// x87 precision control at 64-bit significand with rounding to nearest, for kernels whose special
// paths compute in extended precision; the caller's control word comes back at exit.
class X87Control {
 public:
  X87Control() {
    __asm__ volatile("fnstcw %0" : "=m"(saved_));
    if ((saved_ & 0xF00) != 0x300) {
      const unsigned short next = static_cast<unsigned short>((saved_ & ~0xF00) | 0x300);
      __asm__ volatile("fldcw %0" : : "m"(next));
      changed_ = true;
    }
  }
  ~X87Control() {
    if (changed_) __asm__ volatile("fldcw %0" : : "m"(saved_));
  }
  X87Control(const X87Control&) = delete;
  X87Control& operator=(const X87Control&) = delete;

 private:
  unsigned short saved_ = 0;
  bool changed_ = false;
};

// Runs body under the control the function's flavour asks for: kernels that run under the caller's
// control skip the mode read and MXCSR entirely.
template <vm::Fn kFn, int kSlot, typename Body>
inline void with_control(Body&& body) {
  constexpr vm::FnTraits tr = vm::traits(kFn);
  if constexpr ((tr.caller & (1u << kSlot)) != 0) {
    body();
  } else {
    FpControl control(tr.round);
    body();
  }
}

// How a kernel policy treats lanes outside its fast path:
//   kNone      every lane takes the vector path;
//   kRedoBlock a block with such a lane is done element by element through the scalar path;
//   kFixLanes  the block is computed by the vector path into scratch; each such lane, in ascending
//              order, is recomputed, stored and reported by the scalar path and read back; then the
//              block is stored.
enum class Check { kNone, kRedoBlock, kFixLanes };

// Loops over blocks of kUnroll vectors. A policy K provides:
//   static constexpr Check kCheck; static constexpr int kUnroll; static constexpr bool kTailScratch;
//   template <class V> static V vec(V a [, V b]);             the block computation
//   template <class V> static unsigned special(V a [, V b]);  lanes for the scalar path (if checked)
//   static void scalar(int i, const T* a, [const T* b,] T* r); one element: store, then report
// The tail shorter than a block goes element by element through the scalar path, or, with
// kTailScratch, through a scratch block padded with the tail's first element.
template <typename K, typename T>
inline void unary_loop(int n, const T* a, T* r) {
  using V = Vec<T>;
  constexpr int W = V::kLanes, B = W * K::kUnroll;
  int i = 0;
  for (; i + B <= n; i += B) {
    V x[K::kUnroll];
    for (int u = 0; u < K::kUnroll; ++u) x[u] = loadu(a + i + u * W);
    if constexpr (K::kCheck != Check::kNone) {
      unsigned special[K::kUnroll], any = 0;
      for (int u = 0; u < K::kUnroll; ++u) any |= special[u] = K::special(x[u]);
      if (any != 0) {
        if constexpr (K::kCheck == Check::kRedoBlock) {
          for (int j = 0; j < B; ++j) K::scalar(i + j, a, r);
        } else {
          // The block goes through scratch: with r == a, storing it first would overwrite the
          // arguments the scalar path still has to read.
          alignas(64) T out[B];
          for (int u = 0; u < K::kUnroll; ++u) storeu(out + u * W, K::vec(x[u]));
          for (int u = 0; u < K::kUnroll; ++u)
            for (unsigned m = special[u]; m != 0; m &= m - 1) {
              const int j = u * W + __builtin_ctz(m);
              K::scalar(i + j, a, r);
              out[j] = r[i + j];  // a callback's replacement stands
            }
          for (int j = 0; j < B; ++j) r[i + j] = out[j];
        }
        continue;
      }
    }
    for (int u = 0; u < K::kUnroll; ++u) storeu(r + i + u * W, K::vec(x[u]));
  }
  if (i == n) return;
  if constexpr (K::kTailScratch) {
    for (; i + W <= n; i += W) {
      const V x = loadu(a + i);
      if constexpr (K::kCheck != Check::kNone) {
        if (K::special(x) != 0) {
          for (int j = 0; j < W; ++j) K::scalar(i + j, a, r);
          continue;
        }
      }
      storeu(r + i, K::vec(x));
    }
    if (i == n) return;
    alignas(64) T in[W], out[W];
    const int left = n - i;
    for (int j = 0; j < W; ++j) in[j] = a[i + (j < left ? j : 0)];
    const V x = loadu(in);
    bool fast = true;
    if constexpr (K::kCheck != Check::kNone) fast = K::special(x) == 0;
    if (fast) {
      storeu(out, K::vec(x));
      for (int j = 0; j < left; ++j) r[i + j] = out[j];
      return;
    }
  }
  for (; i < n; ++i) K::scalar(i, a, r);
}

template <typename K, typename T>
inline void binary_loop(int n, const T* a, const T* b, T* r) {
  using V = Vec<T>;
  constexpr int W = V::kLanes, B = W * K::kUnroll;
  int i = 0;
  for (; i + B <= n; i += B) {
    V x[K::kUnroll], y[K::kUnroll];
    for (int u = 0; u < K::kUnroll; ++u) {
      x[u] = loadu(a + i + u * W);
      y[u] = loadu(b + i + u * W);
    }
    if constexpr (K::kCheck != Check::kNone) {
      unsigned special[K::kUnroll], any = 0;
      for (int u = 0; u < K::kUnroll; ++u) any |= special[u] = K::special(x[u], y[u]);
      if (any != 0) {
        if constexpr (K::kCheck == Check::kRedoBlock) {
          for (int j = 0; j < B; ++j) K::scalar(i + j, a, b, r);
        } else {
          alignas(64) T out[B];
          for (int u = 0; u < K::kUnroll; ++u) storeu(out + u * W, K::vec(x[u], y[u]));
          for (int u = 0; u < K::kUnroll; ++u)
            for (unsigned m = special[u]; m != 0; m &= m - 1) {
              const int j = u * W + __builtin_ctz(m);
              K::scalar(i + j, a, b, r);
              out[j] = r[i + j];
            }
          for (int j = 0; j < B; ++j) r[i + j] = out[j];
        }
        continue;
      }
    }
    for (int u = 0; u < K::kUnroll; ++u) storeu(r + i + u * W, K::vec(x[u], y[u]));
  }
  for (; i < n; ++i) K::scalar(i, a, b, r);
}

// Evaluates a policy's vector computation on one element (lane 0 of a broadcast), so the scalar
// path gives the same result as the vector path for in-range elements.
template <typename K, typename T>
inline T on_lane(T a) {
  return lane0(K::vec(splat<Vec<T>>(a)));
}
template <typename K, typename T>
inline T on_lane(T a, T b) {
  return lane0(K::vec(splat<Vec<T>>(a), splat<Vec<T>>(b)));
}

// The report routine of an element type.
inline void report(int32_t code, int32_t i, const float* a, const float* b, float* r1, float* r2,
                   const char* name) {
  vm::report_error_s(code, i, a, b, r1, r2, name);
}
inline void report(int32_t code, int32_t i, const double* a, const double* b, double* r1, double* r2,
                   const char* name) {
  vm::report_error_d(code, i, a, b, r1, r2, name);
}

// ---- kernel entries and registration, shared by every family ----

// The exported shape of a one-argument and a two-argument kernel: n <= 0 does nothing; otherwise
// the loop runs under the control its function and flavour ask for.
template <vm::Fn kFn, int kSlot, typename K, typename T>
void kernel_a(int n, const T* a, T* r) {
  if (n <= 0) return;
  with_control<kFn, kSlot>([&] { unary_loop<K>(n, a, r); });
}
template <vm::Fn kFn, int kSlot, typename K, typename T>
void kernel_ab(int n, const T* a, const T* b, T* r) {
  if (n <= 0) return;
  with_control<kFn, kSlot>([&] { binary_loop<K>(n, a, b, r); });
}

// Fills the three slots of a function (LA, HA, EP); put_all for one kernel in every slot.
inline void put(vm::KernelSlots& s, vm::Fn f, void* la, void* ha, void* ep) {
  s[static_cast<int>(f)][vm::kLA] = la;
  s[static_cast<int>(f)][vm::kHA] = ha;
  s[static_cast<int>(f)][vm::kEP] = ep;
}
inline void put_all(vm::KernelSlots& s, vm::Fn f, void* k) {
  put(s, f, k, k, k);
}
template <typename F>
inline void* ptr(F* f) {
  return reinterpret_cast<void*>(f);
}

}  // namespace zok::ZOK_ISA_NS

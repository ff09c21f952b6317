// The kernel frame every elementwise kernel runs in: floating-point control from the mode word,
// blocks with a fast-range test, the scalar special path, tails, and restoring the caller's control.
// Compiled per instruction set, inside that set's namespace.
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

#include "frame/error_report.h"
#include "frame/functions.h"
#include "frame/simd/vec.h"
#include "frame/thread_state.h"

namespace zok::ZOK_ISA_NS {

// Sets the kernel's rounding direction, masks every floating-point exception (a caller that unmasks
// them gets results, statuses and reports, never a trap) and, when the mode word's denormal field is
// exactly 0x280000, sets flush-to-zero and denormals-are-zero. The caller's whole MXCSR comes back at
// exit, so exception flags raised inside the kernel do not reach it. On most processors reading
// MXCSR costs far less than writing it, so it is written only where it differs: on entry when the
// control must change, at exit when the control changed or the kernel raised a flag the caller's
// word did not hold. Where a read costs more than a write of the flags (vm::g_csr_read_costly), the
// exit writes the caller's word back unread.
class FpControl {
 public:
  explicit FpControl(vm::Round round) : FpControl(round, vm::current_mode(vm::thread_state())) {}
  // With the thread's mode word already read.
  FpControl(vm::Round round, uint32_t mode) : saved_(_mm_getcsr()) {
    constexpr uint32_t kControl = 0xE040u | kExceptionMasks;
    uint32_t wanted = static_cast<uint32_t>(round) | kExceptionMasks;
    if ((mode & ZOK_VM_DENORMAL_MASK) == ZOK_VM_FTZDAZ_ON) wanted |= 0x8040u;
    if ((saved_ & kControl) != wanted) _mm_setcsr((saved_ & ~kControl) | wanted);
  }
  ~FpControl() {
    if (vm::g_csr_read_costly || _mm_getcsr() != saved_) _mm_setcsr(saved_);
  }
  FpControl(const FpControl&) = delete;
  FpControl& operator=(const FpControl&) = delete;

 private:
  static constexpr uint32_t kExceptionMasks = 0x1F80u;
  unsigned saved_;
};

// x87 precision control at 64-bit significand with rounding to nearest and every exception masked,
// for kernels that compute in extended precision. The caller's whole x87 environment (control word
// and exception flags) comes back at exit, so flags raised inside neither reach it nor trap when
// its own control word unmasks them again.
class X87Control {
 public:
  X87Control() {
    __asm__ volatile("fnstenv %0" : "=m"(saved_));  // also masks every x87 exception
    constexpr unsigned short kWanted = 0x37F;
    __asm__ volatile("fldcw %0" : : "m"(kWanted));
  }
  ~X87Control() { __asm__ volatile("fldenv %0" : : "m"(saved_)); }
  X87Control(const X87Control&) = delete;
  X87Control& operator=(const X87Control&) = delete;

 private:
  struct {
    unsigned char bytes[28];
  } saved_;
};

// How a kernel policy treats lanes outside its fast path:
//   kNone      every lane takes the vector path;
//   kRedoBlock a block with such a lane is done element by element through the scalar path;
//   kFixLanes  the block is computed by the vector path into scratch; each such lane, in ascending
//              order, is recomputed, stored and reported by the scalar path and read back; then the
//              block is stored.
enum class Check { kNone, kRedoBlock, kFixLanes };

// A kernel policy K provides
//   template <class V> static V vec(V a [, V b]);             the block computation
//                      (two results: static void vec(V a, V& r1, V& r2))
//   template <class V> static unsigned special(V a [, V b]);  lanes for the scalar path (if checked)
//   static void scalar(int i, const T* a, [const T* b | T b,] T* r [, T* r2]);
//                                                             one element: store, then report
// and may set (defaults in brackets):
//   kCheck [kFixLanes]; kUnroll, vectors per block [1]; kX87 [false]: the kernel runs inside an
//     X87Control (extended-precision scalar routines);
//   kTailScratch [true]: the tail shorter than a block goes through whole vectors and one partial
//     vector whose lanes past the end repeat the tail's first element, so they raise no flag of
//     their own (any special lane sends that part of the tail to scalar); false sends the whole
//     tail element by element through the scalar path (one vector computation per element: at
//     AVX-512 a block of four float vectors leaves up to 63 of them);
//   kTailGroup [0]: the tail goes in groups of min(kTailGroup, lanes), padded with kPad, only the
//     special lanes through the scalar path; with kAlignHead the elements before the first 16-byte
//     boundary of the arguments go first, as one such group.

// Reads a policy setting, or its default where the policy leaves it out.
#define ZOK_POLICY_SETTING(reader, member, fallback) \
  template <class K>                                 \
  constexpr auto reader() {                          \
    if constexpr (requires { K::member; }) {         \
      return K::member;                              \
    } else {                                         \
      return fallback;                               \
    }                                                \
  }
ZOK_POLICY_SETTING(check_of, kCheck, Check::kFixLanes)
ZOK_POLICY_SETTING(unroll_of, kUnroll, 1)
ZOK_POLICY_SETTING(tail_scratch_of, kTailScratch, true)
ZOK_POLICY_SETTING(tail_group_of, kTailGroup, 0)
ZOK_POLICY_SETTING(align_head_of, kAlignHead, false)
ZOK_POLICY_SETTING(x87_of, kX87, false)
#undef ZOK_POLICY_SETTING

#if ZOK_ISA_LEVEL == 3
// A policy whose vector computation (and lane test) is also given as vec_fixed (special_fixed),
// written only with operations that round to nearest and raise no flag whatever MXCSR's rounding
// and masks say (add_rn, round_sae, eq_sae ...), gives the results the kernel's own control would,
// without it, as long as denormals pass through unflushed: flush-to-zero and denormals-are-zero
// still act on such operations.
template <class K, class T>
constexpr bool fixed_round_of() {
  return requires {
    &K::template vec_fixed<Vec<T>>;
  };
}

// Whether MXCSR lets denormals through both ways: the smallest denormal scaled by 2^0 (vscalefss,
// in the form the fixed computations take) stays nonzero under neither flush-to-zero nor
// denormals-are-zero. A multiply would tell as well, but on AMD full-width processors a multiply
// with a denormal operand or result stalls until everything before it has finished (some 40 cycles
// after a call on a thousand floats); the scaling does not. No flag is raised, and the bits are
// read as an integer.
inline bool denormals_pass() {
  __m128 x = _mm_castsi128_ps(_mm_cvtsi32_si128(1));
  __asm__("" : "+v"(x));  // not folded at compile time
  x = _mm_scalef_round_ss(x, _mm_setzero_ps(), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
  return _mm_cvtsi128_si32(_mm_castps_si128(x)) != 0;
}

// K with vec_fixed for its vector computation and, for a K with lanes for the element path,
// special_fixed (its lane test in operations that raise no flag) for its lane test. Such lanes are
// fixed one by one: a block that K redoes whole element by element is computed by vec_fixed and
// only its special lanes redone, which gives the same results (a K with kRedoBlock gives vec_fixed
// only where its element path gives the vector path's result on every other lane). The element
// path runs under the kernel's own control, set up for that element alone.
template <class K, vm::Round kRound>
struct FixedRound : K {
  static_assert(kRound == vm::Round::NEAR, "the fixed operations round to nearest");
  static constexpr Check kCheck = check_of<K>() == Check::kNone ? Check::kNone : Check::kFixLanes;
  template <class... A>
  static decltype(auto) vec(A&&... a) {
    return K::vec_fixed(std::forward<A>(a)...);
  }
  template <class... A>
  static unsigned special(A... a) {
    return K::special_fixed(a...);
  }
  template <class... A>
  static void scalar(A... a) {
    const FpControl control(kRound);
    K::scalar(a...);
  }
};
#endif

// A policy chosen by the processor class: Dear where the instruction a computation avoids is slow
// (kCheap false), Cheap where it is not. The choice is made once per call, so a call's results all
// come from one of them; both must keep the slot's bound and report the same. Any policy with
// cheap(), IfDear and IfCheap is chosen so (Abs chooses by the caller's MXCSR).
template <const bool& kCheap, class Dear, class Cheap>
struct CostChoice {
  static bool cheap() { return kCheap; }
  using IfDear = Dear;
  using IfCheap = Cheap;
};
// Estimate (a refined reciprocal estimate) or Divide, by vm::g_division_cheap.
template <class Estimate, class Divide>
using DivisionCost = CostChoice<vm::g_division_cheap, Estimate, Divide>;
// Estimate (a refined reciprocal square root estimate) or Root (the square root instruction), by
// vm::g_root_cheap; below AVX-512 always Estimate.
template <class Estimate, class Root>
using RootCost =
    std::conditional_t<ZOK_ISA_LEVEL == 3, CostChoice<vm::g_root_cheap, Estimate, Root>, Estimate>;

// Runs body(std::type_identity<P>{}) under the control the function's flavour asks for: kernels
// that run under the caller's control skip the mode read and MXCSR entirely. P is the kernel's
// policy K or, where reading MXCSR is dear and the policy can, K at a fixed rounding with MXCSR
// untouched. Inlined into each kernel entry (its only caller): called, it took the entry's
// arguments through the stack, and the cheap kernels' calls at AVX-512 spent a few cycles on each
// such store behind the previous call's results still waiting to be written.
template <vm::Fn kFn, int kSlot, class K, class T, typename Body>
[[gnu::always_inline]] inline void with_control_of(Body&& body) {
  constexpr vm::FnTraits tr = vm::traits(kFn);
  if constexpr (requires { typename K::IfCheap; }) {
    if (K::cheap()) {
      with_control_of<kFn, kSlot, typename K::IfCheap, T>(body);
    } else {
      with_control_of<kFn, kSlot, typename K::IfDear, T>(body);
    }
  } else if constexpr ((tr.caller & (1u << kSlot)) != 0) {
    body(std::type_identity<K>{});
  } else {
    const uint32_t mode = vm::current_mode(vm::thread_state());
#if ZOK_ISA_LEVEL == 3
    if constexpr (fixed_round_of<K, T>()) {
      if (vm::g_csr_read_costly && (mode & ZOK_VM_DENORMAL_MASK) != ZOK_VM_FTZDAZ_ON && denormals_pass()) {
        body(std::type_identity<FixedRound<K, tr.round>>{});
        return;
      }
    }
#endif
    FpControl control(tr.round, mode);
    body(std::type_identity<K>{});
  }
}

// Runs body under the control the function's flavour asks for, for kernels without a policy of the
// frame's loops.
struct NoPolicy {};
template <vm::Fn kFn, int kSlot, typename Body>
[[gnu::always_inline]] inline void with_control(Body&& body) {
  with_control_of<kFn, kSlot, NoPolicy, float>([&](auto) { body(); });
}

// `count` elements from i as one vector padded with K::kPad; only special lanes go through the
// scalar path.
template <typename K, typename T>
inline void fix_group(int i, int count, const T* a, T* r) {
  using V = Vec<T>;
  constexpr int W = V::kLanes;
  alignas(64) T in[W], out[W];
  for (int j = 0; j < W; ++j) in[j] = j < count ? a[i + j] : T(K::kPad);
  const V x = loadu(in);
  storeu(out, K::vec(x));
  const unsigned special = K::special(x) & ((1u << count) - 1);
  for (unsigned m = special; m != 0; m &= m - 1) {
    const int j = __builtin_ctz(m);
    K::scalar(i + j, a, r);
    out[j] = r[i + j];
  }
  for (int j = 0; j < count; ++j) r[i + j] = out[j];
}

// A block of kUnroll vectors from i with lanes outside the fast path, as the policy's kCheck says.
// Out of line, and the loops over ordinary blocks leave their inner loop to call it: an inner loop
// with a call in it loses every vector register (all are caller-saved) and reloads the kernel's
// constants on each block. The lane masks are worked out again here, off the hot path.
template <typename K, typename T>
[[gnu::noinline]] void unary_special_block(int i, const T* a, T* r) {
  using V = Vec<T>;
  constexpr int W = V::kLanes, U = unroll_of<K>(), B = W * U;
  if constexpr (check_of<K>() == Check::kRedoBlock) {
    for (int j = 0; j < B; ++j) K::scalar(i + j, a, r);
  } else {
    // The block goes through scratch: with r == a, storing it first would overwrite the arguments
    // the scalar path still has to read (none of this block's elements is stored yet).
    alignas(64) T out[B];
    unsigned special[U];
    for (int u = 0; u < U; ++u) {
      const V x = loadu(a + i + u * W);
      special[u] = K::special(x);
      storeu(out + u * W, K::vec(x));
    }
    for (int u = 0; u < U; ++u)
      for (unsigned m = special[u]; m != 0; m &= m - 1) {
        const int j = u * W + __builtin_ctz(m);
        K::scalar(i + j, a, r);
        out[j] = r[i + j];  // a callback's replacement stands
      }
    for (int j = 0; j < B; ++j) r[i + j] = out[j];
  }
}

// The tail shorter than a block, from i: whole vectors and one partial vector (kTailScratch), or
// element by element. Out of line, like the special blocks: with the kernel's computation inlined
// here too, the compiler may stop inlining a long computation into the block loop.
template <typename K, typename T>
[[gnu::noinline]] void unary_tail(int i, int n, const T* a, T* r) {
  using V = Vec<T>;
  constexpr int W = V::kLanes;
  if constexpr (tail_scratch_of<K>()) {
    for (; i + W <= n; i += W) {
      const V x = loadu(a + i);
      if constexpr (check_of<K>() != Check::kNone) {
        if (K::special(x) != 0) {
          for (int j = 0; j < W; ++j) K::scalar(i + j, a, r);
          continue;
        }
      }
      storeu(r + i, K::vec(x));
    }
    if (i == n) return;
    const V x = load_part(a + i, n - i);
    bool fast = true;
    if constexpr (check_of<K>() != Check::kNone) fast = K::special(x) == 0;
    if (fast) {
      store_part(r + i, n - i, K::vec(x));
      return;
    }
  }
  for (; i < n; ++i) K::scalar(i, a, r);
}

// Kernels with a fast-range test (all but the cheap ones) ask for the arguments some way ahead of
// each block: past the caches the processor's own prefetching leaves a long computation waiting on
// memory (at n = 1e6 double Exp LA at AVX2 ran a quarter faster with it). A prefetch of an address
// past the array's end is harmless: it never faults. The cheap kernels run at memory speed without
// it and would pay an instruction per block in cache; a cheap kernel with a lane test says so by
// kFetchAhead = false.
template <typename K>
constexpr bool fetch_ahead_of() {
  if constexpr (requires { K::kFetchAhead; }) {
    return K::kFetchAhead;
  } else {
    return check_of<K>() != Check::kNone;
  }
}
template <typename K, typename T>
inline void fetch_ahead(const T* p) {
  if constexpr (fetch_ahead_of<K>()) {
    constexpr int kAhead = 1024, kLine = 64;
    constexpr int kBytes = unroll_of<K>() * static_cast<int>(sizeof(Vec<T>));
    const uintptr_t at = reinterpret_cast<uintptr_t>(p) + kAhead;
    for (int o = 0; o < kBytes; o += kLine) __builtin_prefetch(reinterpret_cast<const void*>(at + o), 0, 3);
  }
}

// Blocks of kUnroll vectors of one argument; see the policy settings above for heads and tails.
template <typename K, typename T>
inline void unary_loop(int n, const T* a, T* r) {
  using V = Vec<T>;
  constexpr Check kCheck = check_of<K>();
  constexpr int W = V::kLanes, U = unroll_of<K>(), B = W * U;
  constexpr int G = tail_group_of<K>() < W ? tail_group_of<K>() : W;
  int i = 0;
  if constexpr (align_head_of<K>()) {
    const uintptr_t addr = reinterpret_cast<uintptr_t>(a);
    int head = (addr % sizeof(T)) == 0 ? static_cast<int>(((16 - (addr & 15)) & 15) / sizeof(T)) : 0;
    if (head > n) head = n;
    if (head > 0) {
      fix_group<K>(0, head, a, r);
      i = head;
    }
  }
  while (i + B <= n) {
    for (; i + B <= n; i += B) {
      V x[U];
      fetch_ahead<K>(a + i);
      for (int u = 0; u < U; ++u) x[u] = loadu(a + i + u * W);
      if constexpr (kCheck != Check::kNone) {
        unsigned any = 0;
        for (int u = 0; u < U; ++u) any |= K::special(x[u]);
        if (__builtin_expect(any != 0, 0)) break;
      }
      for (int u = 0; u < U; ++u) storeu(r + i + u * W, K::vec(x[u]));
    }
    if (i + B > n) break;
    if constexpr (kCheck != Check::kNone) unary_special_block<K>(i, a, r);
    i += B;
  }
  if (i == n) return;
  if constexpr (G > 0) {
    for (; i < n; i += G) fix_group<K>(i, n - i < G ? n - i : G, a, r);
  } else {
    unary_tail<K>(i, n, a, r);
  }
}

// The second argument's vector at i (a broadcast value, or loaded), and its partial vector.
template <bool kByValue, typename V, typename B2>
inline V second_at(B2 b, V vb, int i) {
  if constexpr (kByValue) {
    return vb;
  } else {
    return loadu(b + i);
  }
}
template <bool kByValue, typename V, typename B2>
inline V second_part(B2 b, V vb, int i, int count) {
  if constexpr (kByValue) {
    return vb;
  } else {
    return load_part(b + i, count);
  }
}

// As unary_special_block, for two arguments.
template <typename K, typename T, bool kByValue, typename B2>
[[gnu::noinline]] void binary_special_block(int i, const T* a, B2 b, T* r) {
  using V = Vec<T>;
  constexpr int W = V::kLanes, U = unroll_of<K>(), B = W * U;
  if constexpr (check_of<K>() == Check::kRedoBlock) {
    for (int j = 0; j < B; ++j) K::scalar(i + j, a, b, r);
  } else {
    V vb{};
    if constexpr (kByValue) vb = splat<V>(b);
    alignas(64) T out[B];
    unsigned special[U];
    for (int u = 0; u < U; ++u) {
      const V x = loadu(a + i + u * W), y = second_at<kByValue>(b, vb, i + u * W);
      special[u] = K::special(x, y);
      storeu(out + u * W, K::vec(x, y));
    }
    for (int u = 0; u < U; ++u)
      for (unsigned m = special[u]; m != 0; m &= m - 1) {
        const int j = u * W + __builtin_ctz(m);
        K::scalar(i + j, a, b, r);
        out[j] = r[i + j];
      }
    for (int j = 0; j < B; ++j) r[i + j] = out[j];
  }
}

// As unary_tail, for two arguments.
template <typename K, typename T, bool kByValue, typename B2>
[[gnu::noinline]] void binary_tail(int i, int n, const T* a, B2 b, T* r) {
  using V = Vec<T>;
  constexpr Check kCheck = check_of<K>();
  constexpr int W = V::kLanes;
  V vb{};
  if constexpr (kByValue) vb = splat<V>(b);
  if constexpr (tail_scratch_of<K>()) {
    for (; i + W <= n; i += W) {
      const V x = loadu(a + i), y = second_at<kByValue>(b, vb, i);
      if constexpr (kCheck != Check::kNone) {
        if (K::special(x, y) != 0) {
          for (int j = 0; j < W; ++j) K::scalar(i + j, a, b, r);
          continue;
        }
      }
      storeu(r + i, K::vec(x, y));
    }
    if (i == n) return;
    const V x = load_part(a + i, n - i), y = second_part<kByValue>(b, vb, i, n - i);
    bool fast = true;
    if constexpr (kCheck != Check::kNone) fast = K::special(x, y) == 0;
    if (fast) {
      store_part(r + i, n - i, K::vec(x, y));
      return;
    }
  }
  for (; i < n; ++i) K::scalar(i, a, b, r);
}

// Two arrays, or one array against one value b broadcast to every lane (kByValue: the policy's
// scalar path takes b by value). Tails as in unary_loop (kTailScratch) or element by element.
template <typename K, typename T, bool kByValue, typename B2>
inline void binary_loop_of(int n, const T* a, B2 b, T* r) {
  using V = Vec<T>;
  constexpr Check kCheck = check_of<K>();
  constexpr int W = V::kLanes, U = unroll_of<K>(), B = W * U;
  V vb{};
  if constexpr (kByValue) vb = splat<V>(b);
  int i = 0;
  while (i + B <= n) {
    for (; i + B <= n; i += B) {
      V x[U], y[U];
      fetch_ahead<K>(a + i);
      if constexpr (!kByValue) fetch_ahead<K>(b + i);
      for (int u = 0; u < U; ++u) {
        x[u] = loadu(a + i + u * W);
        y[u] = second_at<kByValue>(b, vb, i + u * W);
      }
      if constexpr (kCheck != Check::kNone) {
        unsigned any = 0;
        for (int u = 0; u < U; ++u) any |= K::special(x[u], y[u]);
        if (__builtin_expect(any != 0, 0)) break;
      }
      for (int u = 0; u < U; ++u) storeu(r + i + u * W, K::vec(x[u], y[u]));
    }
    if (i + B > n) break;
    if constexpr (kCheck != Check::kNone) binary_special_block<K, T, kByValue>(i, a, b, r);
    i += B;
  }
  if (i < n) binary_tail<K, T, kByValue>(i, n, a, b, r);
}
template <typename K, typename T>
inline void binary_loop(int n, const T* a, const T* b, T* r) {
  binary_loop_of<K, T, false>(n, a, b, r);
}
template <typename K, typename T>
inline void by_value_loop(int n, const T* a, T b, T* r) {
  binary_loop_of<K, T, true>(n, a, b, r);
}

// As unary_special_block, for one argument and two results.
template <typename K, typename T>
[[gnu::noinline]] void two_result_special_block(int i, const T* a, T* r1, T* r2) {
  using V = Vec<T>;
  constexpr int W = V::kLanes, U = unroll_of<K>(), B = W * U;
  if constexpr (check_of<K>() == Check::kRedoBlock) {
    for (int j = 0; j < B; ++j) K::scalar(i + j, a, r1, r2);
  } else {
    alignas(64) T out1[B], out2[B];
    unsigned special[U];
    for (int u = 0; u < U; ++u) {
      const V x = loadu(a + i + u * W);
      special[u] = K::special(x);
      V y1, y2;
      K::vec(x, y1, y2);
      storeu(out1 + u * W, y1);
      storeu(out2 + u * W, y2);
    }
    for (int u = 0; u < U; ++u)
      for (unsigned m = special[u]; m != 0; m &= m - 1) {
        const int j = u * W + __builtin_ctz(m);
        K::scalar(i + j, a, r1, r2);
        out1[j] = r1[i + j];
        out2[j] = r2[i + j];
      }
    for (int j = 0; j < B; ++j) {
      r1[i + j] = out1[j];
      r2[i + j] = out2[j];
    }
  }
}

// As unary_tail, for one argument and two results.
template <typename K, typename T>
[[gnu::noinline]] void two_result_tail(int i, int n, const T* a, T* r1, T* r2) {
  using V = Vec<T>;
  constexpr Check kCheck = check_of<K>();
  constexpr int W = V::kLanes;
  if constexpr (tail_scratch_of<K>()) {
    for (; i + W <= n; i += W) {
      const V x = loadu(a + i);
      if constexpr (kCheck != Check::kNone) {
        if (K::special(x) != 0) {
          for (int j = 0; j < W; ++j) K::scalar(i + j, a, r1, r2);
          continue;
        }
      }
      V y1, y2;
      K::vec(x, y1, y2);
      storeu(r1 + i, y1);
      storeu(r2 + i, y2);
    }
    if (i == n) return;
    const V x = load_part(a + i, n - i);
    bool fast = true;
    if constexpr (kCheck != Check::kNone) fast = K::special(x) == 0;
    if (fast) {
      V y1, y2;
      K::vec(x, y1, y2);
      store_part(r1 + i, n - i, y1);
      store_part(r2 + i, n - i, y2);
      return;
    }
  }
  for (; i < n; ++i) K::scalar(i, a, r1, r2);
}

// One argument, two results (K::vec(x, r1, r2)); tails as in unary_loop (kTailScratch) or element
// by element.
template <typename K, typename T>
inline void two_result_loop(int n, const T* a, T* r1, T* r2) {
  using V = Vec<T>;
  constexpr Check kCheck = check_of<K>();
  constexpr int W = V::kLanes, U = unroll_of<K>(), B = W * U;
  int i = 0;
  while (i + B <= n) {
    for (; i + B <= n; i += B) {
      V x[U];
      fetch_ahead<K>(a + i);
      for (int u = 0; u < U; ++u) x[u] = loadu(a + i + u * W);
      if constexpr (kCheck != Check::kNone) {
        unsigned any = 0;
        for (int u = 0; u < U; ++u) any |= K::special(x[u]);
        if (__builtin_expect(any != 0, 0)) break;
      }
      for (int u = 0; u < U; ++u) {
        V y1, y2;
        K::vec(x[u], y1, y2);
        storeu(r1 + i + u * W, y1);
        storeu(r2 + i + u * W, y2);
      }
    }
    if (i + B > n) break;
    if constexpr (kCheck != Check::kNone) two_result_special_block<K>(i, a, r1, r2);
    i += B;
  }
  if (i < n) two_result_tail<K>(i, n, a, r1, r2);
}

// f over two arrays with no special lanes, kUnroll vectors at a time; the tail in whole vectors and
// one partial vector. For computations closed over by-value arguments (LinearFrac's four scalars).
template <int kUnroll, typename T, typename F>
inline void map_loop(int n, const T* a, const T* b, T* r, F f) {
  using V = Vec<T>;
  constexpr int W = V::kLanes, B = W * kUnroll;
  int i = 0;
  for (; i + B <= n; i += B) {
    V y[kUnroll];
    for (int u = 0; u < kUnroll; ++u) y[u] = f(loadu(a + i + u * W), loadu(b + i + u * W));
    for (int u = 0; u < kUnroll; ++u) storeu(r + i + u * W, y[u]);
  }
  for (; i + W <= n; i += W) storeu(r + i, f(loadu(a + i), loadu(b + i)));
  if (i < n) store_part(r + i, n - i, f(load_part(a + i, n - i), load_part(b + i, n - i)));
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

// The report routine of an element type: arrays a and b (one-argument kernels pass a twice), or
// b by value (a kernel of one array and one scalar).
inline void report(int32_t code, int32_t i, const float* a, const float* b, float* r1, float* r2,
                   const char* name) {
  vm::report_error_s(code, i, a, b, r1, r2, name);
}
inline void report(int32_t code, int32_t i, const double* a, const double* b, double* r1, double* r2,
                   const char* name) {
  vm::report_error_d(code, i, a, b, r1, r2, name);
}
inline void report(int32_t code, int32_t i, const float* a, float b, float* r, const char* name) {
  vm::report_error_s_value(code, i, a, b, r, name);
}
inline void report(int32_t code, int32_t i, const double* a, double b, double* r, const char* name) {
  vm::report_error_d_value(code, i, a, b, r, name);
}

// ---- kernel entries and registration, shared by every family ----

// The exported kernel of each argument shape: n <= 0 does nothing; otherwise the shape's loop (or
// the policy's own run(), for policies that pick a loop by their scalar arguments) runs under the
// control its function and flavour ask for.
template <vm::Fn kFn, int kSlot, typename K, typename T>
void kernel_a(int n, const T* a, T* r) {
  if (n <= 0) return;
  with_control_of<kFn, kSlot, K, T>([&]<class P>(std::type_identity<P>) {
    if constexpr (x87_of<K>()) {
      const X87Control x87;
      unary_loop<P>(n, a, r);
    } else {
      unary_loop<P>(n, a, r);
    }
  });
}
template <vm::Fn kFn, int kSlot, typename K, typename T>
void kernel_ab(int n, const T* a, const T* b, T* r) {
  if (n <= 0) return;
  with_control_of<kFn, kSlot, K, T>([&]<class P>(std::type_identity<P>) { binary_loop<P>(n, a, b, r); });
}
template <vm::Fn kFn, int kSlot, typename K, typename T>
void kernel_a_rr(int n, const T* a, T* r1, T* r2) {
  if (n <= 0) return;
  with_control_of<kFn, kSlot, K, T>(
      [&]<class P>(std::type_identity<P>) { two_result_loop<P>(n, a, r1, r2); });
}
template <vm::Fn kFn, int kSlot, typename K, typename T>
void kernel_ax(int n, const T* a, T b, T* r) {
  if (n <= 0) return;
  with_control<kFn, kSlot>([&] {
    if constexpr (requires { K::run(n, a, b, r); }) {
      K::run(n, a, b, r);
    } else {
      by_value_loop<K>(n, a, b, r);
    }
  });
}
template <vm::Fn kFn, int kSlot, typename K, typename T>
void kernel_linfrac(int n, const T* a, const T* b, T sa, T sha, T sb, T shb, T* r) {
  if (n <= 0) return;
  with_control<kFn, kSlot>([&] { K::run(n, a, b, sa, sha, sb, shb, r); });
}

template <typename F>
inline void* ptr(F* f) {
  return reinterpret_cast<void*>(f);
}

// The kernel of function kFn in slot kSlot with policy K, in the shape of the function's row.
template <vm::Fn kFn, int kSlot, typename K>
inline void* entry() {
  using T = vm::Elem<kFn>;
  constexpr vm::Shape shape = vm::traits(kFn).shape;
  if constexpr (shape == vm::Shape::A_R) return ptr(&kernel_a<kFn, kSlot, K, T>);
  if constexpr (shape == vm::Shape::AB_R) return ptr(&kernel_ab<kFn, kSlot, K, T>);
  if constexpr (shape == vm::Shape::A_RR) return ptr(&kernel_a_rr<kFn, kSlot, K, T>);
  if constexpr (shape == vm::Shape::AX_R) return ptr(&kernel_ax<kFn, kSlot, K, T>);
  if constexpr (shape == vm::Shape::LINFRAC) return ptr(&kernel_linfrac<kFn, kSlot, K, T>);
  return nullptr;
}

// The policy K<T> of the function's element type in every slot, for policies that depend on nothing
// else: reg<Fn::sAdd, ByElem<AddK>::Of>.
template <template <typename> class K>
struct ByElem {
  template <vm::Fn f, int>
  using Of = K<vm::Elem<f>>;
};

// One of three policies by slot, for families' policy choices: BySlot<s, La, Ha, Ep>.
template <int kSlot, class La, class Ha, class Ep>
using BySlot = std::conditional_t<kSlot == vm::kLA, La, std::conditional_t<kSlot == vm::kHA, Ha, Ep>>;

// Registers function kFn with Policy<kFn, slot> in each slot. Slots that the row's sharing joins get
// one kernel, run under the caller control of the first of them (HA for ALL and LAHA, LA for LAEP),
// and the family must give them one policy.
template <vm::Fn kFn, template <vm::Fn, int> class Policy>
void reg(vm::KernelSlots& s) {
  using vm::kEP;
  using vm::kHA;
  using vm::kLA;
  using vm::Share;
  constexpr Share share = vm::traits(kFn).share;
  constexpr bool la_ha = share == Share::ALL || share == Share::LAHA;
  constexpr bool la_ep = share == Share::ALL || share == Share::LAEP;
  static_assert(!la_ha || std::is_same_v<Policy<kFn, kLA>, Policy<kFn, kHA>>,
                "the row shares one kernel between LA and HA, the family gives them different policies");
  static_assert(!la_ep || std::is_same_v<Policy<kFn, kLA>, Policy<kFn, kEP>>,
                "the row shares one kernel between LA and EP, the family gives them different policies");
  void** slots = s[static_cast<int>(kFn)];
  slots[kHA] = entry<kFn, kHA, Policy<kFn, kHA>>();
  if constexpr (la_ha) {
    slots[kLA] = slots[kHA];
  } else {
    slots[kLA] = entry<kFn, kLA, Policy<kFn, kLA>>();
  }
  if constexpr (share == Share::ALL) {
    slots[kEP] = slots[kHA];
  } else if constexpr (la_ep) {
    slots[kEP] = slots[kLA];
  } else {
    slots[kEP] = entry<kFn, kEP, Policy<kFn, kEP>>();
  }
}

}  // namespace zok::ZOK_ISA_NS

// What the distribution generators share: the stream's operations, uniform draws through them, and
// the scope that repairs vector-math errors of internal kernel calls while a distribution runs.
#pragma once

#include <cstdint>

#include "frame/mode_guard.h"
#include "frame/thread_state.h"
#include "streams/registry.h"
#include "zok/random.h"
#include "zok/vector_math.h"

namespace zok::rng {

// Distributions draw in blocks of this many uniforms (or outputs) on the stack.
inline constexpr int32_t kBlock = 1024;

// The row whose operations serve the stream (the stream was checked when it was made).
inline const GeneratorProperties& row_of(const StreamRecord* stream) {
  return *operations_row(stream->brng);
}

// n uniforms on [a, b) from the stream's generator (the uniform operation's method 0).
inline int32_t uniform(StreamRecord* stream, int32_t n, double* r, double a, double b) {
  return row_of(stream).generate_d(stream, n, r, a, b);
}
inline int32_t uniform(StreamRecord* stream, int32_t n, float* r, float a, float b) {
  return row_of(stream).generate_s(stream, n, r, a, b);
}

// For the scope's lifetime the thread's error mode is "callback" only and `callback` is installed,
// so kernel errors of internal work become the values the callback sets and never reach the
// caller. At the end the caller's callback, mode word (whole: the setter cannot clear a field) and
// error status (each repaired element sets it) come back, in that order.
class RepairScope {
 public:
  explicit RepairScope(ErrorCallback callback) : ts_(vm::thread_state()) {
    status_ = ts_->status;
    mode_ = _yubSetMode(ZOK_VM_ERRMODE_CALLBACK);
    callback_ = ts_->callback;
    ts_->callback = callback;
  }
  ~RepairScope() {
    ts_->callback = callback_;
    ts_->mode = mode_;
    ts_->status = status_;
  }
  RepairScope(const RepairScope&) = delete;
  RepairScope& operator=(const RepairScope&) = delete;

 private:
  vm::ThreadState* ts_;
  uint32_t mode_;
  ErrorCallback callback_;
  int32_t status_;
};

// The values repairs put in: L = ln of the smallest positive denormal (what ln 0 stands for) and
// E, which stands for erfinv(±1); single precision has its own pair.
template <class T>
struct RepairValues;
template <>
struct RepairValues<double> {
  static constexpr double kLnZero = -744.4400719213812;  // bits 0xC0874385446D71C3
  static constexpr double kEdge = 5.8635847487551676;    // bits 0x4017744F8F74E94A
};
template <>
struct RepairValues<float> {
  static constexpr float kLnZero = -103.27893f;
  static constexpr float kEdge = 3.832507f;
};

// The Gaussian callback: a singularity at 0 (ln 0) gives L; another singularity (erfinv ±1) or a
// domain error gives -E below zero, else +E. Returns 0 so that the values are written.
template <class T>
int32_t repair_ln_erfinv(ErrorContext* context) {
  if (context->code == ZOK_VM_STATUS_SING && context->arg1 == 0.0) {
    context->res1 = context->res2 = RepairValues<T>::kLnZero;
  } else if (context->code == ZOK_VM_STATUS_SING || context->code == ZOK_VM_STATUS_DOMAIN) {
    context->res1 = context->res2 = context->arg1 < 0.0 ? -RepairValues<T>::kEdge : RepairValues<T>::kEdge;
  }
  return 0;
}

// Gaussian variates of mean a and standard deviation sigma by method 0, 1 or 2 (else -2, nothing
// written), inside the repairing scope with repair_ln_erfinv, as _q?RngGaussian. Method 1 keeps its
// pending pair in the stream's chunk ZOK_RNG_CHUNK_GAUSSIAN_PAIR_D (_S).
int32_t gaussian(int32_t method, StreamRecord* stream, int32_t n, double* r, double a, double sigma);
int32_t gaussian(int32_t method, StreamRecord* stream, int32_t n, float* r, float a, float sigma);
// The method alone, for code that already holds RepairScope(repair_ln_erfinv<T>) around a longer
// run of its own kernel calls.
int32_t gaussian_unguarded(int32_t method, StreamRecord* stream, int32_t n, double* r, double a,
                           double sigma);
int32_t gaussian_unguarded(int32_t method, StreamRecord* stream, int32_t n, float* r, float a, float sigma);

}  // namespace zok::rng

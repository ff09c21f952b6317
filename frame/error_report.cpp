// The four error-report routines and the exported status and callback services.
#include "frame/error_report.h"

#include <cerrno>
#include <cstring>

#include "frame/thread_state.h"
#include "zok/core_services.h"

namespace zok::vm {

namespace {

constexpr int kMsgBadArgIndex = 735;
constexpr int kMsgBadArg = 736;
constexpr int kMsgDomain = 737;  // 738 singularity, 739 overflow, 740 underflow follow
constexpr int kMsgUnknown = 741;

bool carries_values(int32_t code) {
  return code != ZOK_VM_STATUS_BADARG_INDEX && code != ZOK_VM_STATUS_BADARG;
}

template <typename T>
struct Parts {
  static double re(const T& v) { return v; }
  static double im(const T&) { return 0.0; }
  static void set(T& out, double re, double) { out = static_cast<T>(re); }
};

template <typename T>
struct Parts<std::complex<T>> {
  static double re(const std::complex<T>& v) { return v.real(); }
  static double im(const std::complex<T>& v) { return v.imag(); }
  static void set(std::complex<T>& out, double re, double im) {
    out = std::complex<T>(static_cast<T>(re), static_cast<T>(im));
  }
};

void print_report(const ErrorContext& ctx) {
  char name[sizeof ctx.func_name + 1];
  std::memcpy(name, ctx.func_name, static_cast<size_t>(ctx.func_name_len));
  name[ctx.func_name_len] = '\0';
  switch (ctx.code) {
    case ZOK_VM_STATUS_BADARG:
      zok_serv_print(1, kMsgBadArg, 1, name);
      return;
    case ZOK_VM_STATUS_BADARG_INDEX:
      zok_serv_print(1, kMsgBadArgIndex, 2, name, ctx.index);
      return;
    case ZOK_VM_STATUS_OK:
      return;
    case ZOK_VM_STATUS_DOMAIN:
    case ZOK_VM_STATUS_SING:
    case ZOK_VM_STATUS_OVERFLOW:
    case ZOK_VM_STATUS_UNDERFLOW:
      zok_serv_print(1, kMsgDomain - 1 + ctx.code, 1, name);
      break;
    default:
      zok_serv_print(1, kMsgUnknown, 1, name);
      break;
  }
  // A second value counts as present unless it equals the first or zero; NaN never compares equal.
  const bool arg2 = !(ctx.arg2 == ctx.arg1 || ctx.arg2 == 0.0);
  const bool res2 = !(ctx.res2 == ctx.res1 || ctx.res2 == 0.0);
  struct Line {
    int msg;
    double value;
  };
  Line lines[4];
  int n = 0;
  if (!arg2 && !res2) {
    lines[n++] = {742, ctx.arg1};
    lines[n++] = {743, ctx.res1};
  } else if (!arg2) {
    lines[n++] = {744, ctx.arg1};
    lines[n++] = {745, ctx.res1};
    lines[n++] = {746, ctx.res2};
  } else if (!res2) {
    lines[n++] = {747, ctx.arg1};
    lines[n++] = {748, ctx.arg2};
    lines[n++] = {749, ctx.res1};
  } else {
    lines[n++] = {750, ctx.arg1};
    lines[n++] = {751, ctx.arg2};
    lines[n++] = {752, ctx.res1};
    lines[n++] = {753, ctx.res2};
  }
  for (int i = 0; i < n; ++i) zok_serv_print(1, lines[i].msg, 2, ctx.index, lines[i].value);
}

// a2_at points at the element's second argument: an array element, or a kernel's by-value argument.
template <typename T>
void report(int32_t code, int32_t index, const T* a1, const T* a2_at, T* r1, T* r2, const char* name) {
  using P = Parts<T>;
  ThreadState* ts = thread_state();
  ts->status = code;
  const uint32_t mode = current_mode(ts);
  if ((mode & ZOK_VM_ERRMODE_MASK) == ZOK_VM_ERRMODE_IGNORE) return;

  ErrorContext ctx{};
  ctx.code = code;
  int64_t whole_index = index;
  if (ts->input_base != nullptr) {
    // The kernel sees one block of the caller's array; the callback gets the index in the whole array.
    const auto distance =
        static_cast<intptr_t>(reinterpret_cast<uintptr_t>(a1) - reinterpret_cast<uintptr_t>(ts->input_base));
    whole_index += distance / static_cast<intptr_t>(sizeof(T));
  }
  ctx.index = static_cast<int32_t>(whole_index);
  const size_t len = name == nullptr ? 0 : strnlen(name, sizeof ctx.func_name);
  std::memcpy(ctx.func_name, name, len);
  ctx.func_name_len = static_cast<int32_t>(len);

  const bool values = carries_values(code);
  if (values) {
    ctx.arg1 = P::re(a1[index]);
    ctx.arg1_im = P::im(a1[index]);
    ctx.arg2 = P::re(*a2_at);
    ctx.arg2_im = P::im(*a2_at);
    ctx.res1 = P::re(r1[index]);
    ctx.res1_im = P::im(r1[index]);
    ctx.res2 = P::re(r2[index]);
    ctx.res2_im = P::im(r2[index]);
  }

  if ((mode & 0xF000u) != 0 && ts->callback != nullptr && ts->callback(&ctx) != 0) return;

  if ((mode & 0x0F00u) != 0) {
    if (mode & ZOK_VM_ERRMODE_ERRNO) errno = errno_for_status(code);
    if (mode & ZOK_VM_ERRMODE_STDERR) print_report(ctx);
  }

  if (values) {
    // Second result first: for a function of one result both point at the same element and the
    // first result must be what stays.
    P::set(r2[index], ctx.res2, ctx.res2_im);
    P::set(r1[index], ctx.res1, ctx.res1_im);
  }
}

template <typename T>
const T* element(const T* array, int32_t index) {
  return array == nullptr ? nullptr : array + index;
}

}  // namespace

int errno_for_status(int32_t code) {
  switch (code) {
    case ZOK_VM_STATUS_BADARG:
      return EACCES;
    case ZOK_VM_STATUS_BADARG_INDEX:
      return EINVAL;
    case ZOK_VM_STATUS_OK:
      return 0;
    case ZOK_VM_STATUS_DOMAIN:
      return EDOM;
    case ZOK_VM_STATUS_SING:
    case ZOK_VM_STATUS_OVERFLOW:
    case ZOK_VM_STATUS_UNDERFLOW:
      return ERANGE;
    default:
      return EFAULT;
  }
}

void report_error_s(int32_t code, int32_t index, const float* a1, const float* a2, float* r1, float* r2,
                    const char* name) {
  report(code, index, a1, element(a2, index), r1, r2, name);
}
void report_error_d(int32_t code, int32_t index, const double* a1, const double* a2, double* r1, double* r2,
                    const char* name) {
  report(code, index, a1, element(a2, index), r1, r2, name);
}
void report_error_c(int32_t code, int32_t index, const std::complex<float>* a1, const std::complex<float>* a2,
                    std::complex<float>* r1, std::complex<float>* r2, const char* name) {
  report(code, index, a1, element(a2, index), r1, r2, name);
}
void report_error_z(int32_t code, int32_t index, const std::complex<double>* a1,
                    const std::complex<double>* a2, std::complex<double>* r1, std::complex<double>* r2,
                    const char* name) {
  report(code, index, a1, element(a2, index), r1, r2, name);
}

void report_error_s_value(int32_t code, int32_t index, const float* a1, float b, float* r, const char* name) {
  report(code, index, a1, &b, r, r, name);
}
void report_error_d_value(int32_t code, int32_t index, const double* a1, double b, double* r,
                          const char* name) {
  report(code, index, a1, &b, r, r, name);
}
void report_error_c_value(int32_t code, int32_t index, const std::complex<float>* a1, std::complex<float> b,
                          std::complex<float>* r, const char* name) {
  report(code, index, a1, &b, r, r, name);
}
void report_error_z_value(int32_t code, int32_t index, const std::complex<double>* a1, std::complex<double> b,
                          std::complex<double>* r, const char* name) {
  report(code, index, a1, &b, r, r, name);
}

}  // namespace zok::vm

using zok::vm::current_mode;
using zok::vm::set_mode;
using zok::vm::thread_state;

extern "C" {

ZOK_VM_API int32_t _yubGetErrStatus(void) {
  return thread_state()->status;
}

ZOK_VM_API int32_t _yubSetErrStatus(int32_t status) {
  zok::vm::ThreadState* ts = thread_state();
  const int32_t old = ts->status;
  ts->status = status;
  return old;
}

ZOK_VM_API int32_t _yubClearErrStatus(void) {
  return _yubSetErrStatus(0);
}

ZOK_VM_API ErrorCallback _yubGetErrorCallBack(void) {
  return thread_state()->callback;
}

ZOK_VM_API ErrorCallback _yubSetErrorCallBack(ErrorCallback callback) {
  zok::vm::ThreadState* ts = thread_state();
  const uint32_t mode = current_mode(ts);
  const ErrorCallback old = ts->callback;
  ts->callback = callback;
  // set_mode writes no zero field, so clearing the bit when it is the only error mode leaves it set.
  set_mode(ts, callback != nullptr ? (mode | ZOK_VM_ERRMODE_CALLBACK) : (mode & ~ZOK_VM_ERRMODE_CALLBACK));
  return old;
}

ZOK_VM_API ErrorCallback _yubClearErrorCallBack(void) {
  zok::vm::ThreadState* ts = thread_state();
  const uint32_t mode = current_mode(ts);
  const ErrorCallback old = ts->callback;
  ts->callback = nullptr;
  set_mode(ts, mode & ~ZOK_VM_ERRMODE_CALLBACK);
  return old;
}

ZOK_VM_API int32_t zok_yub_kernel_GetErrStatus(void) __attribute__((alias("_yubGetErrStatus")));
ZOK_VM_API int32_t zok_yub_kernel_SetErrStatus(int32_t) __attribute__((alias("_yubSetErrStatus")));
ZOK_VM_API int32_t zok_yub_kernel_ClearErrStatus(void) __attribute__((alias("_yubClearErrStatus")));
ZOK_VM_API ErrorCallback zok_yub_kernel_GetErrorCallBack(void) __attribute__((alias("_yubGetErrorCallBack")));
ZOK_VM_API ErrorCallback zok_yub_kernel_SetErrorCallBack(ErrorCallback)
    __attribute__((alias("_yubSetErrorCallBack")));
ZOK_VM_API ErrorCallback zok_yub_kernel_ClearErrorCallBack(void)
    __attribute__((alias("_yubClearErrorCallBack")));

}  // extern "C"

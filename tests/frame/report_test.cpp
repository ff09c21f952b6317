// Error reports: status, ignore-alone, callback replace/abort, errno, numbered messages, the index
// adjustment for a block of a larger array, and the name cut to 64 characters.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <complex>
#include <limits>
#include <regex>
#include <string>
#include <vector>

#include "frame/error_report.h"
#include "tests/frame/test_support.h"
#include "zok/vector_math.h"

namespace {

using zok::test::ModeOption;
using zok::test::on_fresh_thread;
using zok::vm::report_error_c;
using zok::vm::report_error_d;
using zok::vm::report_error_s;
using zok::vm::report_error_z;

// A test kernel in the shape real kernels take: compute every element, then report the special ones.
void test_ln(int n, const double* a, double* r) {
  for (int i = 0; i < n; ++i) {
    // The special values are stored directly: the C library's log would set errno itself.
    r[i] = a[i] == 0.0 ? -HUGE_VAL : a[i] < 0.0 ? std::nan("") : std::log(a[i]);
    if (a[i] == 0.0) report_error_d(ZOK_VM_STATUS_SING, i, a, a, r, r, "vdLn");
    if (a[i] < 0.0) report_error_d(ZOK_VM_STATUS_DOMAIN, i, a, a, r, r, "vdLn");
  }
}

// What the callback saw, and what it does.
struct CallbackLog {
  int calls = 0;
  ErrorContext last{};
  double replacement = 0.0;
  int32_t verdict = 0;
};
thread_local CallbackLog* t_log = nullptr;

int32_t logging_callback(ErrorContext* ctx) {
  ++t_log->calls;
  t_log->last = *ctx;
  ctx->res1 = t_log->replacement;
  return t_log->verdict;
}

// Message numbers in the order printed, from captured standard error.
std::vector<int> message_numbers(const std::string& err) {
  std::vector<int> out;
  static const std::regex re("zok-(\\d+):");
  for (std::sregex_iterator it(err.begin(), err.end(), re), end; it != end; ++it)
    out.push_back(std::stoi((*it)[1]));
  return out;
}

struct Outcome {
  int32_t status = 0;
  int err = -1;
  int calls = 0;
  double r1 = 0.0;
  std::vector<int> messages;
  ErrorContext ctx{};
};

// Runs the test kernel on {2, 0, 5} in a fresh thread under the given error mode.
Outcome run_ln(uint32_t errmode, bool with_callback, int32_t verdict = 0) {
  ModeOption env(nullptr);
  return on_fresh_thread([=] {
    CallbackLog log;
    log.replacement = 42.0;
    log.verdict = verdict;
    t_log = &log;
    if (with_callback) _yubSetErrorCallBack(logging_callback);
    _yubSetMode(errmode);
    if ((_yubGetMode() & ZOK_VM_ERRMODE_MASK) != errmode) ADD_FAILURE() << "could not set the error mode";
    const double a[3] = {2.0, 0.0, 5.0};
    double r[3];
    errno = 0;
    testing::internal::CaptureStderr();
    test_ln(3, a, r);
    Outcome o;
    o.messages = message_numbers(testing::internal::GetCapturedStderr());
    o.err = errno;
    o.status = _yubGetErrStatus();
    o.calls = log.calls;
    o.r1 = r[1];
    o.ctx = log.last;
    return o;
  });
}

TEST(Report, IgnoreAloneOnlySetsTheStatus) {
  const Outcome o = run_ln(0x100, /*with_callback=*/false);
  EXPECT_EQ(o.status, ZOK_VM_STATUS_SING);
  EXPECT_EQ(o.err, 0);
  EXPECT_TRUE(o.messages.empty());
  EXPECT_EQ(o.r1, -std::numeric_limits<double>::infinity());
  // With a callback stored, ignore alone still skips it (the callback bit is part of the field).
  ModeOption env(nullptr);
  const int calls = on_fresh_thread([] {
    CallbackLog log;
    t_log = &log;
    _yubSetErrorCallBack(logging_callback);
    // Replace the error field by 0x100 alone: the callback stays stored but the bit goes.
    _yubSetMode(0x100);
    const double a = 0.0;
    double r = 1.0;
    report_error_d(ZOK_VM_STATUS_SING, 0, &a, &a, &r, &r, "vdLn");
    return log.calls + (r == 1.0 ? 100 : 0);
  });
  EXPECT_EQ(calls, 100);  // not called, and the kernel's result stays as it was
}

TEST(Report, IgnorePlusErrnoGoesOn) {
  const Outcome o = run_ln(0x300, false);
  EXPECT_EQ(o.status, ZOK_VM_STATUS_SING);
  EXPECT_EQ(o.err, ERANGE);
  EXPECT_TRUE(o.messages.empty());
}

TEST(Report, CallbackReplacesTheResultWhenItReturnsZero) {
  const Outcome o = run_ln(0x1600, true, 0);
  EXPECT_EQ(o.calls, 1);
  EXPECT_EQ(o.r1, 42.0);
  EXPECT_EQ(o.err, ERANGE);
  // The message is printed from the record as the callback left it: its first result (42) now
  // differs from the second (the kernel's -inf), so the second result counts as present.
  EXPECT_EQ(o.messages, (std::vector<int>{738, 744, 745, 746}));
  EXPECT_EQ(o.ctx.code, ZOK_VM_STATUS_SING);
  EXPECT_EQ(o.ctx.index, 1);
  EXPECT_EQ(o.ctx.arg1, 0.0);
  EXPECT_EQ(o.ctx.arg2, 0.0);
  EXPECT_EQ(o.ctx.res1, -std::numeric_limits<double>::infinity());
  EXPECT_EQ(std::string(o.ctx.func_name, static_cast<size_t>(o.ctx.func_name_len)), "vdLn");
  EXPECT_EQ(o.ctx.func_name[4], '\0');
}

TEST(Report, CallbackReturningNonZeroEndsTheReport) {
  const Outcome o = run_ln(0x1600, true, 1);
  EXPECT_EQ(o.calls, 1);
  EXPECT_EQ(o.status, ZOK_VM_STATUS_SING);
  EXPECT_EQ(o.r1, -std::numeric_limits<double>::infinity());  // the kernel's result stands
  EXPECT_EQ(o.err, 0);
  EXPECT_TRUE(o.messages.empty());
}

TEST(Report, CallbackBitWithoutCallbackFollowsTheOtherBits) {
  const Outcome o = run_ln(0x1600, false);
  EXPECT_EQ(o.calls, 0);
  EXPECT_EQ(o.err, ERANGE);
  EXPECT_EQ(o.messages, (std::vector<int>{738, 742, 743}));
  EXPECT_EQ(o.r1, -std::numeric_limits<double>::infinity());
}

TEST(Report, ErrnoFollowsTheCodeTable) {
  ModeOption env(nullptr);
  const std::vector<std::pair<int32_t, int>> table = {{-2, 13}, {-1, 22}, {0, 0},  {1, 33},
                                                      {2, 34},  {3, 34},  {4, 34}, {1000, 14}};
  for (const auto& [code, expected] : table) {
    const int err = on_fresh_thread([code = code] {
      _yubSetMode(0x200);
      double a = 1.0, r = 2.0;
      errno = 12345;
      report_error_d(code, 0, &a, &a, &r, &r, "vdX");
      return errno;
    });
    EXPECT_EQ(err, expected) << "code " << code;
  }
}

// Reports one element with the given second argument/result and returns the message numbers.
std::vector<int> messages_for(int32_t code, double a1, double a2, double r1, double r2) {
  ModeOption env(nullptr);
  return on_fresh_thread([=] {
    _yubSetMode(0x400);
    double a[2] = {a1, a2}, r[2] = {r1, r2};
    testing::internal::CaptureStderr();
    report_error_d(code, 0, &a[0], &a[1], &r[0], &r[1], "vdPow");
    return message_numbers(testing::internal::GetCapturedStderr());
  });
}

TEST(Report, MessagesFollowArgumentAndResultPresence) {
  using V = std::vector<int>;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(messages_for(3, 800.0, 800.0, 1e308, 1e308), (V{739, 742, 743}));
  EXPECT_EQ(messages_for(3, 800.0, 0.0, 1e308, 0.0), (V{739, 742, 743}));  // zero counts as absent
  EXPECT_EQ(messages_for(1, -1.0, -1.0, nan, 2.0), (V{737, 744, 745, 746}));
  EXPECT_EQ(messages_for(4, 1e-300, 3.0, 0.0, 0.0), (V{740, 747, 748, 749}));
  EXPECT_EQ(messages_for(2, 0.0, -1.0, 5.0, 6.0), (V{738, 750, 751, 752, 753}));
  // NaN never compares equal, so a NaN second result next to a NaN first one counts as present.
  EXPECT_EQ(messages_for(1, -1.0, -1.0, nan, nan), (V{737, 744, 745, 746}));
  EXPECT_EQ(messages_for(1000, 1.0, 1.0, 1.0, 1.0), (V{741, 742, 743}));
  EXPECT_EQ(messages_for(0, 1.0, 1.0, 1.0, 1.0), V{});
}

TEST(Report, ArgumentErrorsCarryNoValuesAndReadNoArrays) {
  ModeOption env(nullptr);
  const std::string out = on_fresh_thread([] {
    CallbackLog log;
    log.replacement = 9.0;
    t_log = &log;
    _yubSetErrorCallBack(logging_callback);
    _yubSetMode(0x1400);
    testing::internal::CaptureStderr();
    report_error_d(ZOK_VM_STATUS_BADARG_INDEX, 17, nullptr, nullptr, nullptr, nullptr, "vdAdd");
    report_error_s(ZOK_VM_STATUS_BADARG, 0, nullptr, nullptr, nullptr, nullptr, "vsAdd");
    std::string err = testing::internal::GetCapturedStderr();
    const ErrorContext& c = log.last;
    if (log.calls != 2 || c.arg1 != 0.0 || c.res1 != 0.0 || c.code != -2) err += "|bad context";
    return err + "|status " + std::to_string(_yubGetErrStatus());
  });
  EXPECT_EQ(message_numbers(out), (std::vector<int>{735, 736}));
  EXPECT_NE(out.find("vdAdd: bad argument at element 17"), std::string::npos) << out;
  EXPECT_EQ(out.find("bad context"), std::string::npos) << out;
  EXPECT_NE(out.find("|status -2"), std::string::npos) << out;
}

TEST(Report, IndexCountsFromTheWholeInputArray) {
  ModeOption env(nullptr);
  struct Seen {
    int32_t d_index, s_index, z_index;
    double d_arg, s_arg, z_arg_im;
  };
  const Seen s = on_fresh_thread([] {
    CallbackLog log;
    t_log = &log;
    _yubSetErrorCallBack(logging_callback);
    Seen out{};
    std::vector<double> whole(2000);
    for (size_t i = 0; i < whole.size(); ++i) whole[i] = static_cast<double>(i);
    std::vector<double> r(16);
    _yubSetInterfInputVectorPointer(whole.data());
    report_error_d(3, 5, whole.data() + 1000, whole.data() + 1000, r.data(), r.data(), "vdExp");
    out.d_index = log.last.index;
    out.d_arg = log.last.arg1;  // values come from the block element, not the whole-array index

    std::vector<float> wf(2000);
    for (size_t i = 0; i < wf.size(); ++i) wf[i] = static_cast<float>(i);
    std::vector<float> rf(16);
    _yubSetInterfInputVectorPointer(wf.data());
    report_error_s(3, 5, wf.data() + 1000, wf.data() + 1000, rf.data(), rf.data(), "vsExp");
    out.s_index = log.last.index;
    out.s_arg = log.last.arg1;

    std::vector<std::complex<double>> wz(2000);
    for (size_t i = 0; i < wz.size(); ++i) wz[i] = {0.0, static_cast<double>(i)};
    std::vector<std::complex<double>> rz(16);
    _yubSetInterfInputVectorPointer(wz.data());
    report_error_z(3, 5, wz.data() + 1000, wz.data() + 1000, rz.data(), rz.data(), "vzExp");
    out.z_index = log.last.index;
    out.z_arg_im = log.last.arg1_im;
    _yubSetInterfInputVectorPointer(nullptr);
    return out;
  });
  EXPECT_EQ(s.d_index, 1005);
  EXPECT_EQ(s.d_arg, 1005.0);
  EXPECT_EQ(s.s_index, 1005);
  EXPECT_EQ(s.s_arg, 1005.0f);
  EXPECT_EQ(s.z_index, 1005);
  EXPECT_EQ(s.z_arg_im, 1005.0);
}

TEST(Report, LongNamesAreCutTo64Characters) {
  ModeOption env(nullptr);
  const std::string name(70, 'n');
  const ErrorContext c = on_fresh_thread([&name] {
    CallbackLog log;
    t_log = &log;
    _yubSetErrorCallBack(logging_callback);
    double a = 1.0, r = 1.0;
    report_error_d(1, 0, &a, &a, &r, &r, name.c_str());
    return log.last;
  });
  EXPECT_EQ(c.func_name_len, 64);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(c.func_name[i], 'n') << i;
}

int32_t complex_callback(ErrorContext* ctx) {
  // Swap real and imaginary parts of both results, and record what came in.
  t_log->last = *ctx;
  ++t_log->calls;
  ctx->res1 = 5.0;
  ctx->res1_im = 6.0;
  ctx->res2 = 7.0;
  ctx->res2_im = 8.0;
  return 0;
}

TEST(Report, ComplexValuesAndWriteBackOrder) {
  ModeOption env(nullptr);
  struct Seen {
    ErrorContext ctx;
    std::complex<float> one_result, first, second;
  };
  const Seen s = on_fresh_thread([] {
    CallbackLog log;
    t_log = &log;
    _yubSetErrorCallBack(complex_callback);
    Seen out{};
    const std::complex<float> a[1] = {{1.5f, -2.5f}}, b[1] = {{3.0f, 4.0f}};
    std::complex<float> r[1] = {{9.0f, 10.0f}};
    // One result: both result arrays are the same, and the first result must be what stays.
    report_error_c(3, 0, a, b, r, r, "vcPow");
    out.ctx = log.last;
    out.one_result = r[0];
    std::complex<float> r1[1] = {}, r2[1] = {};
    report_error_c(3, 0, a, a, r1, r2, "vcSinCos");
    out.first = r1[0];
    out.second = r2[0];
    return out;
  });
  EXPECT_EQ(s.ctx.arg1, 1.5);
  EXPECT_EQ(s.ctx.arg1_im, -2.5);
  EXPECT_EQ(s.ctx.arg2, 3.0);
  EXPECT_EQ(s.ctx.arg2_im, 4.0);
  EXPECT_EQ(s.ctx.res1, 9.0);
  EXPECT_EQ(s.ctx.res1_im, 10.0);
  EXPECT_EQ(s.one_result, std::complex<float>(5.0f, 6.0f));
  EXPECT_EQ(s.first, std::complex<float>(5.0f, 6.0f));
  EXPECT_EQ(s.second, std::complex<float>(7.0f, 8.0f));
}

TEST(StatusAndCallback, ServicesKeepTheLatestAndMendTheCallbackBit) {
  ModeOption env(nullptr);
  const std::string trace = on_fresh_thread([] {
    std::string t;
    auto rec = [&t](long v) { t += std::to_string(v) + ";"; };
    double a = 1.0, r = 1.0;
    _yubSetMode(0x100);
    report_error_d(3, 0, &a, &a, &r, &r, "vdExp");
    report_error_d(4, 0, &a, &a, &r, &r, "vdExp");
    rec(_yubGetErrStatus());               // 4: the latest report, not accumulated
    rec(_yubSetErrStatus(7));              // returns the old status
    rec(zok_yub_kernel_ClearErrStatus());  // 7
    rec(_yubGetErrStatus());               // 0
    _yubSetMode(0x1000);                   // callback alone
    rec(_yubSetErrorCallBack(logging_callback) == nullptr);
    rec(_yubGetErrorCallBack() == logging_callback);
    rec(_yubSetErrorCallBack(nullptr) == logging_callback);
    // Clearing the only error bit would make the field zero, which SetMode never writes.
    rec(_yubGetMode() & ZOK_VM_ERRMODE_MASK);
    _yubSetMode(0x1600);
    _yubSetErrorCallBack(logging_callback);
    rec(zok_yub_kernel_ClearErrorCallBack() == logging_callback);
    rec(_yubGetMode() & ZOK_VM_ERRMODE_MASK);  // 0x600
    rec(_yubGetErrorCallBack() == nullptr);
    _yubSetMode(0x200);
    rec(_yubGetMode() & ZOK_VM_ERRMODE_MASK);  // 0x200
    _yubSetErrorCallBack(logging_callback);
    rec(_yubGetMode() & ZOK_VM_ERRMODE_MASK);  // 0x1200
    return t;
  });
  EXPECT_EQ(trace, "4;4;7;0;1;1;1;4096;1;1536;1;512;4608;");
}

}  // namespace

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

// What the callback saw, and what it does: replace the first result, return the verdict. Making
// one installs `cb` (if any) on this thread, logging here.
struct CallbackLog {
  explicit CallbackLog(ErrorCallback cb, double replacement = 0.0, int32_t verdict = 0);
  int calls = 0;
  ErrorContext last{};
  double replacement;
  int32_t verdict;
};
thread_local CallbackLog* t_log = nullptr;

int32_t logging_callback(ErrorContext* ctx) {
  ++t_log->calls;
  t_log->last = *ctx;
  ctx->res1 = t_log->replacement;
  return t_log->verdict;
}

CallbackLog::CallbackLog(ErrorCallback cb, double replacement, int32_t verdict)
    : replacement(replacement), verdict(verdict) {
  t_log = this;
  if (cb) _yubSetErrorCallBack(cb);
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
  int32_t status;
  int err, calls;
  double r1;
  std::vector<int> messages;
  ErrorContext ctx;
};

// Runs the test kernel on {2, 0, 5} in a fresh thread under the given error mode.
Outcome run_ln(uint32_t errmode, bool with_callback, int32_t verdict = 0) {
  ModeOption env(nullptr);
  return on_fresh_thread([=] {
    CallbackLog log(with_callback ? logging_callback : nullptr, 42.0, verdict);
    _yubSetMode(errmode);
    if ((_yubGetMode() & ZOK_VM_ERRMODE_MASK) != errmode) ADD_FAILURE() << "could not set the error mode";
    const double a[3] = {2.0, 0.0, 5.0};
    double r[3];
    errno = 0;
    testing::internal::CaptureStderr();
    for (int i = 0; i < 3; ++i) {  // in the shape real kernels take: compute, then report
      r[i] = a[i] == 0.0 ? -HUGE_VAL : std::log(a[i]);  // stored directly: log(0) would set errno
      if (a[i] == 0.0) report_error_d(ZOK_VM_STATUS_SING, i, a, a, r, r, "vdLn");
    }
    const auto messages = message_numbers(testing::internal::GetCapturedStderr());
    return Outcome{_yubGetErrStatus(), errno, log.calls, r[1], messages, log.last};
  });
}

// Status, errno, callback calls, the result left in place and the messages printed, for each way
// the error-mode bits combine; with a callback stored, ignore alone still skips it.
TEST(Report, ErrorModeBitsDecideWhatHappens) {
  constexpr double kNegInf = -std::numeric_limits<double>::infinity();
  struct Case {
    const char* name;
    uint32_t mode;
    bool with_callback;
    int32_t verdict;
    int calls, err;
    double r1;
    std::vector<int> messages;
  };
  // Replaced: the message is printed from the record as the callback left it, whose first result
  // (42) now differs from the second (the kernel's -inf), so the second result counts as present.
  for (const Case& c :
       {Case{"ignore alone", 0x100, false, 0, 0, 0, kNegInf, {}},
        Case{"ignore and errno", 0x300, false, 0, 0, ERANGE, kNegInf, {}},
        Case{"callback replaces", 0x1600, true, 0, 1, ERANGE, 42.0, {738, 744, 745, 746}},
        Case{"callback ends the report", 0x1600, true, 1, 1, 0, kNegInf, {}},
        Case{"callback bit, none stored", 0x1600, false, 0, 0, ERANGE, kNegInf, {738, 742, 743}}}) {
    SCOPED_TRACE(c.name);
    const Outcome o = run_ln(c.mode, c.with_callback, c.verdict);
    EXPECT_EQ(o.status, ZOK_VM_STATUS_SING);
    EXPECT_EQ(o.calls, c.calls);
    EXPECT_EQ(o.err, c.err);
    EXPECT_EQ(o.r1, c.r1);
    EXPECT_EQ(o.messages, c.messages);
    if (c.calls == 0) continue;
    EXPECT_EQ(o.ctx.code, ZOK_VM_STATUS_SING);
    EXPECT_EQ(o.ctx.index, 1);
    EXPECT_EQ(o.ctx.arg1, 0.0);
    EXPECT_EQ(o.ctx.arg2, 0.0);
    EXPECT_EQ(o.ctx.res1, kNegInf);
    EXPECT_EQ(std::string(o.ctx.func_name, static_cast<size_t>(o.ctx.func_name_len)), "vdLn");
    EXPECT_EQ(o.ctx.func_name[4], '\0');
  }
  ModeOption env(nullptr);
  const int calls = on_fresh_thread([] {
    CallbackLog log(logging_callback);
    _yubSetMode(0x100);  // the callback stays stored but its bit goes
    const double a = 0.0;
    double r = 1.0;
    report_error_d(ZOK_VM_STATUS_SING, 0, &a, &a, &r, &r, "vdLn");
    return log.calls + (r == 1.0 ? 100 : 0);
  });
  EXPECT_EQ(calls, 100);  // not called, and the kernel's result stays as it was
}

// errno mode sets errno from the status code's table entry, for every code including unknown ones.
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

// Which value lines are printed depends on the code and on which second argument/result exist.
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

// Argument errors read no array (all are null here), give the callback no values, print their own
// messages and set the status.
TEST(Report, ArgumentErrorsCarryNoValuesAndReadNoArrays) {
  ModeOption env(nullptr);
  const std::string out = on_fresh_thread([] {
    CallbackLog log(logging_callback, 9.0);
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

// With a base pointer set, the reported index counts from the whole array while the values come
// from the block element, for real and complex kinds.
TEST(Report, IndexCountsFromTheWholeInputArray) {
  ModeOption env(nullptr);
  const std::vector<double> seen = on_fresh_thread([] {
    CallbackLog log(logging_callback);
    std::vector<double> out;
    auto check = [&](auto make, auto report, double ErrorContext::*field) {
      std::vector<decltype(make(0))> whole(2000), r(16);
      for (int i = 0; i < 2000; ++i) whole[i] = make(i);
      _yubSetInterfInputVectorPointer(whole.data());
      report(3, 5, whole.data() + 1000, whole.data() + 1000, r.data(), r.data(), "vxExp");
      out.push_back(log.last.index);
      out.push_back(log.last.*field);
    };
    check([](int i) { return double(i); }, report_error_d, &ErrorContext::arg1);
    check([](int i) { return float(i); }, report_error_s, &ErrorContext::arg1);
    check([](int i) { return std::complex<double>(0.0, i); }, report_error_z, &ErrorContext::arg1_im);
    _yubSetInterfInputVectorPointer(nullptr);
    return out;
  });
  EXPECT_EQ(seen, (std::vector<double>{1005, 1005, 1005, 1005, 1005, 1005}));
}

// A function name longer than the record's field is cut to 64 characters, not overrun.
TEST(Report, LongNamesAreCutTo64Characters) {
  ModeOption env(nullptr);
  const std::string name(70, 'n');
  const ErrorContext c = on_fresh_thread([&name] {
    CallbackLog log(logging_callback);
    double a = 1.0, r = 1.0;
    report_error_d(1, 0, &a, &a, &r, &r, name.c_str());
    return log.last;
  });
  EXPECT_EQ(c.func_name_len, 64);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(c.func_name[i], 'n') << i;
}

// Records what came in and writes fixed values to both complex results.
int32_t complex_callback(ErrorContext* ctx) {
  t_log->last = *ctx;
  ++t_log->calls;
  ctx->res1 = 5.0;
  ctx->res1_im = 6.0;
  ctx->res2 = 7.0;
  ctx->res2_im = 8.0;
  return 0;
}

// Both parts of complex arguments reach the callback; with one result array (given twice) the first
// replacement is what stays, with two each gets its own.
TEST(Report, ComplexValuesAndWriteBackOrder) {
  ModeOption env(nullptr);
  using C = std::complex<float>;
  const auto [ctx, results] = on_fresh_thread([] {
    CallbackLog log(complex_callback);
    const C a[1] = {{1.5f, -2.5f}}, b[1] = {{3.0f, 4.0f}};
    C r[1] = {{9.0f, 10.0f}}, r1[1] = {}, r2[1] = {};
    report_error_c(3, 0, a, b, r, r, "vcPow");
    const ErrorContext first = log.last;
    report_error_c(3, 0, a, a, r1, r2, "vcSinCos");
    return std::pair{first, std::vector<C>{r[0], r1[0], r2[0]}};
  });
  EXPECT_EQ((std::vector<double>{ctx.arg1, ctx.arg1_im, ctx.arg2, ctx.arg2_im, ctx.res1, ctx.res1_im}),
            (std::vector<double>{1.5, -2.5, 3.0, 4.0, 9.0, 10.0}));
  EXPECT_EQ(results, (std::vector<C>{{5.0f, 6.0f}, {5.0f, 6.0f}, {7.0f, 8.0f}}));
}

// Status services keep the latest code and return the old one; setting and clearing the callback
// adds and removes the callback bit without ever leaving the error field zero.
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

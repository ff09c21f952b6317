// zok info and zok mode: version, processor features, the mode word and how options parse; the
// frame's tour stops (mode options, an error report through a callback).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "apps/zok/commands.h"
#include "frame/cpu.h"
#include "frame/error_report.h"
#include "frame/functions.h"
#include "frame/thread_state.h"
#include "zok/core_services.h"
#include "zok/vector_math.h"

namespace {

constexpr const char* kVersion = "0.1.0";

std::string decode_mode(uint32_t m) {
  static const char* kAccuracy[] = {"none", "LA", "HA", "EP"};
  const uint32_t acc = m & ZOK_VM_ACCURACY_MASK;
  std::string s = "accuracy=";
  s += acc < 4 ? kAccuracy[acc] : "?";
  s += " errmode=";
  const struct {
    uint32_t bit;
    const char* name;
  } kErr[] = {
      {0x100, "ignore"}, {0x200, "errno"}, {0x400, "stderr"}, {0x800, "except"}, {0x1000, "callback"}};
  bool any = false;
  for (const auto& e : kErr)
    if (m & e.bit) {
      s += any ? "+" : "";
      s += e.name;
      any = true;
    }
  if (!any) s += "none";
  const uint32_t den = m & ZOK_VM_DENORMAL_MASK;
  s += den == ZOK_VM_FTZDAZ_ON ? " denormals=flushed" : " denormals=kept";
  if (m & ZOK_VM_CONSISTENCY_MASK) s += " consistency=" + std::to_string((m & ZOK_VM_CONSISTENCY_MASK) >> 4);
  return s;
}

int cmd_info() {
  const zok::CpuFeatures f = zok::detect_cpu_features();
  std::printf("zok %s\n", kVersion);
  std::printf("cpu features: sse4.1=%s avx2=%s fma=%s avx512=%s aes=%s vaes=%s rdrand=%s\n",
              f.sse41 ? "yes" : "no", f.avx2 ? "yes" : "no", f.fma ? "yes" : "no", f.avx512 ? "yes" : "no",
              f.aes ? "yes" : "no", f.vaes ? "yes" : "no", f.rdrand ? "yes" : "no");
  std::printf("vector kernels: %s (instruction-set choice measured on %s processors)\n",
              zok::vm::isa_name(zok::vm::selected_isa()), zok::vm::cpu_class_name(zok::vm::cpu_class()));
  // Functions whose kernels of the selected set were measured slower than a narrower set's: the
  // function name alone when every slot is held, with its slots otherwise.
  std::string held;
  for (int f = 0; f < zok::vm::kFnCount; ++f) {
    static const char* kSlot[] = {"LA", "HA", "EP"};
    std::string slots;
    int count = 0;
    for (int slot = 0; slot < 3; ++slot)
      if (zok::vm::table_isa(static_cast<zok::vm::Fn>(f), slot) != zok::vm::selected_isa()) {
        slots += std::string(count++ ? "," : ":") + kSlot[slot];
      }
    if (count > 0) held += std::string(" ") + zok::vm::kFunctions[f].name + (count < 3 ? slots : "");
  }
  if (!held.empty()) std::printf("  held at a narrower set where measured faster:%s\n", held.c_str());
  // Slots that take their function's HA kernel, measured faster than their own on this processor.
  std::string borrowed;
  for (int f = 0; f < zok::vm::kFnCount; ++f) {
    std::string slots;
    for (int slot : {zok::vm::kLA, zok::vm::kEP})
      if (zok::vm::table_slot(static_cast<zok::vm::Fn>(f), slot) != slot)
        slots += std::string(slots.empty() ? ":" : ",") + (slot == zok::vm::kLA ? "LA" : "EP");
    if (!slots.empty()) borrowed += std::string(" ") + zok::vm::kFunctions[f].name + slots;
  }
  if (!borrowed.empty()) std::printf("  taking the HA kernel where measured faster:%s\n", borrowed.c_str());
  const uint32_t mode = _yubGetMode();
  std::printf("mode word: 0x%X (%s)\n", mode, decode_mode(mode).c_str());
  std::printf("thread limit: %d\n", zok_qor_serv_threader_get_num_threads_limit());
  return 0;
}

// Parses an option value the way a fresh thread reads ZOK_YUB_MODE.
void show_option(const char* value) {
  char buf[zok::vm::kModeOptionBufferSize] = {};
  std::snprintf(buf, sizeof buf, "%s", value);
  const auto parsed = zok::vm::parse_mode_option(buf);
  if (parsed) {
    std::printf("  %-34s -> 0x%X (%s)\n", value, *parsed, decode_mode(*parsed).c_str());
  } else {
    std::printf("  %-34s -> rejected, default 0x%X\n", value, zok::vm::kDefaultMode);
  }
}

// argv[0] is "mode".
int cmd_mode(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: zok mode OPTION...   (e.g. zok mode YUB_LA,YUB_ERRMODE_STDERR)\n");
    return 2;
  }
  for (int i = 1; i < argc; ++i) show_option(argv[i]);
  return 0;
}

int32_t tour_callback(ErrorContext* ctx) {
  std::printf(
      "  callback: code %d at element %d of %.*s, argument %g, kernel result %g -> replaced by -1e300\n",
      ctx->code, ctx->index, ctx->func_name_len, ctx->func_name, ctx->arg1, ctx->res1);
  ctx->res1 = -1e300;
  return 0;
}

// A demonstration kernel: natural logarithm with the frame's reports for zero and negative input.
void demo_ln(int n, const double* a, double* r) {
  for (int i = 0; i < n; ++i) {
    r[i] = std::log(a[i]);
    if (a[i] == 0.0) zok::vm::report_error_d(ZOK_VM_STATUS_SING, i, a, a, r, r, "vdLn");
    if (a[i] < 0.0) zok::vm::report_error_d(ZOK_VM_STATUS_DOMAIN, i, a, a, r, r, "vdLn");
  }
}

void tour_mode() {
  zok::app::tour_heading("the mode option, as each thread parses ZOK_YUB_MODE");
  for (const char* v : {"YUB_LA,YUB_ERRMODE_STDERR", "YUB_LA,YUB_HA", "YUB_EP,YUB_ERRMODE_CALLBACK",
                        "YUB_LA;YUB_HA", "YUB_DOUBLE_CONSISTENT", "YUB_HA,"})
    show_option(v);
  setenv(zok::vm::kModeVariable, "YUB_EP,YUB_ERRMODE_ERRNO", 1);
  uint32_t fresh = 0;
  std::thread([&] { fresh = _yubGetMode(); }).join();
  std::printf("  a new thread with ZOK_YUB_MODE=YUB_EP,YUB_ERRMODE_ERRNO reads 0x%X (%s)\n", fresh,
              decode_mode(fresh).c_str());
  unsetenv(zok::vm::kModeVariable);
}

void tour_report() {
  zok::app::tour_heading("an error report through a callback");
  const double a[4] = {2.0, 0.0, -1.0, 1.0};
  double r[4];
  uint32_t old_mode = 0, old_status = 0;
  std::thread([&] {
    _yubSetErrorCallBack(tour_callback);
    old_mode = _yubGetMode();
    demo_ln(4, a, r);
    old_status = static_cast<uint32_t>(_yubGetErrStatus());
  }).join();
  std::printf("  mode 0x%X; ln of {2, 0, -1, 1} = {%g, %g, %g, %g}; status after the call: %u\n", old_mode,
              r[0], r[1], r[2], r[3], old_status);
}

void tour_info() {
  zok::app::tour_heading("info");
  cmd_info();
}

int run_info(int, char**) {
  return cmd_info();
}

const bool kRegistered =
    zok::app::register_command({"info", "info          version, processor features, mode word, thread limit",
                                run_info, tour_info, 0}) &&
    zok::app::register_command({"mode",
                                "mode OPTION   parse mode option values as ZOK_YUB_MODE would be parsed",
                                cmd_mode, tour_mode, 10}) &&
    zok::app::register_command({"report", nullptr, nullptr, tour_report, 20});

}  // namespace

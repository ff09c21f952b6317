// zok vm packi|packv|packm|unpacki|unpackv|unpackm: one pack or unpack function on values, showing
// which places of y it wrote; and the tour stop for them.
#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "apps/zok/commands.h"
#include "frame/functions.h"
#include "zok/vector_math.h"

namespace {

using zok::vm::Shape;

constexpr const char* kUsage =
    "usage: zok vm packi|packv|packm|unpacki|unpackv|unpackm [--type s|d|c|z] [--inc K | --index I,J,... |\n"
    "       --mask M,M,...] [--wide] VALUES...\n"
    "  complex values are re:im; --wide calls through the table with 64-bit n, increment and arrays\n"
    "  prints y; places the function left untouched show as '.'\n";

int usage_error(const char* message) {
  std::fprintf(stderr, "zok vm: %s\n%s", message, kUsage);
  return 2;
}

bool parse_int(const std::string& text, int64_t* out) {
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || end != text.c_str() + text.size()) return false;
  *out = v;
  return true;
}

bool parse_list(const std::string& text, std::vector<int64_t>* out) {
  size_t at = 0;
  while (at <= text.size()) {
    const size_t comma = std::min(text.find(',', at), text.size());
    int64_t v;
    if (!parse_int(text.substr(at, comma - at), &v)) return false;
    out->push_back(v);
    at = comma + 1;
  }
  return !out->empty();
}

// One element as two doubles (the imaginary part 0 for real types).
bool parse_element(const std::string& text, bool complex, double* re, double* im) {
  const size_t colon = text.find(':');
  if (!complex && colon != std::string::npos) return false;
  char* end = nullptr;
  const std::string r = text.substr(0, colon);
  *re = std::strtod(r.c_str(), &end);
  if (r.empty() || end != r.c_str() + r.size()) return false;
  *im = 0;
  if (colon == std::string::npos) return true;
  const std::string i = text.substr(colon + 1);
  *im = std::strtod(i.c_str(), &end);
  return !i.empty() && end == i.c_str() + i.size();
}

// Elements of any type held as bytes; a place of y is untouched while it keeps the sentinel bytes.
struct Elements {
  char type;
  size_t unit;
  std::vector<unsigned char> bytes;
  void put(size_t i, double re, double im) {
    unsigned char* p = bytes.data() + i * unit;
    if (type == 's' || type == 'c') {
      const float v[2] = {static_cast<float>(re), static_cast<float>(im)};
      std::memcpy(p, v, unit);
    } else {
      const double v[2] = {re, im};
      std::memcpy(p, v, unit);
    }
  }
  std::string show(size_t i, const std::vector<unsigned char>& sentinel) const {
    const unsigned char* p = bytes.data() + i * unit;
    if (std::memcmp(p, sentinel.data(), unit) == 0) return ".";
    char text[80];
    if (type == 's' || type == 'c') {
      float v[2] = {0, 0};
      std::memcpy(v, p, unit);
      if (type == 's') std::snprintf(text, sizeof text, "%.9g", v[0]);
      if (type == 'c') std::snprintf(text, sizeof text, "%.9g:%.9g", v[0], v[1]);
    } else {
      double v[2] = {0, 0};
      std::memcpy(v, p, unit);
      if (type == 'd') std::snprintf(text, sizeof text, "%.17g", v[0]);
      if (type == 'z') std::snprintf(text, sizeof text, "%.17g:%.17g", v[0], v[1]);
    }
    return text;
  }
};

}  // namespace

namespace zok::app {

bool is_pack_function(const std::string& name) {
  for (const char* f : {"packi", "packv", "packm", "unpacki", "unpackv", "unpackm"})
    if (strcasecmp(name.c_str(), f) == 0) return true;
  return false;
}

// argv[0] is "vm", argv[1] the function.
int vm_pack(int argc, char** argv) {
  char type = 'd';
  int64_t inc = 1;
  bool wide = false, have_inc = false;
  std::vector<int64_t> list;
  std::vector<std::string> values;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (arg == "--type") {
      const std::string t = next();
      if (t.size() != 1 || std::strchr("sdcz", t[0]) == nullptr)
        return usage_error("--type needs s, d, c or z");
      type = t[0];
    } else if (arg == "--inc") {
      if (!parse_int(next(), &inc)) return usage_error("--inc needs an integer");
      have_inc = true;
    } else if (arg == "--index" || arg == "--mask") {
      if (!parse_list(next(), &list))
        return usage_error("--index and --mask need integers separated by commas");
    } else if (arg == "--wide") {
      wide = true;
    } else {
      values.push_back(arg);
    }
  }
  const std::string fname = std::string(1, type) + argv[1];
  int fn = -1;
  for (int f = 0; f < zok::vm::kFnCount; ++f)
    if (strcasecmp(zok::vm::kFunctions[f].name + 1, fname.c_str()) == 0) fn = f;
  if (fn < 0) return usage_error("no such function");
  const auto& in = zok::vm::kFunctions[fn];
  const bool strided = in.shape == Shape::PACK_I || in.shape == Shape::UNPACK_I;
  const bool pack = in.shape == Shape::PACK_I || in.shape == Shape::PACK_V || in.shape == Shape::PACK_M;
  const bool masked = in.shape == Shape::PACK_M || in.shape == Shape::UNPACK_M;
  if (strided && !list.empty()) return usage_error("the strided forms take --inc, not --index or --mask");
  if (!strided && have_inc) return usage_error("the indexed and masked forms take --index or --mask");
  const bool complex = type == 'c' || type == 'z';
  Elements a{type, type == 's' ? 4u : type == 'z' ? 16u : 8u, {}};
  for (size_t i = 0; i < values.size(); ++i) {
    double re, im;
    if (!parse_element(values[i], complex, &re, &im))
      return usage_error("a value is not a number (re:im for c, z)");
    a.bytes.resize((i + 1) * a.unit);
    a.put(i, re, im);
  }
  // n: the values for the strided pack (every inc-th value is read), the list otherwise.
  const int64_t nv = static_cast<int64_t>(values.size());
  int64_t n =
      strided
          ? (pack ? (inc == 0 ? (nv > 0 ? 1 : 0) : (nv - 1) / static_cast<int64_t>(std::llabs(inc)) + 1) : nv)
          : static_cast<int64_t>(list.size());
  if (nv == 0) n = 0;
  // The highest place of a that is read and of y that is written (y is shown up to it).
  int64_t read = -1, write = -1, selected = 0;
  for (int64_t i = 0; i < n; ++i) {
    if (in.shape == Shape::PACK_I)
      read = std::max(read, i * static_cast<int64_t>(std::llabs(inc))), write = i;
    if (in.shape == Shape::PACK_V) read = std::max(read, list[i]), write = i;
    if (in.shape == Shape::UNPACK_I)
      read = i, write = std::max(write, i * static_cast<int64_t>(std::llabs(inc)));
    if (in.shape == Shape::UNPACK_V) read = i, write = std::max(write, list[i]);
    if (masked && list[i] != 0) {
      if (pack) read = i, write = selected;
      if (!pack) read = selected, write = i;
      ++selected;
    }
  }
  for (int64_t v : list) {
    if (!masked && v < 0) return usage_error("this command takes indices from 0");
    if (!wide && v != static_cast<int32_t>(v)) return usage_error("a value beyond 32 bits needs --wide");
  }
  if (read >= nv) return usage_error("the function would read beyond the values given");
  if (inc < 0)
    return usage_error("this command takes increments from 0 (the library also takes negative ones)");
  Elements y{type, a.unit, std::vector<unsigned char>(static_cast<size_t>(write + 1) * a.unit, 0xA5)};
  const std::vector<unsigned char> sentinel(a.unit, 0xA5);
  void* const k = in.table[0];
  std::vector<int32_t> l32(list.begin(), list.end());
  const void* arr = wide ? static_cast<const void*>(list.data()) : l32.data();
  const int32_t flag = wide ? 0 : 1;
  using StridedPack = void (*)(int64_t, const void*, int64_t, void*, int32_t);
  using StridedUnpack = void (*)(int64_t, const void*, void*, int64_t, int32_t);
  using ListPack = void (*)(int64_t, const void*, const void*, void*, int32_t);
  using ListUnpack = void (*)(int64_t, const void*, void*, const void*, int32_t);
  if (in.shape == Shape::PACK_I)
    reinterpret_cast<StridedPack>(k)(n, a.bytes.data(), inc, y.bytes.data(), flag);
  if (in.shape == Shape::UNPACK_I)
    reinterpret_cast<StridedUnpack>(k)(n, a.bytes.data(), y.bytes.data(), inc, flag);
  if (!strided && pack) reinterpret_cast<ListPack>(k)(n, a.bytes.data(), arr, y.bytes.data(), flag);
  if (!strided && !pack) reinterpret_cast<ListUnpack>(k)(n, a.bytes.data(), y.bytes.data(), arr, flag);
  std::printf("%s n %" PRId64 " (%s integers):", in.name, n, wide ? "64-bit" : "32-bit");
  for (size_t i = 0; i * y.unit < y.bytes.size(); ++i) std::printf(" %s", y.show(i, sentinel).c_str());
  std::printf("\n");
  return 0;
}

}  // namespace zok::app

namespace {

void tour_pack() {
  zok::app::tour_heading("vector math: pack and unpack");
  const float a[6] = {10, 11, 12, 13, 14, 15};
  float y[5] = {0, 0, 0, 0, 0};
  _yubsPackI(3, a, 2, y);
  std::printf("sPackI(n 3, inc 2) of 10..15: %g %g %g\n", y[0], y[1], y[2]);
  const double ad[5] = {1, 2, 3, 4, 5};
  double yd[5] = {-1, -1, -1, -1, -1};
  const int ma[5] = {0, 1, 1, 0, 1};
  _yubdPackM(5, ad, ma, yd);
  std::printf("dPackM(mask 0,1,1,0,1) of 1..5: %g %g %g, the rest of y kept: %g %g\n", yd[0], yd[1], yd[2],
              yd[3], yd[4]);
  float yv[3] = {0, 0, 0};
  const int iy[2] = {2, 2};
  _yubsUnpackV(2, a, yv, iy);
  std::printf("sUnpackV(index 2,2) of 10, 11: y[2] = %g (the larger i stands)\n", yv[2]);
  const uint64_t snan = 0x7FF4000000000ABCull;
  double src, dst = 0;
  std::memcpy(&src, &snan, 8);
  const int one[1] = {0};
  _yubdPackV(1, &src, one, &dst);
  uint64_t out;
  std::memcpy(&out, &dst, 8);
  std::printf("a signalling NaN through dPackV: 0x%016" PRIx64 " -> 0x%016" PRIx64 "\n", snan, out);

  const int n = 1000000;
  std::vector<double> x(3 * static_cast<size_t>(n)), r(n);
  std::vector<int> idx(n), mask(n);
  std::mt19937 rng(3);
  for (int i = 0; i < n; ++i) {
    x[i] = i;
    idx[i] = static_cast<int>(rng() % n);
    mask[i] = static_cast<int>(rng() & 1);
  }
  double* sink = r.data();
  // The loops' results count as used, so the compiler keeps them whole.
  auto keep = [&] { asm volatile("" : : "r"(sink) : "memory"); };
  const double pv = zok::app::ns_per_element(n, [&] { _yubdPackV(n, x.data(), idx.data(), r.data()); });
  const double lv = zok::app::ns_per_element(n, [&] {
    for (int i = 0; i < n; ++i) sink[i] = x[idx[i]];
    keep();
  });
  const double pm = zok::app::ns_per_element(n, [&] { _yubdPackM(n, x.data(), mask.data(), r.data()); });
  const double lm = zok::app::ns_per_element(n, [&] {
    for (int i = 0, j = 0; i < n; ++i)
      if (mask[i]) sink[j++] = x[i];
    keep();
  });
  std::printf("n = 1e6: dPackV %.2f ns/element (plain loop %.2f), dPackM %.2f (plain loop %.2f)\n", pv, lv,
              pm, lm);
}

const bool kRegistered = zok::app::register_command({"vm-pack", nullptr, nullptr, tour_pack, 45});

}  // namespace

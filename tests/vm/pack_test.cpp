// Pack and unpack: the stubs on the documented examples, and every kernel of every instruction set
// against a plain ascending loop over raw bytes (strides, indices, masks, overlap, both integer
// widths), bit for bit, with nothing outside the selected places written.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <xmmintrin.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "frame/functions.h"
#include "tests/vm/vm_test_support.h"
#include "zok/vector_math.h"

namespace {

using zok::vm::Fn;
using zok::vm::Shape;

TEST(Pack, DocumentedExamplesThroughTheStubs) {
  const float a[6] = {10, 11, 12, 13, 14, 15};
  float y[5] = {-1, -1, -1, -1, -1};
  _yubsPackI(3, a, 2, y);
  EXPECT_EQ(std::vector<float>(y, y + 4), (std::vector<float>{10, 12, 14, -1}));

  const double ad[5] = {1, 2, 3, 4, 5};
  double yd[5] = {-1, -1, -1, -1, -1};
  const int ma[5] = {0, 1, 1, 0, 1};
  _yubdPackM(5, ad, ma, yd);
  EXPECT_EQ(std::vector<double>(yd, yd + 5), (std::vector<double>{2, 3, 5, -1, -1}));

  float ys[5] = {-1, -1, -1, -1, -1};
  const int my[5] = {1, 0, 0, 1, 0};
  _yubsUnpackM(5, a, ys, my);
  EXPECT_EQ(std::vector<float>(ys, ys + 5), (std::vector<float>{10, -1, -1, 11, -1}));

  float yv[4] = {-1, -1, -1, -1};
  const int iy[2] = {2, 2};
  _yubsUnpackV(2, a, yv, iy);  // repeated targets: the larger i stands
  EXPECT_EQ(std::vector<float>(yv, yv + 4), (std::vector<float>{-1, -1, 11, -1}));

  float y0[2] = {-1, -1};
  _yubsUnpackI(4, a, y0, 0);
  EXPECT_EQ(y0[0], 13.0f);
  EXPECT_EQ(y0[1], -1.0f);

  const ZokComplex16 z[3] = {{1, 2}, {3, 4}, {5, 6}};
  ZokComplex16 yz[2] = {};
  const int iz[2] = {2, 0};
  _yubzPackV(2, z, iz, yz);
  EXPECT_TRUE(yz[0].re == 5 && yz[0].im == 6 && yz[1].re == 1 && yz[1].im == 2);
}

int g_callbacks = 0;
int32_t count_callback(ErrorContext*) {
  ++g_callbacks;
  return 0;
}

// Signalling NaNs with payloads, -0 and denormals arrive bit for bit, also under FTZ and DAZ; the
// control word, the error status and the callback are left alone.
TEST(Pack, UnitsMoveBitForBitUnderAnyControl) {
  const unsigned saved = _mm_getcsr();
  _mm_setcsr(saved | 0x8040);
  _yubSetErrStatus(7);
  const ErrorCallback old_callback = _yubSetErrorCallBack(count_callback);
  g_callbacks = 0;
  const uint64_t bits[8] = {0x7FF0000000000123ull, 0xFFF4000000000001ull, 0x8000000000000000ull, 1,
                            0x7F800123FF800001ull, 0x0000000180000000ull, 0x0000000100000001ull, 0x7FA00000u};
  for (int bytes : {4, 8, 16}) {
    std::vector<unsigned char> a(reinterpret_cast<const unsigned char*>(bits),
                                 reinterpret_cast<const unsigned char*>(bits) + sizeof bits),
        y(sizeof bits, 0xEE);
    const int n = static_cast<int>(sizeof bits) / bytes;
    std::vector<int> idx(n);
    for (int i = 0; i < n; ++i) idx[i] = n - 1 - i;
    if (bytes == 4)
      _yubsPackV(n, reinterpret_cast<const float*>(a.data()), idx.data(), reinterpret_cast<float*>(y.data()));
    if (bytes == 8)
      _yubdPackV(n, reinterpret_cast<const double*>(a.data()), idx.data(),
                 reinterpret_cast<double*>(y.data()));
    if (bytes == 16)
      _yubzPackV(n, reinterpret_cast<const ZokComplex16*>(a.data()), idx.data(),
                 reinterpret_cast<ZokComplex16*>(y.data()));
    for (int i = 0; i < n; ++i)
      EXPECT_EQ(std::memcmp(&y[i * bytes], &a[(n - 1 - i) * bytes], bytes), 0) << bytes << "-byte unit " << i;
    std::vector<unsigned char> c(sizeof bits, 0xEE);
    _yubcPackI(4, reinterpret_cast<const ZokComplex8*>(a.data()), 1,
               reinterpret_cast<ZokComplex8*>(c.data()));
    EXPECT_EQ(std::memcmp(c.data(), a.data(), 32), 0);
  }
  EXPECT_EQ(_mm_getcsr(), saved | 0x8040);
  EXPECT_EQ(_yubGetErrStatus(), 7);
  EXPECT_EQ(g_callbacks, 0);
  _yubSetErrorCallBack(old_callback);
  _yubClearErrStatus();
  _mm_setcsr(saved);
}

// ---- every kernel against the plain loop ----

enum Kind { kPackI, kPackV, kPackM, kUnpackI, kUnpackV, kUnpackM };
const Fn kFns[6][4] = {{Fn::sPackI, Fn::dPackI, Fn::cPackI, Fn::zPackI},
                       {Fn::sPackV, Fn::dPackV, Fn::cPackV, Fn::zPackV},
                       {Fn::sPackM, Fn::dPackM, Fn::cPackM, Fn::zPackM},
                       {Fn::sUnpackI, Fn::dUnpackI, Fn::cUnpackI, Fn::zUnpackI},
                       {Fn::sUnpackV, Fn::dUnpackV, Fn::cUnpackV, Fn::zUnpackV},
                       {Fn::sUnpackM, Fn::dUnpackM, Fn::cUnpackM, Fn::zUnpackM}};
const int kUnit[4] = {4, 8, 8, 16};

struct Case {
  Kind kind;
  int type;
  int64_t n;
  int64_t inc;                // strided kinds
  std::vector<int64_t> list;  // indices or mask values
  int64_t a_at, y_at;         // byte offsets of a and y in one buffer (they may overlap)
  bool wide;                  // 64-bit n, increment and list (flag 0); else flag 1
};

// The ascending loop, unit by unit, on a copy of the buffer.
void reference(const Case& c, unsigned char* buf) {
  const int u = kUnit[c.type];
  auto move = [&](int64_t to, int64_t from) {
    std::memmove(buf + c.y_at + to * u, buf + c.a_at + from * u, u);
  };
  for (int64_t i = 0, j = 0; i < c.n; ++i) switch (c.kind) {
      case kPackI:
        move(i, i * c.inc);
        break;
      case kPackV:
        move(i, c.list[i]);
        break;
      case kPackM:
        if (c.list[i] != 0) move(j++, i);
        break;
      case kUnpackI:
        move(i * c.inc, i);
        break;
      case kUnpackV:
        move(c.list[i], i);
        break;
      case kUnpackM:
        if (c.list[i] != 0) move(i, j++);
        break;
    }
}

void run(void* k, const Case& c, unsigned char* buf) {
  std::vector<int32_t> l32(c.list.begin(), c.list.end());
  const void* list = c.wide ? static_cast<const void*>(c.list.data()) : l32.data();
  // With flag 1 only the low halves of n and the increment count: fill the upper ones with garbage.
  const int64_t garbage = c.wide ? 0 : int64_t{0x5EADBEEF} << 32;
  const int64_t n = c.wide ? c.n : garbage | static_cast<uint32_t>(c.n);
  const int64_t inc = c.wide ? c.inc : garbage | static_cast<uint32_t>(c.inc);
  const int32_t flag = c.wide ? 0 : 1;
  unsigned char *a = buf + c.a_at, *y = buf + c.y_at;
  switch (c.kind) {
    case kPackI:
      return reinterpret_cast<void (*)(int64_t, const void*, int64_t, void*, int32_t)>(k)(n, a, inc, y, flag);
    case kUnpackI:
      return reinterpret_cast<void (*)(int64_t, const void*, void*, int64_t, int32_t)>(k)(n, a, y, inc, flag);
    case kPackV:
    case kPackM:
      return reinterpret_cast<void (*)(int64_t, const void*, const void*, void*, int32_t)>(k)(n, a, list, y,
                                                                                              flag);
    case kUnpackV:
    case kUnpackM:
      return reinterpret_cast<void (*)(int64_t, const void*, void*, const void*, int32_t)>(k)(n, a, y, list,
                                                                                              flag);
  }
}

TEST(Pack, EveryKernelEqualsTheAscendingLoop) {
  std::mt19937_64 rng(7);
  std::vector<Case> cases;
  const int64_t sizes[] = {0, 1, 2, 3, 7, 8, 9, 15, 16, 17, 31, 33, 64, 100, 1000, -1};
  for (int kind = 0; kind < 6; ++kind)
    for (int type = 0; type < 4; ++type)
      for (int64_t n : sizes)
        for (bool wide : {false, true}) {
          const int u = kUnit[type];
          const int64_t m = std::max<int64_t>(n, 1), span = 4 * m * u;         // a and y regions
          Case c{static_cast<Kind>(kind), type, n, 1, {}, 4, 4 + span, wide};  // misaligned by 4 bytes
          if (kind == kPackI || kind == kUnpackI) {
            for (int64_t inc : {1, 0, -1, 2, 3}) {
              c.inc = inc;
              c.a_at = inc < 0 && kind == kPackI ? 4 + (m - 1) * u : 4;
              c.y_at = inc < 0 && kind == kUnpackI ? 4 + span + (m - 1) * u : 4 + span;
              cases.push_back(c);
            }
            c.inc = 1;
            c.a_at = 4;
            for (int64_t y_at :
                 {int64_t{4}, int64_t{4 + u}, int64_t{4 + 2 * u}}) {  // in place, and overlapping
              c.y_at = y_at;
              cases.push_back(c);
            }
            c.inc = 0;
            c.y_at = 4 + (m - 1) * u;  // unpacking onto the source's last unit
            cases.push_back(c);
            continue;
          }
          for (int64_t i = 0; i < n; ++i)
            c.list.push_back(kind == kPackM || kind == kUnpackM ? (rng() & 1 ? int64_t(rng() % 3) - 1 : 0)
                                                                : int64_t(rng() % static_cast<uint64_t>(m)));
          cases.push_back(c);
          if (kind == kPackM || kind == kUnpackM)
            for (int64_t y_at : {int64_t{4}, int64_t{4 + u}, int64_t{4 + 3 * u}}) {
              c.y_at = y_at;  // in place, and overlapping from above
              cases.push_back(c);
            }
        }
  for (zok::vm::Isa isa : zok::test::machine_isas())
    for (const Case& c : cases) {
      void* k = (*zok::vm::isa_kernels(isa))[static_cast<int>(kFns[c.kind][c.type])][zok::vm::kHA];
      const size_t size = static_cast<size_t>(c.y_at + 8 * std::max<int64_t>(c.n, 1) * kUnit[c.type] + 64);
      std::vector<unsigned char> got(size), want(size);
      for (auto& b : got) b = static_cast<unsigned char>(rng());
      want = got;
      reference(c, want.data());
      run(k, c, got.data());
      ASSERT_EQ(got, want) << zok::vm::kFunctions[static_cast<int>(kFns[c.kind][c.type])].name << " on "
                           << zok::vm::isa_name(isa) << ": n " << c.n << " inc " << c.inc << " a at "
                           << c.a_at << " y at " << c.y_at << (c.wide ? " 64-bit" : " 32-bit");
    }
}

// With 64-bit integers a mask value of 2^32 selects, and an index above 2^32 reaches that far.
TEST(Pack, WideIntegersReachBeyondTheirLowHalves) {
  const float a[3] = {1, 2, 3};
  float y[3] = {0, 0, 0};
  const int64_t mask[3] = {int64_t{1} << 32, 0, -(int64_t{1} << 40)};
  reinterpret_cast<void (*)(int64_t, const float*, const void*, float*, int32_t)>(
      zok_yub_kernel_sPackM_ttab[1])(3, a, mask, y, 0);
  EXPECT_EQ(y[0], 1.0f);
  EXPECT_EQ(y[1], 3.0f);

  // Reserve 2^32 + 2 floats without backing and open only the page the index touches.
  const size_t units = (size_t{1} << 32) + 2, bytes = units * sizeof(float);
  void* map = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(map, MAP_FAILED);
  auto* far = static_cast<float*>(map);
  const int64_t index = (int64_t{1} << 32) + 1;
  char* page = reinterpret_cast<char*>(reinterpret_cast<uintptr_t>(far + index) & ~uintptr_t{4095});
  ASSERT_EQ(mprotect(page, 8192, PROT_READ | PROT_WRITE), 0);
  far[index] = 42.0f;
  const int64_t ia[1] = {index};
  float got = 0;
  reinterpret_cast<void (*)(int64_t, const float*, const void*, float*, int32_t)>(
      zok_yub_kernel_sPackV_ttab[0])(1, far, ia, &got, 0);
  EXPECT_EQ(got, 42.0f);
  const float put = 7.0f;
  reinterpret_cast<void (*)(int64_t, const float*, float*, const void*, int32_t)>(
      zok_yub_kernel_sUnpackV_ttab[2])(1, &put, far, ia, 0);
  EXPECT_EQ(far[index], 7.0f);
  munmap(map, bytes);
}

}  // namespace

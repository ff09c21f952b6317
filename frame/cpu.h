// Processor features the library may use, asked of CPUID and, for the wide vector states, of XCR0.
#pragma once

#include <cpuid.h>

#include <cstdint>

namespace zok {

struct CpuFeatures {
  bool sse41 = false;
  bool avx2 = false;
  bool fma = false;
  bool avx512 = false;  // F, VL, DQ and BW together, with the state enabled by the OS
  bool aes = false;
  bool vaes = false;  // AES rounds on 256- and 512-bit registers (leaf 7, ECX bit 9)
  bool rdrand = false;
  // The vendor is AMD (or Hygon, whose cores are AMD's): the instruction-set choice measured on
  // AMD processors applies there.
  bool amd = false;
  // The floating-point data paths are 512 bits wide (Zen 5 server and desktop parts), not 256 (Zen 2
  // to Zen 4, which run a 512-bit operation as two halves): see amd_fp512.
  bool fp512 = false;
};

// Whether an AMD core's floating-point data paths are 512 bits wide. The core says so in leaf
// 0x8000001A, EAX: bit 3 for 512 bits, bit 2 for 256. Some hypervisors hide that leaf or pass it
// through with neither bit set (seen on a Zen 5 server part: EAX = 2); then the family and model
// tell: family 0x1A, models 0x00-0x1F (server) and 0x40-0x4F (desktop) are Zen 5 parts with 512-bit
// paths, while its mobile models keep 256-bit ones. Anything else is taken as 256 bits, the choice
// that was measured on the older cores.
inline bool amd_fp512(bool leaf, uint32_t eax, unsigned family, unsigned model) {
  if (leaf && (eax & (1u << 3)) != 0) return true;
  if (leaf && (eax & (1u << 2)) != 0) return false;
  return family == 0x1A && (model <= 0x1F || (model >= 0x40 && model <= 0x4F));
}

// Whether a CPUID vendor string (leaf 0: EBX, EDX, ECX) names AMD's cores.
inline bool vendor_is_amd(const char* vendor) {
  const char* kAmd[] = {"AuthenticAMD", "HygonGenuine"};
  for (const char* v : kAmd) {
    int i = 0;
    while (i < 12 && vendor[i] == v[i]) ++i;
    if (i == 12) return true;
  }
  return false;
}

inline CpuFeatures detect_cpu_features() {
  CpuFeatures f;
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(0, &a, &b, &c, &d)) return f;
  char vendor[12];
  for (int i = 0; i < 4; ++i) {
    vendor[i] = static_cast<char>(b >> (8 * i));
    vendor[4 + i] = static_cast<char>(d >> (8 * i));
    vendor[8 + i] = static_cast<char>(c >> (8 * i));
  }
  f.amd = vendor_is_amd(vendor);
  if (!__get_cpuid(1, &a, &b, &c, &d)) return f;
  if (f.amd) {
    // Family and model as AMD composes them: the extended fields count when the base family is 0xF.
    const unsigned base = (a >> 8) & 0xF;
    const unsigned family = base == 0xF ? base + ((a >> 20) & 0xFF) : base;
    const unsigned model = base == 0xF ? ((a >> 4) & 0xF) | (((a >> 16) & 0xF) << 4) : (a >> 4) & 0xF;
    unsigned a2 = 0, b2 = 0, c2 = 0, d2 = 0;
    // clang declares the maximum leaf int, GCC unsigned.
    const bool leaf = static_cast<unsigned>(__get_cpuid_max(0x80000000u, nullptr)) >= 0x8000001Au;
    if (leaf) __cpuid(0x8000001Au, a2, b2, c2, d2);
    f.fp512 = amd_fp512(leaf, a2, family, model);
  }
  f.sse41 = (c & bit_SSE4_1) != 0;
  f.aes = (c & bit_AES) != 0;
  f.rdrand = (c & bit_RDRND) != 0;
  const bool fma = (c & bit_FMA) != 0;
  const bool avx = (c & bit_AVX) != 0;
  // The wide registers are usable only when the OS saves them: XCR0 tells which states it saves.
  uint64_t xcr0 = 0;
  if ((c & bit_OSXSAVE) != 0) {
    uint32_t lo = 0, hi = 0;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    xcr0 = (static_cast<uint64_t>(hi) << 32) | lo;
  }
  const bool ymm_state = (xcr0 & 0x6) == 0x6;
  const bool zmm_state = (xcr0 & 0xE6) == 0xE6;
  if (__get_cpuid_max(0, nullptr) >= 7) {
    __cpuid_count(7, 0, a, b, c, d);
    f.vaes = (c & (1u << 9)) != 0;
    f.avx2 = avx && ymm_state && (b & bit_AVX2) != 0;
    f.fma = fma && ymm_state;
    f.avx512 =
        zmm_state && (b & bit_AVX512F) && (b & bit_AVX512VL) && (b & bit_AVX512DQ) && (b & bit_AVX512BW);
  }
  return f;
}

}  // namespace zok

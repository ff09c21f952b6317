// Modular powers for leapfrog and skip-ahead: a^n modulo a 32-bit modulus, modulo 2^31 - 1 and modulo
// 2^59, and the n-th power of a 3x3 companion matrix applied to a vector.
#include <cstdint>

#include "streams/generators/modular.h"
#include "zok/random.h"

using namespace zok::rng;

extern "C" {

uint32_t __qoriPowMod(uint32_t a, uint64_t n, uint32_t m) {
  // There is nothing to reduce by; 0 rather than a division fault.
  if (m == 0) return 0;
  uint64_t result = 1, base = a;
  for (; n != 0; n >>= 1) {
    if (n & 1) result = result * base % m;
    base = base * base % m;
  }
  return static_cast<uint32_t>(result);
}

uint32_t __qoriPowMod2P31M1(uint32_t a, uint64_t n) {
  // The one-subtraction reduction needs factors below 2^31; a full 32-bit a is reduced first.
  uint32_t base = a >= kMcg31Modulus ? a - kMcg31Modulus : a;
  uint32_t result = 1;
  for (; n != 0; n >>= 1) {
    if (n & 1) result = mulmod_2p31m1(result, base);
    base = mulmod_2p31m1(base, base);
  }
  return result;
}

uint64_t __qoriPowMod2P59(uint64_t a, uint64_t n) {
  uint64_t result = 1, base = a;
  for (; n != 0; n >>= 1) {
    if (n & 1) result = (result * base) & kMcg59Mask;
    base = (base * base) & kMcg59Mask;
  }
  return result;
}

void __qoriVect3PowMod(uint32_t* v, const uint32_t* coeff, uint32_t m, uint64_t n) {
  if (m == 0) return;
  const RuntimeModulus mod{m};
  const Mat3 power = mat3_pow(companion(coeff[0] % m, coeff[1] % m, coeff[2] % m), n, mod);
  mat3_apply(power, v, mod);
}

}  // extern "C"

// PHILOX4X32X10 blocks eight counters per pass with AVX2; ARS5 two blocks per AES instruction with
// VAES; words to reals for them and the twisted registers. Called only once the processor was asked.
#include "streams/generators/counter_lanes.h"

namespace zok::rng {

int64_t philox_blocks_avx2(uint32_t* c, const uint32_t* key, int64_t count, uint32_t* out) {
  return philox_lanes(c, key, count, out);
}

int64_t ars5_blocks_vaes256(uint64_t* c, const uint32_t* key, int64_t count, uint32_t* out) {
  return ars5_lanes(c, key, count, out);
}

int64_t signed_to_real_avx2(const uint32_t* w, int64_t n, double* r, double scale, double offset) {
  return signed_to_real_lanes(w, n, r, scale, offset);
}

int64_t signed_to_real_avx2(const uint32_t* w, int64_t n, float* r, float scale, float offset) {
  return signed_to_real_lanes(w, n, r, scale, offset);
}

int64_t unsigned_to_real_avx2(const uint32_t* w, int64_t n, double* r, double scale, double offset) {
  return unsigned_to_real_lanes(w, n, r, scale, offset);
}

}  // namespace zok::rng

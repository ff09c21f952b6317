// Random123's counter-based generators as a caller would first loop them, one block per counter:
// the baselines of the Philox and ARS5 benchmarks and of the tour's timing. ARS needs the source
// compiled with AES instructions enabled and is used only where the processor has them.
#pragma once

#include <Random123/ars.h>
#include <Random123/philox.h>

#include <cstdint>
#include <cstring>

namespace zok::baseline {

// n words (a multiple of 4) from counter 0 under key (1, 2), the counter advanced per block.
inline void random123_philox(uint32_t* out, int64_t n, uint32_t* counter) {
  r123::Philox4x32_R<10> philox;
  const r123::Philox4x32_R<10>::key_type key = {{1, 2}};
  r123::Philox4x32_R<10>::ctr_type c = {{*counter, 0, 0, 0}};
  for (int64_t i = 0; i < n; i += 4) {
    const auto b = philox(c, key);
    std::memcpy(out + i, b.v, sizeof b.v);
    c.incr();
  }
  *counter = c[0];
}

#if R123_USE_AES_NI
inline void random123_ars5(uint32_t* out, int64_t n, uint32_t* counter) {
  r123::ARS4x32_R<5> ars;
  const r123::ARS4x32_R<5>::key_type key = {{1, 2, 3, 4}};
  r123::ARS4x32_R<5>::ctr_type c = {{*counter, 0, 0, 0}};
  for (int64_t i = 0; i < n; i += 4) {
    const auto b = ars(c, key);
    std::memcpy(out + i, b.v, sizeof b.v);
    c.incr();
  }
  *counter = c[0];
}
#endif

}  // namespace zok::baseline

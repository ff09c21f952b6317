// The processor answers ARS5 and the non-deterministic generator depend on, each asked once, the
// hardware draws, and the internal seam through which tests replace both.
#pragma once

#include <cstdint>

namespace zok::rng {

bool has_aes();     // AES round instructions
bool has_vaes();    // AES rounds on 256- and 512-bit registers
bool has_rdrand();  // the hardware random-number instruction

// One raw draw of 64 or 32 bits: the instruction's carry flag, the value through the pointer.
bool hardware_draw64(uint64_t* value);
bool hardware_draw32(uint32_t* value);

// Test seam, not exported. An answer of 1 or 0 replaces what the library believes of the AES or
// hardware random-number instruction, -1 returns to the processor's own answer; the exported
// __qorCPUisAES and __qorCPUisRDRAND always ask the processor.
void override_aes(int answer);
void override_rdrand(int answer);
// Draws that replace the instruction (null restores it), so that tests reach the retry limit.
using Draw64 = bool (*)(uint64_t*);
using Draw32 = bool (*)(uint32_t*);
void override_hardware_draws(Draw64 draw64, Draw32 draw32);

}  // namespace zok::rng

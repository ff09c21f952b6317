// Per-thread vector-math state: the record, its accessor and the mode word.
#pragma once

#include <cstdint>
#include <optional>

#include "zok/vector_math.h"

namespace zok::vm {

struct ThreadState {
  uint32_t mode;  // 0 until first read
  int32_t status;
  ErrorCallback callback;
  const void* input_base;
};

inline constexpr uint32_t kDefaultMode = ZOK_VM_DEFAULT_MODE;
inline constexpr int kModeOptionBufferSize = 256;
inline constexpr const char* kModeVariable = "ZOK_YUB_MODE";

// The calling thread's record, made on first use. Ends the process (message 760, exit code 3) when
// no record can be provided.
ThreadState* thread_state();

// The record's mode word, filled from the environment first when it is 0.
uint32_t current_mode(ThreadState* ts);
// Replaces the non-zero accuracy, error-mode and denormal fields of `mode`; returns the old word.
uint32_t set_mode(ThreadState* ts, uint32_t mode);

// Parses a mode option value ("YUB_LA,YUB_ERRMODE_STDERR"); `buf` is NUL-terminated within
// kModeOptionBufferSize bytes. Returns nothing when the value is malformed.
std::optional<uint32_t> parse_mode_option(const char* buf);

// Records handed out and not yet freed (for lifecycle checks).
size_t live_thread_records();

}  // namespace zok::vm

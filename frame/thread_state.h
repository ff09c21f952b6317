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

// The calling thread's record once it has one: every kernel call reads it, so it is one
// thread-pointer-relative load (initial-exec) rather than a key lookup. Cleared when the record is
// freed, so a call after that (from a later thread-exit destructor) makes a new record.
extern constinit thread_local ThreadState* t_record __attribute__((tls_model("initial-exec")));

// Finds or makes the calling thread's record and caches it in t_record.
ThreadState* attach_thread_state();
// The calling thread's record, made on first use. Ends the process (message 760, exit code 3) when
// no record can be provided.
inline ThreadState* thread_state() {
  ThreadState* ts = t_record;
  return ts != nullptr ? ts : attach_thread_state();
}

// Fills the record's mode word from the environment (or the default) and returns it.
uint32_t read_mode_option(ThreadState* ts);
// The record's mode word, filled from the environment first when it is 0.
inline uint32_t current_mode(ThreadState* ts) {
  const uint32_t mode = ts->mode;
  return mode != 0 ? mode : read_mode_option(ts);
}
// Replaces the non-zero accuracy, error-mode and denormal fields of `mode`; returns the old word.
uint32_t set_mode(ThreadState* ts, uint32_t mode);

// Parses a mode option value ("YUB_LA,YUB_ERRMODE_STDERR"); `buf` is NUL-terminated within
// kModeOptionBufferSize bytes. Returns nothing when the value is malformed.
std::optional<uint32_t> parse_mode_option(const char* buf);

// Records handed out and not yet freed (for lifecycle checks).
size_t live_thread_records();

}  // namespace zok::vm

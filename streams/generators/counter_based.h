// What PHILOX4X32X10 and ARS5 share: the buffered output, continuous forms and skip-ahead of a
// generator that encrypts a 128-bit counter. Compiled for the baseline instruction set only.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "streams/generators/block_isa.h"
#include "streams/generators/counter_lanes.h"
#include "streams/generators/generator_common.h"
#include "streams/generators/word_reals.h"
#include "zok/random.h"

namespace zok::rng {

// A counter-based generator G: G::State holds `remaining` and `buffer[4]` beside key and counter;
// G::blocks(state, count, out) writes the blocks of the next `count` counters and advances the
// counter past them; G::advance(state, v) adds v to the counter.

// Unread buffer words first (word 4 - remaining first), then whole blocks straight into r, then
// one block into the buffer for a last partial group. A loaded image may say more than four words
// remain; no more than the buffer holds are read.
template <class G>
void counter_words(typename G::State& st, int64_t n, uint32_t* r) {
  uint32_t left = st.remaining < 4 ? st.remaining : 4;
  int64_t i = 0;
  for (; left > 0 && i < n; --left) r[i++] = st.buffer[4 - left];
  const int64_t whole = (n - i) / 4;
  G::blocks(st, whole, r + i);
  i += 4 * whole;
  if (i < n) {
    G::blocks(st, 1, st.buffer);
    for (left = 4; i < n; --left) r[i++] = st.buffer[4 - left];
  }
  st.remaining = left;
}

// Skipping s words: what the buffer holds is used first; of the rest d, the counter passes
// (d - 1) / 4 whole blocks and the block that holds the next word is buffered. Costs one block
// whatever s is.
template <class G>
void counter_skip(typename G::State& st, uint64_t s) {
  const uint32_t left = st.remaining < 4 ? st.remaining : 4;
  if (s <= left) {
    st.remaining = left - static_cast<uint32_t>(s);
    return;
  }
  const uint64_t d = s - left;
  G::advance(st, (d - 1) / 4);
  st.remaining = static_cast<uint32_t>((4 - d % 4) % 4);
  if (st.remaining != 0)
    G::blocks(st, 1, st.buffer);
  else
    G::advance(st, 1);
}

template <class G, class T>
void counter_reals(typename G::State& st, int64_t n, T* r, T scale, T offset) {
  reals_through_words(
      n, [&](int64_t m, uint32_t* w) { counter_words<G>(st, m, w); },
      [&](const uint32_t* w, int64_t m, int64_t i) { signed_to_real(w, m, r + i, scale, offset); });
}

// The operations behind ZOK_GENERATOR_ENTRIES: every form asks G::ready() first (0, or the status
// that refuses the request); the continuous ones scale by G::factor<T>(a, b), (b - a)·2^-32 as the
// generator forms it in T, and centre on (a + b)·0.5 in T.
template <class G>
struct CounterForms {
  using State = typename G::State;
  static int32_t ints(StreamRecord* stream, int32_t n, uint32_t* r) {
    if (const int32_t status = G::ready(); status != ZOK_RNG_STATUS_OK) return status;
    counter_words<G>(state_of<State>(stream), n, r);
    return ZOK_RNG_STATUS_OK;
  }
  template <class T>
  static int32_t reals(StreamRecord* stream, int32_t n, T* r, double a, double b) {
    if (const int32_t status = G::ready(); status != ZOK_RNG_STATUS_OK) return status;
    const T lo = static_cast<T>(a), hi = static_cast<T>(b);
    counter_reals<G>(state_of<State>(stream), n, r, G::template factor<T>(a, b), (lo + hi) * T(0.5));
    return ZOK_RNG_STATUS_OK;
  }
};

}  // namespace zok::rng

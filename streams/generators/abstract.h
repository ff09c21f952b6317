// What the stream loader needs of the abstract streams: the check that makes a loaded image safe.
#pragma once

#include "zok/random.h"

namespace zok::rng {

// For a stream of an abstract row: clears the buffer and callback that the image carried (they
// cannot be trusted in this process) and tells whether N, the start index and the consumed count
// describe a ring. Any other row's state is left alone and accepted.
bool abstract_state_loaded(const GeneratorProperties& row, StreamRecord* stream);

}  // namespace zok::rng

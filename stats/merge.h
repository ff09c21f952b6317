// The moment part of merging two partial results, implemented beside the basic statistics whose
// state restore and range combination it reuses.
#pragma once

#include <cstdint>

#include "stats/task.h"

namespace zok::ss {

// Folds the moment, sum and matrix estimates held in other's arrays into task's (estimates: rows of
// the basic statistics only). Statuses as the one-pass method's checks, without the observations.
template <class T>
int32_t merge_basic(SSTask* task, SSTask* other, uint64_t estimates);

}  // namespace zok::ss

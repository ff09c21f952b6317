// How many threads a ThreadingServices table allows, and the core library's table with a lower limit
// chosen by the caller (command-line options, tests that pick the number of ranges).
#pragma once

#include "zok/core_services.h"

namespace zok::core {

// 1 when the table, the loop entry the caller will use, or the limit entry is missing.
template <class Entry>
inline int thread_limit(const ThreadingServices* services, Entry ThreadingServices::*entry) {
  if (services == nullptr || services->*entry == nullptr || services->max_threads == nullptr) return 1;
  const int t = services->max_threads();
  return t < 1 ? 1 : t;
}

// One table per program: the latest call sets the limit every earlier pointer reports.
inline const ThreadingServices* threads_up_to(int threads) {
  static int limit = 1;
  static ThreadingServices table;
  table = *zok_serv_get_threading_services();
  limit = threads;
  table.max_threads = [] { return limit; };
  return &table;
}

}  // namespace zok::core

// Threading entry points and the ThreadingServices table, run on OpenMP.
#include <omp.h>
#include <sched.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "zok/core_services.h"

// OpenBLAS's thread-count controls. Weak, so that a build on another BLAS links and simply has no
// count to set.
extern "C" {
void openblas_set_num_threads(int) __attribute__((weak));
int openblas_get_num_threads(void) __attribute__((weak));
}

namespace {

// While any of our parallel regions runs, BLAS runs single-threaded, a region of one thread included.
// A threaded OpenBLAS called from several of our threads otherwise starts threads of its own under
// each of them, and on a machine with few or busy cores that made a two-thread covariance 3-10 times
// slower than one thread; in a one-thread region it woke its threads for every small product of a
// blocked accumulation (a one-thread covariance took 3.4 times as long as two threads) and used more
// cores than the caller allowed. The
// count is global to the process, so the first region in saves it and the last one out restores it;
// BLAS calls made by other code during our regions run single-threaded too (slower, not different:
// OpenBLAS splits its products by output blocks, so the results do not depend on its thread count).
class SerialBlas {
 public:
  SerialBlas() {
    if (openblas_set_num_threads == nullptr || openblas_get_num_threads == nullptr) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (depth_++ == 0) {
      saved_ = openblas_get_num_threads();
      if (saved_ > 1) openblas_set_num_threads(1);
    }
  }
  ~SerialBlas() {
    if (openblas_set_num_threads == nullptr || openblas_get_num_threads == nullptr) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (--depth_ == 0 && saved_ > 1) openblas_set_num_threads(saved_);
  }
  SerialBlas(const SerialBlas&) = delete;
  SerialBlas& operator=(const SerialBlas&) = delete;

 private:
  static inline std::mutex mutex_;
  static inline int depth_ = 0;
  static inline int saved_ = 1;
};

int machine_cores() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
  const long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}

// The limit is read at every call so that a caller can lower it between calls.
int thread_limit() {
  int limit = machine_cores();
  if (const char* v = getenv("ZOK_NUM_THREADS")) {
    char* end = nullptr;
    errno = 0;
    const long n = strtol(v, &end, 10);
    // Only a well-formed positive number lowers the limit; it never raises it.
    if (errno == 0 && end != v && *end == '\0' && n >= 1 && n < limit) limit = static_cast<int>(n);
  }
  return limit;
}

int clamp_threads(int64_t count, int requested) {
  int64_t t = requested;
  const int limit = thread_limit();
  if (t > limit) t = limit;
  if (t > count) t = count;
  return t < 1 ? 1 : static_cast<int>(t);
}

// Indices go to threads in contiguous ranges, so each thread touches one part of the outputs.
void parallel_for(int64_t count, int nthreads, void* context, ZokLoopBody body) {
  if (count <= 0 || body == nullptr) return;
  const int t = clamp_threads(count, nthreads);
  const SerialBlas serial_blas;
  if (t == 1) {
    for (int64_t i = 0; i < count; ++i) body(i, 0, 1, context);
    return;
  }
#pragma omp parallel num_threads(t)
  {
    const int tid = omp_get_thread_num();
    const int team = omp_get_num_threads();
    const int64_t chunk = count / team, extra = count % team;
    const int64_t begin = tid * chunk + (tid < extra ? tid : extra);
    const int64_t end = begin + chunk + (tid < extra ? 1 : 0);
    for (int64_t i = begin; i < end; ++i) body(i, tid, team, context);
  }
}

// Every thread index in [0, nthreads) runs exactly once even when the team is smaller (a nested call
// or a lowered limit), so a caller that split its work by thread index loses no part of it.
void parallel_run(int nthreads, void* context, ZokLoopBody body) {
  if (nthreads <= 0 || body == nullptr) return;
  const int t = clamp_threads(nthreads, nthreads);
  const SerialBlas serial_blas;
  if (t == 1) {
    for (int i = 0; i < nthreads; ++i) body(i, i, nthreads, context);
    return;
  }
#pragma omp parallel num_threads(t)
  {
    const int team = omp_get_num_threads();
    for (int i = omp_get_thread_num(); i < nthreads; i += team) body(i, i, nthreads, context);
  }
}

int max_threads() {
  return thread_limit();
}

const ThreadingServices kServices = {parallel_for, parallel_for, parallel_run, nullptr, max_threads};

}  // namespace

extern "C" {

ZOK_API const ThreadingServices* zok_serv_get_threading_services(void) {
  return &kServices;
}

ZOK_API int zok_qor_serv_threader_get_num_threads_limit(void) {
  return thread_limit();
}

ZOK_API void zok_qor_serv_threader_for(int64_t count, int /*flags*/, void* context, ZokLoopBody worker) {
  parallel_for(count, thread_limit(), context, worker);
}

ZOK_API void* zok_serv_load_thread_fun(const char* name) {
  if (name == nullptr) return nullptr;
  if (strcmp(name, "zok_qor_serv_threader_get_num_threads_limit") == 0)
    return reinterpret_cast<void*>(&zok_qor_serv_threader_get_num_threads_limit);
  if (strcmp(name, "zok_qor_serv_threader_for") == 0)
    return reinterpret_cast<void*>(&zok_qor_serv_threader_for);
  return nullptr;
}

}  // extern "C"

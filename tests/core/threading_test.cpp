// Threading entry points and the ThreadingServices table: every item exactly once, thread indices
// within bounds, the thread limit and its environment override.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "zok/core_services.h"

extern "C" {
void openblas_set_num_threads(int) __attribute__((weak));
int openblas_get_num_threads(void) __attribute__((weak));
}

namespace {

// Per-index hit counts, and counts of calls that saw a bad thread index or thread count.
struct Tally {
  Tally(int64_t n, int requested)
      : hits(new std::atomic<int>[static_cast<size_t>(n)]()), requested(requested) {}
  std::unique_ptr<std::atomic<int>[]> hits;
  int requested;
  std::atomic<int> bad_thread{0}, bad_count{0};
  void ExpectEachOnce(int64_t n) const {
    for (int64_t i = 0; i < n; ++i) ASSERT_EQ(hits[i].load(), 1) << "index " << i;
    EXPECT_EQ(bad_thread.load(), 0);
    EXPECT_EQ(bad_count.load(), 0);
  }
};

void count_body(int64_t index, int thread, int nthreads, void* ctx) {
  auto* t = static_cast<Tally*>(ctx);
  t->hits[index].fetch_add(1);
  if (thread < 0 || thread >= nthreads) t->bad_thread.fetch_add(1);
  if (nthreads < 1 || nthreads > t->requested) t->bad_count.fetch_add(1);
}

// Lost, repeated or out-of-range items, and thread indices or counts beyond the request, for both
// parallel-for slots over empty, tiny, uneven and large counts.
TEST(ThreadingServices, ParallelForSlotsRunEveryIndexOnce) {
  const ThreadingServices* ts = zok_serv_get_threading_services();
  ASSERT_NE(ts, nullptr);
  for (ZokParallelFor slot : {ts->parallel_for, ts->parallel_for2})
    for (int threads : {1, 2, 3, 8})
      for (int64_t count : {int64_t{0}, int64_t{1}, int64_t{2}, int64_t{7}, int64_t{1000}, int64_t{100003}}) {
        SCOPED_TRACE(std::to_string(threads) + " threads, " + std::to_string(count) + " items");
        Tally t(count == 0 ? 1 : count, threads);
        slot(count, threads, &t, count_body);
        t.ExpectEachOnce(count);
        EXPECT_EQ(t.hits[0].load(), count == 0 ? 0 : 1);
      }
}

void run_body(int64_t index, int thread, int nthreads, void* ctx) {
  auto* t = static_cast<Tally*>(ctx);
  t->hits[index].fetch_add(1);
  if (index != thread || nthreads != t->requested) t->bad_thread.fetch_add(1);
}

// parallel_run gives each of the requested threads its own index, once.
TEST(ThreadingServices, ParallelRunCallsEveryThreadIndexOnce) {
  const ThreadingServices* ts = zok_serv_get_threading_services();
  for (int threads : {1, 2, 5, 16}) {
    SCOPED_TRACE(threads);
    Tally t(threads, threads);
    ts->parallel_run(threads, &t, run_body);
    t.ExpectEachOnce(threads);
  }
}

struct Nested {
  const ThreadingServices* ts;
  std::atomic<int> inner{0};
};
void inner_body(int64_t, int, int, void* ctx) {
  static_cast<Nested*>(ctx)->inner.fetch_add(1);
}
void outer_body(int64_t, int, int, void* ctx) {
  auto* n = static_cast<Nested*>(ctx);
  n->ts->parallel_for(10, 4, n, inner_body);
}

// A parallel loop inside a parallel loop neither deadlocks nor drops work.
TEST(ThreadingServices, NestedCallsCompleteAllWork) {
  Nested n;
  n.ts = zok_serv_get_threading_services();
  n.ts->parallel_for(6, 4, &n, outer_body);
  EXPECT_EQ(n.inner.load(), 60);
}

// The limit is within [1, cores]; the variable only lowers it, malformed values are ignored, and a
// limit of 1 still runs every item of a request for many threads.
TEST(ThreadingServices, ThreadLimitFollowsCoresAndEnvironment) {
  const ThreadingServices* ts = zok_serv_get_threading_services();
  unsetenv("ZOK_NUM_THREADS");
  const int limit = ts->max_threads();
  EXPECT_GE(limit, 1);
  EXPECT_LE(limit, static_cast<int>(std::thread::hardware_concurrency()));
  EXPECT_EQ(zok_qor_serv_threader_get_num_threads_limit(), limit);
  for (const char* v : {"100000", "0", "-3", "2x", ""}) {
    setenv("ZOK_NUM_THREADS", v, 1);
    EXPECT_EQ(ts->max_threads(), limit) << v;
  }
  setenv("ZOK_NUM_THREADS", "1", 1);
  EXPECT_EQ(ts->max_threads(), 1);
  Tally t(50, 8);
  ts->parallel_for(50, 8, &t, count_body);
  t.ExpectEachOnce(50);
  unsetenv("ZOK_NUM_THREADS");
}

// The entry points resolve by name (unknown and null names do not) and the loop runs every item.
TEST(ThreadingEntryPoints, ResolveByNameAndRunEveryItem) {
  auto limit =
      reinterpret_cast<int (*)()>(zok_serv_load_thread_fun("zok_qor_serv_threader_get_num_threads_limit"));
  auto run_for = reinterpret_cast<void (*)(int64_t, int, void*, ZokLoopBody)>(
      zok_serv_load_thread_fun("zok_qor_serv_threader_for"));
  ASSERT_NE(limit, nullptr);
  ASSERT_NE(run_for, nullptr);
  EXPECT_EQ(zok_serv_load_thread_fun("zok_qor_serv_threader_unknown"), nullptr);
  EXPECT_EQ(zok_serv_load_thread_fun(nullptr), nullptr);
  EXPECT_GE(limit(), 1);
  Tally t(97, limit());
  run_for(97, 0, &t, count_body);
  t.ExpectEachOnce(97);
}

}  // namespace

namespace {
struct BlasCounts {
  std::atomic<int> calls{0}, above_one{0};
};
void blas_count_body(int64_t, int, int, void* ctx) {
  auto* c = static_cast<BlasCounts*>(ctx);
  c->calls.fetch_add(1);
  if (openblas_get_num_threads() != 1) c->above_one.fetch_add(1);
}
void nested_blas_body(int64_t, int, int, void* ctx) {
  zok_serv_get_threading_services()->parallel_run(2, ctx, blas_count_body);
}
}  // namespace

// Inside our parallel regions, nested ones included, BLAS runs on one thread; the caller's count
// comes back when the last region ends, on both slots.
TEST(ThreadingServices, BlasRunsSerialInsideRegionsAndIsRestored) {
  if (openblas_set_num_threads == nullptr || openblas_get_num_threads == nullptr)
    GTEST_SKIP() << "BLAS has no thread count";
  const ThreadingServices* ts = zok_serv_get_threading_services();
  if (ts->max_threads() < 2) GTEST_SKIP() << "one core: no parallel region";
  openblas_set_num_threads(2);
  if (openblas_get_num_threads() != 2) GTEST_SKIP() << "BLAS built single-threaded";
  BlasCounts c;
  ts->parallel_for(8, 2, &c, blas_count_body);
  ts->parallel_run(2, &c, blas_count_body);
  ts->parallel_for(4, 2, &c, nested_blas_body);
  // Regions of one thread as well: the caller allowed one core, and BLAS must not take a second.
  ts->parallel_for(3, 1, &c, blas_count_body);
  ts->parallel_run(1, &c, blas_count_body);
  EXPECT_EQ(c.calls.load(), 8 + 2 + 8 + 3 + 1);
  EXPECT_EQ(c.above_one.load(), 0);
  EXPECT_EQ(openblas_get_num_threads(), 2);
}

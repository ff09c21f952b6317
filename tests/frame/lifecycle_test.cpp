// Thread records: made on first use, freed at thread exit, all given back when the library is
// unloaded; failure to provide one ends the process with message 760 and exit code 3.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <barrier>
#include <set>
#include <thread>
#include <vector>

#include "frame/thread_state.h"
#include "tests/frame/test_support.h"
#include "tests/support/alloc_hook.h"
#include "zok/core_services.h"
#include "zok/vector_math.h"

namespace {

using zok::test::ModeOption;
using zok::vm::live_thread_records;

// Records are made per thread on first use, distinct and independent, and freed at thread exit.
TEST(ThreadRecord, MadeOnFirstUseAndFreedAtThreadExit) {
  ModeOption env(nullptr);
  (void)_yubGetMode();  // this thread's record exists before counting
  const size_t before = live_thread_records();
  constexpr int kThreads = 12;
  std::barrier sync(kThreads + 1);
  std::vector<std::thread> threads;
  std::vector<const void*> records(kThreads);
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      sync.arrive_and_wait();  // all threads make their records at once
      _yubSetErrStatus(t);
      records[t] = zok::vm::thread_state();
      sync.arrive_and_wait();
      sync.arrive_and_wait();  // stay alive while the main thread counts
      if (_yubGetErrStatus() != t) ADD_FAILURE() << "status of thread " << t << " was changed by another";
    });
  sync.arrive_and_wait();
  sync.arrive_and_wait();
  EXPECT_EQ(live_thread_records(), before + kThreads);
  EXPECT_EQ(std::set<const void*>(records.begin(), records.end()).size(), size_t{kThreads});
  sync.arrive_and_wait();
  for (auto& th : threads) th.join();
  EXPECT_EQ(live_thread_records(), before);
}

// A thread-exit destructor that runs after the thread's record was freed gets a new, cleared record
// (default mode, no callback), never the freed one.
TEST(ThreadRecord, CallsAfterTheRecordIsFreedGetANewOne) {
  ModeOption env(nullptr);
  (void)_yubGetMode();  // the library's key exists before the test's, so its destructor runs first
  static std::atomic<uint32_t> mode{0};
  static std::atomic<bool> callback{true};
  pthread_key_t late;
  ASSERT_EQ(pthread_key_create(&late,
                               [](void*) {
                                 mode = _yubGetMode();
                                 callback = _yubGetErrorCallBack() != nullptr;
                               }),
            0);
  const size_t before = live_thread_records();
  std::thread([&] {
    _yubSetMode(ZOK_VM_EP);
    _yubSetErrorCallBack([](ErrorContext*) { return 0; });
    pthread_setspecific(late, &late);
  }).join();
  pthread_key_delete(late);
  EXPECT_EQ(mode.load(), 0x1A02u);
  EXPECT_FALSE(callback.load());
  EXPECT_EQ(live_thread_records(), before);
}

// A new thread starts with status 0, no callback and its own parse of the option, whatever the
// creating thread had set.
TEST(ThreadRecord, FreshThreadStartsCleared) {
  ModeOption env("YUB_EP");
  _yubSetErrStatus(3);
  _yubSetErrorCallBack([](ErrorContext*) { return 0; });
  const auto seen = zok::test::on_fresh_thread([] {
    return std::vector<int64_t>{_yubGetErrStatus(), _yubGetErrorCallBack() == nullptr, _yubGetMode()};
  });
  EXPECT_EQ(seen, (std::vector<int64_t>{0, 1, 0x3}));
  _yubClearErrorCallBack();
  _yubClearErrStatus();
}

#ifndef ZOK_KERNEL_SO
#error "ZOK_KERNEL_SO must name the built kernel library"
#endif

// Unloading the library frees the loading thread's record and everything else it allocated.
TEST(LibraryUnload, GivesEverythingBack) {
  const long before = zok::test::outstanding_blocks();
  void* lib = dlopen(ZOK_KERNEL_SO, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  auto get_mode = reinterpret_cast<uint32_t (*)()>(dlsym(lib, "_yubGetMode"));
  auto set_status = reinterpret_cast<int32_t (*)(int32_t)>(dlsym(lib, "zok_yub_kernel_SetErrStatus"));
  ASSERT_NE(get_mode, nullptr);
  ASSERT_NE(set_status, nullptr);
  EXPECT_GT(zok::test::outstanding_blocks(), before);  // the loading thread's record and the heap
  EXPECT_EQ(get_mode(), 0x1A02u);
  // Threads that used the library and ended have given their records back already.
  for (int i = 0; i < 5; ++i) std::thread([&] { set_status(i); }).join();
  dlclose(lib);
  EXPECT_EQ(zok::test::outstanding_blocks(), before);
}

// Failure to get a record ends the process with message 760 and exit code 3, whether the load or
// a later thread fails to allocate it.
TEST(ThreadRecordDeathTest, NoRecordEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        zok::test::fail_allocations_after(0);
        void* lib = dlopen(ZOK_KERNEL_SO, RTLD_NOW | RTLD_LOCAL);
        auto get_mode = reinterpret_cast<uint32_t (*)()>(dlsym(lib, "_yubGetMode"));
        get_mode();
      },
      testing::ExitedWithCode(3), "zok-760");
  EXPECT_EXIT(
      {
        void* lib = dlopen(ZOK_KERNEL_SO, RTLD_NOW | RTLD_LOCAL);
        auto get_mode = reinterpret_cast<uint32_t (*)()>(dlsym(lib, "_yubGetMode"));
        get_mode();
        zok::test::fail_allocations_after(0);
        std::thread([&] { get_mode(); }).join();
      },
      testing::ExitedWithCode(3), "zok-760");
}

}  // namespace

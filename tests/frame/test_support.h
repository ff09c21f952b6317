// Helpers for frame tests: run code on a fresh thread (a fresh vector-math record) and set the
// mode option for it.
#pragma once

#include <cstdlib>
#include <thread>
#include <utility>

namespace zok::test {

// Runs fn on a new thread and returns its result; the thread gets a new record on first use.
template <typename Fn>
auto on_fresh_thread(Fn fn) {
  decltype(fn()) result{};
  std::thread([&] { result = fn(); }).join();
  return result;
}

// Sets (or, for null, removes) ZOK_YUB_MODE for the life of the object.
class ModeOption {
 public:
  explicit ModeOption(const char* value) {
    if (value) {
      setenv("ZOK_YUB_MODE", value, 1);
    } else {
      unsetenv("ZOK_YUB_MODE");
    }
  }
  ~ModeOption() { unsetenv("ZOK_YUB_MODE"); }
  ModeOption(const ModeOption&) = delete;
  ModeOption& operator=(const ModeOption&) = delete;
};

}  // namespace zok::test

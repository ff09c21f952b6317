// Frame test helpers: run code on a fresh thread (so with a new vector-math record) and set the
// mode option for a scope.
#pragma once

#include <cstdlib>
#include <thread>

namespace zok::test {

template <typename Fn>
auto on_fresh_thread(Fn fn) {
  decltype(fn()) result{};
  std::thread([&] { result = fn(); }).join();
  return result;
}

// Sets (or, for null, removes) ZOK_YUB_MODE for the life of the object.
struct ModeOption {
  explicit ModeOption(const char* value) {
    value ? setenv("ZOK_YUB_MODE", value, 1) : unsetenv("ZOK_YUB_MODE");
  }
  ~ModeOption() { unsetenv("ZOK_YUB_MODE"); }
  ModeOption(const ModeOption&) = delete;
  ModeOption& operator=(const ModeOption&) = delete;
};

}  // namespace zok::test

// Subcommands of the zok program register themselves here; `zok tour` runs their tour stops in order.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "frame/functions.h"

namespace zok::app {

struct Command {
  const char* name;                   // "rng" for `zok rng ...`
  const char* usage;                  // one line for `zok` without arguments
  int (*run)(int argc, char** argv);  // argv[0] is the subcommand name
  void (*tour)();                     // the command's stop on the tour, or null
  int tour_order;                     // stops run in increasing order
};

// Registers a command; use at namespace scope: `const bool kRegistered = register_command({...});`
bool register_command(const Command& command);
const std::vector<Command>& commands();

// `zok vm` with a pack or unpack function as its first argument goes to vm_pack.
bool is_pack_function(const std::string& name);
int vm_pack(int argc, char** argv);

// `zok vm --type c|z`: complex values; Powx's exponent is the text of --scalars.
int vm_complex(int fn, int slot, vm::Isa isa, const std::vector<std::string>& values,
               const std::string& scalars);

// The best of `reps` runs of f over n elements, in nanoseconds per element.
template <class F>
double ns_per_element(int64_t n, F&& f, int reps = 5) {
  double best = 1e30;
  for (int rep = 0; rep < reps; ++rep) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    best = std::min(best,
                    std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count());
  }
  return best / static_cast<double>(n);
}

// Prints a section heading of the tour.
void tour_heading(const std::string& title);

}  // namespace zok::app

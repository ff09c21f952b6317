// Subcommands of the zok program register themselves here; `zok tour` runs their tour stops in order.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "frame/functions.h"
#include "zok/random.h"

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

// `zok rng abstract`: distributions drawn from numbers the caller supplies.
int rng_abstract(int argc, char** argv);
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

// A distribution asked of `zok rng gen` (kind 0: the generator's own output).
struct DistOptions {
  char kind = 0;  // 'g' Gaussian, 'u' uniform, 'i' integer uniform, '3'/'6' bits, 'l' lognormal, 'm' MV
  std::vector<double> params, mean, factor;
  int32_t method = 0, storage = 0;
  bool single = false, accurate = false;
  bool summary = false;  // count, mean, variance, least and greatest instead of the values
};
// Comma-separated numbers; false when one does not parse or the count is not `want` (0: any).
bool parse_numbers(const char* text, size_t want, std::vector<double>* out);
// The continuous distributions beyond the Gaussian family (cmd_rng_continuous.cpp): their options,
// kinds and draws.
bool parse_continuous_option(int argc, char** argv, int* i, DistOptions* d, bool* ok);
bool is_continuous_kind(char kind);
template <class T>
int32_t draw_continuous(StreamRecord* s, const DistOptions& d, int32_t n, T* r);
// Takes argv[*i] (and its value, moving *i) when it is a distribution option; *ok tells whether it
// was well formed. False when argv[*i] is not one.
bool parse_distribution_option(int argc, char** argv, int* i, DistOptions* d, bool* ok);
// A message when the options do not fit together, else null.
const char* check_distribution(const DistOptions& d);
// Prints n variates (n vectors for --mvn), one to a line; the first non-zero status.
int32_t print_distribution(StreamRecord* s, const DistOptions& d, int64_t n);

}  // namespace zok::app

struct StreamRecord;
namespace zok::app {

// The discrete-distribution options of `zok rng gen`: the distribution (-1 for none), its
// parameters (for --poissonv the means, used in turn) and --summary.
struct DiscreteRequest {
  int kind = -1;
  std::vector<double> params;
  bool summary = false;
};
// Takes those options out of argv (argc shrinks); false after a message when one is malformed.
bool take_discrete_options(int* argc, char** argv, DiscreteRequest* request);
// Prints n draws of the request from s, one per line, or with --summary their mean and variance
// beside the exact ones; 0, or 1 after a message.
int print_discrete(StreamRecord* s, int64_t n, const DiscreteRequest& request);

}  // namespace zok::app

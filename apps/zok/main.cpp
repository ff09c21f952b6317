// zok: the command-line program. Subcommands register themselves (cmd_*.cpp); `zok tour` runs the
// tour stop of each in order.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "apps/zok/commands.h"

namespace zok::app {

namespace {
std::vector<Command>& registry() {
  static std::vector<Command> all;
  return all;
}
}  // namespace

bool register_command(const Command& command) {
  registry().push_back(command);
  std::stable_sort(registry().begin(), registry().end(),
                   [](const Command& a, const Command& b) { return a.tour_order < b.tour_order; });
  return true;
}

const std::vector<Command>& commands() {
  return registry();
}

void tour_heading(const std::string& title) {
  std::printf("\n-- %s --\n", title.c_str());
}

}  // namespace zok::app

namespace {

void usage() {
  std::fprintf(stderr, "usage: zok COMMAND [ARGS]\n");
  for (const auto& c : zok::app::commands())
    if (c.usage != nullptr) std::fprintf(stderr, "  %s\n", c.usage);
  std::fprintf(stderr, "  tour          a guided run of every capability, on built-in data\n");
}

int tour() {
  std::printf("== zok tour ==\n");
  for (const auto& c : zok::app::commands())
    if (c.tour != nullptr) c.tour();
  std::printf("\ntour done\n");
  return 0;
}

int run(int argc, char** argv) {
  if (argc < 2) {
    usage();
    return 2;
  }
  if (std::strcmp(argv[1], "tour") == 0) return tour();
  for (const auto& c : zok::app::commands())
    if (c.run != nullptr && std::strcmp(argv[1], c.name) == 0) return c.run(argc - 1, argv + 1);
  usage();
  return 2;
}

}  // namespace

// Whatever a command did not handle itself ends here as a message and exit status 1, never as an
// abort: a script running zok on a large or odd input must be able to tell a failure from a crash.
int main(int argc, char** argv) {
  const char* command = argc >= 2 ? argv[1] : "zok";
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "zok %s: not enough memory\n", command);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zok %s: %s\n", command, e.what());
  } catch (...) {
    std::fprintf(stderr, "zok %s: unexpected failure\n", command);
  }
  return 1;
}

// zok fit search: cells of sites in a partition read from files or generated, through a data-fitting
// task; and the tour stop that searches built-in data and compares its speed with std::upper_bound.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "apps/zok/commands.h"
#include "core/thread_limit.h"
#include "zok/core_services.h"
#include "zok/data_fitting.h"

namespace {

constexpr const char* kUsage =
    "usage: zok fit search NODES SITES [OPTIONS]\n"
    "  NODES: --nodes FILE (ascending numbers; - for standard input) | --random-nodes N\n"
    "         | --even-nodes A,B,N (N evenly spaced points from A to B)\n"
    "  SITES: --sites FILE | --random-sites N | --even-sites A,B,N\n"
    "  OPTIONS: --sorted (sites ascend; random sites are sorted)  --quasi (nodes nearly even)\n"
    "           --peak CELL (most likely cell)  --single (single precision)  --wide (64-bit cells)\n"
    "           --threads N  --seed S  --quiet (summary only)\n"
    "  prints one line per site: the site and its cell (0 below the first node, nx above the last)\n";

int usage_error(const std::string& message) {
  std::fprintf(stderr, "zok fit: %s\n%s", message.c_str(), kUsage);
  return 2;
}

bool parse_double(const std::string& text, double* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  *out = std::strtod(text.c_str(), &end);
  return errno != ERANGE && end == text.c_str() + text.size();
}

// Generated nodes and sites, and the cells of every site, are held in memory; a count above this
// cannot be meant and would only end in a failed allocation.
constexpr int64_t kMaxHeld = 2147483647;

bool parse_count(const std::string& text, int64_t minimum, int64_t* out, int64_t maximum = INT64_MAX) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end != text.c_str() + text.size() || v < minimum || v > maximum) return false;
  *out = v;
  return true;
}

// "A,B,N": two ends and a count from `minimum` to `maximum`.
bool parse_even(const std::string& text, int64_t minimum, int64_t maximum, double* a, double* b, int64_t* n) {
  const size_t c1 = text.find(','), c2 = c1 == std::string::npos ? c1 : text.find(',', c1 + 1);
  if (c2 == std::string::npos) return false;
  return parse_double(text.substr(0, c1), a) && parse_double(text.substr(c1 + 1, c2 - c1 - 1), b) &&
         parse_count(text.substr(c2 + 1), minimum, n, maximum) && std::isfinite(*a) && std::isfinite(*b);
}

// Numbers separated by white space or commas.
bool read_numbers(const std::string& path, std::vector<double>* out, std::string* error) {
  std::ifstream file;
  std::istream* in = &std::cin;
  if (path != "-") {
    file.open(path);
    if (!file) {
      *error = "cannot open " + path + ": " + std::strerror(errno);
      return false;
    }
    in = &file;
  }
  std::string token;
  int64_t line = 0;
  std::string text;
  while (std::getline(*in, text)) {
    ++line;
    std::replace(text.begin(), text.end(), ',', ' ');
    std::istringstream words(text);
    while (words >> token) {
      double v;
      if (!parse_double(token, &v)) {
        *error = path + ":" + std::to_string(line) + ": not a number: " + token;
        return false;
      }
      out->push_back(v);
    }
  }
  return true;
}

struct Options {
  std::vector<double> nodes, sites;
  bool uniform_nodes = false, uniform_sites = false, sorted = false, quasi = false, single = false,
       wide = false;
  bool quiet = false, have_nodes = false, have_sites = false, have_peak = false;
  double peak = 0;
  int64_t nx = 0, nsite = 0, threads = 0;
  uint64_t seed = 1;
  std::string random_sites;
};

const char* kind_name(const Options& o) {
  if (o.uniform_nodes) return "uniform";
  if (o.quasi) return "quasi-uniform";
  if (o.sorted) return "sorted";
  if (o.have_peak) return "peak";
  return "hybrid";
}

template <class T>
int run_search(const Options& o, std::vector<int64_t>* cells, double* seconds) {
  const std::vector<T> x(o.nodes.begin(), o.nodes.end());
  const std::vector<T> s(o.sites.begin(), o.sites.end());
  DfTask* task = nullptr;
  const int64_t xhint = o.uniform_nodes ? ZOK_DF_PARTITION_UNIFORM
                        : o.quasi       ? ZOK_DF_PARTITION_QUASI_UNIFORM
                                        : 0;
  int32_t status;
  if constexpr (sizeof(T) == 8) {
    status = zok_df_kernel_dNewTask1D(&task, o.nx, x.data(), xhint, 0, nullptr, 0, o.wide ? 1 : 0);
  } else {
    status = zok_df_kernel_sNewTask1D(&task, o.nx, x.data(), xhint, 0, nullptr, 0, o.wide ? 1 : 0);
  }
  if (status != 0) {
    if (task != nullptr) zok_df_kernel_DeleteTask(&task);
    return status;
  }
  const double datahint[5] = {0, o.have_peak ? 1.0 : 0.0, 0, 0, o.peak};
  const int64_t sitehint =
      (o.uniform_sites ? ZOK_DF_SITES_UNIFORM : 0) | (o.sorted ? ZOK_DF_SITES_SORTED : 0);
  const ThreadingServices* threading = o.threads > 0 ? zok::core::threads_up_to(static_cast<int>(o.threads))
                                                     : zok_serv_get_threading_services();
  std::vector<int32_t> narrow(o.wide ? 0 : o.nsite);
  cells->assign(o.nsite, 0);
  void* out = o.wide ? static_cast<void*>(cells->data()) : static_cast<void*>(narrow.data());
  const auto start = std::chrono::steady_clock::now();
  if constexpr (sizeof(T) == 8) {
    status = zok_df_kernel_dDFSearch1D(task, 0, o.nsite, s.data(), sitehint, datahint, out, nullptr, nullptr,
                                       threading);
  } else {
    status = zok_df_kernel_sDFSearch1D(task, 0, o.nsite, s.data(), sitehint, datahint, out, nullptr, nullptr,
                                       threading);
  }
  *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!o.wide) std::copy(narrow.begin(), narrow.end(), cells->begin());
  zok_df_kernel_DeleteTask(&task);
  return status;
}

// argv[0] is "search".
int cmd_search(int argc, char** argv) {
  Options o;
  std::string error;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string* v) {
      if (i + 1 >= argc) return false;
      *v = argv[++i];
      return true;
    };
    std::string v;
    if (arg == "--nodes") {
      if (!value(&v)) return usage_error("--nodes needs a file");
      if (!read_numbers(v, &o.nodes, &error)) return usage_error(error);
      o.have_nodes = true;
    } else if (arg == "--random-nodes") {
      int64_t n;
      if (!value(&v) || !parse_count(v, 2, &n, kMaxHeld))
        return usage_error("--random-nodes needs a count from 2 to " + std::to_string(kMaxHeld));
      o.nx = n;
      o.have_nodes = true;
      o.nodes.assign(1, -1.0);  // generated below, once the seed is known
    } else if (arg == "--even-nodes") {
      double a, b;
      int64_t n;
      if (!value(&v) || !parse_even(v, 2, INT64_MAX, &a, &b, &n) || !(a < b))
        return usage_error("--even-nodes needs A,B,N with A < B and N >= 2");
      o.nodes = {a, b};
      o.nx = n;
      o.uniform_nodes = o.have_nodes = true;
    } else if (arg == "--sites") {
      if (!value(&v)) return usage_error("--sites needs a file");
      if (!read_numbers(v, &o.sites, &error)) return usage_error(error);
      o.have_sites = true;
    } else if (arg == "--random-sites") {
      if (!value(&v) || !parse_count(v, 1, &o.nsite, kMaxHeld))
        return usage_error("--random-sites needs a count from 1 to " + std::to_string(kMaxHeld));
      o.random_sites = v;
      o.have_sites = true;
    } else if (arg == "--even-sites") {
      double a, b;
      if (!value(&v) || !parse_even(v, 1, kMaxHeld, &a, &b, &o.nsite))
        return usage_error("--even-sites needs A,B,N with N from 1 to " + std::to_string(kMaxHeld));
      o.sites = {a, b};
      o.uniform_sites = o.have_sites = true;
    } else if (arg == "--peak") {
      if (!value(&v) || !parse_double(v, &o.peak)) return usage_error("--peak needs a cell");
      o.have_peak = true;
    } else if (arg == "--threads") {
      if (!value(&v) || !parse_count(v, 1, &o.threads, INT32_MAX))
        return usage_error("--threads needs a count from 1 to " + std::to_string(INT32_MAX));
    } else if (arg == "--seed") {
      int64_t s;
      if (!value(&v) || !parse_count(v, 0, &s)) return usage_error("--seed needs a number");
      o.seed = static_cast<uint64_t>(s);
    } else if (arg == "--sorted") {
      o.sorted = true;
    } else if (arg == "--quasi") {
      o.quasi = true;
    } else if (arg == "--single") {
      o.single = true;
    } else if (arg == "--wide") {
      o.wide = true;
    } else if (arg == "--quiet") {
      o.quiet = true;
    } else {
      return usage_error("unknown option " + arg);
    }
  }
  if (!o.have_nodes || !o.have_sites) return usage_error("give the nodes and the sites");

  std::mt19937_64 rng(o.seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  if (!o.uniform_nodes) {
    if (o.nx > 0 && o.nodes.size() == 1 && o.nodes[0] == -1.0) {
      o.nodes.resize(o.nx);
      for (auto& x : o.nodes) x = unit(rng);
      std::sort(o.nodes.begin(), o.nodes.end());
    }
    o.nx = static_cast<int64_t>(o.nodes.size());
    if (o.nx < 2) return usage_error("the partition needs at least 2 nodes");
    for (int64_t j = 1; j < o.nx; ++j)
      if (!(o.nodes[j] > o.nodes[j - 1]))
        return usage_error("nodes must ascend strictly (node " + std::to_string(j) + ")");
  }
  if (!o.random_sites.empty()) {
    const double lo = o.nodes.front(), hi = o.nodes.back(), pad = 0.05 * (hi - lo);
    o.sites.resize(o.nsite);
    for (auto& s : o.sites) s = lo - pad + (hi - lo + 2 * pad) * unit(rng);
    if (o.sorted) std::sort(o.sites.begin(), o.sites.end());
  } else if (!o.uniform_sites) {
    o.nsite = static_cast<int64_t>(o.sites.size());
    if (o.sorted && !std::is_sorted(o.sites.begin(), o.sites.end()))
      return usage_error("--sorted given but the sites do not ascend");
  }
  if (o.have_peak && !(o.peak >= 0 && o.peak <= static_cast<double>(o.nx)))
    return usage_error("--peak needs a cell from 0 to " + std::to_string(o.nx));

  std::vector<int64_t> cells;
  double seconds = 0;
  const int32_t status =
      o.single ? run_search<float>(o, &cells, &seconds) : run_search<double>(o, &cells, &seconds);
  if (status != 0) {
    std::fprintf(stderr, "zok fit: search failed with status %d\n", status);
    return 1;
  }
  if (!o.quiet) {
    for (int64_t i = 0; i < o.nsite; ++i) {
      const double site =
          o.uniform_sites
              ? (o.nsite > 1 ? o.sites[0] + static_cast<double>(i) *
                                                ((o.sites[1] - o.sites[0]) / static_cast<double>(o.nsite - 1))
                             : o.sites[0])
              : o.sites[i];
      std::printf("%.17g %lld\n", site, static_cast<long long>(cells[i]));
    }
  }
  std::fprintf(stderr, "zok fit: %lld sites in %lld cells (%s search, %s precision) in %.3f ms\n",
               static_cast<long long>(o.nsite), static_cast<long long>(o.nx + 1), kind_name(o),
               o.single ? "single" : "double", seconds * 1e3);
  return 0;
}

int cmd_fit(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "search") == 0) return cmd_search(argc - 1, argv + 1);
  std::fprintf(stderr, "%s", kUsage);
  return 2;
}

// Sites per second of one call, best of a few.
template <class Fn>
double rate(int64_t sites, Fn fn) {
  double best = 1e300;
  for (int rep = 0; rep < 3; ++rep) {
    const auto start = std::chrono::steady_clock::now();
    fn();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return static_cast<double>(sites) / best;
}

void tour_search() {
  zok::app::tour_heading("data fitting: cells of sites");
  {
    DfTask* task = nullptr;
    const double ends[2] = {0.0, 10.0}, sites[3] = {3.0, 10.0, 10.5};
    int64_t cells[3] = {};
    zok_df_kernel_dNewTask1D(&task, 11, ends, ZOK_DF_PARTITION_UNIFORM, 0, nullptr, 0, 1);
    zok_df_kernel_dDFSearch1D(task, 0, 3, sites, 0, nullptr, cells, nullptr, nullptr, nullptr);
    zok_df_kernel_DeleteTask(&task);
    std::printf("  11 even nodes from 0 to 10: sites 3, 10, 10.5 lie in cells %lld, %lld, %lld\n",
                static_cast<long long>(cells[0]), static_cast<long long>(cells[1]),
                static_cast<long long>(cells[2]));
  }
  constexpr int64_t kNodes = 100000, kSites = 1000000;
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<double> x(kNodes), s(kSites);
  for (int64_t j = 0; j < kNodes; ++j) {
    const double u = static_cast<double>(j) / (kNodes - 1);
    x[j] = u * u * u;  // crowded towards 0
  }
  for (auto& v : s) v = unit(rng);
  std::vector<int32_t> cells(kSites), check(kSites);
  DfTask* task = nullptr;
  zok_df_kernel_dNewTask1D(&task, kNodes, x.data(), 0, 0, nullptr, 0, 0);
  const ThreadingServices* all = zok_serv_get_threading_services();
  const int threads = all->max_threads();
  const double one = rate(kSites, [&] {
    zok_df_kernel_dDFSearch1D(task, 0, kSites, s.data(), 0, nullptr, cells.data(), nullptr, nullptr,
                              zok::core::threads_up_to(1));
  });
  const double many = rate(kSites, [&] {
    zok_df_kernel_dDFSearch1D(task, 0, kSites, s.data(), 0, nullptr, cells.data(), nullptr, nullptr, all);
  });
  const double baseline = rate(kSites, [&] {
    for (int64_t i = 0; i < kSites; ++i)
      check[i] = static_cast<int32_t>(std::upper_bound(x.begin(), x.end(), s[i]) - x.begin());
  });
  zok_df_kernel_DeleteTask(&task);
  const bool same = cells == check;
  std::printf("  %lld random sites in %lld graded nodes (hybrid search):\n", static_cast<long long>(kSites),
              static_cast<long long>(kNodes));
  std::printf("    zok, 1 thread       %7.1f M sites/s\n", one / 1e6);
  std::printf("    zok, %d thread%s      %7.1f M sites/s\n", threads, threads == 1 ? " " : "s", many / 1e6);
  std::printf("    std::upper_bound    %7.1f M sites/s   (1 thread: %.1fx)   cells %s\n", baseline / 1e6,
              one / baseline, same ? "agree" : "DIFFER");
}

const bool kRegistered = zok::app::register_command(
    {"fit", "fit search    cells of sites in a partition (zok fit search for options)", cmd_fit, tour_search,
     300});

}  // namespace

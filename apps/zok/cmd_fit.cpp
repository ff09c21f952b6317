// zok fit search: cells of sites in a partition read from files or generated, through a data-fitting
// task; zok fit spline: splines of the columns of a file, their values, derivatives and integrals and
// a picture; and their tour stops, which compare speeds with std::upper_bound, a Thomas-algorithm
// spline build and an upper_bound + Horner evaluation.
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
#include "bench/interp_baseline.h"
#include "bench/spline_baseline.h"
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
    "  prints one line per site: the site and its cell (0 below the first node, nx above the last)\n"
    "usage: zok fit spline DATA.csv [--kind K] [--ends E] [--ic COL] [--coeffs] [--threads N]\n"
    "  DATA.csv: x in the first column, one function per further column (- for standard input);\n"
    "            a first line with words names the columns\n"
    "  --kind linear|quadratic|natural|bessel|akima|hermite|default (natural); quadratic has knots\n"
    "         between the nodes\n"
    "  --ends not-a-knot|free|d1:A,B|d2:A,B|d1d2:A,B|d2d1:A,B|periodic[:A]|akima (not-a-knot; d2:0,0\n"
    "         for quadratic): dN:A,B gives derivative N at the left and right ends\n"
    "  --ic COL: the column (name or number from 0) of the Hermite slopes or default second\n"
    "            derivatives, read at the interior nodes\n"
    "  prints kind, ends, nx, status and build time; --coeffs then one line per cell: function, cell,\n"
    "  its left end and its coefficients c0.. of c0 + c1*t + ..., t from that left end\n"
    "  evaluation: --at FILE | --even A,B,N  sites to evaluate at (beyond the data the end pieces go on)\n"
    "    --deriv 1,2  derivatives besides the value   --cells  the cell of every site\n"
    "    prints one line per site: the site, [its cell,] then per function the value and derivatives\n"
    "  --integrate A:B[,C:D...]  one line per interval: its ends and the integral of every function\n"
    "  --plot out.svg  the data and the spline at 400 even sites, as a standalone SVG picture\n";

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

// Standard input for "-", else the file opened into *file; null with *error set when it cannot be.
std::istream* open_input(const std::string& path, std::ifstream* file, std::string* error) {
  if (path == "-") return &std::cin;
  file->open(path);
  if (!*file) *error = "cannot open " + path + ": " + std::strerror(errno);
  return *file ? file : nullptr;
}

// Numbers separated by white space or commas.
bool read_numbers(const std::string& path, std::vector<double>* out, std::string* error) {
  std::ifstream file;
  std::istream* in = open_input(path, &file, error);
  if (in == nullptr) return false;
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

// A table of numbers with optional column names from a first line that is not all numbers.
struct Table {
  std::vector<std::string> names;
  std::vector<std::vector<double>> columns;
};

bool read_table(const std::string& path, Table* t, std::string* error) {
  std::ifstream file;
  std::istream* in = open_input(path, &file, error);
  if (in == nullptr) return false;
  std::string text;
  for (int64_t line = 1; std::getline(*in, text); ++line) {
    std::replace(text.begin(), text.end(), ',', ' ');
    std::istringstream words(text);
    std::vector<std::string> fields;
    for (std::string w; words >> w;) fields.push_back(w);
    if (fields.empty()) continue;
    std::vector<double> row(fields.size());
    bool numbers = true;
    for (size_t i = 0; i < fields.size(); ++i) numbers = numbers && parse_double(fields[i], &row[i]);
    if (!numbers && t->columns.empty() && t->names.empty()) {
      t->names = fields;
      continue;
    }
    if (!numbers) {
      *error = path + ":" + std::to_string(line) + ": not a number in " + text;
      return false;
    }
    if (t->columns.empty()) t->columns.resize(row.size());
    if (row.size() != t->columns.size() || (!t->names.empty() && row.size() != t->names.size())) {
      *error = path + ":" + std::to_string(line) + ": " + std::to_string(row.size()) + " fields, not " +
               std::to_string(t->columns.size());
      return false;
    }
    for (size_t i = 0; i < row.size(); ++i) t->columns[i].push_back(row[i]);
  }
  return true;
}

using SplineEntry = int32_t (*)(const DfTask*, const void*, int32_t, const ThreadingServices*);

struct SplineKind {
  const char* name;
  SplineEntry entry;
  int64_t order;
};
const SplineKind kSplineKinds[] = {{"linear", zok_df_kernel_dDFLinearSpline1D, 2},
                                   {"quadratic", zok_df_kernel_dDFQuadraticSpline1D, 3},
                                   {"natural", zok_df_kernel_dDFNaturalCubicSpline1D, 4},
                                   {"bessel", zok_df_kernel_dDFBesselCubicSpline1D, 4},
                                   {"akima", zok_df_kernel_dDFAkimaCubicSpline1D, 4},
                                   {"hermite", zok_df_kernel_dDFHermiteCubicSpline1D, 4},
                                   {"default", zok_df_kernel_dDFDefaultCubicSpline1D, 4}};

// "--ends" text to a boundary code and its two values.
bool parse_ends(const std::string& e, int64_t* code, double bc[2]) {
  struct Name {
    const char* name;
    int64_t code;
  };
  const Name plain[] = {{"not-a-knot", 1}, {"free", 2}, {"periodic", 64}, {"akima", 0}};
  for (const Name& n : plain)
    if (e == n.name) return *code = n.code, true;
  const Name valued[] = {{"d1:", 12}, {"d2:", 48}, {"d1d2:", 36}, {"d2d1:", 24}, {"periodic:", 64}};
  for (const Name& n : valued) {
    const std::string prefix = n.name;
    if (e.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string v = e.substr(prefix.size());
    const size_t comma = v.find(',');
    *code = n.code;
    if (n.code == 64) return comma == std::string::npos && parse_double(v, &bc[0]);
    return comma != std::string::npos && parse_double(v.substr(0, comma), &bc[0]) &&
           parse_double(v.substr(comma + 1), &bc[1]);
  }
  return false;
}

// What `zok fit spline` evaluates after the build: sites (a file, or A,B,N evenly spaced), the
// derivative orders besides the value, whether cells are shown, and intervals to integrate over.
struct Evaluation {
  std::vector<double> sites;
  bool even = false, cells = false;
  int64_t nsite = 0;
  std::vector<int32_t> dorder{1};
  std::vector<double> lo, hi;
};

std::string parse_evaluation(const std::string& at, const std::string& even, const std::string& deriv,
                             const std::string& integrate, Evaluation* ev) {
  std::string error;
  if (!at.empty() && !even.empty()) return "give --at or --even, not both";
  if (!at.empty()) {
    if (!read_numbers(at, &ev->sites, &error)) return error;
    ev->nsite = static_cast<int64_t>(ev->sites.size());
  }
  if (!even.empty()) {
    double a, b;
    if (!parse_even(even, 1, kMaxHeld, &a, &b, &ev->nsite)) return "--even needs A,B,N with N from 1";
    ev->sites = {a, b};
    ev->even = true;
  }
  std::istringstream orders(deriv);
  for (std::string o; std::getline(orders, o, ',');) {
    int64_t k;
    if (!parse_count(o, 1, &k, 64)) return "--deriv needs orders from 1 to 64, such as 1,2";
    if (static_cast<int64_t>(ev->dorder.size()) <= k) ev->dorder.resize(k + 1, 0);
    ev->dorder[k] = 1;
  }
  std::istringstream pairs(integrate);
  for (std::string p; std::getline(pairs, p, ',');) {
    const size_t colon = p.find(':');
    double a, b;
    if (colon == std::string::npos || !parse_double(p.substr(0, colon), &a) ||
        !parse_double(p.substr(colon + 1), &b))
      return "--integrate needs A:B pairs, such as 0:1,2:3.5";
    ev->lo.push_back(a);
    ev->hi.push_back(b);
  }
  return "";
}

// Runs the evaluation of a built task of ny functions and prints its tables; returns the status.
int32_t evaluate(const DfTask* task, int64_t ny, const Evaluation& ev) {
  const int64_t n = ev.nsite, q = std::count(ev.dorder.begin(), ev.dorder.end(), 1);
  if (n > 0) {
    std::vector<double> r(static_cast<size_t>(n * q * ny));
    std::vector<int32_t> cells(ev.cells ? n : 0);
    const int32_t status = zok_df_kernel_dDFInterpolate1D(
        task, ev.cells ? ZOK_DF_INTERP_CELLS : 0, 0, n, ev.sites.data(), ev.even ? ZOK_DF_SITES_UNIFORM : 0,
        static_cast<int64_t>(ev.dorder.size()), ev.dorder.data(), nullptr, r.data(), ZOK_DF_RESULTS_BY_SITE,
        cells.data(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        zok_serv_get_threading_services());
    if (status != 0) {
      std::fprintf(stderr, "zok fit: interpolation failed with status %d\n", status);
      return status;
    }
    std::printf("site%s", ev.cells ? " cell" : "");
    for (int64_t f = 0; f < ny; ++f)
      for (size_t k = 0; k < ev.dorder.size(); ++k)
        if (ev.dorder[k]) std::printf(k == 0 ? " f%lld" : " f%lld^(%zu)", static_cast<long long>(f), k);
    std::printf("\n");
    const double step = n > 1 && ev.even ? (ev.sites[1] - ev.sites[0]) / static_cast<double>(n - 1) : 0.0;
    for (int64_t i = 0; i < n; ++i) {
      std::printf("%.17g", ev.even ? ev.sites[0] + static_cast<double>(i) * step : ev.sites[i]);
      if (ev.cells) std::printf(" %d", cells[i]);
      for (int64_t f = 0; f < ny; ++f)
        for (int64_t k = 0; k < q; ++k) std::printf(" %.17g", r[(f * n + i) * q + k]);
      std::printf("\n");
    }
  }
  const int64_t m = static_cast<int64_t>(ev.lo.size());
  if (m == 0) return 0;
  std::vector<double> r(static_cast<size_t>(m * ny));
  const int32_t status = zok_df_kernel_dDFIntegrate1D(
      task, 0, m, ev.lo.data(), 0, ev.hi.data(), 0, nullptr, nullptr, r.data(), 0, nullptr, nullptr, nullptr,
      nullptr, nullptr, nullptr, nullptr, nullptr, zok_serv_get_threading_services());
  if (status != 0) {
    std::fprintf(stderr, "zok fit: integration failed with status %d\n", status);
    return status;
  }
  for (int64_t k = 0; k < m; ++k) {
    std::printf("integral %.17g %.17g", ev.lo[k], ev.hi[k]);
    for (int64_t f = 0; f < ny; ++f) std::printf(" %.17g", r[f * m + k]);
    std::printf("\n");
  }
  return 0;
}

// A small standalone SVG picture: axes with their end values, the data points of every function and
// its spline at 400 even sites over the data range.
int32_t plot(const DfTask* task, const std::vector<double>& x, const std::vector<double>& y, int64_t ny,
             const std::string& path) {
  constexpr int64_t kSites = 400;
  constexpr double kW = 640, kH = 400, kPad = 50;
  const int64_t nx = static_cast<int64_t>(x.size());
  std::vector<double> r(kSites * ny);
  const double ends[2] = {x.front(), x.back()};
  const int32_t status = zok_df_kernel_dDFInterpolate1D(
      task, 0, 0, kSites, ends, ZOK_DF_SITES_UNIFORM, 0, nullptr, nullptr, r.data(), 0, nullptr, nullptr,
      nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  if (status != 0) return status;
  double lo = *std::min_element(y.begin(), y.end()), hi = *std::max_element(y.begin(), y.end());
  for (double v : r) lo = std::min(lo, v), hi = std::max(hi, v);
  if (!(hi > lo)) hi = lo + 1;
  auto px = [&](double t) { return kPad + (t - ends[0]) / (ends[1] - ends[0]) * (kW - 2 * kPad); };
  auto py = [&](double v) { return kH - kPad - (v - lo) / (hi - lo) * (kH - 2 * kPad); };
  std::ofstream out(path);
  if (!out) {
    std::fprintf(stderr, "zok fit: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
    return -1;
  }
  const char* colours[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd"};
  char text[512];
  std::snprintf(
      text, sizeof text,
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%g\" height=\"%g\" font-family=\"sans-serif\" "
      "font-size=\"12\">\n<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n"
      "<path d=\"M%g %g H%g M%g %g V%g\" stroke=\"black\" fill=\"none\"/>\n"
      "<text x=\"%g\" y=\"%g\">%.6g</text><text x=\"%g\" y=\"%g\" text-anchor=\"end\">%.6g</text>\n"
      "<text x=\"%g\" y=\"%g\" text-anchor=\"end\">%.6g</text><text x=\"%g\" y=\"%g\" "
      "text-anchor=\"end\">%.6g</text>\n",
      kW, kH, kPad, kH - kPad, kW - kPad, kPad, kH - kPad, kPad, kPad, kH - kPad + 16, ends[0], kW - kPad,
      kH - kPad + 16, ends[1], kPad - 4, kH - kPad, lo, kPad - 4, kPad + 4, hi);
  out << text;
  for (int64_t f = 0; f < ny; ++f) {
    const char* colour = colours[f % 4];
    out << "<polyline fill=\"none\" stroke=\"" << colour << "\" points=\"";
    for (int64_t i = 0; i < kSites; ++i) {
      const double t = ends[0] + (ends[1] - ends[0]) * static_cast<double>(i) / (kSites - 1);
      std::snprintf(text, sizeof text, "%.2f,%.2f ", px(t), py(r[f * kSites + i]));
      out << text;
    }
    out << "\"/>\n";
    for (int64_t j = 0; j < nx; ++j) {
      std::snprintf(text, sizeof text, "<circle cx=\"%.2f\" cy=\"%.2f\" r=\"3\" fill=\"%s\"/>\n", px(x[j]),
                    py(y[f * nx + j]), colour);
      out << text;
    }
  }
  out << "</svg>\n";
  return out ? 0 : -1;
}

// argv[0] is "spline".
int cmd_spline(int argc, char** argv) {
  std::string path, kind_name = "natural", ends, ic_column, at_path, even_text, deriv_text, integrate_text,
                    plot_path;
  bool coeffs = false, show_cells = false;
  int64_t threads = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string* v) {
      if (i + 1 >= argc) return false;
      *v = argv[++i];
      return true;
    };
    std::string v;
    if (arg == "--kind") {
      if (!value(&kind_name)) return usage_error("--kind needs a kind");
    } else if (arg == "--ends") {
      if (!value(&ends)) return usage_error("--ends needs a condition");
    } else if (arg == "--ic") {
      if (!value(&ic_column)) return usage_error("--ic needs a column");
    } else if (arg == "--threads") {
      if (!value(&v) || !parse_count(v, 1, &threads, INT32_MAX))
        return usage_error("--threads needs a count from 1 to " + std::to_string(INT32_MAX));
    } else if (arg == "--coeffs") {
      coeffs = true;
    } else if (arg == "--cells") {
      show_cells = true;
    } else if (arg == "--at" || arg == "--even" || arg == "--deriv" || arg == "--integrate" ||
               arg == "--plot") {
      std::string* target = arg == "--at"      ? &at_path
                            : arg == "--even"  ? &even_text
                            : arg == "--deriv" ? &deriv_text
                            : arg == "--plot"  ? &plot_path
                                               : &integrate_text;
      if (!value(target)) return usage_error(arg + " needs a value");
    } else if (path.empty() && (arg == "-" || arg.compare(0, 2, "--") != 0)) {
      path = arg;
    } else {
      return usage_error("unknown option " + arg);
    }
  }
  if (path.empty()) return usage_error("give the data file");
  Evaluation ev;
  if (const std::string e = parse_evaluation(at_path, even_text, deriv_text, integrate_text, &ev); !e.empty())
    return usage_error(e);
  ev.cells = show_cells;
  const SplineKind* kind = nullptr;
  for (const SplineKind& k : kSplineKinds)
    if (kind_name == k.name) kind = &k;
  if (kind == nullptr) return usage_error("unknown kind " + kind_name);
  const bool quadratic = kind->order == 3;
  if (ends.empty()) ends = quadratic ? "d2:0,0" : "not-a-knot";
  int64_t bc_type = 0;
  double bc[2] = {0, 0};
  if (!parse_ends(ends, &bc_type, bc)) return usage_error("cannot use --ends " + ends);

  Table table;
  std::string error;
  if (!read_table(path, &table, &error)) return usage_error(error);
  if (table.columns.empty() || table.columns[0].size() < 2)
    return usage_error("the data need at least 2 rows");
  std::vector<double> ic;
  int64_t ic_index = -1;
  if (!ic_column.empty()) {
    for (size_t c = 0; c < table.names.size(); ++c)
      if (table.names[c] == ic_column) ic_index = static_cast<int64_t>(c);
    if (ic_index < 0 && !parse_count(ic_column, 1, &ic_index, static_cast<int64_t>(table.columns.size()) - 1))
      return usage_error("no column " + ic_column);
    const auto& col = table.columns[ic_index];
    ic.assign(col.begin() + 1, col.end() - 1);  // the interior nodes
  }
  std::vector<double> y;
  int64_t ny = 0;
  for (size_t c = 1; c < table.columns.size(); ++c)
    if (static_cast<int64_t>(c) != ic_index)
      y.insert(y.end(), table.columns[c].begin(), table.columns[c].end()), ++ny;
  if (ny == 0) return usage_error("the file needs an x column and at least one function column");
  const std::vector<double>& x = table.columns[0];
  const int64_t nx = static_cast<int64_t>(x.size());

  const int64_t cells = quadratic ? nx : nx - 1;
  std::vector<double> c(static_cast<size_t>(cells * kind->order * ny));
  DfTask* task = nullptr;
  int32_t status = zok_df_kernel_dNewTask1D(&task, nx, x.data(), 0, ny, y.data(), ZOK_DF_VALUES_BY_ROWS, 0);
  if (status == 0)
    status = zok_df_kernel_dEditPPSpline1D(task, kind->order, quadratic ? 1 : 0, bc_type, bc,
                                           ic.empty() ? 0 : 1, ic.empty() ? nullptr : ic.data(), c.data(), 0);
  if (status == 0 && quadratic)
    status = zok_df_kernel_iEditVal(task, ZOK_DF_ATTR_IC_TYPE, 8);  // midway knots
  double seconds = 0;
  if (status == 0) {
    const ThreadingServices* ts =
        threads > 0 ? zok::core::threads_up_to(static_cast<int>(threads)) : zok_serv_get_threading_services();
    const auto start = std::chrono::steady_clock::now();
    status = kind->entry(task, nullptr, 0, ts);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  std::printf("kind %s, ends %s, nx %lld, functions %lld, status %d, build %.3f ms\n", kind->name,
              ends.c_str(), static_cast<long long>(nx), static_cast<long long>(ny), status, seconds * 1e3);
  if (status != 0) {
    if (task != nullptr) zok_df_kernel_DeleteTask(&task);
    return 1;
  }
  for (int64_t f = 0; coeffs && f < ny; ++f)
    for (int64_t i = 0; i < cells; ++i) {
      // Cells of the quadratic start at its knots: the first node, then halfway between nodes.
      const double left = !quadratic || i == 0 ? x[i] : (x[i - 1] + x[i]) / 2;
      std::printf("%lld %lld %.17g", static_cast<long long>(f), static_cast<long long>(i), left);
      for (int64_t k = 0; k < kind->order; ++k) std::printf(" %.17g", c[(f * cells + i) * kind->order + k]);
      std::printf("\n");
    }
  status = evaluate(task, ny, ev);
  if (status == 0 && !plot_path.empty()) status = plot(task, x, y, ny, plot_path);
  zok_df_kernel_DeleteTask(&task);
  return status == 0 ? 0 : 1;
}

int cmd_fit(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "search") == 0) return cmd_search(argc - 1, argv + 1);
  if (argc >= 2 && std::strcmp(argv[1], "spline") == 0) return cmd_spline(argc - 1, argv + 1);
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

// Seconds of the fastest of a few calls.
template <class Fn>
double best_time(Fn fn) {
  double best = 1e300;
  for (int rep = 0; rep < 3; ++rep) {
    const auto start = std::chrono::steady_clock::now();
    fn();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

void tour_spline() {
  zok::app::tour_heading("data fitting: spline construction");
  constexpr int64_t kFew = 9;
  std::vector<double> x(kFew), y(kFew), c(4 * (kFew - 1));
  for (int64_t j = 0; j < kFew; ++j) {
    x[j] = 3.14159265358979 * static_cast<double>(j) / (kFew - 1) + 0.1 * std::sin(3.0 * j);
    y[j] = std::sin(x[j]);
  }
  const double mid = (x[3] + x[4]) / 2, t = mid - x[3];
  for (const SplineKind& k : {kSplineKinds[2], kSplineKinds[4]}) {
    DfTask* task = nullptr;
    zok_df_kernel_dNewTask1D(&task, kFew, x.data(), 0, 1, y.data(), ZOK_DF_VALUES_BY_ROWS, 0);
    zok_df_kernel_dEditPPSpline1D(task, 4, 0, 1, nullptr, 0, nullptr, c.data(), 0);
    const int32_t status = k.entry(task, nullptr, 0, nullptr);
    zok_df_kernel_DeleteTask(&task);
    const double* q = &c[4 * 3];
    std::printf(
        "  %-7s cubic (not-a-knot) through sin at %lld nodes: status %d, s(%.4f) = %.6f, sin = %.6f\n",
        k.name, static_cast<long long>(kFew), status, mid, q[0] + t * (q[1] + t * (q[2] + t * q[3])),
        std::sin(mid));
  }
  constexpr int64_t kNodes = 1000000;
  std::vector<double> bx(kNodes), by(kNodes), bc(4 * (kNodes - 1)), work;
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> step(0.5, 1.5);
  for (int64_t j = 1; j < kNodes; ++j) bx[j] = bx[j - 1] + step(rng) * 1e-6;
  for (int64_t j = 0; j < kNodes; ++j) by[j] = std::sin(10.0 * bx[j]);
  DfTask* task = nullptr;
  zok_df_kernel_dNewTask1D(&task, kNodes, bx.data(), 0, 1, by.data(), ZOK_DF_VALUES_BY_ROWS, 0);
  zok_df_kernel_dEditPPSpline1D(task, 4, 0, 2, nullptr, 0, nullptr, bc.data(), 0);
  const double ours = best_time([&] { zok_df_kernel_dDFNaturalCubicSpline1D(task, nullptr, 0, nullptr); });
  zok_df_kernel_DeleteTask(&task);
  std::vector<double> check(bc.size());
  const double thomas =
      best_time([&] { zok::bench::thomas_natural_spline(kNodes, bx.data(), by.data(), check.data(), work); });
  double diff = 0;  // over the node derivatives: c2 and c3 on steps this short carry cancellation
  for (size_t i = 1; i < bc.size(); i += 4)
    diff = std::max(diff, std::fabs(bc[i] - check[i]) / (1 + std::fabs(check[i])));
  std::printf("  natural cubic (free ends), %lld nodes, 1 thread:\n", static_cast<long long>(kNodes));
  std::printf("    zok                 %7.1f ns/node\n", ours / kNodes * 1e9);
  std::printf(
      "    Thomas algorithm    %7.1f ns/node   (zok takes %.2fx its time; derivatives agree to %.0e)\n",
      thomas / kNodes * 1e9, ours / thomas, diff);
}

void tour_interpolate() {
  zok::app::tour_heading("data fitting: interpolation and integration");
  constexpr int64_t kFew = 40, kProbe = 1000;
  constexpr double kEnd = 6.283185307179586;
  std::vector<double> x(kFew), y(kFew), c(4 * (kFew - 1)), probe(kProbe), r(3 * kProbe);
  for (int64_t j = 0; j < kFew; ++j) x[j] = kEnd * j / (kFew - 1), y[j] = std::sin(x[j]);
  for (int64_t i = 0; i < kProbe; ++i) probe[i] = kEnd * (i + 0.5) / kProbe;
  const int32_t dorder[2] = {1, 1};
  const double lo = 0.3, hi = 5.0;
  for (const SplineKind& k : {kSplineKinds[2], kSplineKinds[4]}) {
    DfTask* task = nullptr;
    zok_df_kernel_dNewTask1D(&task, kFew, x.data(), 0, 1, y.data(), ZOK_DF_VALUES_BY_ROWS, 0);
    zok_df_kernel_dEditPPSpline1D(task, 4, 0, 1, nullptr, 0, nullptr, c.data(), 0);
    k.entry(task, nullptr, 0, nullptr);
    zok_df_kernel_dDFInterpolate1D(task, 0, 0, kProbe, probe.data(), ZOK_DF_SITES_SORTED, 2, dorder, nullptr,
                                   r.data(), ZOK_DF_RESULTS_BY_SITE, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    double integral = 0;
    zok_df_kernel_dDFIntegrate1D(task, 0, 1, &lo, 0, &hi, 0, nullptr, nullptr, &integral, 0, nullptr, nullptr,
                                 nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    zok_df_kernel_DeleteTask(&task);
    double value_error = 0, slope_error = 0;
    for (int64_t i = 0; i < kProbe; ++i) {
      value_error = std::max(value_error, std::fabs(r[2 * i] - std::sin(probe[i])));
      slope_error = std::max(slope_error, std::fabs(r[2 * i + 1] - std::cos(probe[i])));
    }
    std::printf(
        "  %-7s cubic of sin at %lld even nodes on [0, 2pi]: max error %.1e (value), %.1e (derivative);\n"
        "          integral over [%.1f, %.1f] off by %.1e\n",
        k.name, static_cast<long long>(kFew), value_error, slope_error, lo, hi,
        std::fabs(integral - (std::cos(lo) - std::cos(hi))));
  }
  constexpr int64_t kNodes = 1000000, kSites = 1000000;
  std::mt19937_64 rng(8);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<double> bx(kNodes), by(kNodes), bc(4 * (kNodes - 1)), s(kSites), ours(kSites), check(kSites);
  for (auto& v : bx) v = unit(rng);
  std::sort(bx.begin(), bx.end());
  for (int64_t j = 0; j < kNodes; ++j) by[j] = std::sin(10.0 * bx[j]);
  for (auto& v : s) v = unit(rng);
  DfTask* task = nullptr;
  zok_df_kernel_dNewTask1D(&task, kNodes, bx.data(), 0, 1, by.data(), ZOK_DF_VALUES_BY_ROWS, 0);
  zok_df_kernel_dEditPPSpline1D(task, 4, 0, 2, nullptr, 0, nullptr, bc.data(), 0);
  zok_df_kernel_dDFNaturalCubicSpline1D(task, nullptr, 0, nullptr);
  const ThreadingServices* all = zok_serv_get_threading_services();
  auto interpolate = [&](const ThreadingServices* ts) {
    zok_df_kernel_dDFInterpolate1D(task, 0, 0, kSites, s.data(), 0, 0, nullptr, nullptr, ours.data(), 0,
                                   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, ts);
  };
  const double one = rate(kSites, [&] { interpolate(zok::core::threads_up_to(1)); });
  const double many = rate(kSites, [&] { interpolate(all); });
  const double baseline = rate(kSites, [&] {
    zok::bench::upper_bound_horner(kNodes, bx.data(), bc.data(), kSites, s.data(), check.data());
  });
  zok_df_kernel_DeleteTask(&task);
  std::printf("  natural cubic on %lld random nodes, values at %lld random sites:\n",
              static_cast<long long>(kNodes), static_cast<long long>(kSites));
  std::printf("    zok, 1 thread       %7.1f M sites/s\n", one / 1e6);
  std::printf("    zok, %d thread%s      %7.1f M sites/s\n", all->max_threads(),
              all->max_threads() == 1 ? " " : "s", many / 1e6);
  std::printf("    upper_bound+Horner  %7.1f M sites/s   (1 thread: %.1fx)   values %s\n", baseline / 1e6,
              one / baseline, ours == check ? "agree" : "DIFFER");
  std::printf("  draw one: zok fit spline DATA.csv --kind akima --plot spline.svg\n");
}

void tour_fit() {
  tour_search();
  tour_spline();
  tour_interpolate();
}

const bool kRegistered = zok::app::register_command(
    {"fit", "fit search|spline  cells of sites; splines of a file's columns (zok fit for options)", cmd_fit,
     tour_fit, 300});

}  // namespace

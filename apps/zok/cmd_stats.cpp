// zok stats: basic statistics of the numeric columns of a CSV file as a table; the summary-statistics
// tour stop (data far from zero, portions, the speed of a large covariance).
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "apps/zok/commands.h"
#include "zok/summary_stats.h"

namespace {

struct Table {
  std::vector<std::string> names;
  std::vector<std::vector<double>> columns;  // columns[j][i]
};

bool parse_number(const std::string& field, double* out) {
  const char* s = field.c_str();
  char* end = nullptr;
  *out = std::strtod(s, &end);
  if (end == s) return false;
  while (*end == ' ' || *end == '\t' || *end == '\r') ++end;
  return *end == '\0';
}

std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream ss(line);
  std::string f;
  while (std::getline(ss, f, ',')) {
    const size_t a = f.find_first_not_of(" \t\r\"");
    const size_t b = f.find_last_not_of(" \t\r\"");
    fields.push_back(a == std::string::npos ? "" : f.substr(a, b - a + 1));
  }
  return fields;
}

// Reads a CSV file; a first line with any non-numeric field is the header. A column with a missing
// or non-numeric field is dropped, and standard error says which and why: a silent drop would make a
// table of fewer variables look like the whole file.
bool read_csv(const char* path, Table* table, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = std::string("cannot open ") + path;
    return false;
  }
  std::vector<std::vector<std::string>> rows;
  std::vector<size_t> lines;  // the file's line number of each row, for the messages
  std::string line;
  for (size_t number = 1; std::getline(in, line); ++number) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    rows.push_back(split(line));
    lines.push_back(number);
  }
  if (rows.empty()) {
    *error = "no data";
    return false;
  }
  size_t width = rows[0].size();
  bool header = false;
  double v;
  for (const auto& f : rows[0]) header = header || !parse_number(f, &v);
  std::vector<std::string> names(width);
  for (size_t j = 0; j < width; ++j) names[j] = header ? rows[0][j] : "x" + std::to_string(j + 1);
  const size_t first = header ? 1 : 0;
  for (size_t i = first; i < rows.size(); ++i)
    if (rows[i].size() > width)
      std::fprintf(stderr,
                   "zok stats: line %zu has %zu fields, line %zu has %zu: the extra ones are ignored\n",
                   lines[i], rows[i].size(), lines[0], width);
  for (size_t j = 0; j < width; ++j) {
    std::vector<double> col;
    size_t bad = rows.size();
    for (size_t i = first; i < rows.size() && bad == rows.size(); ++i) {
      if (j < rows[i].size() && parse_number(rows[i][j], &v))
        col.push_back(v);
      else
        bad = i;
    }
    if (bad < rows.size()) {
      if (j < rows[bad].size())
        std::fprintf(stderr, "zok stats: column %zu (%s) dropped: line %zu has \"%s\", not a number\n", j + 1,
                     names[j].c_str(), lines[bad], rows[bad][j].c_str());
      else
        std::fprintf(stderr, "zok stats: column %zu (%s) dropped: line %zu has only %zu fields\n", j + 1,
                     names[j].c_str(), lines[bad], rows[bad].size());
    } else if (!col.empty()) {
      table->names.push_back(names[j]);
      table->columns.push_back(std::move(col));
    }
  }
  if (table->columns.empty()) {
    *error = "no numeric column";
    return false;
  }
  return true;
}

struct Wanted {
  bool mean = true, var = true, skew = true, kurt = true, cov = true, cor = true;
};

bool parse_estimates(const char* list, Wanted* w) {
  *w = Wanted{false, false, false, false, false, false};
  for (const auto& e : split(list)) {
    if (e == "mean")
      w->mean = true;
    else if (e == "var")
      w->var = true;
    else if (e == "skew")
      w->skew = true;
    else if (e == "kurt")
      w->kurt = true;
    else if (e == "cov")
      w->cov = true;
    else if (e == "cor")
      w->cor = true;
    else
      return false;
  }
  return true;
}

struct Results {
  int32_t p = 0, n = 0;
  std::vector<double> mean, raw2, raw3, raw4, c2, c3, c4, skew, kurt, mn, mx, cov, cor;
  double pair[2] = {0, 0};
};

// Runs the estimators over observations in columns storage (x[i*p + j]).
int32_t compute(const std::vector<double>& x, const double* w, int32_t p, int32_t n, const Wanted& want,
                int32_t matrix_storage, Results* r) {
  r->p = p;
  r->n = n;
  for (auto* a : {&r->mean, &r->raw2, &r->raw3, &r->raw4, &r->c2, &r->c3, &r->c4, &r->skew, &r->kurt})
    a->assign(p, 0.0);
  r->mn.assign(p, INFINITY);
  r->mx.assign(p, -INFINITY);
  // The matrices grow with the square of the variables: a wide file asking only for means must not
  // pay for them.
  const size_t msize = matrix_storage == ZOK_SS_MATRIX_FULL ? size_t(p) * p : size_t(p) * (p + 1) / 2;
  r->cov.assign(want.cov ? msize : 0, 0.0);
  r->cor.assign(want.cor ? msize : 0, 0.0);
  int32_t storage = ZOK_SS_STORAGE_COLUMNS;
  SSTask* task = nullptr;
  int32_t status = __qordSSNewTask(&task, &p, &n, &storage, x.data(), w, nullptr, 0);
  if (status != 0) return status;
  __qordSSEditMoments(task, r->mean.data(), r->raw2.data(), r->raw3.data(), r->raw4.data(), r->c2.data(),
                      r->c3.data(), r->c4.data());
  __qordSSEditCovCor(task, nullptr, want.cov ? r->cov.data() : nullptr, &matrix_storage,
                     want.cor ? r->cor.data() : nullptr, &matrix_storage);
  __qordSSEditTask(task, ZOK_SS_ID_SKEWNESS, r->skew.data());
  __qordSSEditTask(task, ZOK_SS_ID_KURTOSIS, r->kurt.data());
  __qordSSEditTask(task, ZOK_SS_ID_MIN, r->mn.data());
  __qordSSEditTask(task, ZOK_SS_ID_MAX, r->mx.data());
  __qordSSEditTask(task, ZOK_SS_ID_ACCUM_WEIGHTS, r->pair);
  uint64_t mask = ZOK_SS_MEAN;
  if (want.var) mask |= ZOK_SS_CENTRAL2;
  if (want.skew) mask |= ZOK_SS_SKEWNESS | ZOK_SS_CENTRAL2;
  if (want.kurt) mask |= ZOK_SS_KURTOSIS | ZOK_SS_CENTRAL2;
  if (want.cov) mask |= ZOK_SS_COV;
  if (want.cor) mask |= ZOK_SS_COR;
  status = _qordSSBasic(task, mask, ZOK_SS_METHOD_ONEPASS, zok_serv_get_threading_services());
  if (status == 0) status = _qordSSMinmax(task, ZOK_SS_MIN | ZOK_SS_MAX, ZOK_SS_METHOD_ONEPASS);
  __qorSSDeleteTask(&task);
  return status;
}

void print_matrix(const char* title, const std::vector<std::string>& names, const std::vector<double>& m,
                  int32_t storage) {
  const size_t p = names.size();
  std::printf("\n%s", title);
  if (storage != ZOK_SS_MATRIX_FULL) {
    // Packed rows of the lower triangle, exactly as the library stores them.
    std::printf(" (packed lower triangle, %zu values):\n", m.size());
    size_t at = 0;
    for (size_t i = 0; i < p; ++i) {
      std::printf("  %-12.12s", names[i].c_str());
      for (size_t j = 0; j <= i; ++j) std::printf(" %14.7g", m[at++]);
      std::printf("\n");
    }
    return;
  }
  std::printf(":\n  %-12s", "");
  for (const auto& n : names) std::printf(" %14.14s", n.c_str());
  std::printf("\n");
  for (size_t i = 0; i < p; ++i) {
    std::printf("  %-12.12s", names[i].c_str());
    for (size_t j = 0; j < p; ++j) std::printf(" %14.7g", m[i * p + j]);
    std::printf("\n");
  }
}

void print_results(const std::vector<std::string>& names, const Results& r, const Wanted& want,
                   int32_t storage) {
  std::printf("%d observations, total weight %.10g\n", r.n, r.pair[0]);
  std::printf("  %-12s %16s", "variable", "mean");
  if (want.var) std::printf(" %14s", "variance");
  if (want.skew) std::printf(" %12s", "skewness");
  if (want.kurt) std::printf(" %12s", "kurtosis");
  std::printf(" %14s %14s\n", "min", "max");
  for (int32_t j = 0; j < r.p; ++j) {
    std::printf("  %-12.12s %16.10g", names[j].c_str(), r.mean[j]);
    if (want.var) std::printf(" %14.7g", r.c2[j]);
    if (want.skew) std::printf(" %12.5g", r.skew[j]);
    if (want.kurt) std::printf(" %12.5g", r.kurt[j]);
    std::printf(" %14.10g %14.10g\n", r.mn[j], r.mx[j]);
  }
  // The correlation's diagonal holds the variances (so accumulation can continue); shown as 1 here.
  if (want.cov) print_matrix("covariance", names, r.cov, storage);
  if (want.cor) {
    std::vector<double> c = r.cor;
    const size_t p = names.size();
    for (size_t i = 0; i < p; ++i) c[storage == ZOK_SS_MATRIX_FULL ? i * p + i : i * (i + 1) / 2 + i] = 1.0;
    print_matrix("correlation", names, c, storage);
  }
}

int usage() {
  std::fprintf(
      stderr,
      "usage: zok stats FILE.csv [--weights COL] [--estimates mean,var,skew,kurt,cov,cor] [--packed]\n"
      "  COL is a column name or a 1-based column number\n");
  return 2;
}

// argv[0] is "stats".
int run_stats(int argc, char** argv) {
  const char* path = nullptr;
  const char* weights = nullptr;
  Wanted want;
  bool packed = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--weights") == 0 && i + 1 < argc) {
      weights = argv[++i];
    } else if (std::strcmp(argv[i], "--estimates") == 0 && i + 1 < argc) {
      if (!parse_estimates(argv[++i], &want)) return usage();
    } else if (std::strcmp(argv[i], "--packed") == 0) {
      packed = true;
    } else if (argv[i][0] != '-' && path == nullptr) {
      path = argv[i];
    } else {
      return usage();
    }
  }
  if (path == nullptr) return usage();
  Table table;
  std::string error;
  if (!read_csv(path, &table, &error)) {
    std::fprintf(stderr, "zok stats: %s\n", error.c_str());
    return 1;
  }
  std::vector<double> w;
  if (weights != nullptr) {
    int found = -1;
    for (size_t j = 0; j < table.names.size(); ++j)
      if (table.names[j] == weights) found = static_cast<int>(j);
    double number;
    if (found < 0 && parse_number(weights, &number) && number >= 1 && number <= table.names.size() &&
        number == std::floor(number))
      found = static_cast<int>(number) - 1;
    if (found < 0) {
      std::fprintf(stderr, "zok stats: no numeric column %s\n", weights);
      return 1;
    }
    w = table.columns[found];
    table.columns.erase(table.columns.begin() + found);
    table.names.erase(table.names.begin() + found);
    if (table.columns.empty()) {
      std::fprintf(stderr, "zok stats: no variable besides the weights\n");
      return 1;
    }
  }
  const int32_t p = static_cast<int32_t>(table.columns.size());
  const int32_t n = static_cast<int32_t>(table.columns[0].size());
  Results r;
  const int32_t storage = packed ? ZOK_SS_MATRIX_PACKED_LOWER : ZOK_SS_MATRIX_FULL;
  int32_t status;
  try {
    std::vector<double> x(static_cast<size_t>(p) * n);
    for (int32_t i = 0; i < n; ++i)
      for (int32_t j = 0; j < p; ++j) x[static_cast<size_t>(i) * p + j] = table.columns[j][i];
    status = compute(x, w.empty() ? nullptr : w.data(), p, n, want, storage, &r);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "zok stats: not enough memory for %d variables and %d observations%s\n", p, n,
                 want.cov || want.cor ? " (cov and cor take variables x variables values each)" : "");
    return 1;
  }
  if (status != 0) {
    std::fprintf(stderr, "zok stats: status %d\n", status);
    return 1;
  }
  print_results(table.names, r, want, storage);
  return 0;
}

void tour_stats() {
  zok::app::tour_heading("summary statistics: moments and correlation of data far from zero");
  // Three variables around 1e9 with unit spread: sums of squares about zero would lose every digit.
  const int32_t p = 3, n = 100000;
  std::mt19937_64 gen(2024);
  std::normal_distribution<double> normal;
  std::exponential_distribution<double> expo;
  std::vector<double> x(static_cast<size_t>(p) * n);
  for (int32_t i = 0; i < n; ++i) {
    const double a = normal(gen), b = expo(gen);
    x[i * p + 0] = 1e9 + a;
    x[i * p + 1] = 1e9 + 0.6 * a + 0.8 * normal(gen);
    x[i * p + 2] = 2e9 + b;
  }
  Results r;
  compute(x, nullptr, p, n, Wanted{}, ZOK_SS_MATRIX_FULL, &r);
  print_results({"a", "0.6a+0.8e", "expo"}, r, Wanted{}, ZOK_SS_MATRIX_FULL);
  std::printf(
      "  expected: variances 1, 1, 1; correlation(a, 0.6a+0.8e) 0.6; exponential skewness 2, kurtosis 6\n");

  // Portions: two calls on halves accumulate to the one-call result through the output arrays.
  Results half;
  half.p = p;
  for (auto* a : {&half.mean, &half.c2}) a->assign(p, 0.0);
  int32_t storage = ZOK_SS_STORAGE_COLUMNS, m = n / 2, full = 0;
  std::vector<double> cov(p * p, 0.0);
  for (int part = 0; part < 2; ++part) {
    SSTask* task = nullptr;
    __qordSSNewTask(&task, &p, &m, &storage, x.data() + static_cast<size_t>(part) * m * p, nullptr, nullptr,
                    0);
    __qordSSEditMoments(task, half.mean.data(), nullptr, nullptr, nullptr, half.c2.data(), nullptr, nullptr);
    __qordSSEditCovCor(task, nullptr, cov.data(), &full, nullptr, nullptr);
    __qordSSEditTask(task, ZOK_SS_ID_ACCUM_WEIGHTS, half.pair);
    _qordSSBasic(task, ZOK_SS_MEAN | ZOK_SS_COV, ZOK_SS_METHOD_ONEPASS, zok_serv_get_threading_services());
    __qorSSDeleteTask(&task);
  }
  std::printf("  two halves: covariance(a, 0.6a+0.8e) %.15g vs one call %.15g\n", cov[1], r.cov[1]);

  zok::app::tour_heading("summary statistics: speed of mean, variance and covariance");
  const int32_t pb = 10, nb = 1000000;
  std::vector<double> big(static_cast<size_t>(pb) * nb);
  for (auto& v : big) v = normal(gen);
  Wanted mv{true, true, false, false, true, false};
  const auto t0 = std::chrono::steady_clock::now();
  compute(big, nullptr, pb, nb, mv, ZOK_SS_MATRIX_FULL, &r);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("  p = %d, n = %d, columns storage: %.1f ms (%.2f ns per element, minimum/maximum included)\n",
              pb, nb, s * 1e3, s * 1e9 / (double(pb) * nb));
}

const bool kRegistered = zok::app::register_command(
    {"stats",
     "stats FILE.csv [--weights COL] [--estimates LIST] [--packed]   moments, covariance, correlation",
     run_stats, tour_stats, 200});

}  // namespace

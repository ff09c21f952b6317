// zok stats: basic and order statistics of the numeric columns of a CSV file as a table (or of its
// parts merged), sorted columns, stream quantiles beside exact ones, partial, pooled and group
// covariance and the repaired correlation, robust mean and covariance and outlier rows; the
// summary-statistics tour stop (data far from zero, portions, merged parts, the speed of a large
// covariance, quantiles and stream quantiles, partial and pooled covariance, a repaired correlation,
// planted outliers and a chi-square quantile).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <new>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "apps/zok/commands.h"
#include "core/thread_limit.h"
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

// The library's missing-value marker: the default quiet NaN with its sign set.
const double kMissing = -std::numeric_limits<double>::quiet_NaN();
bool is_missing(double v) {
  return std::signbit(v) && std::isnan(v);
}

// Reads a CSV file; a first line with any non-numeric field is the header. A column with a missing
// or non-numeric field is dropped, and standard error says which and why: a silent drop would make a
// table of fewer variables look like the whole file. With keep_missing, empty and NA fields are kept
// as missing values.
bool read_csv(const char* path, Table* table, std::string* error, bool keep_missing = false) {
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
      else if (keep_missing && j < rows[i].size() && (rows[i][j].empty() || rows[i][j] == "NA"))
        col.push_back(kMissing);
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
  bool quantiles = false, median = false, mad = false, meanad = false;
  bool partial_cov = false, partial_cor = false, pooled_cov = false, group_cov = false, group_mean = false;
  bool repaired_cor = false;
  bool robust_cov = false, outliers = false, impute = false;
  bool basic() const { return mean || var || skew || kurt || cov || cor; }
  bool order() const { return quantiles || median || mad || meanad; }
  bool partial() const { return partial_cov || partial_cor; }
  bool pooled() const { return pooled_cov || group_cov || group_mean; }
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
    else if (e == "quantiles")
      w->quantiles = true;
    else if (e == "median")
      w->median = true;
    else if (e == "mad")
      w->mad = true;
    else if (e == "meanad")
      w->meanad = true;
    else if (e == "partial-cov")
      w->partial_cov = true;
    else if (e == "partial-cor")
      w->partial_cor = true;
    else if (e == "pooled-cov")
      w->pooled_cov = true;
    else if (e == "group-cov")
      w->group_cov = true;
    else if (e == "group-mean")
      w->group_mean = true;
    else if (e == "repaired-cor")
      w->repaired_cor = true;
    else if (e == "robust-cov")
      w->robust_cov = true;
    else if (e == "outliers")
      w->outliers = true;
    else if (e == "impute")
      w->impute = true;
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

// Registers r's arrays (sized by compute) in a task.
void register_results(SSTask* task, Results* r, const Wanted& want, const int32_t* matrix_storage) {
  __qordSSEditMoments(task, r->mean.data(), r->raw2.data(), r->raw3.data(), r->raw4.data(), r->c2.data(),
                      r->c3.data(), r->c4.data());
  __qordSSEditCovCor(task, nullptr, want.cov ? r->cov.data() : nullptr, matrix_storage,
                     want.cor ? r->cor.data() : nullptr, matrix_storage);
  __qordSSEditTask(task, ZOK_SS_ID_SKEWNESS, r->skew.data());
  __qordSSEditTask(task, ZOK_SS_ID_KURTOSIS, r->kurt.data());
  __qordSSEditTask(task, ZOK_SS_ID_MIN, r->mn.data());
  __qordSSEditTask(task, ZOK_SS_ID_MAX, r->mx.data());
  __qordSSEditTask(task, ZOK_SS_ID_ACCUM_WEIGHTS, r->pair);
}

uint64_t basic_mask(const Wanted& want) {
  uint64_t mask = ZOK_SS_MEAN;
  if (want.var) mask |= ZOK_SS_CENTRAL2;
  if (want.skew) mask |= ZOK_SS_SKEWNESS | ZOK_SS_CENTRAL2;
  if (want.kurt) mask |= ZOK_SS_KURTOSIS | ZOK_SS_CENTRAL2;
  if (want.cov) mask |= ZOK_SS_COV;
  if (want.cor) mask |= ZOK_SS_COR;
  return mask;
}

// Runs the estimators over observations in columns storage (x[i*p + j]).
int32_t compute(const std::vector<double>& x, const double* w, int32_t p, int32_t n, const Wanted& want,
                int32_t matrix_storage, Results* r) {
  r->p = p;
  r->n = n;
  for (auto* a : {&r->mean, &r->raw2, &r->raw3, &r->raw4, &r->c2, &r->c3, &r->c4, &r->skew, &r->kurt})
    a->assign(p, 0.0);
  r->mn.assign(p, INFINITY);
  r->mx.assign(p, -INFINITY);
  r->pair[0] = r->pair[1] = 0;
  // The matrices grow with the square of the variables: a wide file asking only for means must not
  // pay for them.
  const size_t msize = matrix_storage == ZOK_SS_MATRIX_FULL ? size_t(p) * p : size_t(p) * (p + 1) / 2;
  r->cov.assign(want.cov ? msize : 0, 0.0);
  r->cor.assign(want.cor ? msize : 0, 0.0);
  int32_t storage = ZOK_SS_STORAGE_COLUMNS;
  SSTask* task = nullptr;
  int32_t status = __qordSSNewTask(&task, &p, &n, &storage, x.data(), w, nullptr, 0);
  if (status != 0) return status;
  register_results(task, r, want, &matrix_storage);
  status = _qordSSBasic(task, basic_mask(want), ZOK_SS_METHOD_ONEPASS, zok_serv_get_threading_services());
  if (status == 0) status = _qordSSMinmax(task, ZOK_SS_MIN | ZOK_SS_MAX, ZOK_SS_METHOD_ONEPASS);
  __qorSSDeleteTask(&task);
  return status;
}

// --split K: the observations cut into K parts, each part's results computed alone and merged one after
// another, beside the one-pass result r; prints the largest difference of every estimate.
int32_t print_split(const std::vector<double>& x, const double* w, int32_t p, int32_t n, const Wanted& want,
                    int32_t matrix_storage, const Results& r, int32_t parts) {
  Results merged, part;
  const auto t0 = std::chrono::steady_clock::now();
  double merging = 0;
  int32_t status = 0;
  for (int32_t k = 0; k < parts && status == 0; ++k) {
    const int32_t i0 = static_cast<int32_t>(int64_t(n) * k / parts),
                  i1 = static_cast<int32_t>(int64_t(n) * (k + 1) / parts);
    const std::vector<double> slice(x.begin() + int64_t(i0) * p, x.begin() + int64_t(i1) * p);
    status = compute(slice, w == nullptr ? nullptr : w + i0, p, i1 - i0, want, matrix_storage,
                     k == 0 ? &merged : &part);
    if (status != 0 || k == 0) continue;
    const auto m0 = std::chrono::steady_clock::now();
    SSTask *a = nullptr, *b = nullptr;
    __qordSSNewTask(&a, &p, nullptr, nullptr, nullptr, nullptr, nullptr, 0);
    __qordSSNewTask(&b, &p, nullptr, nullptr, nullptr, nullptr, nullptr, 0);
    register_results(a, &merged, want, &matrix_storage);
    register_results(b, &part, want, &matrix_storage);
    status = _qordSSMerge(a, b, basic_mask(want) | ZOK_SS_MIN | ZOK_SS_MAX);
    __qorSSDeleteTask(&a);
    __qorSSDeleteTask(&b);
    merging += std::chrono::duration<double>(std::chrono::steady_clock::now() - m0).count();
  }
  if (status != 0) return status;
  const double total = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf(
      "\n%d parts merged, against one pass: largest difference relative to each estimate's largest "
      "magnitude\n ",
      parts);
  auto show = [&](const char* name, const std::vector<double>& got, const std::vector<double>& one) {
    double scale = 0, diff = 0;
    for (size_t i = 0; i < one.size(); ++i) {
      scale = std::max(scale, std::fabs(one[i]));
      diff = std::max(diff, std::fabs(got[i] - one[i]));
    }
    if (!one.empty()) std::printf(" %s %.2g", name, scale > 0 ? diff / scale : diff);
  };
  show("weight", {merged.pair[0]}, {r.pair[0]});
  show("mean", merged.mean, r.mean);
  if (want.var) show("variance", merged.c2, r.c2);
  if (want.skew) show("skewness", merged.skew, r.skew);
  if (want.kurt) show("kurtosis", merged.kurt, r.kurt);
  if (want.cov) show("covariance", merged.cov, r.cov);
  if (want.cor) show("correlation", merged.cor, r.cor);
  show("min", merged.mn, r.mn);
  show("max", merged.mx, r.mx);
  std::printf("\n  parts and merges %.3f ms, of which the %d merges %.3f ms\n", total * 1e3, parts - 1,
              merging * 1e3);
  return 0;
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

// ---- order statistics ----
// A task over the columns, one after another (rows storage), with 64-bit integers.
struct ColumnTask {
  int64_t p, n, storage = ZOK_SS_STORAGE_ROWS;
  std::vector<double> x;
  SSTask* task = nullptr;
  explicit ColumnTask(const Table& t)
      : p(static_cast<int64_t>(t.columns.size())), n(static_cast<int64_t>(t.columns[0].size())) {
    for (const auto& c : t.columns) x.insert(x.end(), c.begin(), c.end());
    __qordSSNewTask(&task, &p, &n, &storage, x.data(), nullptr, nullptr, 1);
  }
  ~ColumnTask() { __qorSSDeleteTask(&task); }
};

bool parse_orders(const char* list, std::vector<double>* orders) {
  orders->clear();
  for (const auto& f : split(list)) {
    double q;
    if (!parse_number(f, &q) || !(q >= 0 && q <= 1)) return false;
    orders->push_back(q);
  }
  return !orders->empty();
}

int32_t print_order_stats(const Table& t, const Wanted& want, const std::vector<double>& orders) {
  ColumnTask c(t);
  const int64_t count = static_cast<int64_t>(orders.size()), one = 1;
  const double half = 0.5;
  std::vector<double> q(c.p * count), med(c.p), mad(c.p), meanad(c.p);
  int32_t status = 0;
  const ThreadingServices* threads = zok_serv_get_threading_services();
  if (want.quantiles) {
    __qordSSEditQuantiles(c.task, &count, orders.data(), q.data(), nullptr, nullptr);
    status = _qordSSQuantiles(c.task, ZOK_SS_QUANTILES, ZOK_SS_METHOD_EXACT, threads);
  }
  if (status == 0 && want.median) {
    __qordSSEditQuantiles(c.task, &one, &half, med.data(), nullptr, nullptr);
    status = _qordSSQuantiles(c.task, ZOK_SS_QUANTILES, ZOK_SS_METHOD_EXACT, threads);
  }
  __qordSSEditTask(c.task, ZOK_SS_ID_MEDIAN_ABS_DEV, mad.data());
  __qordSSEditTask(c.task, ZOK_SS_ID_MEAN_ABS_DEV, meanad.data());
  const uint64_t dev = (want.mad ? ZOK_SS_MEDIAN_ABS_DEV : 0) | (want.meanad ? ZOK_SS_MEAN_ABS_DEV : 0);
  if (status == 0 && dev != 0) status = _qordSSMAD(c.task, dev, ZOK_SS_METHOD_EXACT, threads);
  if (status != 0) return status;
  std::printf("\n  %-12s", "variable");
  for (int64_t i = 0; want.quantiles && i < count; ++i) std::printf(" %13s%-.4g", "q", orders[i]);
  if (want.median) std::printf(" %14s", "median");
  if (want.mad) std::printf(" %14s", "mad");
  if (want.meanad) std::printf(" %14s", "meanad");
  std::printf("\n");
  for (int64_t j = 0; j < c.p; ++j) {
    std::printf("  %-12.12s", t.names[j].c_str());
    for (int64_t i = 0; want.quantiles && i < count; ++i) std::printf(" %14.8g", q[j * count + i]);
    if (want.median) std::printf(" %14.8g", med[j]);
    if (want.mad) std::printf(" %14.8g", mad[j]);
    if (want.meanad) std::printf(" %14.8g", meanad[j]);
    std::printf("\n");
  }
  return 0;
}

int32_t print_sorted(const Table& t) {
  ColumnTask c(t);
  std::vector<double> sorted(c.x.size());
  __qordSSEditTask(c.task, ZOK_SS_ID_SORTED, sorted.data());
  __qoriSSEditTask(c.task, ZOK_SS_ID_SORTED_STORAGE, &c.storage);
  const int32_t status = _qordSSSort(c.task, 0, ZOK_SS_METHOD_SORT, zok_serv_get_threading_services());
  if (status != 0) return status;
  for (int64_t j = 0; j < c.p; ++j) std::printf("%s%s", j ? "," : "", t.names[j].c_str());
  std::printf("\n");
  for (int64_t i = 0; i < c.n; ++i)
    for (int64_t j = 0; j < c.p; ++j) std::printf("%.17g%s", sorted[j * c.n + i], j + 1 < c.p ? "," : "\n");
  return 0;
}

// How far order*N lies outside the ranks v holds among the sorted values (a tie holds all its ranks).
double rank_distance(const std::vector<double>& sorted, double v, double target) {
  const auto lo = static_cast<double>(std::lower_bound(sorted.begin(), sorted.end(), v) - sorted.begin()) + 1;
  const auto hi = static_cast<double>(std::upper_bound(sorted.begin(), sorted.end(), v) - sorted.begin());
  return target < lo ? lo - target : target > hi ? target - hi : 0;
}

// Stream quantiles of the columns (columns storage x[i*p + j]) fed in portions of `portion` rows;
// approx receives p*count values. The last portion asks for the answer.
int32_t stream_quantiles(const std::vector<double>& x, int64_t p, int64_t n, double eps,
                         const std::vector<double>& orders, int64_t portion, std::vector<double>* approx) {
  int64_t m = 0, storage = ZOK_SS_STORAGE_COLUMNS, count = static_cast<int64_t>(orders.size()), params = 1;
  approx->assign(p * count, NAN);
  SSTask* task = nullptr;
  // The observations come portion by portion; the first count is 0.
  int32_t status = __qordSSNewTask(&task, &p, &m, &storage, nullptr, nullptr, nullptr, 1);
  if (status != 0) return status;
  __qordSSEditStreamQuantiles(task, &count, orders.data(), approx->data(), &params, &eps);
  for (int64_t at = 0; at < n && status == 0; at += portion) {
    m = std::min(portion, n - at);
    __qordSSEditTask(task, ZOK_SS_ID_X, x.data() + at * p);
    const uint64_t method = at + m >= n ? ZOK_SS_METHOD_STREAM : ZOK_SS_METHOD_STREAM_UPDATE;
    status = _qordSSStreamQuantiles(task, 0, method, zok_serv_get_threading_services());
  }
  __qorSSDeleteTask(&task);
  return status;
}

int32_t print_stream(const Table& t, double eps, const std::vector<double>& orders) {
  const int64_t p = static_cast<int64_t>(t.columns.size()), n = static_cast<int64_t>(t.columns[0].size());
  const int64_t count = static_cast<int64_t>(orders.size());
  std::vector<double> x(p * n), approx;
  for (int64_t i = 0; i < n; ++i)
    for (int64_t j = 0; j < p; ++j) x[i * p + j] = t.columns[j][i];
  const int32_t status = stream_quantiles(x, p, n, eps, orders, 10000, &approx);
  if (status != 0) return status;
  std::printf("stream quantiles, epsilon %g: every rank within eps*N = %.6g of order*N\n", eps,
              eps * static_cast<double>(n));
  std::printf("  %-12s %8s %16s %16s %14s\n", "variable", "order", "stream", "exact", "rank distance");
  for (int64_t j = 0; j < p; ++j) {
    std::vector<double> sorted = t.columns[j];
    std::sort(sorted.begin(), sorted.end());
    for (int64_t i = 0; i < count; ++i) {
      const double pos = orders[i] * static_cast<double>(n - 1);
      const auto k = static_cast<size_t>(pos);
      const double exact =
          k + 1 < sorted.size() ? sorted[k] + (pos - k) * (sorted[k + 1] - sorted[k]) : sorted[k];
      const double v = approx[j * count + i];
      std::printf("  %-12.12s %8.4g %16.10g %16.10g %14.6g\n", t.names[j].c_str(), orders[i], v, exact,
                  rank_distance(sorted, v, orders[i] * static_cast<double>(n)));
    }
  }
  return 0;
}

// ---- derived covariance estimates ----
// The column named `name`, or numbered (from 1); -1 when there is none.
int find_column(const Table& t, const std::string& name) {
  for (size_t j = 0; j < t.names.size(); ++j)
    if (t.names[j] == name) return static_cast<int>(j);
  double number;
  if (parse_number(name, &number) && number >= 1 && number <= t.names.size() && number == std::floor(number))
    return static_cast<int>(number) - 1;
  return -1;
}

// Removes column `name` from the table into `out`; false (with a message) when it does not exist or
// leaves no variable.
bool take_column(Table* t, const char* name, const char* role, std::vector<double>* out) {
  const int found = find_column(*t, name);
  if (found < 0) {
    std::fprintf(stderr, "zok stats: no numeric column %s\n", name);
    return false;
  }
  *out = t->columns[found];
  t->columns.erase(t->columns.begin() + found);
  t->names.erase(t->names.begin() + found);
  if (t->columns.empty()) {
    std::fprintf(stderr, "zok stats: no variable besides the %s\n", role);
    return false;
  }
  return true;
}

// Smallest eigenvalue of a full symmetric matrix, its diagonal taken as 1.
double smallest_eigenvalue(std::vector<double> a, int p) {
  for (int i = 0; i < p; ++i) a[i * p + i] = 1;
  std::vector<double> w(p), work(3 * p);
  int lwork = 3 * p, info = 0;
  zok_lapack_dsyev("N", "U", &p, a.data(), &p, w.data(), work.data(), &lwork, &info);
  return info == 0 ? w[0] : NAN;
}

// Partial covariance of the variables not given (Y) given the others (Z), and the repaired correlation.
int32_t print_partial_repair(const Table& t, const std::vector<double>& w, const std::vector<bool>& given,
                             const Wanted& want) {
  ColumnTask c(t);
  const int64_t p = c.p, full = ZOK_SS_MATRIX_FULL;
  if (!w.empty()) __qordSSEditTask(c.task, ZOK_SS_ID_WEIGHTS, w.data());
  std::vector<double> mean(p), cov(p * p), cor(p * p);
  __qordSSEditCovCor(c.task, mean.data(), cov.data(), &full, cor.data(), &full);
  int32_t status = _qordSSBasic(c.task, ZOK_SS_MEAN | ZOK_SS_COV | ZOK_SS_COR, ZOK_SS_METHOD_ONEPASS,
                                zok_serv_get_threading_services());
  if (status == 0 && want.partial()) {
    std::vector<int64_t> sel(p);
    std::vector<std::string> ynames;
    std::string znames;
    for (int64_t j = 0; j < p; ++j) {
      sel[j] = given[j] ? -1 : 1;
      if (given[j])
        znames += (znames.empty() ? "" : ", ") + t.names[j];
      else
        ynames.push_back(t.names[j]);
    }
    const size_t ny = ynames.size();
    std::vector<double> pc(ny * ny), pr(ny * ny);
    __qordSSEditPartialCovCor(c.task, sel.data(), nullptr, nullptr, nullptr, nullptr, pc.data(), &full,
                              pr.data(), &full);
    const uint64_t mask =
        (want.partial_cov ? ZOK_SS_PARTIAL_COV : 0) | (want.partial_cor ? ZOK_SS_PARTIAL_COR : 0);
    status = _qordSSPartialCovariance(c.task, mask, ZOK_SS_METHOD_PARTIAL);
    const std::string given_text = " given " + znames;
    if (status == 0 && want.partial_cov)
      print_matrix(("partial covariance" + given_text).c_str(), ynames, pc, ZOK_SS_MATRIX_FULL);
    if (status == 0 && want.partial_cor)
      print_matrix(("partial correlation" + given_text).c_str(), ynames, pr, ZOK_SS_MATRIX_FULL);
  }
  if (status == 0 && want.repaired_cor) {
    std::vector<double> rep(p * p);
    __qordSSEditMtxParametrz(c.task, cor.data(), &full, rep.data(), &full);
    status = _qordSSCorParametrization(c.task, 0, ZOK_SS_METHOD_REPAIR, zok_serv_get_threading_services());
    if (status == 0) {
      print_matrix("repaired correlation", t.names, rep, ZOK_SS_MATRIX_FULL);
      std::printf("  smallest eigenvalue %.6g before, %.6g after\n",
                  smallest_eigenvalue(cor, static_cast<int>(p)),
                  smallest_eigenvalue(rep, static_cast<int>(p)));
    }
  }
  return status;
}

// Group means and covariances of every group, and the pooled ones.
int32_t print_pooled(const Table& t, const std::vector<double>& w, const std::vector<int64_t>& groups,
                     const Wanted& want) {
  ColumnTask c(t);
  const int64_t p = c.p, full = ZOK_SS_MATRIX_FULL;
  const int64_t G = *std::max_element(groups.begin(), groups.end()) + 1;
  if (!w.empty()) __qordSSEditTask(c.task, ZOK_SS_ID_WEIGHTS, w.data());
  std::vector<int64_t> sel(G, 1);
  std::vector<double> pm(p), pc(p * p), gm(G * p), gc(G * p * p);
  __qordSSEditPooledCovariance(c.task, groups.data(), pm.data(), pc.data(), sel.data(), gm.data(), gc.data());
  __qoriSSEditTask(c.task, ZOK_SS_ID_POOLED_COV_STORAGE, &full);
  __qoriSSEditTask(c.task, ZOK_SS_ID_GROUP_COV_STORAGE, &full);
  const uint64_t mask = ZOK_SS_POOLED_MEAN | (want.pooled_cov ? ZOK_SS_POOLED_COV : 0) |
                        (want.group_cov ? ZOK_SS_GROUP_COV : 0) | (want.group_mean ? ZOK_SS_GROUP_MEAN : 0);
  const int32_t status =
      _qordSSPooledCovariance(c.task, mask, ZOK_SS_METHOD_POOLED, zok_serv_get_threading_services());
  if (status != 0) return status;
  std::printf("\n  %-12s %16s", "variable", "pooled mean");
  for (int64_t g = 0; want.group_mean && g < G; ++g)
    std::printf(" %9s%-7lld", "group ", static_cast<long long>(g));
  std::printf("\n");
  for (int64_t j = 0; j < p; ++j) {
    std::printf("  %-12.12s %16.10g", t.names[j].c_str(), pm[j]);
    for (int64_t g = 0; want.group_mean && g < G; ++g) std::printf(" %16.10g", gm[g * p + j]);
    std::printf("\n");
  }
  if (want.pooled_cov) print_matrix("pooled covariance", t.names, pc, ZOK_SS_MATRIX_FULL);
  for (int64_t g = 0; want.group_cov && g < G; ++g) {
    const std::string title = "covariance of group " + std::to_string(g);
    print_matrix(title.c_str(), t.names,
                 std::vector<double>(gc.begin() + g * p * p, gc.begin() + (g + 1) * p * p),
                 ZOK_SS_MATRIX_FULL);
  }
  return 0;
}

// ---- robust estimation ----
// Robust mean and covariance beside the classical ones; the outlier rows at rejection rate alpha.
int32_t print_robust(const Table& t, const Wanted& want, double alpha) {
  ColumnTask c(t);
  const int64_t p = c.p, full = ZOK_SS_MATRIX_FULL, four = 4, three = 3;
  const ThreadingServices* threads = zok_serv_get_threading_services();
  int32_t status = 0;
  if (want.robust_cov) {
    std::vector<double> mean(p), cov(p * p), rmean(p), rcov(p * p);
    const double params[4] = {0, alpha > 0 && alpha < 1 ? alpha : 0.001, 0.001, 100};
    __qordSSEditCovCor(c.task, mean.data(), cov.data(), &full, nullptr, nullptr);
    __qordSSEditRCov(c.task, &full, &four, params, rmean.data(), rcov.data());
    status = _qordSSBasic(c.task, ZOK_SS_MEAN | ZOK_SS_COV, ZOK_SS_METHOD_ONEPASS, threads);
    if (status == 0) status = _qordSSRobustCovariance(c.task, 0, ZOK_SS_METHOD_ROBUST_COV, threads);
    if (status != 0) return status;
    std::printf("\n  %-12s %16s %16s\n", "variable", "mean", "robust mean");
    for (int64_t j = 0; j < p; ++j)
      std::printf("  %-12.12s %16.10g %16.10g\n", t.names[j].c_str(), mean[j], rmean[j]);
    print_matrix("covariance", t.names, cov, ZOK_SS_MATRIX_FULL);
    print_matrix("robust covariance", t.names, rcov, ZOK_SS_MATRIX_FULL);
  }
  if (want.outliers) {
    std::vector<double> weights(c.n);
    const double params[3] = {2, alpha >= 0 && alpha <= 1 ? alpha : 0.05, 0.005};
    __qordSSEditOutDetect(c.task, &three, params, weights.data());
    status = _qordSSOutliersDetection(c.task, 0, ZOK_SS_METHOD_OUTLIERS, threads);
    if (status != 0 && status != ZOK_SS_ERR_ROBUST_FAILED) return status;
    const int64_t count = std::count(weights.begin(), weights.end(), 0.0);
    std::printf("\n%lld outliers of %lld observations at alpha %g%s\n", static_cast<long long>(count),
                static_cast<long long>(c.n), params[1],
                status != 0 ? " (the clean subset is too small to trust)" : "");
    // Data rows counted from 1, the header not included.
    for (int64_t i = 0, shown = 0; i < c.n; ++i)
      if (weights[i] == 0.0)
        std::printf("%s %lld", shown++ % 16 == 0 ? "\n  rows" : "", static_cast<long long>(i + 1));
    if (count > 0) std::printf("\n");
  }
  return 0;
}

// Every missing value imputed m times: its row and column, the imputations' mean and spread.
int32_t print_imputed(const Table& t, int64_t m) {
  ColumnTask c(t);
  int64_t missing = 0;
  for (double v : c.x) missing += is_missing(v);
  if (missing == 0) {
    std::printf("\nno missing values\n");
    return 0;
  }
  const int64_t five = 5, count = m * missing, records = m * 30 * c.p * (c.p + 3) / 2;
  const double params[5] = {50, 30, 0.001, double(m), double(missing)};
  std::vector<double> values(count), estimates(records);
  __qordSSEditMissingVals(c.task, &five, params, nullptr, nullptr, nullptr, nullptr, &count, values.data(),
                          &records, estimates.data());
  const int32_t status = _qordSSMissingValues(c.task, 0, ZOK_SS_METHOD_MISSING);
  if (status != 0) return status;
  std::printf("\n%lld missing values, %lld imputations:\n  %6s %-12s %16s %14s\n",
              static_cast<long long>(missing), static_cast<long long>(m), "row", "variable", "imputed mean",
              "spread");
  // Values run in the observation array's order: variable after variable in this task.
  for (int64_t k = 0, at = 0; k < static_cast<int64_t>(c.x.size()); ++k) {
    if (!is_missing(c.x[k])) continue;
    double s = 0, s2 = 0;
    for (int64_t j = 0; j < m; ++j) s += values[j * missing + at] / m;
    for (int64_t j = 0; j < m; ++j) s2 += (values[j * missing + at] - s) * (values[j * missing + at] - s);
    std::printf("  %6lld %-12.12s %16.8g %14.6g\n", static_cast<long long>(k % c.n + 1),
                t.names[k / c.n].c_str(), s, m > 1 ? std::sqrt(s2 / (m - 1)) : 0.0);
    ++at;
  }
  return 0;
}

int usage() {
  std::fprintf(
      stderr,
      "usage: zok stats FILE.csv [--weights COL] [--estimates LIST] [--orders Q1,Q2,...] [--packed]\n"
      "       zok stats FILE.csv [--weights COL] [--estimates LIST] --split K   (K parts merged, beside one "
      "pass)\n"
      "       zok stats FILE.csv --sort\n"
      "       zok stats FILE.csv --stream EPS [--orders Q1,Q2,...]\n"
      "       zok stats FILE.csv --estimates partial-cov,partial-cor --given COLS\n"
      "       zok stats FILE.csv --estimates pooled-cov,group-cov,group-mean --groups COL\n"
      "       zok stats FILE.csv --estimates repaired-cor\n"
      "       zok stats FILE.csv --estimates robust-cov,outliers,impute [--alpha A] [--imputations M]\n"
      "  LIST: mean,var,skew,kurt,cov,cor,quantiles,median,mad,meanad,\n"
      "        partial-cov,partial-cor,pooled-cov,group-cov,group-mean,repaired-cor,robust-cov,outliers,\n"
      "        impute (empty and NA fields are the missing values; M imputations, default 5)\n"
      "  A: the rejection probability of the robust covariance (default 0.001) and the per-observation\n"
      "     outlier rate (default 0.05)\n"
      "  COL is a column name or a 1-based column number, COLS a comma-separated list of them;\n"
      "  groups are numbered 0, 1, ...; orders lie in [0, 1]\n");
  return 2;
}

// argv[0] is "stats".
int run_stats(int argc, char** argv) {
  const char* path = nullptr;
  const char* weights = nullptr;
  const char* groups_column = nullptr;
  const char* given_list = nullptr;
  Wanted want;
  bool packed = false, sort = false;
  double eps = 0, alpha = NAN, imputations = 5;
  int32_t parts = 0;
  std::vector<double> orders = {0.05, 0.25, 0.5, 0.75, 0.95};
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--weights") == 0 && i + 1 < argc) {
      weights = argv[++i];
    } else if (std::strcmp(argv[i], "--estimates") == 0 && i + 1 < argc) {
      if (!parse_estimates(argv[++i], &want)) return usage();
    } else if (std::strcmp(argv[i], "--groups") == 0 && i + 1 < argc) {
      groups_column = argv[++i];
    } else if (std::strcmp(argv[i], "--given") == 0 && i + 1 < argc) {
      given_list = argv[++i];
    } else if (std::strcmp(argv[i], "--packed") == 0) {
      packed = true;
    } else if (std::strcmp(argv[i], "--orders") == 0 && i + 1 < argc) {
      if (!parse_orders(argv[++i], &orders)) return usage();
    } else if (std::strcmp(argv[i], "--alpha") == 0 && i + 1 < argc) {
      if (!parse_number(argv[++i], &alpha) || !(alpha >= 0 && alpha <= 1)) return usage();
    } else if (std::strcmp(argv[i], "--imputations") == 0 && i + 1 < argc) {
      if (!parse_number(argv[++i], &imputations) || !(imputations >= 1 && imputations <= 1000))
        return usage();
    } else if (std::strcmp(argv[i], "--split") == 0 && i + 1 < argc) {
      double k = 0;
      if (!parse_number(argv[++i], &k) || !(k >= 1 && k <= 1e6 && k == std::floor(k))) return usage();
      parts = static_cast<int32_t>(k);
    } else if (std::strcmp(argv[i], "--sort") == 0) {
      sort = true;
    } else if (std::strcmp(argv[i], "--stream") == 0 && i + 1 < argc) {
      if (!parse_number(argv[++i], &eps) || !(eps > 0 && eps <= 1)) return usage();
    } else if (argv[i][0] != '-' && path == nullptr) {
      path = argv[i];
    } else {
      return usage();
    }
  }
  if (path == nullptr) return usage();
  Table table;
  std::string error;
  if (!read_csv(path, &table, &error, want.impute)) {
    std::fprintf(stderr, "zok stats: %s\n", error.c_str());
    return 1;
  }
  std::vector<double> w, group_values;
  if (weights != nullptr && !take_column(&table, weights, "weights", &w)) return 1;
  if (groups_column != nullptr && !take_column(&table, groups_column, "groups", &group_values)) return 1;
  if (want.pooled() != (groups_column != nullptr) || want.partial() != (given_list != nullptr))
    return usage();
  std::vector<int64_t> groups;
  for (double g : group_values) {
    if (!(g >= 0 && g < 1e6 && g == std::floor(g))) {
      std::fprintf(stderr, "zok stats: group %g is not an integer from 0 to 999999\n", g);
      return 1;
    }
    groups.push_back(static_cast<int64_t>(g));
  }
  std::vector<bool> given(table.columns.size(), false);
  for (const auto& name : split(given_list != nullptr ? given_list : "")) {
    const int j = find_column(table, name);
    if (j < 0) {
      std::fprintf(stderr, "zok stats: no numeric column %s\n", name.c_str());
      return 1;
    }
    given[j] = true;
  }
  if (sort || eps > 0) {
    int32_t status = 0;
    try {
      status = sort ? print_sorted(table) : print_stream(table, eps, orders);
    } catch (const std::bad_alloc&) {
      std::fprintf(stderr, "zok stats: not enough memory\n");
      return 1;
    }
    if (status != 0) std::fprintf(stderr, "zok stats: status %d\n", status);
    return status == 0 ? 0 : 1;
  }
  const int32_t p = static_cast<int32_t>(table.columns.size());
  const int32_t n = static_cast<int32_t>(table.columns[0].size());
  Results r;
  const int32_t storage = packed ? ZOK_SS_MATRIX_PACKED_LOWER : ZOK_SS_MATRIX_FULL;
  int32_t status = 0;
  try {
    if (want.basic()) {
      std::vector<double> x(static_cast<size_t>(p) * n);
      for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j < p; ++j) x[static_cast<size_t>(i) * p + j] = table.columns[j][i];
      status = compute(x, w.empty() ? nullptr : w.data(), p, n, want, storage, &r);
      if (status == 0) print_results(table.names, r, want, storage);
      if (status == 0 && parts > 0)
        status = print_split(x, w.empty() ? nullptr : w.data(), p, n, want, storage, r, std::min(parts, n));
    }
    if (status == 0 && want.order()) status = print_order_stats(table, want, orders);
    if (status == 0 && (want.partial() || want.repaired_cor))
      status = print_partial_repair(table, w, given, want);
    if (status == 0 && want.pooled()) status = print_pooled(table, w, groups, want);
    if (status == 0 && (want.robust_cov || want.outliers)) status = print_robust(table, want, alpha);
    if (status == 0 && want.impute) status = print_imputed(table, static_cast<int64_t>(imputations));
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "zok stats: not enough memory for %d variables and %d observations%s\n", p, n,
                 want.cov || want.cor ? " (cov and cor take variables x variables values each)" : "");
    return 1;
  }
  if (status != 0) {
    std::fprintf(stderr, "zok stats: status %d\n", status);
    return 1;
  }
  return 0;
}

// Five quantiles of 10^7 values beside a multi-select by std::nth_element; stream quantiles of 10^6
// values in portions with their worst rank error.
void multi_select(double* first, double* last, const int64_t* r0, const int64_t* r1, int64_t offset) {
  if (r0 == r1) return;
  const int64_t* mid = r0 + (r1 - r0) / 2;
  std::nth_element(first, first + (*mid - offset), last);
  multi_select(first, first + (*mid - offset), r0, mid, offset);
  multi_select(first + (*mid - offset) + 1, last, mid + 1, r1, *mid + 1);
}

void tour_order_stats() {
  zok::app::tour_heading("summary statistics: quantiles and stream quantiles");
  const int64_t n = 10000000, count = 5;
  const std::vector<double> orders = {0.05, 0.25, 0.5, 0.75, 0.95};
  std::mt19937_64 gen(99);
  std::normal_distribution<double> normal;
  Table t;
  t.names = {"normal"};
  t.columns.assign(1, std::vector<double>(n));
  for (auto& v : t.columns[0]) v = normal(gen);
  ColumnTask c(t);
  std::vector<double> q(count);
  __qordSSEditQuantiles(c.task, &count, orders.data(), q.data(), nullptr, nullptr);
  auto t0 = std::chrono::steady_clock::now();
  _qordSSQuantiles(c.task, ZOK_SS_QUANTILES, ZOK_SS_METHOD_EXACT, zok::core::threads_up_to(1));
  const double ours = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::vector<int64_t> ranks;
  for (double o : orders) {
    const auto k = static_cast<int64_t>(o * static_cast<double>(n - 1));
    ranks.insert(ranks.end(), {k, std::min(k + 1, n - 1)});
  }
  std::vector<double> buf = t.columns[0];
  t0 = std::chrono::steady_clock::now();
  multi_select(buf.data(), buf.data() + n, ranks.data(), ranks.data() + ranks.size(), 0);
  const double base = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("  quantiles 0.05 .. 0.95 of 10^7 normal values:");
  for (double v : q) std::printf(" %.6f", v);
  std::printf("\n  expected about -1.644854 -0.674490 0 0.674490 1.644854\n");
  std::printf("  one thread: %.1f ns per value; std::nth_element on the same ranks: %.1f ns per value\n",
              ours * 1e9 / n, base * 1e9 / n);

  const int64_t m = 1000000;
  std::vector<double> x(t.columns[0].begin(), t.columns[0].begin() + m), approx;
  std::vector<double> sorted = x;
  std::sort(sorted.begin(), sorted.end());
  for (double eps : {0.01, 0.001}) {
    t0 = std::chrono::steady_clock::now();
    stream_quantiles(x, 1, m, eps, orders, 10000, &approx);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    double worst = 0;
    for (int64_t i = 0; i < count; ++i)
      worst = std::max(worst, rank_distance(sorted, approx[i], orders[i] * static_cast<double>(m)));
    std::printf(
        "  stream of 10^6 values in portions of 10^4, eps %g: worst rank error %.0f (eps*N %.0f), %.1f ns "
        "per value\n",
        eps, worst, eps * static_cast<double>(m), s * 1e9 / m);
  }
}

// Partial correlation of two variables linked only through a third; an invalid correlation matrix
// repaired; pooled against plain covariance of two shifted groups.
void tour_derived() {
  zok::app::tour_heading("summary statistics: partial, repaired and pooled covariance");
  const int64_t n = 100000;
  std::mt19937_64 gen(7);
  std::normal_distribution<double> normal;
  Table t;
  t.names = {"a", "b", "c"};
  t.columns.assign(3, std::vector<double>(n));
  for (int64_t i = 0; i < n; ++i) {
    const double c = normal(gen);
    t.columns[0][i] = c + normal(gen);
    t.columns[1][i] = c + normal(gen);
    t.columns[2][i] = c;
  }
  Wanted want{false, false, false, false, false, false};
  want.partial_cor = true;
  std::printf("  a = c + e1, b = c + e2: correlation of a and b 0.5 through c alone\n");
  print_partial_repair(t, {}, {false, false, true}, want);
  std::printf("  expected: partial correlation of a and b given c about 0 (within 0.01)\n");

  SSTask* task = nullptr;
  int64_t p = 3, full = ZOK_SS_MATRIX_FULL;
  std::vector<double> bad = {1, 0.9, -0.9, 0.9, 1, 0.9, -0.9, 0.9, 1}, rep(9);
  __qordSSNewTask(&task, &p, nullptr, nullptr, nullptr, nullptr, nullptr, 1);
  __qordSSEditMtxParametrz(task, bad.data(), &full, rep.data(), &full);
  _qordSSCorParametrization(task, 0, ZOK_SS_METHOD_REPAIR, nullptr);
  __qorSSDeleteTask(&task);
  print_matrix("correlation with a negative eigenvalue", t.names, bad, ZOK_SS_MATRIX_FULL);
  print_matrix("repaired", t.names, rep, ZOK_SS_MATRIX_FULL);
  std::printf("  smallest eigenvalue %.6g before, %.3g after; unit diagonal kept\n",
              smallest_eigenvalue(bad, 3), smallest_eigenvalue(rep, 3));

  // Group 1 is group 0's law shifted by (+3, -3): the shift alone makes the plain covariance negative.
  Table g;
  g.names = {"x", "y"};
  g.columns.assign(2, std::vector<double>(n));
  std::vector<int64_t> groups(n);
  for (int64_t i = 0; i < n; ++i) {
    groups[i] = i % 2;
    const double x = normal(gen);
    g.columns[0][i] = x + 3.0 * groups[i];
    g.columns[1][i] = 0.5 * x + normal(gen) - 3.0 * groups[i];
  }
  Results r;
  std::vector<double> x(2 * n);
  for (int64_t i = 0; i < n; ++i) x[2 * i] = g.columns[0][i], x[2 * i + 1] = g.columns[1][i];
  compute(x, nullptr, 2, static_cast<int32_t>(n), Wanted{}, ZOK_SS_MATRIX_FULL, &r);
  print_matrix("plain covariance of both groups", g.names, r.cov, ZOK_SS_MATRIX_FULL);
  Wanted pooled{false, false, false, false, false, false};
  pooled.pooled_cov = true;
  print_pooled(g, {}, groups, pooled);
  std::printf("  expected pooled: var x 1, cov 0.5, var y 1.25; plain: var x 3.25, cov -1.75, var y 3.5\n");
}

void tour_robust() {
  zok::app::tour_heading("summary statistics: robust covariance, planted outliers, imputation");
  // p = 4, n = 2000 draws of N(0, S) with 20% replaced by a cluster 9 standard deviations out.
  const int64_t p = 4, n = 2000, full = 0, rows = ZOK_SS_STORAGE_ROWS;
  std::mt19937_64 gen(29);
  std::normal_distribution<double> normal;
  std::vector<double> x(p * n);
  std::vector<bool> planted(n);
  for (int64_t i = 0; i < n; ++i) {
    planted[i] = i % 5 == 0;
    double z[4];
    for (double& v : z) v = planted[i] ? 4.5 + normal(gen) : normal(gen);
    // S = L L^T with L lower triangular: unit diagonal, 0.5 below it
    for (int64_t a = 0; a < p; ++a) {
      double s = z[a];
      for (int64_t b = 0; b < a; ++b) s += 0.5 * z[b];
      x[a * n + i] = s;
    }
  }
  SSTask* task = nullptr;
  std::vector<double> mean(p), cov(p * p), rmean(p), rcov(p * p), weights(n);
  __qordSSNewTask(&task, &p, &n, &rows, x.data(), nullptr, nullptr, 1);
  __qordSSEditCovCor(task, mean.data(), cov.data(), &full, nullptr, nullptr);
  __qordSSEditRCov(task, &full, nullptr, nullptr, rmean.data(), rcov.data());
  __qordSSEditOutDetect(task, nullptr, nullptr, weights.data());
  const ThreadingServices* threads = zok_serv_get_threading_services();
  _qordSSBasic(task, ZOK_SS_MEAN | ZOK_SS_COV, ZOK_SS_METHOD_ONEPASS, threads);
  const auto t0 = std::chrono::steady_clock::now();
  const int32_t s1 = _qordSSRobustCovariance(task, 0, ZOK_SS_METHOD_ROBUST_COV, threads);
  const auto t1 = std::chrono::steady_clock::now();
  const int32_t s2 = _qordSSOutliersDetection(task, 0, ZOK_SS_METHOD_OUTLIERS, threads);
  const auto t2 = std::chrono::steady_clock::now();
  __qorSSDeleteTask(&task);
  std::printf("  true covariance: 1 on the first diagonal element, cov(x1, x2) = 0.5, var(x2) = 1.25\n");
  std::printf("  classical: var(x1) %.3f cov(x1, x2) %.3f var(x2) %.3f, mean(x1) %.3f\n", cov[0], cov[1],
              cov[5], mean[0]);
  std::printf(
      "  robust:    var(x1) %.3f cov(x1, x2) %.3f var(x2) %.3f, mean(x1) %.3f  (status %d, %.1f ms)\n",
      rcov[0], rcov[1], rcov[5], rmean[0], s1, std::chrono::duration<double, std::milli>(t1 - t0).count());
  int64_t found = 0, clean_flagged = 0;
  for (int64_t i = 0; i < n; ++i) (planted[i] ? found : clean_flagged) += weights[i] == 0.0;
  std::printf(
      "  outliers (alpha 0.05): %lld of %d planted found, %lld of %d clean flagged  (status %d, %.1f ms)\n",
      static_cast<long long>(found), int(n / 5), static_cast<long long>(clean_flagged), int(n - n / 5), s2,
      std::chrono::duration<double, std::milli>(t2 - t1).count());
  std::printf("  chi-square quantile: 10 degrees, 0.95: %.6f (tables: 18.307038)\n",
              __qordChi2ICDF(10, 0.95));

  // Imputation: the second of three correlated variables hidden in every 10th row.
  const int64_t q = 3, rows_m = 2000, m = 5, missing = rows_m / 10, five = 5, count = m * missing,
                records = m * 30 * q * (q + 3) / 2;
  std::vector<double> y(q * rows_m), hidden, values(count), est(records);
  for (int64_t i = 0; i < rows_m; ++i) {
    const double a = normal(gen), b = 0.8 * a + 0.6 * normal(gen);
    y[i] = a, y[rows_m + i] = 10 + 2 * b, y[2 * rows_m + i] = a - b + 0.5 * normal(gen);
    if (i % 10 == 0) hidden.push_back(y[rows_m + i]), y[rows_m + i] = kMissing;
  }
  const double params[5] = {50, 30, 0.001, double(m), double(missing)};
  __qordSSNewTask(&task, &q, &rows_m, &rows, y.data(), nullptr, nullptr, 1);
  __qordSSEditMissingVals(task, &five, params, nullptr, nullptr, nullptr, nullptr, &count, values.data(),
                          &records, est.data());
  const auto t3 = std::chrono::steady_clock::now();
  const int32_t s3 = _qordSSMissingValues(task, 0, ZOK_SS_METHOD_MISSING);
  const auto t4 = std::chrono::steady_clock::now();
  __qorSSDeleteTask(&task);
  double err = 0, spread = 0, mean_y = 0;
  for (int64_t k = 0; k < missing; ++k) {
    double s = 0;
    for (int64_t j = 0; j < m; ++j) s += values[j * missing + k] / m;
    err += (s - hidden[k]) * (s - hidden[k]) / missing;
    spread += (hidden[k] - 10) * (hidden[k] - 10) / missing;
  }
  for (int64_t r = 0; r < records; r += 9) mean_y += est[r + 1] / (records / 9);
  std::printf(
      "  imputation (200 of 2000 values of the second of 3 variables hidden, 5 imputations, status %d, "
      "%.1f ms):\n    mean of that variable %.3f (true 10); imputed vs hidden values: rms error %.3f "
      "against its own spread %.3f\n",
      s3, std::chrono::duration<double, std::milli>(t4 - t3).count(), mean_y, std::sqrt(err),
      std::sqrt(spread));
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
  // Parts computed alone, as threads, processes or machines would, and only their results merged.
  print_split(x, nullptr, p, n, Wanted{}, ZOK_SS_MATRIX_FULL, r, 4);
  std::printf(
      "  expected: about 1e-9 for the central moments: the parts' means near 1e9 and 2e9 are rounded to "
      "doubles\n");

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
  tour_order_stats();
  tour_derived();
  tour_robust();
}

const bool kRegistered = zok::app::register_command(
    {"stats",
     "stats FILE.csv [--weights COL] [--estimates LIST] [--orders Q,..] [--packed] [--sort] [--stream EPS] "
     "[--split K]"
     "   moments, covariance, quantiles, deviations, sorted columns, stream quantiles",
     run_stats, tour_stats, 200});

}  // namespace

// Cell search of a task: the kind each hint selects, cells at the task's integer width, data-hint
// checks, generated sites, an index left behind by edits, search routines, and equal results on
// one and several threads around every splitting threshold.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "fitting/task.h"
#include "tests/fitting/fitting_support.h"
#include "zok/data_fitting.h"

namespace {

using zok::test::FixedThreads;
using zok::test::make_partition;
using zok::test::probe_sites;
using zok::test::reference_cells;
using zok::test::Shape;
using zok::test::Task;

struct Search {
  int64_t sitehint = 0;
  const double* datahint = nullptr;
  void* routine = nullptr;
  const void* params = nullptr;
  const ThreadingServices* threading = nullptr;
};

// Runs the task's search and returns the cells widened, checking that nothing beyond the cells of
// the task's width was written.
template <class T>
std::vector<int64_t> search(const DfTask* task, const std::vector<T>& sites, const Search& s, int32_t* status,
                            int64_t nsite = -1) {
  const int64_t n = nsite >= 0 ? nsite : static_cast<int64_t>(sites.size());
  const size_t width = task->IntWidthFlag == 0 ? 4 : 8;
  std::vector<uint8_t> raw(static_cast<size_t>(n) * width + 64, 0xC3);
  if constexpr (sizeof(T) == 8) {
    *status =
        zok_df_kernel_dDFSearch1D(task, 0, n, sites.data(), s.sitehint, s.datahint, raw.data(),
                                  reinterpret_cast<ZokDfdSearchCallback>(s.routine), s.params, s.threading);
  } else {
    *status =
        zok_df_kernel_sDFSearch1D(task, 0, n, sites.data(), s.sitehint, s.datahint, raw.data(),
                                  reinterpret_cast<ZokDfsSearchCallback>(s.routine), s.params, s.threading);
  }
  for (size_t b = static_cast<size_t>(n) * width; b < raw.size(); ++b) EXPECT_EQ(raw[b], 0xC3);
  std::vector<int64_t> cells(n);
  for (int64_t i = 0; i < n; ++i) cells[i] = zok::test::load_cell(raw.data() + width * i, width);
  return cells;
}

template <class T>
void create(Task& task, const std::vector<T>& x, int64_t nx, int64_t xhint, int32_t width_flag) {
  ASSERT_EQ(zok::test::new_task(&task.t, nx, x.data(), xhint, width_flag), 0);
}

const int kThreadCounts[] = {1, 2, 3, 4, 7};
// Around every threshold at which a kind may split its sites.
const int64_t kSiteCounts[] = {1, 31, 32, 300, 301, 600, 601, 1000, 1001, 1200, 1201, 3000, 3001, 20011};

template <class T>
std::vector<T> take(const std::vector<T>& pool, int64_t n) {
  std::vector<T> s(n);
  for (int64_t i = 0; i < n; ++i) s[i] = pool[i % pool.size()];
  return s;
}

// Every kind the task can choose, over every site count and thread count, against the reference.
template <class T>
void check_kinds_over_threads(int32_t width_flag) {
  std::mt19937_64 rng(sizeof(T) * 10 + width_flag);
  const auto x = make_partition<T>(Shape::kRandom, 2000, rng);
  const auto tiny = make_partition<T>(Shape::kClustered, 8, rng);
  const auto pool = probe_sites(x, 6000, 2000, rng);
  const auto tiny_pool = probe_sites(tiny, 200, 8, rng);
  const double peak_hint[5] = {0, 1.0, 0, 0, 1000.0};
  // -8 .. 8 in steps of 1/64 with sites in steps of 1/256: every node, site and the scaling are exact.
  std::vector<T> grid(1025), grid_pool;
  for (int64_t j = 0; j < 1025; ++j) grid[j] = static_cast<T>(-8.0 + j / 64.0);
  for (int64_t k = -300; k < 4 * 1025 + 300; ++k) grid_pool.push_back(static_cast<T>(-8.0 + k / 256.0));
  grid_pool.push_back(std::numeric_limits<T>::quiet_NaN());
  std::shuffle(grid_pool.begin(), grid_pool.end(), rng);

  Task general, quasi, small, uniform;
  create(general, x, 2000, 0, width_flag);
  create(quasi, x, 2000, ZOK_DF_PARTITION_QUASI_UNIFORM, width_flag);
  create(small, tiny, 8, 1, width_flag);
  const std::vector<T> ends = {-8, 8};  // the task keeps a pointer to them
  create(uniform, ends, 1025, ZOK_DF_PARTITION_UNIFORM, width_flag);
  for (int64_t n : kSiteCounts) {
    const auto sites = take(pool, n);
    const auto want = reference_cells(x, sites);
    auto sorted_sites = sites;
    std::sort(sorted_sites.begin(), sorted_sites.end(), [](T a, T b) { return a < b || (a == a && b != b); });
    const auto sorted_want = reference_cells(x, sorted_sites);
    const auto tiny_sites = take(tiny_pool, n);
    const auto tiny_want = reference_cells(tiny, tiny_sites);
    const auto grid_sites = take(grid_pool, n);
    const auto grid_want = reference_cells(grid, grid_sites);
    for (int threads : kThreadCounts) {
      SCOPED_TRACE(testing::Message() << "nsite " << n << " threads " << threads);
      int32_t st = 1;
      Search s;
      s.threading = FixedThreads::with(threads);
      EXPECT_EQ(search(general.t, sites, s, &st), want) << "hybrid";
      EXPECT_EQ(st, 0);
      EXPECT_EQ(search(quasi.t, sites, s, &st), want) << "quasi-uniform";
      EXPECT_EQ(search(small.t, tiny_sites, s, &st), tiny_want) << "small partition";
      EXPECT_EQ(search(uniform.t, grid_sites, s, &st), grid_want) << "uniform";
      EXPECT_EQ(st, 0);
      Search sorted = s;
      sorted.sitehint = ZOK_DF_SITES_SORTED;
      EXPECT_EQ(search(general.t, sorted_sites, sorted, &st), sorted_want) << "sorted";
      Search peak = s;
      peak.datahint = peak_hint;
      EXPECT_EQ(search(general.t, sites, peak, &st), want) << "peak";
      EXPECT_EQ(st, 0);
    }
  }
}

TEST(TaskSearch, EveryKindOnOneAndSeveralThreads) {
  check_kinds_over_threads<double>(0);
  check_kinds_over_threads<double>(1);
  check_kinds_over_threads<float>(0);
  check_kinds_over_threads<float>(1);
}

// Whether a search is split follows the stated thresholds.
TEST(TaskSearch, SplitThresholds) {
  std::vector<double> x(400), ends = {0.0, 1.0};
  for (int j = 0; j < 400; ++j) x[j] = j;
  std::vector<double> sites(5000, 3.5);
  Task hybrid, uniform;
  create(hybrid, x, 400, 0, 0);
  create(uniform, ends, 400, ZOK_DF_PARTITION_UNIFORM, 0);
  struct Case {
    const DfTask* task;
    int64_t sitehint;
    int64_t n;
    int threads;
    bool split;
  };
  const Case cases[] = {
      {uniform.t, 0, 1000, 8, false}, {uniform.t, 0, 1001, 8, true}, {uniform.t, 0, 1001, 1, false},
      {hybrid.t, 64, 3000, 2, false}, {hybrid.t, 64, 3001, 2, true}, {hybrid.t, 0, 300, 2, false},
      {hybrid.t, 0, 301, 2, true},    {hybrid.t, 0, 600, 2, true},   {hybrid.t, 0, 301, 3, false},
      {hybrid.t, 0, 601, 4, true},    {hybrid.t, 0, 601, 5, false},  {hybrid.t, 0, 1200, 5, false},
      {hybrid.t, 0, 1201, 8, true},   {hybrid.t, 0, 31, 8, false},   {hybrid.t, 0, 5000, 1, false},
  };
  for (const Case& c : cases) {
    Search s;
    s.sitehint = c.sitehint;
    s.threading = FixedThreads::with(c.threads);
    int32_t st = 1;
    search(c.task, sites, s, &st, c.n);
    EXPECT_EQ(FixedThreads::parallel_calls > 0, c.split) << c.n << " sites, " << c.threads << " threads";
  }
}

TEST(TaskSearch, DataHintIsCheckedBeforeAnyCell) {
  std::vector<double> x = {0, 1, 2, 3, 4};
  const std::vector<double> sites = {0.5, 3.5, 4.0, 9.0};
  Task t;
  create(t, x, 5, 0, 1);
  const double nan = std::nan("");
  const double bad[][5] = {{0, 2.0, 0, 0, 1},  {0, -1.0, 0, 0, 1},  {0, 1.0, 0, 0, 6},
                           {0, 1.0, 0, 0, -1}, {0, 1.0, 0, 0, nan}, {0, nan, 0, 0, 1}};
  for (const auto& hint : bad) {
    Search s;
    s.datahint = hint;
    int32_t st = 0;
    const auto cells = search(t.t, sites, s, &st);
    EXPECT_EQ(st, ZOK_DF_ERR_DATA_HINT) << hint[1] << " " << hint[4];
    for (int64_t c : cells) EXPECT_EQ(static_cast<uint64_t>(c), 0xC3C3C3C3C3C3C3C3u);
  }
  for (double p : {0.0, 2.0, 5.0}) {
    const double hint[5] = {0, 1.0, 0, 0, p};
    Search s;
    s.datahint = hint;
    int32_t st = 1;
    EXPECT_EQ(search(t.t, sites, s, &st), (std::vector<int64_t>{1, 4, 4, 5})) << p;
    EXPECT_EQ(st, 0);
  }
  const double plain[5] = {0, 0.0, 0, 0, 99};
  Search s;
  s.datahint = plain;
  int32_t st = 1;
  EXPECT_EQ(search(t.t, sites, s, &st), (std::vector<int64_t>{1, 4, 4, 5}));
  EXPECT_EQ(
      zok_df_kernel_dDFSearch1D(nullptr, 0, 4, sites.data(), 0, nullptr, nullptr, nullptr, nullptr, nullptr),
      ZOK_DF_ERR_NULL_TASK);
  EXPECT_EQ(zok_df_kernel_dDFSearch1D(t.t, 0, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
}

// Evenly spaced sites from two ends, on the stack and beyond it; the ends and counts make every
// site exact.
template <class T>
void check_generated_sites() {
  std::mt19937_64 rng(13);
  const auto x = make_partition<T>(Shape::kRandom, 700, rng);
  Task t;
  create(t, x, 700, 0, 1);
  for (int64_t n : {int64_t{1}, int64_t{2}, int64_t{33}, int64_t{4096}, int64_t{4097}, int64_t{16385}}) {
    const T a = -4, b = static_cast<T>(-4 + (n > 1 ? n - 1 : 0) / 1024.0);
    std::vector<T> sites(n);
    for (int64_t i = 0; i < n; ++i) sites[i] = static_cast<T>(-4 + i / 1024.0);
    const std::vector<T> ends = {a, b};
    for (int64_t hint : {ZOK_DF_SITES_UNIFORM, ZOK_DF_SITES_UNIFORM | ZOK_DF_SITES_SORTED}) {
      Search s;
      s.sitehint = hint;
      s.threading = FixedThreads::with(3);
      int32_t st = 1;
      EXPECT_EQ(search(t.t, ends, s, &st, n), reference_cells(x, sites)) << n << " " << hint;
      EXPECT_EQ(st, 0);
    }
  }
}

TEST(TaskSearch, GeneratedSites) {
  check_generated_sites<double>();
  check_generated_sites<float>();
  const long before = zok::test::outstanding_blocks();
  std::vector<double> x = {0, 1, 2};
  Task t;
  create(t, x, 3, 0, 1);
  const std::vector<double> ends = {0, 1};
  zok::test::fail_allocations_after(0);
  Search s;
  s.sitehint = ZOK_DF_SITES_UNIFORM;
  int32_t st = 0;
  search(t.t, ends, s, &st, 4096);
  EXPECT_EQ(st, 0);
  search(t.t, ends, s, &st, 4097);
  EXPECT_EQ(st, ZOK_DF_ERR_MEMORY);
  zok::test::allow_allocations();
  EXPECT_EQ(zok_df_kernel_DeleteTask(&t.t), 0);
  EXPECT_EQ(zok::test::outstanding_blocks(), before);
}

// After x or nx is edited without setting xhint to 1 the index describes another partition; the
// search must still place every site right.
TEST(TaskSearch, IndexLeftBehindByEdits) {
  std::mt19937_64 rng(21);
  const auto x1 = make_partition<double>(Shape::kGraded, 3000, rng);
  const auto x2 = make_partition<double>(Shape::kRandom, 3000, rng);
  const std::vector<double> x3(x2.begin(), x2.begin() + 1000);
  Task t;
  create(t, x1, 3000, 0, 1);
  Search s;
  int32_t st = 1;
  ASSERT_EQ(zok_df_kernel_dEditPtr(t.t, ZOK_DF_ATTR_X, x2.data()), 0);
  auto sites = probe_sites(x2, 3000, 1000, rng);
  EXPECT_EQ(search(t.t, sites, s, &st), reference_cells(x2, sites));
  ASSERT_EQ(zok_df_kernel_dEditPtr(t.t, ZOK_DF_ATTR_X, x3.data()), 0);
  ASSERT_EQ(zok_df_kernel_iEditVal(t.t, ZOK_DF_ATTR_NX, 1000), 0);
  sites = probe_sites(x3, 3000, 1000, rng);
  EXPECT_EQ(search(t.t, sites, s, &st), reference_cells(x3, sites));
  // A task made with the uniform hint has no index; switching to a general hint still searches.
  Task u;
  create(u, x3, 1000, ZOK_DF_PARTITION_UNIFORM, 0);
  ASSERT_EQ(zok_df_kernel_iEditVal(u.t, ZOK_DF_ATTR_XHINT, 0), 0);
  EXPECT_EQ(search(u.t, sites, s, &st), reference_cells(x3, sites));
}

// A search routine that claims sites from a given one on and writes cell 7 for them; it fails with
// -7 from site 1000 and -9 from site 2000 on when asked to.
struct Claim {
  const double* base;
  int64_t width;
  bool fail;
};

int32_t claim_routine(void* n, const double* site, void* cell, int32_t* flag, const void* params) {
  const auto* c = static_cast<const Claim*>(params);
  const int64_t count = zok::test::load_cell(n, c->width);
  const int64_t first = site - c->base;
  if (c->fail && first + count > 2000) return -9;
  if (c->fail && first + count > 1000) return -7;
  for (int64_t i = 0; i < count; ++i) {
    if ((first + i) % 3 != 0) continue;
    flag[i] = 1;
    zok::test::store_cell(static_cast<char*>(cell) + c->width * i, c->width, 7);
  }
  return (first + count) % 5 == 0 ? 1000 + 1 : 0;
}

TEST(TaskSearch, SearchRoutinesOnOneAndSeveralThreads) {
  std::mt19937_64 rng(31);
  const auto x = make_partition<double>(Shape::kRandom, 1025, rng);
  std::vector<double> nodes(1025);
  for (int j = 0; j < 1025; ++j) nodes[j] = j / 64.0;
  const std::vector<double> ends = {0.0, 16.0};
  const auto pool = probe_sites(x, 5000, 1000, rng);
  for (int32_t width_flag : {0, 1}) {
    Task general, uniform;
    create(general, x, 1025, 0, width_flag);
    create(uniform, ends, 1025, ZOK_DF_PARTITION_UNIFORM, width_flag);
    for (int64_t n : kSiteCounts) {
      const auto sites = take(pool, n);
      auto want = reference_cells(x, sites);
      auto uniform_want = reference_cells(nodes, sites);
      for (int64_t i = 0; i < n; i += 3) want[i] = uniform_want[i] = 7;
      for (int threads : kThreadCounts) {
        Claim claim{sites.data(), width_flag == 0 ? 4 : 8, false};
        Search s;
        s.routine = reinterpret_cast<void*>(claim_routine);
        s.params = &claim;
        s.threading = FixedThreads::with(threads);
        int32_t st = 1;
        EXPECT_EQ(search(general.t, sites, s, &st), want) << n << " " << threads;
        EXPECT_EQ(st, 0);
        EXPECT_EQ(search(uniform.t, sites, s, &st), uniform_want) << n << " " << threads;
        EXPECT_EQ(st, 0);
        claim.fail = true;
        search(general.t, sites, s, &st);
        EXPECT_EQ(st, n > 1000 ? -7 : 0) << n << " " << threads;
      }
    }
  }
}

}  // namespace

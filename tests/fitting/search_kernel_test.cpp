// The exported search kernels: every kind in every form and precision against the cells found by
// binary search, on random, graded and clustered partitions of 2 to 100000 points; the uniform
// kinds on exact grids; the rules of single kinds, positions and the search routines of the callback kinds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "fitting/task.h"
#include "tests/fitting/fitting_support.h"
#include "zok/data_fitting.h"

namespace {

using zok::test::make_partition;
using zok::test::probe_sites;
using zok::test::reference_cells;
using zok::test::Shape;

template <class T>
using Callback = std::conditional_t<std::is_same_v<T, double>, ZokDfdSearchCallback, ZokDfsSearchCallback>;

// One kind in its four forms, all called through the callback-taking shape: the wrappers of the plain
// kinds drop the routine's three arguments, those of the callback kinds pass them on (R = ROUTINE).
template <class T>
struct KindForms {
  const char* name;
  int32_t (*general)(int64_t, const T*, int64_t, const T*, void*, double, void*, int32_t, Callback<T>,
                     const void*, int32_t*);
  int32_t (*f32)(int64_t, const T*, int64_t, const T*, void*, double, int32_t*, Callback<T>, const void*,
                 int32_t*);
  int32_t (*f64)(int64_t, const T*, int64_t, const T*, void*, double, int64_t*, Callback<T>, const void*,
                 int32_t*);
  int32_t (*f64pack)(int64_t, const T*, int64_t, const T*, void*, double, int64_t*, Callback<T>, const void*,
                     int32_t*);
};

// clang-format off
#define KIND(t, T, Kind, R)                                                                                  \
  KindForms<T> {                                                                                             \
    #Kind,                                                                                                   \
    [](int64_t nx, const T* x, int64_t n, const T* s, void* aux, double p, void* c, int32_t form,            \
       [[maybe_unused]] Callback<T> cb, [[maybe_unused]] const void* params, [[maybe_unused]] int32_t* flag) { \
      return zok_df_kernel_##t##DF##Kind##Search1D(nx, x, n, s, aux, p, nullptr, nullptr, nullptr, c, form R); \
    },                                                                                                       \
    [](int64_t nx, const T* x, int64_t n, const T* s, void* aux, double p, int32_t* c,                       \
       [[maybe_unused]] Callback<T> cb, [[maybe_unused]] const void* params, [[maybe_unused]] int32_t* flag) { \
      return zok_df_kernel_##t##DF##Kind##Search1D32(nx, x, n, s, aux, p, nullptr, nullptr, nullptr, c R);   \
    },                                                                                                       \
    [](int64_t nx, const T* x, int64_t n, const T* s, void* aux, double p, int64_t* c,                       \
       [[maybe_unused]] Callback<T> cb, [[maybe_unused]] const void* params, [[maybe_unused]] int32_t* flag) { \
      return zok_df_kernel_##t##DF##Kind##Search1D64(nx, x, n, s, aux, p, nullptr, nullptr, nullptr, c R);   \
    },                                                                                                       \
    [](int64_t nx, const T* x, int64_t n, const T* s, void* aux, double p, int64_t* c,                       \
       [[maybe_unused]] Callback<T> cb, [[maybe_unused]] const void* params, [[maybe_unused]] int32_t* flag) { \
      return zok_df_kernel_##t##DF##Kind##Search1D64Pack(nx, x, n, s, aux, p, nullptr, nullptr, nullptr, c R); \
    }                                                                                                        \
  }
#define ROUTINE , cb, params, flag
// clang-format on

template <class T>
struct Kernels;
#define KERNELS(t, T)                                                            \
  template <>                                                                    \
  struct Kernels<T> {                                                            \
    static inline const KindForms<T> uniform = KIND(t, T, Uniform, );            \
    static inline const KindForms<T> quasi = KIND(t, T, QuasiUniform, );         \
    static inline const KindForms<T> sorted = KIND(t, T, Sorted, );              \
    static inline const KindForms<T> peak = KIND(t, T, Peak, );                  \
    static inline const KindForms<T> hybrid = KIND(t, T, Hybrid, );              \
    static inline const KindForms<T> user = KIND(t, T, UserDef, ROUTINE);        \
    static inline const KindForms<T> uni_user = KIND(t, T, UniUserDef, ROUTINE); \
  };
KERNELS(d, double)
KERNELS(s, float)

enum class Form { kGeneral64, kGeneral32, kGeneralUnset, kGeneralWideOnly, k32, k64, k64Pack };
const Form kForms[] = {Form::kGeneral64, Form::kGeneral32, Form::kGeneralUnset, Form::kGeneralWideOnly,
                       Form::k32,        Form::k64,        Form::k64Pack};
const char* form_name(Form f) {
  static const char* names[] = {"general(3)", "general(2)", "general(0)", "general(1)", "32", "64", "64Pack"};
  return names[static_cast<int>(f)];
}
bool narrow(Form f) {
  return f == Form::kGeneral32 || f == Form::k32;
}

// What one call did: its status and cells, widened; cell arrays carry a guard word beyond the last
// cell that must survive.
struct Outcome {
  int32_t status;
  std::vector<int64_t> cells;
};

constexpr uint8_t kGuard = 0xA5;

// Runs a kind in one form. `aux` is the bucket table, or for the sorted kind storage for a position of
// the form's width; `initial` pre-fills the cells.
template <class T>
Outcome run(const KindForms<T>& k, Form form, const std::vector<T>& x, int64_t nx,
            const std::vector<T>& sites, void* aux, double param, Callback<T> cb = nullptr,
            const void* params = nullptr, int32_t* flag = nullptr, const int64_t* initial = nullptr) {
  const size_t n = sites.size(), width = narrow(form) ? 4 : 8;
  std::vector<uint8_t> raw((n + 2) * 8, kGuard);
  for (size_t i = 0; initial != nullptr && i < n; ++i)
    zok::test::store_cell(raw.data() + width * i, width, initial[i]);
  void* c = raw.data();
  const int64_t ns = static_cast<int64_t>(n);
  static const int32_t kGeneralCode[] = {3, 2, 0, 1};
  Outcome out{};
  if (form <= Form::kGeneralWideOnly) {
    out.status = k.general(nx, x.data(), ns, sites.data(), aux, param, c,
                           kGeneralCode[static_cast<int>(form)], cb, params, flag);
  } else if (form == Form::k32) {
    out.status =
        k.f32(nx, x.data(), ns, sites.data(), aux, param, static_cast<int32_t*>(c), cb, params, flag);
  } else {
    out.status = (form == Form::k64 ? k.f64 : k.f64pack)(nx, x.data(), ns, sites.data(), aux, param,
                                                         static_cast<int64_t*>(c), cb, params, flag);
  }
  out.cells.resize(n);
  for (size_t i = 0; i < n; ++i) out.cells[i] = zok::test::load_cell(raw.data() + width * i, width);
  for (size_t b = n * width; b < raw.size(); ++b) EXPECT_EQ(raw[b], kGuard) << "write beyond the cells";
  return out;
}

template <class T>
void expect_cells(const Outcome& got, const std::vector<int64_t>& want, const char* kind, Form form,
                  const std::vector<T>& x, const std::vector<T>& sites) {
  ASSERT_EQ(got.status, 0);
  for (size_t i = 0; i < want.size(); ++i)
    ASSERT_EQ(got.cells[i], want[i]) << kind << " " << form_name(form) << " nx=" << x.size() << " site "
                                     << sites[i] << " (#" << i << ")";
}

template <class T>
struct BucketTask {
  DfTask* t = nullptr;
  explicit BucketTask(const std::vector<T>& x) { EXPECT_EQ(zok::test::new_task(&t, x.size(), x.data()), 0); }
  ~BucketTask() { zok_df_kernel_DeleteTask(&t); }
  double inverse_width() const {
    return sizeof(T) == 8 ? t->inverse_bucket_width.d : static_cast<double>(t->inverse_bucket_width.s);
  }
};

template <class T>
double quasi_scale(const std::vector<T>& x) {
  return static_cast<T>(static_cast<T>(x.size() - 1) / (x.back() - x.front()));
}

// The non-uniform kinds against the reference on one partition. The walking kinds (peak, and quasi-
// uniform on graded partitions) take time proportional to the walk, so large partitions get fewer
// random sites; every kind sees the special sites.
template <class T>
void check_partition(const std::vector<T>& x, std::mt19937_64& rng) {
  const size_t nx = x.size();
  const bool large = nx > 5000;
  const auto sites = probe_sites(x, large ? 300 : 1500, large ? 300 : 2000, rng);
  const auto want = reference_cells(x, sites);
  const std::vector<T> walk_sites(sites.begin(), sites.begin() + (large ? 150 : sites.size()));
  const auto walk_want = reference_cells(x, walk_sites);
  auto sorted_sites = sites;
  std::sort(sorted_sites.begin(), sorted_sites.end(), [](T a, T b) { return a < b || (a == a && b != b); });
  const auto sorted_want = reference_cells(x, sorted_sites);
  BucketTask<T> task(x);
  const int64_t n = static_cast<int64_t>(nx);
  for (Form form : kForms) {
    expect_cells(run(Kernels<T>::hybrid, form, x, n, sites, task.t->bucket_table, task.inverse_width()), want,
                 "hybrid", form, x, sites);
    expect_cells(run(Kernels<T>::hybrid, form, x, n, sites, nullptr, 0.0), want, "hybrid(no table)", form, x,
                 sites);
    if (!large || form == Form::k32 || form == Form::kGeneral64) {
      expect_cells(run(Kernels<T>::quasi, form, x, n, walk_sites, nullptr, quasi_scale(x)), walk_want,
                   "quasi", form, x, walk_sites);
      for (double p : {0.0, std::floor(nx / 2.0), static_cast<double>(nx)})
        expect_cells(run(Kernels<T>::peak, form, x, n, walk_sites, nullptr, p), walk_want, "peak", form, x,
                     walk_sites);
    }
    int64_t position[2] = {0, 0};
    expect_cells(run(Kernels<T>::sorted, form, x, n, sorted_sites, position, 0.0), sorted_want, "sorted",
                 form, x, sorted_sites);
    expect_cells(run(Kernels<T>::user, form, x, n, sites, nullptr, 0.0), want, "userdef(no routine)", form, x,
                 sites);
  }
}

TEST(SearchKernels, EveryKindAndFormMatchesBinarySearch) {
  std::mt19937_64 rng(2024);
  for (Shape shape : {Shape::kRandom, Shape::kGraded, Shape::kClustered}) {
    for (size_t n : {2, 3, 5, 8, 9, 300, 100000}) {
      SCOPED_TRACE(testing::Message() << "shape " << static_cast<int>(shape) << " nx " << n);
      check_partition(make_partition<double>(shape, n, rng), rng);
      check_partition(make_partition<float>(shape, n, rng), rng);
    }
  }
}

// Uniform grids whose nodes are exact: -4 to 4 in steps of 1/2, and 0 to 10 in steps of 1.
template <class T>
void check_uniform_grid(T first, T last, int64_t nx, std::mt19937_64& rng) {
  std::vector<T> nodes(nx);
  const T step = (last - first) / static_cast<T>(nx - 1);
  for (int64_t j = 0; j < nx; ++j) nodes[j] = first + static_cast<T>(j) * step;
  ASSERT_EQ(nodes.back(), last);
  // Sites on nodes, halfway between them, at random points kept away from the nodes (the search
  // places sites by scaled distance, so a site within rounding of a node may go either way), and
  // the special sites.
  std::vector<T> sites;
  std::uniform_real_distribution<double> frac(0.01, 0.99);
  for (int64_t j = -2; j < nx + 2; ++j) {
    sites.push_back(first + static_cast<T>(j) * step);
    sites.push_back(first + (static_cast<T>(j) + T(0.5)) * step);
    sites.push_back(first + (static_cast<T>(j) + static_cast<T>(frac(rng))) * step);
  }
  constexpr T kInf = std::numeric_limits<T>::infinity();
  for (T v : {kInf, -kInf, std::numeric_limits<T>::quiet_NaN(), std::nextafter(last, kInf),
              std::nextafter(first, -kInf), std::numeric_limits<T>::max(), std::numeric_limits<T>::lowest()})
    sites.push_back(v);
  const auto want = reference_cells(nodes, sites);
  const std::vector<T> ends = {first, last};
  const double inv = static_cast<T>(static_cast<T>(nx - 1) / (last - first));
  for (Form form : kForms) {
    expect_cells(run(Kernels<T>::uniform, form, ends, nx, sites, nullptr, inv), want, "uniform", form, nodes,
                 sites);
    expect_cells(run(Kernels<T>::uni_user, form, ends, nx, sites, nullptr, inv), want,
                 "uniuserdef(no routine)", form, nodes, sites);
  }
}

TEST(SearchKernels, UniformKindsOnExactGrids) {
  std::mt19937_64 rng(5);
  check_uniform_grid<double>(-4.0, 4.0, 17, rng);
  check_uniform_grid<float>(-4.0f, 4.0f, 17, rng);
  check_uniform_grid<double>(0.0, 10.0, 11, rng);
  check_uniform_grid<float>(0.0f, 10.0f, 11, rng);
  check_uniform_grid<double>(1.0, 2.0, 2, rng);
  check_uniform_grid<double>(-1024.0, 1024.0, 4097, rng);
}

// A site just below the last point lies inside the partition, however its scaled distance rounds.
TEST(SearchKernels, UniformNeverPutsASiteBelowTheLastPointOutside) {
  std::mt19937_64 rng(17);
  std::uniform_real_distribution<double> u(-50.0, 50.0);
  for (int trial = 0; trial < 2000; ++trial) {
    double a = u(rng), b = u(rng);
    if (a == b) continue;
    if (a > b) std::swap(a, b);
    const int64_t nx = 2 + static_cast<int64_t>(rng() % 5000);
    const double inv = static_cast<double>(nx - 1) / (b - a);
    const std::vector<double> ends = {a, b};
    const std::vector<double> sites = {std::nextafter(b, a), b, std::nextafter(b, 1e300)};
    const auto got = run(Kernels<double>::uniform, Form::k64, ends, nx, sites, nullptr, inv);
    ASSERT_EQ(got.cells, (std::vector<int64_t>{nx - 1, nx - 1, nx})) << a << " " << b << " " << nx;
  }
}

TEST(SearchKernels, PeakFromTheEndWalksDown) {
  const std::vector<double> x = {0, 1, 2, 3, 4, 5, 6, 7};
  const std::vector<double> sites = {0.5, 3.0, 6.9, -1.0, 7.5, 7.0};
  const std::vector<int64_t> want = {1, 4, 7, 0, 8, 7};
  for (double p : {8.0, 8.5, 1e30, -3.0, 3.7, std::nan("")})
    EXPECT_EQ(run(Kernels<double>::peak, Form::k64, x, 8, sites, nullptr, p).cells, want) << p;
}

// The sorted kind reads its start and stores the position after the last site; a start that lies
// beyond the first site's cell, or outside the partition, still gives the right cells.
TEST(SearchKernels, SortedCarriesItsPosition) {
  std::mt19937_64 rng(8);
  const auto x = make_partition<double>(Shape::kRandom, 500, rng);
  auto sites = probe_sites(x, 2000, 500, rng);
  sites.erase(std::remove_if(sites.begin(), sites.end(), [](double v) { return std::isnan(v); }),
              sites.end());
  std::sort(sites.begin(), sites.end());
  const auto want = reference_cells(x, sites);
  const std::vector<double> first(sites.begin(), sites.begin() + 1000),
      rest(sites.begin() + 1000, sites.end());
  for (Form form : {Form::k32, Form::k64, Form::kGeneral32, Form::kGeneral64}) {
    int64_t position64 = 0;
    int32_t position32[2] = {0, 0x5A5A5A5A};
    void* pos = narrow(form) ? static_cast<void*>(position32) : static_cast<void*>(&position64);
    auto a = run(Kernels<double>::sorted, form, x, 500, first, pos, 0.0);
    const int64_t after = narrow(form) ? position32[0] : position64;
    EXPECT_EQ(after, want[999]);
    EXPECT_EQ(position32[1], 0x5A5A5A5A);
    auto b = run(Kernels<double>::sorted, form, x, 500, rest, pos, 0.0);
    a.cells.insert(a.cells.end(), b.cells.begin(), b.cells.end());
    EXPECT_EQ(a.cells, want) << form_name(form);
  }
  for (int64_t start : {int64_t{-7}, int64_t{250}, int64_t{499}, int64_t{500}, int64_t{1} << 40}) {
    int64_t position = start;
    EXPECT_EQ(run(Kernels<double>::sorted, Form::k64, x, 500, sites, &position, 0.0).cells, want) << start;
  }
  EXPECT_EQ(run(Kernels<double>::sorted, Form::k64, x, 500, sites, nullptr, 0.0).cells, want);
  // Sites out of order are still placed right.
  auto shuffled = sites;
  std::shuffle(shuffled.begin(), shuffled.end(), rng);
  int64_t position = 0;
  EXPECT_EQ(run(Kernels<double>::sorted, Form::k64, x, 500, shuffled, &position, 0.0).cells,
            reference_cells(x, shuffled));
}

// An index built for another partition (x edited, xhint not reset) can misplace sites but must not
// lead the kernel outside the partition it is given.
TEST(SearchKernels, HybridStaysInsideThePartitionWithAForeignIndex) {
  std::mt19937_64 rng(4);
  const auto big = make_partition<double>(Shape::kGraded, 20000, rng);
  BucketTask<double> task(big);
  for (size_t nx : {2, 9, 300}) {
    const auto x = make_partition<double>(Shape::kRandom, nx, rng);
    const auto sites = probe_sites(x, 500, 300, rng);
    const auto got = run(Kernels<double>::hybrid, Form::k64, x, nx, sites, task.t->bucket_table, 1e12);
    for (size_t i = 0; i < sites.size(); ++i) {
      EXPECT_GE(got.cells[i], 0);
      EXPECT_LE(got.cells[i], static_cast<int64_t>(nx));
    }
  }
}

// Search routines for the callback kinds. The routine marks every other site and writes a cell for
// it that no search would give; it leaves a starting guess (possibly wild) in the others.
struct RoutineLog {
  int64_t expected_width = 8;
  int64_t calls = 0;
  int64_t max_count = 0;
  int64_t total = 0;
  int32_t status = 0;
  bool bad_count = false;
};

constexpr int64_t kMarked = 77777;

// Whether the routine claims a site: a bit of its representation, so that the choice depends on the
// site alone.
template <class T>
bool claimed(T v) {
  std::conditional_t<sizeof(T) == 8, uint64_t, uint32_t> bits;
  std::memcpy(&bits, &v, sizeof v);
  return ((bits >> 5) & 1) != 0;
}

template <class T>
int32_t marking_routine(void* n, const T* site, void* cell, int32_t* flag, const void* params) {
  auto* log = static_cast<RoutineLog*>(const_cast<void*>(params));
  const int64_t count = zok::test::load_cell(n, log->expected_width);
  if (count <= 0) log->bad_count = true;
  ++log->calls;
  log->total += count;
  log->max_count = std::max(log->max_count, count);
  for (int64_t i = 0; i < count; ++i) {
    if (flag[i] != 0) log->bad_count = true;  // flags come cleared
    const bool mark = claimed(site[i]);
    zok::test::store_cell(static_cast<char*>(cell) + log->expected_width * i, log->expected_width,
                          mark ? kMarked : (i * 7919) % 400 - 50);
    flag[i] = mark ? 1 : 0;
  }
  return log->status;
}

template <class T>
void check_callback_kinds() {
  std::mt19937_64 rng(99);
  const auto x = make_partition<T>(Shape::kRandom, 300, rng);
  auto sites = probe_sites(x, 700, 300, rng);
  sites.erase(std::remove_if(sites.begin(), sites.end(), [](T v) { return std::isnan(v); }), sites.end());
  const auto want = reference_cells(x, sites);
  const T step = T(1) / T(16);
  std::vector<T> grid(301);
  for (int j = 0; j <= 300; ++j) grid[j] = static_cast<T>(j) * step;
  const std::vector<T> ends = {grid.front(), grid.back()};
  const auto grid_want = reference_cells(grid, sites);
  for (Form form : kForms) {
    for (bool with_flags : {true, false}) {
      for (int32_t status : {0, 3}) {
        RoutineLog log;
        log.expected_width = narrow(form) ? 4 : 8;
        log.status = status;
        std::vector<int32_t> flags(sites.size(), 9);
        auto got = run(Kernels<T>::user, form, x, 300, sites, nullptr, 0.0, marking_routine<T>, &log,
                       with_flags ? flags.data() : nullptr);
        EXPECT_EQ(got.status, status);
        EXPECT_FALSE(log.bad_count);
        EXPECT_EQ(log.total, static_cast<int64_t>(sites.size()));
        EXPECT_EQ(log.calls, with_flags ? 1 : static_cast<int64_t>((sites.size() + 127) / 128));
        int marked = 0;
        for (size_t i = 0; i < sites.size(); ++i) {
          const bool mark = claimed(sites[i]);
          marked += mark;
          ASSERT_EQ(got.cells[i], mark ? kMarked : want[i]) << form_name(form) << " site " << sites[i];
        }
        EXPECT_GT(marked, 0);

        RoutineLog ulog = log;
        ulog.calls = ulog.total = 0;
        got = run(Kernels<T>::uni_user, form, ends, 301, sites, nullptr, 16.0, marking_routine<T>, &ulog,
                  with_flags ? flags.data() : nullptr);
        EXPECT_EQ(got.status, status);
        for (size_t i = 0; i < sites.size(); ++i) {
          const bool mark = claimed(sites[i]);
          ASSERT_EQ(got.cells[i], mark ? kMarked : grid_want[i]) << form_name(form) << " site " << sites[i];
        }
      }
    }
  }
}

TEST(SearchKernels, CallbackKindsFillWhatTheRoutineLeaves) {
  check_callback_kinds<double>();
  check_callback_kinds<float>();
}

int32_t all_sevens(void* n, const double*, void* cell, int32_t*, const void*) {
  int64_t count;
  std::memcpy(&count, n, 8);
  for (int64_t i = 0; i < count; ++i) static_cast<int64_t*>(cell)[i] = 7;
  return 1000;
}

int32_t refuses(void*, const double*, void*, int32_t*, const void*) {
  return -5;
}

TEST(SearchKernels, RoutineStatusesThousandAndNegative) {
  const std::vector<double> x = {0, 1, 2, 3};
  const std::vector<double> sites = {0.5, 2.5, 9.0};
  const std::vector<int64_t> initial = {-1, -1, -1};
  int32_t flags[3];
  for (const auto* k : {&Kernels<double>::user, &Kernels<double>::uni_user}) {
    const std::vector<double>& xs = k == &Kernels<double>::user ? x : std::vector<double>{0, 3};
    auto got = run(*k, Form::k64, xs, 4, sites, nullptr, 1.0, all_sevens, nullptr, flags);
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.cells, (std::vector<int64_t>{7, 7, 7}));
    got = run(*k, Form::k64, xs, 4, sites, nullptr, 1.0, refuses, nullptr, flags, initial.data());
    EXPECT_EQ(got.status, -5);
    EXPECT_EQ(got.cells, initial);  // nothing placed after a refusal
  }
}

}  // namespace

// Spline construction: linear, quadratic and cubic splines of a data-fitting task written through its
// coefficient pointers; the entry checks, the node derivatives of the cubic kinds and the tridiagonal
// systems of the natural cubic and the between-node quadratic.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "core/thread_limit.h"
#include "fitting/partition.h"
#include "fitting/site_driver.h"
#include "fitting/task.h"
#include "zok/core_services.h"
#include "zok/data_fitting.h"

namespace zok::df {
namespace {

enum class Kind { Linear, Quadratic, Natural, Bessel, Akima, Hermite, Default };

// The boundary mode of the cubic kinds, from the bc_type code.
enum Mode : int { kNotAKnot = 0, kFree, kD1D1, kD1D2, kD2D1, kD2D2, kPeriodic, kAkimaRule };

int mode_of(int64_t bc_type) {
  switch (bc_type) {
    case 1:
      return kNotAKnot;
    case 2:
      return kFree;
    case 12:
      return kD1D1;
    case 36:
      return kD1D2;
    case 24:
      return kD2D1;
    case 48:
      return kD2D2;
    case 64:
      return kPeriodic;
    case 0:
      return kAkimaRule;
    default:
      return -1;
  }
}

constexpr bool mode_needs_bc(int mode) {
  return mode >= kD1D1 && mode <= kPeriodic;
}

// What one end of a mode asks for.
enum class End { NotAKnot, Free, D1, D2, Periodic, AkimaRule };

constexpr End left_end(int mode) {
  switch (mode) {
    case kNotAKnot:
      return End::NotAKnot;
    case kFree:
      return End::Free;
    case kD1D1:
    case kD1D2:
      return End::D1;
    case kD2D1:
    case kD2D2:
      return End::D2;
    case kPeriodic:
      return End::Periodic;
    default:
      return End::AkimaRule;
  }
}
constexpr End right_end(int mode) {
  switch (mode) {
    case kD1D2:
      return End::D2;
    case kD2D1:
      return End::D1;
    default:
      return left_end(mode);
  }
}

// Everything a variant reads: the partition, values and coefficients of every function, the
// conditions and the threads it may use.
template <class T, bool Columns, bool Uniform>
struct Problem {
  const DfTask* task;
  Grid<T, Uniform> g;
  int64_t n, ny;
  const T* bc;
  const T* ic;
  int threads;
  const ThreadingServices* threading;

  Values<T, Columns> values(int64_t f) const {
    if constexpr (Columns) return {static_cast<const T*>(value_pointer(*task, 0)) + f, ny};
    return {static_cast<const T*>(value_pointer(*task, f)), 1};
  }
  T* coeffs(int64_t f) const { return static_cast<T*>(coeff_pointer(*task, f)); }
  T slope(const Values<T, Columns>& y, int64_t k) const { return (y[k + 1] - y[k]) / g.step(k); }
};

// Runs items [0, count) as run(item, thread) -> status, through slot 0 of the table when more than
// one thread is asked for; the first failing item in item order gives the status.
template <class Run>
int32_t run_items(int64_t count, int threads, const ThreadingServices* threading, Run&& run) {
  if (threads <= 1 || count <= 1) {
    for (int64_t i = 0; i < count; ++i)
      if (const int32_t s = run(i, 0); s < 0) return s;
    return kOk;
  }
  return run_sites_split(
      Split::kGroups, count, threads, threading,
      [&](int64_t begin, int64_t end, int thread) {
        for (int64_t i = begin; i < end; ++i)
          if (const int32_t s = run(i, thread); s < 0) return s;
        return int32_t{kOk};
      },
      1);
}

// Work cut into items of `cells` cells by 4 functions, so that an item's writes are its own.
struct Blocks {
  int64_t cells, cell_blocks, function_blocks;
  Blocks(int64_t total_cells, int64_t ny, int64_t per_item)
      : cells(per_item),
        cell_blocks((total_cells + per_item - 1) / per_item),
        function_blocks((ny + 3) / 4) {}
  int64_t count() const { return cell_blocks * function_blocks; }
};
constexpr int64_t kFunctionsPerItem = 4;

// The cubic on a cell from its end values and end derivatives; one division, the rest multiplies.
template <class T>
inline void hermite_cell(T* c, T y0, T y1, T h, T d0, T d1) {
  const T r = T(1) / h, m = (y1 - y0) * r;
  c[0] = y0;
  c[1] = d0;
  c[2] = (T(3) * m - T(2) * d0 - d1) * r;
  c[3] = (d0 + d1 - T(2) * m) * (r * r);
}

// Akima's weighted derivative from the two slopes left (ml2, ml1) and right (mr0, mr1) of a node. The
// cutoff is absolute: when both weights vanish the slopes around the node are collinear anyway.
template <class T>
inline T akima_weighted(T ml2, T ml1, T mr0, T mr1) {
  const T w1 = std::fabs(mr1 - mr0), w2 = std::fabs(ml1 - ml2);
  const T w = w1 + w2;
  if (w < T(1e-10)) return (ml1 + mr0) / T(2);
  return (w1 * ml1 + w2 * mr0) / w;
}

// The node derivatives of the local kinds (Bessel, Akima, Hermite): interior rule, then the ends,
// which read the derivative next to them. Every derivative is a function of the data alone, so any
// cut of the cells into items gives the same bits.
template <Kind K, int M, class T, bool Columns, bool Uniform>
struct LocalDerivatives {
  const Problem<T, Columns, Uniform>& p;
  Values<T, Columns> y;

  T m(int64_t k) const { return p.slope(y, k); }
  // Akima's slopes run one cell past each end, extended linearly.
  T am(int64_t k) const {
    if (k < 0) return T(2) * m(0) - m(1);
    if (k >= p.n - 1) return T(2) * m(p.n - 2) - m(p.n - 3);
    return m(k);
  }
  T interior(int64_t i) const {
    if constexpr (K == Kind::Bessel) {
      const T h0 = p.g.step(i - 1), h1 = p.g.step(i);
      return (h1 * m(i - 1) + h0 * m(i)) / (h0 + h1);
    } else if constexpr (K == Kind::Akima) {
      return akima_weighted(am(i - 2), am(i - 1), am(i), am(i + 1));
    } else {
      return p.ic[i - 1];
    }
  }
  // d_0 = d_{n-1} of a periodic spline: the interior rule across the seam.
  T seam() const {
    const int64_t n = p.n;
    if constexpr (K == Kind::Bessel) {
      const T h0 = p.g.step(0), hl = p.g.step(n - 2);
      return (hl * m(0) + h0 * m(n - 2)) / (h0 + hl);
    } else if constexpr (K == Kind::Akima) {
      return akima_weighted(m(n - 3), m(n - 2), m(0), m(1));
    } else {
      return p.bc[0];
    }
  }
  T left() const {
    constexpr End e = left_end(M);
    if constexpr (e == End::D1) return p.bc[0];
    if constexpr (e == End::Periodic) return seam();
    const T m0 = m(0), m1 = m(1);
    if constexpr (e == End::AkimaRule) return (T(3) * m0 - m1) / T(2);
    const T d1 = interior(1), h0 = p.g.step(0);
    if constexpr (e == End::Free) return T(1.5) * m0 - T(0.5) * d1;
    if constexpr (e == End::D2) return T(1.5) * m0 - T(0.25) * h0 * p.bc[0] - T(0.5) * d1;
    const T h1 = p.g.step(1), H = h0 + h1;
    return (((h0 + T(2) * H) * h1 * m0 + h0 * h0 * m1) / H - H * d1) / h1;
  }
  T right() const {
    constexpr End e = right_end(M);
    const int64_t n = p.n;
    if constexpr (e == End::D1) return p.bc[1];
    if constexpr (e == End::Periodic) return seam();
    const T m0 = m(n - 2), m1 = m(n - 3);
    if constexpr (e == End::AkimaRule) return (T(3) * m0 - m1) / T(2);
    const T d1 = interior(n - 2), h0 = p.g.step(n - 2);
    if constexpr (e == End::Free) return T(1.5) * m0 - T(0.5) * d1;
    if constexpr (e == End::D2) return T(1.5) * m0 + T(0.25) * h0 * p.bc[1] - T(0.5) * d1;
    const T h1 = p.g.step(n - 3), H = h0 + h1;
    return (((h0 + T(2) * H) * h1 * m0 + h0 * h0 * m1) / H - H * d1) / h1;
  }
  T operator()(int64_t i) const { return i == 0 ? left() : i == p.n - 1 ? right() : interior(i); }
};

// Writes the cubic cells [a, b) of one function from its node derivatives d(i).
template <class T, bool Columns, bool Uniform, class D>
void write_cubic_cells(const Problem<T, Columns, Uniform>& p, const Values<T, Columns>& y, T* c, int64_t a,
                       int64_t b, const D& d) {
  T da = d(a);
  for (int64_t i = a; i < b; ++i) {
    const T db = d(i + 1);
    hermite_cell(c + 4 * i, y[i], y[i + 1], p.g.step(i), da, db);
    da = db;
  }
}

// Runs write(f, cell_begin, cell_end) over blocks of cells by 4 functions, through the threads when
// the work is large enough.
template <class T, bool Columns, bool Uniform, class Write>
void run_blocks(const Problem<T, Columns, Uniform>& p, const Blocks& blocks, int threads, Write&& write) {
  run_items(blocks.count(), threads, p.threading, [&](int64_t item, int) {
    const int64_t cb = item % blocks.cell_blocks, fb = item / blocks.cell_blocks;
    const int64_t a = cb * blocks.cells, b = std::min(a + blocks.cells, p.n - 1);
    for (int64_t f = fb * kFunctionsPerItem; f < std::min(p.ny, (fb + 1) * kFunctionsPerItem); ++f)
      write(f, a, b);
    return int32_t{kOk};
  });
}

template <Kind K, int M, class T, bool Columns, bool Uniform>
int32_t build_local(const Problem<T, Columns, Uniform>& p) {
  constexpr int64_t kCells = 2048;
  const Blocks blocks(p.n - 1, p.ny, kCells);
  const int threads = p.n * p.ny < 512 ? 1 : static_cast<int>(std::min<int64_t>(p.threads, blocks.count()));
  run_blocks(p, blocks, threads, [&](int64_t f, int64_t a, int64_t b) {
    const Values<T, Columns> y = p.values(f);
    write_cubic_cells(p, y, p.coeffs(f), a, b, LocalDerivatives<K, M, T, Columns, Uniform>{p, y});
  });
  return kOk;
}

template <class T, bool Columns, bool Uniform>
int32_t build_linear(const Problem<T, Columns, Uniform>& p) {
  constexpr int64_t kCells = 1024;
  const Blocks blocks(p.n - 1, p.ny, kCells);
  const int64_t items = blocks.count();
  const int threads =
      p.n * p.ny >= 128 && items >= 5 ? static_cast<int>(std::min<int64_t>(items, p.threads)) : 1;
  run_blocks(p, blocks, threads, [&](int64_t f, int64_t a, int64_t b) {
    const Values<T, Columns> y = p.values(f);
    T* c = p.coeffs(f);
    for (int64_t i = a; i < b; ++i) {
      c[2 * i] = y[i];
      c[2 * i + 1] = (y[i + 1] - y[i]) * (T(1) / p.g.step(i));
    }
  });
  return kOk;
}

// The default cubic: the caller's second derivatives at the interior nodes, the ends turned into
// second derivatives M_0 and M_{n-1} that meet the end conditions, then one formula for every cell.
template <int M, class T, bool Columns, bool Uniform>
int32_t build_default(const Problem<T, Columns, Uniform>& p) {
  const int64_t n = p.n;
  auto Mi = [&](int64_t i) { return p.ic[i - 1]; };
  const T h0 = p.g.step(0), hl = p.g.step(n - 2);
  for (int64_t f = 0; f < p.ny; ++f) {
    const Values<T, Columns> y = p.values(f);
    T* c = p.coeffs(f);
    T m_first = p.slope(y, 0), m_last = p.slope(y, n - 2);
    T M0, Mn;
    switch (left_end(M)) {
      case End::NotAKnot:
        M0 = n == 3 ? Mi(1) : Mi(1) + (Mi(1) - Mi(2)) * h0 / p.g.step(1);
        break;
      case End::Free:
        M0 = T(0);
        break;
      case End::D1:
        M0 = T(3) * (m_first - p.bc[0]) / h0 - Mi(1) / T(2);
        break;
      default:
        M0 = p.bc[0];
        break;  // a given second derivative; periodic reads it at both ends
    }
    switch (right_end(M)) {
      case End::NotAKnot:
        Mn = n == 3 ? Mi(n - 2) : Mi(n - 2) + (Mi(n - 2) - Mi(n - 3)) * hl / p.g.step(n - 3);
        break;
      case End::Free:
        Mn = T(0);
        break;
      case End::D1:
        Mn = T(3) * (p.bc[1] - m_last) / hl - Mi(n - 2) / T(2);
        break;
      case End::Periodic:
        Mn = p.bc[0];
        break;
      default:
        Mn = p.bc[1];
        break;
    }
    auto second = [&](int64_t i) { return i == 0 ? M0 : i == n - 1 ? Mn : Mi(i); };
    for (int64_t i = 0; i + 1 < n; ++i) {
      const T h = p.g.step(i), a = second(i), b = second(i + 1);
      c[4 * i] = y[i];
      c[4 * i + 1] = p.slope(y, i) - h * (T(2) * a + b) / T(6);
      c[4 * i + 2] = a / T(2);
      c[4 * i + 3] = (b - a) / (T(6) * h);
    }
  }
  return kOk;
}

// ---- tridiagonal solves ----

inline void factor(int n, double* dl, double* d, double* du, int* info) {
  ddttrfb_4dfl(&n, dl, d, du, info);
}
inline void factor(int n, float* dl, float* d, float* du, int* info) {
  sdttrfb_4dfl(&n, dl, d, du, info);
}
inline void solve(int n, int nrhs, const double* dl, const double* d, const double* du, double* b,
                  int* info) {
  const char no = 'N';
  ddttrsb_4dfl(&no, &n, &nrhs, dl, d, du, b, &n, info);
}
inline void solve(int n, int nrhs, const float* dl, const float* d, const float* du, float* b, int* info) {
  const char no = 'N';
  sdttrsb_4dfl(&no, &n, &nrhs, dl, d, du, b, &n, info);
}
inline void factor_solve(int n, double* dl, double* d, double* du, double* b, int* info) {
  const int one = 1;
  ddtsvb_4dfl(&n, &one, dl, d, du, b, &n, info);
}
inline void factor_solve(int n, float* dl, float* d, float* du, float* b, int* info) {
  const int one = 1;
  sdtsvb_4dfl(&n, &one, dl, d, du, b, &n, info);
}

// One block of `count` values of T from the core allocator, released at scope exit; null when the
// count overflows or the block cannot be had.
template <class T>
struct Scratch {
  T* p = nullptr;
  explicit Scratch(uint64_t count) {
    if (count <= SIZE_MAX / sizeof(T)) p = static_cast<T*>(zok_serv_allocate(count * sizeof(T), 128));
  }
  ~Scratch() { zok_serv_deallocate(p); }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
};

// a*b + c values of T, or UINT64_MAX when that overflows.
inline uint64_t count_of(uint64_t a, uint64_t b, uint64_t c = 0) {
  uint64_t r;
  if (__builtin_mul_overflow(a, b, &r) || __builtin_add_overflow(r, c, &r)) return UINT64_MAX;
  return r;
}

// The natural cubic: the C2 spline, node derivatives from a tridiagonal system whose first and last
// rows are the end conditions; periodic ends make it cyclic and a rank-one correction solves that.
template <int M, class T, bool Columns, bool Uniform>
int32_t build_natural(const Problem<T, Columns, Uniform>& p) {
  const int64_t n = p.n;
  const auto& g = p.g;
  // Too small for a system: two points of a periodic function carry a constant; three points with
  // periodic or not-a-knot ends carry one parabola, whose derivative at the middle is Bessel's.
  if ((M == kPeriodic && n <= 3) || (M == kNotAKnot && n == 3)) {
    for (int64_t f = 0; f < p.ny; ++f) {
      const Values<T, Columns> y = p.values(f);
      T d[3] = {};
      if (n == 3) {
        const T h0 = g.step(0), h1 = g.step(1), m0 = p.slope(y, 0), m1 = p.slope(y, 1);
        d[1] = (h1 * m0 + h0 * m1) / (h0 + h1);
        d[0] = M == kPeriodic ? d[1] : T(2) * m0 - d[1];
        d[2] = M == kPeriodic ? d[1] : T(2) * m1 - d[1];
      }
      write_cubic_cells(p, y, p.coeffs(f), 0, n - 1, [&](int64_t i) { return d[i]; });
    }
    return kOk;
  }
  constexpr bool kCyclic = M == kPeriodic;
  const int64_t N = kCyclic ? n - 1 : n;  // a periodic spline has d_{n-1} = d_0
  const bool parallel = p.ny > 1 && p.threads > 1 && n >= 300 && (n >= 600 || p.threads >= 8);
  const int threads = parallel ? static_cast<int>(std::min<int64_t>(p.threads, p.ny)) : 1;
  // One function without periodic ends keeps its right-hand side and both off-diagonals in its own
  // coefficient array (4(n-1) >= 3n-2 values), which the caller's pages already back; only the
  // diagonal needs scratch. The cells are then written from the last down, each after reading the
  // two derivatives it needs, so no derivative is overwritten before its use.
  const bool in_place = !kCyclic && p.ny == 1;
  const int64_t rhs_count = parallel ? threads : p.ny;
  Scratch<T> scratch(
      in_place ? static_cast<uint64_t>(N)
               : count_of(static_cast<uint64_t>(N), static_cast<uint64_t>(rhs_count) + 3 + kCyclic));
  if (scratch.p == nullptr) return ErrMemory;
  T *dl = scratch.p, *dd = dl + N, *du = dd + N, *z = du + N, *rhs = z + (kCyclic ? N : 0);
  if (in_place) {
    rhs = p.coeffs(0);
    dl = rhs + n;
    du = dl + (n - 1);
    dd = scratch.p;
  }

  // The matrix depends on x alone.
  for (int64_t i = 1; i + 1 < n; ++i) {
    const T h0 = g.step(i - 1), h1 = g.step(i);
    dl[i - 1] = h1;
    dd[i] = T(2) * (h0 + h1);
    du[i] = h0;
  }
  T alpha = 0, beta = 0, gamma = 0;
  if constexpr (kCyclic) {
    // Node n-2 is node 0's left neighbour; the corners are A[0][N-1] = beta and A[N-1][0] = alpha.
    const T h0 = g.step(0), hl = g.step(n - 2);
    dd[0] = T(2) * (hl + h0);
    du[0] = hl;
    beta = h0;
    alpha = g.step(n - 3);
    gamma = -dd[0];
    dd[0] -= gamma;
    dd[N - 1] -= alpha * beta / gamma;
  } else {
    switch (left_end(M)) {
      case End::NotAKnot:
        dd[0] = g.step(1), du[0] = g.step(0) + g.step(1);
        break;
      case End::D1:
        dd[0] = T(1), du[0] = T(0);
        break;
      default:
        dd[0] = T(2), du[0] = T(1);
        break;  // free or a given second derivative
    }
    switch (right_end(M)) {
      case End::NotAKnot:
        dl[n - 2] = g.step(n - 3) + g.step(n - 2), dd[n - 1] = g.step(n - 3);
        break;
      case End::D1:
        dl[n - 2] = T(0), dd[n - 1] = T(1);
        break;
      default:
        dl[n - 2] = T(1), dd[n - 1] = T(2);
        break;
    }
  }

  auto fill_rhs = [&](const Values<T, Columns>& y, T* r) {
    T m_prev = p.slope(y, 0);
    for (int64_t i = 1; i + 1 < n; ++i) {
      const T m = p.slope(y, i);
      r[i] = T(3) * (g.step(i) * m_prev + g.step(i - 1) * m);
      m_prev = m;
    }
    const T m0 = p.slope(y, 0), ml = p.slope(y, n - 2), h0 = g.step(0), hl = g.step(n - 2);
    if constexpr (kCyclic) {
      r[0] = T(3) * (h0 * ml + hl * m0);
      return;
    }
    switch (left_end(M)) {
      case End::NotAKnot: {
        const T h1 = g.step(1), H = h0 + h1;
        r[0] = ((h0 + T(2) * H) * h1 * m0 + h0 * h0 * p.slope(y, 1)) / H;
        break;
      }
      case End::D1:
        r[0] = p.bc[0];
        break;
      case End::D2:
        r[0] = T(3) * m0 - T(0.5) * h0 * p.bc[0];
        break;
      default:
        r[0] = T(3) * m0;
        break;
    }
    switch (right_end(M)) {
      case End::NotAKnot: {
        const T h1 = g.step(n - 3), H = hl + h1;
        r[n - 1] = ((hl + T(2) * H) * h1 * ml + hl * hl * p.slope(y, n - 3)) / H;
        break;
      }
      case End::D1:
        r[n - 1] = p.bc[1];
        break;
      case End::D2:
        r[n - 1] = T(3) * ml + T(0.5) * hl * p.bc[1];
        break;
      default:
        r[n - 1] = T(3) * ml;
        break;
    }
  };
  // Sherman-Morrison: the cyclic solution is the tridiagonal one less its share along z.
  T z0_share = 0;
  auto finish = [&](int64_t f, T* d) {
    if constexpr (kCyclic) {
      const T k = (d[0] + beta / gamma * d[N - 1]) * z0_share;
      for (int64_t i = 0; i < N; ++i) d[i] -= k * z[i];
    }
    const Values<T, Columns> y = p.values(f);
    write_cubic_cells(p, y, p.coeffs(f), 0, n - 1, [&](int64_t i) { return d[kCyclic && i == N ? 0 : i]; });
  };

  const int order = static_cast<int>(N);
  int info = 0;
  if (in_place) {
    const Values<T, Columns> y = p.values(0);
    fill_rhs(y, rhs);
    factor_solve(order, dl, dd, du, rhs, &info);
    if (info != 0) return ErrSolver;
    T* c = rhs;
    for (int64_t i = n - 2; i >= 0; --i) {
      const T d0 = rhs[i], d1 = rhs[i + 1];
      hermite_cell(c + 4 * i, y[i], y[i + 1], g.step(i), d0, d1);
    }
    return kOk;
  }
  factor(order, dl, dd, du, &info);
  if (info != 0) return ErrSolver;
  if constexpr (kCyclic) {
    std::fill(z, z + N, T(0));
    z[0] = gamma;
    z[N - 1] = alpha;
    solve(order, 1, dl, dd, du, z, &info);
    if (info != 0) return ErrSolver;
    z0_share = T(1) / (T(1) + z[0] + beta / gamma * z[N - 1]);
  }
  if (!parallel) {
    for (int64_t f = 0; f < p.ny; ++f) fill_rhs(p.values(f), rhs + f * N);
    if (p.ny > INT_MAX) return ErrSolver;
    solve(order, static_cast<int>(p.ny), dl, dd, du, rhs, &info);
    if (info != 0) return ErrSolver;
    for (int64_t f = 0; f < p.ny; ++f) finish(f, rhs + f * N);
    return kOk;
  }
  return run_items(p.ny, threads, p.threading, [&](int64_t f, int thread) {
    T* r = rhs + static_cast<int64_t>(thread) * N;
    fill_rhs(p.values(f), r);
    int status = 0;
    solve(order, 1, dl, dd, du, r, &status);
    if (status != 0) return int32_t{ErrSolver};
    finish(f, r);
    return int32_t{kOk};
  });
}

// ---- quadratic splines ----

// Knots at the nodes: the value at the middle of each cell follows from the one before by continuity
// of the first derivative at the node between them, starting from the caller's value in cell 0.
template <class T, bool Columns, bool Uniform>
int32_t build_quadratic_nodes(const Problem<T, Columns, Uniform>& p) {
  for (int64_t f = 0; f < p.ny; ++f) {
    const Values<T, Columns> y = p.values(f);
    T* c = p.coeffs(f);
    T v = p.bc[0];
    for (int64_t i = 0; i + 1 < p.n; ++i) {
      const T h = p.g.step(i), r = h / T(2);
      const T c2 = (y[i] + y[i + 1] - T(2) * v) / (T(2) * r * r);
      c[3 * i] = y[i];
      c[3 * i + 1] = (v - y[i] - r * r * c2) / r;
      c[3 * i + 2] = c2;
      if (i + 2 < p.n) {
        const T h1 = p.g.step(i + 1);
        v = h1 / T(4) * ((y[i] + T(3) * y[i + 1]) / h + (T(3) * y[i + 1] + y[i + 2]) / h1) - h1 / h * v;
      }
    }
  }
  return kOk;
}

// Unknowns: the first derivatives s_0 .. s_n at the knots; in knot cell k, of length L and holding
// node x_k at distance u from its left knot, p(u') = c0 + s_k u' + (s_{k+1} - s_k) u'^2/(2L). Value
// continuity at each inner knot gives a row in s_k, s_{k+1}, s_{k+2} whose diagonal outweighs the
// other two, so the solver's lack of pivoting costs nothing; the end conditions close the system.
template <int M, class T, bool Columns, bool Uniform>
int32_t build_quadratic_knots(const Problem<T, Columns, Uniform>& p, bool all_given) {
  const Knots<T, Uniform> knots{p.g, p.ic, all_given};
  if (!knots.valid()) return ErrIc;
  const int64_t n = p.n, N = n + 1;
  Scratch<T> scratch(count_of(static_cast<uint64_t>(N), static_cast<uint64_t>(p.ny) + 3));
  if (scratch.p == nullptr) return ErrMemory;
  T *dl = scratch.p, *dd = dl + N, *du = dd + N, *rhs = du + N;
  auto cell = [&](int64_t k, T* L, T* u) {
    const T t0 = knots.knot(k);
    *L = knots.knot(k + 1) - t0;
    *u = p.g.node(k) - t0;
  };
  for (int64_t r = 1; r < n; ++r) {
    T L0, u0, L1, u1;
    cell(r - 1, &L0, &u0);
    cell(r, &L1, &u1);
    const T a0 = L0 - u0;
    dl[r - 1] = a0 * a0 / (T(2) * L0);
    dd[r] = a0 * (L0 + u0) / (T(2) * L0) + u1 * (T(2) * L1 - u1) / (T(2) * L1);
    du[r] = u1 * u1 / (T(2) * L1);
  }
  T L_first, L_last, unused;
  cell(0, &L_first, &unused);
  cell(n - 1, &L_last, &unused);
  const bool left_d1 = left_end(M) == End::D1, right_d1 = right_end(M) == End::D1;
  dd[0] = T(1);
  du[0] = left_d1 ? T(0) : T(-1);  // s_1 - s_0 = L_0 * bc[0] for a given second derivative
  dl[n - 1] = right_d1 ? T(0) : T(-1);
  dd[n] = T(1);
  for (int64_t f = 0; f < p.ny; ++f) {
    const Values<T, Columns> y = p.values(f);
    T* r = rhs + f * N;
    r[0] = left_d1 ? p.bc[0] : -p.bc[0] * L_first;
    for (int64_t k = 1; k < n; ++k) r[k] = y[k] - y[k - 1];
    r[n] = right_d1 ? p.bc[1] : p.bc[1] * L_last;
  }
  int info = 0;
  factor(static_cast<int>(N), dl, dd, du, &info);
  if (info != 0) return ErrSolver;
  if (p.ny > INT_MAX) return ErrSolver;
  solve(static_cast<int>(N), static_cast<int>(p.ny), dl, dd, du, rhs, &info);
  if (info != 0) return ErrSolver;
  for (int64_t f = 0; f < p.ny; ++f) {
    const Values<T, Columns> y = p.values(f);
    const T* s = rhs + f * N;
    T* c = p.coeffs(f);
    for (int64_t k = 0; k < n; ++k) {
      T L, u;
      cell(k, &L, &u);
      const T c2 = (s[k + 1] - s[k]) / (T(2) * L);
      c[3 * k] = y[k] - s[k] * u - c2 * u * u;
      c[3 * k + 1] = s[k];
      c[3 * k + 2] = c2;
    }
  }
  return kOk;
}

// ---- variants and checks ----

template <Kind K, int M, class T, bool Columns, bool Uniform>
int32_t build(const Problem<T, Columns, Uniform>& p, const DfTask* task) {
  if constexpr (M == kPeriodic) {
    // Checked for every function before anything is written.
    for (int64_t f = 0; f < p.ny; ++f) {
      const Values<T, Columns> y = p.values(f);
      if (!(y[0] == y[p.n - 1])) return ErrPeriodicValues;
    }
  }
  if constexpr (K == Kind::Linear) {
    return build_linear(p);
  } else if constexpr (K == Kind::Quadratic) {
    if (task->s_type == 0) return build_quadratic_nodes(p);
    return build_quadratic_knots<M>(p, (task->ic_type & 4) == 0);
  } else if constexpr (K == Kind::Natural) {
    return build_natural<M>(p);
  } else if constexpr (K == Kind::Default) {
    return build_default<M>(p);
  } else {
    return build_local<K, M>(p);
  }
}

// The variant of a kind for one storage, partition and mode; modes a kind never takes are not made.
template <Kind K, class T, bool Columns, bool Uniform>
int32_t dispatch_mode(const Problem<T, Columns, Uniform>& p, const DfTask* task, int mode) {
  if constexpr (K == Kind::Linear) return build<K, kFree>(p, task);
  switch (mode) {
    case kNotAKnot:
      return build<K, kNotAKnot>(p, task);
    case kFree:
      return build<K, kFree>(p, task);
    case kD1D1:
      return build<K, kD1D1>(p, task);
    case kD1D2:
      return build<K, kD1D2>(p, task);
    case kD2D1:
      return build<K, kD2D1>(p, task);
    case kD2D2:
      return build<K, kD2D2>(p, task);
    case kPeriodic:
      if constexpr (K != Kind::Quadratic) return build<K, kPeriodic>(p, task);
      break;
    default:
      if constexpr (K == Kind::Akima) return build<K, kAkimaRule>(p, task);
      break;
  }
  return build<K, kFree>(p, task);  // the quadratic at the nodes reads no mode
}

// Orders past the solvers' int: the systems cannot be handed to them.
bool fits_solver(Kind kind, const DfTask* task) {
  if (kind == Kind::Natural) return task->nx <= INT_MAX;
  if (kind == Kind::Quadratic && task->s_type == 1) return task->nx < INT_MAX;
  return true;
}

template <Kind K, class T, bool Columns, bool Uniform>
int32_t run_variant(const DfTask* task, int mode, const ThreadingServices* threading) {
  const Problem<T, Columns, Uniform> p{task,
                                       Grid<T, Uniform>(static_cast<const T*>(task->x), task->nx),
                                       task->nx,
                                       task->ny,
                                       static_cast<const T*>(task->bc),
                                       static_cast<const T*>(task->ic),
                                       core::thread_limit(threading, &ThreadingServices::parallel_for),
                                       threading};
  if (!p.g.valid()) return ErrX;
  if (!fits_solver(K, task)) return ErrSolver;
  return dispatch_mode<K>(p, task, mode);
}

constexpr int64_t order_of(Kind k) {
  return k == Kind::Linear ? 2 : k == Kind::Quadratic ? 3 : 4;
}

constexpr int64_t min_nx(Kind k, int64_t bc_type) {
  switch (k) {
    case Kind::Natural:
      return bc_type == 1 ? 3 : 2;
    case Kind::Bessel:
      return 4;
    case Kind::Akima:
      return 5;
    case Kind::Hermite:
    case Kind::Default:
      return 3;
    default:
      return 2;
  }
}

// The entry checks, in the order the callers rely on, then the checks that keep the variants from
// reading or writing through pointers that are not there; returns the mode or a status.
int32_t check(const DfTask* task, Kind kind, int32_t method, int* mode) {
  if ((kind == Kind::Linear || kind == Kind::Natural) && method != 0) return ErrMethod;
  if (task == nullptr) return ErrNullTask;
  if (task->nx < min_nx(kind, task->bc_type)) return ErrNx;
  const int64_t yhint = task->yhint;
  if (yhint != 0 && yhint != 16 && yhint != 32 && yhint != 128) return ErrYHint;
  *mode = kFree;
  if (kind == Kind::Quadratic) {
    if (task->s_type == 0) {
      if (task->bc_type != 128) return ErrBcType;
      if (task->bc == nullptr) return ErrBc;
    } else if (task->s_type == 1) {
      if ((task->ic_type & 8) == 0) return ErrIcType;
      *mode = mode_of(task->bc_type);
      if (*mode < kD1D1 || *mode > kD2D2) return ErrBcType;
      if (task->bc == nullptr) return ErrBc;
    } else {
      return ErrMethod;
    }
  } else if (kind != Kind::Linear) {
    *mode = mode_of(task->bc_type);
    if (*mode < 0 || (*mode == kAkimaRule && kind != Kind::Akima)) return ErrBcType;
    const bool bc_read = *mode != kPeriodic ? mode_needs_bc(*mode) : task->s_type == 0 || task->s_type == 3;
    if (bc_read && task->bc == nullptr) return ErrBc;
  }
  // Beyond the entry checks: nothing would stop a null or missing array from being used.
  if (task->ny < 1) return ErrNy;
  if (yhint == 32) {
    if (value_pointer(*task, 0) == nullptr) return ErrY;
  } else {
    for (int64_t f = 0; f < task->ny; ++f)
      if (value_pointer(*task, f) == nullptr) return ErrY;
  }
  for (int64_t f = 0; f < task->ny; ++f)
    if (coeff_pointer(*task, f) == nullptr) return ErrCoeff;
  if (task->s_order != order_of(kind)) return ErrSplineType;
  if (kind == Kind::Hermite || kind == Kind::Default) {
    if (task->ic == nullptr) return ErrIc;
    if (*mode == kPeriodic && task->bc == nullptr) return ErrBc;
  }
  return kOk;
}

template <Kind K, class T>
int32_t construct(const DfTask* task, int32_t method, const ThreadingServices* threading) {
  int mode = kFree;
  if (const int32_t s = check(task, K, method, &mode); s != kOk) return s;
  const bool columns = task->yhint == 32, uniform = (task->xhint & ZOK_DF_PARTITION_UNIFORM) != 0;
  if (columns) {
    return uniform ? run_variant<K, T, true, true>(task, mode, threading)
                   : run_variant<K, T, true, false>(task, mode, threading);
  }
  return uniform ? run_variant<K, T, false, true>(task, mode, threading)
                 : run_variant<K, T, false, false>(task, mode, threading);
}

}  // namespace
}  // namespace zok::df

#define ZOK_DF_DEFINE_SPLINE(t, T, Name, K)                                                             \
  ZOK_DF_API int32_t zok_df_kernel_##t##DF##Name##Spline1D(                                             \
      const DfTask* task, const void* /*unused*/, int32_t method, const ThreadingServices* threading) { \
    return zok::df::construct<zok::df::Kind::K, T>(task, method, threading);                            \
  }
#define ZOK_DF_DEFINE_SPLINES(t, T)                 \
  ZOK_DF_DEFINE_SPLINE(t, T, Linear, Linear)        \
  ZOK_DF_DEFINE_SPLINE(t, T, Quadratic, Quadratic)  \
  ZOK_DF_DEFINE_SPLINE(t, T, NaturalCubic, Natural) \
  ZOK_DF_DEFINE_SPLINE(t, T, BesselCubic, Bessel)   \
  ZOK_DF_DEFINE_SPLINE(t, T, AkimaCubic, Akima)     \
  ZOK_DF_DEFINE_SPLINE(t, T, HermiteCubic, Hermite) \
  ZOK_DF_DEFINE_SPLINE(t, T, DefaultCubic, Default)

extern "C" {
ZOK_DF_DEFINE_SPLINES(d, double)
ZOK_DF_DEFINE_SPLINES(s, float)
}  // extern "C"

// Ascending in-place sorting and selection of reals for the order statistics: the median-of-three
// quicksort and selection with a heapsort fallback, the LSD radix sort and the choice between them.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <utility>

namespace zok::ss {

// Element i of a strided array; the unit-stride case compiles to plain indexing.
template <class T, bool kUnit>
struct Strided {
  T* a;
  int64_t stride;
  T& operator[](int64_t i) const { return kUnit ? a[i] : a[i * stride]; }
};

template <class T>
struct Less {
  bool operator()(const T& x, const T& y) const { return x < y; }
};

// Partitions nest at most this deep before the range is finished by heapsort: the median of three is
// quadratic on crafted input, while sorted, reversed and tied data split near the middle.
inline int64_t depth_limit(int64_t n) {
  return 2 * (n > 1 ? std::bit_width(static_cast<uint64_t>(n)) - 1 : 0) + 8;
}

// Heapsort of [l, r]: the worst case is n log n whatever the data.
template <class A, class L>
void heap_sort(A a, int64_t l, int64_t r, L less) {
  const int64_t n = r - l + 1;
  auto sift = [&](int64_t root, int64_t end) {
    auto v = std::move(a[l + root]);
    for (int64_t child = 2 * root + 1; child < end; child = 2 * root + 1) {
      if (child + 1 < end && less(a[l + child], a[l + child + 1])) ++child;
      if (!less(v, a[l + child])) break;
      a[l + root] = std::move(a[l + child]);
      root = child;
    }
    a[l + root] = std::move(v);
  };
  for (int64_t i = n / 2 - 1; i >= 0; --i) sift(i, n);
  for (int64_t end = n - 1; end > 0; --end) {
    std::swap(a[l], a[l + end]);
    sift(0, end);
  }
}

// One median-of-three partition of [l, r] (r - l >= 2): a[l] <= a[l+1] <= a[r] act as sentinels, so
// neither scan leaves the range even when NaNs make the order partial. Returns the pivot's final
// place j and sets *i to the first index of the upper part.
template <class A, class L>
int64_t partition(A a, int64_t l, int64_t r, L less, int64_t* i_out) {
  using std::swap;
  swap(a[(l + r) >> 1], a[l + 1]);
  if (less(a[r], a[l])) swap(a[l], a[r]);
  if (less(a[r], a[l + 1])) swap(a[l + 1], a[r]);
  if (less(a[l + 1], a[l])) swap(a[l], a[l + 1]);
  int64_t i = l + 1, j = r;
  auto pivot = a[l + 1];
  for (;;) {
    do ++i;
    while (less(a[i], pivot));
    do --j;
    while (less(pivot, a[j]));
    if (j < i) break;
    swap(a[i], a[j]);
  }
  a[l + 1] = std::move(a[j]);
  a[j] = std::move(pivot);
  *i_out = i;
  return j;
}

// Iterative quicksort: the larger part waits on the stack and the smaller continues, so at most
// log2 n ranges wait; ranges of fewer than 8 elements are finished by straight insertion. Bounds are
// 64-bit integers whatever the element type. `limit`: the nesting depth that hands a range to
// heapsort (tests raise it to show what crafted input does without it).
template <class A, class L>
void quick_sort(int64_t n, A a, L less, int64_t limit) {
  struct Range {
    int64_t l, r, depth;
  };
  Range stack[128];
  int top = 0;
  int64_t l = 0, r = n - 1, depth = 0;
  for (;;) {
    if (r - l < 7) {
      for (int64_t j = l + 1; j <= r; ++j) {
        auto v = std::move(a[j]);
        int64_t i = j - 1;
        for (; i >= l && less(v, a[i]); --i) a[i + 1] = std::move(a[i]);
        a[i + 1] = std::move(v);
      }
      if (top == 0) return;
      --top;
      l = stack[top].l;
      r = stack[top].r;
      depth = stack[top].depth;
      continue;
    }
    if (++depth > limit) {
      heap_sort(a, l, r, less);
      r = l;  // done: the next round pops a waiting range
      continue;
    }
    int64_t i = 0;
    const int64_t j = partition(a, l, r, less, &i);
    if (r - i + 1 >= j - l) {
      stack[top++] = {i, r, depth};
      r = j - 1;
    } else {
      stack[top++] = {l, j - 1, depth};
      l = i;
    }
  }
}

// The k-th smallest (0-based) of a[0 .. n-1], leaving a partitioned around it: partitions are
// repeated on the side holding k until at most two elements remain.
template <class A, class L>
auto quick_select(int64_t n, A a, int64_t k, L less, int64_t limit) {
  int64_t l = 0, r = n - 1, depth = 0;
  for (;;) {
    if (r <= l + 1) {
      if (r == l + 1 && less(a[r], a[l])) std::swap(a[l], a[r]);
      return a[k];
    }
    if (++depth > limit) {
      heap_sort(a, l, r, less);
      return a[k];
    }
    int64_t i = 0;
    const int64_t j = partition(a, l, r, less, &i);
    if (j >= k) r = j - 1;
    if (j <= k) l = i;
  }
}

template <class T>
void qsort_strided(int64_t n, T* a, int64_t stride) {
  if (n < 2) return;
  if (stride == 1)
    quick_sort(n, Strided<T, true>{a, 1}, Less<T>{}, depth_limit(n));
  else
    quick_sort(n, Strided<T, false>{a, stride}, Less<T>{}, depth_limit(n));
}

template <class T>
T qselect(int64_t n, T* a, int64_t k) {
  return quick_select(n, Strided<T, true>{a, 1}, k, Less<T>{}, depth_limit(n));
}

// ---- radix sort ----
// Keys that order like the values: the sign bit flipped, all bits for negatives, so -0 < +0 and
// NaNs with the sign bit clear come last.
template <class T>
struct RadixTraits;
template <>
struct RadixTraits<double> {
  using Key = uint64_t;
  static constexpr int kPasses = 6;
  static constexpr int kShift[6] = {0, 11, 22, 32, 43, 54};
  static constexpr int kBits[6] = {11, 11, 10, 11, 11, 10};
};
template <>
struct RadixTraits<float> {
  using Key = uint32_t;
  static constexpr int kPasses = 3;
  static constexpr int kShift[3] = {0, 11, 22};
  static constexpr int kBits[3] = {11, 11, 10};
};

template <class K>
inline K encode_key(K u) {
  constexpr K kSign = K(1) << (sizeof(K) * 8 - 1);
  return u ^ ((u & kSign) ? ~K(0) : kSign);
}
template <class K>
inline K decode_key(K k) {
  constexpr K kSign = K(1) << (sizeof(K) * 8 - 1);
  return k ^ ((k & kSign) ? kSign : ~K(0));
}

// Least-significant-digit radix sort of a[0 .. n-1] with `scratch` of n reals; every histogram is
// filled in one counting pass. A digit equal for every key moves nothing and its pass is skipped;
// when an odd number of passes remain, the result is copied back from the scratch.
template <class T>
void radix_sort(T* a, T* scratch, int64_t n) {
  using R = RadixTraits<T>;
  using K = typename R::Key;
  if (n < 2) return;
  static_assert(sizeof(K) == sizeof(T));
  uint32_t hist[R::kPasses][2048];
  std::memset(hist, 0, sizeof hist);
  K* ka = reinterpret_cast<K*>(a);
  K* ks = reinterpret_cast<K*>(scratch);
  for (int64_t i = 0; i < n; ++i) {
    const K key = encode_key(ka[i]);
    for (int p = 0; p < R::kPasses; ++p) ++hist[p][(key >> R::kShift[p]) & ((K(1) << R::kBits[p]) - 1)];
  }
  int passes[R::kPasses];
  int used = 0;
  const K first = encode_key(ka[0]);
  for (int p = 0; p < R::kPasses; ++p) {
    if (hist[p][(first >> R::kShift[p]) & ((K(1) << R::kBits[p]) - 1)] == static_cast<uint32_t>(n)) continue;
    passes[used++] = p;
    uint32_t sum = 0;
    for (int b = 0; b < (1 << R::kBits[p]); ++b) {
      const uint32_t c = hist[p][b];
      hist[p][b] = sum;
      sum += c;
    }
  }
  if (used == 0) return;  // all keys equal
  K* src = ka;
  K* dst = ks;
  for (int u = 0; u < used; ++u) {
    const int p = passes[u];
    const int shift = R::kShift[p];
    const K mask = (K(1) << R::kBits[p]) - 1;
    uint32_t* h = hist[p];
    const bool encode = u == 0, decode = u == used - 1;
    for (int64_t i = 0; i < n; ++i) {
      const K key = encode ? encode_key(src[i]) : src[i];
      dst[h[(key >> shift) & mask]++] = decode ? decode_key(key) : key;
    }
    std::swap(src, dst);
  }
  if (src != ka) std::memcpy(ka, src, static_cast<size_t>(n) * sizeof(K));
}

// Sorts n values at a[0], a[stride], ...: radix at unit stride (scratch of n reals) while n fits a
// 32-bit count, quicksort otherwise.
template <class T>
void sort_values(int64_t n, T* a, int64_t stride, T* scratch) {
  if (stride == 1 && n <= 2147483647 && scratch != nullptr)
    radix_sort(a, scratch, n);
  else
    qsort_strided(n, a, stride);
}

}  // namespace zok::ss

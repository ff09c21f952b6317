// Every kernel of the registry, every flavour, every instruction set: an element's result does not
// depend on its position (any lane, block or tail, misaligned arrays), results written in place
// equal separate ones, nothing is written past n (nothing at all for n <= 0), reports come once per
// element in ascending order, nothing is read past n; the exact and correctly rounded flavours match
// the C library.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cfenv>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "frame/vm_facts.h"
#include "tests/vm/vm_test_support.h"

namespace {

using zok::test::machine_isas;
using zok::test::on_fresh_thread;
using zok::test::Reports;
using zok::test::same_value;
using zok::vm::Fn;
using zok::vm::Shape;

// Inputs that mix ordinary values with every special class, spread so that specials fall in
// different lanes and blocks.
template <typename T>
std::vector<T> mixed_inputs(size_t n, unsigned seed) {
  using L = std::numeric_limits<T>;
  const T specials[] = {T(0),           -T(0),           L::infinity(), -L::infinity(),
                        L::quiet_NaN(), L::denorm_min(), -L::min() / 4, L::max(),
                        -L::max(),      T(0.5),          T(-2.5),       T(1e-3),
                        L::min(),       T(1) / L::min(), T(3e7),        T(-1e15)};
  std::mt19937 rng(seed);
  std::uniform_real_distribution<T> mant(T(1), T(2));
  std::uniform_int_distribution<int> expo(-30, 30), pick(0, 5);
  std::vector<T> v(n);
  for (size_t i = 0; i < n; ++i) {
    if (pick(rng) == 0) {
      v[i] = specials[rng() % (sizeof specials / sizeof specials[0])];
    } else {
      v[i] = std::ldexp(mant(rng), expo(rng)) * (rng() % 2 ? T(1) : T(-1));
    }
  }
  return v;
}

// The references of the facts rows (REF column) whose flavours are exact or correctly rounded,
// computed one element at a time with the C library; Modf's second result in r2.
template <typename T>
bool exact_reference(const std::string& ref, T a, T b, T& r, T& r2) {
  using F = T (*)(T, T);
  const std::pair<const char*, F> fns[] = {
      {"add", [](T x, T y) { return x + y; }},
      {"sub", [](T x, T y) { return x - y; }},
      {"mul", [](T x, T y) { return x * y; }},
      {"sqr", [](T x, T) { return x * x; }},
      {"abs", [](T x, T) { return std::isnan(x) ? x : std::fabs(x); }},
      {"div", [](T x, T y) { return x / y; }},
      {"inv", [](T x, T) { return T(1) / x; }},
      {"sqrt", [](T x, T) { return std::sqrt(x); }},
      {"floor", [](T x, T) { return std::floor(x); }},
      {"ceil", [](T x, T) { return std::ceil(x); }},
      {"trunc", [](T x, T) { return std::trunc(x); }},
      {"round", [](T x, T) { return std::round(x); }},
      {"rint", [](T x, T) { return std::nearbyint(x); }},
      {"frac",
       [](T x, T) { return std::isinf(x) ? std::copysign(T(0), x) : std::copysign(x - std::trunc(x), x); }},
  };
  for (const auto& [name, fn] : fns)
    if (ref == name) return r = fn(a, b), true;
  if (ref == "modf") return r2 = std::modf(a, &r), true;
  return false;
}

template <typename T>
void check_function(const zok::vm::FnInfo& in, zok::vm::Isa isa, int slot) {
  void* k = (*zok::vm::isa_kernels(isa))[&in - zok::vm::kFunctions][slot];
  const std::string what =
      std::string(in.name) + " slot " + std::to_string(slot) + " " + zok::vm::isa_name(isa);
  const zok::vm::FnFacts& facts = zok::vm::facts(static_cast<Fn>(&in - zok::vm::kFunctions));
  // Flavours that are exact or correctly rounded must equal the C library element by element.
  const bool exact = facts.bound[slot] <= zok::vm::bounds::CR;
  constexpr int N = 203;
  const std::vector<T> a = mixed_inputs<T>(N + 1, 1), b = mixed_inputs<T>(N + 1, 2);

  // One element at a time: the reference for every position.
  std::vector<T> one(N), one2(N);
  std::vector<int> single_reports(N);
  for (int i = 0; i < N; ++i) {
    Reports rep;
    zok::test::t_reports = &rep;
    zok::test::call<T>(k, in.shape, 1, &a[i], &b[i], &one[i], &one2[i]);
    single_reports[i] = static_cast<int>(rep.index.size());
    T want = 0, want2 = 0;
    if (exact) {
      ASSERT_TRUE(exact_reference<T>(facts.ref, a[i], b[i], want, want2)) << what << ": no exact reference";
      EXPECT_TRUE(same_value(one[i], want))
          << what << ": " << a[i] << ", " << b[i] << " gave " << one[i] << ", want " << want;
      if (in.shape == Shape::A_RR) {
        EXPECT_TRUE(same_value(one2[i], want2)) << what << " second result of " << a[i];
      }
    }
  }

  for (int off : {0, 1}) {
    for (int n : {1, 2, 3, 5, 7, 8, 9, 13, 15, 16, 17, 31, 33, 63, 64, 65, 100, 127, 128, 129, N - 1}) {
      if (n + off > N) continue;
      std::vector<T> r(N + 2, T(77)), r2(N + 2, T(77));
      Reports rep;
      zok::test::t_reports = &rep;
      zok::test::call<T>(k, in.shape, n, &a[off], &b[off], &r[0], &r2[0]);
      for (int i = 0; i < n; ++i) {
        ASSERT_TRUE(same_value(r[i], one[i + off])) << what << " n=" << n << " off=" << off << " element "
                                                    << i << ": " << r[i] << " vs " << one[i + off];
        if (in.shape == Shape::A_RR) {
          ASSERT_TRUE(same_value(r2[i], one2[i + off])) << what << " element " << i;
        }
      }
      EXPECT_EQ(r[n], T(77)) << what << ": wrote past n=" << n;
      EXPECT_EQ(r2[n], T(77)) << what << ": wrote past n=" << n;
      for (size_t j = 1; j < rep.index.size(); ++j) EXPECT_LT(rep.index[j - 1], rep.index[j]) << what;
      // One report per element in error, as many as the elements gave one at a time.
      int expected = 0;
      for (int i = 0; i < n; ++i) expected += single_reports[i + off];
      EXPECT_EQ(static_cast<int>(rep.index.size()), expected) << what << " n=" << n << " off=" << off;
    }
  }

  // Counts of zero and below do nothing.
  for (int n : {0, -1}) {
    std::vector<T> r(4, T(77)), r2(4, T(77));
    Reports rep;
    zok::test::t_reports = &rep;
    zok::test::call<T>(k, in.shape, n, a.data(), b.data(), r.data(), r2.data());
    EXPECT_TRUE(rep.index.empty()) << what << " n=" << n;
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(r[i] == T(77) && r2[i] == T(77)) << what << " n=" << n;
  }

  // In place: the result array is the first, then the second argument; the second result array is
  // the argument.
  std::vector<T> sep(N), sep2(N), in_a(a.begin(), a.begin() + N), in_b(b.begin(), b.begin() + N);
  Reports rep;
  zok::test::t_reports = &rep;
  zok::test::call<T>(k, in.shape, N, a.data(), b.data(), sep.data(), sep2.data());
  zok::test::call<T>(k, in.shape, N, in_a.data(), b.data(), in_a.data(), sep2.data());
  for (int i = 0; i < N; ++i)
    ASSERT_TRUE(same_value(in_a[i], sep[i]) || std::isnan(sep[i])) << what << " r == a at " << i;
  if (in.shape == Shape::A_RR) {  // the second result in place
    std::vector<T> in_a2(a.begin(), a.begin() + N), first(N);
    zok::test::call<T>(k, in.shape, N, in_a2.data(), b.data(), first.data(), in_a2.data());
    for (int i = 0; i < N; ++i)
      ASSERT_TRUE(same_value(in_a2[i], sep2[i]) || std::isnan(sep2[i])) << what << " r2 == a at " << i;
  }
  if (in.shape == Shape::AB_R || in.shape == Shape::LINFRAC) {
    zok::test::call<T>(k, in.shape, N, a.data(), in_b.data(), in_b.data(), sep2.data());
    for (int i = 0; i < N; ++i)
      ASSERT_TRUE(same_value(in_b[i], sep[i]) || std::isnan(sep[i])) << what << " r == b at " << i;
  }
}

TEST(Lanes, EveryKernelAgreesWithItselfElementByElement) {
  zok::test::ModeOption env(nullptr);
  on_fresh_thread([] {
    _yubSetErrorCallBack(zok::test::record_report);
    for (zok::vm::Isa isa : machine_isas())
      for (const auto& in : zok::vm::kFunctions)
        for (int slot = 0; slot < 3; ++slot) {
          if (!zok::vm::elementwise(in.shape)) continue;  // copies: tests/vm/pack_test.cpp
          if (zok::vm::complex_type(in.type)) continue;   // tests/vm/complex_test.cpp
          if (in.type == 's') {
            check_function<float>(in, isa, slot);
          } else {
            check_function<double>(in, isa, slot);
          }
        }
    return 0;
  });
}

// Arguments that end where an unreadable page starts, for every count up to two AVX-512 vectors:
// a read past n would fault. The results equal those from ordinary arrays.
template <typename T>
void check_at_page_end(const zok::vm::FnInfo& in, zok::vm::Isa isa, int slot, char* end_a, char* end_b) {
  void* k = (*zok::vm::isa_kernels(isa))[&in - zok::vm::kFunctions][slot];
  for (int n = 1; n <= 33; ++n) {
    T* a = reinterpret_cast<T*>(end_a) - n;
    T* b = reinterpret_cast<T*>(end_b) - n;
    for (int i = 0; i < n; ++i) a[i] = T(0.25) + T(i) / 64, b[i] = T(0.5) + T(i) / 64;
    const std::vector<T> ca(a, a + n), cb(b, b + n);
    std::vector<T> r(n), r2(n), want(n), want2(n);
    zok::test::call<T>(k, in.shape, n, a, b, r.data(), r2.data());
    zok::test::call<T>(k, in.shape, n, ca.data(), cb.data(), want.data(), want2.data());
    for (int i = 0; i < n; ++i)
      ASSERT_TRUE(same_value(r[i], want[i]) && same_value(r2[i], want2[i]))
          << in.name << " slot " << slot << " " << zok::vm::isa_name(isa) << " n=" << n << " element " << i;
  }
}

TEST(Lanes, NoKernelReadsPastTheEnd) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  auto* m =
      static_cast<char*>(mmap(nullptr, 4 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(m, MAP_FAILED);
  ASSERT_EQ(mprotect(m + page, page, PROT_NONE), 0);
  ASSERT_EQ(mprotect(m + 3 * page, page, PROT_NONE), 0);
  zok::test::ModeOption env(nullptr);
  on_fresh_thread([&] {
    _yubSetErrorCallBack([](ErrorContext*) { return 0; });
    for (zok::vm::Isa isa : machine_isas())
      for (const auto& in : zok::vm::kFunctions)
        for (int slot = 0; slot < 3; ++slot) {
          if (!zok::vm::elementwise(in.shape) || zok::vm::complex_type(in.type)) continue;
          if (in.type == 's') {
            check_at_page_end<float>(in, isa, slot, m + page, m + 3 * page);
          } else {
            check_at_page_end<double>(in, isa, slot, m + page, m + 3 * page);
          }
        }
    return 0;
  });
  munmap(m, 4 * page);
}

}  // namespace

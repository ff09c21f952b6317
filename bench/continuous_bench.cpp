// The continuous distributions (exponential to beta, double and single) on MCG59 and MT19937 streams
// against, in the same run, the std:: distribution of the same law on std::mt19937 and on a
// buffered adapter over an MCG59 stream's 32-bit words (Laplace and Rayleigh as inverse-CDF loops
// over std::uniform_real_distribution, Gumbel as the mirrored extreme_value, beta as X/(X + Y) of
// two gammas). Run with ZOK_ISA=sse41|avx2|avx512 for each instruction set.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "zok/random.h"

namespace {

constexpr int32_t kN = 1000000;

StreamRecord* new_stream(int32_t brng) {
  StreamRecord* s = nullptr;
  const uint32_t seed = 12345;
  __qorNewStreamEx(&s, brng, 1, &seed);
  return s;
}

// A uniform random bit generator over a stream's 32-bit words, drawn 1024 at a time.
class StreamWords {
 public:
  using result_type = uint32_t;
  StreamWords() : s_(new_stream(ZOK_RNG_MCG59)) {}
  ~StreamWords() { __qorDeleteStream(&s_); }
  static constexpr uint32_t min() { return 0; }
  static constexpr uint32_t max() { return 0xFFFFFFFFu; }
  uint32_t operator()() {
    if (next_ == kWords) {
      _qoriRngUniformBits32(0, s_, kWords, words_);
      next_ = 0;
    }
    return words_[next_++];
  }

 private:
  static constexpr int kWords = 1024;
  StreamRecord* s_;
  uint32_t words_[kWords];
  int next_ = kWords;
};

template <class T>
struct StdLaws {
  std::uniform_real_distribution<T> unit{T(0), T(1)};
  std::exponential_distribution<T> exponential{T(1)};
  std::cauchy_distribution<T> cauchy{T(0), T(1)};
  std::extreme_value_distribution<T> extreme{T(0), T(1)};
  std::weibull_distribution<T> weibull{T(1.5), T(1)};
  std::gamma_distribution<T> g25{T(2.5)}, g05{T(0.5)}, g100{T(100)}, g2{T(2)}, g3{T(3)};
  template <class G>
  T draw(int law, G& g) {
    switch (law) {
      case 0:
        return exponential(g);
      case 1: {
        const T u = unit(g);
        return u < T(0.5) ? std::log(2 * u) : -std::log(2 - 2 * u);
      }
      case 2:
        return cauchy(g);
      case 3:
        return std::sqrt(-std::log1p(-unit(g)));
      case 4:
        return -extreme(g);
      case 5:
        return weibull(g);
      case 6:
        return g25(g);
      case 7:
        return g05(g);
      case 8:
        return g100(g);
      default: {
        const T x = g2(g);
        return x / (x + g3(g));
      }
    }
  }
};

const char* const kNames[] = {"exponential_1", "laplace",   "cauchy",    "rayleigh",  "gumbel",
                              "weibull_1.5",   "gamma_2.5", "gamma_0.5", "gamma_100", "beta_2_3"};

// Our operation of law `law` in the precision of t/T.
#define ZOK_OURS(t, T)                                                                        \
  int32_t ours(int law, StreamRecord* s, int32_t n, T* r) {                                   \
    switch (law) {                                                                            \
      case 0:                                                                                 \
        return _qor##t##RngExponential(0, s, n, r, 0, 1);                                     \
      case 1:                                                                                 \
        return _qor##t##RngLaplace(0, s, n, r, 0, 1);                                         \
      case 2:                                                                                 \
        return _qor##t##RngCauchy(0, s, n, r, 0, 1);                                          \
      case 3:                                                                                 \
        return _qor##t##RngRayleigh(0, s, n, r, 0, 1);                                        \
      case 4:                                                                                 \
        return _qor##t##RngGumbel(0, s, n, r, 0, 1);                                          \
      case 5:                                                                                 \
        return _qor##t##RngWeibull(0, s, n, r, T(1.5), 0, 1);                                 \
      case 6:                                                                                 \
      case 7:                                                                                 \
      case 8:                                                                                 \
        return _qor##t##RngGamma(0, s, n, r, T(law == 6 ? 2.5 : law == 7 ? 0.5 : 100), 0, 1); \
      default:                                                                                \
        return _qor##t##RngBeta(0, s, n, r, 2, 3, 0, 1);                                      \
    }                                                                                         \
  }
ZOK_OURS(d, double)
ZOK_OURS(s, float)
#undef ZOK_OURS

template <class T>
void run_ours(benchmark::State& state, int law, int32_t brng) {
  StreamRecord* s = new_stream(brng);
  std::vector<T> r(kN);
  for (auto _ : state) {
    ours(law, s, kN, r.data());
    benchmark::DoNotOptimize(r.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kN);
  __qorDeleteStream(&s);
}

template <class T, class G>
void run_std(benchmark::State& state, int law) {
  G engine;
  StdLaws<T> laws;
  std::vector<T> r(kN);
  for (auto _ : state) {
    for (T& x : r) x = laws.draw(law, engine);
    benchmark::DoNotOptimize(r.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kN);
}

template <class T>
void register_precision(const char* type) {
  for (int law = 0; law < 10; ++law) {
    const std::string base = std::string(kNames[law]) + "/" + type + "/";
    benchmark::RegisterBenchmark((base + "zok_mcg59").c_str(), run_ours<T>, law, ZOK_RNG_MCG59);
    benchmark::RegisterBenchmark((base + "zok_mt19937").c_str(), run_ours<T>, law, ZOK_RNG_MT19937);
    benchmark::RegisterBenchmark((base + "std_mt19937").c_str(), run_std<T, std::mt19937>, law);
    benchmark::RegisterBenchmark((base + "std_on_mcg59_words").c_str(), run_std<T, StreamWords>, law);
  }
}

}  // namespace

int main(int argc, char** argv) {
  register_precision<double>("double");
  register_precision<float>("single");
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

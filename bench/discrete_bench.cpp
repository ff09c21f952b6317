// The discrete distributions at n = 10^6 on MCG59 and MT19937 streams against, in the same run, the
// matching std:: distribution fed by std::mt19937 and by a buffered adapter over the same stream's
// words (a plain inversion loop for the hypergeometric, which std:: lacks).
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

struct Stream {
  StreamRecord* s = nullptr;
  explicit Stream(int32_t brng) {
    const uint32_t seed = 2026;
    __qorNewStreamEx(&s, brng, 1, &seed);
  }
  ~Stream() { __qorDeleteStream(&s); }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;
};

// A uniform random bit generator over a stream's 32-bit words, drawn 4096 at a time.
class StreamWords {
 public:
  using result_type = uint32_t;
  explicit StreamWords(int32_t brng) : stream_(brng) {}
  static constexpr uint32_t min() { return 0; }
  static constexpr uint32_t max() { return 0xFFFFFFFF; }
  uint32_t operator()() {
    if (pos_ == kWords) _qoriRngUniformBits32(0, stream_.s, kWords, words_), pos_ = 0;
    return words_[pos_++];
  }

 private:
  static constexpr int kWords = 4096;
  Stream stream_;
  uint32_t words_[kWords];
  int pos_ = kWords;
};

using Ours = std::function<int32_t(StreamRecord*, int32_t, uint32_t*)>;

void ours(benchmark::State& state, int32_t brng, const Ours& draw) {
  Stream s(brng);
  std::vector<uint32_t> r(kN);
  for (auto _ : state) {
    draw(s.s, kN, r.data());
    benchmark::DoNotOptimize(r.data());
  }
  state.SetItemsProcessed(state.iterations() * kN);
}

// `one(urbg, k)` draws element k.
template <class Urbg, class One>
void baseline(benchmark::State& state, Urbg&& urbg, One one) {
  std::vector<uint32_t> r(kN);
  for (auto _ : state) {
    for (int32_t k = 0; k < kN; ++k) r[k] = one(urbg, k);
    benchmark::DoNotOptimize(r.data());
  }
  state.SetItemsProcessed(state.iterations() * kN);
}

// Hypergeometric by inversion from zero with the pmf recurrence.
template <class Urbg>
uint32_t hyper_inversion(Urbg& g, double f0, int l, int s, int m) {
  double u = std::uniform_real_distribution<double>(0, 1)(g), f = f0;
  int x = 0;
  while (u > f && x < std::min(s, m)) {
    u -= f;
    f *= double(m - x) * (s - x) / ((x + 1.0) * (l - m - s + x + 1.0));
    ++x;
  }
  return x;
}

template <class Make>
void add(const std::string& name, const Ours& draw, Make make) {
  benchmark::RegisterBenchmark((name + "/zok_mcg59").c_str(), ours, ZOK_RNG_MCG59, draw);
  benchmark::RegisterBenchmark((name + "/zok_mt19937").c_str(), ours, ZOK_RNG_MT19937, draw);
  benchmark::RegisterBenchmark((name + "/std_mt19937").c_str(),
                               [=](benchmark::State& st) { baseline(st, std::mt19937(2026), make()); });
  benchmark::RegisterBenchmark((name + "/std_mcg59_words").c_str(), [=](benchmark::State& st) {
    baseline(st, StreamWords(ZOK_RNG_MCG59), make());
  });
}

template <class D>
auto std_one(D d) {
  return [d]() { return [d](auto& g, int32_t) mutable { return static_cast<uint32_t>(d(g)); }; };
}

const bool registered = [] {
  add(
      "bernoulli_0.3", [](auto s, int n, auto r) { return _qoriRngBernoulli(0, s, n, r, 0.3); },
      std_one(std::bernoulli_distribution(0.3)));
  add(
      "geometric_0.2", [](auto s, int n, auto r) { return _qoriRngGeometric(0, s, n, r, 0.2); },
      std_one(std::geometric_distribution<uint32_t>(0.2)));
  for (int nt : {10, 1000})
    add(
        "binomial_" + std::to_string(nt) + "_0.3",
        [nt](auto s, int n, auto r) { return _qoriRngBinomial(0, s, n, r, nt, 0.3); },
        std_one(std::binomial_distribution<uint32_t>(nt, 0.3)));
  for (int method : {0, 1})
    for (double lam : {3.0, 50.0})
      add(
          "poisson_m" + std::to_string(method) + "_" + std::to_string(int(lam)),
          [=](auto s, int n, auto r) { return _qoriRngPoisson(method, s, n, r, lam); },
          std_one(std::poisson_distribution<uint32_t>(lam)));
  static std::vector<double> lambdas(kN);
  for (int32_t k = 0; k < kN; ++k) lambdas[k] = k % 2 ? 50.0 : 3.0;
  add(
      "poissonv_3_50", [](auto s, int n, auto r) { return _qoriRngPoissonV(0, s, n, r, lambdas.data()); },
      [] {
        return
            [d3 = std::poisson_distribution<uint32_t>(3.0), d50 = std::poisson_distribution<uint32_t>(50.0)](
                auto& g, int32_t k) mutable { return k % 2 ? d50(g) : d3(g); };
      });
  // P(X = 0) = 400! 600! / (100! 900!).
  const double f0 =
      std::exp(std::lgamma(401.0) + std::lgamma(601.0) - std::lgamma(101.0) - std::lgamma(901.0));
  add(
      "hypergeometric_900_300_500",
      [](auto s, int n, auto r) { return _qoriRngHypergeometric(0, s, n, r, 900, 300, 500); },
      [f0] { return [f0](auto& g, int32_t) { return hyper_inversion(g, f0, 900, 300, 500); }; });
  add(
      "negbinomial_10_0.3", [](auto s, int n, auto r) { return _qoriRngNegbinomial(0, s, n, r, 10, 0.3); },
      std_one(std::negative_binomial_distribution<uint32_t>(10, 0.3)));
  return true;
}();

}  // namespace

BENCHMARK_MAIN();

// Per-number cost of the script writer's number text against snprintf. Inputs are doubles widened from
// floats, as the writer sees them: coordinates in [-1000, 1000] and unit-range normals and UVs.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <vector>

#include "QsxExp/NumberFormat.h"

namespace {

std::vector<double> Inputs() {
    std::mt19937_64 rng(12345);
    std::uniform_real_distribution<float> coord(-1000.0f, 1000.0f);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::vector<double> v(4096);
    for (size_t i = 0; i < v.size(); ++i) v[i] = (i % 2 == 0) ? coord(rng) : unit(rng);
    return v;
}

std::vector<long> IntInputs() {
    std::mt19937_64 rng(12345);
    std::uniform_int_distribution<long> dist(0, 200000);
    std::vector<long> v(4096);
    for (auto& x : v) x = dist(rng);
    return v;
}

template <typename T, typename Fn>
void Run(benchmark::State& state, const std::vector<T>& values, Fn&& format) {
    char buf[qsx::kMaxFixed6];
    for (auto _ : state) {
        for (T v : values) {
            char* end = format(buf, v);
            benchmark::DoNotOptimize(end);
            benchmark::ClobberMemory();
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * values.size()));
    // Shown as time per number, e.g. "8.7ns".
    state.counters["per_number"] = benchmark::Counter(
        static_cast<double>(values.size()),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_Fixed6_Snprintf(benchmark::State& state) {
    Run(state, Inputs(), [](char* b, double v) { return b + std::snprintf(b, qsx::kMaxFixed6, "% 4.6f", v); });
}
void BM_Fixed6_ToChars(benchmark::State& state) { Run(state, Inputs(), qsx::detail::AppendFixed6ToChars); }
void BM_Fixed6_Fast(benchmark::State& state) { Run(state, Inputs(), qsx::AppendFixed6); }

void BM_G4_Snprintf(benchmark::State& state) {
    Run(state, Inputs(), [](char* b, double v) { return b + std::snprintf(b, qsx::kMaxG4, "%4g", v); });
}
void BM_G4_ToChars(benchmark::State& state) { Run(state, Inputs(), qsx::detail::AppendG4ToChars); }
void BM_G4_Fast(benchmark::State& state) { Run(state, Inputs(), qsx::AppendG4); }

void BM_Int_Snprintf(benchmark::State& state) {
    Run(state, IntInputs(), [](char* b, long v) { return b + std::snprintf(b, 24, "%ld", v); });
}
void BM_Int(benchmark::State& state) { Run(state, IntInputs(), qsx::AppendInt); }

}  // namespace

BENCHMARK(BM_Fixed6_Snprintf);
BENCHMARK(BM_Fixed6_ToChars);
BENCHMARK(BM_Fixed6_Fast);
BENCHMARK(BM_G4_Snprintf);
BENCHMARK(BM_G4_ToChars);
BENCHMARK(BM_G4_Fast);
BENCHMARK(BM_Int_Snprintf);
BENCHMARK(BM_Int);

BENCHMARK_MAIN();

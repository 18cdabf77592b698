// Canonical argument texts and the JSON reader and writer on argument texts
// of about 100 B, 2 KB and 64 KB.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench_data.h"
#include "observation/canonical.h"
#include "support/json.h"

namespace {

void SizeArgs(benchmark::internal::Benchmark* b) { b->Arg(100)->Arg(2 * 1024)->Arg(64 * 1024); }

void BM_CanonicalizeArgs(benchmark::State& state) {
  const std::string text = tarnwick_bench::argument_text(static_cast<size_t>(state.range(0)));
  const std::vector<std::string> none;
  for (auto _ : state) {
    benchmark::DoNotOptimize(tarnwick_observation::canonicalize_args(text, none));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_CanonicalizeArgs)->Apply(SizeArgs);

// With volatile paths: one top-level key, one nested member, one that misses.
void BM_CanonicalizeArgsVolatile(benchmark::State& state) {
  const std::string text = tarnwick_bench::argument_text(static_cast<size_t>(state.range(0)));
  const std::vector<std::string> paths = {"$.config_1", "kernel_5.0", "missing.key"};
  for (auto _ : state) {
    benchmark::DoNotOptimize(tarnwick_observation::canonicalize_args(text, paths));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_CanonicalizeArgsVolatile)->Apply(SizeArgs);

void BM_ParseJson(benchmark::State& state) {
  const std::string text = tarnwick_bench::argument_text(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    auto value = tarnwick_support::parse_json(text);
    benchmark::DoNotOptimize(value);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParseJson)->Apply(SizeArgs);

void BM_WriteJsonCompact(benchmark::State& state) {
  const std::string text = tarnwick_bench::argument_text(static_cast<size_t>(state.range(0)));
  auto value = tarnwick_support::parse_json(text);
  if (!value) {
    state.SkipWithError("generated text does not parse");
    return;
  }
  std::string out;
  for (auto _ : state) {
    out.clear();
    tarnwick_support::append_json(*value, &out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.size()));
}
BENCHMARK(BM_WriteJsonCompact)->Apply(SizeArgs);

void BM_WriteJsonPretty(benchmark::State& state) {
  const std::string text = tarnwick_bench::argument_text(static_cast<size_t>(state.range(0)));
  auto value = tarnwick_support::parse_json(text);
  if (!value) {
    state.SkipWithError("generated text does not parse");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(tarnwick_support::to_json_pretty(*value));
  }
}
BENCHMARK(BM_WriteJsonPretty)->Apply(SizeArgs);

}  // namespace

BENCHMARK_MAIN();

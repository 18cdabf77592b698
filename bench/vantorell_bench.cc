// vantorell_verify through the C interface with no rules, one exact rule,
// and a regex plus a json_schema rule, on argument texts of about 200 B and
// 4 KB. Calls rotate over eight tool names so that the loop gate examines a
// full window without ever refusing, as for an agent that does not loop.
// BM_VerifierMemory shows that a handle's heap stays bounded by its window.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "bench_data.h"
#include "vantorell.h"

namespace {

constexpr std::array<std::string_view, 8> kTools = {"search",    "read_file", "write_file",
                                                    "http_get",  "run_shell", "list_dir",
                                                    "sql_query", "send_email"};

enum Rules : int64_t { kNoRules = 0, kExactRule = 1, kRegexAndSchema = 2 };

// A YAML single-quoted scalar.
std::string yaml_quoted(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  out += "'";
  return out;
}

std::string config_for(int64_t rules, const std::string& arguments) {
  switch (rules) {
    case kExactRule: return "rules:\n  - type: exact\n    value: " + yaml_quoted(arguments) + "\n";
    case kRegexAndSchema:
      return "rules:\n"
             "  - type: regex\n"
             "    pattern: '\"config_1\":\\s*\\d+'\n"
             "  - type: json_schema\n"
             "    required: [alpha_0, config_1]\n";
    default: return "{}";
  }
}

std::string_view rules_label(int64_t rules) {
  switch (rules) {
    case kExactRule: return "exact";
    case kRegexAndSchema: return "regex+json_schema";
    default: return "none";
  }
}

// Handles of every case; the verdict of the first call is checked so that a
// case never silently times a rejection.
void BM_Verify(benchmark::State& state) {
  const int64_t rules = state.range(0);
  const std::string arguments = tarnwick_bench::argument_text(static_cast<size_t>(state.range(1)));
  const std::string yaml = config_for(rules, arguments);
  vantorell_state_t* v = vantorell_init(yaml.data(), yaml.size());
  if (v == nullptr) {
    state.SkipWithError("vantorell_init refused the configuration");
    return;
  }
  size_t i = 0;
  uint8_t first =
      vantorell_verify(v, kTools[0].data(), kTools[0].size(), arguments.data(), arguments.size());
  if (first != VANTORELL_PASS) {
    state.SkipWithError(vantorell_get_last_error(v));
    vantorell_free(v);
    return;
  }
  uint32_t rejected = 0;
  for (auto _ : state) {
    const std::string_view tool = kTools[++i % kTools.size()];
    rejected += vantorell_verify(v, tool.data(), tool.size(), arguments.data(), arguments.size());
  }
  if (rejected != 0) state.SkipWithError("some calls were rejected");
  state.SetLabel(std::string(rules_label(rules)) + ", " + std::to_string(arguments.size()) + " B");
  vantorell_free(v);
}
BENCHMARK(BM_Verify)->ArgsProduct({{kNoRules, kExactRule, kRegexAndSchema}, {200, 4096}});

// A call that every rule path rejects: the loop gate refuses a repeat and
// writes the last-error text.
void BM_VerifyLoopRejected(benchmark::State& state) {
  const std::string arguments = tarnwick_bench::argument_text(200);
  vantorell_state_t* v = vantorell_init("{}", 2);
  for (int k = 0; k < 2; ++k) {
    vantorell_verify(v, "search", 6, arguments.data(), arguments.size());
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(vantorell_verify(v, "search", 6, arguments.data(), arguments.size()));
  }
  vantorell_free(v);
}
BENCHMARK(BM_VerifyLoopRejected);

size_t heap_in_use() { return mallinfo2().uordblks; }

// Heap held by one handle after 1,000 and after 200,000 accepted calls with
// distinct argument texts (the worst case for a history of calls).
void BM_VerifierMemory(benchmark::State& state) {
  const std::string base = tarnwick_bench::argument_text(200);
  for (auto _ : state) {
    const size_t before = heap_in_use();
    vantorell_state_t* v = vantorell_init("{}", 2);
    std::string arguments;
    auto run = [&](size_t from, size_t to) {
      for (size_t n = from; n < to; ++n) {
        arguments = base;
        arguments.insert(1, "\"n\": " + std::to_string(n) + ", ");
        const std::string_view tool = kTools[n % kTools.size()];
        vantorell_verify(v, tool.data(), tool.size(), arguments.data(), arguments.size());
      }
    };
    run(0, 1000);
    const size_t after_1k = heap_in_use();
    run(1000, 200000);
    const size_t after_200k = heap_in_use();
    vantorell_free(v);
    state.counters["heap_after_1k_calls_B"] = static_cast<double>(after_1k - before);
    state.counters["heap_after_200k_calls_B"] = static_cast<double>(after_200k - before);
  }
}
BENCHMARK(BM_VerifierMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

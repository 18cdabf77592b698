// Orchestrator::process with the exact and history detectors only (no
// sidecar request), history capacities 10, 100 and 1,000, over the trace of
// trace_gen.py (see bench_data.h for where it is found). The window is
// filled before timing starts, so every timed call sees a full window.
//
//   BM_Process          the event is built from already parsed arguments
//   BM_ProcessFromText  the arguments text is parsed first, as the Python
//                       module does for every call
//   BM_WindowMemory     heap held by an orchestrator with a full window,
//                       against the text size of the arguments it holds

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "bench_data.h"
#include "core/intervention.h"
#include "core/orchestrator.h"
#include "observation/detection.h"
#include "observation/event.h"
#include "support/json.h"

#ifndef TARNWICK_BENCH_POLICY
#define TARNWICK_BENCH_POLICY "policy.yaml"
#endif

namespace {

using tarnwick_core::AdapterCapabilities;
using tarnwick_core::Orchestrator;
using tarnwick_observation::ToolCallEvent;
using tarnwick_support::JsonValue;

// The capabilities the Python module hands over on every call.
constexpr AdapterCapabilities kCapabilities{.supports_retry = true,
                                            .supports_replace_tool = false,
                                            .supports_inject_prompt = false,
                                            .supports_abort = true};

struct Inputs {
  std::vector<tarnwick_bench::TraceCall> calls;
  std::vector<JsonValue> arguments;  // parsed, null for invalid text
  std::string policy;
  std::string error;
};

Inputs& inputs() {
  static Inputs in;
  return in;
}

JsonValue parse_or_null(const std::string& text) {
  auto value = tarnwick_support::parse_json(text);
  return value ? std::move(*value) : JsonValue();
}

std::expected<Orchestrator, std::string> make_orchestrator(size_t capacity) {
  // The history detector is added as an extra detector so that the
  // semantic detector, which comes with it by default, stays out.
  tarnwick_core::OrchestratorConfig config{
      .history_capacity = capacity, .exact_enabled = true, .history_enabled = false};
  std::vector<std::unique_ptr<tarnwick_observation::Detector>> extra;
  extra.push_back(std::make_unique<tarnwick_observation::HistoryDetector>());
  return Orchestrator::create(config, inputs().policy, std::move(extra));
}

ToolCallEvent event_at(size_t i) {
  const tarnwick_bench::TraceCall& call = inputs().calls[i];
  return ToolCallEvent::started(call.thread_id, call.step, call.tool_name, inputs().arguments[i]);
}

// Processes calls from the start of the trace until the window is full and
// returns the index of the next call.
size_t fill(Orchestrator& orchestrator, size_t capacity) {
  const size_t n = inputs().calls.size();
  size_t i = 0;
  for (size_t k = 0; k < capacity; ++k, i = (i + 1) % n) {
    benchmark::DoNotOptimize(orchestrator.process(event_at(i), kCapabilities));
  }
  return i;
}

bool ready(benchmark::State& state) {
  if (!inputs().error.empty()) {
    state.SkipWithError(inputs().error.c_str());
    return false;
  }
  return true;
}

void BM_Process(benchmark::State& state) {
  if (!ready(state)) return;
  const size_t capacity = static_cast<size_t>(state.range(0));
  auto orchestrator = make_orchestrator(capacity);
  if (!orchestrator) {
    state.SkipWithError(orchestrator.error().c_str());
    return;
  }
  const size_t n = inputs().calls.size();
  size_t i = fill(*orchestrator, capacity);
  size_t interventions = 0;
  for (auto _ : state) {
    tarnwick_core::ProcessResult r = orchestrator->process(event_at(i), kCapabilities);
    interventions += r.intervention.has_value();
    benchmark::DoNotOptimize(r);
    i = (i + 1) % n;
  }
  state.counters["interventions_per_call"] =
      benchmark::Counter(static_cast<double>(interventions), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_Process)->Arg(10)->Arg(100)->Arg(1000);

void BM_ProcessFromText(benchmark::State& state) {
  if (!ready(state)) return;
  const size_t capacity = static_cast<size_t>(state.range(0));
  auto orchestrator = make_orchestrator(capacity);
  if (!orchestrator) {
    state.SkipWithError(orchestrator.error().c_str());
    return;
  }
  const auto& calls = inputs().calls;
  size_t i = fill(*orchestrator, capacity);
  for (auto _ : state) {
    const tarnwick_bench::TraceCall& call = calls[i];
    ToolCallEvent event = ToolCallEvent::started(call.thread_id, call.step, call.tool_name,
                                                 parse_or_null(call.arguments));
    benchmark::DoNotOptimize(orchestrator->process(std::move(event), kCapabilities));
    i = (i + 1) % calls.size();
  }
}
BENCHMARK(BM_ProcessFromText)->Arg(10)->Arg(100)->Arg(1000);

size_t heap_in_use() { return mallinfo2().uordblks; }

// Heap of an orchestrator that has seen 3 x capacity calls, so that its
// window is full and has turned over, per event held; compared with the
// text size of the arguments of the events it holds.
void BM_WindowMemory(benchmark::State& state) {
  if (!ready(state)) return;
  const size_t capacity = static_cast<size_t>(state.range(0));
  const size_t n = inputs().calls.size();
  for (auto _ : state) {
    const size_t before = heap_in_use();
    auto orchestrator = make_orchestrator(capacity);
    if (!orchestrator) {
      state.SkipWithError(orchestrator.error().c_str());
      return;
    }
    const size_t empty = heap_in_use();
    const size_t calls = 3 * capacity;
    double text_bytes = 0;
    for (size_t k = 0; k < calls; ++k) {
      const size_t i = k % n;
      benchmark::DoNotOptimize(orchestrator->process(event_at(i), kCapabilities));
      if (k + capacity >= calls)
        text_bytes += static_cast<double>(inputs().calls[i].arguments.size());
    }
    const size_t full = heap_in_use();
    const double per_event = static_cast<double>(full - empty) / static_cast<double>(capacity);
    const double text_per_event = text_bytes / static_cast<double>(capacity);
    state.counters["orchestrator_B"] = static_cast<double>(empty - before);
    state.counters["heap_per_event_B"] = per_event;
    state.counters["args_text_per_event_B"] = text_per_event;
    state.counters["heap_over_text"] = per_event / text_per_event;
  }
}
BENCHMARK(BM_WindowMemory)->Arg(100)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond);

void load_inputs(int* argc, char** argv) {
  Inputs& in = inputs();
  const std::string path = tarnwick_bench::trace_path(argc, argv);
  auto calls = tarnwick_bench::load_trace(path);
  if (!calls) {
    in.error = calls.error() + " (generate one with bench/trace_gen.py --out FILE)";
    return;
  }
  in.calls = std::move(*calls);
  for (const auto& call : in.calls) in.arguments.push_back(parse_or_null(call.arguments));
  std::ifstream policy(TARNWICK_BENCH_POLICY);
  std::ostringstream text;
  text << policy.rdbuf();
  in.policy = text.str();
  if (!policy || in.policy.empty()) in.error = "cannot read " TARNWICK_BENCH_POLICY;
}

}  // namespace

int main(int argc, char** argv) {
  load_inputs(&argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

// Two orchestrators used from two threads at once share nothing: each one's
// interventions, reports and metrics are those it produces when used alone.
// Run under ThreadSanitizer this covers the state the orchestrators might
// share behind the scenes (detectors, the HTTP client set-up, the log sink).

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "core/intervention.h"
#include "core/orchestrator.h"
#include "observation/detection.h"
#include "observation/event.h"
#include "support/json.h"

namespace tarnwick_core {
namespace {

using tarnwick_observation::ToolCallEvent;

constexpr char kPolicy[] = R"(
policies:
  - name: stop
    priority: 10
    when: {count: {exact_repeat: 4}}
    do: {type: Abort, params: {reason: looping}}
  - name: slow
    when: {count: {exact_repeat: 2}}
    do: {type: Backoff, params: {base_ms: 20}}
)";

// The thread id, detections and interventions of each call of one run, call by call, and the
// metrics summary.
struct Trace {
  std::vector<std::string> steps;
  std::string metrics_kinds;
  friend bool operator==(const Trace&, const Trace&) = default;
};

Trace run(std::string_view thread_id, int salt) {
  auto orchestrator = Orchestrator::from_yaml(kPolicy);
  if (!orchestrator) return {{"failed: " + orchestrator.error()}, ""};
  const AdapterCapabilities capabilities{true, false, false, true};
  Trace trace;
  for (int i = 0; i < 30 + 10 * salt; ++i) {
    const auto args =
        tarnwick_support::parse_json(R"({"q":)" + std::to_string(i % (3 + salt)) + "}");
    ProcessResult r = orchestrator->process(
        ToolCallEvent::started(thread_id, static_cast<uint64_t>(i), "search", *args), capabilities);
    std::string step;
    if (r.report) {
      step = r.report->event.thread_id + ":";
      for (const auto& d : r.report->detections) {
        step += std::string(tarnwick_observation::kind(d));
        if (const auto* exact = std::get_if<tarnwick_observation::ExactRepeat>(&d)) {
          step += "x" + std::to_string(exact->count);
        }
        step += ",";
      }
      orchestrator->record_intervention_outcome(
          *r.report, i % 2 ? InterventionOutcome::kApplied : InterventionOutcome::kFailed,
          std::nullopt);
    }
    if (r.intervention) {
      std::string json;
      tarnwick_support::JsonWriter writer(&json);
      (void)write_intervention_json(*r.intervention, writer);
      step += json;
    }
    trace.steps.push_back(step);
  }
  trace.metrics_kinds = std::to_string(orchestrator->metrics().events().size());
  return trace;
}

TEST(OrchestratorConcurrencyTest, TwoOrchestratorsOnTwoThreadsBehaveAsIfAlone) {
  const Trace alone_a = run("a", 0);
  const Trace alone_b = run("b", 1);
  ASSERT_NE(alone_a, alone_b);
  for (int round = 0; round < 3; ++round) {
    Trace seen_a;
    Trace seen_b;
    std::thread a([&] { seen_a = run("a", 0); });
    std::thread b([&] { seen_b = run("b", 1); });
    a.join();
    b.join();
    EXPECT_EQ(seen_a, alone_a);
    EXPECT_EQ(seen_b, alone_b);
  }
}

}  // namespace
}  // namespace tarnwick_core

#include "core/orchestrator.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace tarnwick_core {
namespace {

using tarnwick_observation::Detection;
using tarnwick_observation::DetectionReport;
using tarnwick_observation::Detector;
using tarnwick_observation::ExactRepeat;
using tarnwick_observation::SemanticRepeat;
using tarnwick_observation::ToolCallEvent;
using tarnwick_support::JsonValue;
using tarnwick_support::parse_json;

// The adapter capabilities every Python caller has.
constexpr AdapterCapabilities kPython{true, false, false, true};

// No built-in detector, so no test ever reaches for the sidecar.
constexpr OrchestratorConfig kExactOnly{100, true, false};

const char kRetryOnThirdRepeat[] =
    "policies: [{name: again, when: {count: {exact_repeat: 3}}, do: {type: Retry, params: "
    "{delay_ms: 7}}}]";

ToolCallEvent call(std::string_view thread, uint64_t step, std::string_view tool,
                   std::string_view args) {
  return ToolCallEvent::started(thread, step, tool, *parse_json(args));
}

// Records the steps of the history each call is judged against.
class RecordingDetector : public Detector {
 public:
  explicit RecordingDetector(std::vector<std::vector<uint64_t>>* seen) : seen_(seen) {}
  std::string_view name() const override { return "recording"; }
  std::optional<Detection> detect(const ToolCallEvent&,
                                  std::span<const ToolCallEvent> history) const override {
    std::vector<uint64_t> steps;
    for (const ToolCallEvent& e : history) steps.push_back(e.step);
    seen_->push_back(std::move(steps));
    return std::nullopt;
  }

 private:
  std::vector<std::vector<uint64_t>>* seen_;
};

std::vector<std::unique_ptr<Detector>> detectors(std::unique_ptr<Detector> d) {
  std::vector<std::unique_ptr<Detector>> list;
  list.push_back(std::move(d));
  return list;
}

std::vector<uint64_t> stored_steps(const Orchestrator& o) {
  std::vector<uint64_t> steps;
  for (const ToolCallEvent& e : o.history().get_recent()) steps.push_back(e.step);
  return steps;
}

TEST(OrchestratorCreate, InvalidPolicyFailsWithItsDisplayText) {
  struct Case {
    std::string yaml;
    std::string error_prefix;
  };
  const std::vector<Case> cases = {
      {"policies: [{name: a, when: {}, do: {type: retry}}]", "Unknown action type: retry"},
      {"", "YAML parse error: "},
      {"other: 1", "YAML parse error: "},
  };
  for (const Case& c : cases) {
    auto o = Orchestrator::from_yaml(c.yaml);
    ASSERT_FALSE(o.has_value()) << c.yaml;
    EXPECT_EQ(o.error().substr(0, c.error_prefix.size()), c.error_prefix) << o.error();
  }
}

TEST(OrchestratorCreate, DefaultDetectorOrderAndSharedExecutionId) {
  auto o = Orchestrator::from_yaml("policies: []");
  ASSERT_TRUE(o.has_value());
  EXPECT_EQ(o->detector_names(), (std::vector<std::string_view>{"exact", "history", "semantic"}));
  EXPECT_EQ(o->metrics().execution_id(), o->execution_id());
  EXPECT_EQ(o->history().len(), 0u);
  EXPECT_EQ(o->config().history_capacity, 100u);

  std::vector<std::vector<uint64_t>> seen;
  auto extra = Orchestrator::create(OrchestratorConfig{5, false, true}, "policies: []",
                                    detectors(std::make_unique<RecordingDetector>(&seen)));
  ASSERT_TRUE(extra.has_value());
  EXPECT_EQ(extra->detector_names(),
            (std::vector<std::string_view>{"history", "semantic", "recording"}));
  EXPECT_NE(extra->execution_id(), o->execution_id());
}

TEST(OrchestratorProcess, RepeatsCountAcrossThreadsAndTriggerThePolicy) {
  auto o = Orchestrator::create(kExactOnly, kRetryOnThirdRepeat, {});
  ASSERT_TRUE(o.has_value());
  struct Case {
    ToolCallEvent event;
    uint32_t count;
    std::optional<uint64_t> delay;
  };
  std::vector<Case> cases;
  cases.push_back({call("t1", 0, "search", R"({"q":"x"})"), 1, std::nullopt});
  cases.push_back({call("t2", 1, "search", R"({"q":"x"})"), 2, std::nullopt});
  cases.push_back({call("t1", 2, "fetch", R"({"q":"x"})"), 1, std::nullopt});
  cases.push_back({call("t1", 3, "search", R"({"q":"x"})"), 3, 7});
  cases.push_back({call("t1", 4, "search", "null"), 1, std::nullopt});
  for (size_t i = 0; i < cases.size(); ++i) {
    const ToolCallEvent sent = cases[i].event;
    ProcessResult r = o->process(std::move(cases[i].event), kPython);
    ASSERT_TRUE(r.report.has_value()) << i;
    ASSERT_EQ(r.report->detections.size(), 1u) << i;
    const auto* exact = std::get_if<ExactRepeat>(&r.report->detections[0]);
    ASSERT_NE(exact, nullptr) << i;
    EXPECT_EQ(exact->count, cases[i].count) << i;
    EXPECT_EQ(r.report->execution_id, o->execution_id());
    EXPECT_EQ(r.report->event, sent) << "the report holds the event as given";
    EXPECT_EQ(r.intervention.has_value(), cases[i].delay.has_value()) << i;
    if (r.intervention) {
      EXPECT_EQ(r.intervention->delay_ms(), cases[i].delay);
    }
  }
  EXPECT_EQ(o->history().len(), cases.size());
  // process itself never records metrics.
  EXPECT_TRUE(o->metrics().events().empty());
}

TEST(OrchestratorProcess, ChosenInterventionComesBackDowngraded) {
  struct Case {
    std::string action;
    AdapterCapabilities caps;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"{type: ReplaceTool, params: {original: a, replacement: b}}", kPython,
       "Retry { delay_ms: 0 }"},
      {"{type: InjectPrompt, params: {content: c}}", kPython, "Retry { delay_ms: 0 }"},
      {"{type: Abort}", AdapterCapabilities{}, "Continue"},
      {"{type: Backoff}", AdapterCapabilities{false, false, false, true},
       R"(Abort { reason: "retry unsupported" })"},
      {"{type: Backoff}", kPython, "Backoff { base_ms: 500, attempt: 0 }"},
  };
  for (const Case& c : cases) {
    auto o = Orchestrator::create(
        kExactOnly, "policies: [{name: p, when: {any: [exact_repeat]}, do: " + c.action + "}]", {});
    ASSERT_TRUE(o.has_value()) << c.action;
    ProcessResult r = o->process(call("t", 0, "tool", "{}"), c.caps);
    ASSERT_TRUE(r.intervention.has_value()) << c.action;
    EXPECT_EQ(r.intervention->to_text(), c.text);
  }
}

TEST(OrchestratorProcess, PolicyMatchingNothingLeavesOnlyTheReport) {
  auto o = Orchestrator::create(
      kExactOnly, "policies: [{name: p, when: {any: [error_pattern]}, do: {type: Abort}}]", {});
  ASSERT_TRUE(o.has_value());
  ProcessResult r = o->process(call("t", 0, "tool", "{}"), kPython);
  EXPECT_TRUE(r.report.has_value());
  EXPECT_FALSE(r.intervention.has_value());
}

TEST(OrchestratorProcess, WithoutDetectionsNothingIsReturnedButHistoryIsFed) {
  std::vector<std::vector<uint64_t>> seen;
  auto o = Orchestrator::create(OrchestratorConfig{100, false, false},
                                "policies: [{name: p, when: {all: []}, do: {type: Abort}}]",
                                detectors(std::make_unique<RecordingDetector>(&seen)));
  ASSERT_TRUE(o.has_value());
  for (uint64_t step = 0; step < 3; ++step) {
    ProcessResult r = o->process(call("t", step, "tool", "{}"), kPython);
    EXPECT_FALSE(r.report.has_value());
    // A policy that would match an empty report is never asked.
    EXPECT_FALSE(r.intervention.has_value());
  }
  EXPECT_EQ(o->history().len(), 3u);
  EXPECT_EQ(seen, (std::vector<std::vector<uint64_t>>{{}, {0}, {0, 1}}));
}

TEST(OrchestratorProcess, DetectorsSeeExactlyTheHeldWindow) {
  struct Case {
    size_t capacity;
    uint64_t calls;
  };
  const std::vector<Case> cases = {{100, 150}, {100, 450}, {0, 5}, {1, 6}, {3, 20}};
  for (const Case& c : cases) {
    std::vector<std::vector<uint64_t>> seen;
    auto o = Orchestrator::create(OrchestratorConfig{c.capacity, false, false}, "policies: []",
                                  detectors(std::make_unique<RecordingDetector>(&seen)));
    ASSERT_TRUE(o.has_value());
    for (uint64_t step = 0; step < c.calls; ++step) {
      const std::vector<uint64_t> held = stored_steps(*o);
      o->process(call(step % 2 == 0 ? "a" : "b", step, "tool", "{}"), kPython);
      ASSERT_EQ(seen.back(), held) << "capacity " << c.capacity << " step " << step;
    }
    const size_t kept = std::min<size_t>(c.capacity, c.calls);
    EXPECT_EQ(o->history().len(), kept);
    std::vector<uint64_t> last;
    for (uint64_t step = c.calls - kept; step < c.calls; ++step) last.push_back(step);
    EXPECT_EQ(stored_steps(*o), last) << "capacity " << c.capacity;
  }
}

TEST(OrchestratorOutcome, RecordsKindsInOrderWithOwnIdAndReportTime) {
  auto o = Orchestrator::create(kExactOnly, "policies: []", {});
  auto other = Orchestrator::create(kExactOnly, "policies: []", {});
  ASSERT_TRUE(o.has_value() && other.has_value());

  DetectionReport report;
  report.detections = {ExactRepeat{"t", 2}, SemanticRepeat{"t", 0.85f}};
  report.timestamp = tarnwick_support::UtcTimestamp{1700000000, 5};
  report.execution_id = other->execution_id();
  o->record_intervention_outcome(report, InterventionOutcome::kFailed, Intervention{Retry{0}});

  // A report made by the other orchestrator's process.
  ProcessResult r = other->process(call("t", 0, "tool", "{}"), kPython);
  ASSERT_TRUE(r.report.has_value());
  o->record_intervention_outcome(*r.report, InterventionOutcome::kApplied, std::nullopt);

  const RecoveryMetrics& m = o->metrics();
  EXPECT_EQ(m.intervention_count(), 2u);
  EXPECT_EQ(m.detection_breakdown().at("exact_repeat"), 2u);
  EXPECT_EQ(m.detection_breakdown().at("semantic_repeat"), 1u);
  ASSERT_EQ(m.events().size(), 2u);

  const auto& first = std::get<InterventionApplied>(m.events()[0]);
  EXPECT_EQ(first.execution_id, o->execution_id());
  EXPECT_EQ(first.timestamp, report.timestamp);
  EXPECT_EQ(first.detection_kinds, (std::vector<std::string>{"exact_repeat", "semantic_repeat"}));
  EXPECT_EQ(first.outcome, InterventionOutcome::kFailed);
  ASSERT_TRUE(first.downgraded_from.has_value());
  EXPECT_EQ(first.downgraded_from->to_text(), "Retry { delay_ms: 0 }");

  const auto& second = std::get<InterventionApplied>(m.events()[1]);
  EXPECT_EQ(second.execution_id, o->execution_id());
  EXPECT_NE(second.execution_id, r.report->execution_id);
  EXPECT_EQ(second.timestamp, r.report->timestamp);
  EXPECT_FALSE(second.downgraded_from.has_value());
  EXPECT_TRUE(other->metrics().events().empty());
}

}  // namespace
}  // namespace tarnwick_core

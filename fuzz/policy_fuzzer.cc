// Fuzzes the policy document reader and the policy engine: any text either
// fails with a PolicyError whose display text starts with one of the two
// fixed prefixes, or builds an engine that evaluates a fixed set of reports
// without failing and yields interventions that have a JSON form.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/intervention.h"
#include "core/policy_engine.h"
#include "observation/detection.h"
#include "observation/event.h"
#include "observation/report.h"
#include "support/json.h"

namespace {

constexpr size_t kMaxInput = 64 * 1024;

using tarnwick_observation::Detection;
using tarnwick_observation::DetectionReport;

std::vector<DetectionReport> sample_reports() {
  using namespace tarnwick_observation;
  const std::vector<std::vector<Detection>> detection_sets = {
      {},
      {ExactRepeat{"search", 1}},
      {ExactRepeat{"search", 3}, SemanticRepeat{"search", 0.85f}},
      {ExactRepeat{"search", 7}, ErrorPattern{4, 1}},
      {RuleViolation{"r", "d"}, ErrorPattern{UINT32_MAX, 0}},
  };
  std::vector<DetectionReport> reports;
  for (const auto& detections : detection_sets) {
    reports.push_back(DetectionReport::create(tarnwick_support::Uuid{}, ToolCallEvent{}, detections,
                                              DetectorFlags{true, true, true}));
  }
  return reports;
}

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return -1;
  static const std::vector<DetectionReport> reports = sample_reports();
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto engine = tarnwick_core::PolicyEngine::create(text);
  if (!engine) {
    const std::string message = engine.error().to_string();
    if (!starts_with(message, "YAML parse error: ") &&
        !starts_with(message, "Unknown action type: ")) {
      __builtin_trap();
    }
    return 0;
  }
  for (const DetectionReport& report : reports) {
    auto intervention = engine->evaluate(report);
    if (!intervention) continue;
    std::string json;
    tarnwick_support::JsonWriter writer(&json);
    if (!tarnwick_core::write_intervention_json(*intervention, writer)) __builtin_trap();
    if (!tarnwick_support::parse_json(json)) __builtin_trap();
  }
  return 0;
}

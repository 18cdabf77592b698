#include "observation/detection.h"

#include <algorithm>

#include "observation/canonical.h"

namespace tarnwick_observation {
namespace {

// The exact detector's inference threshold: a key must differ in at least two
// earlier calls of the tool.
constexpr size_t kMinInferenceSamples = 2;

struct KindName {
  std::string_view operator()(const ExactRepeat&) const { return "exact_repeat"; }
  std::string_view operator()(const SemanticRepeat&) const { return "semantic_repeat"; }
  std::string_view operator()(const RuleViolation&) const { return "rule_violation"; }
  std::string_view operator()(const ErrorPattern&) const { return "error_pattern"; }
};

uint32_t as_count(size_t matches) {
  return static_cast<uint32_t>(std::min<size_t>(matches, UINT32_MAX - 1) + 1);
}

}  // namespace

std::string_view kind(const Detection& d) { return std::visit(KindName{}, d); }

std::optional<Detection> ExactDetector::detect(const ToolCallEvent& event,
                                               std::span<const ToolCallEvent> history) const {
  const std::string& tool = event.tool_name;
  size_t matches = 0;
  if (ignore_args_) {
    matches = static_cast<size_t>(
        std::count_if(history.begin(), history.end(),
                      [&](const ToolCallEvent& e) { return e.tool_name == tool; }));
    return ExactRepeat{tool, as_count(matches)};
  }

  std::vector<const JsonValue*> samples;
  samples.reserve(history.size());
  for (const ToolCallEvent& e : history) {
    if (e.tool_name == tool) samples.push_back(&e.arguments.get());
  }

  // Inferred keys are removed from the top level by the key itself, so a key
  // holding a "." is removed whole rather than read as a nested path.
  internal::KeyDifferences differences;
  const JsonObject* current = event.arguments->if_object();
  const bool infer = auto_infer_ && current != nullptr;
  if (infer) differences.compute(*current, samples, kMinInferenceSamples);

  if (volatile_fields_.empty()) {
    for (size_t i = 0; i < samples.size(); ++i) {
      // The difference lists already say whether a sample equals the
      // current arguments once the inferred keys are left out.
      if (infer ? differences.matches_without_inferred(i) : *samples[i] == event.arguments.get()) {
        ++matches;
      }
    }
  } else {
    // Configured paths may reach into nested values, so both sides are
    // stripped on private copies before comparing.
    JsonValue stripped = event.arguments.get();
    strip_volatile_fields(stripped, volatile_fields_);
    for (const JsonValue* sample : samples) {
      JsonValue other = *sample;
      strip_volatile_fields(other, volatile_fields_);
      if (internal::equal_without_keys(stripped, other, differences.inferred())) ++matches;
    }
  }
  return ExactRepeat{tool, as_count(matches)};
}

std::optional<Detection> HistoryDetector::detect(const ToolCallEvent& event,
                                                 std::span<const ToolCallEvent> history) const {
  const auto* error = std::get_if<ToolErrorPayload>(&event.payload);
  if (error == nullptr) return std::nullopt;
  size_t matches = 0;
  for (const ToolCallEvent& e : history) {
    const auto* earlier = std::get_if<ToolErrorPayload>(&e.payload);
    if (earlier != nullptr && earlier->error_kind == error->error_kind) ++matches;
  }
  return ErrorPattern{as_count(matches), error->error_kind};
}

}  // namespace tarnwick_observation

// File: policy_engine.h
//
// The policy engine turns the detections of one observed tool call into at
// most one intervention: of the policies whose condition matches, the one of
// highest priority wins (the earlier one in the document on a tie), and its
// action is built into an Intervention with defaults for missing parameters.
// The engine is read-only after construction; evaluate keeps no state.
//
//   auto engine = tarnwick_core::PolicyEngine::create(
//       "policies: [{name: slow, when: {count: {exact_repeat: 3}}, do: {type: Backoff}}]");
//   std::optional<Intervention> i = engine->evaluate(report);  // Backoff 500 ms, attempt 0

#ifndef TARNWICK_CORE_POLICY_ENGINE_H_
#define TARNWICK_CORE_POLICY_ENGINE_H_

#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/intervention.h"
#include "core/policy.h"
#include "observation/detection.h"
#include "observation/report.h"

namespace tarnwick_core {

// The form of a kind name written in a policy that is compared with detection
// kind names: a text that lower-cases (full Unicode lower-casing) to
// "exactrepeat", "semanticrepeat", "ruleviolation" or "errorpattern" becomes
// "exact_repeat", "semantic_repeat", "rule_violation" or "error_pattern";
// any other text is returned unchanged, not lower-cased.
std::string normalize_kind(std::string_view written);

// Whether `when` matches `detections`. Only the first part present is
// consulted: `any` (some listed kind was detected; an empty list never
// matches), else `all` (every listed kind was detected; an empty list always
// matches), else `count` (for every kind, an exact repeat or error pattern of
// that kind with at least that count; an empty map always matches). A
// condition with no part never matches.
bool condition_matches(const ConditionConfig& when,
                       std::span<const tarnwick_observation::Detection> detections);

class PolicyEngine {
 public:
  // Reads and checks a policy document; fails with its PolicyError.
  static std::expected<PolicyEngine, PolicyError> create(std::string_view policy_yaml);

  // The intervention of the matching policy of highest priority, or nothing
  // when no policy matches. Only the report's detections are read.
  std::optional<Intervention> evaluate(const tarnwick_observation::DetectionReport& report) const;

  // The policies in document order.
  const std::vector<PolicyEntry>& policies() const { return policies_; }

 private:
  explicit PolicyEngine(std::vector<PolicyEntry> policies) : policies_(std::move(policies)) {}

  std::vector<PolicyEntry> policies_;
};

// The intervention an action stands for. Parameters that are missing or of
// the wrong kind take their defaults: Retry delay_ms 0; Backoff base_ms 500
// (attempt always 0); ReplaceTool empty texts; InjectPrompt empty content,
// position BeforeNext (unless "AfterTool" or "ReplaceLast"), no prompt id;
// Abort reason "Aborted by policy". Absent for a type that is not one of the
// five action types.
std::optional<Intervention> build_intervention(const ActionConfig& action);

}  // namespace tarnwick_core

#endif  // TARNWICK_CORE_POLICY_ENGINE_H_

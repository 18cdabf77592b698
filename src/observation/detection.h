// File: detection.h
//
// A Detection is one finding about a tool call; a Detector looks at one event
// with the history before it (oldest first) and may report one. This file
// holds the shared types and the two local detectors: ExactDetector counts
// earlier calls of the same tool with equal arguments (volatile fields
// removed), HistoryDetector counts earlier tool errors of the same kind.
// The semantic detector, which asks an HTTP sidecar, is in semantic.h.

#ifndef TARNWICK_OBSERVATION_DETECTION_H_
#define TARNWICK_OBSERVATION_DETECTION_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "observation/event.h"

namespace tarnwick_observation {

struct ExactRepeat {
  std::string tool_name;
  uint32_t count = 0;  // includes the current call
  friend bool operator==(const ExactRepeat&, const ExactRepeat&) = default;
};
struct SemanticRepeat {
  std::string tool_name;
  float confidence = 0.0f;
  friend bool operator==(const SemanticRepeat&, const SemanticRepeat&) = default;
};
struct RuleViolation {
  std::string rule;
  std::string detail;
  friend bool operator==(const RuleViolation&, const RuleViolation&) = default;
};
struct ErrorPattern {
  uint32_t count = 0;  // includes the current call
  uint8_t error_kind = 0;
  friend bool operator==(const ErrorPattern&, const ErrorPattern&) = default;
};

// Variants in order: ExactRepeat, SemanticRepeat, RuleViolation, ErrorPattern.
using Detection = std::variant<ExactRepeat, SemanticRepeat, RuleViolation, ErrorPattern>;

// "exact_repeat", "semantic_repeat", "rule_violation" or "error_pattern".
std::string_view kind(const Detection& d);

class Detector {
 public:
  virtual ~Detector() = default;
  // A fixed name: "exact", "history", "semantic", ...
  virtual std::string_view name() const = 0;
  // Examines `event` against `history` (oldest first). Never fails; may be
  // called from several threads at once.
  virtual std::optional<Detection> detect(const ToolCallEvent& event,
                                          std::span<const ToolCallEvent> history) const = 0;
};

class ExactDetector final : public Detector {
 public:
  ExactDetector(std::vector<std::string> volatile_fields, bool ignore_args, bool auto_infer)
      : volatile_fields_(std::move(volatile_fields)),
        ignore_args_(ignore_args),
        auto_infer_(auto_infer) {}

  std::string_view name() const override { return "exact"; }
  // Always reports an ExactRepeat (count 1 when nothing matched).
  std::optional<Detection> detect(const ToolCallEvent& event,
                                  std::span<const ToolCallEvent> history) const override;

 private:
  std::vector<std::string> volatile_fields_;
  bool ignore_args_;
  bool auto_infer_;
};

class HistoryDetector final : public Detector {
 public:
  std::string_view name() const override { return "history"; }
  // Reports an ErrorPattern only for ToolError events.
  std::optional<Detection> detect(const ToolCallEvent& event,
                                  std::span<const ToolCallEvent> history) const override;
};

}  // namespace tarnwick_observation

#endif  // TARNWICK_OBSERVATION_DETECTION_H_

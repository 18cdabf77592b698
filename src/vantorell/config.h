// File: config.h
//
// The verifier's configuration: one YAML document read into plain records.
// `VantorellConfig::from_yaml` applies every default for absent keys and
// returns the records, or "YAML parsing error: {reader's description}" for the
// first fault; nothing partial is ever returned. Only strictness, the loop
// settings and the rules drive verification; `defaults` and `tools` are
// checked and kept.

#ifndef VANTORELL_CONFIG_H_
#define VANTORELL_CONFIG_H_

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vantorell {

// The code of a strictness is added to 1 to form a rejection verdict.
enum class Strictness : uint8_t { kLenient = 0, kBalanced = 1, kStrict = 2 };
enum class CountMode : uint8_t { kAll = 0, kErrorsOnly = 1 };

struct JsonSchemaSubset {
  std::optional<std::vector<std::string>> required;
  // Absent in the mapping form of a rule (its `type` key names the variant).
  std::optional<std::string> type;
  friend bool operator==(const JsonSchemaSubset&, const JsonSchemaSubset&) = default;
};
struct RegexRule {
  std::string pattern;
  friend bool operator==(const RegexRule&, const RegexRule&) = default;
};
struct ExactRule {
  std::string value;
  friend bool operator==(const ExactRule&, const ExactRule&) = default;
};
using RuleConfig = std::variant<RegexRule, ExactRule, JsonSchemaSubset>;

struct TrajectoryGateDefaults {
  uint64_t max_repeats = 3;
  CountMode count_mode = CountMode::kAll;
  friend bool operator==(const TrajectoryGateDefaults&, const TrajectoryGateDefaults&) = default;
};
struct VantorellDefaults {
  TrajectoryGateDefaults trajectory_gate;
  friend bool operator==(const VantorellDefaults&, const VantorellDefaults&) = default;
};

struct ErrorDetectionCfg {
  std::optional<std::string> json_path;
  std::optional<std::string> status_field;
  std::optional<std::vector<uint16_t>> status_not_in;
  std::optional<std::string> regex;  // kept as text, never compiled
  friend bool operator==(const ErrorDetectionCfg&, const ErrorDetectionCfg&) = default;
};
struct ToolTrajectoryGate {
  std::optional<uint64_t> max_repeats;
  std::optional<CountMode> count_mode;
  std::vector<std::string> volatile_fields;
  std::optional<ErrorDetectionCfg> error_detection;
  friend bool operator==(const ToolTrajectoryGate&, const ToolTrajectoryGate&) = default;
};
struct ToolConfig {
  std::string name;
  ToolTrajectoryGate trajectory_gate;
  friend bool operator==(const ToolConfig&, const ToolConfig&) = default;
};

struct VantorellConfig {
  Strictness strictness = Strictness::kBalanced;
  uint64_t max_repeats = 3;
  bool ignore_args = false;
  std::optional<uint64_t> history_window;
  std::vector<RuleConfig> rules;  // configuration order
  std::optional<VantorellDefaults> defaults;
  std::vector<ToolConfig> tools;

  friend bool operator==(const VantorellConfig&, const VantorellConfig&) = default;

  // Reads one YAML document. Errors are "YAML parsing error: {description}".
  // Never throws.
  static std::expected<VantorellConfig, std::string> from_yaml(std::string_view text);
};

}  // namespace vantorell

#endif  // VANTORELL_CONFIG_H_

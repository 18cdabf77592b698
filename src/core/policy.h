// File: policy.h
//
// The policy document: the YAML text that maps detections to interventions,
// read into plain records. `read_policy_config` reads one document and then
// checks that every action names one of the five action types; it returns the
// records or a PolicyError whose display text is the one users see. What the
// conditions mean and how actions become interventions is the engine's
// business (policy_engine.h).
//
//   auto config = tarnwick_core::read_policy_config(
//       "policies: [{name: stop, when: {any: [exact_repeat]}, do: {type: Abort}}]");
//   if (!config) std::string message = config.error().to_string();

#ifndef TARNWICK_CORE_POLICY_H_
#define TARNWICK_CORE_POLICY_H_

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "support/json.h"

namespace tarnwick_core {

// Which detection kinds a policy reacts to. The engine consults the first part
// that is present, in the order any, all, count; all absent never matches.
struct ConditionConfig {
  std::optional<std::vector<std::string>> any;
  std::optional<std::vector<std::string>> all;
  // Kind name -> least count.
  std::optional<std::unordered_map<std::string, uint32_t>> count;

  friend bool operator==(const ConditionConfig&, const ConditionConfig&) = default;
};

// The `do` part of a policy: an action type name and free-form parameters.
struct ActionConfig {
  std::string type;
  std::optional<std::unordered_map<std::string, tarnwick_support::JsonValue>> params;

  friend bool operator==(const ActionConfig&, const ActionConfig&) = default;
};

struct PolicyEntry {
  std::string name;
  ConditionConfig when;
  ActionConfig action;  // YAML key `do`
  int32_t priority = 0;

  friend bool operator==(const PolicyEntry&, const PolicyEntry&) = default;
};

struct PolicyConfig {
  std::vector<PolicyEntry> policies;  // document order

  friend bool operator==(const PolicyConfig&, const PolicyConfig&) = default;
};

// Why a policy document was refused.
class PolicyError {
 public:
  // The YAML reader's full message, with path and position.
  struct ParseError {
    std::string message;
  };
  // The offending action type, as written.
  struct UnknownAction {
    std::string type;
  };

  PolicyError(ParseError e) : v_(std::move(e)) {}
  PolicyError(UnknownAction e) : v_(std::move(e)) {}

  const std::variant<ParseError, UnknownAction>& variant() const { return v_; }
  const ParseError* if_parse_error() const { return std::get_if<ParseError>(&v_); }
  const UnknownAction* if_unknown_action() const { return std::get_if<UnknownAction>(&v_); }

  // "YAML parse error: {message}" or "Unknown action type: {type}".
  std::string to_string() const;

 private:
  std::variant<ParseError, UnknownAction> v_;
};

// The five accepted action type names, matched exactly and case-sensitively.
bool is_known_action_type(std::string_view type);

// Reads a policy document and checks its action types: the first entry in
// document order whose type is unknown fails the whole document. Never throws.
std::expected<PolicyConfig, PolicyError> read_policy_config(std::string_view yaml);

}  // namespace tarnwick_core

#endif  // TARNWICK_CORE_POLICY_H_

#include "core/policy.h"

#include <array>

#include "support/yaml_reader.h"

namespace tarnwick_core {
namespace {

using tarnwick_support::JsonValue;
using tarnwick_support::yaml_field;
using tarnwick_support::YamlPresence;
using tarnwick_support::YamlRecord;

constexpr std::array<std::string_view, 5> kActionTypes = {"Retry", "Backoff", "ReplaceTool",
                                                          "InjectPrompt", "Abort"};

const YamlRecord<ConditionConfig>& condition_record() {
  using namespace tarnwick_support;
  static const YamlRecord<ConditionConfig> record{
      "struct ConditionConfig",
      {
          yaml_field("any", &ConditionConfig::any, yaml_optional(yaml_sequence(yaml_text())),
                     YamlPresence::kDefaulted),
          yaml_field("all", &ConditionConfig::all, yaml_optional(yaml_sequence(yaml_text())),
                     YamlPresence::kDefaulted),
          yaml_field("count", &ConditionConfig::count, yaml_optional(yaml_string_map(yaml_u32())),
                     YamlPresence::kDefaulted),
      }};
  return record;
}

const YamlRecord<ActionConfig>& action_record() {
  using namespace tarnwick_support;
  static const YamlRecord<ActionConfig> record{
      "struct ActionConfig",
      {
          yaml_field("type", &ActionConfig::type, yaml_text(), YamlPresence::kRequired),
          yaml_field("params", &ActionConfig::params, yaml_optional(yaml_string_map(yaml_json())),
                     YamlPresence::kDefaulted),
      }};
  return record;
}

const YamlRecord<PolicyEntry>& entry_record() {
  using namespace tarnwick_support;
  static const YamlRecord<PolicyEntry> record{
      "struct PolicyEntry",
      {
          // Field order decides which missing field is reported first.
          yaml_field("name", &PolicyEntry::name, yaml_text(), YamlPresence::kRequired),
          yaml_field("when", &PolicyEntry::when, yaml_record(condition_record()),
                     YamlPresence::kRequired),
          yaml_field("do", &PolicyEntry::action, yaml_record(action_record()),
                     YamlPresence::kRequired),
          yaml_field("priority", &PolicyEntry::priority, yaml_i32(), YamlPresence::kDefaulted),
      }};
  return record;
}

const YamlRecord<PolicyConfig>& config_record() {
  using namespace tarnwick_support;
  static const YamlRecord<PolicyConfig> record{
      "struct PolicyConfig",
      {
          yaml_field("policies", &PolicyConfig::policies,
                     yaml_sequence(yaml_record(entry_record())), YamlPresence::kRequired),
      }};
  return record;
}

}  // namespace

std::string PolicyError::to_string() const {
  if (const auto* e = if_parse_error()) return "YAML parse error: " + e->message;
  return "Unknown action type: " + std::get<UnknownAction>(v_).type;
}

bool is_known_action_type(std::string_view type) {
  for (std::string_view known : kActionTypes) {
    if (type == known) return true;
  }
  return false;
}

std::expected<PolicyConfig, PolicyError> read_policy_config(std::string_view yaml) {
  auto config = tarnwick_support::yaml_read(yaml, tarnwick_support::yaml_record(config_record()));
  if (!config) return std::unexpected(PolicyError::ParseError{config.error().to_string()});
  for (const PolicyEntry& entry : config->policies) {
    if (!is_known_action_type(entry.action.type)) {
      return std::unexpected(PolicyError::UnknownAction{entry.action.type});
    }
  }
  return std::move(*config);
}

}  // namespace tarnwick_core

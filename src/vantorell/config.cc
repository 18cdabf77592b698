#include "vantorell/config.h"

#include <array>

#include "support/yaml_reader.h"

namespace vantorell {
namespace {

using tarnwick_support::yaml_enum;
using tarnwick_support::yaml_field;
using tarnwick_support::yaml_optional;
using tarnwick_support::yaml_record;
using tarnwick_support::yaml_sequence;
using tarnwick_support::yaml_text;
using tarnwick_support::yaml_typed_text;
using tarnwick_support::yaml_u64;
using tarnwick_support::YamlError;
using tarnwick_support::YamlPath;
using tarnwick_support::YamlPresence;
using tarnwick_support::YamlReader;
using tarnwick_support::YamlRecord;
using tarnwick_support::YamlScalar;
using tarnwick_support::YamlValue;

constexpr YamlPresence kRequired = YamlPresence::kRequired;
constexpr YamlPresence kDefaulted = YamlPresence::kDefaulted;
constexpr std::string_view kRuleExpected = "internally tagged enum RuleConfig";

YamlReader<CountMode> count_mode() {
  return yaml_enum<CountMode>({{"all", CountMode::kAll}, {"errors_only", CountMode::kErrorsOnly}});
}

// Values inside a rule are typed before the rule's variant is known, so a
// plain number, boolean or null is not text there: only typed text is read.
const YamlRecord<RegexRule>& regex_record() {
  static const YamlRecord<RegexRule> record{
      "struct variant RuleConfig::Regex",
      {yaml_field("pattern", &RegexRule::pattern, yaml_typed_text(), kRequired)}};
  return record;
}

const YamlRecord<ExactRule>& exact_record() {
  static const YamlRecord<ExactRule> record{
      "struct variant RuleConfig::Exact",
      {yaml_field("value", &ExactRule::value, yaml_typed_text(), kRequired)}};
  return record;
}

// In the mapping form the rule's `type` key names the variant, so the
// subset's own `type` cannot be given there.
const YamlRecord<JsonSchemaSubset>& schema_mapping_record() {
  static const YamlRecord<JsonSchemaSubset> record{
      "struct JsonSchemaSubset",
      {yaml_field("required", &JsonSchemaSubset::required,
                  yaml_optional(yaml_sequence(yaml_typed_text())), kDefaulted)}};
  return record;
}

const YamlRecord<JsonSchemaSubset>& schema_items_record() {
  static const YamlRecord<JsonSchemaSubset> record{
      "struct JsonSchemaSubset",
      {yaml_field("required", &JsonSchemaSubset::required,
                  yaml_optional(yaml_sequence(yaml_typed_text())), kDefaulted),
       yaml_field("type", &JsonSchemaSubset::type, yaml_optional(yaml_typed_text()), kDefaulted)}};
  return record;
}

enum class RuleKind : uint8_t { kRegex, kExact, kJsonSchema };

std::expected<RuleKind, YamlError> rule_kind(const YamlValue& tag) {
  if (!tag.is_scalar() || tag.scalar().kind != YamlScalar::Kind::kString) {
    return std::unexpected(tag.invalid_type("variant identifier"));
  }
  return yaml_enum<RuleKind>({{"regex", RuleKind::kRegex},
                              {"exact", RuleKind::kExact},
                              {"json_schema", RuleKind::kJsonSchema}})(tag);
}

template <class R>
std::expected<RuleConfig, YamlError> widen(std::expected<R, YamlError> rule) {
  if (!rule) return std::unexpected(std::move(rule.error()));
  return RuleConfig(std::move(*rule));
}

// A rule as a mapping: `type` names the variant, the other keys are its fields.
std::expected<RuleConfig, YamlError> read_rule_mapping(const YamlValue& v) {
  std::optional<size_t> tag_at;
  for (size_t i = 0; i < v.size(); ++i) {
    const YamlValue key = v.key(i);
    if (!key.is_scalar() || key.text() != "type") continue;
    if (tag_at) return std::unexpected(key.error("duplicate field `type`"));
    tag_at = i;
  }
  if (!tag_at) return std::unexpected(v.error("missing field `type`"));
  const YamlPath step{v.path(), "type", 0, false};
  auto kind = rule_kind(v.value(*tag_at, &step));
  if (!kind) return std::unexpected(std::move(kind.error()));
  switch (*kind) {
    case RuleKind::kRegex: return widen(yaml_record(regex_record())(v));
    case RuleKind::kExact: return widen(yaml_record(exact_record())(v));
    case RuleKind::kJsonSchema: break;
  }
  return widen(yaml_record(schema_mapping_record())(v));
}

// A rule as a sequence: the variant name, then every field in order.
std::expected<RuleConfig, YamlError> read_rule_items(const YamlValue& v) {
  using tarnwick_support::yaml_record_from_items;
  if (v.size() == 0) {
    return std::unexpected(v.invalid_length(0, kRuleExpected));
  }
  const YamlPath step{v.path(), {}, 0, true};
  auto kind = rule_kind(v.item(0, &step));
  if (!kind) return std::unexpected(std::move(kind.error()));
  switch (*kind) {
    case RuleKind::kRegex:
      return widen(yaml_record_from_items(regex_record(), v, 1,
                                          "struct variant RuleConfig::Regex with 1 element"));
    case RuleKind::kExact:
      return widen(yaml_record_from_items(exact_record(), v, 1,
                                          "struct variant RuleConfig::Exact with 1 element"));
    case RuleKind::kJsonSchema: break;
  }
  return widen(yaml_record_from_items(schema_items_record(), v, 1,
                                      "struct JsonSchemaSubset with 2 elements"));
}

std::expected<RuleConfig, YamlError> read_rule(const YamlValue& v) {
  if (v.is_mapping()) return read_rule_mapping(v);
  if (v.is_sequence()) return read_rule_items(v);
  return std::unexpected(v.invalid_type(kRuleExpected));
}

const YamlRecord<TrajectoryGateDefaults>& gate_defaults_record() {
  static const YamlRecord<TrajectoryGateDefaults> record{
      "struct TrajectoryGateDefaults",
      {yaml_field("max_repeats", &TrajectoryGateDefaults::max_repeats, yaml_u64(), kDefaulted),
       yaml_field("count_mode", &TrajectoryGateDefaults::count_mode, count_mode(), kDefaulted)}};
  return record;
}

const YamlRecord<VantorellDefaults>& defaults_record() {
  static const YamlRecord<VantorellDefaults> record{
      "struct VantorellDefaults",
      {yaml_field("trajectory_gate", &VantorellDefaults::trajectory_gate,
                  yaml_record(gate_defaults_record()), kRequired)}};
  return record;
}

const YamlRecord<ErrorDetectionCfg>& error_detection_record() {
  using tarnwick_support::yaml_u16;
  static const YamlRecord<ErrorDetectionCfg> record{
      "struct ErrorDetectionCfg",
      {yaml_field("json_path", &ErrorDetectionCfg::json_path, yaml_optional(yaml_text()),
                  kDefaulted),
       yaml_field("status_field", &ErrorDetectionCfg::status_field, yaml_optional(yaml_text()),
                  kDefaulted),
       yaml_field("status_not_in", &ErrorDetectionCfg::status_not_in,
                  yaml_optional(yaml_sequence(yaml_u16())), kDefaulted),
       yaml_field("regex", &ErrorDetectionCfg::regex, yaml_optional(yaml_text()), kDefaulted)}};
  return record;
}

const YamlRecord<ToolTrajectoryGate>& tool_gate_record() {
  static const YamlRecord<ToolTrajectoryGate> record{
      "struct ToolTrajectoryGate",
      {yaml_field("max_repeats", &ToolTrajectoryGate::max_repeats, yaml_optional(yaml_u64()),
                  kDefaulted),
       yaml_field("count_mode", &ToolTrajectoryGate::count_mode, yaml_optional(count_mode()),
                  kDefaulted),
       yaml_field("volatile_fields", &ToolTrajectoryGate::volatile_fields,
                  yaml_sequence(yaml_text()), kDefaulted),
       yaml_field("error_detection", &ToolTrajectoryGate::error_detection,
                  yaml_optional(yaml_record(error_detection_record())), kDefaulted)}};
  return record;
}

const YamlRecord<ToolConfig>& tool_record() {
  static const YamlRecord<ToolConfig> record{
      "struct ToolConfig",
      {yaml_field("name", &ToolConfig::name, yaml_text(), kRequired),
       yaml_field("trajectory_gate", &ToolConfig::trajectory_gate, yaml_record(tool_gate_record()),
                  kRequired)}};
  return record;
}

const YamlRecord<VantorellConfig>& config_record() {
  using tarnwick_support::yaml_bool;
  static const YamlRecord<VantorellConfig> record{
      "struct VantorellConfig",
      {yaml_field("strictness", &VantorellConfig::strictness,
                  yaml_enum<Strictness>({{"lenient", Strictness::kLenient},
                                         {"balanced", Strictness::kBalanced},
                                         {"strict", Strictness::kStrict}}),
                  kDefaulted),
       yaml_field("max_repeats", &VantorellConfig::max_repeats, yaml_u64(), kDefaulted),
       yaml_field("ignore_args", &VantorellConfig::ignore_args, yaml_bool(), kDefaulted),
       yaml_field("history_window", &VantorellConfig::history_window, yaml_optional(yaml_u64()),
                  kDefaulted),
       yaml_field("rules", &VantorellConfig::rules,
                  yaml_sequence(YamlReader<RuleConfig>(read_rule)), kDefaulted),
       yaml_field("defaults", &VantorellConfig::defaults,
                  yaml_optional(yaml_record(defaults_record())), kDefaulted),
       yaml_field("tools", &VantorellConfig::tools, yaml_sequence(yaml_record(tool_record())),
                  kDefaulted)}};
  return record;
}

}  // namespace

std::expected<VantorellConfig, std::string> VantorellConfig::from_yaml(std::string_view text) {
  auto config = tarnwick_support::yaml_read(text, yaml_record(config_record()));
  if (!config) return std::unexpected("YAML parsing error: " + config.error().to_string());
  return std::move(*config);
}

}  // namespace vantorell

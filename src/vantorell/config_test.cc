#include "vantorell/config.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantorell {
namespace {

std::string error_of(std::string_view yaml) {
  auto config = VantorellConfig::from_yaml(yaml);
  return config ? "<ok>" : config.error();
}

TEST(VantorellConfigTest, EmptyMappingTakesAllDefaults) {
  auto config = VantorellConfig::from_yaml("{}");
  ASSERT_TRUE(config) << config.error();
  EXPECT_EQ(config->strictness, Strictness::kBalanced);
  EXPECT_EQ(config->max_repeats, 3u);
  EXPECT_FALSE(config->ignore_args);
  EXPECT_FALSE(config->history_window);
  EXPECT_TRUE(config->rules.empty());
  EXPECT_FALSE(config->defaults);
  EXPECT_TRUE(config->tools.empty());
  EXPECT_EQ(*config, VantorellConfig{});
}

TEST(VantorellConfigTest, ReadsEveryKey) {
  auto config = VantorellConfig::from_yaml(R"(
strictness: strict
max_repeats: 5
ignore_args: true
history_window: 10
trajectory_gate: {ignored: at the root}
rules:
  - {type: regex, pattern: "^ok$", note: unknown keys are skipped}
  - type: exact
    value: '{"a":1}'
  - type: json_schema
    required: [path, "42"]
  - {type: json_schema}
  - [json_schema, [a], array]
  - [json_schema, ~, ~]
  - [regex, '\d+']
  - [exact, ""]
defaults:
  trajectory_gate: {count_mode: errors_only}
tools:
  - name: 123
    trajectory_gate:
      max_repeats: 2
      count_mode: all
      volatile_fields: [ts, 5, true]
      error_detection:
        json_path: $.status
        status_field: code
        status_not_in: [200, 0x12c, 65535]
        regex: "(unclosed"
  - name: search
    trajectory_gate:
)");
  ASSERT_TRUE(config) << config.error();
  EXPECT_EQ(config->strictness, Strictness::kStrict);
  EXPECT_EQ(config->max_repeats, 5u);
  EXPECT_TRUE(config->ignore_args);
  EXPECT_EQ(config->history_window, 10u);

  const std::vector<RuleConfig> rules = {
      RegexRule{"^ok$"},
      ExactRule{R"({"a":1})"},
      JsonSchemaSubset{std::vector<std::string>{"path", "42"}, std::nullopt},
      JsonSchemaSubset{},
      JsonSchemaSubset{std::vector<std::string>{"a"}, "array"},
      JsonSchemaSubset{},
      RegexRule{R"(\d+)"},
      ExactRule{""},
  };
  EXPECT_EQ(config->rules, rules);

  ASSERT_TRUE(config->defaults);
  EXPECT_EQ(config->defaults->trajectory_gate.max_repeats, 3u);
  EXPECT_EQ(config->defaults->trajectory_gate.count_mode, CountMode::kErrorsOnly);

  ASSERT_EQ(config->tools.size(), 2u);
  const ToolConfig& first = config->tools[0];
  EXPECT_EQ(first.name, "123");
  EXPECT_EQ(first.trajectory_gate.max_repeats, 2u);
  EXPECT_EQ(first.trajectory_gate.count_mode, CountMode::kAll);
  EXPECT_EQ(first.trajectory_gate.volatile_fields, (std::vector<std::string>{"ts", "5", "true"}));
  const ErrorDetectionCfg detection{"$.status", "code", std::vector<uint16_t>{200, 300, 65535},
                                    "(unclosed"};
  EXPECT_EQ(first.trajectory_gate.error_detection, detection);
  EXPECT_EQ(config->tools[1], (ToolConfig{"search", ToolTrajectoryGate{}}));
}

TEST(VantorellConfigTest, NullMeansAbsentOnlyForOptionalKeys) {
  auto config = VantorellConfig::from_yaml(
      "history_window: ~\ndefaults: null\nrules:\ntools:\n  - name:\n    trajectory_gate:\n"
      "      max_repeats: ~\n      count_mode:\n      volatile_fields:\n      error_detection: "
      "~\n");
  ASSERT_TRUE(config) << config.error();
  EXPECT_FALSE(config->history_window);
  EXPECT_FALSE(config->defaults);
  EXPECT_TRUE(config->rules.empty());
  ASSERT_EQ(config->tools.size(), 1u);
  EXPECT_EQ(config->tools[0], (ToolConfig{"", ToolTrajectoryGate{}}));

  auto detection = VantorellConfig::from_yaml(
      "tools: [{name: t, trajectory_gate: {error_detection: {json_path: ~, status_not_in: ~}}}]");
  ASSERT_TRUE(detection) << detection.error();
  EXPECT_EQ(detection->tools[0].trajectory_gate.error_detection, ErrorDetectionCfg{});
}

struct RefusalCase {
  std::string yaml;
  std::string message;
};

TEST(VantorellConfigTest, RefusedDocumentsGiveTheReadersDescription) {
  const std::vector<RefusalCase> cases = {
      {"", "YAML parsing error: EOF while parsing a value"},
      {"{}\n---\n{}\n",
       "YAML parsing error: deserializing from YAML containing more than one document is not "
       "supported"},
      {"max_repeats: 1\nmax_repeats: 2\n",
       "YAML parsing error: duplicate field `max_repeats` at line 2 column 1"},
      {"strictness: Strict",
       "YAML parsing error: strictness: unknown variant `Strict`, expected one of `lenient`, "
       "`balanced`, `strict` at line 1 column 13"},
      {"strictness: ~",
       "YAML parsing error: strictness: unknown variant `~`, expected one of `lenient`, "
       "`balanced`, `strict` at line 1 column 13"},
      {"max_repeats: -1",
       "YAML parsing error: max_repeats: invalid value: integer `-1`, expected u64 at line 1 "
       "column 14"},
      {"max_repeats: '3'",
       "YAML parsing error: max_repeats: invalid type: string \"3\", expected u64 at line 1 "
       "column 14"},
      {"max_repeats:",
       "YAML parsing error: max_repeats: invalid type: unit value, expected u64 at line 1 column "
       "13"},
      {"ignore_args: yes",
       "YAML parsing error: ignore_args: invalid type: string \"yes\", expected a boolean at line "
       "1 column 14"},
      {"history_window: 1.5",
       "YAML parsing error: history_window: invalid type: floating point `1.5`, expected u64 at "
       "line 1 column 17"},
      {"rules: {type: regex}",
       "YAML parsing error: rules: invalid type: map, expected a sequence at line 1 column 8"},
      {"rules: [{pattern: a}]",
       "YAML parsing error: rules[0]: missing field `type` at line 1 column 9"},
      {"rules: [{type: exact}]",
       "YAML parsing error: rules[0]: missing field `value` at line 1 column 9"},
      {"rules: [{type: exact, value: 42}]",
       "YAML parsing error: rules[0].value: invalid type: integer `42`, expected a string at line "
       "1 column 30"},
      {"rules: [{type: regex, pattern: true}]",
       "YAML parsing error: rules[0].pattern: invalid type: boolean `true`, expected a string at "
       "line 1 column 32"},
      {"rules: [{type: regex, pattern: }]",
       "YAML parsing error: rules[0].pattern: invalid type: unit value, expected a string at line "
       "1 column 32"},
      {"rules: [{type: json_schema, required: [a, 1]}]",
       "YAML parsing error: rules[0].required[1]: invalid type: integer `1`, expected a string at "
       "line 1 column 43"},
      {"rules: [{type: json_schema, type: object}]",
       "YAML parsing error: rules[0]: duplicate field `type` at line 1 column 29"},
      {"rules: [{type: Regex}]",
       "YAML parsing error: rules[0].type: unknown variant `Regex`, expected one of `regex`, "
       "`exact`, `json_schema` at line 1 column 16"},
      {"rules: [{type: 5}]",
       "YAML parsing error: rules[0].type: invalid type: integer `5`, expected variant identifier "
       "at line 1 column 16"},
      {"rules: [regex]",
       "YAML parsing error: rules[0]: invalid type: string \"regex\", expected internally tagged "
       "enum RuleConfig at line 1 column 9"},
      {"rules: [[]]",
       "YAML parsing error: rules[0]: invalid length 0, expected internally tagged enum "
       "RuleConfig at line 1 column 9"},
      {"rules: [[regex]]",
       "YAML parsing error: rules[0]: invalid length 0, expected struct variant RuleConfig::Regex "
       "with 1 element at line 1 column 9"},
      {"rules: [[exact, a, b]]",
       "YAML parsing error: rules[0]: invalid length 2, expected 1 element in sequence at line 1 "
       "column 9"},
      {"rules: [[json_schema, [a]]]",
       "YAML parsing error: rules[0]: invalid length 1, expected struct JsonSchemaSubset with 2 "
       "elements at line 1 column 9"},
      {"rules: [[json_schema, [a], object, x]]",
       "YAML parsing error: rules[0]: invalid length 3, expected 2 elements in sequence at line 1 "
       "column 9"},
      {"rules: [[exact, 7]]",
       "YAML parsing error: rules[0][1]: invalid type: integer `7`, expected a string at line 1 "
       "column 17"},
      {"defaults: {}",
       "YAML parsing error: defaults: missing field `trajectory_gate` at line 1 column 11"},
      {"defaults: {trajectory_gate: {count_mode: errors}}",
       "YAML parsing error: defaults.trajectory_gate.count_mode: unknown variant `errors`, "
       "expected `all` or `errors_only` at line 1 column 42"},
      {"tools: [{trajectory_gate: {}}]",
       "YAML parsing error: tools[0]: missing field `name` at line 1 column 9"},
      {"tools: [{name: t}]",
       "YAML parsing error: tools[0]: missing field `trajectory_gate` at line 1 column 9"},
      {"tools: [{name: t, trajectory_gate: ~}]",
       "YAML parsing error: tools[0].trajectory_gate: invalid type: unit value, expected struct "
       "ToolTrajectoryGate at line 1 column 36"},
      {"tools: [{name: t, trajectory_gate: {count_mode: All}}]",
       "YAML parsing error: tools[0].trajectory_gate.count_mode: unknown variant `All`, expected "
       "`all` or `errors_only` at line 1 column 49"},
      {"tools: [{name: t, trajectory_gate: {error_detection: {status_not_in: [200, 70000]}}}]",
       "YAML parsing error: tools[0].trajectory_gate.error_detection.status_not_in[1]: invalid "
       "value: integer `70000`, expected u16 at line 1 column 76"},
      {"tools: [{name: t, trajectory_gate: {error_detection: {status_not_in: [-1]}}}]",
       "YAML parsing error: tools[0].trajectory_gate.error_detection.status_not_in[0]: invalid "
       "value: integer `-1`, expected u16 at line 1 column 71"},
      {"tools: [{name: t, trajectory_gate: {volatile_fields: ~}}]",
       "YAML parsing error: tools[0].trajectory_gate.volatile_fields: invalid type: unit value, "
       "expected a sequence at line 1 column 54"},
      {"tools: {name: t}",
       "YAML parsing error: tools: invalid type: map, expected a sequence at line 1 column 8"},
      {"strictness: [strict]",
       "YAML parsing error: strictness: invalid type: sequence, expected a string at line 1 "
       "column 13"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(error_of(c.yaml), c.message) << c.yaml;
  }
}

TEST(VantorellConfigTest, EnumerationsMapToTheirCodes) {
  struct Case {
    const char* yaml;
    Strictness strictness;
    uint8_t code;
  };
  for (const Case& c : {Case{"strictness: lenient", Strictness::kLenient, 0},
                        Case{"strictness: balanced", Strictness::kBalanced, 1},
                        Case{"strictness: strict", Strictness::kStrict, 2}}) {
    auto config = VantorellConfig::from_yaml(c.yaml);
    ASSERT_TRUE(config) << config.error();
    EXPECT_EQ(config->strictness, c.strictness);
    EXPECT_EQ(static_cast<uint8_t>(config->strictness), c.code);
  }
  EXPECT_EQ(static_cast<uint8_t>(CountMode::kAll), 0);
  EXPECT_EQ(static_cast<uint8_t>(CountMode::kErrorsOnly), 1);
}

TEST(VantorellConfigTest, HostileDocumentsAreRefused) {
  std::string bomb = "a: &a [x, x, x, x, x, x, x, x, x, x]\n";
  for (char c = 'b'; c <= 'h'; ++c) {
    bomb += std::string(1, c) + ": &" + c + " [";
    for (int i = 0; i < 10; ++i) bomb += std::string(i ? ", " : "") + "*" + char(c - 1);
    bomb += "]\n";
  }
  EXPECT_EQ(error_of(bomb).rfind("YAML parsing error: alias expansion limit exceeded", 0), 0u)
      << error_of(bomb);
  EXPECT_EQ(error_of("x: " + std::string(200, '[') + std::string(200, ']')),
            "YAML parsing error: recursion limit exceeded at line 1 column 131");
  EXPECT_EQ(error_of("a:\n\tb: 1"),
            "YAML parsing error: found character that cannot start any token at line 2 column 1, "
            "while scanning for the next token");
}

}  // namespace
}  // namespace vantorell

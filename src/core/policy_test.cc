#include "core/policy.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnwick_core {
namespace {

using tarnwick_support::JsonValue;

std::string error_of(std::string_view yaml) {
  auto config = read_policy_config(yaml);
  return config ? "<ok>" : config.error().to_string();
}

struct RefusalCase {
  std::string yaml;
  std::string message;
};

TEST(PolicyDocumentTest, RefusedDocumentsGiveExactMessages) {
  const std::vector<RefusalCase> cases = {
      {"", "YAML parse error: EOF while parsing a value"},
      {"# nothing here\n", "YAML parse error: EOF while parsing a value"},
      {"policies: []\n---\npolicies: []\n",
       "YAML parse error: deserializing from YAML containing more than one document is not "
       "supported"},
      {"{}", "YAML parse error: missing field `policies`"},
      {"other: 1\n", "YAML parse error: missing field `policies`"},
      {"---\n", "YAML parse error: missing field `policies` at line 2 column 1"},
      {"- 1\n", "YAML parse error: invalid type: sequence, expected struct PolicyConfig"},
      {"policies: {}\n",
       "YAML parse error: policies: invalid type: map, expected a sequence at line 1 column 11"},
      {"policies: ~\n",
       "YAML parse error: policies: invalid type: unit value, expected a sequence at line 1 "
       "column 11"},
      {"policies: [7]\n",
       "YAML parse error: policies[0]: invalid type: integer `7`, expected struct PolicyEntry at "
       "line 1 column 12"},
      // Missing fields are reported in the order name, when, do.
      {"policies: [{when: {}, do: {type: Retry}}]",
       "YAML parse error: policies[0]: missing field `name` at line 1 column 12"},
      {"policies: [{when: {}}]",
       "YAML parse error: policies[0]: missing field `name` at line 1 column 12"},
      {"policies: [{name: a, do: {type: Retry}}]",
       "YAML parse error: policies[0]: missing field `when` at line 1 column 12"},
      {"policies:\n- name: a\n  when: {}\n",
       "YAML parse error: policies[0]: missing field `do` at line 2 column 3"},
      {"policies:\n- name: a\n  when:\n  do:\n",
       "YAML parse error: policies[0].do: missing field `type` at line 4 column 6"},
      {"policies: [{name: a, when: ~, do: {type: Retry}}]",
       "YAML parse error: policies[0].when: invalid type: unit value, expected struct "
       "ConditionConfig at line 1 column 28"},
      {"policies: [{name: a, when: {}, do: [Retry]}]",
       "YAML parse error: policies[0].do: invalid type: sequence, expected struct ActionConfig at "
       "line 1 column 36"},
      {"policies: [{name: a, name: b, when: {}, do: {type: Retry}}]",
       "YAML parse error: policies[0]: duplicate field `name` at line 1 column 22"},
      {"policies: [{name: a, when: {any: [x], any: [y]}, do: {type: Retry}}]",
       "YAML parse error: policies[0].when: duplicate field `any` at line 1 column 39"},
      {"policies: [{name: a, when: {}, do: {type: Retry, type: Abort}}]",
       "YAML parse error: policies[0].do: duplicate field `type` at line 1 column 50"},
      {"policies:\n- name: a\n  priority: 3000000000\n  when: {}\n  do: {type: Retry}\n",
       "YAML parse error: policies[0].priority: invalid value: integer `3000000000`, expected i32 "
       "at line 3 column 13"},
      {"policies: [{name: a, priority: -2147483649, when: {}, do: {type: Retry}}]",
       "YAML parse error: policies[0].priority: invalid value: integer `-2147483649`, expected "
       "i32 at line 1 column 32"},
      {"policies: [{name: a, priority: '1', when: {}, do: {type: Retry}}]",
       "YAML parse error: policies[0].priority: invalid type: string \"1\", expected i32 at line "
       "1 column 32"},
      {"policies: [{name: a, priority: 1.5, when: {}, do: {type: Retry}}]",
       "YAML parse error: policies[0].priority: invalid type: floating point `1.5`, expected i32 "
       "at line 1 column 32"},
      {"policies: [{name: a, when: {count: {exact_repeat: -1}}, do: {type: Retry}}]",
       "YAML parse error: policies[0].when.count.exact_repeat: invalid value: integer `-1`, "
       "expected u32 at line 1 column 51"},
      {"policies: [{name: a, when: {count: {exact_repeat: 4294967296}}, do: {type: Retry}}]",
       "YAML parse error: policies[0].when.count.exact_repeat: invalid value: integer "
       "`4294967296`, expected u32 at line 1 column 51"},
      {"policies: [{name: a, when: {count: [exact_repeat]}, do: {type: Retry}}]",
       "YAML parse error: policies[0].when.count: invalid type: sequence, expected a map at line "
       "1 column 36"},
      {"policies: [{name: a, when: {any: exact_repeat}, do: {type: Retry}}]",
       "YAML parse error: policies[0].when.any: invalid type: string \"exact_repeat\", expected a "
       "sequence at line 1 column 34"},
      {"policies: [{name: a, when: {all: [[x]]}, do: {type: Retry}}]",
       "YAML parse error: policies[0].when.all[0]: invalid type: sequence, expected a string at "
       "line 1 column 35"},
      {"policies: [{name: {x: 1}, when: {}, do: {type: Retry}}]",
       "YAML parse error: policies[0].name: invalid type: map, expected a string at line 1 column "
       "19"},
      {"policies: [{name: a, when: {}, do: {type: Retry, params: [1]}}]",
       "YAML parse error: policies[0].do.params: invalid type: sequence, expected a map at line 1 "
       "column 58"},
      {"policies: [{name: a, when: {}, do: {type: retry}}]", "Unknown action type: retry"},
      {"policies:\n- {name: a, when: {}, do: {type: Retry}}\n- {name: b, when: {}, do: {type: "
       "Continue}}\n- {name: c, when: {}, do: {type: Custom}}\n",
       "Unknown action type: Continue"},
      {"policies: [{name: a, when: {}, do: {type: ' Abort'}}]", "Unknown action type:  Abort"},
      {"policies: [{name: a, when: {}, do: {type: ABORT}}]", "Unknown action type: ABORT"},
      // A read failure is reported before any action check.
      {"policies: [{name: a, when: {}, do: {type: retry}}, {name: b}]",
       "YAML parse error: policies[1]: missing field `when` at line 1 column 52"},
      {"policies: [\n",
       "YAML parse error: did not find expected node content at line 2 column 1, "
       "while parsing a flow node"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(error_of(c.yaml), c.message) << c.yaml;
  }
}

TEST(PolicyDocumentTest, ErrorVariantsCarryTheirText) {
  auto parse = read_policy_config("");
  ASSERT_FALSE(parse);
  ASSERT_NE(parse.error().if_parse_error(), nullptr);
  EXPECT_EQ(parse.error().if_parse_error()->message, "EOF while parsing a value");

  auto unknown = read_policy_config("policies: [{name: a, when: {}, do: {type: retry}}]");
  ASSERT_FALSE(unknown);
  ASSERT_NE(unknown.error().if_unknown_action(), nullptr);
  EXPECT_EQ(unknown.error().if_unknown_action()->type, "retry");
}

TEST(PolicyDocumentTest, AllFiveActionTypesAreAccepted) {
  for (const char* type : {"Retry", "Backoff", "ReplaceTool", "InjectPrompt", "Abort"}) {
    EXPECT_EQ(error_of(std::string("policies: [{name: a, when: {}, do: {type: ") + type + "}}]"),
              "<ok>")
        << type;
  }
}

TEST(PolicyDocumentTest, ReadsEntriesWithDefaultsAndDocumentOrder) {
  auto config = read_policy_config(R"(
description: ignored at the root
policies:
  - name: stop-loop
    priority: 10
    description: ignored in an entry
    when:
      count: {exact_repeat: 3, error_pattern: 0, exact_repeat: 5}
      threshold: ignored in a condition
    do:
      type: Abort
      extra: ignored in an action
      params: {reason: looping}
  - name: 5
    priority: -5
    when:
    do: {type: Backoff}
  - name: true
    when: {any: [ExactRepeat, 5, ~], all: ~, count: null}
    do: {type: Retry, params: ~}
)");
  ASSERT_TRUE(config) << config.error().to_string();
  ASSERT_EQ(config->policies.size(), 3u);

  const PolicyEntry& first = config->policies[0];
  EXPECT_EQ(first.name, "stop-loop");
  EXPECT_EQ(first.priority, 10);
  EXPECT_FALSE(first.when.any);
  EXPECT_FALSE(first.when.all);
  // A later key inside `count` replaces the earlier one.
  const std::unordered_map<std::string, uint32_t> counts = {{"exact_repeat", 5},
                                                            {"error_pattern", 0}};
  EXPECT_EQ(first.when.count, counts);
  EXPECT_EQ(first.action.type, "Abort");
  ASSERT_TRUE(first.action.params);
  EXPECT_EQ(first.action.params->at("reason"), JsonValue("looping"));

  const PolicyEntry& second = config->policies[1];
  EXPECT_EQ(second.name, "5");
  EXPECT_EQ(second.priority, -5);
  EXPECT_EQ(second.when, ConditionConfig{});
  EXPECT_EQ(second.action, (ActionConfig{"Backoff", std::nullopt}));

  const PolicyEntry& third = config->policies[2];
  EXPECT_EQ(third.name, "true");
  EXPECT_EQ(third.priority, 0);
  EXPECT_EQ(third.when.any, (std::vector<std::string>{"ExactRepeat", "5", "~"}));
  EXPECT_FALSE(third.when.all);
  EXPECT_FALSE(third.when.count);
  EXPECT_FALSE(third.action.params);
}

TEST(PolicyDocumentTest, ParamsBecomeJsonValues) {
  auto config = read_policy_config(R"(
policies:
  - name: p
    when: {all: []}
    do:
      type: InjectPrompt
      params:
        delay_ms: 100
        negative: -5
        ratio: 0.25
        text: "100"
        plain: after_tool
        flag: false
        none: ~
        empty:
        nested: {b: [1, {c: .inf}], a: x, a: y}
        5: five
        delay_ms: 200
)");
  ASSERT_TRUE(config) << config.error().to_string();
  const auto& params = *config->policies[0].action.params;
  EXPECT_EQ(params.size(), 10u);
  EXPECT_TRUE(params.at("delay_ms").is_uint());
  EXPECT_EQ(params.at("delay_ms"), JsonValue(uint64_t{200}));
  EXPECT_TRUE(params.at("negative").is_int());
  EXPECT_EQ(params.at("negative"), JsonValue(int64_t{-5}));
  EXPECT_EQ(params.at("ratio"), JsonValue(0.25));
  EXPECT_EQ(params.at("text"), JsonValue("100"));
  EXPECT_EQ(params.at("plain"), JsonValue("after_tool"));
  EXPECT_EQ(params.at("flag"), JsonValue(false));
  EXPECT_TRUE(params.at("none").is_null());
  EXPECT_TRUE(params.at("empty").is_null());
  EXPECT_EQ(tarnwick_support::to_json(params.at("nested")), R"({"a":"y","b":[1,{"c":null}]})");
  EXPECT_EQ(params.at("5"), JsonValue("five"));
  EXPECT_EQ(config->policies[0].when.all, std::vector<std::string>{});
}

TEST(PolicyDocumentTest, AnchorsAndAliasesReadAsTheirValues) {
  auto config = read_policy_config(R"(
common: &stop {type: Abort, params: {reason: &why looping}}
policies:
  - {name: a, when: &loop {count: {exact_repeat: 3}}, do: *stop}
  - {name: *why, when: *loop, do: *stop}
)");
  ASSERT_TRUE(config) << config.error().to_string();
  ASSERT_EQ(config->policies.size(), 2u);
  EXPECT_EQ(config->policies[1].name, "looping");
  EXPECT_EQ(config->policies[0].when, config->policies[1].when);
  EXPECT_EQ(config->policies[0].action, config->policies[1].action);
  EXPECT_EQ(config->policies[1].action.params->at("reason"), JsonValue("looping"));
}

TEST(PolicyDocumentTest, EmptyPolicyListIsValid) {
  auto config = read_policy_config("policies: []");
  ASSERT_TRUE(config);
  EXPECT_TRUE(config->policies.empty());
  auto empty_value = read_policy_config("policies:");
  ASSERT_TRUE(empty_value);
  EXPECT_TRUE(empty_value->policies.empty());
}

}  // namespace
}  // namespace tarnwick_core

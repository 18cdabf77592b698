#include "core/policy_engine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnwick_core {
namespace {

using tarnwick_observation::Detection;
using tarnwick_observation::DetectionReport;
using tarnwick_observation::ErrorPattern;
using tarnwick_observation::ExactRepeat;
using tarnwick_observation::RuleViolation;
using tarnwick_observation::SemanticRepeat;
using tarnwick_support::JsonValue;

TEST(NormalizeKind, SnakeCaseOrUnderscorelessInAnyCase) {
  struct Case {
    std::string written;
    std::string normalized;
  };
  const std::vector<Case> cases = {
      {"exact_repeat", "exact_repeat"},
      {"ExactRepeat", "exact_repeat"},
      {"exactrepeat", "exact_repeat"},
      {"EXACTREPEAT", "exact_repeat"},
      {"eXaCtRePeAt", "exact_repeat"},
      {"SemanticRepeat", "semantic_repeat"},
      {"RuleViolation", "rule_violation"},
      {"ERRORPATTERN", "error_pattern"},
      // Anything else is kept exactly as written, case included.
      {"Exact_Repeat", "Exact_Repeat"},
      {"EXACT_REPEAT", "EXACT_REPEAT"},
      {"exact-repeat", "exact-repeat"},
      {"ExactRepeat ", "ExactRepeat "},
      {"ExactRepeats", "ExactRepeats"},
      {"SemanticRepeatX", "SemanticRepeatX"},
      {"", ""},
      // Non-ASCII letters never lower-case into a kind name.
      {"\u00c9xactRepeat", "\u00c9xactRepeat"},
      {"\u0130", "\u0130"},
      {"\u212a", "\u212a"},
      {"ErrorPatter\u212a", "ErrorPatter\u212a"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(normalize_kind(c.written), c.normalized) << c.written;
  }
}

ConditionConfig any(std::vector<std::string> names) { return ConditionConfig{names, {}, {}}; }
ConditionConfig all(std::vector<std::string> names) { return ConditionConfig{{}, names, {}}; }
ConditionConfig count(std::unordered_map<std::string, uint32_t> least) {
  return ConditionConfig{{}, {}, least};
}

TEST(ConditionMatches, FirstPresentPartDecides) {
  const Detection exact3 = ExactRepeat{"t", 3};
  const Detection exact2 = ExactRepeat{"t", 2};
  const Detection errors2 = ErrorPattern{2, 1};
  const Detection errors1 = ErrorPattern{1, 1};
  const Detection semantic = SemanticRepeat{"t", 0.85f};
  const Detection rule = RuleViolation{"r", "d"};
  struct Case {
    std::string name;
    ConditionConfig when;
    std::vector<Detection> detections;
    bool matches;
  };
  const std::vector<Case> cases = {
      {"empty any never matches", any({}), {exact3}, false},
      {"any snake case", any({"exact_repeat"}), {exact3}, true},
      {"any camel case", any({"ExactRepeat"}), {exact3}, true},
      {"any upper case", any({"EXACTREPEAT"}), {exact3}, true},
      {"any mixed spelling", any({"Exact_Repeat"}), {exact3}, false},
      {"any one of several", any({"nope", "error_pattern"}), {exact3, errors2}, true},
      {"any without detections", any({"exact_repeat"}), {}, false},
      {"any decides over all",
       ConditionConfig{std::vector<std::string>{"semantic_repeat"},
                       std::vector<std::string>{"exact_repeat"},
                       {}},
       {exact3},
       false},
      {"empty any decides over empty count",
       ConditionConfig{std::vector<std::string>{}, {}, std::unordered_map<std::string, uint32_t>{}},
       {exact3},
       false},
      {"empty all matches without detections", all({}), {}, true},
      {"all kinds present", all({"exact_repeat", "error_pattern"}), {exact3, errors2}, true},
      {"all with one missing", all({"exact_repeat", "error_pattern"}), {exact3}, false},
      {"all may reuse one detection", all({"exact_repeat", "ExactRepeat"}), {exact3}, true},
      {"all rule violation", all({"RuleViolation"}), {rule}, true},
      {"all without detections", all({"exact_repeat"}), {}, false},
      {"all decides over count",
       ConditionConfig{{},
                       std::vector<std::string>{"error_pattern"},
                       std::unordered_map<std::string, uint32_t>{}},
       {exact3},
       false},
      {"empty count matches without detections", count({}), {}, true},
      {"count reached", count({{"exact_repeat", 3}}), {exact3}, true},
      {"count not reached", count({{"exact_repeat", 3}}), {exact2}, false},
      {"count zero", count({{"exact_repeat", 0}}), {ExactRepeat{"t", 1}}, true},
      {"count zero still needs the kind", count({{"exact_repeat", 0}}), {errors2}, false},
      {"count of a kind without counts", count({{"semantic_repeat", 0}}), {semantic}, false},
      {"count of rule violations", count({{"rule_violation", 1}}), {rule}, false},
      {"count needs every pair",
       count({{"exact_repeat", 2}, {"error_pattern", 2}}),
       {exact3, errors2},
       true},
      {"count with one pair short",
       count({{"exact_repeat", 2}, {"error_pattern", 2}}),
       {exact3, errors1},
       false},
      {"count spelling normalised", count({{"ErrorPattern", 2}}), {errors2}, true},
      {"count over several detections of a kind",
       count({{"exact_repeat", 3}}),
       {exact2, exact3},
       true},
      {"no part never matches", ConditionConfig{}, {exact3, errors2, semantic, rule}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(condition_matches(c.when, c.detections), c.matches) << c.name;
  }
}

ActionConfig action(std::string type, std::optional<std::unordered_map<std::string, JsonValue>> p) {
  return ActionConfig{std::move(type), std::move(p)};
}

TEST(BuildIntervention, ParameterDefaultsAndWrongKinds) {
  using P = std::unordered_map<std::string, JsonValue>;
  struct Case {
    ActionConfig action;
    std::string text;
  };
  const std::vector<Case> cases = {
      {action("Retry", std::nullopt), "Retry { delay_ms: 0 }"},
      {action("Retry", P{}), "Retry { delay_ms: 0 }"},
      {action("Retry", P{{"delay_ms", uint64_t{100}}}), "Retry { delay_ms: 100 }"},
      {action("Retry", P{{"delay_ms", int64_t{100}}}), "Retry { delay_ms: 100 }"},
      {action("Retry", P{{"delay_ms", "100"}}), "Retry { delay_ms: 0 }"},
      {action("Retry", P{{"delay_ms", int64_t{-5}}}), "Retry { delay_ms: 0 }"},
      {action("Retry", P{{"delay_ms", 100.0}}), "Retry { delay_ms: 0 }"},
      {action("Retry", P{{"Delay_ms", uint64_t{100}}}), "Retry { delay_ms: 0 }"},
      {action("Backoff", std::nullopt), "Backoff { base_ms: 500, attempt: 0 }"},
      {action("Backoff", P{{"base_ms", uint64_t{0}}, {"attempt", uint64_t{4}}}),
       "Backoff { base_ms: 0, attempt: 0 }"},
      {action("Backoff", P{{"base_ms", int64_t{-1}}}), "Backoff { base_ms: 500, attempt: 0 }"},
      {action("ReplaceTool", std::nullopt), R"(ReplaceTool { original: "", replacement: "" })"},
      {action("ReplaceTool", P{{"original", "a"}, {"replacement", uint64_t{1}}}),
       R"(ReplaceTool { original: "a", replacement: "" })"},
      {action("InjectPrompt", std::nullopt),
       R"(InjectPrompt { content: "", position: BeforeNext, prompt_id: None })"},
      {action("InjectPrompt", P{{"content", "c"}, {"position", "AfterTool"}, {"prompt_id", "p"}}),
       R"(InjectPrompt { content: "c", position: AfterTool, prompt_id: Some("p") })"},
      {action("InjectPrompt", P{{"position", "ReplaceLast"}, {"prompt_id", ""}}),
       R"(InjectPrompt { content: "", position: ReplaceLast, prompt_id: Some("") })"},
      {action("InjectPrompt", P{{"position", "after_tool"}, {"prompt_id", uint64_t{42}}}),
       R"(InjectPrompt { content: "", position: BeforeNext, prompt_id: None })"},
      {action("InjectPrompt", P{{"position", uint64_t{1}}, {"content", true}}),
       R"(InjectPrompt { content: "", position: BeforeNext, prompt_id: None })"},
      {action("Abort", std::nullopt), R"(Abort { reason: "Aborted by policy" })"},
      {action("Abort", P{{"reason", uint64_t{7}}}), R"(Abort { reason: "Aborted by policy" })"},
      {action("Abort", P{{"reason", ""}}), R"(Abort { reason: "" })"},
      {action("Abort", P{{"reason", "looping"}, {"extra", nullptr}}),
       R"(Abort { reason: "looping" })"},
  };
  for (const Case& c : cases) {
    auto built = build_intervention(c.action);
    ASSERT_TRUE(built.has_value()) << c.text;
    EXPECT_EQ(built->to_text(), c.text);
  }
  EXPECT_FALSE(build_intervention(action("Continue", std::nullopt)).has_value());
}

DetectionReport report_of(std::vector<Detection> detections) {
  DetectionReport report;
  report.detections = std::move(detections);
  return report;
}

std::string evaluate_text(std::string_view yaml, std::vector<Detection> detections) {
  auto engine = PolicyEngine::create(yaml);
  EXPECT_TRUE(engine.has_value()) << (engine ? "" : engine.error().to_string());
  if (!engine) return "<no engine>";
  auto chosen = engine->evaluate(report_of(std::move(detections)));
  return chosen ? chosen->to_text() : "<none>";
}

TEST(PolicyEngineEvaluate, HighestPriorityWinsAndTiesKeepDocumentOrder) {
  const std::string example = R"(policies:
  - {name: stop-loop, priority: 10, when: {count: {exact_repeat: 3}}, do: {type: Abort, params: {reason: looping}}}
  - {name: slow-down, when: {any: [ExactRepeat]}, do: {type: Backoff}}
)";
  struct Case {
    std::string name;
    std::string yaml;
    std::vector<Detection> detections;
    std::string chosen;
  };
  const std::vector<Case> cases = {
      {"only the second matches",
       example,
       {ExactRepeat{"t", 2}},
       "Backoff { base_ms: 500, attempt: 0 }"},
      {"both match, priority wins",
       example,
       {ExactRepeat{"t", 3}},
       R"(Abort { reason: "looping" })"},
      {"no policies", "policies: []", {ExactRepeat{"t", 9}}, "<none>"},
      {"nothing matches", example, {ErrorPattern{4, 1}}, "<none>"},
      {"priority 5 over 1",
       R"(policies:
  - {name: a, priority: 1, when: {all: []}, do: {type: Retry, params: {delay_ms: 1}}}
  - {name: b, priority: 5, when: {all: []}, do: {type: Retry, params: {delay_ms: 5}}}
  - {name: c, priority: 3, when: {all: []}, do: {type: Retry, params: {delay_ms: 3}}})",
       {},
       "Retry { delay_ms: 5 }"},
      {"equal priorities keep document order",
       R"(policies:
  - {name: a, priority: 2, when: {any: [exact_repeat]}, do: {type: Retry, params: {delay_ms: 1}}}
  - {name: b, priority: 2, when: {any: [exact_repeat]}, do: {type: Retry, params: {delay_ms: 2}}})",
       {ExactRepeat{"t", 1}},
       "Retry { delay_ms: 1 }"},
      {"default priority 0 loses to 1",
       R"(policies:
  - {name: a, when: {any: [exact_repeat]}, do: {type: Retry}}
  - {name: b, priority: 1, when: {any: [exact_repeat]}, do: {type: Abort}})",
       {ExactRepeat{"t", 1}},
       R"(Abort { reason: "Aborted by policy" })"},
      {"default priority 0 beats -1",
       R"(policies:
  - {name: a, priority: -1, when: {any: [exact_repeat]}, do: {type: Abort}}
  - {name: b, when: {any: [exact_repeat]}, do: {type: Retry}})",
       {ExactRepeat{"t", 1}},
       "Retry { delay_ms: 0 }"},
      {"a higher priority that does not match is skipped",
       R"(policies:
  - {name: a, priority: 9, when: {any: [semantic_repeat]}, do: {type: Abort}}
  - {name: b, priority: -3, when: {any: [exact_repeat]}, do: {type: Retry}})",
       {ExactRepeat{"t", 1}},
       "Retry { delay_ms: 0 }"},
      {"empty when never matches",
       "policies:\n  - name: a\n    when:\n    do: {type: Abort}\n",
       {ExactRepeat{"t", 1}},
       "<none>"},
      {"empty all matches a report without detections",
       "policies: [{name: a, when: {all: []}, do: {type: Abort}}, {name: b, priority: 9, when: "
       "{any: [exact_repeat]}, do: {type: Retry}}]",
       {},
       R"(Abort { reason: "Aborted by policy" })"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(evaluate_text(c.yaml, c.detections), c.chosen) << c.name;
  }
}

TEST(PolicyEngineEvaluate, ParametersReadFromYaml) {
  struct Case {
    std::string params;
    std::string chosen;
  };
  const std::vector<Case> cases = {
      {"{type: Retry, params: {delay_ms: 100}}", "Retry { delay_ms: 100 }"},
      {"{type: Retry, params: {delay_ms: \"100\"}}", "Retry { delay_ms: 0 }"},
      {"{type: Retry, params: {delay_ms: -5}}", "Retry { delay_ms: 0 }"},
      {"{type: Retry, params: {delay_ms: 100.0}}", "Retry { delay_ms: 0 }"},
      {"{type: Retry, params: ~}", "Retry { delay_ms: 0 }"},
      {"{type: Backoff, params: {base_ms: 250}}", "Backoff { base_ms: 250, attempt: 0 }"},
      {"{type: InjectPrompt, params: {content: hi, position: after_tool, prompt_id: 42}}",
       R"(InjectPrompt { content: "hi", position: BeforeNext, prompt_id: None })"},
      {"{type: InjectPrompt, params: {position: AfterTool, prompt_id: \"42\"}}",
       R"(InjectPrompt { content: "", position: AfterTool, prompt_id: Some("42") })"},
      {"{type: Abort, params: {reason: 7}}", R"(Abort { reason: "Aborted by policy" })"},
      {"{type: ReplaceTool, params: {original: a, replacement: b}}",
       R"(ReplaceTool { original: "a", replacement: "b" })"},
  };
  for (const Case& c : cases) {
    const std::string yaml =
        "policies: [{name: p, when: {any: [exact_repeat]}, do: " + c.params + "}]";
    EXPECT_EQ(evaluate_text(yaml, {ExactRepeat{"t", 1}}), c.chosen) << c.params;
  }
}

TEST(PolicyEngineCreate, RefusesInvalidDocuments) {
  auto unknown = PolicyEngine::create(
      "policies: [{name: a, when: {}, do: {type: retry}}, {name: b, when: {}, do: {type: "
      "continue}}]");
  ASSERT_FALSE(unknown.has_value());
  EXPECT_EQ(unknown.error().to_string(), "Unknown action type: retry");

  auto empty = PolicyEngine::create("");
  ASSERT_FALSE(empty.has_value());
  EXPECT_NE(empty.error().to_string().find("YAML parse error: "), std::string::npos);

  auto fine = PolicyEngine::create("policies: [{name: a, when: {}, do: {type: Retry}}]");
  ASSERT_TRUE(fine.has_value());
  EXPECT_EQ(fine->policies().size(), 1u);
}

}  // namespace
}  // namespace tarnwick_core

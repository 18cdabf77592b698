#include "vantorell/engine.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorell {
namespace {

struct RuleCase {
  std::string name;
  RuleConfig rule;
  std::string text;
  std::optional<std::string_view> failure;  // empty: the text passes
};

RuleConfig Regex(std::string pattern) { return RegexRule{std::move(pattern)}; }
RuleConfig Exact(std::string value) { return ExactRule{std::move(value)}; }
RuleConfig Schema(std::optional<std::vector<std::string>> required,
                  std::optional<std::string> type = std::nullopt) {
  return JsonSchemaSubset{std::move(required), std::move(type)};
}

std::string Nested(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }

std::vector<RuleCase> RuleCases() {
  const auto path = std::vector<std::string>{"path"};
  return {
      // Regular expressions: unanchored search, anchors mean the whole text.
      {"RegexAnchoredPasses", Regex("^ok$"), "ok", std::nullopt},
      {"RegexAnchoredFailsTrailingSpace", Regex("^ok$"), "ok ", kFailedRegexRule},
      {"RegexSearchesAnywhere", Regex("ok"), "not ok", std::nullopt},
      {"RegexNeedingACharFailsEmpty", Regex("."), "", kFailedRegexRule},
      {"RegexIsCaseSensitive", Regex("OK"), "ok", kFailedRegexRule},
      {"RegexDotMatchesOneCodePoint", Regex("^.$"), "\xc3\xa9", std::nullopt},
      {"RegexDollarIsEndOfText", Regex("a$"), "a\nb", kFailedRegexRule},
      // Exact: byte comparison, no JSON normalisation.
      {"ExactSameBytesPasses", Exact(R"({"a":1})"), R"({"a":1})", std::nullopt},
      {"ExactComparesTextNotJson", Exact(R"({"a":1})"), R"({"a": 1})", kFailedExactRule},
      {"ExactLongerTextFails", Exact("abc"), "abcd", kFailedExactRule},
      {"ExactEmptyValuePassesEmptyText", Exact(""), "", std::nullopt},
      {"ExactSeesPastNul", Exact(std::string("a\0b", 3)), std::string("a\0c", 3), kFailedExactRule},
      // JSON schema subset.
      {"SchemaArrayIsNotObject", Schema(path), "[]", kSchemaTypeMismatch},
      {"SchemaScalarIsNotObject", Schema(path), "\"path\"", kSchemaTypeMismatch},
      {"SchemaMissingKey", Schema(path), R"({"other":1})", kMissingRequiredField},
      {"SchemaNullValueStillPresent", Schema(path), R"({"path":null,"x":2})", std::nullopt},
      {"SchemaNestedKeyNotSearched", Schema(path), R"({"a":{"path":1}})", kMissingRequiredField},
      {"SchemaSecondRequiredKeyMissing", Schema(std::vector<std::string>{"a", "b"}), R"({"a":1})",
       kMissingRequiredField},
      {"SchemaRepeatedKeyStillPresent", Schema(path), R"({"path":1,"path":2})", std::nullopt},
      {"SchemaSurroundingWhitespace", Schema(path), " \t\r\n{\"path\":1}\n ", std::nullopt},
      {"SchemaUnclosedObject", Schema(path), "{", kInvalidJson},
      {"SchemaTrailingGarbage", Schema(path), R"({"path":1} x)", kInvalidJson},
      {"SchemaTrailingComma", Schema(path), R"({"path":1,})", kInvalidJson},
      {"SchemaComment", Schema(path), "{\"path\":1} // c", kInvalidJson},
      {"SchemaEmptyText", Schema(path), "", kInvalidJson},
      {"SchemaNoRequiredPassesAnyObject", Schema(std::nullopt), "{}", std::nullopt},
      {"SchemaNoRequiredStillNeedsObject", Schema(std::nullopt), "1", kSchemaTypeMismatch},
      {"SchemaOtherTypePassesAnyJson", Schema(path, "array"), R"({"other":1})", std::nullopt},
      {"SchemaTypeNameIsCaseSensitive", Schema(path, "Object"), "[]", std::nullopt},
      {"SchemaOtherTypeStillNeedsJson", Schema(path, "array"), "{", kInvalidJson},
      {"Schema127LevelsAreJson", Schema(std::nullopt), Nested(127), kSchemaTypeMismatch},
      {"Schema128LevelsAreNot", Schema(std::nullopt), Nested(128), kInvalidJson},
  };
}

class RuleMatch : public testing::TestWithParam<RuleCase> {};

TEST_P(RuleMatch, PassesOrGivesItsFailureText) {
  const RuleCase& c = GetParam();
  auto engine = RuleEngine::create({c.rule});
  ASSERT_TRUE(engine.has_value()) << engine.error();
  ASSERT_EQ(engine->rules.size(), 1u);
  EXPECT_EQ(engine->rules[0].matches(c.text), c.failure);
}

INSTANTIATE_TEST_SUITE_P(Cases, RuleMatch, testing::ValuesIn(RuleCases()),
                         [](const auto& info) { return info.param.name; });

TEST(RuleEngine, KeepsEveryRuleInOrder) {
  auto engine = RuleEngine::create({Exact("a"), Regex("b"), Exact("a"), Schema(std::nullopt)});
  ASSERT_TRUE(engine.has_value());
  ASSERT_EQ(engine->rules.size(), 4u);
  EXPECT_EQ(engine->rules[0].matches("b"), kFailedExactRule);
  EXPECT_EQ(engine->rules[1].matches("a"), kFailedRegexRule);
  EXPECT_EQ(engine->rules[2].matches("b"), kFailedExactRule);
  EXPECT_EQ(engine->rules[3].matches("a"), kInvalidJson);
}

TEST(RuleEngine, NoRulesIsAnEmptyEngine) {
  auto engine = RuleEngine::create({});
  ASSERT_TRUE(engine.has_value());
  EXPECT_TRUE(engine->rules.empty());
}

TEST(RuleEngine, FirstRefusedPatternStopsQuietly) {
  testing::internal::CaptureStderr();
  auto engine = RuleEngine::create({Exact("x"), Regex("(unclosed"), Regex("[unclosed")});
  const std::string logged = testing::internal::GetCapturedStderr();
  ASSERT_FALSE(engine.has_value());
  EXPECT_TRUE(engine.error().starts_with("Regex error: ")) << engine.error();
  EXPECT_NE(engine.error().find("missing )"), std::string::npos) << engine.error();
  EXPECT_EQ(engine.error().find("missing ]"), std::string::npos) << engine.error();
  EXPECT_EQ(logged, "") << "a refused pattern must not be logged";
}

}  // namespace
}  // namespace vantorell

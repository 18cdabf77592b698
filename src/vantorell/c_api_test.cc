// The C entry points, driven exactly as a C caller would drive them.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "vantorell.h"

namespace {

struct Deleter {
  void operator()(vantorell_state_t* s) const { vantorell_free(s); }
};
using Handle = std::unique_ptr<vantorell_state_t, Deleter>;

Handle Init(const std::string& yaml) { return Handle(vantorell_init(yaml.data(), yaml.size())); }

uint8_t Verify(const Handle& h, const std::string& tool, const std::string& args) {
  return vantorell_verify(h.get(), tool.data(), tool.size(), args.data(), args.size());
}

std::string LastError(const Handle& h) {
  const char* text = vantorell_get_last_error(h.get());
  return text == nullptr ? "<null>" : text;
}

const std::string kLoop = "Agent appears to be looping on tool ";

struct InitCase {
  std::string name;
  std::string yaml;
};

class InitRefuses : public testing::TestWithParam<InitCase> {};

TEST_P(InitRefuses, WithNullHandle) { EXPECT_EQ(Init(GetParam().yaml), nullptr); }

INSTANTIATE_TEST_SUITE_P(
    Cases, InitRefuses,
    testing::Values(InitCase{"NotUtf8", "\xff\xfe"}, InitCase{"Empty", ""},
                    InitCase{"NotYaml", "rules: [unclosed"},
                    InitCase{"BadConfiguration", "strictness: Strict"},
                    InitCase{"UnclosedGroup", "rules:\n  - type: regex\n    pattern: \"(a\"\n"}),
    [](const auto& info) { return info.param.name; });

TEST(CApi, NullPointersAreTolerated) {
  EXPECT_EQ(vantorell_init(nullptr, 0), nullptr);
  EXPECT_EQ(vantorell_init(nullptr, 100), nullptr);
  EXPECT_EQ(vantorell_verify(nullptr, nullptr, 5, nullptr, 7), VANTORELL_PASS);
  EXPECT_EQ(vantorell_verify(nullptr, "t", 1, "{}", 2), VANTORELL_PASS);
  EXPECT_EQ(vantorell_get_last_error(nullptr), nullptr);
  vantorell_free(nullptr);
}

TEST(CApi, YamlIsACountedSpan) {
  const char text[] = "{}this is not yaml: [";
  Handle h(vantorell_init(text, 2));
  ASSERT_NE(h, nullptr);
}

// One scenario per row: a configuration, a sequence of calls and, for each,
// the verdict and the last-error text afterwards ("<null>" when none).
struct Step {
  std::string tool;
  std::string args;
  uint8_t verdict;
  std::string last_error;
};
struct ScenarioCase {
  std::string name;
  std::string yaml;
  std::vector<Step> steps;
};

class Scenario : public testing::TestWithParam<ScenarioCase> {};

TEST_P(Scenario, GivesVerdictsAndLastErrors) {
  const ScenarioCase& c = GetParam();
  Handle h = Init(c.yaml);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(vantorell_get_last_error(h.get()), nullptr);
  for (size_t i = 0; i < c.steps.size(); ++i) {
    const Step& s = c.steps[i];
    EXPECT_EQ(Verify(h, s.tool, s.args), s.verdict) << "step " << i;
    EXPECT_EQ(LastError(h), s.last_error) << "step " << i;
  }
}

const std::string kStrictExact = "strictness: strict\nrules:\n  - type: exact\n    value: abc\n";
const std::string kSchema = "rules:\n  - type: json_schema\n    required: [path]\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, Scenario,
    testing::Values(
        ScenarioCase{"DefaultLoopGate",
                     "{}",
                     {{"t", "{}", 0, "<null>"},
                      {"t", "{}", 0, "<null>"},
                      {"t", "{}", 2, kLoop + "t"},
                      {"t", "{}", 2, kLoop + "t"}}},
        ScenarioCase{"StrictExactRuleThenPassKeepsError",
                     kStrictExact,
                     {{"t", "abcd", 3, "Failed exact match rule"},
                      {"u", "abc", 0, "Failed exact match rule"}}},
        ScenarioCase{"LenientLoop",
                     "strictness: lenient",
                     {{"t", "", 0, "<null>"}, {"t", "", 0, "<null>"}, {"t", "", 1, kLoop + "t"}}},
        ScenarioCase{"RuleRejectedCallsStillCount",
                     kStrictExact,
                     {{"t", "x", 3, "Failed exact match rule"},
                      {"t", "x", 3, "Failed exact match rule"},
                      {"t", "x", 3, kLoop + "t"}}},
        ScenarioCase{"LoopGateRunsBeforeRules",
                     "max_repeats: 1\nrules:\n  - type: exact\n    value: abc\n",
                     {{"t", "x", 2, kLoop + "t"}}},
        ScenarioCase{"FirstFailingRuleWins",
                     "rules:\n  - type: regex\n    pattern: \"^a\"\n  - type: exact\n    value: "
                     "abc\n",
                     {{"t", "xbc", 2, "Failed regex rule"},
                      {"t", "abd", 2, "Failed exact match rule"},
                      {"u", "abc", 0, "Failed exact match rule"}}},
        ScenarioCase{"SchemaRule",
                     kSchema,
                     {{"t", "[]", 2, "JSON schema type mismatch (expected object)"},
                      {"t", R"({"x":1})", 2, "Missing required field in JSON"},
                      {"t", R"({"path":"/"})", 0, "Missing required field in JSON"}}},
        ScenarioCase{"InvalidUtf8ArgumentsAreEmptyText",
                     kSchema,
                     {{"t", "\xff", 2, "Invalid JSON"},
                      {"t", "", 2, "Invalid JSON"},
                      {"t", "{\"path\":\"\xc3\x28\"}", 2, kLoop + "t"}}},
        ScenarioCase{"InvalidUtf8ToolNameIsEmptyText",
                     "{}",
                     {{"\xc0\xaf", "{}", 0, "<null>"},
                      {"", "{}", 0, "<null>"},
                      {"ok\xff", "{}", 2, kLoop}}}),
    [](const auto& info) { return info.param.name; });

TEST(CApi, NullTextPointersAreEmptyTextsWhateverTheCount) {
  Handle h = Init(kSchema);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(vantorell_verify(h.get(), "t", 1, nullptr, 12), VANTORELL_REJECT_BALANCED);
  EXPECT_EQ(LastError(h), "Invalid JSON");
  // Both calls below are the empty tool with empty arguments.
  EXPECT_EQ(vantorell_verify(h.get(), nullptr, 9, "", 0), VANTORELL_REJECT_BALANCED);
  EXPECT_EQ(vantorell_verify(h.get(), "", 0, nullptr, 3), VANTORELL_REJECT_BALANCED);
  EXPECT_EQ(LastError(h), "Invalid JSON");
  EXPECT_EQ(vantorell_verify(h.get(), nullptr, 1, nullptr, 1), VANTORELL_REJECT_BALANCED);
  EXPECT_EQ(LastError(h), kLoop);
}

TEST(CApi, LongLoopMessageIsCutTo1023BytesAndAddressIsStable) {
  Handle h = Init("rules:\n  - type: exact\n    value: v\n");
  ASSERT_NE(h, nullptr);
  std::string name(2000, 'n');
  for (size_t i = 0; i < name.size(); ++i) name[i] = static_cast<char>('a' + i % 26);

  ASSERT_EQ(Verify(h, name, "x"), VANTORELL_REJECT_BALANCED);
  const char* first = vantorell_get_last_error(h.get());
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first, "Failed exact match rule");

  ASSERT_EQ(Verify(h, name, "v"), VANTORELL_PASS);
  ASSERT_EQ(Verify(h, name, "v"), VANTORELL_PASS);
  ASSERT_EQ(Verify(h, name, "v"), VANTORELL_REJECT_BALANCED);
  const char* second = vantorell_get_last_error(h.get());
  EXPECT_EQ(second, first);
  ASSERT_EQ(std::strlen(second), 1023u);
  EXPECT_EQ(std::string(second), (kLoop + name).substr(0, 1023));

  ASSERT_EQ(Verify(h, "t", "x"), VANTORELL_REJECT_BALANCED);
  EXPECT_EQ(vantorell_get_last_error(h.get()), first);
  EXPECT_STREQ(first, "Failed exact match rule");
}

TEST(CApi, ToolNameWithNulIsKeptWhole) {
  Handle h = Init("{}");
  ASSERT_NE(h, nullptr);
  const std::string a("a\0b", 3);
  const std::string b("a\0c", 3);
  EXPECT_EQ(Verify(h, a, "{}"), VANTORELL_PASS);
  EXPECT_EQ(Verify(h, b, "{}"), VANTORELL_PASS);
  EXPECT_EQ(Verify(h, a, "{}"), VANTORELL_PASS);
  EXPECT_EQ(Verify(h, a, "{}"), VANTORELL_REJECT_BALANCED);
  // A C reader sees the text end at the NUL inside the name.
  EXPECT_EQ(LastError(h), kLoop + "a");
}

TEST(CApi, HandlesShareNothing) {
  Handle one = Init("{}");
  Handle two = Init("{}");
  ASSERT_NE(one, nullptr);
  ASSERT_NE(two, nullptr);
  EXPECT_EQ(Verify(one, "t", "{}"), VANTORELL_PASS);
  EXPECT_EQ(Verify(one, "t", "{}"), VANTORELL_PASS);
  EXPECT_EQ(Verify(two, "t", "{}"), VANTORELL_PASS);
  EXPECT_EQ(Verify(one, "t", "{}"), VANTORELL_REJECT_BALANCED);
  EXPECT_EQ(vantorell_get_last_error(two.get()), nullptr);
}

}  // namespace

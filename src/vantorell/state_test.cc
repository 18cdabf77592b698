#include "vantorell/state.h"

#include <gtest/gtest.h>

#include <string>

#include "vantorell/verify.h"

namespace vantorell {
namespace {

TEST(VantorellState, CopiesTheSettings) {
  auto state = VantorellState::create(
      "strictness: strict\nmax_repeats: 5\nignore_args: true\nhistory_window: 20\n"
      "rules:\n  - type: exact\n    value: a\n  - [json_schema, [k], array]\n"
      "defaults:\n  trajectory_gate: {max_repeats: 9}\n"
      "tools:\n  - name: t\n    trajectory_gate: {}\n");
  ASSERT_TRUE(state.has_value()) << state.error();
  EXPECT_EQ(state->strictness(), Strictness::kStrict);
  EXPECT_EQ(state->rejection_verdict(), 3);
  EXPECT_EQ(state->max_repeats(), 5u);
  EXPECT_TRUE(state->ignore_args());
  EXPECT_EQ(state->history_window(), 20u);
  EXPECT_EQ(state->rule_engine().rules.size(), 2u);
  ASSERT_TRUE(state->defaults().has_value());
  EXPECT_EQ(state->defaults()->trajectory_gate.max_repeats, 9u);
  ASSERT_EQ(state->tools().size(), 1u);
  EXPECT_EQ(state->tools()[0].name, "t");
  EXPECT_EQ(state->history().size(), 0u);
  EXPECT_EQ(state->last_error(), nullptr);
}

TEST(VantorellState, ReportsTheFirstErrorMet) {
  auto bad_yaml = VantorellState::create("");
  ASSERT_FALSE(bad_yaml.has_value());
  EXPECT_TRUE(bad_yaml.error().starts_with("YAML parsing error: ")) << bad_yaml.error();

  auto bad_regex = VantorellState::create("rules:\n  - type: regex\n    pattern: \"a)\"\n");
  ASSERT_FALSE(bad_regex.has_value());
  EXPECT_TRUE(bad_regex.error().starts_with("Regex error: ")) << bad_regex.error();
}

struct StoreCase {
  std::string name;
  std::string first;
  std::string second;
  std::string stored;
};

class StoreLastError : public testing::TestWithParam<StoreCase> {};

TEST_P(StoreLastError, KeepsAtMost1023BytesAndANul) {
  const StoreCase& c = GetParam();
  auto state = VantorellState::create("{}");
  ASSERT_TRUE(state.has_value());
  const char* before = state->last_error_text().data();
  state->store_last_error(std::string(1500, 'z'));  // a longer earlier text leaves no tail
  state->store_last_error(c.first, c.second);
  EXPECT_EQ(state->last_error_text(), c.stored);
  ASSERT_NE(state->last_error(), nullptr);
  EXPECT_EQ(state->last_error(), before);
  EXPECT_EQ(state->last_error()[c.stored.size()], '\0');
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StoreLastError,
    testing::Values(StoreCase{"Short", "ab", "", "ab"}, StoreCase{"TwoParts", "ab", "cd", "abcd"},
                    StoreCase{"Exactly1023", std::string(1023, 'x'), "", std::string(1023, 'x')},
                    StoreCase{"CutInFirst", std::string(1024, 'x'), "yy", std::string(1023, 'x')},
                    StoreCase{"CutInSecond", std::string(1000, 'x'), std::string(100, 'y'),
                              std::string(1000, 'x') + std::string(23, 'y')},
                    // The cut is made in bytes, even inside a character.
                    StoreCase{"CutInsideCharacter", std::string(1022, 'x'), "\xc3\xa9",
                              std::string(1022, 'x') + "\xc3"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace vantorell

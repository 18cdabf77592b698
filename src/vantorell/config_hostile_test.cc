// Hostile verifier configurations and rules: alias bombs, deep nesting, huge
// scalars, invalid UTF-8, NUL bytes, and regular expressions that make
// back-tracking engines explode. Every one is refused or accepted in bounded
// time, and matching stays linear in the length of the argument text.

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "support/yaml_test_util.h"
#include "vantorell.h"
#include "vantorell/config.h"
#include "vantorell/state.h"

namespace vantorell {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kBound = std::chrono::seconds(5);

using tarnwick_support::testing::alias_bomb_anchors;
using tarnwick_support::testing::repeat;

struct Refused {
  const char* name;
  std::string text;
  const char* message_part;
};

TEST(VantorellHostileConfigTest, RefusedInBoundedTime) {
  const std::vector<Refused> cases = {
      {"alias bomb read as the rules", alias_bomb_anchors() + "rules: *l8\n",
       "alias expansion limit exceeded"},
      {"alias bomb read as tool volatile fields",
       alias_bomb_anchors() + "tools: [{name: t, trajectory_gate: {volatile_fields: *l8}}]\n",
       "alias expansion limit exceeded"},
      {"10,000 nested flow sequences", "rules: " + repeat("[", 10000) + repeat("]", 10000),
       "recursion limit exceeded"},
      {"10,000 nested flow mappings",
       "defaults: " + repeat("{a: ", 10000) + "1" + repeat("}", 10000), "recursion limit exceeded"},
      {"10,000 nested block sequences", "rules:\n" + repeat("- ", 10000) + "x\n",
       "recursion limit exceeded"},
      {"invalid UTF-8 in a pattern", "rules: [{type: regex, pattern: \"a\xc3\"}]\n", ""},
      {"NUL byte in a plain scalar", std::string("rules: [{type: exact, value: a\0b}]\n", 35), ""},
      {"regex too large to compile", "rules: [{type: regex, pattern: '((a{100}){100}){100}'}]\n",
       "Regex error: "},
      {"back-reference, which the engine refuses", "rules: [{type: regex, pattern: '(a)\\1'}]\n",
       "Regex error: "},
  };
  for (const Refused& c : cases) {
    SCOPED_TRACE(c.name);
    const auto start = Clock::now();
    auto state = VantorellState::create(c.text);
    vantorell_state_t* handle = vantorell_init(c.text.data(), c.text.size());
    EXPECT_LT(Clock::now() - start, kBound);
    EXPECT_EQ(handle, nullptr);
    vantorell_free(handle);
    ASSERT_FALSE(state.has_value());
    EXPECT_NE(state.error().find(c.message_part), std::string::npos) << state.error();
  }
}

TEST(VantorellHostileConfigTest, HugeButValidConfigurationsAreReadWhole) {
  const std::string ten_mb(10 << 20, 'v');
  const std::string exact = "rules: [{type: exact, value: '" + ten_mb + "'}]\n";
  const auto start = Clock::now();
  vantorell_state_t* handle = vantorell_init(exact.data(), exact.size());
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(vantorell_verify(handle, "t", 1, ten_mb.data(), ten_mb.size()), VANTORELL_PASS);
  EXPECT_EQ(vantorell_verify(handle, "t", 1, "v", 1), VANTORELL_REJECT_BALANCED);
  vantorell_free(handle);

  const std::string tool = "tools: [{name: " + ten_mb + ", trajectory_gate: {}}]\n";
  auto config = VantorellConfig::from_yaml(tool);
  ASSERT_TRUE(config.has_value()) << config.error();
  EXPECT_EQ(config->tools.at(0).name.size(), ten_mb.size());
  EXPECT_LT(Clock::now() - start, kBound);
}

TEST(VantorellHostileConfigTest, AliasBombUnderAnIgnoredKeyIsBounded) {
  const std::string text = alias_bomb_anchors() + "unused: *l8\n";
  const auto start = Clock::now();
  vantorell_free(vantorell_init(text.data(), text.size()));
  EXPECT_LT(Clock::now() - start, kBound);
}

// Patterns that take exponential time in a back-tracking engine, against
// texts built to trigger it: each search must be linear, so a text ten times
// longer may cost about ten times as much, never orders of magnitude more.
TEST(VantorellHostileConfigTest, CatastrophicLookingPatternsMatchInLinearTime) {
  struct Case {
    const char* pattern;
    char fill;
    const char* tail;
  };
  const Case cases[] = {
      {"(a+)+$", 'a', "!"},     {"(a|aa)+$", 'a', "!"},      {"^(a|a?)+$", 'a', "!"},
      {"(.*a){20}$", 'a', "!"}, {"^(\\w+\\s?)*$", 'w', "!"}, {"(x+x+)+y", 'x', ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    const std::string yaml =
        "max_repeats: 1000000\nrules: [{type: regex, pattern: '" + std::string(c.pattern) + "'}]\n";
    vantorell_state_t* handle = vantorell_init(yaml.data(), yaml.size());
    ASSERT_NE(handle, nullptr);
    auto search = [&](size_t n) {
      const std::string text = std::string(n, c.fill) + c.tail;
      const auto start = Clock::now();
      const uint8_t verdict = vantorell_verify(handle, "t", 1, text.data(), text.size());
      EXPECT_EQ(verdict, VANTORELL_REJECT_BALANCED);
      return std::chrono::duration<double>(Clock::now() - start).count();
    };
    search(1000);  // warm-up
    const double short_run = search(100'000);
    const double long_run = search(1'000'000);
    EXPECT_LT(long_run, 2.0);
    // Linear: ten times the text, well under a hundred times the time.
    EXPECT_LT(long_run, 100 * short_run + 0.05);
    vantorell_free(handle);
  }
}

}  // namespace
}  // namespace vantorell

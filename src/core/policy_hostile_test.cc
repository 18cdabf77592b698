// Hostile policy documents: alias bombs, deep nesting, huge scalars, invalid
// UTF-8 and NUL bytes. Each is refused with a parse error or read, never
// crashes, and is done with in bounded time and memory.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "core/policy.h"
#include "core/policy_engine.h"
#include "support/yaml_test_util.h"

namespace tarnwick_core {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kBound = std::chrono::seconds(5);

using tarnwick_support::testing::alias_bomb_anchors;
using tarnwick_support::testing::repeat;

std::string policy_with(std::string_view name, std::string_view params) {
  return "policies:\n  - name: " + std::string(name) +
         "\n    when: {any: [exact_repeat]}\n    do: {type: Abort, params: " + std::string(params) +
         "}\n";
}

struct Refused {
  const char* name;
  std::string text;
  const char* message_part;  // the parse error must contain it
};

TEST(PolicyHostileInputTest, RefusedWithAParseErrorInBoundedTime) {
  const std::vector<Refused> cases = {
      {"alias bomb read as parameters", alias_bomb_anchors() + policy_with("x", "{a: *l8}"),
       "alias expansion limit exceeded"},
      {"alias bomb read as the policy list", alias_bomb_anchors() + "policies: *l8\n",
       "alias expansion limit exceeded"},
      {"10,000 nested flow sequences", "policies: " + repeat("[", 10000) + repeat("]", 10000),
       "recursion limit exceeded"},
      {"10,000 nested flow mappings in parameters",
       policy_with("x", repeat("{a: ", 10000) + "1" + repeat("}", 10000)),
       "recursion limit exceeded"},
      {"10,000 nested block sequences", "policies:\n" + repeat("- ", 10000) + "x\n",
       "recursion limit exceeded"},
      {"unclosed 10,000 nesting", "policies: " + repeat("[{a: ", 5000), ""},
      {"invalid UTF-8 in a name", policy_with("caf\xc3", "{}"), ""},
      {"invalid UTF-8 in a comment", "# \xff\xfe\npolicies: []\n", ""},
      {"surrogate encoded in UTF-8", policy_with("\xed\xa0\x80", "{}"), ""},
      {"NUL byte in a plain scalar", policy_with(std::string("a\0b", 3), "{}"), ""},
      {"NUL byte after the document", std::string("policies: []\n\0\n", 15), ""},
  };
  for (const Refused& c : cases) {
    SCOPED_TRACE(c.name);
    const auto start = Clock::now();
    auto engine = PolicyEngine::create(c.text);
    EXPECT_LT(Clock::now() - start, kBound);
    ASSERT_FALSE(engine.has_value());
    ASSERT_NE(engine.error().if_parse_error(), nullptr) << engine.error().to_string();
    EXPECT_NE(engine.error().to_string().find(c.message_part), std::string::npos)
        << engine.error().to_string();
  }
}

TEST(PolicyHostileInputTest, HugeButValidDocumentsAreReadWhole) {
  const std::string ten_mb(10 << 20, 'n');
  struct Accepted {
    const char* name;
    std::string text;
  };
  const std::vector<Accepted> cases = {
      {"10 MB plain name", policy_with(ten_mb, "{}")},
      {"10 MB quoted parameter", policy_with("x", "{reason: \"" + ten_mb + "\"}")},
      {"10 MB kind name",
       "policies: [{name: x, when: {any: [" + ten_mb + "]}, do: {type: Retry}}]\n"},
      {"aliases within the replay budget",
       "l0: &l0 [x, x, x, x, x, x, x, x, x, x]\nl1: &l1 [*l0, *l0, *l0]\npolicies: []\n"},
      {"escaped NUL in a quoted name", policy_with("\"a\\0b\"", "{}")},
  };
  for (const Accepted& c : cases) {
    SCOPED_TRACE(c.name);
    const auto start = Clock::now();
    auto engine = PolicyEngine::create(c.text);
    EXPECT_LT(Clock::now() - start, kBound);
    ASSERT_TRUE(engine.has_value()) << engine.error().to_string();
  }
  auto named = PolicyEngine::create(policy_with(ten_mb, "{}"));
  ASSERT_TRUE(named.has_value());
  EXPECT_EQ(named->policies().at(0).name.size(), ten_mb.size());
  auto with_nul = PolicyEngine::create(policy_with("\"a\\0b\"", "{}"));
  ASSERT_TRUE(with_nul.has_value());
  EXPECT_EQ(with_nul->policies().at(0).name, std::string("a\0b", 3));
}

TEST(PolicyHostileInputTest, AliasBombUnderAnIgnoredKeyIsBounded) {
  const auto start = Clock::now();
  auto engine = PolicyEngine::create(alias_bomb_anchors() + "unused: *l8\npolicies: []\n");
  EXPECT_LT(Clock::now() - start, kBound);
  if (!engine) {
    EXPECT_NE(engine.error().if_parse_error(), nullptr);
  }
}

}  // namespace
}  // namespace tarnwick_core

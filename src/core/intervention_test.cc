#include "core/intervention.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace tarnwick_core {
namespace {

constexpr uint64_t kMax = 18446744073709551615ull;

TEST(InterventionDelay, RetryAndBackoffArithmeticSaturates) {
  struct Case {
    Intervention in;
    std::optional<uint64_t> delay;
  };
  const std::vector<Case> cases = {
      {Retry{1000}, 1000},
      {Retry{0}, 0},  // present, not absent
      {Backoff{500, 0}, 500},
      {Backoff{500, 3}, 4000},
      {Backoff{1, 63}, uint64_t{1} << 63},
      {Backoff{2, 63}, kMax},
      {Backoff{1, 64}, kMax},
      {Backoff{500, 64}, kMax},
      {Backoff{7, 1000}, kMax},
      {Backoff{0, 0}, 0},
      {Backoff{0, 63}, 0},
      {Backoff{0, 64}, 0},
      {Backoff{0, 1000}, 0},
      {Backoff{kMax, 1}, kMax},
      {Continue{}, std::nullopt},
      {ReplaceTool{"a", "b"}, std::nullopt},
      {InjectPrompt{"x", PromptPosition::kBeforeNext, std::nullopt}, std::nullopt},
      {Abort{"r"}, std::nullopt},
      {Custom{"c", nullptr}, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.in.delay_ms(), c.delay) << c.in.to_text();
  }
}

TEST(InterventionText, VariantsAndEscaping) {
  struct Case {
    Intervention in;
    std::string text;
  };
  const std::vector<Case> cases = {
      {Continue{}, "Continue"},
      {Retry{1000}, "Retry { delay_ms: 1000 }"},
      {Backoff{500, 0}, "Backoff { base_ms: 500, attempt: 0 }"},
      {ReplaceTool{"a", "b"}, R"(ReplaceTool { original: "a", replacement: "b" })"},
      {InjectPrompt{"x", PromptPosition::kBeforeNext, std::nullopt},
       R"(InjectPrompt { content: "x", position: BeforeNext, prompt_id: None })"},
      {InjectPrompt{"", PromptPosition::kAfterTool, "p1"},
       R"(InjectPrompt { content: "", position: AfterTool, prompt_id: Some("p1") })"},
      {InjectPrompt{"", PromptPosition::kReplaceLast, ""},
       R"(InjectPrompt { content: "", position: ReplaceLast, prompt_id: Some("") })"},
      {Abort{"Aborted by policy"}, R"(Abort { reason: "Aborted by policy" })"},
      // Quote and line feed.
      {Abort{"say \"hi\"\nnow"}, R"(Abort { reason: "say \"hi\"\nnow" })"},
      {Abort{"a\\b\r\t"}, R"(Abort { reason: "a\\b\r\t" })"},
      {Abort{std::string("x\0y", 3)}, R"(Abort { reason: "x\0y" })"},
      // Other controls, DEL, C1, soft hyphen, NBSP, zero-width space, line
      // separator, BOM, private use and a noncharacter.
      {Abort{"\x01\x1b\x7f\u0085\u00ad\u00a0"},
       R"(Abort { reason: "\u{1}\u{1b}\u{7f}\u{85}\u{ad}\u{a0}" })"},
      {Abort{"\u200b\u200f\u2028\u2029\ufeff\ue000\uf8ff\ufdd0\U0010ffff"},
       R"(Abort { reason: "\u{200b}\u{200f}\u{2028}\u{2029}\u{feff}\u{e000}\u{f8ff}\u{fdd0}\u{10ffff}" })"},
      // Combining marks are escaped, also after a base letter; letters,
      // the single quote and printable non-ASCII stay.
      {Abort{"e\u0301\u036f"}, R"(Abort { reason: "e\u{301}\u{36f}" })"},
      {Abort{"it's \u00e9\u00df \u4e2d \U0001f600"},
       "Abort { reason: \"it's \u00e9\u00df \u4e2d \U0001f600\" }"},
      {Custom{"n", tarnwick_support::JsonValue(int64_t{1})}, R"(Custom { name: "n", payload: 1 })"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.in.to_text(), c.text);
  }
}

std::string json_of(const Intervention& in) {
  std::string out;
  tarnwick_support::JsonWriter w(&out);
  auto ok = write_intervention_json(in, w);
  EXPECT_TRUE(ok.has_value());
  return out;
}

TEST(InterventionJson, CompactFormsByVariantName) {
  struct Case {
    Intervention in;
    std::string json;
  };
  const std::vector<Case> cases = {
      {Continue{}, R"("Continue")"},
      {Retry{0}, R"({"Retry":{"delay_ms":0}})"},
      {Backoff{500, 2}, R"({"Backoff":{"base_ms":500,"attempt":2}})"},
      {ReplaceTool{"a\"", "b"}, R"({"ReplaceTool":{"original":"a\"","replacement":"b"}})"},
      {InjectPrompt{"x\n", PromptPosition::kBeforeNext, std::nullopt},
       R"({"InjectPrompt":{"content":"x\n","position":"BeforeNext"}})"},
      {InjectPrompt{"x", PromptPosition::kReplaceLast, ""},
       R"({"InjectPrompt":{"content":"x","position":"ReplaceLast","prompt_id":""}})"},
      {InjectPrompt{"x", PromptPosition::kAfterTool, "id"},
       R"({"InjectPrompt":{"content":"x","position":"AfterTool","prompt_id":"id"}})"},
      {Abort{"stop"}, R"({"Abort":{"reason":"stop"}})"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(json_of(c.in), c.json);
  }
}

TEST(InterventionJson, CustomFailsAndWritesNothing) {
  std::string out;
  tarnwick_support::JsonWriter w(&out);
  auto r = write_intervention_json(Custom{"x", nullptr}, w);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error(), "the enum variant Intervention::Custom cannot be serialized");
  EXPECT_EQ(out, "");
}

TEST(InterventionNames, OutcomesAndPositions) {
  EXPECT_EQ(outcome_name(InterventionOutcome::kApplied), "applied");
  EXPECT_EQ(outcome_name(InterventionOutcome::kRejected), "rejected");
  EXPECT_EQ(outcome_name(InterventionOutcome::kUnsupported), "unsupported");
  EXPECT_EQ(outcome_name(InterventionOutcome::kFailed), "failed");
  EXPECT_EQ(prompt_position_name(PromptPosition::kBeforeNext), "BeforeNext");
  EXPECT_EQ(prompt_position_name(PromptPosition::kReplaceLast), "ReplaceLast");
  EXPECT_EQ(prompt_position_name(PromptPosition::kAfterTool), "AfterTool");
}

AdapterCapabilities caps(bool retry, bool replace, bool inject, bool abort) {
  return AdapterCapabilities{retry, replace, inject, abort};
}

TEST(Downgrade, FallbackMatrix) {
  const std::optional<InterventionOutcome> kSame;
  const std::optional<InterventionOutcome> kUnsup = InterventionOutcome::kUnsupported;
  const Intervention replace = ReplaceTool{"a", "b"};
  const Intervention inject = InjectPrompt{"hello", PromptPosition::kAfterTool, "id"};
  const Intervention inject_empty = InjectPrompt{"", PromptPosition::kBeforeNext, std::nullopt};
  struct Case {
    Intervention in;
    AdapterCapabilities caps;
    std::string text;
    std::optional<InterventionOutcome> outcome;
  };
  const std::vector<Case> cases = {
      {Continue{}, caps(false, false, false, false), "Continue", kSame},
      {Continue{}, caps(true, true, true, true), "Continue", kSame},
      {Retry{5}, caps(true, false, false, false), "Retry { delay_ms: 5 }", kSame},
      {Backoff{9, 2}, caps(true, false, false, false), "Backoff { base_ms: 9, attempt: 2 }", kSame},
      {Retry{5}, caps(false, true, true, true), R"(Abort { reason: "retry unsupported" })", kUnsup},
      {Backoff{9, 2}, caps(false, false, false, true), R"(Abort { reason: "retry unsupported" })",
       kUnsup},
      {Retry{5}, caps(false, true, true, false), "Continue", kUnsup},
      {replace, caps(true, true, true, true), R"(ReplaceTool { original: "a", replacement: "b" })",
       kSame},
      {replace, caps(true, false, true, true),
       R"x(InjectPrompt { content: "Replace a with b (tool replacement unsupported, using prompt injection)", position: BeforeNext, prompt_id: None })x",
       kUnsup},
      {replace, caps(true, false, false, true), "Retry { delay_ms: 0 }", kUnsup},
      {replace, caps(false, false, false, true),
       R"(Abort { reason: "replace_tool unsupported, no fallback" })", kUnsup},
      {replace, caps(false, false, false, false), "Continue", kUnsup},
      {inject, caps(false, false, true, false),
       R"(InjectPrompt { content: "hello", position: AfterTool, prompt_id: Some("id") })", kSame},
      {inject, caps(true, true, false, true), "Retry { delay_ms: 0 }", kUnsup},
      {inject, caps(false, true, false, true),
       R"(Abort { reason: "inject_prompt unsupported, downgrading to abort: hello" })", kUnsup},
      {inject_empty, caps(false, false, false, true),
       R"(Abort { reason: "inject_prompt unsupported, downgrading to abort: " })", kUnsup},
      {inject, caps(false, true, false, false), "Continue", kUnsup},
      {Abort{"x"}, caps(false, false, false, true), R"(Abort { reason: "x" })", kSame},
      {Abort{"x"}, caps(true, true, true, false), "Continue", kUnsup},
      {Custom{"c", nullptr}, caps(true, true, true, true), "Continue", kUnsup},
      {Custom{"c", nullptr}, caps(false, false, false, false), "Continue", kUnsup},
  };
  for (const Case& c : cases) {
    auto [out, outcome] = c.caps.downgrade(c.in);
    EXPECT_EQ(out.to_text(), c.text) << "input " << c.in.to_text();
    EXPECT_EQ(outcome, c.outcome) << "input " << c.in.to_text();
  }
}

TEST(Downgrade, PythonCapabilitiesTurnReplaceAndInjectIntoImmediateRetry) {
  const AdapterCapabilities python{true, false, false, true};
  for (const Intervention& in :
       {Intervention{ReplaceTool{"a", "b"}},
        Intervention{InjectPrompt{"p", PromptPosition::kAfterTool, "i"}}}) {
    auto [out, outcome] = python.downgrade(in);
    EXPECT_EQ(out.delay_ms(), std::optional<uint64_t>(0));
    EXPECT_TRUE(std::holds_alternative<Retry>(out.v));
    EXPECT_EQ(outcome, InterventionOutcome::kUnsupported);
  }
}

}  // namespace
}  // namespace tarnwick_core

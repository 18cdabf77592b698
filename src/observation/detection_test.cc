#include "observation/detection.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "observation/canonical.h"

namespace tarnwick_observation {
namespace {

JsonValue Json(std::string_view text) { return tarnwick_support::parse_json(text).value(); }

ToolCallEvent Call(std::string_view tool, std::string_view args, std::string_view thread = "t1") {
  return ToolCallEvent::started(thread, 0, tool, Json(args));
}

ToolCallEvent Error(uint8_t error_kind, std::string_view tool = "fetch") {
  ToolCallEvent event = Call(tool, "{}");
  event.payload = ToolErrorPayload{error_kind, 0, "failed"};
  return event;
}

uint32_t ExactCount(const ExactDetector& detector, const ToolCallEvent& event,
                    const std::vector<ToolCallEvent>& history) {
  std::optional<Detection> d = detector.detect(event, history);
  EXPECT_TRUE(d.has_value());
  if (!d) return 0;
  const auto& repeat = std::get<ExactRepeat>(*d);
  EXPECT_EQ(repeat.tool_name, event.tool_name);
  return repeat.count;
}

TEST(DetectionKind, NamesEachVariant) {
  EXPECT_EQ(kind(ExactRepeat{"t", 1}), "exact_repeat");
  EXPECT_EQ(kind(SemanticRepeat{"t", 0.5f}), "semantic_repeat");
  EXPECT_EQ(kind(RuleViolation{"r", "d"}), "rule_violation");
  EXPECT_EQ(kind(ErrorPattern{1, 3}), "error_pattern");
}

TEST(DetectorNames, AreFixed) {
  EXPECT_EQ(ExactDetector({}, false, true).name(), "exact");
  EXPECT_EQ(HistoryDetector().name(), "history");
}

struct ExactCase {
  std::string name;
  std::vector<std::string> volatile_fields;
  bool ignore_args;
  bool auto_infer;
  std::vector<std::pair<std::string, std::string>> history;  // tool, arguments
  std::string current;                                       // arguments of a "search" call
  uint32_t expected_count;
};

TEST(ExactDetector, CountsEarlierCallsOfTheToolWithEqualArguments) {
  const std::vector<ExactCase> cases = {
      {"empty history", {}, false, true, {}, R"({"q":1})", 1},
      {"three equal, one other",
       {},
       false,
       true,
       {{"search", R"({"q":1})"},
        {"search", R"({"q":1})"},
        {"search", R"({"q":2})"},
        {"search", R"({"q":1})"}},
       R"({"q":1})",
       4},
      {"configured volatile path",
       {"$.ts"},
       false,
       false,
       {{"search", R"({"q":1,"ts":1})"}},
       R"({"q":1,"ts":2})",
       2},
      {"configured nested path",
       {"meta.id"},
       false,
       false,
       {{"search", R"({"meta":{"id":1,"v":1}})"}, {"search", R"({"meta":{"id":2,"v":2}})"}},
       R"({"meta":{"id":3,"v":1}})",
       2},
      {"inferred key, two earlier calls",
       {},
       false,
       true,
       {{"search", R"({"q":1,"ts":1})"}, {"search", R"({"q":1,"ts":2})"}},
       R"({"q":1,"ts":3})",
       3},
      {"nothing inferred from one earlier call",
       {},
       false,
       true,
       {{"search", R"({"q":1,"ts":1})"}},
       R"({"q":1,"ts":3})",
       1},
      {"inference off",
       {},
       false,
       false,
       {{"search", R"({"q":1,"ts":1})"}, {"search", R"({"q":1,"ts":2})"}},
       R"({"q":1,"ts":3})",
       1},
      {"inferred key does not hide other differences",
       {},
       false,
       true,
       {{"search", R"({"q":1,"ts":1})"},
        {"search", R"({"q":1,"ts":2})"},
        {"search", R"({"q":2,"ts":3})"}},
       R"({"q":1,"ts":3})",
       3},
      {"inferred key with a dot is removed whole",
       {},
       false,
       true,
       {{"search", R"({"a":{"b":1},"a.b":1})"}, {"search", R"({"a":{"b":1},"a.b":2})"}},
       R"({"a":{"b":1},"a.b":3})",
       3},
      {"inference reads unstripped arguments",
       {"$.meta"},
       false,
       true,
       {{"search", R"({"meta":1,"q":1,"ts":1})"}, {"search", R"({"meta":2,"q":1,"ts":2})"}},
       R"({"meta":3,"q":1,"ts":3})",
       1},
      {"configured and inferred together",
       {"$.meta"},
       false,
       true,
       {{"search", R"({"meta":9,"q":1,"ts":1})"}, {"search", R"({"meta":1,"q":1,"ts":2})"}},
       R"({"meta":9,"q":1,"ts":3})",
       3},
      {"ignore_args counts every call of the tool",
       {},
       true,
       false,
       {{"search", R"({"q":1})"}, {"search", "null"}, {"fetch", R"({"q":1})"}},
       R"({"q":7})",
       3},
      {"other tools never count",
       {},
       false,
       true,
       {{"fetch", R"({"q":1})"}, {"Search", R"({"q":1})"}, {"search ", R"({"q":1})"}},
       R"({"q":1})",
       1},
      {"integer and float differ", {}, false, true, {{"search", "1.0"}, {"search", "1"}}, "1", 2},
      {"arrays compare in order",
       {},
       false,
       true,
       {{"search", R"({"a":[2,1]})"}, {"search", R"({"a":[1,2]})"}},
       R"({"a":[1,2]})",
       2},
      {"non-object arguments compare whole",
       {},
       false,
       true,
       {{"search", R"("x")"}, {"search", R"("x")"}, {"search", "null"}},
       R"("x")",
       3},
      {"non-object sample never equals an object",
       {},
       false,
       true,
       {{"search", R"({"ts":1})"}, {"search", "null"}, {"search", R"({"ts":2})"}},
       R"({"ts":3})",
       3},
      {"object sample never equals non-object current",
       {},
       false,
       true,
       {{"search", R"({"q":1})"}, {"search", "null"}},
       "null",
       2},
  };
  for (const ExactCase& c : cases) {
    ExactDetector detector(c.volatile_fields, c.ignore_args, c.auto_infer);
    std::vector<ToolCallEvent> history;
    for (const auto& [tool, args] : c.history) history.push_back(Call(tool, args));
    EXPECT_EQ(ExactCount(detector, Call("search", c.current), history), c.expected_count) << c.name;
  }
}

TEST(ExactDetector, CountsCallsFromEveryThread) {
  ExactDetector detector({}, false, true);
  std::vector<ToolCallEvent> history = {Call("search", R"({"q":1})", "run-a"),
                                        Call("search", R"({"q":1})", "run-b")};
  EXPECT_EQ(ExactCount(detector, Call("search", R"({"q":1})", "run-c"), history), 3u);
}

TEST(ExactDetector, LeavesEventAndHistoryUnchanged) {
  ExactDetector detector({"$.ts"}, false, true);
  std::vector<ToolCallEvent> history = {Call("search", R"({"q":1,"ts":1})"),
                                        Call("search", R"({"q":1,"ts":2})")};
  const std::vector<ToolCallEvent> history_before = history;
  const ToolCallEvent event = Call("search", R"({"q":1,"ts":3})");
  const ToolCallEvent event_before = event;
  ExactCount(detector, event, history);
  EXPECT_EQ(event, event_before);
  EXPECT_EQ(history, history_before);
}

// The detector compares without copying where it can; this checks it against
// the plain algorithm: copy both sides, remove configured paths and then the
// inferred top-level keys, compare.
uint32_t ReferenceCount(const std::vector<std::string>& volatile_fields, bool auto_infer,
                        const ToolCallEvent& event, const std::vector<ToolCallEvent>& history) {
  std::vector<std::string> inferred;
  if (auto_infer) {
    std::vector<std::pair<std::string_view, const JsonValue*>> pairs;
    for (const ToolCallEvent& e : history) pairs.emplace_back(e.tool_name, &e.arguments.get());
    inferred = auto_infer_volatile_fields(event.arguments.get(), pairs, event.tool_name, 2);
  }
  auto strip = [&](JsonValue value) {
    strip_volatile_fields(value, volatile_fields);
    if (JsonObject* object = value.if_object()) {
      for (const std::string& key : inferred) object->erase(key);
    }
    return value;
  };
  const JsonValue current = strip(event.arguments);
  uint32_t count = 1;
  for (const ToolCallEvent& e : history) {
    if (e.tool_name == event.tool_name && strip(e.arguments) == current) ++count;
  }
  return count;
}

TEST(ExactDetector, AgreesWithCopyAndStripOnRandomHistories) {
  // Histories are small variations of one base call, so that keys are often
  // the sole difference and get inferred, alone or several at once.
  const std::vector<JsonValue> values = {JsonValue(1),        JsonValue(2),
                                         JsonValue(1.0),      JsonValue("s"),
                                         Json(R"({"id":1})"), Json(R"({"id":2,"v":1})")};
  const std::vector<std::string> keys = {"q", "ts", "n", "a.b", "a"};
  const std::vector<std::vector<std::string>> configs = {{}, {"$.q.id"}, {"ts"}, {"q.id", "n"}};
  std::mt19937 rng(12345);
  auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
  auto vary = [&](const JsonObject& base) -> JsonValue {
    if (pick(10) == 0) return pick(2) == 0 ? JsonValue() : JsonValue(1);
    JsonObject object = base;
    for (size_t changes = pick(3); changes > 0; --changes) {
      const std::string& key = keys[pick(keys.size())];
      if (pick(4) == 0) {
        object.erase(key);
      } else {
        object.insert_or_assign(key, values[pick(values.size())]);
      }
    }
    return JsonValue(std::move(object));
  };
  for (int round = 0; round < 3000; ++round) {
    JsonObject base;
    for (const std::string& key : keys) {
      if (pick(3) != 0) base.insert_or_assign(key, values[pick(values.size())]);
    }
    std::vector<ToolCallEvent> history;
    for (size_t i = pick(12); i > 0; --i) {
      history.push_back(ToolCallEvent::started("t", 0, pick(5) == 0 ? "b" : "a", vary(base)));
    }
    const ToolCallEvent event = ToolCallEvent::started("t", 0, "a", vary(base));
    const std::vector<std::string>& config = configs[pick(configs.size())];
    const bool auto_infer = pick(4) != 0;
    ExactDetector detector(config, false, auto_infer);
    ASSERT_EQ(ExactCount(detector, event, history),
              ReferenceCount(config, auto_infer, event, history))
        << "round " << round;
  }
}

struct ErrorCase {
  std::string name;
  std::vector<ToolCallEvent> history;
  ToolCallEvent event;
  std::optional<Detection> expected;
};

TEST(HistoryDetector, CountsEarlierErrorsOfTheSameKind) {
  const std::vector<ErrorCase> cases = {
      {"tool call event", {Error(3), Error(3)}, Call("fetch", "{}"), std::nullopt},
      {"same kind, any tool",
       {Error(3, "a"), Call("fetch", "{}"), Error(4), Error(3, "b")},
       Error(3),
       ErrorPattern{3, 3}},
      {"empty history", {}, Error(0), ErrorPattern{1, 0}},
      {"other kinds only", {Error(1), Error(2)}, Error(255), ErrorPattern{1, 255}},
  };
  for (const ErrorCase& c : cases) {
    EXPECT_EQ(HistoryDetector().detect(c.event, c.history), c.expected) << c.name;
  }
}

TEST(HistoryDetector, IgnoresToolResults) {
  ToolCallEvent result = Call("fetch", "{}");
  result.payload = ToolResultPayload{0, JsonValue(1)};
  EXPECT_EQ(HistoryDetector().detect(result, {}), std::nullopt);
  EXPECT_EQ(HistoryDetector().detect(Error(2), std::vector<ToolCallEvent>{result}),
            (std::optional<Detection>(ErrorPattern{1, 2})));
}

}  // namespace
}  // namespace tarnwick_observation

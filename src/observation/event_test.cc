#include "observation/event.h"

#include <gtest/gtest.h>

#include <variant>

namespace tarnwick_observation {
namespace {

TEST(ToolCallEvent, StartedStoresInputsAndPayloadHoldsTheArguments) {
  JsonValue args = tarnwick_support::parse_json(R"({"q":[1,"x"]})").value();
  const UtcTimestamp before = UtcTimestamp::now();
  ToolCallEvent event = ToolCallEvent::started("run-1", 7, "search", args);
  EXPECT_EQ(event.thread_id, "run-1");
  EXPECT_EQ(event.step, 7u);
  EXPECT_EQ(event.tool_name, "search");
  EXPECT_EQ(event.arguments, args);
  ASSERT_TRUE(std::holds_alternative<ToolCallPayload>(event.payload));
  EXPECT_EQ(std::get<ToolCallPayload>(event.payload).arguments, args);
  EXPECT_NE(event.event_id, Uuid());
  EXPECT_EQ(event.event_id.bytes()[6] >> 4, 4);  // version 4
  EXPECT_GE(event.timestamp, before);
  EXPECT_LE(event.timestamp, UtcTimestamp::now());
}

TEST(ToolCallEvent, AcceptsAnyTextsStepsAndArguments) {
  for (const char* args : {"null", "\"text\"", "[1,2]", "1.5", "{}"}) {
    JsonValue value = tarnwick_support::parse_json(args).value();
    ToolCallEvent event = ToolCallEvent::started("", 0, "", value);
    EXPECT_EQ(event.arguments, value) << args;
  }
  EXPECT_EQ(ToolCallEvent::started("t", UINT64_MAX, "x", JsonValue()).step, UINT64_MAX);
}

TEST(ToolCallEvent, IdenticalInputsGetDistinctIds) {
  ToolCallEvent a = ToolCallEvent::started("t", 1, "x", JsonValue(1));
  ToolCallEvent b = ToolCallEvent::started("t", 1, "x", JsonValue(1));
  EXPECT_NE(a.event_id, b.event_id);
  EXPECT_NE(a, b);
}

// Copies may share the immutable arguments, but changing one copy never
// shows in another.
TEST(ToolCallEvent, CopyBehavesAsDeepAndEqual) {
  ToolCallEvent original =
      ToolCallEvent::started("t", 1, "x", tarnwick_support::parse_json(R"({"a":"b"})").value());
  ToolCallEvent copy = original;
  EXPECT_EQ(copy, original);
  copy.arguments.mutable_value().as_object().insert_or_assign("a", JsonValue("changed"));
  std::get<ToolCallPayload>(copy.payload).arguments = JsonValue();
  copy.tool_name[0] = 'y';
  EXPECT_EQ(original.arguments->as_object().find("a")->as_string(), "b");
  EXPECT_EQ(copy.arguments->as_object().find("a")->as_string(), "changed");
  EXPECT_EQ(std::get<ToolCallPayload>(original.payload).arguments, original.arguments);
  EXPECT_EQ(original.tool_name, "x");
}

}  // namespace
}  // namespace tarnwick_observation

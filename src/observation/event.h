// File: event.h
//
// A ToolCallEvent is one tool call that an agent is about to make: who (thread
// id), when (step, wall-clock time), which tool and with which arguments. An
// event owns its data and copies behave as deep copies: the arguments, which
// nothing changes, are shared between copies rather than duplicated.

#ifndef TARNWICK_OBSERVATION_EVENT_H_
#define TARNWICK_OBSERVATION_EVENT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "support/clock.h"
#include "support/json.h"
#include "support/uuid.h"

namespace tarnwick_observation {

using tarnwick_support::JsonValue;
using tarnwick_support::SharedJson;
using tarnwick_support::UtcTimestamp;
using tarnwick_support::Uuid;

// What an event reports.
struct ToolCallPayload {
  SharedJson arguments;
  friend bool operator==(const ToolCallPayload&, const ToolCallPayload&) = default;
};
struct ToolResultPayload {
  uint64_t number = 0;
  JsonValue result;
  friend bool operator==(const ToolResultPayload&, const ToolResultPayload&) = default;
};
struct ToolErrorPayload {
  uint8_t error_kind = 0;
  uint64_t number = 0;
  std::string message;
  friend bool operator==(const ToolErrorPayload&, const ToolErrorPayload&) = default;
};
// Variants in order: ToolCall, ToolResult, ToolError.
using Payload = std::variant<ToolCallPayload, ToolResultPayload, ToolErrorPayload>;

struct ToolCallEvent {
  std::string thread_id;
  std::string tool_name;
  Payload payload;
  // What the detectors read. Shares its (immutable) value with the ToolCall
  // payload and with every copy of the event.
  SharedJson arguments;
  Uuid event_id;
  uint64_t step = 0;
  UtcTimestamp timestamp;

  // Builds a ToolCall event with a fresh random event_id and the current UTC
  // time. Cannot fail; any texts and any JSON value are accepted.
  static ToolCallEvent started(std::string_view thread_id, uint64_t step,
                               std::string_view tool_name, JsonValue arguments);

  friend bool operator==(const ToolCallEvent&, const ToolCallEvent&) = default;
};

}  // namespace tarnwick_observation

#endif  // TARNWICK_OBSERVATION_EVENT_H_

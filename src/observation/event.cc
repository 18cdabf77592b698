#include "observation/event.h"

#include <utility>

namespace tarnwick_observation {

ToolCallEvent ToolCallEvent::started(std::string_view thread_id, uint64_t step,
                                     std::string_view tool_name, JsonValue arguments) {
  ToolCallEvent event;
  // The detectors read `arguments`; the payload keeps the caller's value, so
  // both hold equal values that nothing changes afterwards.
  event.arguments = arguments;
  event.payload = ToolCallPayload{std::move(arguments)};
  event.event_id = Uuid::new_v4();
  event.timestamp = UtcTimestamp::now();
  event.thread_id = std::string(thread_id);
  event.tool_name = std::string(tool_name);
  event.step = step;
  return event;
}

}  // namespace tarnwick_observation

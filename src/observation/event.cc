#include "observation/event.h"

#include <utility>

namespace tarnwick_observation {

ToolCallEvent ToolCallEvent::started(std::string_view thread_id, uint64_t step,
                                     std::string_view tool_name, JsonValue arguments) {
  ToolCallEvent event;
  // The detectors read `arguments`; the payload holds the same value. Both
  // share one immutable copy, as do all copies of the event.
  SharedJson shared(std::move(arguments));
  event.arguments = shared;
  event.payload = ToolCallPayload{std::move(shared)};
  event.event_id = Uuid::new_v4();
  event.timestamp = UtcTimestamp::now();
  event.thread_id = std::string(thread_id);
  event.tool_name = std::string(tool_name);
  event.step = step;
  return event;
}

}  // namespace tarnwick_observation

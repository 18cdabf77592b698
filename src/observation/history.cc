#include "observation/history.h"

#include <utility>

namespace tarnwick_observation {

InMemoryHistoryStore::InMemoryHistoryStore(size_t capacity) : capacity_(capacity) {
  // Room for the live window plus the evicted shells awaiting compaction.
  events_.reserve(capacity * 2);
}

void InMemoryHistoryStore::push(ToolCallEvent event) {
  if (capacity_ == 0) return;  // the event is evicted as soon as it arrives
  events_.push_back(std::move(event));
  if (events_.size() - first_ > capacity_) {
    // Moving the oldest event out destroys its data now; only the empty
    // shell stays behind.
    ToolCallEvent evicted = std::move(events_[first_]);
    ++first_;
  }
  if (first_ >= capacity_) {
    events_.erase(events_.begin(), events_.begin() + static_cast<std::ptrdiff_t>(first_));
    first_ = 0;
  }
}

std::vector<ToolCallEvent> InMemoryHistoryStore::get_recent() const {
  const std::span<const ToolCallEvent> held = view();
  return std::vector<ToolCallEvent>(held.begin(), held.end());
}

}  // namespace tarnwick_observation

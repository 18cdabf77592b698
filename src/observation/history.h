// File: history.h
//
// The bounded window of earlier tool-call events that the detectors judge a
// new call against. The window is one sequence for its owner, shared by all
// thread ids, oldest event first. Stores do no locking: push needs exclusive
// access, the other operations only read.

#ifndef TARNWICK_OBSERVATION_HISTORY_H_
#define TARNWICK_OBSERVATION_HISTORY_H_

#include <cstddef>
#include <span>
#include <vector>

#include "observation/event.h"

namespace tarnwick_observation {

class HistoryStore {
 public:
  virtual ~HistoryStore() = default;
  // Takes over `event` as the newest one; may evict the oldest.
  virtual void push(ToolCallEvent event) = 0;
  // Deep copies of all events held, oldest first; the store is unchanged.
  virtual std::vector<ToolCallEvent> get_recent() const = 0;
  // The number of events held.
  virtual size_t len() const = 0;
  virtual bool is_empty() const { return len() == 0; }
};

// A window of at most `capacity` events: each push beyond the capacity
// evicts (destroys) the oldest event. The events are kept in one contiguous
// run, so the detectors can read them in place through view(). Pushing and
// evicting take amortised constant time.
class InMemoryHistoryStore final : public HistoryStore {
 public:
  explicit InMemoryHistoryStore(size_t capacity);

  void push(ToolCallEvent event) override;
  std::vector<ToolCallEvent> get_recent() const override;
  size_t len() const override { return events_.size() - first_; }

  // The events held, oldest first, without copying them; valid until the
  // next push.
  std::span<const ToolCallEvent> view() const { return std::span(events_).subspan(first_); }

  size_t capacity() const { return capacity_; }

 private:
  // Events before first_ have been evicted: their slots hold emptied shells
  // until a whole window's worth has piled up, when the live events move to
  // the front (one move per push on average).
  std::vector<ToolCallEvent> events_;
  size_t first_ = 0;
  size_t capacity_;
};

}  // namespace tarnwick_observation

#endif  // TARNWICK_OBSERVATION_HISTORY_H_

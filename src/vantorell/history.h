// File: history.h
//
// The loop gate of the verifier. A HistoryTracker remembers the calls it let
// through (tool name and raw argument text, one list for every tool) and
// refuses a call that already appears too often among the newest entries.
// Not thread-safe: the tracker belongs to one verifier state, which is used by
// one thread at a time.

#ifndef VANTORELL_HISTORY_H_
#define VANTORELL_HISTORY_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorell {

// The number of newest entries a check examines: twice `max_repeats`
// (saturating at the largest 64-bit value), widened to `history_window` when
// that is larger. Never narrower than twice `max_repeats`.
uint64_t loop_window(uint64_t max_repeats, std::optional<uint64_t> history_window);

class HistoryTracker {
 public:
  static constexpr std::string_view kLoopMessagePrefix = "Agent appears to be looping on tool ";

  HistoryTracker() = default;

  // Counts the call itself plus every entry among the newest loop_window()
  // ones whose tool name (and, unless `ignore_args`, argument text) equals
  // the call's byte for byte. A count of at least `max_repeats` refuses the
  // call: the result is "Agent appears to be looping on tool {tool_name}" and
  // nothing is recorded. Otherwise the call is recorded as the newest entry
  // and the result is empty.
  //
  // Entries that fall out of the window are dropped, so memory stays bounded
  // by the window (and grows only with what is recorded); a tracker must
  // therefore be driven with the same `max_repeats` and `history_window` for
  // its whole life.
  std::optional<std::string> check_loop(std::string_view tool_name, std::string_view argument_text,
                                        bool ignore_args, uint64_t max_repeats,
                                        std::optional<uint64_t> history_window);

  // check_loop without building the message: true when the call is refused
  // (and not recorded), false when it was recorded.
  bool refuse_or_record(std::string_view tool_name, std::string_view argument_text,
                        bool ignore_args, uint64_t max_repeats,
                        std::optional<uint64_t> history_window);

  // Number of entries held (at most the window).
  size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    std::string tool_name;
    std::string argument_text;
  };

  // A ring: `entries_` grows up to the window, after which the oldest slot
  // (at `oldest_`) is overwritten in place, reusing its storage.
  std::vector<Entry> entries_;
  size_t oldest_ = 0;
};

}  // namespace vantorell

#endif  // VANTORELL_HISTORY_H_

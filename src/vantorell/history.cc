#include "vantorell/history.h"

#include <limits>

namespace vantorell {

uint64_t loop_window(uint64_t max_repeats, std::optional<uint64_t> history_window) {
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  uint64_t window = max_repeats > kMax / 2 ? kMax : 2 * max_repeats;
  if (history_window && *history_window > window) window = *history_window;
  return window;
}

std::optional<std::string> HistoryTracker::check_loop(std::string_view tool_name,
                                                      std::string_view argument_text,
                                                      bool ignore_args, uint64_t max_repeats,
                                                      std::optional<uint64_t> history_window) {
  if (!refuse_or_record(tool_name, argument_text, ignore_args, max_repeats, history_window)) {
    return std::nullopt;
  }
  std::string message;
  message.reserve(kLoopMessagePrefix.size() + tool_name.size());
  message.append(kLoopMessagePrefix).append(tool_name);
  return message;
}

bool HistoryTracker::refuse_or_record(std::string_view tool_name, std::string_view argument_text,
                                      bool ignore_args, uint64_t max_repeats,
                                      std::optional<uint64_t> history_window) {
  const uint64_t window = loop_window(max_repeats, history_window);
  const size_t held = entries_.size();
  // Entries beyond the window are never kept, so every held entry is within
  // it: walk them all, newest first.
  uint64_t count = 1;                           // the call itself
  size_t slot = oldest_ == 0 ? held : oldest_;  // one past the newest entry
  for (size_t i = 0; i < held && count < max_repeats; ++i) {
    slot = slot == 0 ? held - 1 : slot - 1;
    const Entry& e = entries_[slot];
    if (e.tool_name == tool_name && (ignore_args || e.argument_text == argument_text)) ++count;
  }
  if (count >= max_repeats) return true;

  if (window == 0) return false;  // nothing could ever be examined
  if (held < window) {
    entries_.push_back(Entry{std::string(tool_name), std::string(argument_text)});
  } else {
    Entry& slot = entries_[oldest_];
    slot.tool_name.assign(tool_name);
    slot.argument_text.assign(argument_text);
    if (++oldest_ == held) oldest_ = 0;
  }
  return false;
}

}  // namespace vantorell

// File: state.h
//
// Everything one verifier needs: the settings read from its configuration,
// the compiled rules, the loop tracker and the text of the last rejection.
// The settings never change after creation; the last-error text lives in a
// fixed 1024-byte buffer inside the state, so its address is stable for as
// long as the state itself does not move (the C interface keeps states on
// the heap). Not thread-safe: one thread at a time per state.

#ifndef VANTORELL_STATE_H_
#define VANTORELL_STATE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vantorell/config.h"
#include "vantorell/engine.h"
#include "vantorell/history.h"

namespace vantorell {

class VantorellState {
 public:
  // Room for the last-error text: at most this minus one bytes plus a NUL.
  static constexpr size_t kLastErrorCapacity = 1024;

  // Reads the configuration and compiles its rules. Errors are the first
  // text met: "YAML parsing error: {}" or "Regex error: {}".
  static std::expected<VantorellState, std::string> create(std::string_view yaml);

  VantorellState(VantorellState&&) noexcept = default;
  VantorellState& operator=(VantorellState&&) noexcept = default;
  VantorellState(const VantorellState&) = delete;
  VantorellState& operator=(const VantorellState&) = delete;

  Strictness strictness() const { return strictness_; }
  uint64_t max_repeats() const { return max_repeats_; }
  bool ignore_args() const { return ignore_args_; }
  std::optional<uint64_t> history_window() const { return history_window_; }
  const RuleEngine& rule_engine() const { return rule_engine_; }
  const HistoryTracker& history() const { return history_; }
  HistoryTracker& history() { return history_; }
  const std::vector<ToolConfig>& tools() const { return tools_; }
  const std::optional<VantorellDefaults>& defaults() const { return defaults_; }

  // The verdict of a rejected call: 1 plus the strictness code.
  uint8_t rejection_verdict() const {
    return static_cast<uint8_t>(1 + static_cast<int>(strictness_));
  }

  // Replaces the last-error text with `first` followed by `second`, cut to
  // the first 1023 bytes (possibly inside a UTF-8 character) and
  // NUL-terminated. Never allocates.
  void store_last_error(std::string_view first, std::string_view second = {});

  // The NUL-terminated last-error text, or nullptr before the first
  // rejection. The address is the same for every rejection.
  const char* last_error() const { return last_error_len_ == 0 ? nullptr : last_error_.data(); }
  // The stored bytes without the NUL (empty before the first rejection).
  std::string_view last_error_text() const { return {last_error_.data(), last_error_len_}; }

 private:
  VantorellState(VantorellConfig config, RuleEngine engine);

  Strictness strictness_;
  uint64_t max_repeats_;
  bool ignore_args_;
  std::optional<uint64_t> history_window_;
  RuleEngine rule_engine_;
  HistoryTracker history_;
  std::array<char, kLastErrorCapacity> last_error_{};
  size_t last_error_len_ = 0;
  std::vector<ToolConfig> tools_;              // kept, never consulted
  std::optional<VantorellDefaults> defaults_;  // kept, never consulted
};

}  // namespace vantorell

#endif  // VANTORELL_STATE_H_

#include "vantorell/verify.h"

#include "support/json.h"

namespace vantorell {

uint8_t verify(VantorellState& state, std::string_view tool_name, std::string_view argument_text) {
  // The texts are only borrowed here; the tracker copies them if it records
  // the call.
  if (!tarnwick_support::is_valid_utf8(tool_name)) tool_name = {};
  if (!tarnwick_support::is_valid_utf8(argument_text)) argument_text = {};

  if (state.history().refuse_or_record(tool_name, argument_text, state.ignore_args(),
                                       state.max_repeats(), state.history_window())) {
    // Written straight into the error buffer: a refusal allocates nothing.
    state.store_last_error(HistoryTracker::kLoopMessagePrefix, tool_name);
    return state.rejection_verdict();
  }
  for (const CompiledRule& rule : state.rule_engine().rules) {
    if (auto failure = rule.matches(argument_text)) {
      state.store_last_error(*failure);
      return state.rejection_verdict();
    }
  }
  return kPass;
}

}  // namespace vantorell

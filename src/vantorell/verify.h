// File: verify.h
//
// One proposed tool call through a verifier: the loop gate first, then the
// rules in configuration order. The verdict is 0 when the call passes and
// 1 plus the strictness code when it is rejected, the reason then being the
// state's last-error text.

#ifndef VANTORELL_VERIFY_H_
#define VANTORELL_VERIFY_H_

#include <cstdint>
#include <string_view>

#include "vantorell/state.h"

namespace vantorell {

// Verdicts of `verify` (a rejection is kPass + 1 + strictness code).
inline constexpr uint8_t kPass = 0;

// Texts that are not valid UTF-8 are treated as the empty text (whole, not
// byte by byte). A call that passes the loop gate is recorded even when a
// rule then rejects it. A passing call leaves the last-error text unchanged.
// The spans are only read during the call.
uint8_t verify(VantorellState& state, std::string_view tool_name, std::string_view argument_text);

}  // namespace vantorell

#endif  // VANTORELL_VERIFY_H_

// The four C entry points. Each catches every C++ failure at the boundary so
// that nothing unwinds into a C caller.

#include <exception>
#include <new>
#include <string_view>
#include <utility>

#include "support/json.h"
#include "vantorell.h"
#include "vantorell/state.h"
#include "vantorell/verify.h"

struct vantorell_state_t {
  vantorell::VantorellState state;
};

namespace {

std::string_view span(const char* data, size_t len) {
  return data == nullptr ? std::string_view() : std::string_view(data, len);
}

}  // namespace

extern "C" {

vantorell_state_t* vantorell_init(const char* yaml, size_t len) {
  try {
    if (yaml == nullptr) return nullptr;
    std::string_view text(yaml, len);
    if (!tarnwick_support::is_valid_utf8(text)) return nullptr;
    auto state = vantorell::VantorellState::create(text);
    if (!state) return nullptr;
    return new vantorell_state_t{std::move(*state)};
  } catch (...) {
    return nullptr;
  }
}

uint8_t vantorell_verify(vantorell_state_t* state, const char* tool, size_t tool_len,
                         const char* args, size_t args_len) {
  if (state == nullptr) return VANTORELL_PASS;
  // An unexpected failure inside the verifier rejects the call rather than
  // letting it through unchecked.
  try {
    return vantorell::verify(state->state, span(tool, tool_len), span(args, args_len));
  } catch (const std::exception& e) {
    state->state.store_last_error("internal error: ", e.what());
  } catch (...) {
    state->state.store_last_error("internal error: unknown failure");
  }
  return state->state.rejection_verdict();
}

const char* vantorell_get_last_error(const vantorell_state_t* state) {
  if (state == nullptr) return nullptr;
  return state->state.last_error();
}

void vantorell_free(vantorell_state_t* state) {
  try {
    delete state;
  } catch (...) {
    // Destructors do not throw; nothing may unwind into C regardless.
  }
}

}  // extern "C"

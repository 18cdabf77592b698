// Fuzzes the verifier configuration reader and the creation of a verifier:
// any bytes given to vantorell_init yield a handle or null without leaking;
// a UTF-8 text either reads into a configuration or fails with the fixed
// "YAML parsing error: " prefix, and a verifier is created exactly when the
// configuration reads and its rules compile.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "support/json.h"
#include "vantorell.h"
#include "vantorell/config.h"
#include "vantorell/state.h"

namespace {

constexpr size_t kMaxInput = 64 * 1024;

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return -1;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  vantorell_state_t* handle = vantorell_init(text.data(), text.size());
  if (handle != nullptr) {
    // A fresh handle has no rejection, and one call always gets a verdict.
    if (vantorell_get_last_error(handle) != nullptr) __builtin_trap();
    if (vantorell_verify(handle, "t", 1, text.data(), text.size()) > VANTORELL_REJECT_STRICT) {
      __builtin_trap();
    }
    vantorell_free(handle);
  }
  if (!tarnwick_support::is_valid_utf8(text)) {
    if (handle != nullptr) __builtin_trap();
    return 0;
  }

  auto config = vantorell::VantorellConfig::from_yaml(text);
  if (!config && !starts_with(config.error(), "YAML parsing error: ")) __builtin_trap();
  auto state = vantorell::VantorellState::create(text);
  if (state.has_value() != (handle != nullptr)) __builtin_trap();
  if (!state) {
    const bool known = starts_with(state.error(), "YAML parsing error: ") ||
                       starts_with(state.error(), "Regex error: ");
    if (!known || (config.has_value() && !starts_with(state.error(), "Regex error: "))) {
      __builtin_trap();
    }
  } else if (!config) {
    __builtin_trap();
  }
  return 0;
}

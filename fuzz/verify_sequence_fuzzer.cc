// Drives one verifier through many calls. The first byte picks one of a few
// fixed configurations (loop gate settings, every rule kind, every
// strictness), or, when it is 0xFF, the configuration is read from the input
// up to the first NUL byte. The rest of the input is a sequence of calls,
// each a tool name and an argument text of random length, sometimes passed
// as null pointers. Checks after every call: the verdict is a pass or the
// handle's one rejection verdict; after a rejection the last error is
// present, at most 1023 bytes long and always at the same address; a pass
// leaves the last error text as it was.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "vantorell.h"

namespace {

constexpr size_t kMaxInput = 64 * 1024;

constexpr const char* kConfigs[] = {
    "{}",
    "strictness: lenient\nmax_repeats: 2\n",
    "strictness: strict\nmax_repeats: 4\nhistory_window: 3\n",
    "max_repeats: 3\nignore_args: true\nhistory_window: 10\n",
    "max_repeats: 0\n",
    "max_repeats: 1000\nrules:\n  - type: json_schema\n    required: [path, mode]\n",
    "max_repeats: 1000\nrules:\n  - [json_schema, [a], array]\n",
    "strictness: strict\nrules:\n  - type: regex\n    pattern: '^\\{.*\"path\":\\s*\"/[a-z]+\"'\n"
    "  - type: exact\n    value: '{\"path\":\"/etc\"}'\n",
    "rules:\n  - type: regex\n    pattern: '(a+)+$'\n  - type: regex\n    pattern: '\\p{Greek}'\n",
    "max_repeats: 5\nrules:\n  - type: exact\n    value: ''\n",
};
constexpr size_t kConfigCount = sizeof(kConfigs) / sizeof(kConfigs[0]);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput || size == 0) return -1;
  FuzzedDataProvider in(data + 1, size - 1);
  vantorell_state_t* state = nullptr;
  if (data[0] == 0xFF) {
    const std::string yaml = in.ConsumeRandomLengthString(4096);
    state = vantorell_init(yaml.data(), yaml.size());
  } else {
    const char* yaml = kConfigs[data[0] % kConfigCount];
    state = vantorell_init(yaml, std::strlen(yaml));
    if (state == nullptr) __builtin_trap();  // every fixed configuration is valid
  }
  if (state == nullptr) return 0;

  const char* error_address = nullptr;
  std::string last_error;
  uint8_t rejection = 0;
  while (in.remaining_bytes() > 0) {
    const uint8_t flags = in.ConsumeIntegral<uint8_t>();
    const std::string tool = in.ConsumeRandomLengthString(2048);
    const std::string args = in.ConsumeRandomLengthString(4096);
    // Null pointers stand for the empty text whatever length comes with them.
    const char* tool_ptr = (flags & 1) ? nullptr : tool.data();
    const char* args_ptr = (flags & 2) ? nullptr : args.data();
    const uint8_t verdict = vantorell_verify(state, tool_ptr, tool.size(), args_ptr, args.size());
    const char* error = vantorell_get_last_error(state);
    if (verdict == VANTORELL_PASS) {
      if (error != error_address) __builtin_trap();
      if (error != nullptr && last_error != error) __builtin_trap();
      continue;
    }
    if (verdict > VANTORELL_REJECT_STRICT) __builtin_trap();
    if (rejection != 0 && verdict != rejection) __builtin_trap();
    rejection = verdict;
    if (error == nullptr || std::strlen(error) > 1023) __builtin_trap();
    if (error_address != nullptr && error != error_address) __builtin_trap();
    error_address = error;
    last_error = error;
  }
  vantorell_free(state);
  return 0;
}

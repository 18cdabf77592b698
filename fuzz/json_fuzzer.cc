// Fuzzes the JSON reader and the canonical writer: any input either fails to
// read or reads into a value whose compact text reads back to an equal value
// and is a fixed point of read-then-write. The pretty text must read back to
// the same value as well.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "support/json.h"

namespace {

constexpr size_t kMaxInput = 64 * 1024;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "json_fuzzer: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return -1;
  using tarnwick_support::parse_json;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto value = parse_json(text);
  if (!value) {
    (void)value.error().to_string();
    return 0;
  }
  const std::string compact = tarnwick_support::to_json(*value);
  if (!tarnwick_support::is_valid_utf8(compact)) fail("compact text is not UTF-8");
  auto again = parse_json(compact);
  if (!again) fail("compact text does not read back");
  if (!(*again == *value)) fail("compact text reads back to another value");
  if (tarnwick_support::to_json(*again) != compact) fail("canonical text is not a fixed point");

  auto pretty = parse_json(tarnwick_support::to_json_pretty(*value));
  if (!pretty || !(*pretty == *value)) fail("pretty text reads back to another value");
  return 0;
}

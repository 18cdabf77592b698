// Fuzzes canonicalize_args, strip_volatile_fields and
// auto_infer_volatile_fields. Input layout: volatile paths, one per line, up
// to the first NUL byte, then the arguments text (no NUL: no paths, the whole
// input is the arguments). Checks that the canonical text is valid JSON, that
// canonicalising it again with the same paths changes nothing (stripping only
// removes object members, so a second pass finds nothing new), and that every
// inferred key is a top-level key of the current or an earlier call.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "observation/canonical.h"
#include "support/json.h"

namespace {

constexpr size_t kMaxInput = 64 * 1024;
constexpr size_t kMaxPaths = 64;

using tarnwick_observation::JsonValue;

std::vector<std::string> split_lines(std::string_view text) {
  std::vector<std::string> lines;
  while (lines.size() < kMaxPaths) {
    const size_t end = text.find('\n');
    lines.emplace_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

bool has_key(const JsonValue& v, std::string_view key) {
  const auto* object = v.if_object();
  return object != nullptr && object->contains(key);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return -1;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> paths;
  const size_t nul = input.find('\0');
  if (nul != std::string_view::npos) {
    paths = split_lines(input.substr(0, nul));
    input.remove_prefix(nul + 1);
  }

  const std::string canonical = tarnwick_observation::canonicalize_args(input, paths);
  auto value = tarnwick_support::parse_json(canonical);
  if (!value) __builtin_trap();
  if (tarnwick_observation::canonicalize_args(canonical, paths) != canonical) __builtin_trap();

  // Inference of the parsed arguments against the unstripped and the
  // stripped form of themselves, as two earlier calls of one tool.
  auto original = tarnwick_support::parse_json(input);
  if (!original) return 0;
  const JsonValue& stripped = *value;
  const std::pair<std::string_view, const JsonValue*> history[] = {
      {"t", &*original}, {"other", &stripped}, {"t", &stripped}, {"t", &*original}};
  for (size_t min_samples : {0, 1, 2, 3}) {
    for (const std::string& key :
         tarnwick_observation::auto_infer_volatile_fields(stripped, history, "t", min_samples)) {
      if (!has_key(stripped, key) && !has_key(*original, key)) __builtin_trap();
    }
  }
  return 0;
}

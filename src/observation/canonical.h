// File: canonical.h
//
// Canonical argument texts and volatile fields. Two tool calls are the same
// call when their arguments are equal once volatile fields (request ids,
// timestamps, nonces) are removed. None of these operations fails: paths that
// do not resolve are skipped and unparseable arguments read as JSON null.
//
// A volatile path is "$."-prefixed or bare and dotted: `ts`, `$.ts`, `a.b`,
// `x.0.id`. All segments but the last locate the parent (object keys, or
// array indices without sign or leading zeros); the last one names the member
// removed from that parent when it is an object.
//
//   canonicalize_args(R"({"b": 1, "a": [true, null], "ts": 5})", {"ts"})
//     == R"({"a":[true,null],"b":1})"

#ifndef TARNWICK_OBSERVATION_CANONICAL_H_
#define TARNWICK_OBSERVATION_CANONICAL_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/json.h"

namespace tarnwick_observation {

using tarnwick_support::JsonObject;
using tarnwick_support::JsonValue;

// Removes the members named by `paths` from `value`, in list order, each path
// applied to what the previous ones left.
void strip_volatile_fields(JsonValue& value, std::span<const std::string> paths);

// Guesses the volatile top-level keys of `current` from earlier calls of
// `tool_name` in `history` (pairs of tool name and borrowed arguments, oldest
// first). A key is inferred when it was the only difference against at least
// one earlier call and differed in at least `min_samples` of them. Empty when
// `current` is not an object or there are fewer than `min_samples` earlier
// calls of the tool. The order of the keys is unspecified.
std::vector<std::string> auto_infer_volatile_fields(
    const JsonValue& current,
    std::span<const std::pair<std::string_view, const JsonValue*>> history,
    std::string_view tool_name, size_t min_samples);

// The compact canonical text of `args_json` with `volatile_fields` removed;
// "null" when the text is not one JSON document.
std::string canonicalize_args(std::string_view args_json,
                              std::span<const std::string> volatile_fields);

namespace internal {

// The differences of one object (the current arguments) against each of a
// list of samples, and the keys inferred from them. Keys are views into the
// objects compared, valid as long as they are.
class KeyDifferences {
 public:
  // Compares `current` with every sample (non-object samples count as
  // samples but have no difference list) and infers the volatile keys when
  // there are at least `min_samples` samples.
  void compute(const JsonObject& current, std::span<const JsonValue* const> samples,
               size_t min_samples);

  // The inferred keys; each was the sole difference against some object
  // sample and differed in at least `min_samples` samples.
  std::span<const std::string_view> inferred() const { return inferred_; }

  // Whether sample `i` equals the current arguments once the inferred keys
  // are removed from the top level of both.
  bool matches_without_inferred(size_t i) const;

 private:
  static constexpr uint32_t kNotObject = UINT32_MAX;
  struct Range {
    uint32_t begin;  // kNotObject for a sample that is not an object
    uint32_t end;
  };
  std::vector<std::string_view> keys_;  // all difference lists, back to back
  std::vector<Range> ranges_;           // per sample: its difference list in keys_
  std::vector<std::string_view> inferred_;
};

// Whether `a` and `b` are equal once the top-level members named in
// `skipped` are removed from both (only when they are objects).
bool equal_without_keys(const JsonValue& a, const JsonValue& b,
                        std::span<const std::string_view> skipped);

}  // namespace internal

}  // namespace tarnwick_observation

#endif  // TARNWICK_OBSERVATION_CANONICAL_H_

#include "observation/canonical.h"

#include <algorithm>
#include <charconv>
#include <utility>

namespace tarnwick_observation {
namespace {

// Replaces every occurrence of `from` in `s` with `to`.
void replace_all(std::string& s, std::string_view from, std::string_view to) {
  for (size_t pos = s.find(from); pos != std::string::npos; pos = s.find(from, pos + to.size())) {
    s.replace(pos, from.size(), to);
  }
}

// An array index: decimal digits, no sign, no leading zero unless it is "0".
bool parse_index(std::string_view token, size_t* out) {
  if (token.empty() || (token.size() > 1 && token.front() == '0')) return false;
  if (!std::all_of(token.begin(), token.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), *out);
  return ec == std::errc() && end == token.data() + token.size();
}

// Resolves the parent segments of a path the way a JSON Pointer made of them
// would: the segments are joined with "/" unescaped, so a "/" inside a
// segment splits it further, and "~1" / "~0" read as "/" / "~".
JsonValue* resolve_parent(JsonValue& root, std::string_view segments) {
  JsonValue* node = &root;
  std::string token;
  size_t start = 0;
  while (true) {
    size_t stop = segments.find_first_of("./", start);
    std::string_view raw = segments.substr(
        start, stop == std::string_view::npos ? std::string_view::npos : stop - start);
    token.assign(raw);
    if (token.find('~') != std::string::npos) {
      replace_all(token, "~1", "/");
      replace_all(token, "~0", "~");
    }
    if (JsonObject* object = node->if_object()) {
      node = object->find(token);
    } else if (node->is_array()) {
      size_t index = 0;
      auto& array = node->as_array();
      node = parse_index(token, &index) && index < array.size() ? &array[index] : nullptr;
    } else {
      node = nullptr;
    }
    if (node == nullptr || stop == std::string_view::npos) return node;
    start = stop + 1;
  }
}

void strip_path(JsonValue& root, std::string_view path) {
  if (path.starts_with("$.")) path.remove_prefix(2);
  size_t last_dot = path.rfind('.');
  JsonValue* parent = &root;
  std::string_view last = path;
  if (last_dot != std::string_view::npos) {
    parent = resolve_parent(root, path.substr(0, last_dot));
    last = path.substr(last_dot + 1);
  }
  if (parent == nullptr) return;
  if (JsonObject* object = parent->if_object()) object->erase(last);
}

// Byte-order comparison of two keys. Keys are short, so a plain loop beats a
// call into memcmp on this hot path.
inline int compare_keys(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// Difference lists mostly hold views of the current arguments' own keys, so
// the same storage is a quick way to equality.
inline bool same_key(std::string_view a, std::string_view b) {
  return a.size() == b.size() && (a.data() == b.data() || compare_keys(a, b) == 0);
}

inline bool contains_key(std::span<const std::string_view> keys, std::string_view key) {
  for (std::string_view k : keys) {
    if (same_key(k, key)) return true;
  }
  return false;
}

}  // namespace

void strip_volatile_fields(JsonValue& value, std::span<const std::string> paths) {
  for (const std::string& path : paths) strip_path(value, path);
}

std::vector<std::string> auto_infer_volatile_fields(
    const JsonValue& current,
    std::span<const std::pair<std::string_view, const JsonValue*>> history,
    std::string_view tool_name, size_t min_samples) {
  const JsonObject* object = current.if_object();
  if (object == nullptr) return {};
  static const JsonValue kNull;
  std::vector<const JsonValue*> samples;
  for (const auto& [name, arguments] : history) {
    if (name == tool_name) samples.push_back(arguments != nullptr ? arguments : &kNull);
  }
  internal::KeyDifferences differences;
  differences.compute(*object, samples, min_samples);
  std::vector<std::string> keys;
  keys.reserve(differences.inferred().size());
  for (std::string_view key : differences.inferred()) keys.emplace_back(key);
  return keys;
}

std::string canonicalize_args(std::string_view args_json,
                              std::span<const std::string> volatile_fields) {
  auto parsed = tarnwick_support::parse_json(args_json);
  JsonValue value = parsed ? std::move(*parsed) : JsonValue();
  if (!volatile_fields.empty()) strip_volatile_fields(value, volatile_fields);
  return tarnwick_support::to_json(value);
}

namespace internal {

void KeyDifferences::compute(const JsonObject& current, std::span<const JsonValue* const> samples,
                             size_t min_samples) {
  keys_.clear();
  ranges_.clear();
  inferred_.clear();
  ranges_.reserve(samples.size());
  keys_.reserve(samples.size() + current.size());
  // Both objects iterate in key order, so one merge walk finds the keys that
  // only one side has and the shared keys whose values differ.
  for (const JsonValue* sample : samples) {
    const JsonObject* other = sample->if_object();
    if (other == nullptr) {
      ranges_.push_back({kNotObject, kNotObject});
      continue;
    }
    const auto begin = static_cast<uint32_t>(keys_.size());
    auto a = current.begin();
    auto b = other->begin();
    while (a != current.end() && b != other->end()) {
      const int order = compare_keys(a->first, b->first);
      if (order < 0) {
        keys_.push_back(a->first);
        ++a;
      } else if (order > 0) {
        keys_.push_back(b->first);
        ++b;
      } else {
        if (!(a->second == b->second)) keys_.push_back(a->first);
        ++a;
        ++b;
      }
    }
    for (; a != current.end(); ++a) keys_.push_back(a->first);
    for (; b != other->end(); ++b) keys_.push_back(b->first);
    ranges_.push_back({begin, static_cast<uint32_t>(keys_.size())});
  }
  if (samples.size() < min_samples) return;

  // Only a key that was the sole difference somewhere can be inferred, so
  // those few candidates are the only keys worth counting.
  for (const Range& range : ranges_) {
    if (range.begin == kNotObject || range.end - range.begin != 1) continue;
    std::string_view key = keys_[range.begin];
    if (!contains_key(inferred_, key)) inferred_.push_back(key);
  }
  if (inferred_.empty()) return;
  // A key appears at most once in each difference list, so its number of
  // occurrences is the number of samples it differed in.
  std::erase_if(inferred_, [&](std::string_view key) {
    size_t count = 0;
    for (std::string_view k : keys_) count += same_key(k, key) ? 1 : 0;
    return count < min_samples;
  });
}

bool KeyDifferences::matches_without_inferred(size_t i) const {
  const Range& range = ranges_[i];
  if (range.begin == kNotObject) return false;  // the current arguments are an object
  for (uint32_t k = range.begin; k < range.end; ++k) {
    if (!contains_key(inferred_, keys_[k])) return false;
  }
  return true;
}

bool equal_without_keys(const JsonValue& a, const JsonValue& b,
                        std::span<const std::string_view> skipped) {
  const JsonObject* left = a.if_object();
  const JsonObject* right = b.if_object();
  if (skipped.empty() || left == nullptr || right == nullptr) return a == b;
  auto is_skipped = [&](const JsonObject::Member& member) {
    return contains_key(skipped, member.first);
  };
  auto x = left->begin();
  auto y = right->begin();
  while (true) {
    while (x != left->end() && is_skipped(*x)) ++x;
    while (y != right->end() && is_skipped(*y)) ++y;
    if (x == left->end() || y == right->end()) return x == left->end() && y == right->end();
    if (x->first != y->first || !(x->second == y->second)) return false;
    ++x;
    ++y;
  }
}

}  // namespace internal
}  // namespace tarnwick_observation

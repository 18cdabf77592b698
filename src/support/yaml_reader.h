// File: yaml_reader.h
//
// The library's one YAML reader. `YamlDocument::parse` reads exactly one
// document into an immutable node tree, resolving anchors and aliases and
// refusing more than 128 nested mappings and sequences; records are then read
// from the tree through small declarative descriptions (a key, whether it is
// required, how its value is read), never through a parser written per record.
//
//   struct Point { std::string name; uint64_t x = 0; };
//   const YamlRecord<Point> kPoint{"struct Point",
//       {yaml_field("name", &Point::name, yaml_text(), YamlPresence::kRequired),
//        yaml_field("x", &Point::x, yaml_u64(), YamlPresence::kDefaulted)}};
//   auto point = yaml_read(text, yaml_record(kPoint));  // expected<Point, YamlError>
//
// Errors are values carrying the failing value's path ("policies[0].do") and
// position. Plain scalars are typed by the YAML 1.2 core schema (null, bool,
// int, float), quoted scalars are always text. Nothing here throws, and no
// input (deep nesting, alias bombs, invalid bytes) can crash the reader or
// make its work grow beyond the size of the text plus a fixed alias budget.

#ifndef TARNWICK_SUPPORT_YAML_READER_H_
#define TARNWICK_SUPPORT_YAML_READER_H_

#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "support/json.h"

namespace tarnwick_support {

// Most mappings and sequences that may be open at once.
inline constexpr size_t kYamlMaxDepth = 128;
// Most nodes that aliases may replay in one document, counting the nodes
// inside each replayed value (and inside aliases nested in it).
inline constexpr uint64_t kYamlMaxAliasReplay = 1'000'000;

// A position in the text, 0-based.
struct YamlMark {
  size_t line = 0;
  size_t column = 0;
};

struct YamlError {
  std::string message;           // e.g. "missing field `name`"
  std::string path;              // "" at the document root
  std::optional<YamlMark> mark;  // absent when the reader knows no position
  // "{path}: {message} at line {L} column {C}", path and position left out
  // at the root and at the very start of the text (1-based numbers).
  std::string to_string() const;
};

// One step of the path from the root to a value. Steps live on the stack of
// the reading code and point to their parent.
struct YamlPath {
  const YamlPath* parent = nullptr;
  std::string_view key;  // used when !is_index
  size_t index = 0;
  bool is_index = false;
  // "a.b[2].c"; "" for the root.
  std::string to_string() const;
};

// A plain scalar resolved by the core schema, or a quoted one (always text).
struct YamlScalar {
  enum class Kind : uint8_t { kNull, kBool, kInt, kUInt, kFloat, kString };
  Kind kind = Kind::kNull;
  bool boolean = false;
  int64_t int_value = 0;    // kInt: always negative
  uint64_t uint_value = 0;  // kUInt: zero or more
  double float_value = 0.0;
  std::string_view text;  // the scalar's text as written (after unescaping)
};

class YamlDocument;

// A borrowed view of one node of a document together with its path. Views
// are cheap to copy; they must not outlive the document or the path steps.
class YamlValue {
 public:
  enum class Kind : uint8_t { kScalar, kSequence, kMapping };

  YamlValue(const YamlDocument* doc, uint32_t node, const YamlPath* path)
      : doc_(doc), node_(node), path_(path) {}

  Kind kind() const;
  bool is_scalar() const { return kind() == Kind::kScalar; }
  bool is_sequence() const { return kind() == Kind::kSequence; }
  bool is_mapping() const { return kind() == Kind::kMapping; }

  // Scalars only.
  YamlScalar scalar() const;
  std::string_view text() const;
  // A scalar that resolves to null (~, null, Null, NULL, empty, !!null).
  bool is_null() const;
  // An untagged plain scalar with no text: what an empty value reads as.
  bool is_empty_value() const;

  // Sequences: items; mappings: pairs. The views take `path` as theirs.
  size_t size() const;
  YamlValue item(size_t i, const YamlPath* path) const;
  YamlValue key(size_t i) const;  // keys share the mapping's path
  YamlValue value(size_t i, const YamlPath* path) const;

  const YamlPath* path() const { return path_; }
  YamlMark mark() const;

  // Description of the value for messages: `string "abc"`,
  // "integer `5`", "floating point `1.5`", "boolean `true`", "unit value",
  // "sequence", "map".
  std::string describe() const;

  // An error at this value: its path and position.
  YamlError error(std::string message) const;
  YamlError invalid_type(std::string_view expected) const;   // "invalid type: {}, expected {}"
  YamlError invalid_value(std::string_view expected) const;  // "invalid value: {}, expected {}"
  YamlError invalid_length(size_t n, std::string_view expected) const;  // "invalid length ..."

 private:
  const YamlDocument* doc_;
  uint32_t node_;
  const YamlPath* path_;
};

// One parsed document. Aliases share the node of their anchor, so the tree
// stays as large as the text even when aliases replay values many times.
class YamlDocument {
 public:
  // Reads exactly one document. Faults: "EOF while parsing a value" (no
  // document), "deserializing from YAML containing more than one document is
  // not supported", "recursion limit exceeded", "unknown anchor", "alias
  // expansion limit exceeded", and libyaml's own syntax messages.
  static std::expected<YamlDocument, YamlError> parse(std::string_view text);

  // The root value, with an empty path.
  YamlValue root() const { return YamlValue(this, root_, nullptr); }

 private:
  friend class YamlValue;
  friend class YamlDocumentBuilder;

  // Offsets and counts fit 32 bits because texts of 4 GiB or more are
  // refused before parsing.
  struct Node {
    YamlValue::Kind kind = YamlValue::Kind::kScalar;
    uint8_t style = 0;   // scalars: 0 plain, 1 quoted or block
    uint8_t tag = 0;     // scalars: explicit core tag, see yaml_reader.cc
    uint8_t height = 0;  // levels of mappings and sequences, this one included
    uint32_t line = 0;
    uint32_t column = 0;
    uint32_t begin = 0;     // scalars: offset in text_; others: offset in children_
    uint32_t count = 0;     // scalars: bytes; sequences: items; mappings: 2 * pairs
    uint32_t expanded = 1;  // nodes read through this one with aliases replayed (saturating)
  };

  std::vector<Node> nodes_;
  std::vector<uint32_t> children_;
  std::string text_;
  uint32_t root_ = 0;
};

// ---------------------------------------------------------------------------
// Declarative reading. A reader turns one value into a T or an error.

template <class T>
using YamlReader = std::function<std::expected<T, YamlError>(const YamlValue&)>;

// Any scalar, as its text (plain 5 gives "5"); mappings and sequences are
// refused with "expected a string".
YamlReader<std::string> yaml_text();
// Only scalars typed as text: quoted, or plain ones that are not null, a
// boolean or a number.
YamlReader<std::string> yaml_typed_text();
YamlReader<bool> yaml_bool();
// Integers in range; the type names ("i32", "u16", ...) appear in messages.
YamlReader<int32_t> yaml_i32();
YamlReader<uint16_t> yaml_u16();
YamlReader<uint32_t> yaml_u32();
YamlReader<uint64_t> yaml_u64();
// Any value as JSON: mapping -> object (keys are scalar texts, a later key
// replaces an earlier one), sequence -> array, numbers, booleans, null;
// non-finite floats become null.
YamlReader<JsonValue> yaml_json();

// Any scalar's text looked up among `names` (case-sensitive); otherwise
// "unknown variant `{}`, expected {}".
template <class E>
YamlReader<E> yaml_enum(std::vector<std::pair<std::string_view, E>> names);

// A sequence of items; an empty value is an empty sequence.
template <class T>
YamlReader<std::vector<T>> yaml_sequence(YamlReader<T> item);
// A mapping from scalar texts to values; an empty value is an empty mapping
// and a later key replaces an earlier one.
template <class T>
YamlReader<std::unordered_map<std::string, T>> yaml_string_map(YamlReader<T> value);
// Null (in any spelling) reads as absent, anything else through `read`.
template <class T>
YamlReader<std::optional<T>> yaml_optional(YamlReader<T> read);

enum class YamlPresence : uint8_t {
  kRequired,   // "missing field `{}`" when absent
  kDefaulted,  // absent keeps the record's default
};

// How one key of a record is read into the record.
template <class R>
struct YamlField {
  std::string_view key;
  YamlPresence presence = YamlPresence::kDefaulted;
  std::function<std::optional<YamlError>(const YamlValue&, R&)> assign;
};

template <class R, class T>
YamlField<R> yaml_field(std::string_view key, T R::*member, YamlReader<T> read,
                        YamlPresence presence) {
  return YamlField<R>{
      key, presence,
      [member, read = std::move(read)](const YamlValue& v, R& record) -> std::optional<YamlError> {
        auto value = read(v);
        if (!value) return std::move(value.error());
        record.*member = std::move(*value);
        return std::nullopt;
      }};
}

// A record: a mapping whose keys are matched exactly against `fields`.
// Unknown keys are skipped with their value, a repeated known key is
// "duplicate field `{}`", required keys are checked in field order when the
// mapping ends. An empty value reads as an empty mapping.
template <class R>
struct YamlRecord {
  std::string_view expected;  // e.g. "struct PolicyEntry"
  std::vector<YamlField<R>> fields;
};

// Reads a record from a mapping. The record must outlive the reader.
template <class R>
YamlReader<R> yaml_record(const YamlRecord<R>& record);

// Reads a record from the items of `seq` starting at `first`, one item per
// field in field order; every field must be given. `expected` describes the
// sequence in the length message ("struct variant X with 1 element").
template <class R>
std::expected<R, YamlError> yaml_record_from_items(const YamlRecord<R>& record,
                                                   const YamlValue& seq, size_t first,
                                                   std::string_view expected);

// Parses `text` and reads its root with `read`.
template <class T>
std::expected<T, YamlError> yaml_read(std::string_view text, const YamlReader<T>& read) {
  auto doc = YamlDocument::parse(text);
  if (!doc) return std::unexpected(std::move(doc.error()));
  return read(doc->root());
}

// ---------------------------------------------------------------------------
// Implementation of the templates.

namespace yaml_internal {
// "unknown variant `{name}`, expected one of `a`, `b`" (or "`a` or `b`").
std::string unknown_variant(std::string_view name, const std::vector<std::string_view>& names);
// A key of a record or map: any scalar's text, else "expected {expected}".
std::expected<std::string_view, YamlError> key_text(const YamlValue& key,
                                                    std::string_view expected);
}  // namespace yaml_internal

template <class E>
YamlReader<E> yaml_enum(std::vector<std::pair<std::string_view, E>> names) {
  return [names = std::move(names)](const YamlValue& v) -> std::expected<E, YamlError> {
    std::vector<std::string_view> all;
    for (const auto& [name, value] : names) all.push_back(name);
    if (!v.is_scalar()) return std::unexpected(v.invalid_type("a string"));
    for (const auto& [name, value] : names) {
      if (v.text() == name) return value;
    }
    return std::unexpected(v.error(yaml_internal::unknown_variant(v.text(), all)));
  };
}

template <class T>
YamlReader<std::vector<T>> yaml_sequence(YamlReader<T> item) {
  return [item = std::move(item)](const YamlValue& v) -> std::expected<std::vector<T>, YamlError> {
    std::vector<T> out;
    if (v.is_empty_value()) return out;
    if (!v.is_sequence()) return std::unexpected(v.invalid_type("a sequence"));
    out.reserve(v.size());
    for (size_t i = 0; i < v.size(); ++i) {
      YamlPath step{v.path(), {}, i, true};
      auto value = item(v.item(i, &step));
      if (!value) return std::unexpected(std::move(value.error()));
      out.push_back(std::move(*value));
    }
    return out;
  };
}

template <class T>
YamlReader<std::unordered_map<std::string, T>> yaml_string_map(YamlReader<T> value) {
  return [value = std::move(value)](
             const YamlValue& v) -> std::expected<std::unordered_map<std::string, T>, YamlError> {
    std::unordered_map<std::string, T> out;
    if (v.is_empty_value()) return out;
    if (!v.is_mapping()) return std::unexpected(v.invalid_type("a map"));
    for (size_t i = 0; i < v.size(); ++i) {
      auto key = yaml_internal::key_text(v.key(i), "a string");
      if (!key) return std::unexpected(std::move(key.error()));
      YamlPath step{v.path(), *key, 0, false};
      auto read = value(v.value(i, &step));
      if (!read) return std::unexpected(std::move(read.error()));
      out.insert_or_assign(std::string(*key), std::move(*read));
    }
    return out;
  };
}

template <class T>
YamlReader<std::optional<T>> yaml_optional(YamlReader<T> read) {
  return
      [read = std::move(read)](const YamlValue& v) -> std::expected<std::optional<T>, YamlError> {
        if (v.is_scalar() && v.is_null()) return std::optional<T>();
        auto value = read(v);
        if (!value) return std::unexpected(std::move(value.error()));
        return std::optional<T>(std::move(*value));
      };
}

template <class R>
YamlReader<R> yaml_record(const YamlRecord<R>& record) {
  return [&record](const YamlValue& v) -> std::expected<R, YamlError> {
    R out{};
    if (!v.is_mapping() && !v.is_empty_value()) {
      return std::unexpected(v.invalid_type(record.expected));
    }
    std::vector<bool> seen(record.fields.size(), false);
    const size_t pairs = v.is_mapping() ? v.size() : 0;
    for (size_t i = 0; i < pairs; ++i) {
      const YamlValue key_value = v.key(i);
      auto key = yaml_internal::key_text(key_value, "field identifier");
      if (!key) return std::unexpected(std::move(key.error()));
      for (size_t f = 0; f < record.fields.size(); ++f) {
        if (record.fields[f].key != *key) continue;
        if (seen[f]) {
          YamlError e = key_value.error("duplicate field `" + std::string(*key) + "`");
          return std::unexpected(std::move(e));
        }
        seen[f] = true;
        YamlPath step{v.path(), *key, 0, false};
        if (auto e = record.fields[f].assign(v.value(i, &step), out)) {
          return std::unexpected(std::move(*e));
        }
        break;
      }
    }
    for (size_t f = 0; f < record.fields.size(); ++f) {
      if (!seen[f] && record.fields[f].presence == YamlPresence::kRequired) {
        return std::unexpected(
            v.error("missing field `" + std::string(record.fields[f].key) + "`"));
      }
    }
    return out;
  };
}

template <class R>
std::expected<R, YamlError> yaml_record_from_items(const YamlRecord<R>& record,
                                                   const YamlValue& seq, size_t first,
                                                   std::string_view expected) {
  R out{};
  const size_t given = seq.size() > first ? seq.size() - first : 0;
  const size_t wanted = record.fields.size();
  for (size_t f = 0; f < wanted; ++f) {
    if (f >= given) {
      return std::unexpected(seq.invalid_length(f, expected));
    }
    YamlPath step{seq.path(), {}, first + f, true};
    if (auto e = record.fields[f].assign(seq.item(first + f, &step), out)) {
      return std::unexpected(std::move(*e));
    }
  }
  if (given > wanted) {
    std::string in_seq =
        std::to_string(wanted) + (wanted == 1 ? " element" : " elements") + " in sequence";
    return std::unexpected(seq.invalid_length(given, in_seq));
  }
  return out;
}

}  // namespace tarnwick_support

#endif  // TARNWICK_SUPPORT_YAML_READER_H_

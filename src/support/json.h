// File: json.h
//
// The one JSON value model of the library. A JsonValue is null, a boolean, a
// signed or unsigned 64-bit integer, a 64-bit float, a text, an array or an
// object whose members are kept sorted by the byte order of their keys, so
// every object serialises in canonical key order. Values own their data and
// copies are deep.
//
//   auto v = tarnwick_support::parse_json(R"({"b":1,"a":[true,null]})");
//   if (v) std::string text = tarnwick_support::to_json(*v);  // {"a":[true,null],"b":1}
//
// scan_json reads a document with the same grammar but keeps only the kind
// of its root and the keys of a root object.
//
// Equality compares kind and content: an integer never equals a float, signed
// and unsigned integers compare by value, objects by key set and values, arrays
// element by element.

#ifndef TARNWICK_SUPPORT_JSON_H_
#define TARNWICK_SUPPORT_JSON_H_

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace tarnwick_support {

class JsonValue;
using JsonArray = std::vector<JsonValue>;

// An object: members sorted by the byte order of their keys, keys unique.
class JsonObject {
 public:
  using Member = std::pair<std::string, JsonValue>;
  using const_iterator = std::vector<Member>::const_iterator;
  using iterator = std::vector<Member>::iterator;

  JsonObject() = default;

  // Defined below JsonValue, which they need complete.
  size_t size() const;
  bool empty() const;
  const_iterator begin() const { return members_.begin(); }
  const_iterator end() const { return members_.end(); }
  iterator begin() { return members_.begin(); }
  iterator end() { return members_.end(); }

  // The member value under `key`, or nullptr.
  const JsonValue* find(std::string_view key) const;
  JsonValue* find(std::string_view key);
  bool contains(std::string_view key) const { return find(key) != nullptr; }

  // Sets `key` to `value`, replacing an existing member.
  void insert_or_assign(std::string key, JsonValue value);
  // Removes the member under `key`; returns whether there was one.
  bool erase(std::string_view key);

  // Builds an object from members in any order; of repeated keys the last
  // one wins.
  static JsonObject from_members(std::vector<Member> members);

  friend bool operator==(const JsonObject& a, const JsonObject& b);

 private:
  std::vector<Member> members_;
};

class JsonValue {
 public:
  enum class Kind : uint8_t { kNull, kBool, kInt, kUInt, kFloat, kString, kArray, kObject };

  JsonValue() : v_(std::monostate{}) {}
  JsonValue(std::nullptr_t) : v_(std::monostate{}) {}
  JsonValue(bool b) : v_(b) {}
  JsonValue(int64_t i) : v_(i) {}
  JsonValue(uint64_t u) : v_(u) {}
  JsonValue(int i) : v_(static_cast<int64_t>(i)) {}
  JsonValue(double d) : v_(d) {}
  JsonValue(std::string s) : v_(std::move(s)) {}
  JsonValue(std::string_view s) : v_(std::string(s)) {}
  JsonValue(const char* s) : v_(std::string(s)) {}
  JsonValue(JsonArray a) : v_(std::move(a)) {}
  JsonValue(JsonObject o) : v_(std::move(o)) {}

  Kind kind() const { return static_cast<Kind>(v_.index()); }
  bool is_null() const { return kind() == Kind::kNull; }
  bool is_bool() const { return kind() == Kind::kBool; }
  bool is_int() const { return kind() == Kind::kInt; }
  bool is_uint() const { return kind() == Kind::kUInt; }
  bool is_integer() const { return is_int() || is_uint(); }
  bool is_float() const { return kind() == Kind::kFloat; }
  bool is_string() const { return kind() == Kind::kString; }
  bool is_array() const { return kind() == Kind::kArray; }
  bool is_object() const { return kind() == Kind::kObject; }

  // Accessors; calling one for another kind is a programming error.
  bool as_bool() const { return std::get<bool>(v_); }
  int64_t as_int() const { return std::get<int64_t>(v_); }
  uint64_t as_uint() const { return std::get<uint64_t>(v_); }
  double as_float() const { return std::get<double>(v_); }
  const std::string& as_string() const { return std::get<std::string>(v_); }
  const JsonArray& as_array() const { return std::get<JsonArray>(v_); }
  JsonArray& as_array() { return std::get<JsonArray>(v_); }
  const JsonObject& as_object() const { return std::get<JsonObject>(v_); }
  JsonObject& as_object() { return std::get<JsonObject>(v_); }

  // Checked accessors: nullptr when the value is of another kind.
  const std::string* if_string() const { return std::get_if<std::string>(&v_); }
  const JsonArray* if_array() const { return std::get_if<JsonArray>(&v_); }
  const JsonObject* if_object() const { return std::get_if<JsonObject>(&v_); }
  JsonObject* if_object() { return std::get_if<JsonObject>(&v_); }

  // The value as an unsigned integer when it is an integer >= 0.
  bool get_non_negative(uint64_t* out) const;

  friend bool operator==(const JsonValue& a, const JsonValue& b);

 private:
  std::variant<std::monostate, bool, int64_t, uint64_t, double, std::string, JsonArray, JsonObject>
      v_;
};

inline size_t JsonObject::size() const { return members_.size(); }
inline bool JsonObject::empty() const { return members_.empty(); }

// An immutable JSON value that is cheap to copy: copies share one value,
// which nothing can change in place, so sharing is never observable. The
// one way to change it, mutable_value(), first makes the value private to
// this copy. Used where one value is held in several places (a tool call's
// arguments in its event, its payload, the history and the report).
class SharedJson {
 public:
  SharedJson() : p_(null_value()) {}
  SharedJson(JsonValue v) : p_(std::make_shared<JsonValue>(std::move(v))) {}

  const JsonValue& get() const { return *p_; }
  operator const JsonValue&() const { return *p_; }
  const JsonValue& operator*() const { return *p_; }
  const JsonValue* operator->() const { return p_.get(); }

  // Copy-on-write access: other copies keep the value they had.
  JsonValue& mutable_value() {
    if (p_.use_count() != 1) p_ = std::make_shared<JsonValue>(*p_);
    return *p_;
  }

  friend bool operator==(const SharedJson& a, const SharedJson& b) {
    return a.p_ == b.p_ || a.get() == b.get();
  }
  friend bool operator==(const SharedJson& a, const JsonValue& b) { return a.get() == b; }

 private:
  // One shared null for default-constructed values.
  // (The static itself holds a reference, so it is never changed in place.)
  static const std::shared_ptr<JsonValue>& null_value();

  // Not const, so that mutable_value() may change a value it holds alone;
  // everything else only reads through it.
  std::shared_ptr<JsonValue> p_;
};

// Nesting limit of the reader: 127 nested arrays/objects are read, 128 are not.
inline constexpr int kJsonMaxDepth = 127;

struct JsonError {
  std::string message;  // e.g. "trailing characters"
  size_t line = 0;      // 1-based position of the fault
  size_t column = 0;
  // "{message} at line {line} column {column}"
  std::string to_string() const;
};

// Reads one RFC 8259 document. Surrounding whitespace (space, tab, LF, CR) is
// allowed, anything else after the value is an error. When a key repeats the
// last value wins. Non-negative integers that fit 64 bits read as unsigned,
// negative ones that fit as signed, every other number as a float; a number
// beyond the float range is an error. Never throws; deep input cannot
// overflow the stack.
std::expected<JsonValue, JsonError> parse_json(std::string_view text);

// What scan_json learns about a document: the kind of its root and, for an
// object root, its keys.
struct JsonShape {
  JsonValue::Kind kind = JsonValue::Kind::kNull;
  // The root object's keys, decoded, in document order; a repeated key is
  // listed each time it appears. Empty for any other root.
  std::vector<std::string> keys;
};

// Checks `text` with the same reader as parse_json, so it accepts exactly
// the documents parse_json accepts and fails with the same error, but builds
// no value: only the root's kind and top-level keys are kept. For callers
// that only need to know whether a text is JSON and what its root holds.
std::expected<JsonShape, JsonError> scan_json(std::string_view text);

// Streaming writer with a compact mode (no whitespace) and a pretty mode
// (two-space indentation, ": " after keys, empty containers as {} and [],
// no final line break). Texts are escaped the same way in both modes; floats
// use the shortest form that reads back to the same value ("1.0", "1e20").
// The caller is responsible for a well-formed sequence of calls.
class JsonWriter {
 public:
  explicit JsonWriter(std::string* out, bool pretty = false) : out_(out), pretty_(pretty) {}

  void begin_object();
  void end_object();
  void begin_array();
  void end_array();
  void key(std::string_view k);
  void null();
  void boolean(bool b);
  void int64(int64_t i);
  void uint64(uint64_t u);
  void float64(double d);  // non-finite floats are written as null
  void string(std::string_view s);
  void value(const JsonValue& v);

 private:
  void before_value();
  void newline_indent();

  std::string* out_;
  bool pretty_;
  bool after_key_ = false;
  // One entry per open container: number of items written so far.
  std::vector<size_t> counts_;
};

// Compact canonical text of a value.
std::string to_json(const JsonValue& v);
void append_json(const JsonValue& v, std::string* out);
// Pretty text of a value (two-space layout).
std::string to_json_pretty(const JsonValue& v);

// Appends `s` as a quoted, escaped JSON string.
void append_json_string(std::string_view s, std::string* out);
// Appends the shortest round-trip text of a finite float, keeping ".0" for
// integral values in plain notation.
void append_json_float(double d, std::string* out);

// Whether `s` is valid UTF-8 (no overlongs, no surrogates, <= U+10FFFF).
bool is_valid_utf8(std::string_view s);

}  // namespace tarnwick_support

#endif  // TARNWICK_SUPPORT_JSON_H_

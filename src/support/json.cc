#include "support/json.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace tarnwick_support {

// ---------------------------------------------------------------------------
// JsonObject

namespace {

struct KeyLess {
  bool operator()(const JsonObject::Member& m, std::string_view k) const {
    return std::string_view(m.first) < k;
  }
};

}  // namespace

const JsonValue* JsonObject::find(std::string_view key) const {
  auto it = std::lower_bound(members_.begin(), members_.end(), key, KeyLess{});
  if (it != members_.end() && it->first == key) return &it->second;
  return nullptr;
}

JsonValue* JsonObject::find(std::string_view key) {
  auto it = std::lower_bound(members_.begin(), members_.end(), key, KeyLess{});
  if (it != members_.end() && it->first == key) return &it->second;
  return nullptr;
}

void JsonObject::insert_or_assign(std::string key, JsonValue value) {
  auto it = std::lower_bound(members_.begin(), members_.end(), std::string_view(key), KeyLess{});
  if (it != members_.end() && it->first == key) {
    it->second = std::move(value);
  } else {
    members_.emplace(it, std::move(key), std::move(value));
  }
}

bool JsonObject::erase(std::string_view key) {
  auto it = std::lower_bound(members_.begin(), members_.end(), key, KeyLess{});
  if (it == members_.end() || it->first != key) return false;
  members_.erase(it);
  return true;
}

JsonObject JsonObject::from_members(std::vector<Member> members) {
  // std::string compares bytes as unsigned char, which is the byte order the
  // canonical form needs. The sort is stable so that, among repeated keys,
  // the last one in input order ends up last in its run. Objects are usually
  // small and often already sorted, so those cases avoid the general sort.
  auto less = [](const Member& a, const Member& b) { return a.first < b.first; };
  bool strictly_sorted = true;
  for (size_t i = 1; i < members.size(); ++i) {
    if (!less(members[i - 1], members[i])) {
      strictly_sorted = false;
      break;
    }
  }
  JsonObject obj;
  if (strictly_sorted) {
    obj.members_ = std::move(members);
    return obj;
  }
  if (members.size() <= 32) {
    for (size_t i = 1; i < members.size(); ++i) {
      if (!less(members[i], members[i - 1])) continue;
      Member m = std::move(members[i]);
      size_t j = i;
      while (j > 0 && less(m, members[j - 1])) {
        members[j] = std::move(members[j - 1]);
        --j;
      }
      members[j] = std::move(m);
    }
  } else {
    std::stable_sort(members.begin(), members.end(), less);
  }
  size_t w = 0;
  for (size_t i = 0; i < members.size(); ++i) {
    if (i + 1 < members.size() && members[i + 1].first == members[i].first) continue;
    if (w != i) members[w] = std::move(members[i]);
    ++w;
  }
  members.resize(w);
  obj.members_ = std::move(members);
  return obj;
}

bool operator==(const JsonObject& a, const JsonObject& b) { return a.members_ == b.members_; }

// ---------------------------------------------------------------------------
// JsonValue

bool JsonValue::get_non_negative(uint64_t* out) const {
  if (is_uint()) {
    *out = as_uint();
    return true;
  }
  if (is_int() && as_int() >= 0) {
    *out = static_cast<uint64_t>(as_int());
    return true;
  }
  return false;
}

bool operator==(const JsonValue& a, const JsonValue& b) {
  using K = JsonValue::Kind;
  K ka = a.kind();
  K kb = b.kind();
  if (a.is_integer() && b.is_integer()) {
    if (ka == kb) return ka == K::kInt ? a.as_int() == b.as_int() : a.as_uint() == b.as_uint();
    int64_t i = ka == K::kInt ? a.as_int() : b.as_int();
    uint64_t u = ka == K::kUInt ? a.as_uint() : b.as_uint();
    return i >= 0 && static_cast<uint64_t>(i) == u;
  }
  if (ka != kb) return false;
  switch (ka) {
    case K::kNull: return true;
    case K::kBool: return a.as_bool() == b.as_bool();
    case K::kFloat: return a.as_float() == b.as_float();
    case K::kString: return a.as_string() == b.as_string();
    case K::kArray: return a.as_array() == b.as_array();
    case K::kObject: return a.as_object() == b.as_object();
    default: return false;
  }
}

const std::shared_ptr<JsonValue>& SharedJson::null_value() {
  static const std::shared_ptr<JsonValue> null = std::make_shared<JsonValue>();
  return null;
}

// ---------------------------------------------------------------------------
// UTF-8

namespace {

// Length of the valid UTF-8 sequence starting at s[i], or 0 if invalid.
size_t utf8_sequence_length(const unsigned char* s, size_t n, size_t i) {
  unsigned char c = s[i];
  if (c < 0x80) return 1;
  if (c < 0xC2) return 0;
  if (c < 0xE0) {
    if (i + 1 >= n || (s[i + 1] & 0xC0) != 0x80) return 0;
    return 2;
  }
  if (c < 0xF0) {
    if (i + 2 >= n) return 0;
    unsigned char c1 = s[i + 1];
    if ((c1 & 0xC0) != 0x80 || (s[i + 2] & 0xC0) != 0x80) return 0;
    if (c == 0xE0 && c1 < 0xA0) return 0;   // overlong
    if (c == 0xED && c1 >= 0xA0) return 0;  // surrogates
    return 3;
  }
  if (c < 0xF5) {
    if (i + 3 >= n) return 0;
    unsigned char c1 = s[i + 1];
    if ((c1 & 0xC0) != 0x80 || (s[i + 2] & 0xC0) != 0x80 || (s[i + 3] & 0xC0) != 0x80) return 0;
    if (c == 0xF0 && c1 < 0x90) return 0;   // overlong
    if (c == 0xF4 && c1 >= 0x90) return 0;  // above U+10FFFF
    return 4;
  }
  return 0;
}

}  // namespace

bool is_valid_utf8(std::string_view sv) {
  const auto* s = reinterpret_cast<const unsigned char*>(sv.data());
  size_t n = sv.size();
  size_t i = 0;
  while (i < n) {
    // ASCII fast path, sixteen bytes at a time.
    while (i + 16 <= n) {
      uint64_t w0, w1;
      std::memcpy(&w0, s + i, 8);
      std::memcpy(&w1, s + i + 8, 8);
      if ((w0 | w1) & 0x8080808080808080ULL) break;
      i += 16;
    }
    if (i >= n) break;
    size_t len = utf8_sequence_length(s, n, i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Reader

std::string JsonError::to_string() const {
  return message + " at line " + std::to_string(line) + " column " + std::to_string(column);
}

namespace {

// The reader is one recursive-descent grammar, generic over a sink that says
// what a read value becomes. The sink supplies:
//   kKeepsNumbers  whether numbers need their value, or only their range;
//   Value    where a value is stored (`null`, `boolean`, `int64`, `uint64`,
//            `float64`, `string` fill it);
//   Text     what a string value is decoded into;
//   Array    and `element` (a slot for the next element), `end_array`;
//   Members  and `key` (a text for the next key, given the object's depth),
//            `member` (the slot for that key's value), `end_object`.
// Every check lives in the grammar, so each sink accepts exactly the same
// documents and reports the same errors.

// Texts that are validated and thrown away.
struct DiscardText {
  void append(const char*, size_t) {}
  void push_back(char) {}
};

// Builds a JsonValue. Elements and members are read straight into their place
// in the container under construction.
struct ValueSink {
  static constexpr bool kKeepsNumbers = true;
  using Value = JsonValue;
  using Text = std::string;
  using Array = JsonArray;
  using Members = std::vector<JsonObject::Member>;

  void null(Value* v) { *v = JsonValue(); }
  void boolean(Value* v, bool b) { *v = JsonValue(b); }
  void int64(Value* v, int64_t i) { *v = JsonValue(i); }
  void uint64(Value* v, uint64_t u) { *v = JsonValue(u); }
  void float64(Value* v, double d) { *v = JsonValue(d); }
  void string(Value* v, Text* s) { *v = JsonValue(std::move(*s)); }

  Value* element(Array* a) { return &a->emplace_back(); }
  void end_array(Value* v, Array* a) { *v = JsonValue(std::move(*a)); }

  std::string* key(Members* m, int /*depth*/) { return &m->emplace_back().first; }
  Value* member(Members* m) { return &m->back().second; }
  void end_object(Value* v, Members* m) { *v = JsonValue(JsonObject::from_members(std::move(*m))); }
};

// Learns the kind of the root and the keys of a root object, and nothing
// else: no value below the root is built and no text below it is kept.
class ShapeSink {
 public:
  static constexpr bool kKeepsNumbers = false;
  using Value = JsonValue::Kind;
  using Text = DiscardText;
  struct Array {
    Value slot;
  };
  // Decodes into `dest` when there is one, else only validates.
  struct KeyText {
    std::string* dest = nullptr;
    void append(const char* p, size_t n) {
      if (dest != nullptr) dest->append(p, n);
    }
    void push_back(char c) {
      if (dest != nullptr) dest->push_back(c);
    }
  };
  struct Members {
    KeyText key;
    Value slot;
  };

  explicit ShapeSink(std::vector<std::string>* root_keys) : root_keys_(root_keys) {}

  void null(Value* v) { *v = Value::kNull; }
  void boolean(Value* v, bool) { *v = Value::kBool; }
  void int64(Value* v, int64_t) { *v = Value::kInt; }
  void uint64(Value* v, uint64_t) { *v = Value::kUInt; }
  void float64(Value* v, double) { *v = Value::kFloat; }
  void string(Value* v, Text*) { *v = Value::kString; }

  Value* element(Array* a) { return &a->slot; }
  void end_array(Value* v, Array*) { *v = Value::kArray; }

  KeyText* key(Members* m, int depth) {
    m->key.dest = nullptr;
    if (depth == 1) {
      if (root_keys_->empty()) root_keys_->reserve(8);
      m->key.dest = &root_keys_->emplace_back();
    }
    return &m->key;
  }
  Value* member(Members* m) { return &m->slot; }
  void end_object(Value* v, Members*) { *v = Value::kObject; }

 private:
  std::vector<std::string>* root_keys_;
};

template <class Text>
void append_utf8(uint32_t cp, Text* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
    return;
  }
  char buf[4];
  size_t n;
  if (cp < 0x800) {
    buf[0] = static_cast<char>(0xC0 | (cp >> 6));
    buf[1] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 2;
  } else if (cp < 0x10000) {
    buf[0] = static_cast<char>(0xE0 | (cp >> 12));
    buf[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    buf[2] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 3;
  } else {
    buf[0] = static_cast<char>(0xF0 | (cp >> 18));
    buf[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    buf[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    buf[3] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 4;
  }
  out->append(buf, n);
}

template <class Sink>
class Parser {
 public:
  using Value = typename Sink::Value;

  Parser(std::string_view text, Sink sink)
      : s_(reinterpret_cast<const unsigned char*>(text.data())),
        n_(text.size()),
        sink_(std::move(sink)) {}

  // Reads the whole text into `out`.
  std::expected<void, JsonError> parse_document(Value* out) {
    skip_ws();
    if (!parse_value(out, 0)) return std::unexpected(std::move(err_));
    skip_ws();
    if (pos_ != n_) {
      fail("trailing characters");
      return std::unexpected(std::move(err_));
    }
    return {};
  }

 private:
  bool fail(const char* message) {
    if (err_.message.empty()) {
      err_.message = message;
      size_t line = 1, col = 0;
      size_t upto = std::min(pos_ + 1, n_);
      for (size_t i = 0; i < upto; ++i) {
        if (s_[i] == '\n') {
          ++line;
          col = 0;
        } else {
          ++col;
        }
      }
      err_.line = line;
      err_.column = col;
    }
    return false;
  }

  void skip_ws() {
    while (pos_ < n_) {
      unsigned char c = s_[pos_];
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
        ++pos_;
      } else {
        break;
      }
    }
  }

  bool literal(const char* word, size_t len) {
    if (n_ - pos_ < len || std::memcmp(s_ + pos_, word, len) != 0) {
      // Point at the first byte that differs.
      size_t i = 0;
      while (pos_ + i < n_ && i < len && s_[pos_ + i] == static_cast<unsigned char>(word[i])) ++i;
      pos_ += i;
      return fail(pos_ >= n_ ? "EOF while parsing a value" : "expected ident");
    }
    pos_ += len;
    return true;
  }

  // `depth` is the number of containers around the value.
  bool parse_value(Value* out, int depth) {
    if (pos_ >= n_) return fail("EOF while parsing a value");
    // Tested in order of how common each kind of value is: one well
    // predicted branch each, where a jump table mispredicts.
    unsigned char c = s_[pos_];
    if (c == '"') {
      typename Sink::Text s;
      if (!parse_string(&s)) return false;
      sink_.string(out, &s);
      return true;
    }
    if (c == '-' || (c >= '0' && c <= '9')) return parse_number(out);
    if (c == '{') return parse_object(out, depth + 1);
    if (c == '[') return parse_array(out, depth + 1);
    if (c == 't') {
      if (!literal("true", 4)) return false;
      sink_.boolean(out, true);
      return true;
    }
    if (c == 'f') {
      if (!literal("false", 5)) return false;
      sink_.boolean(out, false);
      return true;
    }
    if (c == 'n') {
      if (!literal("null", 4)) return false;
      sink_.null(out);
      return true;
    }
    return fail("expected value");
  }

  // `depth` counts this array.
  bool parse_array(Value* out, int depth) {
    if (depth > kJsonMaxDepth) return fail("recursion limit exceeded");
    ++pos_;  // '['
    typename Sink::Array arr;
    skip_ws();
    if (pos_ < n_ && s_[pos_] == ']') {
      ++pos_;
      sink_.end_array(out, &arr);
      return true;
    }
    while (true) {
      skip_ws();
      if (!parse_value(sink_.element(&arr), depth)) return false;
      skip_ws();
      if (pos_ >= n_) return fail("EOF while parsing a list");
      if (s_[pos_] == ',') {
        ++pos_;
        skip_ws();
        if (pos_ < n_ && s_[pos_] == ']') return fail("trailing comma");
        continue;
      }
      if (s_[pos_] == ']') {
        ++pos_;
        sink_.end_array(out, &arr);
        return true;
      }
      return fail("expected `,` or `]`");
    }
  }

  // `depth` counts this object.
  bool parse_object(Value* out, int depth) {
    if (depth > kJsonMaxDepth) return fail("recursion limit exceeded");
    ++pos_;  // '{'
    typename Sink::Members members;
    skip_ws();
    if (pos_ < n_ && s_[pos_] == '}') {
      ++pos_;
      sink_.end_object(out, &members);
      return true;
    }
    while (true) {
      skip_ws();
      if (pos_ >= n_) return fail("EOF while parsing an object");
      if (s_[pos_] != '"') return fail("key must be a string");
      if (!parse_string(sink_.key(&members, depth))) return false;
      skip_ws();
      if (pos_ >= n_) return fail("EOF while parsing an object");
      if (s_[pos_] != ':') return fail("expected `:`");
      ++pos_;
      skip_ws();
      if (!parse_value(sink_.member(&members), depth)) return false;
      skip_ws();
      if (pos_ >= n_) return fail("EOF while parsing an object");
      if (s_[pos_] == ',') {
        ++pos_;
        skip_ws();
        if (pos_ < n_ && s_[pos_] == '}') return fail("trailing comma");
        continue;
      }
      if (s_[pos_] == '}') {
        ++pos_;
        sink_.end_object(out, &members);
        return true;
      }
      return fail("expected `,` or `}`");
    }
  }

  bool hex4(uint32_t* out) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      if (pos_ >= n_) return fail("EOF while parsing a string");
      unsigned char c = s_[pos_];
      uint32_t d;
      if (c >= '0' && c <= '9') {
        d = c - '0';
      } else if (c >= 'a' && c <= 'f') {
        d = c - 'a' + 10;
      } else if (c >= 'A' && c <= 'F') {
        d = c - 'A' + 10;
      } else {
        return fail("invalid escape");
      }
      v = v * 16 + d;
      ++pos_;
    }
    *out = v;
    return true;
  }

  // Advances over bytes that stand for themselves in a string: printable
  // ASCII other than '"' and '\\'. Eight bytes at a time while all are.
  void skip_plain_string_bytes() {
    constexpr uint64_t kOnes = 0x0101010101010101ULL;
    constexpr uint64_t kHigh = 0x8080808080808080ULL;
    auto has_zero_byte = [](uint64_t v) { return (v - kOnes) & ~v & kHigh; };
    while (n_ - pos_ >= 8) {
      uint64_t w;
      std::memcpy(&w, s_ + pos_, 8);
      // Bytes >= 0x80, < 0x20, '"' or '\\'; borrows only follow a real hit.
      uint64_t special = (w & kHigh) | ((w - kOnes * 0x20) & ~w & kHigh) |
                         has_zero_byte(w ^ (kOnes * '"')) | has_zero_byte(w ^ (kOnes * '\\'));
      if (special != 0) break;
      pos_ += 8;
    }
    while (pos_ < n_) {
      unsigned char c = s_[pos_];
      if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80) break;
      ++pos_;
    }
  }

  template <class Text>
  bool parse_string(Text* out) {
    ++pos_;  // opening quote
    while (true) {
      size_t start = pos_;
      skip_plain_string_bytes();
      out->append(reinterpret_cast<const char*>(s_ + start), pos_ - start);
      if (pos_ >= n_) return fail("EOF while parsing a string");
      unsigned char c = s_[pos_];
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (c < 0x20) return fail("control character (\\u0000-\\u001F) found while parsing a string");
      if (c >= 0x80) {
        size_t len = utf8_sequence_length(s_, n_, pos_);
        if (len == 0) return fail("invalid UTF-8");
        out->append(reinterpret_cast<const char*>(s_ + pos_), len);
        pos_ += len;
        continue;
      }
      // Backslash escape.
      ++pos_;
      if (pos_ >= n_) return fail("EOF while parsing a string");
      unsigned char e = s_[pos_++];
      switch (e) {
        case '"': out->push_back('"'); break;
        case '\\': out->push_back('\\'); break;
        case '/': out->push_back('/'); break;
        case 'b': out->push_back('\b'); break;
        case 'f': out->push_back('\f'); break;
        case 'n': out->push_back('\n'); break;
        case 'r': out->push_back('\r'); break;
        case 't': out->push_back('\t'); break;
        case 'u': {
          uint32_t cp = 0;
          if (!hex4(&cp)) return false;
          if (cp >= 0xDC00 && cp <= 0xDFFF) return fail("lone leading surrogate in hex escape");
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (n_ - pos_ < 2 || s_[pos_] != '\\' || s_[pos_ + 1] != 'u') {
              return fail("unexpected end of hex escape");
            }
            pos_ += 2;
            uint32_t lo = 0;
            if (!hex4(&lo)) return false;
            if (lo < 0xDC00 || lo > 0xDFFF) return fail("lone leading surrogate in hex escape");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
          }
          append_utf8(cp, out);
          break;
        }
        default: --pos_; return fail("invalid escape");
      }
    }
  }

  bool parse_number(Value* out) {
    size_t start = pos_;
    bool negative = false;
    if (s_[pos_] == '-') {
      negative = true;
      ++pos_;
    }
    if (pos_ >= n_) return fail("EOF while parsing a value");
    size_t int_start = pos_;
    if (s_[pos_] == '0') {
      ++pos_;
      if (pos_ < n_ && s_[pos_] >= '0' && s_[pos_] <= '9') return fail("invalid number");
    } else if (s_[pos_] >= '1' && s_[pos_] <= '9') {
      while (pos_ < n_ && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
    } else {
      return fail("invalid number");
    }
    size_t int_end = pos_;
    bool is_float = false;
    size_t frac_start = 0, frac_end = 0;
    if (pos_ < n_ && s_[pos_] == '.') {
      is_float = true;
      ++pos_;
      frac_start = pos_;
      if (pos_ >= n_ || s_[pos_] < '0' || s_[pos_] > '9') {
        return fail(pos_ >= n_ ? "EOF while parsing a value" : "invalid number");
      }
      while (pos_ < n_ && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
      frac_end = pos_;
    }
    int64_t exponent = 0;
    if (pos_ < n_ && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
      is_float = true;
      ++pos_;
      bool exp_negative = false;
      if (pos_ < n_ && (s_[pos_] == '+' || s_[pos_] == '-')) {
        exp_negative = s_[pos_] == '-';
        ++pos_;
      }
      if (pos_ >= n_ || s_[pos_] < '0' || s_[pos_] > '9') {
        return fail(pos_ >= n_ ? "EOF while parsing a value" : "invalid number");
      }
      while (pos_ < n_ && s_[pos_] >= '0' && s_[pos_] <= '9') {
        if (exponent < 100000000) exponent = exponent * 10 + (s_[pos_] - '0');
        ++pos_;
      }
      if (exp_negative) exponent = -exponent;
    }
    const char* first = reinterpret_cast<const char*>(s_ + start);
    const char* last = reinterpret_cast<const char*>(s_ + pos_);
    if (!is_float) {
      uint64_t mag = 0;
      auto r = std::from_chars(reinterpret_cast<const char*>(s_ + int_start), last, mag);
      if (r.ec == std::errc()) {
        if (!negative) {
          sink_.uint64(out, mag);
          return true;
        }
        // "-0" is a float, as are negative integers below the signed range.
        if (mag != 0 && mag <= (uint64_t{1} << 63)) {
          sink_.int64(out, static_cast<int64_t>(0 - mag));
          return true;
        }
      }
      // Falls through: the integer does not fit, read it as a float.
    }
    if constexpr (!Sink::kKeepsNumbers) {
      // Below 10^308 the value is finite whatever its digits: only the
      // range matters here, so the conversion is skipped.
      if (static_cast<int64_t>(int_end - int_start) + exponent <= 308) {
        sink_.float64(out, 0.0);
        return true;
      }
    }
    double d = 0;
    auto r = std::from_chars(first, last, d);
    if (r.ec == std::errc::result_out_of_range) {
      // Decide between overflow (an error) and underflow (zero) from the
      // decimal magnitude of the first significant digit.
      int64_t lead = -1;
      size_t int_len = int_end - int_start;
      for (size_t i = int_start; i < int_end; ++i) {
        if (s_[i] != '0') {
          lead = static_cast<int64_t>(int_len - (i - int_start)) - 1;
          break;
        }
      }
      if (lead < 0) {
        for (size_t i = frac_start; i < frac_end; ++i) {
          if (s_[i] != '0') {
            lead = -static_cast<int64_t>(i - frac_start) - 1;
            break;
          }
        }
      }
      if (lead + exponent >= 0) return fail("number out of range");
      d = negative ? -0.0 : 0.0;
    } else if (r.ec != std::errc() || r.ptr != last) {
      return fail("invalid number");
    }
    if (!std::isfinite(d)) return fail("number out of range");
    sink_.float64(out, d);
    return true;
  }

  const unsigned char* s_;
  size_t n_;
  size_t pos_ = 0;
  JsonError err_;
  Sink sink_;
};

// Runs `parse`, turning a failure other than running out of memory into an
// error value.
template <class Result, class Parse>
std::expected<Result, JsonError> guarded(Parse parse) {
  try {
    return parse();
  } catch (const std::bad_alloc&) {
    throw;  // running out of memory is not an input error
  } catch (...) {
    return std::unexpected(JsonError{"internal error", 1, 1});
  }
}

}  // namespace

// UTF-8 is checked inside strings; outside them any non-ASCII byte is a
// syntax error anyway.
std::expected<JsonValue, JsonError> parse_json(std::string_view text) {
  return guarded<JsonValue>([text]() -> std::expected<JsonValue, JsonError> {
    JsonValue v;
    auto read = Parser<ValueSink>(text, ValueSink{}).parse_document(&v);
    if (!read) return std::unexpected(std::move(read.error()));
    return v;
  });
}

std::expected<JsonShape, JsonError> scan_json(std::string_view text) {
  return guarded<JsonShape>([text]() -> std::expected<JsonShape, JsonError> {
    JsonShape shape;
    auto read = Parser<ShapeSink>(text, ShapeSink(&shape.keys)).parse_document(&shape.kind);
    if (!read) return std::unexpected(std::move(read.error()));
    return shape;
  });
}

// ---------------------------------------------------------------------------
// Writer

void append_json_string(std::string_view s, std::string* out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out->push_back('"');
  size_t start = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out->append(s.data() + start, i - start);
    start = i + 1;
    switch (c) {
      case '"': out->append("\\\""); break;
      case '\\': out->append("\\\\"); break;
      case '\b': out->append("\\b"); break;
      case '\f': out->append("\\f"); break;
      case '\n': out->append("\\n"); break;
      case '\r': out->append("\\r"); break;
      case '\t': out->append("\\t"); break;
      default: {
        char esc[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
        out->append(esc, 6);
      }
    }
  }
  out->append(s.data() + start, s.size() - start);
  out->push_back('"');
}

void append_json_float(double d, std::string* out) {
  if (!std::isfinite(d)) {
    out->append("null");
    return;
  }
  // Shortest round-trip digits in scientific form, e.g. "-1.2345e+20", then
  // laid out: plain notation for decimal exponents in [-5, 16), scientific
  // ("1e16", "1.5e-7") otherwise; integral plain values keep ".0".
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
  std::string_view sci(buf, static_cast<size_t>(r.ptr - buf));
  bool negative = false;
  if (!sci.empty() && sci[0] == '-') {
    negative = true;
    sci.remove_prefix(1);
  }
  size_t e_pos = sci.find('e');
  std::string_view mantissa = sci.substr(0, e_pos);
  int exp10 = 0;
  std::from_chars(sci.data() + e_pos + 1 + (sci[e_pos + 1] == '+' ? 1 : 0), sci.data() + sci.size(),
                  exp10);
  std::string digits;
  digits.reserve(20);
  for (char c : mantissa) {
    if (c != '.') digits.push_back(c);
  }
  if (negative) out->push_back('-');
  int len = static_cast<int>(digits.size());
  int k = exp10 - (len - 1);  // value = digits * 10^k
  int kk = len + k;           // position of the decimal point
  if (k >= 0 && kk <= 16) {
    out->append(digits);
    out->append(static_cast<size_t>(k), '0');
    out->append(".0");
  } else if (kk > 0 && kk <= 16) {
    out->append(digits, 0, static_cast<size_t>(kk));
    out->push_back('.');
    out->append(digits, static_cast<size_t>(kk));
  } else if (kk > -5 && kk <= 0) {
    out->append("0.");
    out->append(static_cast<size_t>(-kk), '0');
    out->append(digits);
  } else {
    out->push_back(digits[0]);
    if (len > 1) {
      out->push_back('.');
      out->append(digits, 1);
    }
    out->push_back('e');
    char eb[16];
    auto er = std::to_chars(eb, eb + sizeof eb, kk - 1);
    out->append(eb, static_cast<size_t>(er.ptr - eb));
  }
}

void JsonWriter::newline_indent() {
  out_->push_back('\n');
  out_->append(counts_.size() * 2, ' ');
}

void JsonWriter::before_value() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (counts_.empty()) return;
  if (counts_.back()++ > 0) out_->push_back(',');
  if (pretty_) newline_indent();
}

void JsonWriter::begin_object() {
  before_value();
  out_->push_back('{');
  counts_.push_back(0);
}

void JsonWriter::end_object() {
  size_t n = counts_.back();
  counts_.pop_back();
  if (pretty_ && n > 0) newline_indent();
  out_->push_back('}');
}

void JsonWriter::begin_array() {
  before_value();
  out_->push_back('[');
  counts_.push_back(0);
}

void JsonWriter::end_array() {
  size_t n = counts_.back();
  counts_.pop_back();
  if (pretty_ && n > 0) newline_indent();
  out_->push_back(']');
}

void JsonWriter::key(std::string_view k) {
  before_value();
  append_json_string(k, out_);
  out_->append(pretty_ ? ": " : ":");
  after_key_ = true;
}

void JsonWriter::null() {
  before_value();
  out_->append("null");
}

void JsonWriter::boolean(bool b) {
  before_value();
  out_->append(b ? "true" : "false");
}

void JsonWriter::int64(int64_t i) {
  before_value();
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, i);
  out_->append(buf, static_cast<size_t>(r.ptr - buf));
}

void JsonWriter::uint64(uint64_t u) {
  before_value();
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, u);
  out_->append(buf, static_cast<size_t>(r.ptr - buf));
}

void JsonWriter::float64(double d) {
  before_value();
  append_json_float(d, out_);
}

void JsonWriter::string(std::string_view s) {
  before_value();
  append_json_string(s, out_);
}

void JsonWriter::value(const JsonValue& v) {
  using K = JsonValue::Kind;
  switch (v.kind()) {
    case K::kNull: null(); break;
    case K::kBool: boolean(v.as_bool()); break;
    case K::kInt: int64(v.as_int()); break;
    case K::kUInt: uint64(v.as_uint()); break;
    case K::kFloat: float64(v.as_float()); break;
    case K::kString: string(v.as_string()); break;
    case K::kArray:
      begin_array();
      for (const JsonValue& e : v.as_array()) value(e);
      end_array();
      break;
    case K::kObject:
      begin_object();
      for (const auto& [k, e] : v.as_object()) {
        key(k);
        value(e);
      }
      end_object();
      break;
  }
}

void append_json(const JsonValue& v, std::string* out) {
  JsonWriter w(out, false);
  w.value(v);
}

std::string to_json(const JsonValue& v) {
  std::string out;
  append_json(v, &out);
  return out;
}

std::string to_json_pretty(const JsonValue& v) {
  std::string out;
  JsonWriter w(&out, true);
  w.value(v);
  return out;
}

}  // namespace tarnwick_support

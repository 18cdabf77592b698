#include "support/yaml_reader.h"

#include <yaml.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>

namespace tarnwick_support {
namespace {

// Explicit core tags of a scalar, as kept in Node::tag.
enum Tag : uint8_t { kNoTag, kStrTag, kNullTag, kBoolTag, kIntTag, kFloatTag, kNonSpecificTag };

Tag tag_of(const yaml_char_t* tag) {
  if (tag == nullptr) return kNoTag;
  const std::string_view t(reinterpret_cast<const char*>(tag));
  if (t == "!") return kNonSpecificTag;
  if (t == YAML_STR_TAG) return kStrTag;
  if (t == YAML_NULL_TAG) return kNullTag;
  if (t == YAML_BOOL_TAG) return kBoolTag;
  if (t == YAML_INT_TAG) return kIntTag;
  if (t == YAML_FLOAT_TAG) return kFloatTag;
  return kNoTag;  // application tags carry no meaning here
}

bool is_null_text(std::string_view s) {
  return s.empty() || s == "~" || s == "null" || s == "Null" || s == "NULL";
}

std::optional<bool> bool_of(std::string_view s) {
  if (s == "true" || s == "True" || s == "TRUE") return true;
  if (s == "false" || s == "False" || s == "FALSE") return false;
  return std::nullopt;
}

bool all_of_digits(std::string_view s, int base) {
  if (s.empty()) return false;
  for (char c : s) {
    const bool ok = base == 16 ? std::isxdigit(static_cast<unsigned char>(c)) != 0
                               : (c >= '0' && c < '0' + base);
    if (!ok) return false;
  }
  return true;
}

// Integers of the core schema: [-+]?[0-9]+, 0o[0-7]+, 0x[0-9a-fA-F]+.
// Decimal integers beyond 64 bits are left to the float rules.
bool resolve_int(std::string_view s, YamlScalar* out) {
  int base = 10;
  bool negative = false;
  std::string_view digits = s;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'o')) {
    base = s[1] == 'x' ? 16 : 8;
    digits = s.substr(2);
  } else if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    negative = s[0] == '-';
    digits = s.substr(1);
  }
  if (!all_of_digits(digits, base)) return false;
  uint64_t magnitude = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
  if (ec != std::errc() || end != digits.data() + digits.size()) return false;
  if (!negative || magnitude == 0) {
    out->kind = YamlScalar::Kind::kUInt;
    out->uint_value = magnitude;
    return true;
  }
  if (magnitude > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 1) return false;
  out->kind = YamlScalar::Kind::kInt;
  out->int_value = static_cast<int64_t>(0 - magnitude);
  return true;
}

// Floats of the core schema:
// [-+]?(\.[0-9]+|[0-9]+(\.[0-9]*)?)([eE][-+]?[0-9]+)?, [-+]?.inf, .nan.
bool resolve_float(std::string_view s, YamlScalar* out) {
  std::string_view body = s;
  bool negative = false;
  if (!body.empty() && (body[0] == '-' || body[0] == '+')) {
    negative = body[0] == '-';
    body = body.substr(1);
  }
  if (body == ".inf" || body == ".Inf" || body == ".INF") {
    out->kind = YamlScalar::Kind::kFloat;
    out->float_value = negative ? -std::numeric_limits<double>::infinity()
                                : std::numeric_limits<double>::infinity();
    return true;
  }
  if (s == ".nan" || s == ".NaN" || s == ".NAN") {
    out->kind = YamlScalar::Kind::kFloat;
    out->float_value = std::numeric_limits<double>::quiet_NaN();
    return true;
  }
  size_t i = 0;
  auto digits = [&] {
    size_t n = 0;
    while (i < body.size() && body[i] >= '0' && body[i] <= '9') ++i, ++n;
    return n;
  };
  const size_t int_digits = digits();
  size_t frac_digits = 0;
  bool dot = false;
  if (i < body.size() && body[i] == '.') {
    dot = true;
    ++i;
    frac_digits = digits();
  }
  if (int_digits == 0 && (!dot || frac_digits == 0)) return false;
  if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
    ++i;
    if (i < body.size() && (body[i] == '-' || body[i] == '+')) ++i;
    if (digits() == 0) return false;
  }
  if (i != body.size()) return false;
  // strtod handles overflow to infinity and underflow to zero; the copy gives
  // it a terminated string.
  const std::string copy(body);
  const double value = std::strtod(copy.c_str(), nullptr);
  out->kind = YamlScalar::Kind::kFloat;
  out->float_value = negative ? -value : value;
  return true;
}

YamlScalar resolve_plain(std::string_view s) {
  YamlScalar out;
  out.text = s;
  if (is_null_text(s)) {
    out.kind = YamlScalar::Kind::kNull;
  } else if (auto b = bool_of(s)) {
    out.kind = YamlScalar::Kind::kBool;
    out.boolean = *b;
  } else if (!resolve_int(s, &out) && !resolve_float(s, &out)) {
    out.kind = YamlScalar::Kind::kString;
  }
  return out;
}

YamlScalar resolve_tagged(std::string_view s, uint8_t tag) {
  YamlScalar out;
  out.text = s;
  out.kind = YamlScalar::Kind::kString;
  switch (tag) {
    case kNullTag: out.kind = YamlScalar::Kind::kNull; break;
    case kBoolTag:
      if (auto b = bool_of(s)) {
        out.kind = YamlScalar::Kind::kBool;
        out.boolean = *b;
      }
      break;
    case kIntTag:
      if (!resolve_int(s, &out)) out.kind = YamlScalar::Kind::kString;
      break;
    case kFloatTag:
      if (resolve_int(s, &out)) {
        out.float_value = out.kind == YamlScalar::Kind::kInt ? static_cast<double>(out.int_value)
                                                             : static_cast<double>(out.uint_value);
        out.kind = YamlScalar::Kind::kFloat;
      } else if (!resolve_float(s, &out)) {
        out.kind = YamlScalar::Kind::kString;
      }
      break;
    default: break;
  }
  return out;
}

std::string describe_float(double d) {
  if (std::isnan(d)) return "NaN";
  if (std::isinf(d)) return d < 0 ? "-inf" : "inf";
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
  std::string s(buf, ec == std::errc() ? end : buf);
  if (s.find_first_of(".e") == std::string::npos) s += ".0";
  return s;
}

void append_quoted(std::string_view s, std::string* out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out->push_back('"');
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"': *out += "\\\""; break;
      case '\\': *out += "\\\\"; break;
      case '\n': *out += "\\n"; break;
      case '\r': *out += "\\r"; break;
      case '\t': *out += "\\t"; break;
      default:
        if (u < 0x20 || u == 0x7f) {
          *out += "\\u{";
          if (u >= 0x10) out->push_back(kHex[u >> 4]);
          out->push_back(kHex[u & 0xf]);
          out->push_back('}');
        } else {
          out->push_back(c);
        }
    }
  }
  out->push_back('"');
}

uint32_t clamp32(size_t v) {
  return static_cast<uint32_t>(std::min<size_t>(v, std::numeric_limits<uint32_t>::max()));
}

// Owns one libyaml parser.
class Parser {
 public:
  explicit Parser(std::string_view text) {
    ok_ = yaml_parser_initialize(&parser_) != 0;
    if (ok_) {
      yaml_parser_set_input_string(&parser_, reinterpret_cast<const unsigned char*>(text.data()),
                                   text.size());
    }
  }
  ~Parser() {
    if (ok_) yaml_parser_delete(&parser_);
  }
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  bool ok() const { return ok_; }
  yaml_parser_t* get() { return &parser_; }

 private:
  yaml_parser_t parser_;
  bool ok_ = false;
};

// Owns one libyaml event; deleted on every path out of a loop iteration.
class Event {
 public:
  Event() { std::memset(&event_, 0, sizeof event_); }
  ~Event() { yaml_event_delete(&event_); }
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  yaml_event_t* get() { return &event_; }
  const yaml_event_t& operator*() const { return event_; }

 private:
  yaml_event_t event_;
};

std::string mark_text(const yaml_mark_t& m) {
  return "line " + std::to_string(m.line + 1) + " column " + std::to_string(m.column + 1);
}

// libyaml's own message: the problem with its position, then the context
// with its position when that differs. The positions are part of the text.
YamlError syntax_error(const yaml_parser_t& p) {
  YamlError e;
  e.message = p.problem != nullptr ? p.problem : "unknown YAML syntax error";
  const auto& m = p.problem_mark;
  if (p.error == YAML_READER_ERROR || p.error == YAML_MEMORY_ERROR) {
    if (p.problem_offset != 0) e.message += " at position " + std::to_string(p.problem_offset);
  } else if (m.line != 0 || m.column != 0) {
    e.message += " at " + mark_text(m);
  }
  if (p.context != nullptr) {
    e.message += std::string(", ") + p.context;
    const auto& c = p.context_mark;
    if ((c.line != 0 || c.column != 0) && (c.line != m.line || c.column != m.column)) {
      e.message += " at " + mark_text(c);
    }
  }
  return e;
}

YamlError plain_error(std::string message, std::optional<YamlMark> mark = std::nullopt) {
  YamlError e;
  e.message = std::move(message);
  e.mark = mark;
  return e;
}

}  // namespace

// Builds a document from libyaml events. Containers are collected on an
// explicit stack, so nesting never recurses.
class YamlDocumentBuilder {
 public:
  std::expected<YamlDocument, YamlError> run(std::string_view text);

 private:
  using Node = YamlDocument::Node;
  struct Frame {
    uint32_t node;
    std::vector<uint32_t> kids;
    bool anchored;
    std::string anchor;
  };

  std::optional<YamlError> on_event(const yaml_event_t& e);
  uint32_t new_node(const yaml_mark_t& mark);
  void attach(uint32_t node);
  void remember(const yaml_char_t* anchor, uint32_t node);

  YamlDocument doc_;
  std::vector<Frame> stack_;
  std::unordered_map<std::string, uint32_t> anchors_;
  uint64_t replayed_ = 0;
  int documents_ = 0;
  bool have_root_ = false;
  bool done_ = false;
};

uint32_t YamlDocumentBuilder::new_node(const yaml_mark_t& mark) {
  Node n;
  n.line = clamp32(mark.line);
  n.column = clamp32(mark.column);
  doc_.nodes_.push_back(n);
  return static_cast<uint32_t>(doc_.nodes_.size() - 1);
}

void YamlDocumentBuilder::attach(uint32_t node) {
  if (stack_.empty()) {
    doc_.root_ = node;
    have_root_ = true;
  } else {
    stack_.back().kids.push_back(node);
  }
}

void YamlDocumentBuilder::remember(const yaml_char_t* anchor, uint32_t node) {
  if (anchor != nullptr) anchors_[reinterpret_cast<const char*>(anchor)] = node;
}

std::optional<YamlError> YamlDocumentBuilder::on_event(const yaml_event_t& e) {
  const YamlMark at{e.start_mark.line, e.start_mark.column};
  switch (e.type) {
    case YAML_DOCUMENT_START_EVENT:
      if (++documents_ > 1) {
        return plain_error(
            "deserializing from YAML containing more than one document is not supported");
      }
      return std::nullopt;
    case YAML_STREAM_END_EVENT:
      done_ = true;
      if (!have_root_) return plain_error("EOF while parsing a value");
      return std::nullopt;
    case YAML_SCALAR_EVENT: {
      const uint32_t node = new_node(e.start_mark);
      Node& n = doc_.nodes_[node];
      n.kind = YamlValue::Kind::kScalar;
      n.style = e.data.scalar.style == YAML_PLAIN_SCALAR_STYLE ? 0 : 1;
      n.tag = tag_of(e.data.scalar.tag);
      n.begin = static_cast<uint32_t>(doc_.text_.size());
      n.count = static_cast<uint32_t>(e.data.scalar.length);
      doc_.text_.append(reinterpret_cast<const char*>(e.data.scalar.value), e.data.scalar.length);
      remember(e.data.scalar.anchor, node);
      attach(node);
      return std::nullopt;
    }
    case YAML_SEQUENCE_START_EVENT:
    case YAML_MAPPING_START_EVENT: {
      if (stack_.size() >= kYamlMaxDepth) return plain_error("recursion limit exceeded", at);
      const uint32_t node = new_node(e.start_mark);
      doc_.nodes_[node].kind = e.type == YAML_SEQUENCE_START_EVENT ? YamlValue::Kind::kSequence
                                                                   : YamlValue::Kind::kMapping;
      // The anchor is registered when the container ends, so an alias inside
      // its own anchor is unknown rather than a cycle.
      const yaml_char_t* anchor = e.type == YAML_SEQUENCE_START_EVENT ? e.data.sequence_start.anchor
                                                                      : e.data.mapping_start.anchor;
      stack_.push_back(Frame{node,
                             {},
                             anchor != nullptr,
                             anchor != nullptr ? reinterpret_cast<const char*>(anchor) : ""});
      return std::nullopt;
    }
    case YAML_SEQUENCE_END_EVENT:
    case YAML_MAPPING_END_EVENT: {
      Frame frame = std::move(stack_.back());
      stack_.pop_back();
      Node& n = doc_.nodes_[frame.node];
      n.begin = static_cast<uint32_t>(doc_.children_.size());
      n.count = static_cast<uint32_t>(frame.kids.size());
      uint64_t expanded = 1;
      uint8_t height = 0;
      for (uint32_t kid : frame.kids) {
        const Node& k = doc_.nodes_[kid];
        expanded = std::min<uint64_t>(expanded + k.expanded, std::numeric_limits<uint32_t>::max());
        height = std::max(height, k.height);
      }
      n.expanded = static_cast<uint32_t>(expanded);
      n.height = static_cast<uint8_t>(height + 1);
      doc_.children_.insert(doc_.children_.end(), frame.kids.begin(), frame.kids.end());
      if (frame.anchored) anchors_[frame.anchor] = frame.node;
      attach(frame.node);
      return std::nullopt;
    }
    case YAML_ALIAS_EVENT: {
      auto it = anchors_.find(reinterpret_cast<const char*>(e.data.alias.anchor));
      if (it == anchors_.end()) return plain_error("unknown anchor", at);
      const Node& target = doc_.nodes_[it->second];
      if (stack_.size() + target.height > kYamlMaxDepth) {
        return plain_error("recursion limit exceeded", at);
      }
      replayed_ += target.expanded;
      if (replayed_ > kYamlMaxAliasReplay) return plain_error("alias expansion limit exceeded", at);
      attach(it->second);
      return std::nullopt;
    }
    default: return std::nullopt;
  }
}

std::expected<YamlDocument, YamlError> YamlDocumentBuilder::run(std::string_view text) {
  if (text.size() >= std::numeric_limits<uint32_t>::max()) {
    return std::unexpected(plain_error("document too large"));
  }
  Parser parser(text);
  if (!parser.ok()) return std::unexpected(plain_error("cannot initialise the YAML parser"));
  while (!done_) {
    Event event;
    if (yaml_parser_parse(parser.get(), event.get()) == 0) {
      return std::unexpected(syntax_error(*parser.get()));
    }
    if (auto error = on_event(*event)) return std::unexpected(std::move(*error));
  }
  return std::move(doc_);
}

std::expected<YamlDocument, YamlError> YamlDocument::parse(std::string_view text) {
  YamlDocumentBuilder builder;
  return builder.run(text);
}

// ---------------------------------------------------------------------------

std::string YamlError::to_string() const {
  std::string out;
  if (!path.empty()) out += path + ": ";
  out += message;
  if (mark && (mark->line != 0 || mark->column != 0)) {
    out += " at line " + std::to_string(mark->line + 1) + " column " +
           std::to_string(mark->column + 1);
  }
  return out;
}

std::string YamlPath::to_string() const {
  std::vector<const YamlPath*> steps;
  for (const YamlPath* p = this; p != nullptr; p = p->parent) steps.push_back(p);
  std::string out;
  for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
    const YamlPath& s = **it;
    if (s.is_index) {
      out += '[';
      out += std::to_string(s.index);
      out += ']';
    } else {
      if (!out.empty()) out += ".";
      out += s.key;
    }
  }
  return out;
}

YamlValue::Kind YamlValue::kind() const { return doc_->nodes_[node_].kind; }

std::string_view YamlValue::text() const {
  const auto& n = doc_->nodes_[node_];
  if (n.kind != Kind::kScalar) return {};
  return std::string_view(doc_->text_).substr(n.begin, n.count);
}

YamlScalar YamlValue::scalar() const {
  const auto& n = doc_->nodes_[node_];
  const std::string_view s = text();
  if (n.tag != kNoTag) return resolve_tagged(s, n.tag);
  if (n.style != 0) {
    YamlScalar out;
    out.kind = YamlScalar::Kind::kString;
    out.text = s;
    return out;
  }
  return resolve_plain(s);
}

bool YamlValue::is_null() const { return is_scalar() && scalar().kind == YamlScalar::Kind::kNull; }

bool YamlValue::is_empty_value() const {
  const auto& n = doc_->nodes_[node_];
  return n.kind == Kind::kScalar && n.style == 0 && n.tag == kNoTag && n.count == 0;
}

size_t YamlValue::size() const {
  const auto& n = doc_->nodes_[node_];
  if (n.kind == Kind::kScalar) return 0;
  return n.kind == Kind::kMapping ? n.count / 2 : n.count;
}

YamlValue YamlValue::item(size_t i, const YamlPath* path) const {
  return YamlValue(doc_, doc_->children_[doc_->nodes_[node_].begin + i], path);
}

YamlValue YamlValue::key(size_t i) const {
  return YamlValue(doc_, doc_->children_[doc_->nodes_[node_].begin + 2 * i], path_);
}

YamlValue YamlValue::value(size_t i, const YamlPath* path) const {
  return YamlValue(doc_, doc_->children_[doc_->nodes_[node_].begin + 2 * i + 1], path);
}

YamlMark YamlValue::mark() const {
  const auto& n = doc_->nodes_[node_];
  return YamlMark{n.line, n.column};
}

std::string YamlValue::describe() const {
  switch (kind()) {
    case Kind::kSequence: return "sequence";
    case Kind::kMapping: return "map";
    case Kind::kScalar: break;
  }
  const YamlScalar s = scalar();
  switch (s.kind) {
    case YamlScalar::Kind::kNull: return "unit value";
    case YamlScalar::Kind::kBool: return s.boolean ? "boolean `true`" : "boolean `false`";
    case YamlScalar::Kind::kInt: return "integer `" + std::to_string(s.int_value) + "`";
    case YamlScalar::Kind::kUInt: return "integer `" + std::to_string(s.uint_value) + "`";
    case YamlScalar::Kind::kFloat: return "floating point `" + describe_float(s.float_value) + "`";
    case YamlScalar::Kind::kString: break;
  }
  std::string out = "string ";
  append_quoted(s.text, &out);
  return out;
}

YamlError YamlValue::error(std::string message) const {
  YamlError e;
  e.message = std::move(message);
  if (path_ != nullptr) e.path = path_->to_string();
  e.mark = mark();
  return e;
}

YamlError YamlValue::invalid_type(std::string_view expected) const {
  return error("invalid type: " + describe() + ", expected " + std::string(expected));
}

YamlError YamlValue::invalid_value(std::string_view expected) const {
  return error("invalid value: " + describe() + ", expected " + std::string(expected));
}

YamlError YamlValue::invalid_length(size_t n, std::string_view expected) const {
  return error("invalid length " + std::to_string(n) + ", expected " + std::string(expected));
}

// ---------------------------------------------------------------------------

namespace yaml_internal {

std::string unknown_variant(std::string_view name, const std::vector<std::string_view>& names) {
  std::string out = "unknown variant `" + std::string(name) + "`, expected ";
  if (names.empty()) return out + "no variants";
  if (names.size() == 1) return out + "`" + std::string(names[0]) + "`";
  if (names.size() == 2) {
    return out + "`" + std::string(names[0]) + "` or `" + std::string(names[1]) + "`";
  }
  out += "one of ";
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += ", ";
    out += '`';
    out.append(names[i]);
    out += '`';
  }
  return out;
}

std::expected<std::string_view, YamlError> key_text(const YamlValue& key,
                                                    std::string_view expected) {
  if (!key.is_scalar()) return std::unexpected(key.invalid_type(expected));
  return key.text();
}

}  // namespace yaml_internal

namespace {

template <class T>
YamlReader<T> integer_reader(std::string_view name) {
  return [name](const YamlValue& v) -> std::expected<T, YamlError> {
    if (!v.is_scalar()) return std::unexpected(v.invalid_type(name));
    const YamlScalar s = v.scalar();
    if (s.kind == YamlScalar::Kind::kUInt) {
      if (s.uint_value > static_cast<uint64_t>(std::numeric_limits<T>::max())) {
        return std::unexpected(v.invalid_value(name));
      }
      return static_cast<T>(s.uint_value);
    }
    if (s.kind == YamlScalar::Kind::kInt) {
      if constexpr (std::is_signed_v<T>) {
        if (s.int_value >= static_cast<int64_t>(std::numeric_limits<T>::min())) {
          return static_cast<T>(s.int_value);
        }
      }
      return std::unexpected(v.invalid_value(name));
    }
    return std::unexpected(v.invalid_type(name));
  };
}

std::expected<JsonValue, YamlError> to_json_value(const YamlValue& v) {
  switch (v.kind()) {
    case YamlValue::Kind::kSequence: {
      JsonArray out;
      out.reserve(v.size());
      for (size_t i = 0; i < v.size(); ++i) {
        YamlPath step{v.path(), {}, i, true};
        auto item = to_json_value(v.item(i, &step));
        if (!item) return item;
        out.push_back(std::move(*item));
      }
      return JsonValue(std::move(out));
    }
    case YamlValue::Kind::kMapping: {
      std::vector<JsonObject::Member> members;
      members.reserve(v.size());
      for (size_t i = 0; i < v.size(); ++i) {
        auto key = yaml_internal::key_text(v.key(i), "a string");
        if (!key) return std::unexpected(std::move(key.error()));
        YamlPath step{v.path(), *key, 0, false};
        auto value = to_json_value(v.value(i, &step));
        if (!value) return value;
        members.emplace_back(std::string(*key), std::move(*value));
      }
      return JsonValue(JsonObject::from_members(std::move(members)));
    }
    case YamlValue::Kind::kScalar: break;
  }
  const YamlScalar s = v.scalar();
  switch (s.kind) {
    case YamlScalar::Kind::kNull: return JsonValue();
    case YamlScalar::Kind::kBool: return JsonValue(s.boolean);
    case YamlScalar::Kind::kInt: return JsonValue(s.int_value);
    case YamlScalar::Kind::kUInt: return JsonValue(s.uint_value);
    case YamlScalar::Kind::kFloat:
      // The JSON model has no non-finite numbers.
      if (!std::isfinite(s.float_value)) return JsonValue();
      return JsonValue(s.float_value);
    case YamlScalar::Kind::kString: break;
  }
  return JsonValue(std::string(s.text));
}

}  // namespace

YamlReader<std::string> yaml_text() {
  return [](const YamlValue& v) -> std::expected<std::string, YamlError> {
    if (!v.is_scalar()) return std::unexpected(v.invalid_type("a string"));
    return std::string(v.text());
  };
}

YamlReader<std::string> yaml_typed_text() {
  return [](const YamlValue& v) -> std::expected<std::string, YamlError> {
    if (!v.is_scalar() || v.scalar().kind != YamlScalar::Kind::kString) {
      return std::unexpected(v.invalid_type("a string"));
    }
    return std::string(v.text());
  };
}

YamlReader<bool> yaml_bool() {
  return [](const YamlValue& v) -> std::expected<bool, YamlError> {
    if (v.is_scalar()) {
      const YamlScalar s = v.scalar();
      if (s.kind == YamlScalar::Kind::kBool) return s.boolean;
    }
    return std::unexpected(v.invalid_type("a boolean"));
  };
}

YamlReader<int32_t> yaml_i32() { return integer_reader<int32_t>("i32"); }
YamlReader<uint16_t> yaml_u16() { return integer_reader<uint16_t>("u16"); }
YamlReader<uint32_t> yaml_u32() { return integer_reader<uint32_t>("u32"); }
YamlReader<uint64_t> yaml_u64() { return integer_reader<uint64_t>("u64"); }

YamlReader<JsonValue> yaml_json() { return to_json_value; }

}  // namespace tarnwick_support

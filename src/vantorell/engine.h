// File: engine.h
//
// The rule engine: the configuration's rules compiled once, in configuration
// order, each checked against the whole argument text of a call. A check
// either passes or yields one of five fixed failure texts (static storage, no
// allocation); regular expressions are searched unanchored in linear time.

#ifndef VANTORELL_ENGINE_H_
#define VANTORELL_ENGINE_H_

#include <re2/re2.h>

#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "vantorell/config.h"

namespace vantorell {

inline constexpr std::string_view kFailedRegexRule = "Failed regex rule";
inline constexpr std::string_view kFailedExactRule = "Failed exact match rule";
inline constexpr std::string_view kInvalidJson = "Invalid JSON";
inline constexpr std::string_view kSchemaTypeMismatch =
    "JSON schema type mismatch (expected object)";
inline constexpr std::string_view kMissingRequiredField = "Missing required field in JSON";

// One rule ready to check argument texts. Immutable once built; move-only
// because a compiled expression is not copied.
class CompiledRule {
 public:
  struct Regex {
    std::unique_ptr<const re2::RE2> expression;
  };
  struct Exact {
    std::string value;
  };
  struct JsonSchema {
    std::vector<std::string> required;
    std::string type;  // "object" unless given otherwise
  };

  explicit CompiledRule(Regex r) : rule_(std::move(r)) {}
  explicit CompiledRule(Exact r) : rule_(std::move(r)) {}
  explicit CompiledRule(JsonSchema r) : rule_(std::move(r)) {}

  // Empty when `argument_text` passes the rule, else the rule's failure text.
  std::optional<std::string_view> matches(std::string_view argument_text) const;

 private:
  std::variant<Regex, Exact, JsonSchema> rule_;
};

struct RuleEngine {
  // Compiles `rules` in order. The first pattern the expression engine
  // refuses stops construction with "Regex error: {engine's description}".
  static std::expected<RuleEngine, std::string> create(std::vector<RuleConfig> rules);

  std::vector<CompiledRule> rules;  // configuration order
};

}  // namespace vantorell

#endif  // VANTORELL_ENGINE_H_

#include "vantorell/engine.h"

#include <algorithm>
#include <utility>

#include "support/json.h"

namespace vantorell {

namespace {

// Default options, except that a refused pattern must never be written to
// stderr: the caller learns about it through the returned error only.
RE2::Options expression_options() {
  RE2::Options options;
  options.set_log_errors(false);
  return options;
}

std::optional<std::string_view> check_json_schema(const CompiledRule::JsonSchema& schema,
                                                  std::string_view text) {
  // Only the root's kind and top-level keys matter, so the text is checked
  // without building a value.
  auto shape = tarnwick_support::scan_json(text);
  if (!shape) return kInvalidJson;
  if (schema.type != "object") return std::nullopt;
  if (shape->kind != tarnwick_support::JsonValue::Kind::kObject) return kSchemaTypeMismatch;
  for (const std::string& name : schema.required) {
    if (std::find(shape->keys.begin(), shape->keys.end(), name) == shape->keys.end()) {
      return kMissingRequiredField;
    }
  }
  return std::nullopt;
}

struct RuleChecker {
  std::string_view text;

  std::optional<std::string_view> operator()(const CompiledRule::Regex& rule) const {
    if (RE2::PartialMatch(re2::StringPiece(text.data(), text.size()), *rule.expression)) {
      return std::nullopt;
    }
    return kFailedRegexRule;
  }
  std::optional<std::string_view> operator()(const CompiledRule::Exact& rule) const {
    if (text == rule.value) return std::nullopt;
    return kFailedExactRule;
  }
  std::optional<std::string_view> operator()(const CompiledRule::JsonSchema& rule) const {
    return check_json_schema(rule, text);
  }
};

}  // namespace

std::optional<std::string_view> CompiledRule::matches(std::string_view argument_text) const {
  return std::visit(RuleChecker{argument_text}, rule_);
}

std::expected<RuleEngine, std::string> RuleEngine::create(std::vector<RuleConfig> rules) {
  RuleEngine engine;
  engine.rules.reserve(rules.size());
  for (RuleConfig& rule : rules) {
    if (auto* regex = std::get_if<RegexRule>(&rule)) {
      auto expression = std::make_unique<const RE2>(regex->pattern, expression_options());
      if (!expression->ok()) return std::unexpected("Regex error: " + expression->error());
      engine.rules.emplace_back(CompiledRule::Regex{std::move(expression)});
    } else if (auto* exact = std::get_if<ExactRule>(&rule)) {
      engine.rules.emplace_back(CompiledRule::Exact{std::move(exact->value)});
    } else {
      auto& schema = std::get<JsonSchemaSubset>(rule);
      engine.rules.emplace_back(CompiledRule::JsonSchema{
          schema.required ? std::move(*schema.required) : std::vector<std::string>{},
          schema.type ? std::move(*schema.type) : std::string("object")});
    }
  }
  return engine;
}

}  // namespace vantorell

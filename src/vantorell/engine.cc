#include "vantorell/engine.h"

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
  auto value = tarnwick_support::parse_json(text);
  if (!value) return kInvalidJson;
  if (schema.type != "object") return std::nullopt;
  const tarnwick_support::JsonObject* object = value->if_object();
  if (object == nullptr) return kSchemaTypeMismatch;
  for (const std::string& name : schema.required) {
    if (!object->contains(name)) return kMissingRequiredField;
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

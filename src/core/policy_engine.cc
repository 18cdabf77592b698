#include "core/policy_engine.h"

#include <array>
#include <cstdint>
#include <utility>

namespace tarnwick_core {

namespace {

using tarnwick_observation::Detection;
using tarnwick_support::JsonValue;

struct KindSpelling {
  std::string_view folded;  // lower-cased, without the underscore
  std::string_view kind;
};
constexpr std::array<KindSpelling, 4> kKindSpellings = {{
    {"exactrepeat", "exact_repeat"},
    {"semanticrepeat", "semantic_repeat"},
    {"ruleviolation", "rule_violation"},
    {"errorpattern", "error_pattern"},
}};

// The kind that `written` names once lower-cased, or `written` itself. Only
// a text whose lower-case form is all ASCII can equal one of the folded
// spellings, and among non-ASCII characters only U+212A KELVIN SIGN
// lower-cases to ASCII alone ('k'); every other one lower-cases to something
// that keeps a non-ASCII character (U+0130 becomes "i" + U+0307, for
// example). So lower-casing ASCII letters and the Kelvin sign, and giving up
// on any other non-ASCII character, decides exactly as full Unicode
// lower-casing would.
std::string_view normalized(std::string_view written) {
  constexpr size_t kLongest = 14;  // "semanticrepeat"
  char folded[kLongest];
  size_t n = 0;
  for (size_t i = 0; i < written.size(); ++i) {
    if (n == kLongest) return written;
    const unsigned char c = static_cast<unsigned char>(written[i]);
    if (c < 0x80) {
      folded[n++] =
          (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c);
    } else if (written.substr(i, 3) == "\xE2\x84\xAA") {  // U+212A KELVIN SIGN
      folded[n++] = 'k';
      i += 2;
    } else {
      return written;
    }
  }
  const std::string_view lower(folded, n);
  for (const KindSpelling& s : kKindSpellings) {
    if (lower == s.folded) return s.kind;
  }
  return written;
}

// Whether some detection has the kind `written` names.
bool detected(std::string_view written, std::span<const Detection> detections) {
  const std::string_view wanted = normalized(written);
  for (const Detection& d : detections) {
    if (tarnwick_observation::kind(d) == wanted) return true;
  }
  return false;
}

// Whether some exact repeat or error pattern of the kind `written` names has
// a count of at least `least`.
bool counted(std::string_view written, uint32_t least, std::span<const Detection> detections) {
  const std::string_view wanted = normalized(written);
  for (const Detection& d : detections) {
    if (tarnwick_observation::kind(d) != wanted) continue;
    if (const auto* e = std::get_if<tarnwick_observation::ExactRepeat>(&d)) {
      if (e->count >= least) return true;
    } else if (const auto* p = std::get_if<tarnwick_observation::ErrorPattern>(&d)) {
      if (p->count >= least) return true;
    }
  }
  return false;
}

using Params = std::unordered_map<std::string, JsonValue>;

const JsonValue* param(const std::optional<Params>& params, std::string_view key) {
  if (!params) return nullptr;
  const auto it = params->find(std::string(key));
  return it == params->end() ? nullptr : &it->second;
}

uint64_t non_negative_param(const std::optional<Params>& params, std::string_view key,
                            uint64_t fallback) {
  uint64_t value = 0;
  const JsonValue* v = param(params, key);
  return v != nullptr && v->get_non_negative(&value) ? value : fallback;
}

const std::string* text_param(const std::optional<Params>& params, std::string_view key) {
  const JsonValue* v = param(params, key);
  return v == nullptr ? nullptr : v->if_string();
}

std::string text_param_or(const std::optional<Params>& params, std::string_view key,
                          std::string_view fallback) {
  const std::string* text = text_param(params, key);
  return text != nullptr ? *text : std::string(fallback);
}

}  // namespace

std::string normalize_kind(std::string_view written) { return std::string(normalized(written)); }

bool condition_matches(const ConditionConfig& when, std::span<const Detection> detections) {
  if (when.any) {
    for (const std::string& name : *when.any) {
      if (detected(name, detections)) return true;
    }
    return false;
  }
  if (when.all) {
    for (const std::string& name : *when.all) {
      if (!detected(name, detections)) return false;
    }
    return true;
  }
  if (when.count) {
    for (const auto& [name, least] : *when.count) {
      if (!counted(name, least, detections)) return false;
    }
    return true;
  }
  return false;
}

std::optional<Intervention> build_intervention(const ActionConfig& action) {
  const std::optional<Params>& p = action.params;
  const std::string_view type = action.type;
  if (type == "Retry") return Retry{non_negative_param(p, "delay_ms", 0)};
  if (type == "Backoff") return Backoff{non_negative_param(p, "base_ms", 500), 0};
  if (type == "ReplaceTool") {
    return ReplaceTool{text_param_or(p, "original", ""), text_param_or(p, "replacement", "")};
  }
  if (type == "InjectPrompt") {
    PromptPosition position = PromptPosition::kBeforeNext;
    if (const std::string* text = text_param(p, "position")) {
      if (*text == "AfterTool") position = PromptPosition::kAfterTool;
      if (*text == "ReplaceLast") position = PromptPosition::kReplaceLast;
    }
    std::optional<std::string> prompt_id;
    if (const std::string* text = text_param(p, "prompt_id")) prompt_id = *text;
    return InjectPrompt{text_param_or(p, "content", ""), position, std::move(prompt_id)};
  }
  if (type == "Abort") return Abort{text_param_or(p, "reason", "Aborted by policy")};
  return std::nullopt;
}

std::expected<PolicyEngine, PolicyError> PolicyEngine::create(std::string_view policy_yaml) {
  auto config = read_policy_config(policy_yaml);
  if (!config) return std::unexpected(std::move(config.error()));
  return PolicyEngine(std::move(config->policies));
}

std::optional<Intervention> PolicyEngine::evaluate(
    const tarnwick_observation::DetectionReport& report) const {
  // The first matching policy of strictly highest priority: the same choice
  // as a stable sort of the matches by descending priority.
  const PolicyEntry* chosen = nullptr;
  for (const PolicyEntry& entry : policies_) {
    if (chosen != nullptr && entry.priority <= chosen->priority) continue;
    if (condition_matches(entry.when, report.detections)) chosen = &entry;
  }
  if (chosen == nullptr) return std::nullopt;
  return build_intervention(chosen->action);
}

}  // namespace tarnwick_core

// File: intervention.h
//
// An Intervention is the system's answer to one observed tool call: continue,
// retry after a fixed pause or an exponential back-off, replace the tool,
// inject a prompt, abort, or an adapter-specific custom instruction.
// AdapterCapabilities::downgrade fits an intervention to what an adapter can
// apply and never returns Custom, so its results always have a JSON form.
//
//   tarnwick_core::AdapterCapabilities caps{.supports_retry = true, .supports_abort = true};
//   auto [fitted, outcome] = caps.downgrade(tarnwick_core::ReplaceTool{"a", "b"});
//   fitted.to_text();  // "Retry { delay_ms: 0 }", outcome kUnsupported

#ifndef TARNWICK_CORE_INTERVENTION_H_
#define TARNWICK_CORE_INTERVENTION_H_

#include <concepts>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "support/json.h"

namespace tarnwick_core {

// Where an injected prompt goes; the adapter acts on it.
enum class PromptPosition { kBeforeNext, kReplaceLast, kAfterTool };

// How applying an intervention went, as the adapter reports it.
enum class InterventionOutcome { kApplied, kRejected, kUnsupported, kFailed };

struct Continue {};
struct Retry {
  uint64_t delay_ms = 0;
};
struct Backoff {
  uint64_t base_ms = 0;
  uint32_t attempt = 0;
};
struct ReplaceTool {
  std::string original;
  std::string replacement;
};
struct InjectPrompt {
  std::string content;
  PromptPosition position = PromptPosition::kBeforeNext;
  std::optional<std::string> prompt_id;
};
struct Abort {
  std::string reason;
};
// Adapter-specific; nothing in this library builds one.
struct Custom {
  std::string name;
  tarnwick_support::JsonValue payload;
};

struct Intervention {
  using Variant = std::variant<Continue, Retry, Backoff, ReplaceTool, InjectPrompt, Abort, Custom>;

  Intervention() = default;  // Continue
  template <typename T>
  requires std::constructible_from<Variant, T&&> &&
      (!std::same_as<std::remove_cvref_t<T>, Intervention>)Intervention(T&& alternative)
      : v(std::forward<T>(alternative)) {}

  // The pause before a retry: Retry's delay_ms, or for Backoff
  // base_ms * 2^attempt saturating at 2^64-1 (2^attempt itself is taken as
  // 2^64-1 from attempt 64 on). Absent for every other variant.
  std::optional<uint64_t> delay_ms() const;

  // Debugging text, e.g. `Retry { delay_ms: 1000 }` or
  // `InjectPrompt { content: "x", position: BeforeNext, prompt_id: None }`.
  // Texts are quoted with \" \\ \n \r \t \0 escapes and \u{hex} for
  // characters that are not printable or that extend a grapheme (combining
  // marks); a byte that is not valid UTF-8 shows as U+FFFD.
  std::string to_text() const;

  Variant v;
};

// "BeforeNext", "ReplaceLast" or "AfterTool".
std::string_view prompt_position_name(PromptPosition position);
// "applied", "rejected", "unsupported" or "failed".
std::string_view outcome_name(InterventionOutcome outcome);

// Writes the JSON form: "Continue", or {"Retry":{"delay_ms":N}} and so on,
// fields in declaration order and an absent prompt_id left out. A Custom
// intervention has no JSON form: nothing is written and the error is "the enum
// variant Intervention::Custom cannot be serialized".
std::expected<void, std::string> write_intervention_json(const Intervention& intervention,
                                                         tarnwick_support::JsonWriter& writer);

// What an adapter can apply. Continue needs no capability; Custom is never
// passed through.
struct AdapterCapabilities {
  bool supports_retry = false;  // Retry and Backoff
  bool supports_replace_tool = false;
  bool supports_inject_prompt = false;
  bool supports_abort = false;

  // An intervention the adapter can apply: a copy of `intervention` with no
  // outcome when it is supported as it is, otherwise its fallback with
  // kUnsupported. Never returns Custom.
  std::pair<Intervention, std::optional<InterventionOutcome>> downgrade(
      const Intervention& intervention) const;
};

}  // namespace tarnwick_core

#endif  // TARNWICK_CORE_INTERVENTION_H_

#include "observation/semantic.h"

#include <cstddef>
#include <mutex>
#include <string>
#include <utility>
#include <variant>

#include "observation/http_status.h"
#include "observation/sidecar_http.h"
#include "support/json.h"
#include "support/log.h"
#include "support/overloaded.h"

namespace tarnwick_observation {

namespace {

using internal::Answer;
using internal::ErrorStatus;
using internal::Exchange;
using internal::post_json;
using internal::Unreachable;
using internal::Unreadable;
using tarnwick_support::LogLevel;

constexpr std::string_view kLogTarget = "tarnwick_observation::detection";

using tarnwick_support::Overloaded;

bool reports_loop(const tarnwick_support::JsonValue& answer) {
  const tarnwick_support::JsonObject* object = answer.if_object();
  if (object == nullptr) return false;
  const tarnwick_support::JsonValue* member = object->find("loop_detected");
  return member != nullptr && member->is_bool() && member->as_bool();
}

}  // namespace

SemanticSidecarClient::SemanticSidecarClient()
    : endpoint_("http://127.0.0.1:8081"), timeout_ms_(500), confidence_(0.85f) {}

SemanticSidecarClient::SemanticSidecarClient(const SemanticSidecarClient& other)
    : endpoint_(other.endpoint_),
      timeout_ms_(other.timeout_ms_),
      confidence_(other.confidence_),
      shadow_(other.shadow_metrics()) {}

SidecarShadowMetrics SemanticSidecarClient::shadow_metrics() const {
  std::lock_guard lock(mutex_);
  return shadow_;
}

void SemanticSidecarClient::on_unreachable(std::string_view description) const {
  std::lock_guard lock(mutex_);
  if (!shadow_.active && tarnwick_support::log_enabled()) {
    std::string message = "Semantic sidecar unreachable (";
    message += endpoint_;
    message += ": ";
    message += description;
    message += ") \u2014 entering shadow mode, using exact detection only. ";
    message += std::to_string(shadow_.would_have_caught);
    message += " loops would have been caught if sidecar were active.";
    tarnwick_support::log_event(LogLevel::kWarn, kLogTarget, message);
  }
  shadow_.failed_calls += 1;
  shadow_.active = true;
}

void SemanticSidecarClient::on_error_status() const {
  std::lock_guard lock(mutex_);
  shadow_.failed_calls += 1;
  shadow_.active = true;
}

void SemanticSidecarClient::on_answer() const {
  std::lock_guard lock(mutex_);
  if (!shadow_.active) return;
  if (tarnwick_support::log_enabled()) {
    tarnwick_support::log_event(LogLevel::kInfo, kLogTarget,
                                "Semantic sidecar recovered \u2014 shadow mode deactivated");
  }
  shadow_.failed_calls = 0;
  shadow_.would_have_caught = 0;
  shadow_.active = false;
}

std::string sidecar_request_body(const ToolCallEvent& event) {
  const std::string arguments = tarnwick_support::to_json(event.arguments);
  std::string body;
  body.reserve(arguments.size() + event.thread_id.size() + event.tool_name.size() + 64);
  body += "{\"llm_error_response\":";
  tarnwick_support::append_json_string(arguments, &body);
  body += ",\"session_id\":";
  tarnwick_support::append_json_string(event.thread_id, &body);
  body += ",\"tool_call\":";
  tarnwick_support::append_json_string(event.tool_name, &body);
  body += '}';
  return body;
}

std::optional<Detection> SemanticDetector::detect(const ToolCallEvent& event,
                                                  std::span<const ToolCallEvent>) const {
  try {
    const std::string body = sidecar_request_body(event);
    const std::string url = client_.endpoint() + "/analyze";
    Exchange exchange = post_json(url, body, client_.timeout_ms());
    return std::visit(Overloaded{
                          [&](Unreachable& u) -> std::optional<Detection> {
                            client_.on_unreachable(u.description);
                            return std::nullopt;
                          },
                          [&](ErrorStatus& e) -> std::optional<Detection> {
                            // Logged on every error answer, before the state is locked.
                            if (tarnwick_support::log_enabled()) {
                              std::string message = "Semantic sidecar returned status ";
                              message += std::to_string(e.code);
                              message += ' ';
                              message += http_reason_phrase(e.code);
                              message += " \u2014 entering shadow mode (exact detection fallback)";
                              tarnwick_support::log_event(LogLevel::kWarn, kLogTarget, message);
                            }
                            client_.on_error_status();
                            return std::nullopt;
                          },
                          [](Unreadable&) -> std::optional<Detection> { return std::nullopt; },
                          [&](Answer& a) -> std::optional<Detection> {
                            auto parsed = tarnwick_support::parse_json(a.body);
                            if (!parsed) return std::nullopt;
                            const bool loop = reports_loop(*parsed);
                            client_.on_answer();
                            if (!loop) return std::nullopt;
                            return SemanticRepeat{event.tool_name, client_.confidence()};
                          },
                      },
                      exchange);
  } catch (...) {
    // Sidecar trouble, of whatever kind, never reaches the caller.
    return std::nullopt;
  }
}

}  // namespace tarnwick_observation

// File: semantic.h
//
// The semantic detector sends every tool call to the semantic sidecar, an
// HTTP service at http://127.0.0.1:8081, and reports a SemanticRepeat when the
// sidecar answers that the agent is looping. When the sidecar is unreachable
// or answers with an error status the detector enters shadow mode: it reports
// nothing and logs, keeps asking on every call, and leaves shadow mode on the
// first well-formed answer. Nothing about the sidecar ever fails a call.
//
//   SemanticDetector detector{SemanticSidecarClient{}};
//   std::optional<Detection> d = detector.detect(event, history);

#ifndef TARNWICK_OBSERVATION_SEMANTIC_H_
#define TARNWICK_OBSERVATION_SEMANTIC_H_

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "observation/detection.h"
#include "observation/event.h"

namespace tarnwick_observation {

// Shadow-mode state of one sidecar client.
struct SidecarShadowMetrics {
  uint64_t failed_calls = 0;       // failures since construction or the last recovery
  uint64_t would_have_caught = 0;  // printed by the unreachable warning; reset on recovery
  bool active = false;             // shadow mode is on
  friend bool operator==(const SidecarShadowMetrics&, const SidecarShadowMetrics&) = default;
};

// The sidecar's fixed settings and the shadow-mode state. The state is shared
// by all threads calling through the client and is guarded by a mutex; the
// settings never change after construction. Copies take a snapshot of the
// state under a mutex of their own.
class SemanticSidecarClient {
 public:
  // endpoint "http://127.0.0.1:8081", timeout 500 ms, confidence 0.85,
  // shadow mode off with both counters 0.
  SemanticSidecarClient();
  SemanticSidecarClient(const SemanticSidecarClient& other);
  SemanticSidecarClient& operator=(const SemanticSidecarClient&) = delete;

  // Base URL of the sidecar: scheme, literal address and port, no path.
  const std::string& endpoint() const { return endpoint_; }
  // Bound on the wait for the response headers, and separately on reading
  // the body, in milliseconds.
  uint64_t timeout_ms() const { return timeout_ms_; }
  // The confidence of every SemanticRepeat reported through this client.
  float confidence() const { return confidence_; }
  // A consistent snapshot of the shadow-mode state.
  SidecarShadowMetrics shadow_metrics() const;

 private:
  friend class SemanticDetector;

  // Shadow-mode transitions; each one is atomic with respect to the others,
  // including the log event it emits.
  void on_unreachable(std::string_view description) const;
  void on_error_status() const;
  void on_answer() const;

  std::string endpoint_;
  uint64_t timeout_ms_;
  float confidence_;
  mutable std::mutex mutex_;
  mutable SidecarShadowMetrics shadow_;
};

// Asks the sidecar about every call: one blocking HTTP POST to
// endpoint + "/analyze" over a fresh connection. Reports a SemanticRepeat
// (the event's tool name, the client's confidence) only when a 2xx answer is
// a JSON object whose "loop_detected" is true. Safe to call from several
// threads at once; never throws. The history is not used.
class SemanticDetector final : public Detector {
 public:
  explicit SemanticDetector(SemanticSidecarClient client) : client_(std::move(client)) {}

  std::string_view name() const override { return "semantic"; }
  std::optional<Detection> detect(const ToolCallEvent& event,
                                  std::span<const ToolCallEvent> history) const override;

  const SemanticSidecarClient& client() const { return client_; }

 private:
  SemanticSidecarClient client_;
};

// The request body sent for `event`: a compact JSON object holding the
// compact JSON text of the arguments as "llm_error_response", the thread id
// as "session_id" and the tool name as "tool_call", in that order.
std::string sidecar_request_body(const ToolCallEvent& event);

}  // namespace tarnwick_observation

#endif  // TARNWICK_OBSERVATION_SEMANTIC_H_

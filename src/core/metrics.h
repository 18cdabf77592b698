// File: metrics.h
//
// RecoveryMetrics is one orchestrator's record of the interventions it handed
// out and how they went: a few counters, a per-kind count of the detections
// behind them and the log of MetricEvents itself. It has no lock of its own;
// it is changed only through its owner, and copies are deep.

#ifndef TARNWICK_CORE_METRICS_H_
#define TARNWICK_CORE_METRICS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "core/intervention.h"
#include "support/clock.h"
#include "support/uuid.h"

namespace tarnwick_core {

struct InterventionApplied {
  tarnwick_support::Uuid execution_id;
  tarnwick_support::UtcTimestamp timestamp;
  std::vector<std::string> detection_kinds;  // in report order
  InterventionOutcome outcome = InterventionOutcome::kApplied;
  std::optional<Intervention> downgraded_from;
};
struct ToolPrevented {
  tarnwick_support::Uuid execution_id;
  tarnwick_support::UtcTimestamp timestamp;
  std::string reason;
};
struct RetryPerformed {
  tarnwick_support::Uuid execution_id;
  tarnwick_support::UtcTimestamp timestamp;
  uint64_t delay_ms = 0;
  uint32_t attempt = 0;
};
struct RecoverySuccessful {
  tarnwick_support::Uuid execution_id;
  tarnwick_support::UtcTimestamp timestamp;
  uint64_t duration_ms = 0;
};

using MetricEvent =
    std::variant<InterventionApplied, ToolPrevented, RetryPerformed, RecoverySuccessful>;

class RecoveryMetrics {
 public:
  // A record with all counters 0, started now.
  explicit RecoveryMetrics(tarnwick_support::Uuid execution_id);
  RecoveryMetrics(tarnwick_support::Uuid execution_id, tarnwick_support::UtcTimestamp started_at);

  // Counts the event and appends it to events(): InterventionApplied raises
  // intervention_count and the breakdown of each of its kinds (a kind named
  // twice counts twice), ToolPrevented raises prevented_calls,
  // RecoverySuccessful sets recovery_time_ms, RetryPerformed counts nothing.
  void record_event(MetricEvent event);

  // The whole record as pretty JSON (two-space layout, fields in declaration
  // order, breakdown keys sorted). The empty text when the record holds an
  // intervention that has no JSON form (Custom).
  std::string to_json() const;

  const tarnwick_support::Uuid& execution_id() const { return execution_id_; }
  const tarnwick_support::UtcTimestamp& started_at() const { return started_at_; }
  uint64_t runtime_ms() const { return runtime_ms_; }
  uint64_t intervention_count() const { return intervention_count_; }
  uint64_t recovery_time_ms() const { return recovery_time_ms_; }
  uint64_t prevented_calls() const { return prevented_calls_; }
  uint64_t loop_duration_ms() const { return loop_duration_ms_; }
  const std::unordered_map<std::string, uint64_t>& detection_breakdown() const {
    return detection_breakdown_;
  }
  const std::vector<MetricEvent>& events() const { return events_; }

 private:
  tarnwick_support::Uuid execution_id_;
  tarnwick_support::UtcTimestamp started_at_;
  uint64_t runtime_ms_ = 0;  // nothing in this library changes it
  uint64_t intervention_count_ = 0;
  uint64_t recovery_time_ms_ = 0;
  uint64_t prevented_calls_ = 0;
  uint64_t loop_duration_ms_ = 0;  // nothing in this library changes it
  std::unordered_map<std::string, uint64_t> detection_breakdown_;
  std::vector<MetricEvent> events_;  // oldest first
};

}  // namespace tarnwick_core

#endif  // TARNWICK_CORE_METRICS_H_

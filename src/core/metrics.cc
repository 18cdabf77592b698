#include "core/metrics.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "support/overloaded.h"

namespace tarnwick_core {

namespace {

using tarnwick_support::JsonWriter;

using tarnwick_support::Overloaded;

// Opens {"Variant": {"execution_id": ..., "timestamp": ...; the caller writes
// the further fields and closes both objects.
template <typename E>
void begin_event(std::string_view variant, const E& e, JsonWriter& w) {
  w.begin_object();
  w.key(variant);
  w.begin_object();
  w.key("execution_id");
  w.string(e.execution_id.to_string());
  w.key("timestamp");
  w.string(e.timestamp.to_rfc3339());
}

void end_event(JsonWriter& w) {
  w.end_object();
  w.end_object();
}

bool write_event(const MetricEvent& event, JsonWriter& w) {
  return std::visit(Overloaded{
                        [&](const InterventionApplied& e) {
                          begin_event("InterventionApplied", e, w);
                          w.key("detection_kinds");
                          w.begin_array();
                          for (const std::string& kind : e.detection_kinds) w.string(kind);
                          w.end_array();
                          w.key("outcome");
                          w.string(outcome_name(e.outcome));
                          if (e.downgraded_from) {
                            w.key("downgraded_from");
                            if (!write_intervention_json(*e.downgraded_from, w)) return false;
                          }
                          end_event(w);
                          return true;
                        },
                        [&](const ToolPrevented& e) {
                          begin_event("ToolPrevented", e, w);
                          w.key("reason");
                          w.string(e.reason);
                          end_event(w);
                          return true;
                        },
                        [&](const RetryPerformed& e) {
                          begin_event("RetryPerformed", e, w);
                          w.key("delay_ms");
                          w.uint64(e.delay_ms);
                          w.key("attempt");
                          w.uint64(e.attempt);
                          end_event(w);
                          return true;
                        },
                        [&](const RecoverySuccessful& e) {
                          begin_event("RecoverySuccessful", e, w);
                          w.key("duration_ms");
                          w.uint64(e.duration_ms);
                          end_event(w);
                          return true;
                        },
                    },
                    event);
}

}  // namespace

RecoveryMetrics::RecoveryMetrics(tarnwick_support::Uuid execution_id)
    : RecoveryMetrics(execution_id, tarnwick_support::UtcTimestamp::now()) {}

RecoveryMetrics::RecoveryMetrics(tarnwick_support::Uuid execution_id,
                                 tarnwick_support::UtcTimestamp started_at)
    : execution_id_(execution_id), started_at_(started_at) {}

void RecoveryMetrics::record_event(MetricEvent event) {
  std::visit(Overloaded{
                 [&](const InterventionApplied& e) {
                   ++intervention_count_;
                   for (const std::string& kind : e.detection_kinds) ++detection_breakdown_[kind];
                 },
                 [&](const ToolPrevented&) { ++prevented_calls_; },
                 [&](const RetryPerformed&) {},
                 [&](const RecoverySuccessful& e) { recovery_time_ms_ = e.duration_ms; },
             },
             event);
  events_.push_back(std::move(event));
}

std::string RecoveryMetrics::to_json() const {
  std::string out;
  JsonWriter w(&out, /*pretty=*/true);
  w.begin_object();
  w.key("execution_id");
  w.string(execution_id_.to_string());
  w.key("started_at");
  w.string(started_at_.to_rfc3339());
  w.key("runtime_ms");
  w.uint64(runtime_ms_);
  w.key("intervention_count");
  w.uint64(intervention_count_);
  w.key("recovery_time_ms");
  w.uint64(recovery_time_ms_);
  w.key("prevented_calls");
  w.uint64(prevented_calls_);
  w.key("loop_duration_ms");
  w.uint64(loop_duration_ms_);
  w.key("detection_breakdown");
  // The breakdown's order is free; sorted keys keep the document stable.
  std::vector<const std::pair<const std::string, uint64_t>*> kinds;
  kinds.reserve(detection_breakdown_.size());
  for (const auto& entry : detection_breakdown_) kinds.push_back(&entry);
  std::sort(kinds.begin(), kinds.end(), [](auto* a, auto* b) { return a->first < b->first; });
  w.begin_object();
  for (const auto* entry : kinds) {
    w.key(entry->first);
    w.uint64(entry->second);
  }
  w.end_object();
  w.key("events");
  w.begin_array();
  for (const MetricEvent& event : events_) {
    if (!write_event(event, w)) return std::string();
  }
  w.end_array();
  w.end_object();
  return out;
}

}  // namespace tarnwick_core

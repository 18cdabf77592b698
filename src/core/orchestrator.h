// File: orchestrator.h
//
// The Orchestrator takes each tool call through observation, policy and
// history: it runs the detectors over the call and the window of earlier
// calls, lets the policy choose an intervention, fits it to the adapter's
// capabilities and remembers the call. It has no locks: process and
// record_intervention_outcome need exclusive access.
//
//   auto orchestrator = tarnwick_core::Orchestrator::from_yaml(policy_yaml);
//   if (!orchestrator) return orchestrator.error();  // e.g. "Unknown action type: retry"
//   ProcessResult r = orchestrator->process(
//       ToolCallEvent::started("run-1", 0, "search", args), capabilities);

#ifndef TARNWICK_CORE_ORCHESTRATOR_H_
#define TARNWICK_CORE_ORCHESTRATOR_H_

#include <cstddef>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/intervention.h"
#include "core/metrics.h"
#include "core/policy_engine.h"
#include "observation/detection.h"
#include "observation/event.h"
#include "observation/history.h"
#include "observation/pipeline.h"
#include "observation/report.h"

namespace tarnwick_core {

struct OrchestratorConfig {
  size_t history_capacity = 100;
  bool exact_enabled = true;    // adds the exact detector
  bool history_enabled = true;  // adds the history detector and, after it, the semantic one
};

// The result of one processed call. Both are absent when no detector reported
// anything; otherwise the report is present and the intervention is the
// downgraded choice of the policy, if one matched.
struct ProcessResult {
  std::optional<Intervention> intervention;
  std::optional<tarnwick_observation::DetectionReport> report;
};

class Orchestrator {
 public:
  // create() with the default configuration and no extra detectors.
  static std::expected<Orchestrator, std::string> from_yaml(std::string_view policy_yaml);

  // Builds, in this order: the policy engine (an invalid document fails with
  // the PolicyError's display text and nothing else is built), the detectors
  // (exact; history then semantic; then `extra_detectors` in order), a fresh
  // execution id, the pipeline, the history store and the metrics.
  static std::expected<Orchestrator, std::string> create(
      OrchestratorConfig config, std::string_view policy_yaml,
      std::vector<std::unique_ptr<tarnwick_observation::Detector>> extra_detectors);

  // Observes `event` against the earlier calls, chooses and downgrades an
  // intervention when there are detections, then adds the event to the
  // history in every case. Never fails; blocks for the semantic detector's
  // request when it is present.
  ProcessResult process(tarnwick_observation::ToolCallEvent event,
                        const AdapterCapabilities& capabilities);

  // Records an InterventionApplied metric event for `report` (any
  // orchestrator's), stamped with the report's time and this orchestrator's
  // execution id.
  void record_intervention_outcome(const tarnwick_observation::DetectionReport& report,
                                   InterventionOutcome outcome,
                                   std::optional<Intervention> downgraded_from);

  const RecoveryMetrics& metrics() const { return metrics_; }
  const tarnwick_support::Uuid& execution_id() const { return pipeline_.execution_id; }
  const OrchestratorConfig& config() const { return config_; }
  const PolicyEngine& policy_engine() const { return policy_engine_; }
  const tarnwick_observation::HistoryStore& history() const { return *history_; }
  // The detectors' names in the order they run.
  std::vector<std::string_view> detector_names() const;

 private:
  Orchestrator(tarnwick_observation::ObservationPipeline pipeline, PolicyEngine policy_engine,
               RecoveryMetrics metrics, OrchestratorConfig config,
               std::unique_ptr<tarnwick_observation::InMemoryHistoryStore> history);

  tarnwick_observation::ObservationPipeline pipeline_;
  PolicyEngine policy_engine_;
  RecoveryMetrics metrics_;
  OrchestratorConfig config_;
  std::unique_ptr<tarnwick_observation::HistoryStore> history_;
  // The same store as history_, through which the detectors read the window
  // in place instead of a copy of it.
  const tarnwick_observation::InMemoryHistoryStore* window_;
};

}  // namespace tarnwick_core

#endif  // TARNWICK_CORE_ORCHESTRATOR_H_

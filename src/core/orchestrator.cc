#include "core/orchestrator.h"

#include <utility>

#include "observation/semantic.h"

namespace tarnwick_core {

namespace obs = tarnwick_observation;

Orchestrator::Orchestrator(obs::ObservationPipeline pipeline, PolicyEngine policy_engine,
                           RecoveryMetrics metrics, OrchestratorConfig config,
                           std::unique_ptr<obs::InMemoryHistoryStore> history)
    : pipeline_(std::move(pipeline)),
      policy_engine_(std::move(policy_engine)),
      metrics_(std::move(metrics)),
      config_(config),
      window_(history.get()) {
  history_ = std::move(history);
}

std::expected<Orchestrator, std::string> Orchestrator::from_yaml(std::string_view policy_yaml) {
  return create(OrchestratorConfig{}, policy_yaml, {});
}

std::expected<Orchestrator, std::string> Orchestrator::create(
    OrchestratorConfig config, std::string_view policy_yaml,
    std::vector<std::unique_ptr<obs::Detector>> extra_detectors) {
  auto engine = PolicyEngine::create(policy_yaml);
  if (!engine) return std::unexpected(engine.error().to_string());

  obs::ObservationPipeline pipeline;
  if (config.exact_enabled) {
    pipeline.detectors.push_back(std::make_unique<obs::ExactDetector>(
        std::vector<std::string>{}, /*ignore_args=*/false, /*auto_infer=*/true));
  }
  if (config.history_enabled) {
    pipeline.detectors.push_back(std::make_unique<obs::HistoryDetector>());
    pipeline.detectors.push_back(
        std::make_unique<obs::SemanticDetector>(obs::SemanticSidecarClient{}));
  }
  for (auto& detector : extra_detectors) pipeline.detectors.push_back(std::move(detector));

  const tarnwick_support::Uuid execution_id = tarnwick_support::Uuid::new_v4();
  pipeline.flags =
      obs::DetectorFlags{config.exact_enabled, config.history_enabled, config.history_enabled};
  pipeline.execution_id = execution_id;
  auto history = std::make_unique<obs::InMemoryHistoryStore>(config.history_capacity);
  RecoveryMetrics metrics(execution_id);
  return Orchestrator(std::move(pipeline), std::move(*engine), std::move(metrics), config,
                      std::move(history));
}

ProcessResult Orchestrator::process(obs::ToolCallEvent event,
                                    const AdapterCapabilities& capabilities) {
  // The report takes over `event`; the history keeps a copy made beforehand,
  // with the arguments as given.
  obs::ToolCallEvent remembered = event;
  obs::DetectionReport report = pipeline_.observe(std::move(event), window_->view());

  ProcessResult result;
  if (!report.detections.empty()) {
    if (std::optional<Intervention> chosen = policy_engine_.evaluate(report)) {
      result.intervention = capabilities.downgrade(*chosen).first;
    }
    result.report = std::move(report);
  }
  history_->push(std::move(remembered));
  return result;
}

void Orchestrator::record_intervention_outcome(const obs::DetectionReport& report,
                                               InterventionOutcome outcome,
                                               std::optional<Intervention> downgraded_from) {
  std::vector<std::string> kinds;
  kinds.reserve(report.detections.size());
  for (const obs::Detection& d : report.detections) kinds.emplace_back(obs::kind(d));
  metrics_.record_event(InterventionApplied{metrics_.execution_id(), report.timestamp,
                                            std::move(kinds), outcome, std::move(downgraded_from)});
}

std::vector<std::string_view> Orchestrator::detector_names() const {
  std::vector<std::string_view> names;
  names.reserve(pipeline_.detectors.size());
  for (const auto& detector : pipeline_.detectors) names.push_back(detector->name());
  return names;
}

}  // namespace tarnwick_core

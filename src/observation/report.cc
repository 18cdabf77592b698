#include "observation/report.h"

#include <utility>

namespace tarnwick_observation {
namespace {

struct Rating {
  Severity level;
  float confidence;
};

struct RateDetection {
  Rating operator()(const ExactRepeat& d) const {
    if (d.count <= 2) return {Severity::kLow, 1.0f};
    if (d.count <= 5) return {Severity::kMedium, 1.0f};
    return {Severity::kHigh, 1.0f};
  }
  Rating operator()(const SemanticRepeat& d) const { return {Severity::kMedium, d.confidence}; }
  Rating operator()(const RuleViolation&) const { return {Severity::kHigh, 1.0f}; }
  Rating operator()(const ErrorPattern& d) const {
    return {d.count <= 5 ? Severity::kMedium : Severity::kHigh, 1.0f};
  }
};

}  // namespace

DetectionReport DetectionReport::create(Uuid execution_id, ToolCallEvent event,
                                        std::vector<Detection> detections, DetectorFlags flags) {
  DetectionReport report;
  for (const Detection& detection : detections) {
    const Rating rating = std::visit(RateDetection{}, detection);
    if (rating.level > report.severity) report.severity = rating.level;
    // A NaN confidence compares false and so never raises the maximum.
    if (rating.confidence > report.max_confidence) report.max_confidence = rating.confidence;
  }
  report.timestamp = UtcTimestamp::now();
  report.event = std::move(event);
  report.detections = std::move(detections);
  report.flags = flags;
  report.execution_id = execution_id;
  return report;
}

}  // namespace tarnwick_observation

// File: report.h
//
// A DetectionReport packs what the detectors found about one tool call: the
// event itself, the detections in detector order, the highest severity and
// confidence over them, when the report was built and which orchestrator
// built it. A report owns all its data and never changes once built.

#ifndef TARNWICK_OBSERVATION_REPORT_H_
#define TARNWICK_OBSERVATION_REPORT_H_

#include <cstdint>
#include <vector>

#include "observation/detection.h"
#include "observation/event.h"
#include "support/clock.h"
#include "support/uuid.h"

namespace tarnwick_observation {

// Which built-in detectors a pipeline was built with; carried into each
// report for its consumers.
struct DetectorFlags {
  bool exact_enabled = false;
  bool history_enabled = false;
  bool semantic_enabled = false;
  friend bool operator==(const DetectorFlags&, const DetectorFlags&) = default;
};

enum class Severity : uint8_t { kLow = 0, kMedium = 1, kHigh = 2 };

struct DetectionReport {
  ToolCallEvent event;
  std::vector<Detection> detections;  // in detector order
  DetectorFlags flags;
  float max_confidence = 0.0f;  // 0.0 when there are no detections
  Severity severity = Severity::kLow;
  UtcTimestamp timestamp;
  Uuid execution_id;

  // Builds a report stamped with the current UTC time. Exact repeats count
  // Low up to 2, Medium up to 5, High beyond; error patterns Medium up to 5,
  // High beyond; semantic repeats Medium; rule violations High. Every
  // detection has confidence 1.0 except semantic repeats, whose own
  // confidence counts (NaN never raises the maximum).
  static DetectionReport create(Uuid execution_id, ToolCallEvent event,
                                std::vector<Detection> detections, DetectorFlags flags);
};

}  // namespace tarnwick_observation

#endif  // TARNWICK_OBSERVATION_REPORT_H_

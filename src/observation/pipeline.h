// File: pipeline.h
//
// The observation pipeline runs its detectors, in list order, over one event
// and the history before it, and packs their findings into a DetectionReport
// stamped with the pipeline's execution id. It cannot fail and never changes
// after it is built; its owner fills the fields directly.

#ifndef TARNWICK_OBSERVATION_PIPELINE_H_
#define TARNWICK_OBSERVATION_PIPELINE_H_

#include <memory>
#include <span>
#include <vector>

#include "observation/detection.h"
#include "observation/event.h"
#include "observation/report.h"
#include "support/uuid.h"

namespace tarnwick_observation {

struct ObservationPipeline {
  std::vector<std::unique_ptr<Detector>> detectors;  // run in this order
  DetectorFlags flags;
  Uuid execution_id;  // stamped on every report

  // Takes over `event`; `history` is borrowed, oldest first. Detectors that
  // find nothing leave no entry, so the report may hold fewer detections than
  // there are detectors.
  DetectionReport observe(ToolCallEvent event, std::span<const ToolCallEvent> history) const;
};

}  // namespace tarnwick_observation

#endif  // TARNWICK_OBSERVATION_PIPELINE_H_

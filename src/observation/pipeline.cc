#include "observation/pipeline.h"

#include <utility>

namespace tarnwick_observation {

DetectionReport ObservationPipeline::observe(ToolCallEvent event,
                                             std::span<const ToolCallEvent> history) const {
  std::vector<Detection> detections;
  detections.reserve(detectors.size());
  for (const auto& detector : detectors) {
    if (auto detection = detector->detect(event, history)) {
      detections.push_back(std::move(*detection));
    }
  }
  return DetectionReport::create(execution_id, std::move(event), std::move(detections), flags);
}

}  // namespace tarnwick_observation

#include "observation/pipeline.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace tarnwick_observation {
namespace {

// Reports a fixed detection, or nothing.
class FixedDetector final : public Detector {
 public:
  explicit FixedDetector(std::optional<Detection> result) : result_(std::move(result)) {}
  std::string_view name() const override { return "fixed"; }
  std::optional<Detection> detect(const ToolCallEvent&,
                                  std::span<const ToolCallEvent>) const override {
    return result_;
  }

 private:
  std::optional<Detection> result_;
};

ObservationPipeline Pipeline(Uuid id) {
  ObservationPipeline pipeline;
  pipeline.detectors.push_back(
      std::make_unique<ExactDetector>(std::vector<std::string>{}, false, true));
  pipeline.detectors.push_back(std::make_unique<HistoryDetector>());
  pipeline.detectors.push_back(std::make_unique<FixedDetector>(std::nullopt));
  pipeline.detectors.push_back(std::make_unique<FixedDetector>(SemanticRepeat{"search", 0.85f}));
  pipeline.detectors.push_back(std::make_unique<FixedDetector>(RuleViolation{"r", "d"}));
  pipeline.flags = DetectorFlags{true, true, false};
  pipeline.execution_id = id;
  return pipeline;
}

ToolCallEvent Error(uint8_t error_kind) {
  ToolCallEvent event = ToolCallEvent::started("t", 0, "search", JsonValue());
  event.payload = ToolErrorPayload{error_kind, 0, "boom"};
  return event;
}

TEST(ObservationPipeline, WithoutDetectorsReportsNothing) {
  ObservationPipeline pipeline;
  DetectionReport report = pipeline.observe(ToolCallEvent::started("t", 0, "x", JsonValue()), {});
  EXPECT_TRUE(report.detections.empty());
  EXPECT_EQ(report.severity, Severity::kLow);
  EXPECT_EQ(report.max_confidence, 0.0f);
}

TEST(ObservationPipeline, KeepsDetectorOrderAndSkipsEmptyResults) {
  const ObservationPipeline pipeline = Pipeline(Uuid::new_v4());
  const std::vector<ToolCallEvent> history = {Error(4), Error(4)};
  const ToolCallEvent event = Error(4);
  DetectionReport report = pipeline.observe(event, history);
  const std::vector<Detection> expected = {ExactRepeat{"search", 3}, ErrorPattern{3, 4},
                                           SemanticRepeat{"search", 0.85f},
                                           RuleViolation{"r", "d"}};
  EXPECT_EQ(report.detections, expected);
  EXPECT_EQ(report.event, event);
  EXPECT_EQ(report.flags, (DetectorFlags{true, true, false}));
  EXPECT_EQ(report.severity, Severity::kHigh);
  EXPECT_EQ(report.max_confidence, 1.0f);
}

TEST(ObservationPipeline, StampsItsExecutionIdOnEveryReport) {
  const ObservationPipeline first = Pipeline(Uuid::new_v4());
  const ObservationPipeline second = Pipeline(Uuid::new_v4());
  const ToolCallEvent event = ToolCallEvent::started("t", 0, "search", JsonValue());
  DetectionReport a = first.observe(event, {});
  DetectionReport b = first.observe(event, {});
  DetectionReport c = second.observe(event, {});
  EXPECT_EQ(a.execution_id, first.execution_id);
  EXPECT_EQ(b.execution_id, first.execution_id);
  EXPECT_EQ(c.execution_id, second.execution_id);
  EXPECT_NE(a.execution_id, c.execution_id);
}

}  // namespace
}  // namespace tarnwick_observation

#include "observation/report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace tarnwick_observation {
namespace {

struct RatingCase {
  std::string name;
  std::vector<Detection> detections;
  Severity severity;
  float confidence;
};

TEST(DetectionReport, TakesHighestSeverityAndConfidence) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<RatingCase> cases = {
      {"no detections", {}, Severity::kLow, 0.0f},
      {"exact 1", {ExactRepeat{"t", 1}}, Severity::kLow, 1.0f},
      {"exact 2", {ExactRepeat{"t", 2}}, Severity::kLow, 1.0f},
      {"exact 3", {ExactRepeat{"t", 3}}, Severity::kMedium, 1.0f},
      {"exact 5", {ExactRepeat{"t", 5}}, Severity::kMedium, 1.0f},
      {"exact 6", {ExactRepeat{"t", 6}}, Severity::kHigh, 1.0f},
      {"semantic", {SemanticRepeat{"t", 0.85f}}, Severity::kMedium, 0.85f},
      {"semantic above one", {SemanticRepeat{"t", 1.5f}}, Severity::kMedium, 1.5f},
      {"semantic negative", {SemanticRepeat{"t", -0.5f}}, Severity::kMedium, 0.0f},
      {"semantic NaN", {SemanticRepeat{"t", nan}}, Severity::kMedium, 0.0f},
      {"NaN after a real confidence",
       {SemanticRepeat{"t", 0.4f}, SemanticRepeat{"t", nan}},
       Severity::kMedium,
       0.4f},
      {"rule violation", {RuleViolation{"r", "d"}}, Severity::kHigh, 1.0f},
      {"error pattern 1", {ErrorPattern{1, 0}}, Severity::kMedium, 1.0f},
      {"error pattern 5", {ErrorPattern{5, 0}}, Severity::kMedium, 1.0f},
      {"error pattern 6", {ErrorPattern{6, 0}}, Severity::kHigh, 1.0f},
      {"exact 1 and semantic 0.85",
       {ExactRepeat{"t", 1}, SemanticRepeat{"t", 0.85f}},
       Severity::kMedium,
       1.0f},
      {"high first is kept", {ExactRepeat{"t", 9}, ErrorPattern{1, 0}}, Severity::kHigh, 1.0f},
  };
  for (const RatingCase& c : cases) {
    DetectionReport report = DetectionReport::create(
        Uuid(), ToolCallEvent::started("t", 0, "x", JsonValue()), c.detections, DetectorFlags{});
    EXPECT_EQ(report.severity, c.severity) << c.name;
    EXPECT_EQ(report.max_confidence, c.confidence) << c.name;
  }
}

TEST(DetectionReport, StoresItsInputsUnchanged) {
  const Uuid id = Uuid::new_v4();
  const ToolCallEvent event = ToolCallEvent::started("t", 3, "x", JsonValue(1));
  const std::vector<Detection> detections = {ErrorPattern{2, 1}, ExactRepeat{"x", 1}};
  const DetectorFlags flags{true, false, true};
  const UtcTimestamp before = UtcTimestamp::now();
  DetectionReport report = DetectionReport::create(id, event, detections, flags);
  EXPECT_EQ(report.execution_id, id);
  EXPECT_EQ(report.event, event);
  EXPECT_EQ(report.detections, detections);
  EXPECT_EQ(report.flags, flags);
  EXPECT_GE(report.timestamp, before);
  EXPECT_LE(report.timestamp, UtcTimestamp::now());
}

}  // namespace
}  // namespace tarnwick_observation

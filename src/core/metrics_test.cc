#include "core/metrics.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnwick_core {
namespace {

using tarnwick_support::UtcTimestamp;
using tarnwick_support::Uuid;

Uuid fixed_uuid() {
  return Uuid(std::array<uint8_t, 16>{0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc, 0x4d, 0xef, 0x80, 0x01,
                                      0x02, 0x03, 0x04, 0x05, 0x06, 0x07});
}

InterventionApplied applied(std::vector<std::string> kinds,
                            std::optional<Intervention> downgraded_from = std::nullopt) {
  return InterventionApplied{fixed_uuid(), UtcTimestamp{1700000000, 0}, std::move(kinds),
                             InterventionOutcome::kApplied, std::move(downgraded_from)};
}

TEST(RecoveryMetricsCounters, EachVariantChangesItsCounter) {
  RecoveryMetrics m(fixed_uuid());
  m.record_event(applied({"exact_repeat", "exact_repeat", "error_pattern"}));
  EXPECT_EQ(m.intervention_count(), 1u);
  EXPECT_EQ(m.detection_breakdown().at("exact_repeat"), 2u);
  EXPECT_EQ(m.detection_breakdown().at("error_pattern"), 1u);

  m.record_event(applied({}));  // no kinds: only the count moves
  EXPECT_EQ(m.intervention_count(), 2u);
  EXPECT_EQ(m.detection_breakdown().size(), 2u);

  m.record_event(RetryPerformed{fixed_uuid(), UtcTimestamp{}, 100, 2});
  EXPECT_EQ(m.intervention_count(), 2u);
  EXPECT_EQ(m.prevented_calls(), 0u);
  EXPECT_EQ(m.recovery_time_ms(), 0u);

  m.record_event(ToolPrevented{fixed_uuid(), UtcTimestamp{}, "blocked"});
  EXPECT_EQ(m.prevented_calls(), 1u);

  // The latest recovery time replaces the previous one.
  m.record_event(RecoverySuccessful{fixed_uuid(), UtcTimestamp{}, 300});
  m.record_event(RecoverySuccessful{fixed_uuid(), UtcTimestamp{}, 100});
  EXPECT_EQ(m.recovery_time_ms(), 100u);

  EXPECT_EQ(m.events().size(), 6u);
  EXPECT_TRUE(std::holds_alternative<RetryPerformed>(m.events()[2]));
  EXPECT_EQ(m.runtime_ms(), 0u);
  EXPECT_EQ(m.loop_duration_ms(), 0u);
}

TEST(RecoveryMetricsJson, FreshRecord) {
  RecoveryMetrics m(fixed_uuid(), UtcTimestamp{1700000000, 123000000});
  EXPECT_EQ(m.to_json(), R"({
  "execution_id": "12345678-9abc-4def-8001-020304050607",
  "started_at": "2023-11-14T22:13:20.123Z",
  "runtime_ms": 0,
  "intervention_count": 0,
  "recovery_time_ms": 0,
  "prevented_calls": 0,
  "loop_duration_ms": 0,
  "detection_breakdown": {},
  "events": []
})");
}

TEST(RecoveryMetricsJson, GoldenDocumentWithEveryVariant) {
  RecoveryMetrics m(fixed_uuid(), UtcTimestamp{1700000000, 0});
  m.record_event(applied({"exact_repeat", "semantic_repeat"}, Intervention{Retry{0}}));
  m.record_event(InterventionApplied{fixed_uuid(),
                                     UtcTimestamp{1700000001, 123456000},
                                     {},
                                     InterventionOutcome::kUnsupported,
                                     std::nullopt});
  m.record_event(ToolPrevented{fixed_uuid(), UtcTimestamp{1700000002, 123456789}, "a \"b\"\n"});
  m.record_event(RetryPerformed{fixed_uuid(), UtcTimestamp{1700000003, 0}, 250, 3});
  m.record_event(RecoverySuccessful{fixed_uuid(), UtcTimestamp{1700000004, 0}, 42});
  EXPECT_EQ(m.to_json(), R"({
  "execution_id": "12345678-9abc-4def-8001-020304050607",
  "started_at": "2023-11-14T22:13:20Z",
  "runtime_ms": 0,
  "intervention_count": 2,
  "recovery_time_ms": 42,
  "prevented_calls": 1,
  "loop_duration_ms": 0,
  "detection_breakdown": {
    "exact_repeat": 1,
    "semantic_repeat": 1
  },
  "events": [
    {
      "InterventionApplied": {
        "execution_id": "12345678-9abc-4def-8001-020304050607",
        "timestamp": "2023-11-14T22:13:20Z",
        "detection_kinds": [
          "exact_repeat",
          "semantic_repeat"
        ],
        "outcome": "applied",
        "downgraded_from": {
          "Retry": {
            "delay_ms": 0
          }
        }
      }
    },
    {
      "InterventionApplied": {
        "execution_id": "12345678-9abc-4def-8001-020304050607",
        "timestamp": "2023-11-14T22:13:21.123456Z",
        "detection_kinds": [],
        "outcome": "unsupported"
      }
    },
    {
      "ToolPrevented": {
        "execution_id": "12345678-9abc-4def-8001-020304050607",
        "timestamp": "2023-11-14T22:13:22.123456789Z",
        "reason": "a \"b\"\n"
      }
    },
    {
      "RetryPerformed": {
        "execution_id": "12345678-9abc-4def-8001-020304050607",
        "timestamp": "2023-11-14T22:13:23Z",
        "delay_ms": 250,
        "attempt": 3
      }
    },
    {
      "RecoverySuccessful": {
        "execution_id": "12345678-9abc-4def-8001-020304050607",
        "timestamp": "2023-11-14T22:13:24Z",
        "duration_ms": 42
      }
    }
  ]
})");
}

TEST(RecoveryMetricsJson, ContinueDowngradeIsAStringAndCustomEmptiesTheDocument) {
  RecoveryMetrics m(fixed_uuid(), UtcTimestamp{1700000000, 0});
  m.record_event(applied({}, Intervention{Continue{}}));
  EXPECT_NE(m.to_json().find(R"("downgraded_from": "Continue")"), std::string::npos);
  m.record_event(applied({"exact_repeat"}, Intervention{Custom{"c", nullptr}}));
  EXPECT_EQ(m.to_json(), "");
  // The event is still counted.
  EXPECT_EQ(m.intervention_count(), 2u);
}

}  // namespace
}  // namespace tarnwick_core

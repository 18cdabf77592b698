// Two verifier handles used from two threads at once share nothing: each
// gives exactly the verdicts and last errors it gives when used alone. Run
// under ThreadSanitizer this also shows that no hidden state (the regular
// expression engine, the YAML reader) is shared without synchronisation.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "vantorell.h"

namespace {

constexpr char kConfig[] =
    "strictness: strict\n"
    "max_repeats: 3\n"
    "rules:\n"
    "  - type: regex\n"
    "    pattern: '^\\{.*\\}$'\n"
    "  - type: json_schema\n"
    "    required: [path]\n";

struct Outcome {
  uint8_t verdict;
  std::string error;
  friend bool operator==(const Outcome&, const Outcome&) = default;
};

// A fixed sequence of calls with passes, rule rejections and loops.
std::vector<Outcome> drive(vantorell_state_t* state, int salt) {
  std::vector<Outcome> outcomes;
  for (int i = 0; i < 600; ++i) {
    const std::string tool = "tool" + std::to_string((i + salt) % 5);
    const std::string args = i % (7 + salt) == 0 ? "not json"
                             : i % 11 == 0       ? R"({"other":1})"
                                           : R"({"path":)" + std::to_string(i % (4 + salt)) + "}";
    const uint8_t verdict =
        vantorell_verify(state, tool.data(), tool.size(), args.data(), args.size());
    const char* error = vantorell_get_last_error(state);
    outcomes.push_back({verdict, error == nullptr ? "" : error});
  }
  return outcomes;
}

std::vector<Outcome> drive_alone(int salt) {
  vantorell_state_t* state = vantorell_init(kConfig, sizeof kConfig - 1);
  std::vector<Outcome> outcomes = drive(state, salt);
  vantorell_free(state);
  return outcomes;
}

TEST(VantorellConcurrencyTest, TwoHandlesOnTwoThreadsBehaveAsIfAlone) {
  const std::vector<Outcome> alone_a = drive_alone(0);
  const std::vector<Outcome> alone_b = drive_alone(3);
  ASSERT_NE(alone_a, alone_b);  // the two sequences differ, so a mix-up would show

  for (int round = 0; round < 5; ++round) {
    std::vector<Outcome> seen_a;
    std::vector<Outcome> seen_b;
    // Handles are created and freed on the threads that use them, so that
    // creation runs concurrently too.
    std::thread a([&] { seen_a = drive_alone(0); });
    std::thread b([&] { seen_b = drive_alone(3); });
    a.join();
    b.join();
    EXPECT_EQ(seen_a, alone_a);
    EXPECT_EQ(seen_b, alone_b);
  }
}

TEST(VantorellConcurrencyTest, HandleHandedBetweenThreadsKeepsItsHistory) {
  vantorell_state_t* state = vantorell_init(kConfig, sizeof kConfig - 1);
  ASSERT_NE(state, nullptr);
  // One thread at a time, joined in between: the second thread sees the
  // calls the first one recorded, so the third identical call is a loop.
  for (int i = 0; i < 3; ++i) {
    uint8_t verdict = 0;
    std::thread([&] { verdict = vantorell_verify(state, "read", 4, R"({"path":1})", 10); }).join();
    EXPECT_EQ(verdict, i < 2 ? VANTORELL_PASS : VANTORELL_REJECT_STRICT);
  }
  EXPECT_STREQ(vantorell_get_last_error(state), "Agent appears to be looping on tool read");
  vantorell_free(state);
}

}  // namespace

#include "vantorell/history.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace vantorell {
namespace {

constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();

struct Call {
  std::string tool;
  std::string args;
};

struct LoopCase {
  std::string name;
  uint64_t max_repeats;
  bool ignore_args;
  std::optional<uint64_t> history_window;
  std::vector<Call> calls;
  std::vector<bool> passes;  // one per call
};

const Call kX{"search", R"({"q":"x"})"};
const Call kY{"search", R"({"q":"y"})"};
const Call kZ{"search", R"({"q":"z"})"};
const Call kA{"a", "{}"};
const Call kB{"b", "{}"};

std::vector<Call> others(int n) {
  std::vector<Call> calls;
  for (int i = 0; i < n; ++i) calls.push_back({"other" + std::to_string(i), "{}"});
  return calls;
}

std::vector<Call> concat(std::vector<std::vector<Call>> parts) {
  std::vector<Call> out;
  for (auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::vector<LoopCase> LoopCases() {
  return {
      {"ZeroRepeatsRefusesEverything", 0, false, std::nullopt, {kX, kA}, {false, false}},
      {"OneRepeatRefusesEverything", 1, false, std::nullopt, {kX, kA}, {false, false}},
      {"ZeroRepeatsIgnoresWideWindow", 0, false, 50, {kX, kA}, {false, false}},
      {"ThirdIdenticalCallRefused",
       3,
       false,
       std::nullopt,
       {kX, kX, kX, kX},
       {true, true, false, false}},
      {"AlternatingCallsRefusedOnFifth",
       3,
       false,
       std::nullopt,
       {kA, kB, kA, kB, kA},
       {true, true, true, true, false}},
      {"DifferentArgumentsAreDifferentCalls",
       3,
       false,
       std::nullopt,
       {kX, kY, kZ},
       {true, true, true}},
      {"IgnoreArgsComparesToolOnly", 3, true, std::nullopt, {kX, kY, kZ}, {true, true, false}},
      {"ArgumentsComparedAsRawText",
       3,
       false,
       std::nullopt,
       {{"t", R"({"a":1})"}, {"t", R"({"a": 1})"}, {"t", R"({ "a":1})"}},
       {true, true, true}},
      {"EmptyToolNameIsOrdinary",
       3,
       false,
       std::nullopt,
       {{"", ""}, {"", ""}, {"", ""}},
       {true, true, false}},
      {"OldMatchesLeaveTheWindow",
       3,
       false,
       std::nullopt,
       concat({{kX, kX}, others(5), {kX}}),
       {true, true, true, true, true, true, true, true}},
      {"NarrowHistoryWindowDoesNotNarrow",
       3,
       false,
       4,
       concat({{kX, kX}, others(3), {kX}}),
       {true, true, true, true, true, false}},
      {"WideHistoryWindowWidens",
       3,
       false,
       10,
       concat({{kX, kX}, others(7), {kX}}),
       {true, true, true, true, true, true, true, true, true, false}},
      {"DefaultWindowWouldLetThatThrough",
       3,
       false,
       std::nullopt,
       concat({{kX, kX}, others(7), {kX}}),
       {true, true, true, true, true, true, true, true, true, true}},
      {"RefusedCallsAreNotRecorded",
       3,
       false,
       std::nullopt,
       concat({{kX, kX, kX, kX}, others(5), {kX}}),
       {true, true, false, false, true, true, true, true, true, true}},
      {"HugeMaxRepeatsNeverRefuses",
       kMax,
       false,
       std::nullopt,
       {kX, kX, kX, kX, kX},
       {true, true, true, true, true}},
  };
}

class LoopGate : public testing::TestWithParam<LoopCase> {};

TEST_P(LoopGate, RefusesExactlyTheExpectedCalls) {
  const LoopCase& c = GetParam();
  ASSERT_EQ(c.calls.size(), c.passes.size());
  HistoryTracker tracker;
  for (size_t i = 0; i < c.calls.size(); ++i) {
    const Call& call = c.calls[i];
    const size_t before = tracker.size();
    auto result =
        tracker.check_loop(call.tool, call.args, c.ignore_args, c.max_repeats, c.history_window);
    if (c.passes[i]) {
      EXPECT_EQ(result, std::nullopt) << "call " << i;
    } else {
      ASSERT_TRUE(result.has_value()) << "call " << i;
      EXPECT_EQ(*result, "Agent appears to be looping on tool " + call.tool);
      EXPECT_EQ(tracker.size(), before) << "a refused call must not be recorded";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, LoopGate, testing::ValuesIn(LoopCases()),
                         [](const auto& info) { return info.param.name; });

struct WindowCase {
  uint64_t max_repeats;
  std::optional<uint64_t> history_window;
  uint64_t window;
};

class LoopWindow : public testing::TestWithParam<WindowCase> {};

TEST_P(LoopWindow, IsTwiceMaxRepeatsWidenedNeverNarrowedNeverWrapped) {
  const WindowCase& c = GetParam();
  EXPECT_EQ(loop_window(c.max_repeats, c.history_window), c.window);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoopWindow,
    testing::Values(WindowCase{3, std::nullopt, 6}, WindowCase{3, 4, 6}, WindowCase{3, 10, 10},
                    WindowCase{0, std::nullopt, 0}, WindowCase{0, 7, 7},
                    WindowCase{uint64_t{1} << 62, std::nullopt, uint64_t{1} << 63},
                    WindowCase{uint64_t{1} << 63, std::nullopt, kMax},
                    WindowCase{kMax, std::nullopt, kMax}, WindowCase{kMax, 5, kMax}));

// The gate as plainly stated: keep every recorded call, look back over the
// newest `window` of them.
class ReferenceGate {
 public:
  bool refuses(const Call& call, bool ignore_args, uint64_t max_repeats,
               std::optional<uint64_t> history_window) {
    const uint64_t window = loop_window(max_repeats, history_window);
    uint64_t count = 1;
    uint64_t examined = 0;
    for (auto it = all_.rbegin(); it != all_.rend() && examined < window; ++it, ++examined) {
      if (it->tool == call.tool && (ignore_args || it->args == call.args)) ++count;
    }
    if (count >= max_repeats) return true;
    all_.push_back(call);
    return false;
  }

 private:
  std::vector<Call> all_;
};

struct Settings {
  uint64_t max_repeats;
  bool ignore_args;
  std::optional<uint64_t> history_window;
};

class LoopGateAgreesWithReference : public testing::TestWithParam<Settings> {};

TEST_P(LoopGateAgreesWithReference, OverLongRandomRuns) {
  // Long runs over a few tools and arguments make the bounded storage wrap
  // around many times.
  const Settings& s = GetParam();
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> pick(0, 3);
  HistoryTracker tracker;
  ReferenceGate reference;
  for (int i = 0; i < 5000; ++i) {
    Call call{"t" + std::to_string(pick(rng)), "{\"a\":" + std::to_string(pick(rng)) + "}"};
    const bool expected = reference.refuses(call, s.ignore_args, s.max_repeats, s.history_window);
    const bool refused =
        tracker.check_loop(call.tool, call.args, s.ignore_args, s.max_repeats, s.history_window)
            .has_value();
    ASSERT_EQ(refused, expected) << "call " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, LoopGateAgreesWithReference,
                         testing::Values(Settings{2, false, std::nullopt},
                                         Settings{3, false, std::nullopt},
                                         Settings{3, true, std::nullopt}, Settings{3, false, 7},
                                         Settings{4, true, 13}, Settings{5, false, 1}));

TEST(HistoryTracker, KeepsOnlyTheWindowHoweverManyCalls) {
  HistoryTracker tracker;
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(tracker.check_loop("t" + std::to_string(i), "{}", false, 3, std::nullopt),
              std::nullopt);
  }
  EXPECT_EQ(tracker.size(), 6u);
}

TEST(HistoryTracker, HugeWindowDoesNotPreallocate) {
  // A window near 2^64 must only cost what is actually recorded.
  HistoryTracker tracker;
  EXPECT_EQ(tracker.check_loop("t", "{}", false, uint64_t{1} << 63, kMax), std::nullopt);
  EXPECT_EQ(tracker.size(), 1u);
}

TEST(HistoryTracker, ComparesBytesIncludingNul) {
  HistoryTracker tracker;
  const std::string a("a\0b", 3);
  const std::string b("a\0c", 3);
  EXPECT_EQ(tracker.check_loop(a, "", true, 3, std::nullopt), std::nullopt);
  EXPECT_EQ(tracker.check_loop(b, "", true, 3, std::nullopt), std::nullopt);
  EXPECT_EQ(tracker.check_loop(a, "", true, 3, std::nullopt), std::nullopt);
  auto refused = tracker.check_loop(a, "", true, 3, std::nullopt);
  ASSERT_TRUE(refused.has_value());
  EXPECT_EQ(*refused, "Agent appears to be looping on tool " + a);
}

}  // namespace
}  // namespace vantorell

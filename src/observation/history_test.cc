#include "observation/history.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnwick_observation {
namespace {

ToolCallEvent Numbered(uint64_t step, std::string_view thread = "t") {
  return ToolCallEvent::started(thread, step, "tool", JsonValue(static_cast<int64_t>(step)));
}

std::vector<uint64_t> Steps(const HistoryStore& store) {
  std::vector<uint64_t> steps;
  for (const ToolCallEvent& e : store.get_recent()) steps.push_back(e.step);
  return steps;
}

std::vector<uint64_t> Range(uint64_t first, uint64_t last) {
  std::vector<uint64_t> steps;
  for (uint64_t s = first; s <= last; ++s) steps.push_back(s);
  return steps;
}

struct WindowCase {
  size_t capacity;
  uint64_t pushes;
  std::vector<uint64_t> expected;  // steps held, oldest first
};

TEST(InMemoryHistoryStore, KeepsTheNewestEventsOldestFirst) {
  const std::vector<WindowCase> cases = {
      {100, 0, {}},
      {100, 99, Range(1, 99)},
      {100, 100, Range(1, 100)},
      {100, 101, Range(2, 101)},
      {100, 250, Range(151, 250)},
      {3, 7, {5, 6, 7}},
      {1, 4, {4}},
      {0, 0, {}},
      {0, 5, {}},
  };
  for (const WindowCase& c : cases) {
    InMemoryHistoryStore store(c.capacity);
    for (uint64_t step = 1; step <= c.pushes; ++step) store.push(Numbered(step));
    EXPECT_EQ(Steps(store), c.expected) << c.capacity << "/" << c.pushes;
    EXPECT_EQ(store.len(), c.expected.size()) << c.capacity << "/" << c.pushes;
    EXPECT_EQ(store.is_empty(), c.expected.empty()) << c.capacity << "/" << c.pushes;
  }
}

TEST(InMemoryHistoryStore, HoldsEveryThreadInOneWindowInArrivalOrder) {
  InMemoryHistoryStore store(100);
  store.push(Numbered(1, "run-a"));
  store.push(Numbered(2, "run-b"));
  store.push(Numbered(3, "run-a"));
  std::vector<std::string> threads;
  for (const ToolCallEvent& e : store.get_recent()) threads.push_back(e.thread_id);
  EXPECT_EQ(threads, (std::vector<std::string>{"run-a", "run-b", "run-a"}));
}

TEST(InMemoryHistoryStore, GetRecentReturnsIndependentCopies) {
  InMemoryHistoryStore store(2);
  for (uint64_t step = 1; step <= 3; ++step) store.push(Numbered(step));
  std::vector<ToolCallEvent> first = store.get_recent();
  const std::vector<ToolCallEvent> expected = first;
  first[0].arguments = JsonValue("changed");
  first[1].tool_name = "other";
  first.pop_back();
  EXPECT_EQ(store.get_recent(), expected);
  EXPECT_EQ(store.len(), 2u);
}

TEST(InMemoryHistoryStore, WorksThroughTheInterface) {
  std::unique_ptr<HistoryStore> store = std::make_unique<InMemoryHistoryStore>(2);
  EXPECT_TRUE(store->is_empty());
  store->push(Numbered(1));
  EXPECT_FALSE(store->is_empty());
  EXPECT_EQ(store->len(), 1u);
}

}  // namespace
}  // namespace tarnwick_observation

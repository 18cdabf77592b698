#include "python/borrow.h"

#include <gtest/gtest.h>

#include <optional>
#include <utility>
#include <vector>

namespace tarnwick_python {
namespace {

enum class Kind { kShared, kExclusive };

std::optional<BorrowGuard> take(BorrowState& state, Kind kind) {
  return kind == Kind::kShared ? BorrowGuard::shared(state) : BorrowGuard::exclusive(state);
}

struct ConflictCase {
  const char* name;
  std::vector<Kind> held;  // borrows taken first, all of which succeed
  Kind requested;
  bool granted;
};

TEST(BorrowStateTest, GrantsABorrowOnlyWhenItDoesNotConflictWithHeldOnes) {
  const ConflictCase cases[] = {
      {"free, shared", {}, Kind::kShared, true},
      {"free, exclusive", {}, Kind::kExclusive, true},
      {"readers share", {Kind::kShared, Kind::kShared}, Kind::kShared, true},
      {"a reader blocks a writer", {Kind::kShared}, Kind::kExclusive, false},
      {"a writer blocks a reader", {Kind::kExclusive}, Kind::kShared, false},
      {"a writer blocks a writer", {Kind::kExclusive}, Kind::kExclusive, false},
  };
  for (const ConflictCase& c : cases) {
    BorrowState state;
    std::vector<BorrowGuard> held;
    for (Kind k : c.held) {
      auto guard = take(state, k);
      ASSERT_TRUE(guard.has_value()) << c.name;
      held.push_back(std::move(*guard));
    }
    EXPECT_EQ(take(state, c.requested).has_value(), c.granted) << c.name;
    EXPECT_EQ(state.exclusively_held(), !c.held.empty() && c.held[0] == Kind::kExclusive)
        << c.name << ": a refused request must leave the state as it was";
  }
}

TEST(BorrowStateTest, EveryGuardGivesBackExactlyWhatItTook) {
  BorrowState state;
  {
    auto first = BorrowGuard::shared(state);
    auto second = BorrowGuard::shared(state);
    ASSERT_TRUE(first && second);
    BorrowGuard moved = std::move(*first);  // the moved-from guard releases nothing
    first.reset();
    EXPECT_FALSE(BorrowGuard::exclusive(state).has_value());
  }
  {
    auto writer = BorrowGuard::exclusive(state);
    ASSERT_TRUE(writer.has_value());
    EXPECT_TRUE(state.exclusively_held());
  }
  EXPECT_FALSE(state.exclusively_held());
  EXPECT_TRUE(BorrowGuard::exclusive(state).has_value());
}

}  // namespace
}  // namespace tarnwick_python

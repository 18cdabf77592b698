// File: borrow.h
//
// The borrow state of one Python-visible object: free, shared by any number
// of readers, or held exclusively by one caller. A guard holds one borrow
// and gives it back when destroyed, so a call releases what it took whether
// it returns or raises. The interpreter lock serialises all access.

#ifndef TARNWICK_PYTHON_BORROW_H_
#define TARNWICK_PYTHON_BORROW_H_

#include <cstdint>
#include <optional>

namespace tarnwick_python {

class BorrowState {
 public:
  bool exclusively_held() const { return readers_ < 0; }

 private:
  friend class BorrowGuard;
  int64_t readers_ = 0;  // -1: held exclusively; 0: free; n > 0: n readers
};

class BorrowGuard {
 public:
  // Fails when anyone holds `state`, reader or writer.
  static std::optional<BorrowGuard> exclusive(BorrowState& state) {
    if (state.readers_ != 0) return std::nullopt;
    state.readers_ = -1;
    return BorrowGuard(&state);
  }
  // Fails only when `state` is held exclusively.
  static std::optional<BorrowGuard> shared(BorrowState& state) {
    if (state.readers_ < 0) return std::nullopt;
    ++state.readers_;
    return BorrowGuard(&state);
  }

  BorrowGuard(BorrowGuard&& other) noexcept : state_(other.state_) { other.state_ = nullptr; }
  BorrowGuard(const BorrowGuard&) = delete;
  BorrowGuard& operator=(const BorrowGuard&) = delete;
  BorrowGuard& operator=(BorrowGuard&&) = delete;
  ~BorrowGuard() {
    if (state_ == nullptr) return;
    if (state_->readers_ < 0) {
      state_->readers_ = 0;
    } else {
      --state_->readers_;
    }
  }

 private:
  explicit BorrowGuard(BorrowState* state) : state_(state) {}
  BorrowState* state_;
};

}  // namespace tarnwick_python

#endif  // TARNWICK_PYTHON_BORROW_H_

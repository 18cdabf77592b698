#include "support/uuid.h"

#include <pthread.h>
#include <sys/random.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace tarnwick_support {

namespace {

// Random bytes are drawn from the kernel in blocks and handed out 16 at a
// time: one system call serves many identifiers. A forked child must never
// hand out the bytes its parent still holds, so a fork bumps the generation
// and every thread's block is discarded on its next use.
std::atomic<uint64_t> fork_generation{0};

void on_fork_child() { fork_generation.fetch_add(1, std::memory_order_relaxed); }

void fill_random(uint8_t* out, size_t size) {
  size_t got = 0;
  while (got < size) {
    ssize_t n = getrandom(out + got, size - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      // Without a random source no identifier can be trusted to be unique.
      std::fputs("tarnwick: getrandom failed\n", stderr);
      std::abort();
    }
    got += static_cast<size_t>(n);
  }
}

class RandomBlock {
 public:
  void take(uint8_t* out, size_t size) {
    static std::once_flag registered;
    std::call_once(registered, [] { pthread_atfork(nullptr, nullptr, &on_fork_child); });
    const uint64_t generation = fork_generation.load(std::memory_order_relaxed);
    if (generation != generation_ || used_ + size > sizeof bytes_) {
      fill_random(bytes_, sizeof bytes_);
      generation_ = generation;
      used_ = 0;
    }
    std::memcpy(out, bytes_ + used_, size);
    // Bytes handed out are not kept.
    std::memset(bytes_ + used_, 0, size);
    used_ += size;
  }

 private:
  uint8_t bytes_[512];
  size_t used_ = sizeof bytes_;  // empty until the first draw
  uint64_t generation_ = 0;
};

}  // namespace

Uuid Uuid::new_v4() {
  thread_local RandomBlock block;
  std::array<uint8_t, 16> b;
  block.take(b.data(), b.size());
  b[6] = static_cast<uint8_t>((b[6] & 0x0f) | 0x40);
  b[8] = static_cast<uint8_t>((b[8] & 0x3f) | 0x80);
  return Uuid(b);
}

std::string Uuid::to_string() const {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string s;
  s.reserve(36);
  for (size_t i = 0; i < bytes_.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) s.push_back('-');
    s.push_back(kHex[bytes_[i] >> 4]);
    s.push_back(kHex[bytes_[i] & 0xf]);
  }
  return s;
}

}  // namespace tarnwick_support

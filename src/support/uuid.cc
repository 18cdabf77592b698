#include "support/uuid.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace tarnwick_support {

Uuid Uuid::new_v4() {
  std::array<uint8_t, 16> b;
  size_t got = 0;
  while (got < b.size()) {
    ssize_t n = getrandom(b.data() + got, b.size() - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      // Without a random source no identifier can be trusted to be unique.
      std::fputs("tarnwick: getrandom failed\n", stderr);
      std::abort();
    }
    got += static_cast<size_t>(n);
  }
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

// File: clock.h
//
// UTC wall-clock timestamps with nanoseconds, the library's one clock, and
// their RFC 3339 text: "YYYY-MM-DDTHH:MM:SS[.fff|.ffffff|.fffffffff]Z", the
// fraction left out when the nanoseconds are 0 and otherwise as short as the
// value allows in steps of 3 digits.

#ifndef TARNWICK_SUPPORT_CLOCK_H_
#define TARNWICK_SUPPORT_CLOCK_H_

#include <cstdint>
#include <string>

namespace tarnwick_support {

struct UtcTimestamp {
  int64_t seconds = 0;  // since 1970-01-01T00:00:00Z
  uint32_t nanos = 0;   // 0..999'999'999

  // Reads the wall clock.
  static UtcTimestamp now();

  std::string to_rfc3339() const;

  friend bool operator==(const UtcTimestamp&, const UtcTimestamp&) = default;
  friend auto operator<=>(const UtcTimestamp&, const UtcTimestamp&) = default;
};

}  // namespace tarnwick_support

#endif  // TARNWICK_SUPPORT_CLOCK_H_

#include "support/clock.h"

#include <time.h>

#include <cstdio>

namespace tarnwick_support {

UtcTimestamp UtcTimestamp::now() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return UtcTimestamp{static_cast<int64_t>(ts.tv_sec), static_cast<uint32_t>(ts.tv_nsec)};
}

namespace {

// Days since 1970-01-01 to a proleptic Gregorian civil date.
void civil_from_days(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2 ? 1 : 0);
}

}  // namespace

std::string UtcTimestamp::to_rfc3339() const {
  int64_t days = seconds / 86400;
  int64_t rem = seconds % 86400;
  if (rem < 0) {
    rem += 86400;
    days -= 1;
  }
  int64_t year;
  unsigned month, day;
  civil_from_days(days, &year, &month, &day);
  char buf[64];
  int n = std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02u:%02u:%02u",
                        static_cast<long long>(year), month, day, static_cast<unsigned>(rem / 3600),
                        static_cast<unsigned>(rem / 60 % 60), static_cast<unsigned>(rem % 60));
  std::string s(buf, static_cast<size_t>(n));
  if (nanos != 0) {
    if (nanos % 1000000 == 0) {
      n = std::snprintf(buf, sizeof buf, ".%03u", nanos / 1000000);
    } else if (nanos % 1000 == 0) {
      n = std::snprintf(buf, sizeof buf, ".%06u", nanos / 1000);
    } else {
      n = std::snprintf(buf, sizeof buf, ".%09u", nanos);
    }
    s.append(buf, static_cast<size_t>(n));
  }
  s.push_back('Z');
  return s;
}

}  // namespace tarnwick_support

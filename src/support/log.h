// File: log.h
//
// Levelled log events (level, target, message) leave the library through one
// installed sink. No sink is installed by default, and emitting with no sink
// costs one atomic load: check log_enabled() before building a message.
//
//   if (tarnwick_support::log_enabled())
//     tarnwick_support::log_event(LogLevel::kWarn, "target", "message");

#ifndef TARNWICK_SUPPORT_LOG_H_
#define TARNWICK_SUPPORT_LOG_H_

#include <string_view>

namespace tarnwick_support {

enum class LogLevel { kError, kWarn, kInfo, kDebug, kTrace };

// "ERROR", "WARN", "INFO", "DEBUG", "TRACE".
std::string_view log_level_name(LogLevel level);

class LogSink {
 public:
  virtual ~LogSink() = default;
  // Receives one event. Called on the emitting thread; must not throw.
  virtual void log(LogLevel level, std::string_view target, std::string_view message) = 0;
};

// Installs `sink` (not owned; it must outlive its installation) and returns
// the previous one. nullptr uninstalls. Thread-safe.
LogSink* install_log_sink(LogSink* sink);

bool log_enabled();

// Hands the event to the installed sink, if any. Exceptions thrown by a sink
// are swallowed.
void log_event(LogLevel level, std::string_view target, std::string_view message);

}  // namespace tarnwick_support

#endif  // TARNWICK_SUPPORT_LOG_H_

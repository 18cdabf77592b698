#include "support/log.h"

#include <atomic>

namespace tarnwick_support {

namespace {
// The one piece of process-wide mutable state: where log events go.
std::atomic<LogSink*> g_sink{nullptr};
}  // namespace

std::string_view log_level_name(LogLevel level) {
  switch (level) {
    case LogLevel::kError: return "ERROR";
    case LogLevel::kWarn: return "WARN";
    case LogLevel::kInfo: return "INFO";
    case LogLevel::kDebug: return "DEBUG";
    case LogLevel::kTrace: return "TRACE";
  }
  return "INFO";
}

LogSink* install_log_sink(LogSink* sink) {
  return g_sink.exchange(sink, std::memory_order_acq_rel);
}

bool log_enabled() { return g_sink.load(std::memory_order_acquire) != nullptr; }

void log_event(LogLevel level, std::string_view target, std::string_view message) {
  LogSink* sink = g_sink.load(std::memory_order_acquire);
  if (sink == nullptr) return;
  try {
    sink->log(level, target, message);
  } catch (...) {
    // A failing sink must never disturb the code that logs.
  }
}

}  // namespace tarnwick_support

// File: log_bridge.h
//
// Forwards the library's log events to Python's `logging`: an event with
// target "a::b" goes to the logger "a.b" at the matching level (WARN as
// WARNING, INFO as INFO), its message unchanged. A failure inside logging is
// reported as unraisable and never reaches the code that logged.

#ifndef TARNWICK_PYTHON_LOG_BRIDGE_H_
#define TARNWICK_PYTHON_LOG_BRIDGE_H_

namespace tarnwick_python {

// Installs the forwarding sink for the whole process and gives the logger
// "tarnwick_observation.detection" a NullHandler, so that nothing is printed
// unless the host configures logging. False with an exception set on failure.
bool install_python_log_sink();

}  // namespace tarnwick_python

#endif  // TARNWICK_PYTHON_LOG_BRIDGE_H_

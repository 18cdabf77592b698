#include "python/log_bridge.h"

#include <string>
#include <string_view>

#include "python/holder.h"
#include "python/py_ref.h"
#include "python/python.h"
#include "support/log.h"

namespace tarnwick_python {

namespace {

using tarnwick_support::LogLevel;

constexpr const char* kDetectionLogger = "tarnwick_observation.detection";

int python_level(LogLevel level) {
  switch (level) {
    case LogLevel::kError: return 40;
    case LogLevel::kWarn: return 30;
    case LogLevel::kInfo: return 20;
    case LogLevel::kDebug: return 10;
    case LogLevel::kTrace: return 5;
  }
  return 20;
}

// "tarnwick_observation::detection" -> "tarnwick_observation.detection".
std::string logger_name(std::string_view target) {
  std::string name;
  name.reserve(target.size());
  for (size_t i = 0; i < target.size(); ++i) {
    if (target.compare(i, 2, "::") == 0) {
      name += '.';
      ++i;
    } else {
      name += target[i];
    }
  }
  return name;
}

PyObject* get_logger(std::string_view name) {
  PyRef logging(PyImport_ImportModule("logging"));
  if (!logging) return nullptr;
  return PyObject_CallMethod(logging.get(), "getLogger", "s#", name.data(),
                             static_cast<Py_ssize_t>(name.size()));
}

// False with an exception set when logging failed.
bool forward(LogLevel level, std::string_view target, std::string_view message) {
  PyRef logger(get_logger(logger_name(target)));
  if (!logger) return false;
  PyRef text(to_py_str(message));
  if (!text) return false;
  PyRef result(PyObject_CallMethod(logger.get(), "log", "iO", python_level(level), text.get()));
  return static_cast<bool>(result);
}

class PythonLogSink final : public tarnwick_support::LogSink {
 public:
  void log(LogLevel level, std::string_view target, std::string_view message) override {
    if (!Py_IsInitialized()) return;
    // The caller holds the interpreter lock inside process(); taking it again
    // keeps the sink safe for any other thread that logs.
    PyGILState_STATE gil = PyGILState_Ensure();
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    try {
      if (!forward(level, target, message)) PyErr_WriteUnraisable(nullptr);
    } catch (...) {
      // A sink must not throw; an event that cannot be built is dropped.
    }
    PyErr_Clear();
    PyErr_Restore(type, value, traceback);
    PyGILState_Release(gil);
  }
};

}  // namespace

bool install_python_log_sink() {
  PyRef logging(PyImport_ImportModule("logging"));
  if (!logging) return false;
  PyRef logger(get_logger(kDetectionLogger));
  if (!logger) return false;
  PyRef handler(PyObject_CallMethod(logging.get(), "NullHandler", nullptr));
  if (!handler) return false;
  PyRef added(PyObject_CallMethod(logger.get(), "addHandler", "O", handler.get()));
  if (!added) return false;
  // Never destroyed: a log event may come at any time until the process ends.
  static PythonLogSink* const sink = new PythonLogSink();
  tarnwick_support::install_log_sink(sink);
  return true;
}

}  // namespace tarnwick_python

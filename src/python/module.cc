// Module initialisation and the module-level function canonicalize_args.
//
// The module is initialised in single phase and created once per process: a
// later import (after removing it from sys.modules, say) returns the same
// module object, and an import from another interpreter of the process
// raises ImportError, because the classes and the log sink are shared by the
// whole process.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/canonical.h"
#include "python/binder.h"
#include "python/entry.h"
#include "python/holder.h"
#include "python/log_bridge.h"
#include "python/py_ref.h"
#include "python/python.h"
#include "python/types.h"

namespace tarnwick_python {

ModuleTypes& module_types() {
  static ModuleTypes types;
  return types;
}

namespace {

constexpr const char* kCanonicalizeParams[] = {"args_json", "volatile_fields"};
constexpr Signature kCanonicalizeSignature{"canonicalize_args()", kCanonicalizeParams};

PyObject* canonicalize_args(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    std::array<PyRef, 2> bound;
    if (!bind_arguments(kCanonicalizeSignature, args, kwargs, bound)) return nullptr;
    std::optional<std::string_view> args_json = text_argument(bound[0].get(), "args_json");
    if (!args_json) return nullptr;
    std::optional<std::vector<std::string>> fields =
        str_items_argument(bound[1].get(), "volatile_fields");
    if (!fields) return nullptr;
    return to_py_str(tarnwick_core::canonicalize_args(*args_json, *fields));
  });
}

PyMethodDef kFunctions[] = {
    {"canonicalize_args", keywords_method(canonicalize_args), METH_VARARGS | METH_KEYWORDS,
     "canonicalize_args(args_json, volatile_fields)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

// m_size 0 rather than -1: on a repeated import the interpreter calls the
// init function again instead of copying a stale module dict, and the init
// function hands back the one module object.
PyModuleDef kModuleDef = {
    PyModuleDef_HEAD_INIT, "tarnwick", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

PyObject* g_module = nullptr;       // the one module object, never released
int64_t g_module_interpreter = -1;  // the interpreter that created it

// Runs `create` with DeprecationWarnings ignored: the interpreter warns about
// every heap type whose name carries no module, and the bare names are part
// of this module's interface.
PyObject* create_quietly(PyTypeObject* (*create)()) {
  PyRef warnings(PyImport_ImportModule("warnings"));
  if (!warnings) return nullptr;
  PyRef context(PyObject_CallMethod(warnings.get(), "catch_warnings", nullptr));
  if (!context) return nullptr;
  PyRef entered(PyObject_CallMethod(context.get(), "__enter__", nullptr));
  if (!entered) return nullptr;
  PyRef ignored(PyObject_CallMethod(warnings.get(), "simplefilter", "sO", "ignore",
                                    PyExc_DeprecationWarning));
  PyRef type(ignored ? reinterpret_cast<PyObject*>(create()) : nullptr);
  // Leave the context on every path, keeping a pending error across the call.
  PyObject* error_type = nullptr;
  PyObject* error_value = nullptr;
  PyObject* error_traceback = nullptr;
  PyErr_Fetch(&error_type, &error_value, &error_traceback);
  PyRef exited(PyObject_CallMethod(context.get(), "__exit__", "OOO", Py_None, Py_None, Py_None));
  if (error_type != nullptr) {
    PyErr_Restore(error_type, error_value, error_traceback);
    return nullptr;
  }
  if (!exited) return nullptr;
  return type.release();
}

// Creates a type, keeps it in `*slot` and adds it to `module` under `name`.
bool add_type(PyObject* module, const char* name, PyTypeObject* (*create)(), PyTypeObject** slot,
              PyObject* module_attribute) {
  PyRef type(create_quietly(create));
  if (!type) return false;
  // With a bare name the interpreter records no __module__ for a heap type;
  // report it the way it does for built-in types with bare names.
  if (PyObject_SetAttrString(type.get(), "__module__", module_attribute) < 0) return false;
  if (PyModule_AddObjectRef(module, name, type.get()) < 0) return false;
  *slot = reinterpret_cast<PyTypeObject*>(type.release());
  return true;
}

PyObject* create_module() {
  PyRef module(PyModule_Create(&kModuleDef));
  if (!module) return nullptr;
  PyRef builtins(PyUnicode_FromString("builtins"));
  if (!builtins) return nullptr;
  ModuleTypes& types = module_types();
  const struct {
    const char* name;
    PyTypeObject* (*create)();
    PyTypeObject** slot;
  } classes[] = {
      {"Orchestrator", create_orchestrator_type, &types.orchestrator},
      {"Intervention", create_intervention_type, &types.intervention},
      {"RecoveryMetrics", create_recovery_metrics_type, &types.recovery_metrics},
      {"DetectionReport", create_detection_report_type, &types.detection_report},
  };
  for (const auto& c : classes) {
    if (!add_type(module.get(), c.name, c.create, c.slot, builtins.get())) return nullptr;
  }
  if (PyModule_AddFunctions(module.get(), kFunctions) < 0) return nullptr;
  if (!install_python_log_sink()) return nullptr;
  return module.release();
}

PyObject* init_module() {
  const int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (interpreter < 0) return nullptr;
  if (g_module != nullptr) {
    if (interpreter != g_module_interpreter) {
      PyErr_SetString(PyExc_ImportError,
                      "tarnwick can be imported in one interpreter per process only");
      return nullptr;
    }
    Py_INCREF(g_module);
    return g_module;
  }
  PyObject* module = create_module();
  if (module == nullptr) return nullptr;
  g_module = module;
  g_module_interpreter = interpreter;
  Py_INCREF(g_module);
  return g_module;
}

}  // namespace

}  // namespace tarnwick_python

PyMODINIT_FUNC PyInit_tarnwick() {
  return tarnwick_python::guarded([] { return tarnwick_python::init_module(); });
}

// File: types.h
//
// The module's four classes and how to create them. Each class is a heap
// type made from a PyType_Spec: base object, not subclassable, no
// instance __dict__, no weak references, bare class name. The types are
// created once, at module initialisation, and live for the whole process.

#ifndef TARNWICK_PYTHON_TYPES_H_
#define TARNWICK_PYTHON_TYPES_H_

#include "core/intervention.h"
#include "core/metrics.h"
#include "observation/report.h"
#include "python/python.h"

namespace tarnwick_python {

struct ModuleTypes {
  PyTypeObject* orchestrator = nullptr;
  PyTypeObject* intervention = nullptr;
  PyTypeObject* recovery_metrics = nullptr;
  PyTypeObject* detection_report = nullptr;
};

// Filled in by module initialisation; the module holds the references.
ModuleTypes& module_types();

// Each returns a new reference, or nullptr with an exception set.
PyTypeObject* create_orchestrator_type();
PyTypeObject* create_intervention_type();
PyTypeObject* create_recovery_metrics_type();
PyTypeObject* create_detection_report_type();

// New Python objects owning the given values; nullptr with an exception set.
PyObject* wrap_intervention(tarnwick_core::Intervention intervention);
PyObject* wrap_recovery_metrics(tarnwick_core::RecoveryMetrics metrics);
PyObject* wrap_detection_report(tarnwick_observation::DetectionReport report);

}  // namespace tarnwick_python

#endif  // TARNWICK_PYTHON_TYPES_H_

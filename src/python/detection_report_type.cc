// The DetectionReport class: an opaque token holding one report, handed back
// to Orchestrator.record_intervention_outcome.

#include "python/holder.h"
#include "python/types.h"

namespace tarnwick_python {

namespace {

using tarnwick_observation::DetectionReport;

PyType_Slot kSlots[] = {
    {Py_tp_new, slot(no_constructor)},
    {Py_tp_dealloc, slot(dealloc_holder<DetectionReport>)},
    {0, nullptr},
};

PyType_Spec kSpec = {
    "DetectionReport", sizeof(Holder<DetectionReport>), 0, Py_TPFLAGS_DEFAULT, kSlots,
};

}  // namespace

PyTypeObject* create_detection_report_type() {
  return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&kSpec));
}

PyObject* wrap_detection_report(DetectionReport report) {
  return wrap(module_types().detection_report, std::move(report));
}

}  // namespace tarnwick_python

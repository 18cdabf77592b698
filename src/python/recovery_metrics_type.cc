// The RecoveryMetrics class: a snapshot of one orchestrator's metrics.

#include "python/entry.h"
#include "python/holder.h"
#include "python/types.h"

namespace tarnwick_python {

namespace {

using tarnwick_core::RecoveryMetrics;

// Runs `body` on the wrapped metrics under a shared borrow.
template <typename F>
PyObject* query(PyObject* self, F&& body) {
  return guarded([&]() -> PyObject* {
    Holder<RecoveryMetrics>* holder = as_holder<RecoveryMetrics>(self);
    auto borrow = BorrowGuard::shared(holder->borrow);
    if (!borrow) return raise_runtime_error("Already mutably borrowed");
    return body(*holder->value);
  });
}

PyObject* intervention_count(PyObject* self, PyObject*) {
  return query(self, [](const RecoveryMetrics& m) {
    return PyLong_FromUnsignedLongLong(m.intervention_count());
  });
}

PyObject* prevented_calls(PyObject* self, PyObject*) {
  return query(self, [](const RecoveryMetrics& m) {
    return PyLong_FromUnsignedLongLong(m.prevented_calls());
  });
}

PyObject* recovery_time_ms(PyObject* self, PyObject*) {
  return query(self, [](const RecoveryMetrics& m) {
    return PyLong_FromUnsignedLongLong(m.recovery_time_ms());
  });
}

PyObject* to_json(PyObject* self, PyObject*) {
  return query(self, [](const RecoveryMetrics& m) { return to_py_str(m.to_json()); });
}

PyObject* repr(PyObject* self) {
  return query(self, [](const RecoveryMetrics& m) {
    return PyUnicode_FromFormat("RecoveryMetrics(count=%llu, prevented=%llu)",
                                static_cast<unsigned long long>(m.intervention_count()),
                                static_cast<unsigned long long>(m.prevented_calls()));
  });
}

PyMethodDef kMethods[] = {
    {"intervention_count", intervention_count, METH_NOARGS, "intervention_count($self)\n--\n\n"},
    {"prevented_calls", prevented_calls, METH_NOARGS, "prevented_calls($self)\n--\n\n"},
    {"recovery_time_ms", recovery_time_ms, METH_NOARGS, "recovery_time_ms($self)\n--\n\n"},
    {"to_json", to_json, METH_NOARGS, "to_json($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_new, slot(no_constructor)},
    {Py_tp_dealloc, slot(dealloc_holder<RecoveryMetrics>)},
    {Py_tp_repr, slot(repr)},
    {Py_tp_methods, kMethods},
    {0, nullptr},
};

PyType_Spec kSpec = {
    "RecoveryMetrics", sizeof(Holder<RecoveryMetrics>), 0, Py_TPFLAGS_DEFAULT, kSlots,
};

}  // namespace

PyTypeObject* create_recovery_metrics_type() {
  return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&kSpec));
}

PyObject* wrap_recovery_metrics(RecoveryMetrics metrics) {
  return wrap(module_types().recovery_metrics, std::move(metrics));
}

}  // namespace tarnwick_python

// The Intervention class: read-only queries over one owned intervention.

#include <optional>
#include <variant>

#include "python/entry.h"
#include "python/holder.h"
#include "python/types.h"

namespace tarnwick_python {

namespace {

using tarnwick_core::Intervention;
using InterventionHolder = Holder<Intervention>;

// Runs `query` on the wrapped intervention under a shared borrow.
template <typename F>
PyObject* query(PyObject* self, F&& body) {
  return guarded([&]() -> PyObject* {
    InterventionHolder* holder = as_holder<Intervention>(self);
    auto borrow = BorrowGuard::shared(holder->borrow);
    if (!borrow) return raise_runtime_error("Already mutably borrowed");
    return body(holder->value->v);
  });
}

template <typename... Alternatives>
PyObject* holds(PyObject* self) {
  return query(self, [](const Intervention::Variant& v) {
    return PyBool_FromLong((std::holds_alternative<Alternatives>(v) || ...));
  });
}

PyObject* is_continue(PyObject* self, PyObject*) { return holds<tarnwick_core::Continue>(self); }
PyObject* is_abort(PyObject* self, PyObject*) { return holds<tarnwick_core::Abort>(self); }
PyObject* is_retry(PyObject* self, PyObject*) {
  return holds<tarnwick_core::Retry, tarnwick_core::Backoff>(self);
}
PyObject* is_replace_tool(PyObject* self, PyObject*) {
  return holds<tarnwick_core::ReplaceTool>(self);
}
PyObject* is_inject_prompt(PyObject* self, PyObject*) {
  return holds<tarnwick_core::InjectPrompt>(self);
}

PyObject* reason(PyObject* self, PyObject*) {
  return query(self, [](const Intervention::Variant& v) -> PyObject* {
    if (const auto* abort = std::get_if<tarnwick_core::Abort>(&v)) return to_py_str(abort->reason);
    Py_RETURN_NONE;
  });
}

PyObject* delay_ms(PyObject* self, PyObject*) {
  return query(self, [self](const Intervention::Variant&) -> PyObject* {
    const std::optional<uint64_t> delay = as_holder<Intervention>(self)->value->delay_ms();
    if (delay) return PyLong_FromUnsignedLongLong(*delay);
    Py_RETURN_NONE;
  });
}

PyObject* prompt_content(PyObject* self, PyObject*) {
  return query(self, [](const Intervention::Variant& v) -> PyObject* {
    if (const auto* inject = std::get_if<tarnwick_core::InjectPrompt>(&v)) {
      return to_py_str(inject->content);
    }
    Py_RETURN_NONE;
  });
}

PyObject* repr(PyObject* self) {
  return query(self, [self](const Intervention::Variant&) {
    return to_py_str(as_holder<Intervention>(self)->value->to_text());
  });
}

PyMethodDef kMethods[] = {
    {"is_continue", is_continue, METH_NOARGS, "is_continue($self)\n--\n\n"},
    {"is_abort", is_abort, METH_NOARGS, "is_abort($self)\n--\n\n"},
    {"is_retry", is_retry, METH_NOARGS, "is_retry($self)\n--\n\n"},
    {"is_replace_tool", is_replace_tool, METH_NOARGS, "is_replace_tool($self)\n--\n\n"},
    {"is_inject_prompt", is_inject_prompt, METH_NOARGS, "is_inject_prompt($self)\n--\n\n"},
    {"reason", reason, METH_NOARGS, "reason($self)\n--\n\n"},
    {"delay_ms", delay_ms, METH_NOARGS, "delay_ms($self)\n--\n\n"},
    {"prompt_content", prompt_content, METH_NOARGS, "prompt_content($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_new, slot(no_constructor)},
    {Py_tp_dealloc, slot(dealloc_holder<Intervention>)},
    {Py_tp_repr, slot(repr)},
    {Py_tp_methods, kMethods},
    {0, nullptr},
};

PyType_Spec kSpec = {
    "Intervention", sizeof(InterventionHolder), 0, Py_TPFLAGS_DEFAULT, kSlots,
};

}  // namespace

PyTypeObject* create_intervention_type() {
  return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&kSpec));
}

PyObject* wrap_intervention(Intervention intervention) {
  return wrap(module_types().intervention, std::move(intervention));
}

}  // namespace tarnwick_python

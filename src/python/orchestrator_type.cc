// The Orchestrator class: owns one core orchestrator and translates its three
// operations between Python and C++.

#include <array>
#include <optional>
#include <string_view>
#include <utility>

#include "core/orchestrator.h"
#include "observation/event.h"
#include "python/binder.h"
#include "python/entry.h"
#include "python/holder.h"
#include "python/types.h"
#include "support/json.h"

namespace tarnwick_python {

namespace {

using tarnwick_core::AdapterCapabilities;
using tarnwick_core::InterventionOutcome;
using tarnwick_core::Orchestrator;
using tarnwick_observation::DetectionReport;
using tarnwick_observation::ToolCallEvent;
using tarnwick_support::JsonValue;

// Every Python caller is taken to be an adapter that can retry and abort but
// neither replace tools nor inject prompts.
constexpr AdapterCapabilities kCapabilities{
    .supports_retry = true,
    .supports_replace_tool = false,
    .supports_inject_prompt = false,
    .supports_abort = true,
};

constexpr const char* kNewParams[] = {"policy_yaml"};
constexpr Signature kNewSignature{"Orchestrator.__new__()", kNewParams};
constexpr const char* kProcessParams[] = {"thread_id", "step", "tool_name", "arguments"};
constexpr Signature kProcessSignature{"Orchestrator.process()", kProcessParams};
constexpr const char* kRecordParams[] = {"report", "outcome"};
constexpr Signature kRecordSignature{"Orchestrator.record_intervention_outcome()", kRecordParams};

// Outcome words are matched exactly; anything unknown counts as a failure.
InterventionOutcome outcome_from_word(std::string_view word) {
  if (word == "applied") return InterventionOutcome::kApplied;
  if (word == "unsupported") return InterventionOutcome::kUnsupported;
  return InterventionOutcome::kFailed;
}

PyObject* orchestrator_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    std::array<PyRef, 1> bound;
    if (!bind_arguments(kNewSignature, args, kwargs, bound)) return nullptr;
    std::optional<std::string_view> policy_yaml = text_argument(bound[0].get(), "policy_yaml");
    if (!policy_yaml) return nullptr;
    auto core = Orchestrator::from_yaml(*policy_yaml);
    if (!core) {
      const std::string& error = core.error();
      PyErr_Format(PyExc_RuntimeError, "Failed to init orchestrator: %s", error.c_str());
      return nullptr;
    }
    return wrap(type, std::move(*core));
  });
}

PyObject* process(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    std::array<PyRef, 4> bound;
    if (!bind_arguments(kProcessSignature, args, kwargs, bound)) return nullptr;
    Holder<Orchestrator>* holder = as_holder<Orchestrator>(self);
    auto borrow = BorrowGuard::exclusive(holder->borrow);
    if (!borrow) return raise_runtime_error("Already borrowed");

    // Converting `step` may run Python code (__index__); the views stay valid
    // because `bound` keeps the str objects alive.
    auto thread_id = text_argument(bound[0].get(), "thread_id");
    if (!thread_id) return nullptr;
    auto step = u64_argument(bound[1].get(), "step");
    if (!step) return nullptr;
    auto tool_name = text_argument(bound[2].get(), "tool_name");
    if (!tool_name) return nullptr;
    auto arguments = text_argument(bound[3].get(), "arguments");
    if (!arguments) return nullptr;

    JsonValue value = tarnwick_support::parse_json(*arguments).value_or(JsonValue());
    auto result = holder->value->process(
        ToolCallEvent::started(*thread_id, *step, *tool_name, std::move(value)), kCapabilities);

    PyRef intervention = result.intervention
                             ? PyRef(wrap_intervention(std::move(*result.intervention)))
                             : PyRef::borrow(Py_None);
    if (!intervention) return nullptr;
    PyRef report = result.report ? PyRef(wrap_detection_report(std::move(*result.report)))
                                 : PyRef::borrow(Py_None);
    if (!report) return nullptr;
    return PyTuple_Pack(2, intervention.get(), report.get());
  });
}

PyObject* record_intervention_outcome(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    std::array<PyRef, 2> bound;
    if (!bind_arguments(kRecordSignature, args, kwargs, bound)) return nullptr;
    Holder<Orchestrator>* holder = as_holder<Orchestrator>(self);
    auto borrow = BorrowGuard::exclusive(holder->borrow);
    if (!borrow) return raise_runtime_error("Already borrowed");

    PyObject* report_object = bound[0].get();
    if (!has_type(report_object, module_types().detection_report)) {
      raise_conversion_error(report_object, "DetectionReport", "report");
      return nullptr;
    }
    Holder<DetectionReport>* report = as_holder<DetectionReport>(report_object);
    auto report_borrow = BorrowGuard::shared(report->borrow);
    if (!report_borrow) return raise_runtime_error("Already mutably borrowed");

    auto outcome = text_argument(bound[1].get(), "outcome");
    if (!outcome) return nullptr;
    holder->value->record_intervention_outcome(*report->value, outcome_from_word(*outcome),
                                               std::nullopt);
    Py_RETURN_NONE;
  });
}

PyObject* get_metrics(PyObject* self, PyObject*) {
  return guarded([&]() -> PyObject* {
    Holder<Orchestrator>* holder = as_holder<Orchestrator>(self);
    auto borrow = BorrowGuard::shared(holder->borrow);
    if (!borrow) return raise_runtime_error("Already mutably borrowed");
    return wrap_recovery_metrics(holder->value->metrics());
  });
}

PyMethodDef kMethods[] = {
    {"process", keywords_method(process), METH_VARARGS | METH_KEYWORDS,
     "process($self, thread_id, step, tool_name, arguments)\n--\n\n"},
    {"record_intervention_outcome", keywords_method(record_intervention_outcome),
     METH_VARARGS | METH_KEYWORDS, "record_intervention_outcome($self, report, outcome)\n--\n\n"},
    {"get_metrics", get_metrics, METH_NOARGS, "get_metrics($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

char kDoc[] = "Orchestrator(policy_yaml)\n--\n\n";

PyType_Slot kSlots[] = {
    {Py_tp_new, slot(orchestrator_new)},
    {Py_tp_dealloc, slot(dealloc_holder<Orchestrator>)},
    {Py_tp_methods, kMethods},
    {Py_tp_doc, kDoc},
    {0, nullptr},
};

PyType_Spec kSpec = {
    "Orchestrator", sizeof(Holder<Orchestrator>), 0, Py_TPFLAGS_DEFAULT, kSlots,
};

}  // namespace

PyTypeObject* create_orchestrator_type() {
  return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&kSpec));
}

}  // namespace tarnwick_python

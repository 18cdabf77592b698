// File: binder.h
//
// The one argument binder of the module, driven by a table of parameter
// names per callable, and the conversions of bound arguments. Every failure
// returns false or nullopt with a Python exception set: binding failures and
// conversion failures are TypeErrors naming the callable or the parameter;
// other exceptions of a conversion (OverflowError, UnicodeEncodeError) pass
// through unchanged.
//
//   constexpr const char* kParams[] = {"args_json", "volatile_fields"};
//   constexpr Signature kSig{"canonicalize_args()", kParams};
//   std::array<PyRef, 2> bound;
//   if (!bind_arguments(kSig, args, kwargs, bound)) return nullptr;

#ifndef TARNWICK_PYTHON_BINDER_H_
#define TARNWICK_PYTHON_BINDER_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "python/py_ref.h"
#include "python/python.h"

namespace tarnwick_python {

// A callable's parameters, all positional-or-keyword and required.
struct Signature {
  const char* function;                 // as messages show it: "Orchestrator.process()"
  std::span<const char* const> params;  // in positional order
};

// Binds positional `args` (a tuple) and keyword `kwargs` (a dict or nullptr)
// to the parameters of `sig`. On success `out` (one slot per parameter) holds
// a strong reference to each argument in parameter order.
bool bind_arguments(const Signature& sig, PyObject* args, PyObject* kwargs, std::span<PyRef> out);

// The UTF-8 text of a str argument; the view lives as long as `obj`.
std::optional<std::string_view> text_argument(PyObject* obj, const char* name);

// An int argument (anything with __index__) as an unsigned 64-bit number.
std::optional<uint64_t> u64_argument(PyObject* obj, const char* name);

// A list argument (or an instance of a list subclass): its str items in list
// order, other items skipped.
std::optional<std::vector<std::string>> str_items_argument(PyObject* obj, const char* name);

// Raises "argument '{name}': '{type}' object cannot be converted to
// '{expected}'" for `obj`, with the unprefixed error as its cause.
void raise_conversion_error(PyObject* obj, const char* expected, const char* name);

// Whether `obj` is of exactly `type` (the module's types have no subclasses).
inline bool has_type(PyObject* obj, PyTypeObject* type) { return Py_TYPE(obj) == type; }

}  // namespace tarnwick_python

#endif  // TARNWICK_PYTHON_BINDER_H_

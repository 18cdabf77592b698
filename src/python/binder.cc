#include "python/binder.h"

#include <cstddef>
#include <string>

namespace tarnwick_python {

namespace {

// "'a'", "'a' and 'b'", "'a', 'b' and 'c'".
std::string english_list(std::span<const char* const> names) {
  std::string out;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += (i + 1 == names.size()) ? " and " : ", ";
    out += '\'';
    out += names[i];
    out += '\'';
  }
  return out;
}

// Turns a pending TypeError into "argument '{name}': {text}" whose cause is
// the original; any other pending exception is left as it is.
void prefix_type_error(const char* name) {
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  PyRef type_ref(type), cause(value), traceback_ref(traceback);
  if (cause && traceback_ref) PyException_SetTraceback(cause.get(), traceback_ref.get());
  PyRef text(cause ? PyObject_Str(cause.get()) : PyUnicode_FromString(""));
  if (!text) return;
  PyRef message(PyUnicode_FromFormat("argument '%s': %U", name, text.get()));
  if (!message) return;
  PyRef error(PyObject_CallFunctionObjArgs(PyExc_TypeError, message.get(), nullptr));
  if (!error) return;
  if (cause) PyException_SetCause(error.get(), cause.release());  // steals the reference
  PyErr_SetObject(PyExc_TypeError, error.get());
}

}  // namespace

bool bind_arguments(const Signature& sig, PyObject* args, PyObject* kwargs, std::span<PyRef> out) {
  const Py_ssize_t param_count = static_cast<Py_ssize_t>(sig.params.size());
  const Py_ssize_t given = args == nullptr ? 0 : PyTuple_Size(args);
  if (given < 0) return false;
  if (given > param_count) {
    PyErr_Format(PyExc_TypeError, "%s takes %zd positional arguments but %zd %s given",
                 sig.function, param_count, given, given == 1 ? "was" : "were");
    return false;
  }
  for (Py_ssize_t i = 0; i < given; ++i) out[i] = PyRef::borrow(PyTuple_GetItem(args, i));

  if (kwargs != nullptr) {
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      if (!PyUnicode_Check(key)) {
        PyErr_Format(PyExc_TypeError, "%s keywords must be strings", sig.function);
        return false;
      }
      Py_ssize_t index = 0;
      while (index < param_count && PyUnicode_CompareWithASCIIString(key, sig.params[index]) != 0) {
        ++index;
      }
      if (index == param_count) {
        PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", sig.function,
                     key);
        return false;
      }
      if (out[index]) {
        PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", sig.function,
                     sig.params[index]);
        return false;
      }
      out[index] = PyRef::borrow(value);
    }
  }

  std::vector<const char*> missing;
  for (Py_ssize_t i = 0; i < param_count; ++i) {
    if (!out[i]) missing.push_back(sig.params[i]);
  }
  if (!missing.empty()) {
    const std::string names = english_list(missing);
    PyErr_Format(PyExc_TypeError, "%s missing %zd required positional %s: %s", sig.function,
                 static_cast<Py_ssize_t>(missing.size()),
                 missing.size() == 1 ? "argument" : "arguments", names.c_str());
    return false;
  }
  return true;
}

void raise_conversion_error(PyObject* obj, const char* expected, const char* name) {
  PyRef type_name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__name__"));
  if (!type_name) return;
  PyErr_Format(PyExc_TypeError, "'%S' object cannot be converted to '%s'", type_name.get(),
               expected);
  prefix_type_error(name);
}

std::optional<std::string_view> text_argument(PyObject* obj, const char* name) {
  if (!PyUnicode_Check(obj)) {
    raise_conversion_error(obj, "str", name);
    return std::nullopt;
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
  if (data == nullptr) {
    prefix_type_error(name);
    return std::nullopt;
  }
  return std::string_view(data, static_cast<size_t>(size));
}

std::optional<uint64_t> u64_argument(PyObject* obj, const char* name) {
  PyRef index(PyNumber_Index(obj));
  if (!index) {
    prefix_type_error(name);
    return std::nullopt;
  }
  const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    prefix_type_error(name);
    return std::nullopt;
  }
  return static_cast<uint64_t>(value);
}

std::optional<std::vector<std::string>> str_items_argument(PyObject* obj, const char* name) {
  if (!PyList_Check(obj)) {
    raise_conversion_error(obj, "list", name);
    return std::nullopt;
  }
  std::vector<std::string> items;
  const Py_ssize_t size = PyList_Size(obj);
  for (Py_ssize_t i = 0; i < size; ++i) {
    PyObject* item = PyList_GetItem(obj, i);
    if (item == nullptr) return std::nullopt;
    if (!PyUnicode_Check(item)) continue;
    Py_ssize_t length = 0;
    const char* data = PyUnicode_AsUTF8AndSize(item, &length);
    if (data == nullptr) {
      prefix_type_error(name);
      return std::nullopt;
    }
    items.emplace_back(data, static_cast<size_t>(length));
  }
  return items;
}

}  // namespace tarnwick_python

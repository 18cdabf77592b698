#include "python/holder.h"

namespace tarnwick_python {

PyObject* no_constructor(PyTypeObject* type, PyObject*, PyObject*) {
  PyRef name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__name__"));
  if (!name) return nullptr;
  PyErr_Format(PyExc_TypeError, "No constructor defined for %U", name.get());
  return nullptr;
}

PyObject* to_py_str(std::string_view text) {
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

}  // namespace tarnwick_python

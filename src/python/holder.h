// File: holder.h
//
// The instance layout shared by the module's four classes: a Python object
// that owns exactly one C++ value and carries a borrow state. `wrap` hands a
// value to a new Python object; the value is destroyed with the object.
// Instances hold no Python references, so the types need no GC support.

#ifndef TARNWICK_PYTHON_HOLDER_H_
#define TARNWICK_PYTHON_HOLDER_H_

#include <memory>
#include <new>
#include <string_view>
#include <utility>

#include "python/borrow.h"
#include "python/py_ref.h"
#include "python/python.h"

namespace tarnwick_python {

template <typename T>
struct Holder {
  PyObject_HEAD T* value;
  BorrowState borrow;
};

template <typename T>
Holder<T>* as_holder(PyObject* obj) {
  return reinterpret_cast<Holder<T>*>(obj);
}

// A new instance of `type` owning `value`; nullptr with an exception set.
template <typename T>
PyObject* wrap(PyTypeObject* type, T value) {
  auto owned = std::make_unique<T>(std::move(value));
  PyObject* obj = PyType_GenericAlloc(type, 0);
  if (obj == nullptr) return nullptr;
  Holder<T>* holder = as_holder<T>(obj);
  holder->value = owned.release();
  new (&holder->borrow) BorrowState();
  return obj;
}

// tp_dealloc of a holder type.
template <typename T>
void dealloc_holder(PyObject* obj) {
  Holder<T>* holder = as_holder<T>(obj);
  delete holder->value;
  holder->value = nullptr;
  PyTypeObject* type = Py_TYPE(obj);
  auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_slot(obj);
  Py_DECREF(type);  // instances of heap types own a reference to their type
}

// tp_new of the classes that Python code cannot instantiate.
PyObject* no_constructor(PyTypeObject* type, PyObject* args, PyObject* kwargs);

// A str from UTF-8 bytes; undecodable bytes become U+FFFD.
PyObject* to_py_str(std::string_view text);

// Casts any function to the `void*` a type slot holds.
template <typename F>
void* slot(F* function) {
  return reinterpret_cast<void*>(function);
}

// Casts a METH_VARARGS | METH_KEYWORDS method to the PyCFunction of its
// method table entry.
inline PyCFunction keywords_method(PyObject* (*function)(PyObject*, PyObject*, PyObject*)) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

}  // namespace tarnwick_python

#endif  // TARNWICK_PYTHON_HOLDER_H_

// File: py_ref.h
//
// PyRef owns one strong reference to a Python object (or none) and drops it
// when destroyed. It is moved, never copied, so every reference the module
// takes is released exactly once on every path.

#ifndef TARNWICK_PYTHON_PY_REF_H_
#define TARNWICK_PYTHON_PY_REF_H_

#include "python/python.h"

namespace tarnwick_python {

class PyRef {
 public:
  PyRef() = default;
  // Takes over `owned` (a new reference, or nullptr).
  explicit PyRef(PyObject* owned) : p_(owned) {}
  // Adds a reference to `borrowed`.
  static PyRef borrow(PyObject* borrowed) {
    Py_XINCREF(borrowed);
    return PyRef(borrowed);
  }

  PyRef(PyRef&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  PyRef& operator=(PyRef&& other) noexcept {
    if (this != &other) {
      Py_XDECREF(p_);
      p_ = other.p_;
      other.p_ = nullptr;
    }
    return *this;
  }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  ~PyRef() { Py_XDECREF(p_); }

  PyObject* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // Hands the reference to the caller.
  PyObject* release() {
    PyObject* p = p_;
    p_ = nullptr;
    return p;
  }

 private:
  PyObject* p_ = nullptr;
};

}  // namespace tarnwick_python

#endif  // TARNWICK_PYTHON_PY_REF_H_

// File: entry.h
//
// Every function the interpreter calls runs its body through `guarded`, so no
// C++ exception ever unwinds into the interpreter: running out of memory
// becomes MemoryError and any other exception a RuntimeError with its text.

#ifndef TARNWICK_PYTHON_ENTRY_H_
#define TARNWICK_PYTHON_ENTRY_H_

#include <exception>
#include <new>

#include "python/python.h"

namespace tarnwick_python {

template <typename F>
PyObject* guarded(F&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
  } catch (...) {
    PyErr_SetString(PyExc_RuntimeError, "internal error in tarnwick");
  }
  return nullptr;
}

// Raises RuntimeError with `message` and returns nullptr.
inline PyObject* raise_runtime_error(const char* message) {
  PyErr_SetString(PyExc_RuntimeError, message);
  return nullptr;
}

}  // namespace tarnwick_python

#endif  // TARNWICK_PYTHON_ENTRY_H_

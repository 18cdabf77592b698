// File: python.h
//
// The one place that includes the interpreter's header. Everything in this
// directory is written against the limited (stable) C API; a build without
// Py_LIMITED_API is refused so that no other function can slip in.

#ifndef TARNWICK_PYTHON_PYTHON_H_
#define TARNWICK_PYTHON_PYTHON_H_

#ifndef Py_LIMITED_API
#error "the tarnwick module must be compiled with Py_LIMITED_API"
#endif

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#endif  // TARNWICK_PYTHON_PYTHON_H_

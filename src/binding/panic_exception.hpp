#pragma once
// PanicException: the class in which an internal failure reaches Python.
//
// Named "pyo3_runtime.PanicException" and derived from BaseException, so an
// `except Exception` clause does not swallow it. It is not an attribute of the
// module; Python code meets it only when a call raises it.
#include "python_api.hpp"

namespace morvanex::binding {

// The PanicException type (borrowed), created on first need and kept for the
// life of the process. A failure to create it is an internal failure.
PyObject* panic_exception_type();

}  // namespace morvanex::binding

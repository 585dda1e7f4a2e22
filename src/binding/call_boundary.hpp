#pragma once
// The native entry of run_scoring_iteration (METH_VARARGS | METH_KEYWORDS).
#include <string_view>

#include "error_value.hpp"

namespace morvanex::binding {

// CPython calls this with the module as `self`, the positional tuple and the
// keyword dict or null. Returns a new dict from str to float, or null with
// one exception set.
PyObject* run_scoring_iteration_entry(PyObject* self, PyObject* positional, PyObject* keywords) noexcept;

// Ties the conversion error of one argument to its parameter: an error of
// exactly TypeError becomes a new TypeError "argument '<parameter>': <message>"
// that keeps the original's __cause__ (None when it has none) and suppresses
// the context; any other error is returned unchanged.
ErrorValue tie_error_to_argument(std::string_view parameter, ErrorValue error);

}  // namespace morvanex::binding

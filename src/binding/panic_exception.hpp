#pragma once
// PanicException: the class as which every internal failure reaches Python,
// and the panic that resumes when such an exception comes back out of Python
// code into the module.
//
// Ownership contract. The class is created on first need and kept for the
// rest of the process in a slot of its own, guarded by the interpreter lock;
// callers borrow it. resume_panic consumes the indicator it is given.
#include "error_value.hpp"
#include "internal_failure.hpp"  // the engine's InternalFailure
#include "python_handles.hpp"

namespace morvanex::binding {

// The class "pyo3_runtime.PanicException", derived from BaseException so that
// an `except Exception` clause does not swallow it; not an attribute of the
// module. Borrowed. A failure to create it is an internal failure.
PyObject* panic_exception_type();

// A PanicException raised by Python code and fetched again by the module. It
// continues as an internal failure with the original message; its traceback
// has already been printed, so the entry frame writes no failure report.
class PanicFromPython : public morvanex::InternalFailure {
public:
    using InternalFailure::InternalFailure;
};

// Resumes `panic`, a PanicException taken from the error indicator: two
// banner lines and its traceback on standard error, then PanicFromPython
// carrying the characters of one str() of its value ("Unwrapped panic from
// Python code" when it has none or str() fails).
[[noreturn]] void resume_panic(ErrorIndicator panic);

}  // namespace morvanex::binding

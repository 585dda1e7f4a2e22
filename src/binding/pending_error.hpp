#pragma once
// Taking the interpreter's pending exception after a CPython call.
//
// A PanicException that comes back out of Python code (Python code run by the
// module raised one, for instance a value's __float__) is not returned as an
// error: the panic is resumed. Two banner lines and the exception's traceback
// go to standard error, and the call continues as an internal failure
// (ResumedPanic) with the same message, so the caller sees a new
// PanicException.
#include <optional>

#include "error_value.hpp"

namespace morvanex::binding {

// The pending exception, or nullopt when none is pending. Clears the
// interpreter's error indicator. May throw ResumedPanic.
std::optional<ErrorValue> fetch_pending_error();

// For a CPython call that reported failure: the pending exception, or the
// SystemError "attempted to fetch exception but none was set" when the call
// left none. May throw ResumedPanic.
ErrorValue fetch_failed_call_error();

}  // namespace morvanex::binding

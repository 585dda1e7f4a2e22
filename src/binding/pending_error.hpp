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
#include <source_location>
#include <string_view>

#include "error_value.hpp"

namespace morvanex::binding {

// The pending exception, or nullopt when none is pending. Clears the
// interpreter's error indicator. May throw ResumedPanic.
std::optional<ErrorValue> fetch_pending_error();

// For a CPython call that reported failure: the pending exception, or the
// SystemError "attempted to fetch exception but none was set" when the call
// left none. May throw ResumedPanic.
ErrorValue fetch_failed_call_error();

// Discards the pending exception, if any, where the module does without the
// value that failed. A PanicException is resumed instead, and a MemoryError
// unwinds as exhausted memory (std::bad_alloc).
void drop_pending_error();

// Ends the call because of `error`: with exhausted memory (std::bad_alloc)
// when it is a MemoryError, else with the internal failure
// "<context>: <diagnostic rendering of error>".
[[noreturn]] void fail_with_error(std::string_view context, ErrorValue error,
                                  std::source_location where = std::source_location::current());

}  // namespace morvanex::binding

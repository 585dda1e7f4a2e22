#pragma once
// Internal failures detected by the binding: a violated invariant, or a
// CPython call the module cannot do without that failed. Each is a C++
// exception derived from the engine's InternalFailure that unwinds to the
// entry frame (entry_frame.hpp), releasing everything on the way, and is
// raised there as PanicException after a failure report on standard error.
//
// Ownership contract. An error handed to fail_with_error is consumed; a
// reference handed to expect_created is owned by the OwnedRef it returns.
// Everything here runs with the interpreter lock held.
#include <source_location>
#include <string>
#include <string_view>

#include "error_value.hpp"
#include "internal_failure.hpp"  // the engine's InternalFailure
#include "platform.hpp"
#include "python_handles.hpp"

namespace morvanex::binding {

using morvanex::InternalFailure;

// An internal failure detected by the binding. When MORVANEX_BACKTRACE asks
// for it, the native stack is taken where the failure happens, before the
// unwinding discards it.
class BindingFailure : public InternalFailure {
public:
    BindingFailure(std::string message, std::source_location where);
    // Empty unless a backtrace was asked for.
    const platform::NativeStack& stack() const noexcept { return stack_; }

private:
    platform::NativeStack stack_;
};

// Signals an internal failure; does not return.
[[noreturn]] void fail(std::string message, std::source_location where = std::source_location::current());

// Ends the call because of `error`: with exhausted memory when it is a
// MemoryError, else with the internal failure "<context>: <diagnostic_text>"
// (object_text.hpp).
[[noreturn]] void fail_with_error(std::string_view context, ErrorValue error,
                                  std::source_location where = std::source_location::current());

// Checks the result of a CPython call that creates an object the module cannot
// do without. On null: exhausted memory for a MemoryError; otherwise the
// pending exception is printed with PyErr_Print and the call becomes the
// internal failure "Python API call failed".
OwnedRef expect_created(PyObject* created, std::source_location where = std::source_location::current());

}  // namespace morvanex::binding

#pragma once
// Internal failures on the binding side.
//
// An internal failure is a violated invariant: it is thrown as the engine's
// InternalFailure, unwinds to the nearest entry frame (releasing everything on
// the way through the owners' destructors) and is raised there as
// PanicException carrying its message. The entry frame writes the failure
// report to standard error before raising.
#include <source_location>
#include <string>
#include <string_view>

#include "internal_failure.hpp"  // the engine's InternalFailure
#include "platform.hpp"
#include "py_ref.hpp"

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

// A PanicException raised by Python code and fetched again by the module. It
// continues as an internal failure with the original message; its report has
// already been printed, so the entry frame writes no second one.
class ResumedPanic : public InternalFailure {
public:
    using InternalFailure::InternalFailure;
};

// Signals an internal failure; does not return.
[[noreturn]] void fail(std::string message,
                       std::source_location where = std::source_location::current());

// Checks the result of a CPython call that creates an object the module cannot
// do without. On null the pending exception is printed with PyErr_Print and
// the call becomes the internal failure "Python API call failed".
OwnedRef expect_created(PyObject* created,
                        std::source_location where = std::source_location::current());

// Writes the failure report for `message` raised at `where` to standard error:
// thread, position and message, a note saying `consequence`, and how to get
// the native call stack. With MORVANEX_BACKTRACE set (not "0") the report
// ends with `stack`, or with the stack of the caller when `stack` is null or
// empty.
void write_failure_report(std::string_view message, const std::source_location& where,
                          std::string_view consequence,
                          const platform::NativeStack* stack = nullptr) noexcept;

}  // namespace morvanex::binding

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
#include "py_ref.hpp"

namespace morvanex::binding {

using morvanex::InternalFailure;

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

// Writes the failure report for `message` raised at `where` to standard error.
// `consequence` completes the closing note line.
void write_failure_report(std::string_view message, const std::source_location& where,
                          std::string_view consequence) noexcept;

}  // namespace morvanex::binding

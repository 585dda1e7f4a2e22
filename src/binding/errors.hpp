#pragma once
// Errors: how every failure inside the binding reaches Python.
//
// There are two kinds of failure. A Python error is an ErrorValue that travels
// back as an ordinary return value (Result<T>) until the entry frame raises
// it. An internal failure (a violated invariant) is a C++ exception
// (InternalFailure) that unwinds to the entry frame, releasing everything on
// the way, and is raised there as PanicException after a failure report on
// standard error. Exhausted memory unwinds as std::bad_alloc and is raised as
// MemoryError; so is every MemoryError that the interpreter raises where the
// module cannot go on without the object it failed to make.
//
// Ownership contract. An ErrorValue owns every reference it holds and
// releases them when dropped, so an error that is not raised costs nothing
// but its destruction. Functions here take borrowed PyObject* arguments and
// return owned values; they run with the interpreter lock held, inside an
// entry frame, and may run Python code (str(), repr(), a metaclass).
#include <optional>
#include <source_location>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "internal_failure.hpp"  // the engine's InternalFailure
#include "platform.hpp"
#include "python_handles.hpp"

namespace morvanex::binding {

// The parts of the interpreter's error indicator; every part may be empty.
struct ErrorIndicator {
    OwnedRef type;
    OwnedRef value;
    OwnedRef traceback;
};

// A Python error held by native code before it is raised, in one of three
// forms:
//   lazy        the exception type and the message of its value; the value
//               object is built only when the error is normalised or raised.
//               Every error the module makes itself is lazy: a message error
//               (TypeError, ValueError, ImportError, SystemError) whose value
//               is a str, and a PanicException whose value is a one-element
//               tuple;
//   fetched     the type / value / traceback triple taken from the error
//               indicator, possibly not normalised;
//   normalised  exception type, exception instance and traceback (or none).
class ErrorValue {
public:
    // Lazy error of `exception_type` (a borrowed exception class) with `message`.
    static ErrorValue with_message(PyObject* exception_type, std::string message);
    // Lazy PanicException carrying `message`.
    static ErrorValue panic(std::string message);
    // SystemError for a CPython call that failed without setting an exception.
    static ErrorValue none_was_set();
    // An exception taken from the error indicator; its type is not empty.
    static ErrorValue fetched(ErrorIndicator indicator);

    ErrorValue(ErrorValue&&) noexcept = default;
    ErrorValue& operator=(ErrorValue&&) noexcept = default;

    // Parts of the normalised error (normalising first, which builds a lazy
    // value now); borrowed.
    PyObject* normalized_type();
    PyObject* normalized_value();
    PyObject* normalized_traceback();

    // True when the error's type matches `exception_class`
    // (PyErr_GivenExceptionMatches, so subclasses count). Builds nothing.
    bool matches(PyObject* exception_class) const;

    // Sets the error as the interpreter's current exception.
    void raise() &&;

private:
    struct Lazy {
        OwnedRef type;  // exception class; empty for a panic
        std::string message;
    };
    struct Triple {
        OwnedRef type;
        OwnedRef value;
        OwnedRef traceback;
        bool normalized;
    };

    explicit ErrorValue(Lazy lazy) : state_(std::move(lazy)) {}
    explicit ErrorValue(Triple triple) : state_(std::move(triple)) {}

    Triple& normalized_triple();

    std::variant<Lazy, Triple> state_;
};

// Either a value or a Python error, returned by every binding operation that
// can meet a Python error. Internal failures never travel in a Result.
template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(ErrorValue error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const noexcept { return state_.index() == 0; }

    T& value() & { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    ErrorValue take_error() { return std::get<1>(std::move(state_)); }

private:
    std::variant<T, ErrorValue> state_;
};

// A successful outcome that carries no value.
struct Done {};

// --- the error indicator ------------------------------------------------------

// Takes (and clears) the interpreter's error indicator as it is. The one
// place that takes it.
ErrorIndicator take_error_indicator() noexcept;

// For a CPython call that reported failure: the pending exception, or the
// SystemError "attempted to fetch exception but none was set" when the call
// left none. A PanicException that comes back out of Python code is not
// returned: the panic is resumed (two banner lines and its traceback on
// standard error, then ResumedPanic with the same message).
ErrorValue fetch_pending_error();

// Drops `error`, where the module does without what failed; a MemoryError
// unwinds as exhausted memory (std::bad_alloc) instead.
void ignore_error(ErrorValue error);

// --- internal failures ----------------------------------------------------------

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
// continues as an internal failure with the original message; its traceback
// has already been printed, so the entry frame writes no failure report.
class ResumedPanic : public InternalFailure {
public:
    using InternalFailure::InternalFailure;
};

// Signals an internal failure; does not return.
[[noreturn]] void fail(std::string message, std::source_location where = std::source_location::current());

// Ends the call because of `error`: with exhausted memory when it is a
// MemoryError, else with the internal failure "<context>: <diagnostic_text>".
[[noreturn]] void fail_with_error(std::string_view context, ErrorValue error,
                                  std::source_location where = std::source_location::current());

// Checks the result of a CPython call that creates an object the module cannot
// do without. On null: exhausted memory for a MemoryError; otherwise the
// pending exception is printed with PyErr_Print and the call becomes the
// internal failure "Python API call failed".
OwnedRef expect_created(PyObject* created, std::source_location where = std::source_location::current());

// --- text of Python objects for messages ------------------------------------------
// Strings that become engine data go through the strict conversion of
// conversions.hpp instead.

// str(object) as UTF-8. The str is encoded with "surrogatepass" and decoded
// back leniently, so every lone surrogate shows as three U+FFFD characters.
// When str() raises, the exception is reported with PyErr_WriteUnraisable and
// the text is "<unprintable TYPENAME object>" (or "<unprintable object>" when
// the type's __name__ is not a str).
std::string object_text(PyObject* object);

// --- the entry frame -------------------------------------------------------------------

// The entry frame: the one exception firewall around each entry point
// (PyInit_morvanex and every call of run_scoring_iteration). It runs a body
// that returns a new reference or an ErrorValue and gives CPython the object,
// or null with exactly one exception set:
//   - an ErrorValue is raised as it is;
//   - an internal failure gets a failure report on standard error and is
//     raised as PanicException carrying its message (the class
//     "pyo3_runtime.PanicException", derived from BaseException so that an
//     `except Exception` clause does not swallow it, created on first need
//     and not an attribute of the module); a resumed panic is
//     raised the same way without a report;
//   - exhausted memory is raised as MemoryError once the unwinding has
//     released everything the body held;
//   - a failure while the frame itself is raising is fatal: a report for
//     "uncaught panic at ffi boundary" is written and the process aborts.
// No C++ exception ever leaves an entry frame, with one exception that is
// not the module's: the unwinding of a thread that the C library ends
// (platform::ThreadExitUnwinding) passes through, which is why neither is
// noexcept.
using EntryBody = Result<OwnedRef> (*)(void* context);
PyObject* run_in_entry_frame(EntryBody body, void* context);

template <class Body>
PyObject* entry_frame(Body&& body) {
    using Callable = std::remove_reference_t<Body>;
    return run_in_entry_frame(
        [](void* context) -> Result<OwnedRef> { return (*static_cast<Callable*>(context))(); },
        const_cast<void*>(static_cast<const void*>(&body)));
}

}  // namespace morvanex::binding

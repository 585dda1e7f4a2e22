#pragma once
// Error values: a Python error held by native code until it is raised, the
// Result every binding operation returns, and the one place that takes the
// interpreter's error indicator.
//
// There are two kinds of failure. A Python error is an ErrorValue that travels
// back as an ordinary return value (Result<T>) until the entry frame
// (entry_frame.hpp) raises it. An internal failure (a violated invariant)
// unwinds instead (binding_failure.hpp). Exhausted memory unwinds as
// std::bad_alloc and is raised as MemoryError; so is every MemoryError that
// the interpreter raises where the module cannot go on without the object it
// failed to make.
//
// Ownership contract. An ErrorValue owns every reference it holds and
// releases them when dropped, so an error that is not raised costs nothing
// but its destruction. Functions here take borrowed PyObject* arguments and
// return owned values; they run with the interpreter lock held, inside an
// entry frame.
#include <string>
#include <utility>
#include <variant>

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
// returned: the panic is resumed (panic_exception.hpp).
ErrorValue fetch_pending_error();

// With the exception of a failed CPython call pending: unwinds as exhausted
// memory (std::bad_alloc) when it is a MemoryError, else leaves it pending.
void unwind_if_out_of_memory();

// Drops `error`, where the module does without what failed; a MemoryError
// unwinds as exhausted memory (std::bad_alloc) instead.
void ignore_error(ErrorValue error);

}  // namespace morvanex::binding

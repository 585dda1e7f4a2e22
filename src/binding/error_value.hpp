#pragma once
// ErrorValue: a Python error held by native code before it is raised.
//
// A Python error is an ordinary return value in the binding (see result.hpp);
// only the entry frame raises it. It takes one of three forms:
//   lazy        the exception type and the data of its value; the value object
//               is built only when the error is normalised or raised. Every
//               error the module makes itself is lazy: a message error
//               (TypeError, ImportError, SystemError) whose value is a str, a
//               PanicException whose value is a one-element tuple;
//   fetched     the type / value / traceback triple taken with PyErr_Fetch,
//               possibly not normalised;
//   normalised  exception type, exception instance and traceback (or none).
//
// An ErrorValue owns every reference it holds and releases them when dropped,
// so an error that is not raised costs nothing but its destruction.
#include <optional>
#include <string>
#include <variant>

#include "py_ref.hpp"

namespace morvanex::binding {

class ErrorValue {
public:
    // Lazy error of `exception_type` (a borrowed exception class) with `message`.
    static ErrorValue with_message(PyObject* exception_type, std::string message);
    // Lazy PanicException carrying `message`.
    static ErrorValue panic(std::string message);
    // SystemError for a CPython call that failed without setting an exception.
    static ErrorValue none_was_set();
    // A triple as PyErr_Fetch returned it; `type` is not null.
    static ErrorValue fetched(OwnedRef type, OwnedRef value, OwnedRef traceback);

    ErrorValue(ErrorValue&&) noexcept = default;
    ErrorValue& operator=(ErrorValue&&) noexcept = default;

    // Brings the error into normalised form, building a lazy value now.
    void normalize();
    // Parts of the normalised error (normalising first); borrowed.
    PyObject* normalized_type();
    PyObject* normalized_value();
    PyObject* normalized_traceback();

    // True when the error's type matches `exception_class`
    // (PyErr_GivenExceptionMatches, so subclasses count). Does not build a
    // lazy value.
    bool matches(PyObject* exception_class) const;

    // Sets the error as the interpreter's current exception.
    void raise() &&;

private:
    struct Lazy {
        enum class Kind { message, panic } kind;
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

// Takes the pending exception out of the interpreter exactly as it is (no
// PanicException check); nullopt when none is pending. Used where the error
// is only discarded or rendered.
std::optional<ErrorValue> take_pending_error_raw();

// Clears the pending exception, if any.
void discard_pending_error() noexcept;

// The interpreter's error indicator as PyErr_Fetch takes (and clears) it;
// every part may be empty.
struct FetchedIndicator {
    OwnedRef type;
    OwnedRef value;
    OwnedRef traceback;
};
FetchedIndicator fetch_error_indicator() noexcept;

}  // namespace morvanex::binding

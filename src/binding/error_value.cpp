#include "error_value.hpp"

#include <new>

#include "failure.hpp"
#include "object_text.hpp"
#include "panic_exception.hpp"

namespace morvanex::binding {
namespace {

// Checks an object made for the value of a lazy error. Making one fails only
// when the interpreter is out of memory; that is exhausted memory, which the
// entry frame raises as MemoryError (std::bad_alloc), not an internal failure,
// which would be fatal while the entry frame is raising the error.
OwnedRef value_part(PyObject* created) {
    if (created == nullptr && PyErr_ExceptionMatches(PyExc_MemoryError)) {
        discard_pending_error();
        throw std::bad_alloc();
    }
    return expect_created(created);
}

OwnedRef str_from_message(const std::string& message) {
    // Messages may quote text from outside the module; make sure the bytes
    // handed to the interpreter are UTF-8.
    std::string text = utf8_lossy(message);
    return value_part(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

}  // namespace

ErrorValue ErrorValue::with_message(PyObject* exception_type, std::string message) {
    return ErrorValue(Lazy{Lazy::Kind::message, OwnedRef::borrow(exception_type), std::move(message)});
}

ErrorValue ErrorValue::panic(std::string message) {
    return ErrorValue(Lazy{Lazy::Kind::panic, OwnedRef(), std::move(message)});
}

ErrorValue ErrorValue::none_was_set() {
    return with_message(PyExc_SystemError, "attempted to fetch exception but none was set");
}

ErrorValue ErrorValue::fetched(OwnedRef type, OwnedRef value, OwnedRef traceback) {
    return ErrorValue(Triple{std::move(type), std::move(value), std::move(traceback), false});
}

ErrorValue::Triple& ErrorValue::normalized_triple() {
    if (auto* lazy = std::get_if<Lazy>(&state_)) {
        // Build the value now, let the interpreter instantiate the exception,
        // and take it back in normalised form.
        OwnedRef type;
        OwnedRef value;
        switch (lazy->kind) {
        case Lazy::Kind::message:
            type = lazy->type.share();
            value = str_from_message(lazy->message);
            break;
        case Lazy::Kind::panic: {
            type = OwnedRef::borrow(panic_exception_type());
            OwnedRef text = str_from_message(lazy->message);
            value = value_part(PyTuple_New(1));
            PyTuple_SetItem(value.get(), 0, text.release());  // steals
            break;
        }
        }
        PyErr_SetObject(type.get(), value.get());
        std::optional<ErrorValue> raised = take_pending_error_raw();
        if (!raised) fail("an exception set by the module was not pending");
        state_ = std::move(raised->state_);
    }
    Triple& triple = std::get<Triple>(state_);
    if (!triple.normalized) {
        PyObject* type = triple.type.release();
        PyObject* value = triple.value.release();
        PyObject* traceback = triple.traceback.release();
        PyErr_NormalizeException(&type, &value, &traceback);
        triple.type = OwnedRef::steal(type);
        triple.value = OwnedRef::steal(value);
        triple.traceback = OwnedRef::steal(traceback);
        triple.normalized = true;
    }
    return triple;
}

void ErrorValue::normalize() { (void)normalized_triple(); }
PyObject* ErrorValue::normalized_type() { return normalized_triple().type.get(); }
PyObject* ErrorValue::normalized_value() { return normalized_triple().value.get(); }
PyObject* ErrorValue::normalized_traceback() { return normalized_triple().traceback.get(); }

bool ErrorValue::matches(PyObject* exception_class) const {
    PyObject* type = nullptr;
    if (const auto* lazy = std::get_if<Lazy>(&state_))
        type = lazy->kind == Lazy::Kind::panic ? panic_exception_type() : lazy->type.get();
    else
        type = std::get<Triple>(state_).type.get();
    return PyErr_GivenExceptionMatches(type, exception_class) != 0;
}

void ErrorValue::raise() && {
    if (std::holds_alternative<Lazy>(state_)) normalize();
    Triple& triple = std::get<Triple>(state_);
    PyErr_Restore(triple.type.release(), triple.value.release(), triple.traceback.release());
}

FetchedIndicator fetch_error_indicator() noexcept {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    return FetchedIndicator{OwnedRef::steal(type), OwnedRef::steal(value), OwnedRef::steal(traceback)};
}

std::optional<ErrorValue> take_pending_error_raw() {
    FetchedIndicator fetched = fetch_error_indicator();
    if (!fetched.type) return std::nullopt;
    return ErrorValue::fetched(std::move(fetched.type), std::move(fetched.value), std::move(fetched.traceback));
}

void discard_pending_error() noexcept { FetchedIndicator dropped = fetch_error_indicator(); }

}  // namespace morvanex::binding

#include "error_value.hpp"

#include <new>

#include "binding_failure.hpp"
#include "messages.hpp"
#include "panic_exception.hpp"
#include "utf8_lossy.hpp"

namespace morvanex::binding {
namespace {

// Making the value of a lazy error fails only when the interpreter is out of
// memory, which expect_created turns into exhausted memory (raised as
// MemoryError), not into an internal failure, which would be fatal while the
// entry frame is raising the error.
OwnedRef str_from_message(const std::string& message) {
    // Messages may quote text from outside the module; make sure the bytes
    // handed to the interpreter are UTF-8.
    std::string text = utf8_lossy(message);
    return expect_created(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

}  // namespace

// --- ErrorValue ----------------------------------------------------------------------------

ErrorValue ErrorValue::with_message(PyObject* exception_type, std::string message) {
    return ErrorValue(Lazy{OwnedRef::borrow(exception_type), std::move(message)});
}

ErrorValue ErrorValue::panic(std::string message) { return ErrorValue(Lazy{OwnedRef(), std::move(message)}); }

ErrorValue ErrorValue::none_was_set() { return with_message(PyExc_SystemError, messages::none_was_set); }

ErrorValue ErrorValue::fetched(ErrorIndicator indicator) {
    return ErrorValue(
        Triple{std::move(indicator.type), std::move(indicator.value), std::move(indicator.traceback), false});
}

ErrorValue::Triple& ErrorValue::normalized_triple() {
    if (auto* lazy = std::get_if<Lazy>(&state_)) {
        // Build the value now, let the interpreter instantiate the exception,
        // and take it back in normalised form.
        OwnedRef type;
        OwnedRef value;
        if (lazy->type) {
            type = lazy->type.share();
            value = str_from_message(lazy->message);
        } else {
            type = OwnedRef::borrow(panic_exception_type());
            OwnedRef text = str_from_message(lazy->message);
            value = expect_created(PyTuple_New(1));
            PyTuple_SetItem(value.get(), 0, text.release());  // steals
        }
        PyErr_SetObject(type.get(), value.get());
        ErrorIndicator raised = take_error_indicator();
        if (!raised.type) fail(messages::exception_not_pending);
        state_ = Triple{std::move(raised.type), std::move(raised.value), std::move(raised.traceback), false};
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

PyObject* ErrorValue::normalized_type() { return normalized_triple().type.get(); }
PyObject* ErrorValue::normalized_value() { return normalized_triple().value.get(); }
PyObject* ErrorValue::normalized_traceback() { return normalized_triple().traceback.get(); }

bool ErrorValue::matches(PyObject* exception_class) const {
    PyObject* type = nullptr;
    if (const auto* lazy = std::get_if<Lazy>(&state_))
        type = lazy->type ? lazy->type.get() : panic_exception_type();
    else
        type = std::get<Triple>(state_).type.get();
    return PyErr_GivenExceptionMatches(type, exception_class) != 0;
}

void ErrorValue::raise() && {
    // A fetched error goes back as it came; only a lazy one is built now.
    if (std::holds_alternative<Lazy>(state_)) (void)normalized_triple();
    Triple& triple = std::get<Triple>(state_);
    PyErr_Restore(triple.type.release(), triple.value.release(), triple.traceback.release());
}

// --- the error indicator --------------------------------------------------------------------

ErrorIndicator take_error_indicator() noexcept {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    return ErrorIndicator{OwnedRef::steal(type), OwnedRef::steal(value), OwnedRef::steal(traceback)};
}

ErrorValue fetch_pending_error() {
    ErrorIndicator pending = take_error_indicator();
    if (!pending.type) return ErrorValue::none_was_set();
    if (pending.type.get() == panic_exception_type()) resume_panic(std::move(pending));
    return ErrorValue::fetched(std::move(pending));
}

void unwind_if_out_of_memory() {
    if (PyErr_ExceptionMatches(PyExc_MemoryError)) {
        (void)take_error_indicator();
        throw std::bad_alloc();
    }
}

void ignore_error(ErrorValue error) {
    if (error.matches(PyExc_MemoryError)) throw std::bad_alloc();
}

}  // namespace morvanex::binding

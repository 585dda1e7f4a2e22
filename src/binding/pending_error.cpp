#include "pending_error.hpp"

#include <cstdio>
#include <new>
#include <string>

#include "failure.hpp"
#include "object_text.hpp"
#include "panic_exception.hpp"

namespace morvanex::binding {
namespace {

[[noreturn]] void resume_panic(OwnedRef type, OwnedRef value, OwnedRef traceback) {
    std::string message = "Unwrapped panic from Python code";
    if (value) {
        // The characters of one str() of the value, taken as they are.
        OwnedRef text = OwnedRef::steal(PyObject_Str(value.get()));
        if (text)
            message = str_text(text.get());
        else
            drop_pending_error();
    }
    std::fputs("--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n"
               "Python stack trace below:\n",
               stderr);
    std::fflush(stderr);
    PyErr_Restore(type.release(), value.release(), traceback.release());
    PyErr_PrintEx(0);
    throw ResumedPanic(std::move(message));
}

}  // namespace

std::optional<ErrorValue> fetch_pending_error() {
    auto [type, value, traceback] = fetch_error_indicator();
    if (!type) return std::nullopt;
    if (type.get() == panic_exception_type())
        resume_panic(std::move(type), std::move(value), std::move(traceback));
    return ErrorValue::fetched(std::move(type), std::move(value), std::move(traceback));
}

ErrorValue fetch_failed_call_error() {
    std::optional<ErrorValue> error = fetch_pending_error();
    if (error) return std::move(*error);
    return ErrorValue::none_was_set();
}

void drop_pending_error() {
    std::optional<ErrorValue> error = fetch_pending_error();
    if (error && error->matches(PyExc_MemoryError)) throw std::bad_alloc();
}

void fail_with_error(std::string_view context, ErrorValue error, std::source_location where) {
    if (error.matches(PyExc_MemoryError)) throw std::bad_alloc();
    std::string message(context);
    message += ": ";
    message += diagnostic_text(error);
    fail(std::move(message), where);
}

}  // namespace morvanex::binding

#include "binding_failure.hpp"

#include <new>
#include <utility>

#include "failure_report.hpp"
#include "object_text.hpp"

namespace morvanex::binding {

BindingFailure::BindingFailure(std::string message, std::source_location where)
    : InternalFailure(std::move(message), where) {
    if (backtrace_requested()) stack_ = platform::capture_native_stack();
}

void fail(std::string message, std::source_location where) { throw BindingFailure(std::move(message), where); }

void fail_with_error(std::string_view context, ErrorValue error, std::source_location where) {
    if (error.matches(PyExc_MemoryError)) throw std::bad_alloc();
    std::string message(context);
    message += ": ";
    message += diagnostic_text(error);
    fail(std::move(message), where);
}

OwnedRef expect_created(PyObject* created, std::source_location where) {
    if (created == nullptr) {
        unwind_if_out_of_memory();
        PyErr_Print();
        fail("Python API call failed", where);
    }
    return OwnedRef::steal(created);
}

}  // namespace morvanex::binding

#include "binding_failure.hpp"

#include <new>
#include <utility>

#include "failure_report.hpp"
#include "messages.hpp"
#include "object_text.hpp"

namespace morvanex::binding {

BindingFailure::BindingFailure(std::string message, std::source_location where)
    : InternalFailure(std::move(message), where) {
    if (backtrace_requested()) stack_ = platform::capture_native_stack();
}

void fail(std::string message, std::source_location where) { throw BindingFailure(std::move(message), where); }

void fail_with_error(std::string_view context, ErrorValue error, std::source_location where) {
    if (error.matches(PyExc_MemoryError)) throw std::bad_alloc();
    fail(messages::failure_with_error(context, diagnostic_text(error)), where);
}

OwnedRef expect_created(PyObject* created, std::source_location where) {
    if (created == nullptr) {
        unwind_if_out_of_memory();
        PyErr_Print();
        fail(messages::api_call_failed, where);
    }
    return OwnedRef::steal(created);
}

}  // namespace morvanex::binding

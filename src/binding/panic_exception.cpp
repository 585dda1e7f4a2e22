#include "panic_exception.hpp"

#include <string>
#include <utility>

#include "binding_failure.hpp"
#include "failure_report.hpp"
#include "messages.hpp"
#include "object_text.hpp"
#include "process_state.hpp"

namespace morvanex::binding {

PyObject* panic_exception_type() {
    if (process_state.panic_exception != nullptr) return process_state.panic_exception;
    OwnedRef created = OwnedRef::steal(
        PyErr_NewExceptionWithDoc(messages::panic_name, messages::panic_doc, PyExc_BaseException, nullptr));
    if (!created) {
        // Taken as it is: checking it for a PanicException would need this
        // very type.
        ErrorIndicator pending = take_error_indicator();
        ErrorValue reason = pending.type ? ErrorValue::fetched(std::move(pending)) : ErrorValue::none_was_set();
        fail_with_error(messages::panic_type_failed, std::move(reason));
    }
    // Creating a class can run Python code; if that code filled the slot
    // meanwhile, the first type stays and this one is dropped.
    if (process_state.panic_exception == nullptr) process_state.panic_exception = created.release();
    return process_state.panic_exception;
}

void resume_panic(ErrorIndicator panic) {
    std::string message = messages::unwrapped_panic;
    if (panic.value) {
        // The characters of one str() of the value, taken as they are.
        OwnedRef text = OwnedRef::steal(PyObject_Str(panic.value.get()));
        if (text)
            message = str_text(text.get());
        else
            ignore_error(ErrorValue::fetched(take_error_indicator()));
    }
    write_resume_banner();
    PyErr_Restore(panic.type.release(), panic.value.release(), panic.traceback.release());
    PyErr_PrintEx(0);
    throw ResumedPanic(std::move(message));
}

}  // namespace morvanex::binding

#include "panic_exception.hpp"

#include "error_value.hpp"
#include "failure.hpp"
#include "pending_error.hpp"

namespace morvanex::binding {
namespace {

constexpr const char* panic_name = "pyo3_runtime.PanicException";
constexpr const char* panic_doc =
    "\n"
    "The exception raised when native code called from Python panics.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

// One strong reference for the rest of the process; guarded by the
// interpreter lock.
PyObject* panic_slot = nullptr;

}  // namespace

PyObject* panic_exception_type() {
    if (panic_slot != nullptr) return panic_slot;
    OwnedRef created = OwnedRef::steal(
        PyErr_NewExceptionWithDoc(panic_name, panic_doc, PyExc_BaseException, nullptr));
    if (!created) {
        // Taken raw: checking it for a PanicException would need this very type.
        std::optional<ErrorValue> error = take_pending_error_raw();
        ErrorValue reason = error ? std::move(*error) : ErrorValue::none_was_set();
        fail_with_error("Failed to initialize new exception type.", std::move(reason));
    }
    // Creating a class can run Python code; if that code filled the slot
    // meanwhile, the first type stays and this one is dropped.
    if (panic_slot == nullptr) panic_slot = created.release();
    return panic_slot;
}

}  // namespace morvanex::binding

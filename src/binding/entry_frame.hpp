#pragma once
// The entry frame: the one exception firewall around each entry point
// (PyInit_morvanex and every call of run_scoring_iteration), where every
// failure inside the binding becomes the one exception CPython receives.
//
// Ownership contract. The body runs inside the frame with the interpreter
// lock held and owns everything it makes; the frame hands CPython the new
// reference the body returns, or null with exactly one exception set, and
// keeps nothing.
#include <type_traits>

#include "error_value.hpp"
#include "python_handles.hpp"

namespace morvanex::binding {

// Runs a body that returns a new reference or an ErrorValue:
//   - an ErrorValue is raised as it is;
//   - an internal failure gets a failure report on standard error and is
//     raised as PanicException (panic_exception.hpp) carrying its message; a
//     resumed panic is raised the same way without a report;
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
    return run_in_entry_frame([](void* context) -> Result<OwnedRef> { return (*static_cast<Callable*>(context))(); },
                              const_cast<void*>(static_cast<const void*>(&body)));
}

// The body of a module function that takes positional and keyword
// arguments, and the entry CPython calls for it (with the module as `self`,
// the positional tuple and the keyword dict or null), running the body in an
// entry frame.
using CallBody = Result<OwnedRef> (*)(PyObject* positional, PyObject* keywords);

template <CallBody body>
PyObject* call_entry_point(PyObject* /*self*/, PyObject* positional, PyObject* keywords) {
    return entry_frame([&] { return body(positional, keywords); });
}

// The method definition of such a function: `doc` begins with its text
// signature block.
template <CallBody body>
PyMethodDef keyword_method(const char* name, const char* doc) {
    return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&call_entry_point<body>)),
            METH_VARARGS | METH_KEYWORDS, doc};
}

// The same for a method: its body gets the instance as `self`.
using MethodBody = Result<OwnedRef> (*)(PyObject* self, PyObject* positional, PyObject* keywords);

template <MethodBody body>
PyObject* method_entry_point(PyObject* self, PyObject* positional, PyObject* keywords) {
    return entry_frame([&] { return body(self, positional, keywords); });
}

template <MethodBody body>
PyMethodDef keyword_method_of_instance(const char* name, const char* doc) {
    return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&method_entry_point<body>)),
            METH_VARARGS | METH_KEYWORDS, doc};
}

// The same for a class method: its body gets the class as `self`.
template <MethodBody body>
PyMethodDef keyword_method_of_class(const char* name, const char* doc) {
    PyMethodDef method = keyword_method_of_instance<body>(name, doc);
    method.ml_flags |= METH_CLASS;
    return method;
}

}  // namespace morvanex::binding

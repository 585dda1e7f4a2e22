// Module initialisation: PyInit_morvanex, the module's only exported symbol,
// makes the module with its function run_scoring_iteration and __version__.
//
// The module uses single-phase initialisation and keeps process-wide state
// (the module slot, the PanicException type, the interned names), so it is
// initialised once per process; every later attempt, for instance from
// another interpreter, fails with ImportError.
#include "binding_failure.hpp"
#include "call_entry.hpp"
#include "conversions.hpp"
#include "entry_frame.hpp"
#include "error_value.hpp"
#include "interned_names.hpp"
#include "messages.hpp"
#include "platform.hpp"
#include "python_handles.hpp"

// The module's init function, exported whatever the build's default
// visibility. CPython 3.8's headers define PyMODINIT_FUNC without a visibility
// attribute (3.9 added one), so a hidden-visibility build made with them would
// export nothing and fail to import everywhere.
#if defined(_WIN32)
#define MORVANEX_MODULE_INIT PyMODINIT_FUNC
#else
#define MORVANEX_MODULE_INIT extern "C" __attribute__((visibility("default"))) PyObject*
#endif

namespace morvanex::binding {
namespace {

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "morvanex",  // m_name
    "",          // m_doc: __doc__ is the empty string, not None
    0,           // m_size: no per-module state
    nullptr,     // m_methods: the function is added by the initialiser
    nullptr,     // m_slots: single-phase initialisation
    nullptr,     // m_traverse
    nullptr,     // m_clear
    nullptr,     // m_free
};

// The initialised module, holding one strong reference for the rest of the
// process once filled. Guarded by the interpreter lock.
PyObject* module_slot = nullptr;

// Adds run_scoring_iteration to `module` (borrowed) and lists it in __all__.
Result<Done> add_function(PyObject* module) {
    // The function object refers to its method definition for as long as it
    // lives, which is the life of the process, so the heap copy is made once
    // and never freed. This static pointer keeps it reachable for leak
    // checkers after the interpreter has released the function object at exit.
    static PyMethodDef* const method_definition = new PyMethodDef(run_scoring_iteration_method);

    OwnedRef module_name = OwnedRef::steal(PyModule_GetNameObject(module));
    if (!module_name) return fetch_pending_error();
    OwnedRef function = OwnedRef::steal(PyCFunction_NewEx(method_definition, module, module_name.get()));
    module_name.reset();
    if (!function) return fetch_pending_error();

    OwnedRef function_name = OwnedRef::steal(PyObject_GetAttr(function.get(), interned::name()));
    if (!function_name) return fetch_pending_error();
    if (!is_str(function_name.get())) return type_mismatch_error(function_name.get(), messages::target_string);

    OwnedRef all = OwnedRef::steal(PyObject_GetAttr(module, interned::all()));
    if (!all) {
        ErrorValue error = fetch_pending_error();
        if (!error.matches(PyExc_AttributeError)) return error;
        all = expect_created(PyList_New(0));
        if (PyObject_SetAttr(module, interned::all(), all.get()) < 0) return fetch_pending_error();
    } else if (!is_list(all.get())) {
        return type_mismatch_error(all.get(), messages::target_list);
    }

    if (PyList_Append(all.get(), function_name.get()) < 0)
        fail_with_error(messages::append_to_all_failed, fetch_pending_error());
    if (PyObject_SetAttr(module, function_name.get(), function.get()) < 0) return fetch_pending_error();
    return Done{};
}

// The package version from the build, so that it cannot differ from the installed metadata.
Result<Done> add_version(PyObject* module) {
    if (PyModule_AddStringConstant(module, "__version__", MORVANEX_VERSION) < 0) return fetch_pending_error();
    return Done{};
}

Result<OwnedRef> initialise_module() {
    if (module_slot != nullptr) return ErrorValue::with_message(PyExc_ImportError, messages::initialised_twice);
    platform::remember_initialising_thread();

    OwnedRef module = OwnedRef::steal(PyModule_Create2(&module_definition, PYTHON_ABI_VERSION));
    if (!module) return fetch_pending_error();
    Result<Done> added = add_function(module.get());
    if (!added.ok()) return added.take_error();  // the new module is released
    Result<Done> versioned = add_version(module.get());
    if (!versioned.ok()) return versioned.take_error();

    // Python code run above could have initialised the module meanwhile; the
    // module stored first wins.
    if (module_slot == nullptr) module_slot = module.release();
    return OwnedRef::borrow(module_slot);
}

}  // namespace
}  // namespace morvanex::binding

MORVANEX_MODULE_INIT PyInit_morvanex() {
    return morvanex::binding::entry_frame([] { return morvanex::binding::initialise_module(); });
}

// Module initialisation: PyInit_morvanex, the module's only exported symbol.
//
// The module uses single-phase initialisation and keeps process-wide state
// (this module slot, the PanicException type, the interned names), so it is
// initialised once per process; every later attempt, for instance from
// another interpreter, fails with ImportError.
#include <memory>

#include "call_boundary.hpp"
#include "entry_frame.hpp"
#include "failure.hpp"
#include "interned_names.hpp"
#include "object_text.hpp"
#include "pending_error.hpp"
#include "type_mismatch.hpp"
#include "type_tests.hpp"

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

// The doc string holds only the text-signature block, so __text_signature__
// is the parameter list and __doc__ is None.
const PyMethodDef function_template = {
    "run_scoring_iteration",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&run_scoring_iteration_entry)),
    METH_VARARGS | METH_KEYWORDS,
    "run_scoring_iteration(root_candidates, affix_candidates, scores, one_char_whitelist)\n--\n\n",
};

// The heap copy of the method definition that the function object uses. It is
// never freed; keeping it here keeps it reachable (for leak checkers) after the
// interpreter has released the function object at exit. Nothing reads it, so
// it is volatile: otherwise the compiler drops the store.
PyMethodDef* volatile method_definition_block = nullptr;

// Adds run_scoring_iteration to `module` (borrowed) and lists it in __all__.
Result<Done> add_function(PyObject* module) {
    OwnedRef module_name = OwnedRef::steal(PyModule_GetNameObject(module));
    if (!module_name) return fetch_failed_call_error();

    // The function object refers to its method definition for as long as it
    // lives, which is the life of the process: the heap copy is never freed
    // once the function exists.
    auto definition = std::make_unique<PyMethodDef>(function_template);
    OwnedRef function = OwnedRef::steal(PyCFunction_NewEx(definition.get(), module, module_name.get()));
    module_name.reset();
    if (!function) return fetch_failed_call_error();
    method_definition_block = definition.release();

    OwnedRef function_name = OwnedRef::steal(PyObject_GetAttr(function.get(), interned::name()));
    if (!function_name) return fetch_failed_call_error();
    if (!is_str(function_name.get())) return type_mismatch_error(function_name.get(), "PyString");

    OwnedRef all = OwnedRef::steal(PyObject_GetAttr(module, interned::all()));
    if (!all) {
        ErrorValue error = fetch_failed_call_error();
        if (!error.matches(PyExc_AttributeError)) return error;
        all = expect_created(PyList_New(0));
        if (PyObject_SetAttr(module, interned::all(), all.get()) < 0) return fetch_failed_call_error();
    } else if (!is_list(all.get())) {
        return type_mismatch_error(all.get(), "PyList");
    }

    if (PyList_Append(all.get(), function_name.get()) < 0)
        fail_with_error("could not append __name__ to __all__", fetch_failed_call_error());
    if (PyObject_SetAttr(module, function_name.get(), function.get()) < 0)
        return fetch_failed_call_error();
    return Done{};
}

Result<OwnedRef> initialise_module() {
    if (module_slot != nullptr)
        return ErrorValue::with_message(
            PyExc_ImportError,
            "PyO3 modules compiled for CPython 3.8 or older may only be initialized once per "
            "interpreter process");

    OwnedRef module = OwnedRef::steal(PyModule_Create2(&module_definition, PYTHON_ABI_VERSION));
    if (!module) return fetch_failed_call_error();
    Result<Done> added = add_function(module.get());
    if (!added.ok()) return added.take_error();  // the new module is released

    // Python code run above could have initialised the module meanwhile; the
    // module stored first wins.
    if (module_slot == nullptr) module_slot = module.release();
    return OwnedRef::borrow(module_slot);
}

}  // namespace
}  // namespace morvanex::binding

MORVANEX_MODULE_INIT PyInit_morvanex() {
    auto body = [] { return morvanex::binding::initialise_module(); };
    return morvanex::binding::entry_frame(body);
}

#include "module_setup.hpp"

#include "binding_failure.hpp"
#include "conversions.hpp"
#include "interned_names.hpp"
#include "messages.hpp"
#include "platform.hpp"
#include "process_state.hpp"

namespace morvanex::binding {

namespace {

// Sets `object` as the module's attribute of its own __name__ and lists it in __all__.
Result<Done> add_named(PyObject* module, PyObject* object) {
    OwnedRef name = OwnedRef::steal(PyObject_GetAttr(object, interned::name()));
    if (!name) return fetch_pending_error();
    if (!is_str(name.get())) return type_mismatch_error(name.get(), messages::target_string);

    OwnedRef all = OwnedRef::steal(PyObject_GetAttr(module, interned::all()));
    if (!all) {
        ErrorValue error = fetch_pending_error();
        if (!error.matches(PyExc_AttributeError)) return error;
        all = expect_created(PyList_New(0));
        if (PyObject_SetAttr(module, interned::all(), all.get()) < 0) return fetch_pending_error();
    } else if (!is_list(all.get())) {
        return type_mismatch_error(all.get(), messages::target_list);
    }

    if (PyList_Append(all.get(), name.get()) < 0)
        fail_with_error(messages::append_to_all_failed, fetch_pending_error());
    if (PyObject_SetAttr(module, name.get(), object) < 0) return fetch_pending_error();
    return Done{};
}

}  // namespace

Result<Done> add_function(PyObject* module, PyMethodDef& definition) {
    OwnedRef module_name = OwnedRef::steal(PyModule_GetNameObject(module));
    if (!module_name) return fetch_pending_error();
    OwnedRef function = OwnedRef::steal(PyCFunction_NewEx(&definition, module, module_name.get()));
    module_name.reset();
    if (!function) return fetch_pending_error();
    return add_named(module, function.get());
}

Result<Done> add_version(PyObject* module) {
    if (PyModule_AddStringConstant(module, "__version__", MORVANEX_VERSION) < 0) return fetch_pending_error();
    return Done{};
}

Result<OwnedRef> initialise_module(PyModuleDef& definition, std::initializer_list<PyMethodDef*> functions,
                                   std::initializer_list<TypeMaker> types) {
    PyObject*& module_slot = process_state.module;
    if (module_slot != nullptr) return ErrorValue::with_message(PyExc_ImportError, messages::initialised_twice);
    platform::remember_initialising_thread();

    OwnedRef module = OwnedRef::steal(PyModule_Create2(&definition, PYTHON_ABI_VERSION));
    if (!module) return fetch_pending_error();
    for (PyMethodDef* function : functions) {
        Result<Done> added = add_function(module.get(), *function);
        if (!added.ok()) return added.take_error();  // the new module is released
    }
    for (TypeMaker make_type : types) {
        Result<OwnedRef> type = make_type();
        if (!type.ok()) return type.take_error();
        Result<Done> added = add_named(module.get(), type.value().get());
        if (!added.ok()) return added.take_error();
    }
    Result<Done> versioned = add_version(module.get());
    if (!versioned.ok()) return versioned.take_error();

    // Python code run above could have initialised the module meanwhile; the
    // module stored first wins.
    if (module_slot == nullptr) module_slot = module.release();
    return OwnedRef::borrow(module_slot);
}

}  // namespace morvanex::binding

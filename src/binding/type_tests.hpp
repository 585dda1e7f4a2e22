#pragma once
// The type tests of the binding. Each accepts subclasses, with the meaning of
// CPython's PySet_Check, PyFrozenSet_Check, PyDict_Check, PyUnicode_Check and
// PyList_Check, written with stable-ABI calls only.
#include "python_api.hpp"

namespace morvanex::binding {

inline bool has_type_flag(PyObject* object, unsigned long flag) {
    return (PyType_GetFlags(Py_TYPE(object)) & flag) != 0;
}

inline bool is_str(PyObject* object) { return has_type_flag(object, Py_TPFLAGS_UNICODE_SUBCLASS); }
inline bool is_dict(PyObject* object) { return has_type_flag(object, Py_TPFLAGS_DICT_SUBCLASS); }
inline bool is_list(PyObject* object) { return has_type_flag(object, Py_TPFLAGS_LIST_SUBCLASS); }

inline bool is_set(PyObject* object) {
    return Py_TYPE(object) == &PySet_Type || PyType_IsSubtype(Py_TYPE(object), &PySet_Type);
}
inline bool is_frozenset(PyObject* object) {
    return Py_TYPE(object) == &PyFrozenSet_Type ||
           PyType_IsSubtype(Py_TYPE(object), &PyFrozenSet_Type);
}

}  // namespace morvanex::binding

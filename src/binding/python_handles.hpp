#pragma once
// Python handles: the binding's only door to the CPython C API, the owner of
// every strong reference and the type tests.
//
// The stable-ABI policy, the one target this build serves, is in
// stable_abi.hpp.
//
// Ownership contract. Every PyObject* that the binding owns lives in an
// OwnedRef, so a reference is released exactly once, on every path, including
// unwinding from an internal failure. A raw PyObject* is always borrowed.
// Releasing a reference may run arbitrary Python code (a __del__), so an
// OwnedRef must only die while the thread holds the interpreter lock, which
// is the case inside an entry frame (entry_frame.hpp) outside the engine call.
//
// Only files under src/binding/ include this header.
#include "stable_abi.hpp"

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace morvanex::binding {

// The one owner of a strong Python reference. Construction says where the
// reference comes from:
//   OwnedRef::steal(p)   takes over a new reference (the result of a CPython
//                        call documented as "new reference"); p may be null;
//   OwnedRef::borrow(p)  takes a new reference of its own to a borrowed
//                        pointer (Py_IncRef); p may be null.
// release() hands the reference on to a caller or a stealing CPython call.
class OwnedRef {
public:
    OwnedRef() noexcept = default;

    [[nodiscard]] static OwnedRef steal(PyObject* object) noexcept { return OwnedRef(object); }
    [[nodiscard]] static OwnedRef borrow(PyObject* object) noexcept {
        Py_IncRef(object);
        return OwnedRef(object);
    }

    OwnedRef(OwnedRef&& other) noexcept : object_(other.release()) {}
    OwnedRef& operator=(OwnedRef&& other) noexcept {
        if (this != &other) {
            reset();
            object_ = other.release();
        }
        return *this;
    }
    OwnedRef(const OwnedRef&) = delete;
    OwnedRef& operator=(const OwnedRef&) = delete;
    ~OwnedRef() { reset(); }

    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }

    // A second strong reference to the same object.
    [[nodiscard]] OwnedRef share() const noexcept { return borrow(object_); }

    // Gives up ownership without releasing; the caller now owns the reference.
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }

    void reset() noexcept {
        // Cleared before the release, which may run Python code.
        Py_DecRef(std::exchange(object_, nullptr));
    }

private:
    explicit OwnedRef(PyObject* object) noexcept : object_(object) {}

    PyObject* object_ = nullptr;
};

// Type tests. Each accepts subclasses, with the meaning of CPython's
// PySet_Check, PyFrozenSet_Check, PyDict_Check, PyUnicode_Check and
// PyList_Check (and PyTuple_Check) and PyFloat_Check, written with stable-ABI calls only.
inline bool has_type_flag(PyObject* object, unsigned long flag) {
    return (PyType_GetFlags(Py_TYPE(object)) & flag) != 0;
}
inline bool is_str(PyObject* object) { return has_type_flag(object, Py_TPFLAGS_UNICODE_SUBCLASS); }
inline bool is_dict(PyObject* object) { return has_type_flag(object, Py_TPFLAGS_DICT_SUBCLASS); }
inline bool is_list(PyObject* object) { return has_type_flag(object, Py_TPFLAGS_LIST_SUBCLASS); }
inline bool is_tuple(PyObject* object) { return has_type_flag(object, Py_TPFLAGS_TUPLE_SUBCLASS); }
inline bool is_set(PyObject* object) {
    return Py_TYPE(object) == &PySet_Type || PyType_IsSubtype(Py_TYPE(object), &PySet_Type);
}
inline bool is_float(PyObject* object) {
    return Py_TYPE(object) == &PyFloat_Type || PyType_IsSubtype(Py_TYPE(object), &PyFloat_Type);
}
inline bool is_frozenset(PyObject* object) {
    return Py_TYPE(object) == &PyFrozenSet_Type || PyType_IsSubtype(Py_TYPE(object), &PyFrozenSet_Type);
}

}  // namespace morvanex::binding

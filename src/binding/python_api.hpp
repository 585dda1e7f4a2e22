#pragma once
// The binding's only door to the CPython C API.
//
// Stable-ABI policy. The module ships as one abi3 wheel that loads into every
// CPython from 3.8 on, so the binding is compiled with
// Py_LIMITED_API = 0x03080000 (set by the build) and uses nothing else:
//   - only functions and data that the 3.8 stable ABI exports;
//   - no struct fields beyond ob_refcnt / ob_type (read through Py_TYPE);
//   - no macros that expand to interpreter internals (PyTuple_GET_ITEM,
//     PyUnicode_AsUTF8AndSize before 3.10 and the like);
//   - reference counts change only through the exported Py_IncRef and
//     Py_DecRef, never through inline macros, so the compiled code stays
//     valid for interpreters with a different object layout (immortal
//     objects, free threading).
// The legacy error indicator calls (PyErr_Fetch / PyErr_Restore /
// PyErr_NormalizeException) are the 3.8 way of moving an exception around;
// they stay in the stable ABI on later interpreters.
//
// Only files under src/binding/ include this header.
#if !defined(Py_LIMITED_API)
#error "the binding must be compiled against the stable ABI (Py_LIMITED_API)"
#elif Py_LIMITED_API != 0x03080000
#error "the binding targets the stable ABI of CPython 3.8 exactly"
#endif

#define PY_SSIZE_T_CLEAN
#include <Python.h>

// The module's init function, exported whatever the build's default
// visibility. CPython 3.8's headers define PyMODINIT_FUNC without a visibility
// attribute (3.9 added one), so a hidden-visibility build made with them would
// export nothing and fail to import everywhere.
#if defined(_WIN32)
#define MORVANEX_MODULE_INIT PyMODINIT_FUNC
#else
#define MORVANEX_MODULE_INIT extern "C" __attribute__((visibility("default"))) PyObject*
#endif

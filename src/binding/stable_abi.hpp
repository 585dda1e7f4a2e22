#pragma once
// Stable-ABI policy. The module ships as abi3 wheels, each of which loads
// into every CPython from its target version on; the build compiles the
// binding for one target, given by Py_LIMITED_API (CMake's
// MORVANEX_STABLE_ABI, from scikit-build-core's wheel.py-api):
//   0x03080000 (cp38-abi3): strings are read through a temporary bytes
//              object per string (PyUnicode_AsUTF8String);
//   0x030A0000 (cp310-abi3): strings are read where the interpreter keeps
//              their UTF-8 form (PyUnicode_AsUTF8AndSize, in the stable ABI
//              from 3.10): an ASCII string's own bytes, or the UTF-8 copy
//              the interpreter caches in a non-ASCII string on first use.
// Either way the binding uses nothing but what its target's stable ABI
// exports, and nothing is looked up at run time:
//   - no struct fields beyond ob_refcnt / ob_type (read through Py_TYPE);
//   - reference counts change only through the exported Py_IncRef and
//     Py_DecRef, never through inline macros, so the compiled code stays
//     valid for interpreters with a different object layout (immortal
//     objects, free threading).
#if !defined(Py_LIMITED_API)
#error "the binding must be compiled against the stable ABI (Py_LIMITED_API)"
#elif Py_LIMITED_API == 0x03080000
#define MORVANEX_UTF8_IN_PLACE 0
#elif Py_LIMITED_API == 0x030A0000
#define MORVANEX_UTF8_IN_PLACE 1
#else
#error "the binding targets the stable ABI of CPython 3.8 or 3.10 exactly"
#endif

#pragma once
// Text that the companion module writes for files: floats as repr() writes
// them, and fields of tab-separated lines.
//
// Ownership contract: every function appends to a std::string the caller
// owns; no Python object is created or kept. They call into CPython (its
// float formatting allocates with PyMem_Malloc), so the interpreter lock must
// be held, inside an entry frame.
#include <string>
#include <string_view>

namespace morvanex::binding {

// `value` as repr(value) gives it: the shortest text that reads back as the
// same double ("0.1", "1e-05", "2.0", "inf", "-inf", "nan").
void append_float_repr(std::string& out, double value);

// `text` as one field of a tab-separated line: backslash, tab, newline and
// carriage return become \\, \t, \n and \r.
void append_tsv_field(std::string& out, std::string_view text);

}  // namespace morvanex::binding

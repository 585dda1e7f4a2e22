#pragma once
// Text that the companion module writes for files: fields of tab-separated
// lines (floats are written by the engine's append_float_repr).
//
// Ownership contract: appends to a std::string the caller owns; no Python
// object is touched, so the interpreter lock is not needed.
#include <string>
#include <string_view>

namespace morvanex::binding {

// `text` as one field of a tab-separated line: backslash, tab, newline and
// carriage return become \\, \t, \n and \r.
void append_tsv_field(std::string& out, std::string_view text);

}  // namespace morvanex::binding

#pragma once
// Text of Python objects for messages and diagnostics.
//
// These texts only ever appear inside messages; strings that become engine
// data go through the strict conversion of conversion.hpp instead.
#include <string>
#include <string_view>

#include "error_value.hpp"

namespace morvanex::binding {

// str(object) as UTF-8. The str is encoded with "surrogatepass" and decoded
// back leniently, so every lone surrogate shows as three U+FFFD characters.
// When str() raises, the exception is reported with PyErr_WriteUnraisable and
// the text is "<unprintable TYPENAME object>" (or "<unprintable object>" when
// the type's __name__ is not a str). `object` is borrowed.
std::string object_text(PyObject* object);

// The characters of `text` (borrowed), a str or a str subclass, as object_text
// renders them, without calling its __str__.
std::string str_text(PyObject* text);

// As object_text, with repr() in place of str().
std::string object_repr_text(PyObject* object);

// "PyErr { type: <repr>, value: <repr>, traceback: None | Some(<repr>) }" for
// `error`, which is normalised first.
std::string diagnostic_text(ErrorValue& error);

// `bytes` decoded as UTF-8 with each maximal invalid subsequence replaced by
// U+FFFD; valid input comes back unchanged.
std::string utf8_lossy(std::string_view bytes);

}  // namespace morvanex::binding

#pragma once
// Text of Python objects for messages and failure reports. Strings that
// become engine data go through the strict conversion of conversions.hpp
// instead. Every text is valid UTF-8: each lone surrogate shows as three
// U+FFFD characters.
//
// Ownership contract. Objects are borrowed; the texts are new strings owned by
// the caller. Everything here runs with the interpreter lock held and may run
// Python code (str(), repr(), a metaclass's __name__); exhausted memory
// unwinds as std::bad_alloc.
#include <string>

#include "error_value.hpp"
#include "python_handles.hpp"

namespace morvanex::binding {

// str(object) as UTF-8. The str is encoded with "surrogatepass" and decoded
// back leniently. When str() raises, the exception is reported with
// PyErr_WriteUnraisable and the text is "<unprintable TYPENAME object>" (or
// "<unprintable object>" when the type's __name__ is not a str).
std::string object_text(PyObject* object);

// The characters of `text`, a str or a str subclass, as object_text renders
// them, without calling its __str__.
std::string str_text(PyObject* text);

// "PyErr { type: <repr>, value: <repr>, traceback: None | Some(<repr>) }",
// each repr rendered as object_text renders a str(); normalises `error`.
std::string diagnostic_text(ErrorValue& error);

}  // namespace morvanex::binding

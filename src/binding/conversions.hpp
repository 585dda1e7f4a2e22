#pragma once
// Conversions between Python values and the engine's containers, and the
// type-mismatch TypeError they report.
//
// Ownership contract:
//   - input objects are borrowed from the caller and never modified; any
//     reference a conversion takes of its own (to the object, an iterator, an
//     item, a key or value, a temporary bytes object) is held in an OwnedRef
//     and released before the conversion returns, on success, on a conversion
//     error and on an internal failure alike;
//   - the engine containers returned own copies of all strings: no reference
//     to a Python object outlives the conversion;
//   - a conversion error is an ErrorValue owned by the caller (a type
//     mismatch TypeError, or the exception a CPython call raised, passed
//     through unchanged); everything else unwinds as an internal failure or
//     as exhausted memory.
// All conversions run with the interpreter lock held, inside an entry frame,
// and may run Python code (a set subclass's __iter__, a value's __float__, a
// metaclass's __qualname__).
#include <string_view>

#include "error_value.hpp"
#include "inserted_scores.hpp"
#include "inserted_strings.hpp"
#include "python_handles.hpp"
#include "result_table.hpp"
#include "string_list.hpp"

namespace morvanex::binding {

// A walk over a dict's items while Python code may run between two steps
// (a value's __float__, a write callable): a change of the dict's size, or
// more items than it had, is the internal failure dict_changed_size or
// dict_keys_changed. The dict is borrowed; the caller keeps it alive.
class DictItems {
public:
    explicit DictItems(PyObject* dict) : dict_(dict), recorded_size_(PyDict_Size(dict)), remaining_(recorded_size_) {}
    std::size_t size() const { return static_cast<std::size_t>(recorded_size_); }
    // The next item as new references, or false at the end.
    bool next(OwnedRef& key, OwnedRef& value);

private:
    PyObject* dict_;
    Py_ssize_t recorded_size_;
    Py_ssize_t remaining_;
    Py_ssize_t cursor_ = 0;
};

// A new str of `text`, which is valid UTF-8 (the engine's strings are).
OwnedRef str_from_utf8(std::string_view text);

// A new tuple (first, second), which takes both references.
OwnedRef pair_of(OwnedRef first, OwnedRef second);

// The type-mismatch TypeError for `object`:
//   "'<qualified type name>' object cannot be converted to '<target>'".
// The type name is the __qualname__ of the object's type, converted strictly
// to UTF-8; when it cannot be read, is not a str or has no UTF-8 form it is
// "<failed to extract type name>". The message is made at once; a
// PanicException raised meanwhile by Python code is resumed.
ErrorValue type_mismatch_error(PyObject* object, const char* target);

// The strict UTF-8 form of a str. With the 3.8 stable ABI it lives in a
// temporary bytes object that this value owns; with that of 3.10 it is the
// interpreter's own UTF-8 form of the string, valid while the string lives.
// The engine copies the bytes when it stores them.
class Utf8Text {
public:
#if MORVANEX_UTF8_IN_PLACE
    explicit Utf8Text(std::string_view view) : view_(view) {}
#else
    Utf8Text(std::string_view view, OwnedRef bytes) : bytes_(std::move(bytes)), view_(view) {}
#endif
    std::string_view view() const { return view_; }

private:
#if !MORVANEX_UTF8_IN_PLACE
    OwnedRef bytes_;
#endif
    std::string_view view_;
};

// `object` must be a str or a str subclass; its stored code points are
// encoded strictly, U+0000 included; the caller keeps `object` alive while
// it reads the text. A non-str gives the "PyString" type
// mismatch; a lone surrogate gives the interpreter's UnicodeEncodeError.
Result<Utf8Text> string_from_object(PyObject* object);

// `object` as PyFloat_AsDouble reads it; the exception it raises is the
// conversion error. Any double, NaN and -1.0 included, is a value.
Result<double> double_from_object(PyObject* object);

// `object` as a size or position: an int, or anything with __index__, not
// negative (else a ValueError saying `negative`).
Result<std::size_t> index_from_object(PyObject* object, const char* negative);

// `object` must be a set or frozenset (or a subclass); its elements are what
// PyObject_GetIter yields, each converted by string_from_object. A non-set
// gives the "PySet" type mismatch; the first failing element ends the
// conversion with its error. An exception from the iterator itself is an
// internal failure in the set_iteration_failed context.
Result<InsertedStrings> string_set_from_object(PyObject* object);

// `object` as string_set_from_object takes it, or a list or a tuple (or a
// subclass) whose stored items string_list_from_object takes, repeats
// counting once: a word list walks its strings in the order they were made,
// where a set of millions reads them out of order. Anything else gives the
// "set, frozenset, list or tuple" type mismatch.
Result<InsertedStrings> candidate_strings_from_object(PyObject* object);

// `object` must be a list or a tuple (or a subclass); its stored items, in
// order, each converted by string_from_object, repeats kept. Anything else
// gives the "list or tuple" type mismatch; the first failing item ends the
// conversion with its error.
Result<StringList> string_list_from_object(PyObject* object);

// `object` must be a dict or a dict subclass; its stored entries
// (PyDict_Next) become the table, each key converted before its value. A
// non-dict gives the "PyDict" type mismatch. A change of the dict's size, or
// more entries than it had at the start, during the walk is an internal
// failure.
Result<InsertedScores> score_table_from_object(PyObject* object);

// Ties the conversion error of one argument to its parameter: an error of
// exactly TypeError becomes a new TypeError "argument '<parameter>': <message>"
// that keeps the original's __cause__ (None when it has none) and suppresses
// the context; any other error is returned unchanged.
ErrorValue tie_error_to_argument(std::string_view parameter, ErrorValue error);

// Consumes the engine's result table and returns a new dict with its keys in
// the table's order. Every failure is an internal failure or exhausted memory.
OwnedRef dict_from_score_table(ResultTable table);

}  // namespace morvanex::binding

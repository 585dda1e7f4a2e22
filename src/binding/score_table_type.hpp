#pragma once
// morvanex_covers.ScoreTable: a score table and one-character whitelist
// taken in and indexed once, then searched by any number of cover, own-best
// and row-writing calls, which skip the conversion and indexing that each
// module-level function does on its own.
//
// Ownership contract: an instance owns its PieceIndex alone (no Python
// reference), deleted when the instance is; the index is never changed once
// made, so calls on several threads may read it at once, each holding the
// instance through its bound method. A table made from counted scores, or
// by updated(), also holds those scores in byte order (a capsule): the
// counted ones are indexed by the first search, with the interpreter lock
// held throughout. The type, made from a spec
// that lives for the whole process, is a heap type that each instance holds a
// reference to.
#include "error_value.hpp"
#include "inserted_scores.hpp"
#include "inserted_strings.hpp"
#include "python_handles.hpp"

namespace morvanex::binding {

// The new type object, for the module to add.
Result<OwnedRef> make_score_table_type();

// A new instance of `type` (ScoreTable or a subclass) of `scores` (each key
// once, in byte order) and `one_char_whitelist`, indexed by its first search.
OwnedRef unindexed_table(PyTypeObject* type, InsertedScores scores, InsertedStrings one_char_whitelist);

// ScoreTable.from_substring_frequencies, whose counting lives with the
// other counts (count_entries.cpp).
Result<OwnedRef> from_substring_frequencies_body(PyObject* cls, PyObject* positional, PyObject* keywords);

}  // namespace morvanex::binding

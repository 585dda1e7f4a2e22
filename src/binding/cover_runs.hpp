#pragma once
// The searches behind morvanex_covers' cover functions: their arguments taken
// as run_scoring_iteration takes them, then the engine run as in a call
// (thread setting, signal checks, interpreter lock released meanwhile).
//
// Ownership contract: the arguments are borrowed; the caller keeps them alive
// for the call. What the engine returns owns copies of every string. A
// conversion error comes back tied to the argument's name (`names`, in the
// order of the arguments).
#include "driver.hpp"
#include "error_value.hpp"
#include "python_handles.hpp"
#include "word_covers.hpp"

namespace morvanex::binding {

// The best covers of words, scores, one_char_whitelist, kind (`arguments`;
// words a list or tuple of str; kind "root" or "affix", null for a root).
Result<WordCovers> run_word_covers(PyObject* const arguments[4], const char* const names[4]);

// Each candidate's score and whether an iteration keeps it, for the four
// arguments of run_scoring_iteration.
Result<OwnBestCovers> run_own_best_covers(PyObject* const arguments[4], const char* const names[4]);

// The candidates that `own` finds kept, as a new set of str.
OwnedRef kept_set(const OwnBestCovers& own);

}  // namespace morvanex::binding

// The entries of morvanex_covers.best_covers and own_best_covers: the covers
// that the searches of cover_runs read back, as Python values.
#include <string_view>
#include <utility>

#include "binding_failure.hpp"
#include "conversions.hpp"
#include "cover_runs.hpp"
#include "covers_entries.hpp"
#include "entry_frame.hpp"
#include "messages.hpp"

namespace morvanex::binding {
namespace {

// [(pieces, value), ...]: one pair per word, in order.
OwnedRef list_from_covers(const WordCovers& covers) {
    OwnedRef list = expect_created(PyList_New(static_cast<Py_ssize_t>(covers.size())));
    for (std::size_t k = 0; k < covers.size(); ++k) {
        Py_ssize_t piece_count = 0;
        if (covers.value(k) > -1.0) covers.for_each_piece(k, [&](std::string_view) { ++piece_count; });
        OwnedRef pieces = expect_created(PyTuple_New(piece_count));
        Py_ssize_t next = 0;
        if (covers.value(k) > -1.0)
            covers.for_each_piece(k, [&](std::string_view piece) {
                PyTuple_SetItem(pieces.get(), next++, str_from_utf8(piece).release());  // steals
            });
        OwnedRef value = expect_created(PyFloat_FromDouble(covers.value(k)));
        OwnedRef pair = expect_created(PyTuple_New(2));
        // Tuples of str and float cannot be part of a cycle, and the cyclic
        // collector untracks them itself once it meets them; untracked at
        // once, millions of them do not make each collection meanwhile walk
        // them all (which doubled the time of a call on 4.3 M words).
        PyObject_GC_UnTrack(pieces.get());
        PyTuple_SetItem(pair.get(), 0, pieces.release());
        PyTuple_SetItem(pair.get(), 1, value.release());
        PyObject_GC_UnTrack(pair.get());
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(k), pair.release());
    }
    return list;
}

Result<OwnedRef> best_covers_body(PyObject* positional, PyObject* keywords) {
    static const char* const names[] = {"words", "scores", "one_char_whitelist", "kind", nullptr};
    PyObject* argument[4] = {};
    if (!PyArg_ParseTupleAndKeywords(positional, keywords, "OOO|O:best_covers", const_cast<char**>(names), &argument[0],
                                     &argument[1], &argument[2], &argument[3]))
        return fetch_pending_error();
    // Held for the whole call: the keyword dict is not ours.
    const OwnedRef held[] = {OwnedRef::borrow(argument[0]), OwnedRef::borrow(argument[1]),
                             OwnedRef::borrow(argument[2]), OwnedRef::borrow(argument[3])};
    Result<WordCovers> covers = run_word_covers(argument, names);
    if (!covers.ok()) return covers.take_error();
    return list_from_covers(covers.value());
}

Result<OwnedRef> own_best_covers_body(PyObject* positional, PyObject* keywords) {
    static const char* const names[] = {"root_candidates", "affix_candidates", "scores", "one_char_whitelist", nullptr};
    PyObject* argument[4] = {};
    if (!PyArg_ParseTupleAndKeywords(positional, keywords, "OOOO:own_best_covers", const_cast<char**>(names),
                                     &argument[0], &argument[1], &argument[2], &argument[3]))
        return fetch_pending_error();
    const OwnedRef held[] = {OwnedRef::borrow(argument[0]), OwnedRef::borrow(argument[1]),
                             OwnedRef::borrow(argument[2]), OwnedRef::borrow(argument[3])};
    Result<OwnBestCovers> own = run_own_best_covers(argument, names);
    if (!own.ok()) return own.take_error();
    return kept_set(own.value());
}

}  // namespace

PyMethodDef best_covers_method = keyword_method<best_covers_body>(
    "best_covers", "best_covers(words, scores, one_char_whitelist, kind='root')\n--\n\n"
                   "The best cover of each word of `words` (a list or tuple of str) under\n"
                   "`scores` and `one_char_whitelist`, taken as run_scoring_iteration takes\n"
                   "them, as a root or as an affix (`kind`, 'root' or 'affix').\n"
                   "\n"
                   "Returns a list with one (pieces, value) pair per word, in order: the\n"
                   "cover's pieces, a tuple of str that concatenates to the word, and its\n"
                   "value N, bit for bit the N that run_scoring_iteration compares with the\n"
                   "word's score. A word without a cover, and the empty word, give ((), -1.0).\n"
                   "Among covers of equal value the one kept is the one whose last piece\n"
                   "starts earliest, position by position from the end of the word.\n"
                   "MORVANEX_NUM_THREADS and Ctrl-C act as in run_scoring_iteration.");

PyMethodDef own_best_covers_method = keyword_method<own_best_covers_body>(
    "own_best_covers", "own_best_covers(root_candidates, affix_candidates, scores, one_char_whitelist)\n--\n\n"
                       "The set of non-empty candidates whose score an iteration of\n"
                       "run_scoring_iteration with the same arguments keeps: those with no cover\n"
                       "(N < 0) or a score at least their cover's value (P >= N). A string in\n"
                       "both candidate sets is judged as an affix, as its entry in the\n"
                       "iteration's result is.");

}  // namespace morvanex::binding

// The entries of morvanex_covers.best_covers and own_best_covers: their
// arguments are taken as run_scoring_iteration takes them, the engine runs as
// in a call (thread setting, signal checks, interpreter lock), and the covers
// it read back become Python values.
#include <string_view>
#include <utility>

#include "binding_failure.hpp"
#include "conversions.hpp"
#include "covers_entries.hpp"
#include "driver.hpp"
#include "entry_frame.hpp"
#include "interpreter_lock.hpp"
#include "messages.hpp"
#include "word_covers.hpp"

namespace morvanex::binding {
namespace {

// "root" or "affix"; anything else is a ValueError. Absent: a root.
Result<CandidateKind> kind_from_object(PyObject* object) {
    if (object == nullptr) return CandidateKind::root;
    if (is_str(object)) {
        Result<Utf8Text> text = string_from_object(object);
        if (!text.ok()) return text.take_error();
        if (text.value().view() == "root") return CandidateKind::root;
        if (text.value().view() == "affix") return CandidateKind::affix;
    }
    return ErrorValue::with_message(PyExc_ValueError, messages::bad_kind);
}

OwnedRef str_from_text(std::string_view text) {
    return expect_created(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

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
                PyTuple_SetItem(pieces.get(), next++, str_from_text(piece).release());  // steals
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
    PyObject* words_argument = nullptr;
    PyObject* scores_argument = nullptr;
    PyObject* whitelist_argument = nullptr;
    PyObject* kind_argument = nullptr;
    if (!PyArg_ParseTupleAndKeywords(positional, keywords, "OOO|O:best_covers", const_cast<char**>(names),
                                     &words_argument, &scores_argument, &whitelist_argument, &kind_argument))
        return fetch_pending_error();
    // Held for the whole call: the keyword dict is not ours.
    const OwnedRef held[] = {OwnedRef::borrow(words_argument), OwnedRef::borrow(scores_argument),
                             OwnedRef::borrow(whitelist_argument), OwnedRef::borrow(kind_argument)};

    Result<StringList> words = string_list_from_object(words_argument);
    if (!words.ok()) return tie_error_to_argument(names[0], words.take_error());
    Result<InsertedScores> scores = score_table_from_object(scores_argument);
    if (!scores.ok()) return tie_error_to_argument(names[1], scores.take_error());
    Result<InsertedStrings> whitelist = string_set_from_object(whitelist_argument);
    if (!whitelist.ok()) return tie_error_to_argument(names[2], whitelist.take_error());
    Result<CandidateKind> kind = kind_from_object(kind_argument);
    if (!kind.ok()) return kind.take_error();

    Result<WordCovers> covers = run_engine<WordCovers>([&](std::size_t threads, Interruption& interruption) {
        return best_word_covers(std::move(words).value(), std::move(scores).value(), std::move(whitelist).value(),
                                kind.value(), threads, interruption);
    });
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

    Result<InsertedStrings> roots = string_set_from_object(argument[0]);
    if (!roots.ok()) return tie_error_to_argument(names[0], roots.take_error());
    Result<InsertedStrings> affixes = string_set_from_object(argument[1]);
    if (!affixes.ok()) return tie_error_to_argument(names[1], affixes.take_error());
    Result<InsertedScores> scores = score_table_from_object(argument[2]);
    if (!scores.ok()) return tie_error_to_argument(names[2], scores.take_error());
    Result<InsertedStrings> whitelist = string_set_from_object(argument[3]);
    if (!whitelist.ok()) return tie_error_to_argument(names[3], whitelist.take_error());

    Result<ResultTable> table = run_engine<ResultTable>([&](std::size_t threads, Interruption& interruption) {
        return own_best_cover_table(std::move(roots).value(), std::move(affixes).value(), std::move(scores).value(),
                                    std::move(whitelist).value(), threads, interruption);
    });
    if (!table.ok()) return table.take_error();
    OwnedRef kept = expect_created(PySet_New(nullptr));
    for (ResultTable::Entry entry = 0; entry < table.value().size(); ++entry) {
        if (table.value().value(entry) == 0.0) continue;
        if (PySet_Add(kept.get(), str_from_text(table.value().key(entry)).get()) < 0)
            fail_with_error(messages::add_to_set_failed, fetch_pending_error());
    }
    return kept;
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

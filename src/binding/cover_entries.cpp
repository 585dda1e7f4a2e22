// The entries of morvanex_covers.best_covers and own_best_covers: one search
// of cover_runs over pieces indexed for it alone, read back as Python values.
#include <utility>

#include "conversions.hpp"
#include "cover_runs.hpp"
#include "covers_entries.hpp"
#include "entry_frame.hpp"
#include "held_arguments.hpp"

namespace morvanex::binding {
namespace {

Result<OwnedRef> best_covers_body(PyObject* positional, PyObject* keywords) {
    static const char* const names[] = {"words", "scores", "one_char_whitelist", "kind", nullptr};
    Result<HeldArguments<4>> parsed = HeldArguments<4>::parse(positional, keywords, "OOO|O:best_covers", names);
    if (!parsed.ok()) return parsed.take_error();
    const HeldArguments<4>& argument = parsed.value();
    Result<StringList> words = string_list_from_object(argument[0]);
    if (!words.ok()) return tie_error_to_argument(names[0], words.take_error());
    Result<UnindexedPieces> pieces = pieces_from_objects(argument[1], argument[2], names[1], names[2]);
    if (!pieces.ok()) return pieces.take_error();
    Result<CandidateKind> kind = kind_from_object(argument[3]);
    if (!kind.ok()) return kind.take_error();
    Result<WordCovers> covers = run_word_covers(std::move(pieces).value(), std::move(words).value(), kind.value());
    if (!covers.ok()) return covers.take_error();
    return list_from_covers(covers.value());
}

Result<OwnedRef> own_best_covers_body(PyObject* positional, PyObject* keywords) {
    static const char* const names[] = {"root_candidates", "affix_candidates", "scores", "one_char_whitelist", nullptr};
    Result<HeldArguments<4>> parsed = HeldArguments<4>::parse(positional, keywords, "OOOO:own_best_covers", names);
    if (!parsed.ok()) return parsed.take_error();
    const HeldArguments<4>& argument = parsed.value();
    Result<InsertedStrings> roots = string_set_from_object(argument[0]);
    if (!roots.ok()) return tie_error_to_argument(names[0], roots.take_error());
    Result<InsertedStrings> affixes = string_set_from_object(argument[1]);
    if (!affixes.ok()) return tie_error_to_argument(names[1], affixes.take_error());
    Result<UnindexedPieces> pieces = pieces_from_objects(argument[2], argument[3], names[2], names[3]);
    if (!pieces.ok()) return pieces.take_error();
    Result<OwnBestCovers> own =
        run_own_best_covers(std::move(pieces).value(), std::move(roots).value(), std::move(affixes).value());
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

#pragma once
// The searches behind morvanex_covers' cover functions and ScoreTable's
// methods: their arguments taken as run_scoring_iteration takes them, then
// the engine run as in a call (thread setting, signal checks, interpreter
// lock released meanwhile).
//
// Ownership contract: Python arguments are borrowed; the caller keeps them
// alive for the call. What the conversions and the engine return owns copies
// of every string. A borrowed PieceIndex must outlive the run (a ScoreTable
// method holds its table). A conversion error comes back tied to the
// argument's name.
#include <memory>
#include <variant>

#include "driver.hpp"
#include "error_value.hpp"
#include "python_handles.hpp"
#include "word_covers.hpp"

namespace morvanex::binding {

// Scores and a whitelist converted, to be indexed inside the engine run of
// one search.
struct UnindexedPieces {
    InsertedScores scores;
    InsertedStrings one_char_whitelist;
};

// The pieces a search walks: a ScoreTable's index, or pieces of its own.
using SearchPieces = std::variant<const PieceIndex*, UnindexedPieces>;

// `scores` (a dict) and `one_char_whitelist` (a set) converted.
Result<UnindexedPieces> pieces_from_objects(PyObject* scores, PyObject* one_char_whitelist, const char* scores_name,
                                            const char* whitelist_name);

// "root" or "affix"; anything else is a ValueError. Null: a root.
Result<CandidateKind> kind_from_object(PyObject* object);

// The index of `scores` and `one_char_whitelist`, made by the engine for a
// ScoreTable.
Result<std::unique_ptr<const PieceIndex>> run_index_pieces(InsertedScores scores,
                                                           const InsertedStrings& one_char_whitelist);

// The best covers of `words` as `kind` by `pieces`, those of the roots that
// `known_roots` (an own-best search over the same pieces, if any) scored
// taken from it.
Result<WordCovers> run_word_covers(SearchPieces pieces, StringList words, CandidateKind kind,
                                   const OwnBestCovers* known_roots = nullptr);

// Each candidate's score and whether an iteration keeps it, by `pieces`.
Result<OwnBestCovers> run_own_best_covers(SearchPieces pieces, InsertedStrings roots, InsertedStrings affixes);

// The candidates that `own` finds kept, as a new set of str.
OwnedRef kept_set(const OwnBestCovers& own);

// [(pieces, value), ...]: one pair per word, in order; ((), -1.0) for a word
// without a cover.
OwnedRef list_from_covers(const WordCovers& covers);

// {piece: how many words' covers use it}, in the pieces' code point order.
OwnedRef dict_of_piece_uses(const WordCovers& covers);

}  // namespace morvanex::binding

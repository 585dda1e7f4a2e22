#pragma once
// One re-scoring iteration over the root and affix candidates.
//
// Every non-empty candidate gets a new score from its best cover N and its
// previous score P (its value in `scores`, else +0.0): P when N < 0 or
// P >= N, else (1.0 / L) / (N + 1.0) with L its length in characters. A
// string in both sets gets its value as an affix, as if roots were scored
// first and affixes after them.
// The result iterates in first-insertion order: roots in the order of
// `root_candidates`, then the affixes that were not roots.
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "inserted_scores.hpp"
#include "inserted_strings.hpp"
#include "interruption.hpp"
#include "piece_index.hpp"
#include "result_table.hpp"

namespace morvanex {

// `worker_threads` is how many threads may work at once, the calling thread
// included (0 or 1: the calling thread alone, starting none). The result
// does not depend on it. The calling thread asks `interruption` whether to
// go on at bounded intervals of the work, in every phase; on a stop the call
// ends by throwing Interrupted, on lost threads by throwing ThreadsLost.
ResultTable rescore_candidates(InsertedStrings root_candidates, InsertedStrings affix_candidates, InsertedScores scores,
                               InsertedStrings one_char_whitelist, std::size_t worker_threads,
                               Interruption& interruption);

// The same, never interrupted.
inline ResultTable rescore_candidates(InsertedStrings root_candidates, InsertedStrings affix_candidates,
                                      InsertedScores scores, InsertedStrings one_char_whitelist,
                                      std::size_t worker_threads = 1) {
    Interruption never;
    return rescore_candidates(std::move(root_candidates), std::move(affix_candidates), std::move(scores),
                              std::move(one_char_whitelist), worker_threads, never);
}

// The pieces of `scores` that searches walk, the one-character ones among
// them as `one_char_whitelist` allows: built once, then read by any number
// of searches at once (own_best_cover_table, best_word_covers).
PieceIndex index_pieces(InsertedScores scores, const InsertedStrings& one_char_whitelist, std::size_t worker_threads,
                        Interruption& interruption);

// The positions 0, 1, ... of scores that hold each key once, in byte order:
// the order of keys that PieceIndex takes.
std::vector<std::uint32_t> positions_in_order(const InsertedScores& scores);

// `base` (each key once, in byte order) with the scores of `updates` put
// over it, as a dict's update puts them: each key once, in byte order. The
// updates are sorted on up to `worker_threads` threads.
InsertedScores updated_in_byte_order(const InsertedScores& base, const InsertedScores& updates,
                                     std::size_t worker_threads, Interruption& interruption);

// Whether the update rule keeps the previous score: no cover (N < 0), or a
// previous score at least the cover's value.
bool keeps_score(double previous, double best_cover);

// The table of an iteration over `pieces`, with each candidate's previous
// score as its value, and for each entry whether the update rule keeps that
// score (the candidate is its own best cover). The best covers of the
// entries scored as roots are kept too: later searches of the same strings
// as roots over the same pieces take them from here (best_word_covers).
struct OwnBestCovers {
    ResultTable previous;
    std::vector<double> cover_value;         // per entry: its best cover's value N (-1.0: none)
    std::vector<std::uint8_t> piece_begins;  // per byte of previous.roots(): 1 where a piece of a root's cover begins

    // Whether the update rule keeps the entry's previous score.
    bool kept(ResultTable::Entry entry) const { return keeps_score(previous.value(entry), cover_value[entry]); }

    // The best cover of `text` as a root, if `text` has an entry scored as a
    // root: its value, and where its pieces begin (a byte per byte of `text`).
    struct KnownCover {
        double value;
        const std::uint8_t* piece_begins;
    };
    // Finds root covers for strings asked in byte order, walking the roots'
    // byte order from where the last one was found.
    class RootCursor {
    public:
        // Stands before the first root not below `text`.
        RootCursor(const OwnBestCovers& own, std::string_view text);
        // The cover of `text`, no string below the last one asked.
        std::optional<KnownCover> find(std::string_view text);

    private:
        const OwnBestCovers& own_;
        std::vector<std::uint32_t>::const_iterator next_;
    };
};
OwnBestCovers own_best_cover_table(InsertedStrings root_candidates, InsertedStrings affix_candidates,
                                   const PieceIndex& pieces, std::size_t worker_threads, Interruption& interruption);

// The update rule on its own, evaluated in exactly this order of operations.
double updated_score(double previous, double best_cover, std::size_t length);

}  // namespace morvanex

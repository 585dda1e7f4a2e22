#pragma once
// Best segmentation of one candidate into scored pieces.
//
// best[k] is the highest running total found for covering the first k
// characters, -1.0 marking "no cover"; a total counts only if it is strictly
// above -1.0, and an equal total never replaces the one found first. A root
// may be cut anywhere; an affix is the whole word, or one piece from its start
// plus one piece to its end.
//
// Start positions are taken in increasing order and each pushes its totals
// forward, so every best[i] sees its candidate totals in increasing order of
// the start j, exactly as the textbook form (for each end i, for each start
// j < i) does; ties, NaN and signed zeros therefore come out identical.
#include <optional>
#include <vector>

#include "char_sequence.hpp"
#include "piece_index.hpp"

namespace morvanex {

// Working memory reused from one candidate to the next.
struct ScorerScratch {
    CharSequence chars;
    std::vector<double> best;
};

struct Segmentation {
    double best_cover;  // -1.0 when no cover
    // The value the score table holds for the whole candidate, if any (its
    // previous score), found on the way.
    std::optional<double> whole_value;
};

// The best cover of `chars` (at least one character) by the pieces of
// `pieces`. `chars` may alias scratch.chars.
Segmentation best_segmentation_score(const CharSequence& chars, const PieceIndex& pieces, bool is_affix,
                                     ScorerScratch& scratch);

}  // namespace morvanex

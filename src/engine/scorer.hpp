#pragma once
// The best cover of one candidate by scored pieces.
//
// best[k] is the highest running total found for covering the first k
// characters, -1.0 marking "no cover"; a total counts only if it is strictly
// above -1.0, and an equal total never replaces the one found first. Beside
// it, start[k] is where the last piece of that total starts, so the pieces
// of the best cover read back from the end without a second search.
//
// Start positions are taken in increasing order and each pushes its totals
// forward, so every best[i] sees its candidate totals in increasing order of
// the start j, exactly as the textbook form (for each end i, for each start
// j < i) does; ties, NaN and signed zeros therefore come out identical, and
// among covers of equal value the one kept is the one whose last piece starts
// earliest, position by position from the end.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "candidate_kind.hpp"
#include "char_sequence.hpp"
#include "interruption.hpp"
#include "piece_index.hpp"

namespace morvanex {

// What scoring the last root left behind, for the next one. A root is
// scored position by position: every walk standing on position i takes
// character i together, so the trie steps of one position are independent
// and their cache misses overlap. Roots that share their first p characters
// share best[0..p] and the walks standing on p, so a root scored after its
// byte-order neighbour resumes at p instead of walking the shared
// characters again. Kept for roots of up to `longest_reused_root`
// characters; no walk in them is longer.
struct RootWalks {
    static constexpr std::size_t longest_reused_root = 64;

    struct Walk {
        std::uint32_t start;       // the position the walk set out from
        PieceIndex::Cursor piece;  // the characters from there on
    };

    const PieceIndex* pieces = nullptr;   // the index the walks belong to
    std::size_t stride = 0;               // room per position: min(longest key, longest_reused_root)
    std::vector<char32_t> chars;          // the last root
    std::vector<double> best;             // its best totals
    std::vector<std::size_t> start;       // where the last piece of each starts
    std::vector<std::uint32_t> standing;  // standing[i]: how many walks that go on stand on position i
    std::vector<Walk> walks;              // walks[i * stride + k]: the k-th of them, by increasing start
};

// Working memory reused from one candidate to the next, and the meter that
// counts the trie steps walked. One scratch serves one piece index.
struct ScorerScratch {
    CharSequence chars;
    std::vector<double> best;
    std::vector<std::size_t> start;
    RootWalks root_walks;
    WorkMeter meter;
};

struct Cover {
    double value;  // the sum of its pieces' scores; -1.0 when there is none
    // The value the score table holds for the whole candidate, if any (its
    // previous score), found on the way.
    std::optional<double> whole_value;
    // piece_start[k], for each position k that a cover reaches: where the
    // last piece of the best cover of the first k characters starts. Valid
    // until the scratch serves the next candidate.
    std::span<const std::size_t> piece_start;
};

// Sets begins[b] to 1 for each byte b of `text` (the UTF-8 of a candidate of
// `length` characters) where a piece of `cover`, a cover that reaches the
// end, begins; leaves the other bytes as they are.
void mark_piece_begins(const Cover& cover, std::string_view text, std::size_t length, std::uint8_t* begins);

// The best cover of `chars` (at least one character) by the pieces of
// `pieces`. `chars` may alias scratch.chars. (The search that the textbook
// calls the best segmentation score.)
Cover best_cover(const CharSequence& chars, const PieceIndex& pieces, CandidateKind kind, ScorerScratch& scratch);

}  // namespace morvanex

#include "scorer.hpp"

#include <algorithm>
#include <cassert>
#include <optional>

#include "internal_failure.hpp"

namespace morvanex {
namespace {

constexpr double unreachable = -1.0;

void relax(double& target, double total) {
    if (total > target) target = total;
}

// Pushes totals from start `j` along the trie to every end for which the
// piece is a usable key, or only to the last position when `only_last` is
// set. Stops as soon as no key continues the piece, so a walk costs at most
// the length of the longest key. Returns the value of the key that ends at
// the last position, if the walk reached one.
std::optional<double> extend_from(const CharSequence& chars, const PieceIndex& pieces, std::size_t j,
                                  bool only_last, std::vector<double>& best) {
    const double start_total = best[j];
    const std::size_t n = chars.length();
    PieceIndex::Cursor piece = pieces.walk_from(chars.code_points[j]);
    for (std::size_t i = j + 1;; ++i) {
        if (!piece.exists()) return std::nullopt;
        if (piece.scored() && (!only_last || i == n)) relax(best[i], start_total + piece.score());
        if (i == n) return piece.keyed() ? std::optional<double>(piece.score()) : std::nullopt;
        if (!piece.continues()) return std::nullopt;
        piece.advance(chars.code_points[i]);
    }
}

}  // namespace

Segmentation best_segmentation_score(const CharSequence& chars, const PieceIndex& pieces, bool is_affix,
                               ScorerScratch& scratch) {
    const std::size_t n = chars.length();
    assert(n >= 1);
    std::vector<double>& best = scratch.best;
    if (n >= best.max_size()) throw InternalFailure("capacity overflow");
    best.assign(n + 1, unreachable);
    best[0] = 0.0;

    // A root takes pieces from every reachable start. An affix takes every
    // prefix from position 0 and then, from each inner position that a
    // prefix reached, only the piece that ends the word; inner positions past
    // the longest key stay unreachable, so affix walks are bounded too.
    std::optional<double> whole_value = extend_from(chars, pieces, 0, false, best);
    // An affix's closing piece must reach the end: skip starts farther from
    // it than the longest key.
    std::size_t first_start = is_affix && n > pieces.longest_key() ? n - pieces.longest_key() : 1;
    for (std::size_t j = std::max<std::size_t>(first_start, 1); j < n; ++j)
        if (best[j] > unreachable) extend_from(chars, pieces, j, is_affix, best);
    return Segmentation{best[n], whole_value};
}

}  // namespace morvanex

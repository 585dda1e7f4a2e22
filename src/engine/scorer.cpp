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

// Carries on the walk `piece`, which stands on position i (it is the piece
// chars[j..i) of a walk from start j whose running total is `start_total`),
// and pushes totals to every end for which the piece is a usable key, or
// only to the last position when `only_last` is set. Stops as soon as no key
// continues the piece, so a walk costs at most the length of the longest
// key. `record(i, piece)` sees the walk on every position it stands on.
// Returns the value of the key that ends at the last position, if the walk
// reached one.
template <class Record>
std::optional<double> carry_on(const CharSequence& chars, PieceIndex::Cursor piece, std::size_t i,
                               double start_total, bool only_last, std::vector<double>& best, Record record) {
    const std::size_t n = chars.length();
    for (;; ++i) {
        if (!piece.exists()) return std::nullopt;
        record(i, piece);
        if (piece.scored() && (!only_last || i == n)) relax(best[i], start_total + piece.score());
        if (i == n) return piece.keyed() ? std::optional<double>(piece.score()) : std::nullopt;
        if (!piece.continues()) return std::nullopt;
        piece.advance(chars.code_points[i]);
    }
}

// The walk from start `j`, counted on `meter` as the most steps it can take.
std::optional<double> extend_from(const CharSequence& chars, const PieceIndex& pieces, std::size_t j,
                                  bool only_last, std::vector<double>& best, WorkMeter& meter) {
    meter.count(std::min(pieces.longest_key(), chars.length() - j));
    return carry_on(chars, pieces.walk_from(chars.code_points[j]), j + 1, best[j], only_last, best,
                    [](std::size_t, const PieceIndex::Cursor&) {});
}

// A root scored after the last root that `walks` holds: best[0..p] and the
// walks alive at p, p being the length of their common beginning (short of
// the whole root), are taken over; walks from starts before p go on from p,
// then starts from p on are walked afresh. Every best[i] thus still sees its
// totals in increasing order of their start.
Segmentation score_root_after_neighbour(const CharSequence& chars, const PieceIndex& pieces, RootWalks& walks) {
    const std::size_t n = chars.length();
    if (walks.pieces != &pieces) {
        walks.pieces = &pieces;
        walks.stride = std::min(pieces.longest_key(), RootWalks::longest_reused_root);
        walks.chars.clear();
        walks.best.assign(RootWalks::longest_reused_root + 1, unreachable);
        walks.best[0] = 0.0;
        walks.reach.assign(RootWalks::longest_reused_root, 0);
        walks.states.assign(RootWalks::longest_reused_root * walks.stride, PieceIndex::Cursor());
    }
    std::size_t p = 0;
    while (p < n - 1 && p < walks.chars.size() && walks.chars[p] == chars.code_points[p]) ++p;
    std::vector<double>& best = walks.best;
    std::fill(best.begin() + static_cast<std::ptrdiff_t>(p) + 1, best.begin() + static_cast<std::ptrdiff_t>(n) + 1,
              unreachable);
    auto recorder = [&walks](std::size_t j) {
        return [&walks, j](std::size_t i, const PieceIndex::Cursor& piece) {
            walks.states[j * walks.stride + (i - j - 1)] = piece;
            walks.reach[j] = static_cast<std::uint32_t>(i);
        };
    };

    std::optional<double> whole_value;
    for (std::size_t j = 0; j < p; ++j) {
        if (!(best[j] > unreachable) || walks.reach[j] < p) continue;
        walks.reach[j] = static_cast<std::uint32_t>(p);  // what lies beyond p belonged to the last root
        PieceIndex::Cursor piece = walks.states[j * walks.stride + (p - j - 1)];
        if (!piece.continues()) continue;
        piece.advance(chars.code_points[p]);
        std::optional<double> found = carry_on(chars, piece, p + 1, best[j], false, best, recorder(j));
        if (j == 0) whole_value = found;
    }
    for (std::size_t j = p; j < n; ++j) {
        if (!(best[j] > unreachable)) continue;
        walks.reach[j] = static_cast<std::uint32_t>(j);
        std::optional<double> found =
            carry_on(chars, pieces.walk_from(chars.code_points[j]), j + 1, best[j], false, best, recorder(j));
        if (j == 0) whole_value = found;
    }
    walks.chars.assign(chars.code_points.begin(), chars.code_points.end());
    return Segmentation{best[n], whole_value};
}

}  // namespace

Segmentation best_segmentation_score(const CharSequence& chars, const PieceIndex& pieces, bool is_affix,
                               ScorerScratch& scratch) {
    const std::size_t n = chars.length();
    assert(n >= 1);
    // A reused root costs at most longest_reused_root squared steps, which the
    // driver's count per candidate covers; longer walks are counted here.
    if (!is_affix && n <= RootWalks::longest_reused_root && pieces.longest_key() > 0)
        return score_root_after_neighbour(chars, pieces, scratch.root_walks);
    std::vector<double>& best = scratch.best;
    if (n >= best.max_size()) throw InternalFailure(failure_text::capacity_overflow);
    best.assign(n + 1, unreachable);
    best[0] = 0.0;

    // A root takes pieces from every reachable start. An affix takes every
    // prefix from position 0 and then, from each inner position that a
    // prefix reached, only the piece that ends the word; inner positions past
    // the longest key stay unreachable, so affix walks are bounded too.
    std::optional<double> whole_value = extend_from(chars, pieces, 0, false, best, scratch.meter);
    // An affix's closing piece must reach the end: skip starts farther from
    // it than the longest key.
    std::size_t first_start = is_affix && n > pieces.longest_key() ? n - pieces.longest_key() : 1;
    for (std::size_t j = std::max<std::size_t>(first_start, 1); j < n; ++j)
        if (best[j] > unreachable) extend_from(chars, pieces, j, is_affix, best, scratch.meter);
    return Segmentation{best[n], whole_value};
}

}  // namespace morvanex

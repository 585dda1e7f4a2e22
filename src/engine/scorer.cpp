#include "scorer.hpp"

#include <algorithm>
#include <cassert>
#include <optional>

#include "internal_failure.hpp"

namespace morvanex {
namespace {

constexpr double unreachable = -1.0;

// Raises best[i] to `total` from start `j` if it is higher; an equal total
// leaves the earlier start.
void relax(std::vector<double>& best, std::vector<std::size_t>& start, std::size_t i, double total, std::size_t j) {
    if (total > best[i]) {
        best[i] = total;
        start[i] = j;
    }
}

// Which ends a walk pushes totals to: all of them, or, for an affix's
// closing piece, only the end of the word.
enum class Ends { every, last_only };

// The walk from start `j`: pushes totals to every end for which the piece
// chars[j..i) is a usable key, or only to the last position when `ends`
// says so, and stops as soon as no key continues the piece, so a
// walk costs at most the length of the longest key; counted on `meter` as
// that many steps. Returns the value of the key that ends at the last
// position, if the walk reached one.
std::optional<double> extend_from(const CharSequence& chars, const PieceIndex& pieces, std::size_t j, Ends ends,
                                  std::vector<double>& best, std::vector<std::size_t>& start, WorkMeter& meter) {
    const std::size_t n = chars.length();
    meter.count(std::min(pieces.longest_key(), n - j));
    const double start_total = best[j];
    PieceIndex::Cursor piece = pieces.walk_from(chars.code_points[j]);
    for (std::size_t i = j + 1;; ++i) {
        if (!piece.exists()) return std::nullopt;
        if (piece.scored() && (ends == Ends::every || i == n)) relax(best, start, i, start_total + piece.score(), j);
        if (i == n) return piece.keyed() ? std::optional<double>(piece.score()) : std::nullopt;
        if (!piece.continues()) return std::nullopt;
        piece.advance(chars.code_points[i]);
    }
}

// A root scored after the last root that `walks` holds: best[0..p] and the
// walks standing on p, p being the length of their common beginning (short
// of the whole root), are taken over; then, for each position i from p on,
// the walks standing on i take character i in increasing order of their
// start and a walk from i sets out last, so every best[i + 1] sees its
// totals in increasing order of their start. Counted on `meter` as the trie
// steps taken, up to n(n + 1)/2 for a root of n characters.
Cover score_root_after_neighbour(const CharSequence& chars, const PieceIndex& pieces, RootWalks& walks,
                                 WorkMeter& meter) {
    const std::size_t n = chars.length();
    constexpr std::size_t positions = RootWalks::longest_reused_root + 1;
    if (walks.pieces != &pieces) {
        walks.pieces = &pieces;
        walks.stride = std::min(pieces.longest_key(), RootWalks::longest_reused_root);
        walks.chars.clear();
        walks.best.assign(positions, unreachable);
        walks.best[0] = 0.0;
        walks.start.assign(positions, 0);
        walks.standing.assign(positions, 0);
        walks.walks.assign(positions * walks.stride, RootWalks::Walk{0, PieceIndex::Cursor()});
    }
    std::size_t p = 0;
    while (p < n - 1 && p < walks.chars.size() && walks.chars[p] == chars.code_points[p]) ++p;
    std::vector<double>& best = walks.best;
    std::vector<std::size_t>& piece_start = walks.start;

    std::optional<double> whole_value;
    std::size_t steps = 0;
    for (std::size_t i = p; i < n; ++i) {
        const char32_t c = chars.code_points[i];
        const std::size_t next = i + 1;
        const RootWalks::Walk* from = walks.walks.data() + i * walks.stride;
        RootWalks::Walk* to = walks.walks.data() + next * walks.stride;
        std::size_t going_on = 0;
        best[next] = unreachable;
        auto stand_on_next = [&](std::uint32_t start, const PieceIndex::Cursor& piece) {
            if (!piece.exists()) return;
            if (piece.scored()) relax(best, piece_start, next, best[start] + piece.score(), start);
            if (next == n && start == 0 && piece.keyed()) whole_value = piece.score();
            if (piece.continues()) {
                assert(going_on < walks.stride);
                to[going_on++] = RootWalks::Walk{start, piece};
            }
        };
        steps += walks.standing[i];
        for (std::size_t k = 0; k < walks.standing[i]; ++k) {
            PieceIndex::Cursor piece = from[k].piece;
            piece.advance(c);
            stand_on_next(from[k].start, piece);
        }
        if (best[i] > unreachable) {
            ++steps;
            stand_on_next(static_cast<std::uint32_t>(i), pieces.walk_from(c));
        }
        walks.standing[next] = static_cast<std::uint32_t>(going_on);
    }
    walks.chars.assign(chars.code_points.begin(), chars.code_points.end());
    meter.count(steps);  // once `walks` holds this root, so that a stop leaves it consistent
    return Cover{best[n], whole_value, std::span<const std::size_t>(piece_start.data(), n + 1)};
}

}  // namespace

void mark_piece_begins(const Cover& cover, std::string_view text, std::size_t length, std::uint8_t* begins) {
    assert(cover.value > -1.0 && cover.piece_start.size() == length + 1);
    // Back from the end: each piece's start, met at the byte where its
    // character begins.
    std::size_t next_start = cover.piece_start[length];
    std::size_t character = length;
    for (std::size_t byte = text.size(); byte-- > 0;) {
        if ((static_cast<unsigned char>(text[byte]) & 0xC0) == 0x80) continue;
        if (--character != next_start) continue;
        begins[byte] = 1;
        if (next_start == 0) break;
        next_start = cover.piece_start[next_start];
    }
}

Cover best_cover(const CharSequence& chars, const PieceIndex& pieces, CandidateKind kind, ScorerScratch& scratch) {
    const std::size_t n = chars.length();
    assert(n >= 1);
    if (kind == CandidateKind::root && n <= RootWalks::longest_reused_root && pieces.longest_key() > 0)
        return score_root_after_neighbour(chars, pieces, scratch.root_walks, scratch.meter);
    std::vector<double>& best = scratch.best;
    if (n >= best.max_size()) throw InternalFailure(failure_text::capacity_overflow);
    best.assign(n + 1, unreachable);
    best[0] = 0.0;
    // Read only where best[] was raised, which wrote it first.
    std::vector<std::size_t>& start = scratch.start;
    if (start.size() < n + 1) start.resize(n + 1);

    // A root takes pieces from every reachable start. An affix takes every
    // prefix from position 0 and then, from each inner position that a
    // prefix reached, only the piece that ends the word; inner positions past
    // the longest key stay unreachable, so affix walks are bounded too.
    std::optional<double> whole_value = extend_from(chars, pieces, 0, Ends::every, best, start, scratch.meter);
    // An affix's closing piece must reach the end: skip starts farther from
    // it than the longest key.
    const bool affix = kind == CandidateKind::affix;
    std::size_t first_start = affix && n > pieces.longest_key() ? n - pieces.longest_key() : 1;
    for (std::size_t j = std::max<std::size_t>(first_start, 1); j < n; ++j)
        if (best[j] > unreachable)
            extend_from(chars, pieces, j, affix ? Ends::last_only : Ends::every, best, start, scratch.meter);
    return Cover{best[n], whole_value, std::span<const std::size_t>(start.data(), n + 1)};
}

}  // namespace morvanex

#include "scorer.hpp"

#include <optional>

#include "internal_failure.hpp"

namespace morvanex {
namespace {

constexpr double unreachable = -1.0;

void relax(double& target, double total) {
    if (total > target) target = total;
}

// Pushes totals from start `j` along the trie, stopping as soon as no usable
// key continues the piece.
void extend_from(const CharSequence& chars, const PieceIndex& pieces, std::size_t j, std::vector<double>& best) {
    const double start_total = best[j];
    const std::size_t n = chars.length();
    PieceIndex::Node node = 0;  // unused before the first step
    for (std::size_t i = j + 1; i <= n; ++i) {
        char32_t c = chars.code_points[i - 1];
        PieceIndex::Step step = i == j + 1 ? pieces.first(c) : pieces.step(node, c);
        if (!step.exists) return;
        if (step.scored) relax(best[i], start_total + step.score);
        if (!step.continues) return;
        node = step.child;
    }
}

// suffix_hashes[j] becomes the score table's hash of the piece (j, n).
void hash_suffixes(const CharSequence& chars, const StringHasher& hasher, std::vector<std::uint64_t>& suffix_hashes) {
    const std::size_t n = chars.length();
    suffix_hashes.resize(n + 1);
    std::uint64_t hash = StringHasher::empty;
    std::uint64_t power = 1;  // multiplier ^ (bytes hashed so far)
    std::size_t byte = chars.utf8.size();
    suffix_hashes[n] = hash;
    for (std::size_t j = n; j-- > 0;) {
        for (std::size_t start = chars.boundaries[j]; byte > start;) {
            --byte;
            auto value = static_cast<std::uint64_t>(static_cast<unsigned char>(chars.utf8[byte])) + 1;
            hash = StringHasher::add(hash, StringHasher::mul(value, power));
            power = StringHasher::mul(power, hasher.multiplier());
        }
        suffix_hashes[j] = hash;
    }
}

// The score of the piece (j, n) if it is a usable key.
std::optional<double> suffix_score(const CharSequence& chars, const ScoreTable& scores, const PieceIndex& pieces,
                                   std::size_t j, std::uint64_t hash) {
    const std::size_t n = chars.length();
    if (n - j == 1) {  // one character: usable only when whitelisted, which the trie knows
        PieceIndex::Step step = pieces.first(chars.code_points[j]);
        return step.scored ? std::optional<double>(step.score) : std::nullopt;
    }
    std::size_t position = scores.keys().find(chars.piece(j, n), hash);
    return position == StringIndex::not_found ? std::nullopt : std::optional<double>(scores.value(position));
}

}  // namespace

double best_segmentation_score(const CharSequence& chars, const ScoreTable& scores, const PieceIndex& pieces,
                               bool is_affix, ScorerScratch& scratch) {
    const std::size_t n = chars.length();
    std::vector<double>& best = scratch.best;
    if (n >= best.max_size()) throw InternalFailure("capacity overflow");
    best.assign(n + 1, unreachable);
    best[0] = 0.0;

    if (!is_affix) {
        for (std::size_t j = 0; j < n; ++j)
            if (best[j] > unreachable) extend_from(chars, pieces, j, best);
        return best[n];
    }

    // Affix: every prefix from position 0, then each reachable inner position
    // closes with the one suffix that ends the word, found by its hash so that
    // the whole candidate costs linear time.
    extend_from(chars, pieces, 0, best);
    bool inner_reachable = false;
    for (std::size_t j = 1; j < n && !inner_reachable; ++j) inner_reachable = best[j] > unreachable;
    if (!inner_reachable) return best[n];

    hash_suffixes(chars, scores.keys().hasher(), scratch.suffix_hashes);
    for (std::size_t j = 1; j < n; ++j) {
        if (!(best[j] > unreachable)) continue;
        if (std::optional<double> score = suffix_score(chars, scores, pieces, j, scratch.suffix_hashes[j]))
            relax(best[n], best[j] + *score);
    }
    return best[n];
}

}  // namespace morvanex

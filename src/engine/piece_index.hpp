#pragma once
// The pieces a candidate may be cut into, as a character trie.
//
// Every key of the score table that may serve as a piece (a key of one
// character only when the whitelist holds it) is a path of code points from
// the root. The scorer walks the trie forward from each reachable start
// position and stops as soon as no usable key continues the piece, so a
// candidate costs about (its length) x (the longest matching key) steps and
// no piece text is ever built.
//
// Transitions live in one open-addressing table keyed by (node, code point);
// each slot carries what the scorer needs at that step (the child, whether it
// ends a usable key and its score, whether anything continues), so a step is
// a single probe. Buckets are chosen by multiply-shift with a random odd
// multiplier from the table's key, so inputs cannot be made to collide.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "score_table.hpp"
#include "string_set.hpp"

namespace morvanex {

class PieceIndex {
public:
    using Node = std::uint32_t;
    static constexpr Node root = 0;

    struct Step {
        Node child;
        bool exists;     // some usable key starts with the piece walked so far
        bool scored;     // the piece is itself a usable key ...
        bool continues;  // ... and some usable key is longer
        double score;
    };

    PieceIndex(const ScoreTable& scores, const StringSet& whitelist);

    Step step(Node from, char32_t next) const {
        std::uint64_t key = transition_key(from, next);
        for (std::size_t slot = bucket(key);; slot = (slot + 1) & mask_) {
            const Slot& s = slots_[slot];
            if (s.key == key) return to_step(s);
            if (s.key == vacant) return Step{0, false, false, false, 0.0};
        }
    }

    // The step from the root; ASCII characters, the commonest first step,
    // come from a small dense table.
    Step first(char32_t c) const {
        if (c < ascii_roots_.size()) {
            const Slot& s = ascii_roots_[c];
            return s.key == vacant ? Step{0, false, false, false, 0.0} : to_step(s);
        }
        return step(root, c);
    }

private:
    struct Slot {
        std::uint64_t key;
        double score;
        Node child;
        std::uint32_t flags;
    };
    static constexpr std::uint64_t vacant = UINT64_MAX;
    static constexpr std::uint32_t scored_flag = 1;
    static constexpr std::uint32_t continues_flag = 2;

    static Step to_step(const Slot& s) {
        return Step{s.child, true, (s.flags & scored_flag) != 0, (s.flags & continues_flag) != 0, s.score};
    }
    static std::uint64_t transition_key(Node from, char32_t next) {
        return (std::uint64_t{from} << 21) | next;
    }
    std::size_t bucket(std::uint64_t key) const {
        return static_cast<std::size_t>((key * multiplier_) >> shift_);
    }
    std::size_t find_or_add(Node from, char32_t next);
    void reserve(std::size_t transitions);

    std::vector<Slot> slots_;
    std::array<Slot, 128> ascii_roots_;
    std::size_t used_ = 0;
    std::size_t mask_ = 0;
    unsigned shift_ = 64;
    std::uint64_t multiplier_;
};

}  // namespace morvanex

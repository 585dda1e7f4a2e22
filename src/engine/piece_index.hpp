#pragma once
// The pieces a candidate may be cut into, as a compact character trie.
//
// Every non-empty key of the score table is a path of code points from the
// root; its last node holds the key's value and whether the key may serve as
// a piece (a key of one character only when the whitelist holds it). The scorer walks the trie forward from each reachable start
// position and stops as soon as no usable key continues the piece, so a
// candidate costs about (its length) x (the longest matching key) steps and
// no piece text is ever built.
//
// Layout: nodes are numbered level by level, and the children of a node form
// one block sorted by code point, directly after the block of its previous
// sibling's children. A node record is 16 bytes and a node's children end
// where the next node's children begin, so one step reads one small, mostly
// contiguous block: about one cache miss per character walked.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "score_table.hpp"
#include "string_set.hpp"

namespace morvanex {

class PieceIndex {
public:
    using Node = std::uint32_t;

    struct Step {
        Node child;
        bool exists;     // some key starts with the piece walked so far
        bool scored;     // the piece may serve as a piece, with this score
        bool continues;  // some key is longer than the piece
        double score;
    };

    // Builds the trie of the keys of `scores`; keeps no reference to either
    // argument.
    PieceIndex(const ScoreTable& scores, const StringSet& whitelist);

    // The value `scores` holds for the whole of `chars`, if any.
    std::optional<double> value_of(const std::vector<char32_t>& chars) const {
        Node node = root_;
        for (char32_t c : chars)
            if ((node = find_child(node, c)) == none) return std::nullopt;
        const Record& record = records_[node];
        if (!(record.code_point_and_flags & keyed_flag)) return std::nullopt;
        return record.score;
    }

    // The step from the root, i.e. the piece of the one character `c`.
    Step first(char32_t c) const {
        if (c < ascii_roots_.size()) return at(ascii_roots_[c]);
        return at(find_child(root_, c));
    }

    // The step from `from` (a node returned by an earlier step) by `next`.
    Step step(Node from, char32_t next) const { return at(find_child(from, next)); }

private:
    struct Record {
        std::uint32_t code_point_and_flags;  // code point in the low 21 bits
        std::uint32_t children_begin;        // index of the first child
        double score;
    };
    static constexpr std::uint32_t code_point_mask = 0x1FFFFF;
    static constexpr std::uint32_t scored_flag = 1u << 21;  // usable as a piece
    static constexpr std::uint32_t keyed_flag = 1u << 22;   // ends a key
    static constexpr Node none = UINT32_MAX;

    Step at(Node node) const {
        if (node == none) return Step{none, false, false, false, 0.0};
        const Record& record = records_[node];
        return Step{node, true, (record.code_point_and_flags & scored_flag) != 0,
                    records_[node + 1].children_begin > record.children_begin, record.score};
    }

    Node find_child(Node parent, char32_t c) const {
        std::uint32_t begin = records_[parent].children_begin;
        std::uint32_t end = records_[parent + 1].children_begin;
        while (end - begin > 8) {  // binary search wide blocks, then scan
            std::uint32_t middle = begin + (end - begin) / 2;
            if ((records_[middle].code_point_and_flags & code_point_mask) < c)
                begin = middle + 1;
            else
                end = middle + 1;
        }
        for (; begin < end; ++begin) {
            char32_t here = records_[begin].code_point_and_flags & code_point_mask;
            if (here == c) return begin;
            if (here > c) break;
        }
        return none;
    }

    // records_[0] is the root, the last record a sentinel that closes the
    // last node's (empty) block of children.
    std::vector<Record> records_;
    Node root_ = 0;
    std::array<Node, 128> ascii_roots_;
};

}  // namespace morvanex

#pragma once
// The pieces a candidate may be cut into, as a compact character trie.
//
// Every non-empty key of the score table is a path of code points from the
// root; its end holds the key's value and whether the key may serve as a
// piece (a key of one character only when the whitelist holds it). The
// scorer walks the trie forward from each reachable start position and stops
// as soon as no key continues the piece, so a candidate costs about (its
// length) x (the longest matching key) steps and no piece text is ever built.
//
// Layout: nodes are numbered level by level, and the children of a node form
// one block sorted by code point, directly after the block of its previous
// sibling's children. A node record is 16 bytes and a node's children end
// where the next node's children begin, so one step reads one small, mostly
// contiguous block: about one cache miss per character walked.
//
// Tails: below the depth where a key parts from its neighbours in byte
// order, no other key shares its path, so the rest is not stored as nodes:
// the last node refers to the rest of the key's UTF-8 text, copied (with the
// key's value after it) into one tail arena in byte order, and the walk
// compares the candidate with it character by character. Long keys (whole
// words, compounds) thus cost a few nodes and their bytes, not 16 bytes per
// character, and neighbouring keys' tails stay neighbours in memory.
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "score_table.hpp"
#include "string_set.hpp"

namespace morvanex {

class PieceIndex {
public:
    using Node = std::uint32_t;

    // Where a walk stands after a piece, and what the piece is.
    struct Step {
        bool exists;     // some key starts with the piece walked so far
        bool keyed;      // the piece is a key ...
        bool scored;     // ... usable as a piece, with this score
        bool continues;  // some key is longer than the piece
        double score;
        Node node;                // the piece's node, unless in a tail:
        std::uint32_t tail_end;   // where the tail the walk follows ends
        std::uint32_t tail_byte;  // where its next character starts; 0 outside tails
    };

    // Builds the trie of the keys of `scores`; keeps no reference to either.
    PieceIndex(const ScoreTable& scores, const StringSet& whitelist);

    // The length in characters of the longest key.
    std::size_t longest_key() const { return longest_key_; }

    // The step from the root, i.e. the piece of the one character `c`.
    Step first(char32_t c) const {
        if (c < ascii_roots_.size()) return at(ascii_roots_[c]);
        return at(find_child(root_, c));
    }

    // The second step of a walk, from `from` = first(`first_char`) by
    // `next`. Pairs of ASCII characters, the commonest case, come from a
    // dense table: the nodes just below the root have the widest blocks.
    Step second(char32_t first_char, const Step& from, char32_t next) const {
        if (from.tail_byte == 0 && (first_char | next) < 128) return at(ascii_pairs_[first_char * 128 + next]);
        return step(from, next);
    }

    // The step from `from` by `next`; `from` must exist and continue.
    Step step(const Step& from, char32_t next) const {
        if (from.tail_byte != 0) return step_in_tail(from, next);
        return at(find_child(from.node, next));
    }

private:
    struct Record {
        std::uint32_t code_point_and_flags;  // code point in the low 21 bits
        std::uint32_t children_begin;        // index of the first child
        double score;
    };
    static constexpr std::uint32_t code_point_mask = 0x1FFFFF;
    static constexpr std::uint32_t scored_flag = 1u << 21;  // usable as a piece
    static constexpr std::uint32_t keyed_flag = 1u << 22;   // ends a key
    static constexpr std::uint32_t tail_flag = 1u << 23;    // the key goes on in its own text
    static constexpr Node none = UINT32_MAX;

    // A tail node's score field holds where its tail lies in tails_ instead.
    struct Tail {
        std::uint32_t begin;
        std::uint32_t end;  // the key's value follows, 8 bytes
    };

    static constexpr Step missing() { return Step{false, false, false, false, 0.0, none, 0, 0}; }

    Step at(Node node) const {
        if (node == none) return missing();
        const Record& record = records_[node];
        if (record.code_point_and_flags & tail_flag) {
            Tail tail = std::bit_cast<Tail>(record.score);
            return Step{true, false, false, true, 0.0, node, tail.end, tail.begin};
        }
        return Step{true, (record.code_point_and_flags & keyed_flag) != 0,
                    (record.code_point_and_flags & scored_flag) != 0,
                    records_[node + 1].children_begin > record.children_begin,
                    record.score, node, 0, 0};
    }

    Step step_in_tail(const Step& from, char32_t next) const {
        const auto* bytes = reinterpret_cast<const unsigned char*>(tails_.data());
        std::uint32_t byte = from.tail_byte;
        char32_t c = bytes[byte];
        std::uint32_t width = 1;
        if (c >= 0x80) {
            width = c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
            c &= width == 2 ? 0x1F : width == 3 ? 0x0F : 0x07;
            for (std::uint32_t k = 1; k < width; ++k) c = (c << 6) | (bytes[byte + k] & 0x3F);
        }
        if (c != next) return missing();
        byte += width;
        if (byte < from.tail_end) return Step{true, false, false, true, 0.0, none, from.tail_end, byte};
        double value;  // the whole key: at least two characters, so usable
        std::memcpy(&value, bytes + byte, sizeof value);
        return Step{true, true, true, false, value, none, 0, 0};
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
    std::string tails_;  // the first byte is unused, so that no tail starts at 0
    Node root_ = 0;
    std::size_t longest_key_ = 0;
    std::array<Node, 128> ascii_roots_;
    std::vector<Node> ascii_pairs_;  // 128 x 128
};

}  // namespace morvanex

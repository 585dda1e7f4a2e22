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
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "inserted_scores.hpp"
#include "inserted_strings.hpp"
#include "interruption.hpp"
#include "utf8.hpp"

namespace morvanex {

class PieceIndex {
public:
    using Node = std::uint32_t;

    // A walk along the trie from some start character of a candidate: what
    // the characters walked so far form, as a piece.
    class Cursor {
    public:
        bool exists() const { return exists_; }        // some key starts with the piece
        bool keyed() const { return keyed_; }          // the piece is a key ...
        bool scored() const { return scored_; }        // ... usable as a piece, with score()
        bool continues() const { return continues_; }  // some key is longer than the piece
        double score() const { return score_; }

        // Extends the piece by `next`. The piece must exist and continue.
        void advance(char32_t next);

        Cursor() = default;  // a walk that leads nowhere

    private:
        friend class PieceIndex;
        explicit Cursor(const PieceIndex* index) : index_(index) {}

        const PieceIndex* index_ = nullptr;
        double score_ = 0.0;
        Node node_ = UINT32_MAX;             // the piece's node, unless in a tail:
        std::uint32_t tail_end_ = 0;         // where the tail the walk follows ends
        std::uint32_t tail_byte_ = 0;        // where its next character starts; 0 outside tails
        char32_t ascii_first_ = 0x7FFFFFFF;  // the piece's one ASCII character, else larger
        bool exists_ = false, keyed_ = false, scored_ = false, continues_ = false;
    };

    // Builds the trie of the keys of `scores`, given as their
    // entries_in_byte_order(); keeps no reference to any argument. Counts
    // the work toward `interruption`, if any: a unit for each key in each
    // pass over the keys, each whitelist member and each node linked.
    PieceIndex(const InsertedScores& scores, const std::vector<std::uint32_t>& keys, const InsertedStrings& whitelist,
               Interruption* interruption = nullptr);

    // Calls visit(key, value) for every key in byte order, the non-empty
    // keys of the scores it was built from, each once with its last value,
    // until visit returns false; whether it visited them all. Counts a unit
    // of work per node.
    bool visit_in_byte_order(const std::function<bool(std::string_view, double)>& visit,
                             Interruption* interruption = nullptr) const;

    // Those keys and values, all of them.
    InsertedScores entries_in_byte_order(Interruption* interruption = nullptr) const;

    // The length in characters of the longest key.
    std::size_t longest_key() const { return longest_key_; }

    // A walk that has taken the one character `c`.
    Cursor walk_from(char32_t c) const {
        Cursor cursor = at(c < ascii_roots_.size() ? ascii_roots_[c] : find_child(root, c));
        if (cursor.tail_byte_ == 0) cursor.ascii_first_ = c;
        return cursor;
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
    static constexpr Node root = 0;                         // records_[root]: the first record
    static constexpr Node none = UINT32_MAX;

    // A tail node's score field holds where its tail lies in tails_ instead.
    struct Tail {
        std::uint32_t begin;
        std::uint32_t end;  // the key's value follows, 8 bytes
    };

    Cursor at(Node node) const {
        Cursor cursor(this);
        if (node == none) return cursor;
        cursor.node_ = node;
        const Record& record = records_[node];
        cursor.exists_ = true;
        if (record.code_point_and_flags & tail_flag) {
            Tail tail = std::bit_cast<Tail>(record.score);
            cursor.tail_end_ = tail.end;
            cursor.tail_byte_ = tail.begin;
            cursor.continues_ = true;
            return cursor;
        }
        cursor.keyed_ = (record.code_point_and_flags & keyed_flag) != 0;
        cursor.scored_ = (record.code_point_and_flags & scored_flag) != 0;
        cursor.continues_ = records_[node + 1].children_begin > record.children_begin;
        cursor.score_ = record.score;
        return cursor;
    }

    // Follows a tail by `next`, comparing it with the tail's next character.
    void advance_in_tail(Cursor& cursor, char32_t next) const {
        const auto* bytes = reinterpret_cast<const unsigned char*>(tails_.data());
        DecodedChar c = decode_char(bytes + cursor.tail_byte_, cursor.tail_end_ - cursor.tail_byte_);
        if (c.code_point != next) {
            cursor = at(none);
            return;
        }
        cursor.tail_byte_ += c.width;
        if (cursor.tail_byte_ < cursor.tail_end_) return;
        // The whole key: at least two characters, so usable.
        std::memcpy(&cursor.score_, bytes + cursor.tail_byte_, sizeof cursor.score_);
        cursor.tail_byte_ = 0;
        cursor.keyed_ = cursor.scored_ = true;
        cursor.continues_ = false;
    }

    // The phases of building, in order (piece_index.cpp). Layout is what
    // the first tells the second: where each key's nodes lie.
    struct Layout;
    Layout measure_levels(const InsertedScores& scores, const std::vector<std::uint32_t>& keys, WorkMeter& meter);
    void write_nodes(const InsertedScores& scores, const std::vector<std::uint32_t>& keys, const Layout& layout,
                     const InsertedStrings& whitelist, WorkMeter& meter);
    void link_child_blocks(WorkMeter& meter);
    void build_ascii_shortcuts();

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

    // records_[root] is the root, the last record a sentinel that closes the
    // last node's (empty) block of children.
    std::vector<Record> records_;
    std::string tails_;  // the first byte is unused, so that no tail starts at 0
    std::size_t longest_key_ = 0;
    std::array<Node, 128> ascii_roots_;
    std::vector<Node> ascii_pairs_;  // 128 x 128: the second step of the commonest walks, whose
                                     // first nodes have the widest blocks
};

inline void PieceIndex::Cursor::advance(char32_t next) {
    assert(exists_ && continues_);
    if (tail_byte_ != 0) {
        index_->advance_in_tail(*this, next);
    } else if ((ascii_first_ | next) < 128) {
        *this = index_->at(index_->ascii_pairs_[ascii_first_ * 128 + next]);
    } else {
        *this = index_->at(index_->find_child(node_, next));
    }
}

}  // namespace morvanex

#include "piece_index.hpp"

#include <algorithm>
#include <bit>

#include "char_sequence.hpp"
#include "internal_failure.hpp"

namespace morvanex {

PieceIndex::PieceIndex(const ScoreTable& scores, const StringSet& whitelist)
    : multiplier_(next_table_key().k1 | 1) {
    reserve(scores.size());
    CharSequence key_chars;
    for (std::size_t key = 0; key < scores.size(); ++key) {
        std::string_view text = scores.key(key);
        if (text.empty()) continue;  // no piece is empty
        decode_into(text, key_chars);
        if (key_chars.length() == 1 && !whitelist.contains(text)) continue;
        // Growing moves slots, so make room for the whole path before walking it.
        reserve(used_ + key_chars.length());
        std::size_t slot = 0;
        Node node = root;
        for (std::size_t k = 0; k < key_chars.length(); ++k) {
            if (k > 0) slots_[slot].flags |= continues_flag;
            slot = find_or_add(node, key_chars.code_points[k]);
            node = slots_[slot].child;
        }
        slots_[slot].flags |= scored_flag;
        slots_[slot].score = scores.value(key);
    }
    for (char32_t c = 0; c < ascii_roots_.size(); ++c) {
        ascii_roots_[c] = Slot{vacant, 0.0, 0, 0};
        std::uint64_t key = transition_key(root, c);
        for (std::size_t slot = bucket(key); slots_[slot].key != vacant; slot = (slot + 1) & mask_)
            if (slots_[slot].key == key) ascii_roots_[c] = slots_[slot];
    }
}

std::size_t PieceIndex::find_or_add(Node from, char32_t next) {
    std::uint64_t key = transition_key(from, next);
    std::size_t slot = bucket(key);
    for (; slots_[slot].key != vacant; slot = (slot + 1) & mask_)
        if (slots_[slot].key == key) return slot;
    if (used_ + 1 >= UINT32_MAX) throw InternalFailure("Hash table capacity overflow");
    ++used_;
    slots_[slot] = Slot{key, 0.0, static_cast<Node>(used_), 0};  // node ids count from 1; 0 is the root
    return slot;
}

// Keeps the table at most half full for `transitions` entries.
void PieceIndex::reserve(std::size_t transitions) {
    std::size_t wanted = std::max<std::size_t>(16, std::bit_ceil(transitions * 2 + 1));
    if (wanted <= slots_.size()) return;
    std::vector<Slot> old(wanted, Slot{vacant, 0.0, 0, 0});
    old.swap(slots_);
    mask_ = wanted - 1;
    shift_ = 64 - static_cast<unsigned>(std::countr_zero(wanted));
    for (const Slot& s : old) {
        if (s.key == vacant) continue;
        std::size_t slot = bucket(s.key);
        while (slots_[slot].key != vacant) slot = (slot + 1) & mask_;
        slots_[slot] = s;
    }
}

}  // namespace morvanex

#pragma once
// The strings inserted into a set of UTF-8 strings (compared byte for byte),
// in insertion order, repeats included: size() and operator[] see every
// copy kept. The set itself, in which a string that is already a member
// leaves it unchanged, is `members_in_byte_order`: each distinct string once,
// at its first position. Deferring that test to one sort, which the engine
// needs anyway, spares a hash lookup per string.
//
// Repeats can only arrive beyond the number of members the source reported
// (a set's iterator that yields more than the set holds): once insertions go
// past it, the copies are dropped by the same sort whenever their number
// doubles, so memory stays proportional to the distinct strings.
#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

#include "string_list.hpp"

namespace morvanex {

class InsertedStrings {
public:
    // `expected`: how many distinct strings the source reported.
    explicit InsertedStrings(std::size_t expected = 0)
        : strings_(expected), drop_repeats_beyond_(std::max<std::size_t>(expected, 16)) {}

    void insert(std::string_view text) {
        strings_.add(text);
        if (strings_.size() > drop_repeats_beyond_) drop_repeats();
    }

    // Number of insertions, repeated strings included.
    std::size_t size() const { return strings_.size(); }
    bool empty() const { return strings_.empty(); }
    std::string_view operator[](std::size_t position) const { return strings_[position]; }
    const StringList& strings() const { return strings_; }

    // The position of each distinct member (its first insertion), ordered by
    // the members' bytes, which for UTF-8 is code point order. Sorted on up
    // to `threads` threads.
    std::vector<std::uint32_t> members_in_byte_order(std::size_t threads = 1) const;

private:
    // Keeps the first insertion of each string, in insertion order.
    void drop_repeats();

    StringList strings_;
    std::size_t drop_repeats_beyond_;
};

}  // namespace morvanex

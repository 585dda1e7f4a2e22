#pragma once
// The strings inserted into a set of UTF-8 strings (compared byte for byte),
// in insertion order, repeats included: size() and operator[] see every
// copy kept. The set itself, in which a string that is already a member
// leaves it unchanged, is `members_in_byte_order`: each distinct string once,
// at its first position. Deferring that test to one sort, which the engine
// needs anyway, spares a hash lookup per string.
//
// A word list taken whole keeps its repeats until that sort; memory stays
// proportional to the list. Inserted one by one, from a set, repeats can
// only arrive beyond the number of members the source reported
// (a set's iterator that yields more than the set holds): once insertions go
// past it, the copies are dropped by the same sort whenever their number
// doubles. A source that may repeat itself (a set subclass's own iterator)
// is also kept in check by bytes: a string equal to the one before it is
// not kept, and the copies are dropped whenever the bytes kept pass twice
// the distinct bytes of the last drop. So memory stays proportional to the
// distinct strings, whatever the source reported.
#include <algorithm>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "interruption.hpp"
#include "string_list.hpp"

namespace morvanex {

class InsertedStrings {
public:
    enum class Source { distinct, may_repeat };

    // `expected`: how many distinct strings the source reported.
    explicit InsertedStrings(std::size_t expected = 0, Source source = Source::distinct)
        : strings_(expected), drop_repeats_beyond_(std::max<std::size_t>(expected, 16)),
          drop_repeats_past_bytes_(source == Source::may_repeat ? least_bytes_between_drops : no_byte_limit) {}

    // Strings inserted all at once, repeats among them left to
    // members_in_byte_order.
    explicit InsertedStrings(StringList strings)
        : strings_(std::move(strings)), drop_repeats_beyond_(std::max<std::size_t>(strings_.size(), 16)),
          drop_repeats_past_bytes_(no_byte_limit) {}

    void insert(std::string_view text) {
        const bool watch_bytes = drop_repeats_past_bytes_ != no_byte_limit;
        if (watch_bytes && !strings_.empty() && strings_[strings_.size() - 1] == text) return;
        strings_.add(text);
        if (strings_.size() > drop_repeats_beyond_ || strings_.bytes() > drop_repeats_past_bytes_) drop_repeats();
    }

    // Number of insertions, repeated strings included.
    std::size_t size() const { return strings_.size(); }
    bool empty() const { return strings_.empty(); }
    std::string_view operator[](std::size_t position) const { return strings_[position]; }
    const StringList& strings() const { return strings_; }

    // The position of each distinct member (its first insertion), ordered by
    // the members' bytes, which for UTF-8 is code point order. Sorted on up
    // to `threads` threads, counting the work toward `interruption`, if any.
    std::vector<std::uint32_t> members_in_byte_order(std::size_t threads = 1,
                                                     Interruption* interruption = nullptr) const;

private:
    // Keeps the first insertion of each string, in insertion order.
    void drop_repeats();

    // A source of a few long strings needs no sort for every one of them.
    static constexpr std::size_t least_bytes_between_drops = std::size_t{4} << 20;
    static constexpr std::size_t no_byte_limit = SIZE_MAX;

    StringList strings_;
    std::size_t drop_repeats_beyond_;
    std::size_t drop_repeats_past_bytes_;
};

}  // namespace morvanex

#pragma once
// Putting strings in byte order, which for UTF-8 is code point order, so that
// strings that share a beginning sit next to each other: the piece trie is
// built from keys in this order, repeated strings meet as neighbours, and
// candidates are scored in it so that neighbouring walks touch the same trie
// nodes.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "interruption.hpp"
#include "string_list.hpp"

namespace morvanex {

// The first eight bytes, zero-padded, as a big-endian number: comparing
// these orders most strings without touching their text.
inline std::uint64_t leading_bytes(std::string_view text) {
    unsigned char bytes[8] = {};
    std::memcpy(bytes, text.data(), std::min<std::size_t>(8, text.size()));
    std::uint64_t value = 0;
    for (unsigned char byte : bytes) value = (value << 8) | byte;
    return value;
}

enum class KeepRepeat { first, last };

using KeyedPosition = std::pair<std::uint64_t, std::uint32_t>;  // leading bytes, position

// Sorts keyed[begin, end), whose words agree above the byte at `shift`, by
// their words: spread by that byte, then each bucket by the next, down to
// buckets small enough for a comparison sort, counted a unit a pair. Ties
// stay in any order.
void sort_by_word(std::vector<KeyedPosition>& keyed, std::size_t begin, std::size_t end, WorkMeter& meter,
                  int shift = 56);

// The distinct positions of keyed[begin, end), one bucket of
// distinct_in_byte_order, ordered by their strings' bytes, written over the
// bucket's front; returns how many there are. Each pair starts out holding
// the first eight bytes of its string.
//
// Most-significant-first: the pairs are sorted by their eight-byte words,
// and each run of equal words, whose strings share those bytes, is sorted in
// turn by the next eight bytes, fetched once per string and level (loaded
// ahead, since a run visits the arena out of order). Strings that end within
// a run's word are prefixes of the rest of the run and come first, shortest
// first, so equal strings (repeats) meet as neighbours in position order.
// Small runs are sorted by comparing the strings' remaining bytes. Runs are
// visited in order with an explicit stack, since strings may share prefixes
// of any length. Counted on `meter` as a unit for each pair in each pass
// over it.
// When `kept_position` is given, kept_position[p] is set, for every position
// p of the bucket, to the position kept for p's string.
std::size_t distinct_in_bucket(const StringList& strings, std::vector<KeyedPosition>& keyed, std::size_t begin,
                               std::size_t end, bool top_byte_spread, KeepRepeat keep, WorkMeter& meter,
                               std::uint32_t* kept_position = nullptr);

// Positions 0 .. strings.size()-1, one per distinct string (the first or the
// last position of each repeated one), ordered by the strings' bytes.
// Buckets are sorted on up to `threads` threads, each counting its work
// toward `interruption`, if any. When `kept_position` is given, it is filled
// with, for every position, the position kept for its string.
std::vector<std::uint32_t> distinct_in_byte_order(const StringList& strings, KeepRepeat keep, std::size_t threads = 1,
                                                  Interruption* interruption = nullptr,
                                                  std::vector<std::uint32_t>* kept_position = nullptr);

}  // namespace morvanex

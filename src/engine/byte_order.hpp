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

#include "internal_failure.hpp"

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

// Sorts by leading bytes (equal ones in any order). Large inputs are first
// spread in place over 256 buckets by their top byte, which leaves buckets
// small enough to sort in cache, without a second buffer.
inline void sort_by_leading_bytes(std::vector<KeyedPosition>& keyed) {
    auto by_leading_bytes = [](const KeyedPosition& a, const KeyedPosition& b) { return a.first < b.first; };
    if (keyed.size() < 4096) {
        std::sort(keyed.begin(), keyed.end(), by_leading_bytes);
        return;
    }
    auto top_byte = [](const KeyedPosition& k) { return static_cast<std::size_t>(k.first >> 56); };
    std::size_t bucket_end[256] = {}, next_free[256];
    for (const KeyedPosition& k : keyed) ++bucket_end[top_byte(k)];
    std::size_t start = 0;
    for (std::size_t b = 0; b < 256; ++b) {
        next_free[b] = start;
        start += bucket_end[b];
        bucket_end[b] = start;
    }
    for (std::size_t b = 0; b < 256; ++b) {
        while (next_free[b] < bucket_end[b]) {  // move each element to its bucket, cycle by cycle
            KeyedPosition& here = keyed[next_free[b]];
            std::size_t home = top_byte(here);
            if (home == b)
                ++next_free[b];
            else
                std::swap(here, keyed[next_free[home]++]);
        }
    }
    for (std::size_t b = 0, begin = 0; b < 256; begin = bucket_end[b++])
        std::sort(keyed.begin() + static_cast<std::ptrdiff_t>(begin),
                  keyed.begin() + static_cast<std::ptrdiff_t>(bucket_end[b]), by_leading_bytes);
}

// Positions 0 .. count-1, one per distinct text_of(position) (the first or
// the last position of each repeated text), ordered by the texts' bytes.
template <class TextOf>
std::vector<std::uint32_t> distinct_in_byte_order(std::size_t count, TextOf text_of, KeepRepeat keep) {
    if (count >= UINT32_MAX) throw InternalFailure("capacity overflow");
    std::vector<KeyedPosition> keyed(count);
    for (std::uint32_t position = 0; position < count; ++position)
        keyed[position] = {leading_bytes(text_of(position)), position};
    sort_by_leading_bytes(keyed);

    // Texts that share their first eight bytes are ordered by the rest, and
    // repeats by position (the first or last position of each is kept).
    auto by_text = [&](const KeyedPosition& a, const KeyedPosition& b) {
        int order = text_of(a.second).compare(text_of(b.second));
        return order != 0 ? order < 0 : a.second < b.second;
    };
    std::vector<std::uint32_t> distinct;
    distinct.reserve(count);
    for (std::size_t run = 0; run < count;) {
        std::size_t end = run + 1;
        while (end < count && keyed[end].first == keyed[run].first) ++end;
        if (end - run > 1) std::sort(keyed.begin() + static_cast<std::ptrdiff_t>(run),
                                     keyed.begin() + static_cast<std::ptrdiff_t>(end), by_text);
        for (std::size_t k = run; k < end;) {
            std::size_t same = k + 1;
            while (same < end && text_of(keyed[same].second) == text_of(keyed[k].second)) ++same;
            distinct.push_back(keep == KeepRepeat::first ? keyed[k].second : keyed[same - 1].second);
            k = same;
        }
        run = end;
    }
    return distinct;
}

}  // namespace morvanex

#pragma once
// Sorting string positions by the strings' bytes. For UTF-8 this is code
// point order, so strings that share a beginning end up next to each other:
// the piece trie is built from keys in this order, and candidates are scored
// in it so that neighbouring walks touch the same trie nodes.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

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

// Reorders `positions` so that text_of(position) ascends bytewise.
template <class TextOf>
void sort_by_bytes(std::vector<std::uint32_t>& positions, TextOf text_of) {
    std::vector<std::pair<std::uint64_t, std::uint32_t>> keyed;
    keyed.reserve(positions.size());
    for (std::uint32_t position : positions) keyed.emplace_back(leading_bytes(text_of(position)), position);
    std::sort(keyed.begin(), keyed.end(), [&](const auto& a, const auto& b) {
        if (a.first != b.first) return a.first < b.first;
        return text_of(a.second) < text_of(b.second);
    });
    for (std::size_t k = 0; k < keyed.size(); ++k) positions[k] = keyed[k].second;
}

// Visits `positions` in order, asking `prefetch_record` and `prefetch_text`
// to start loading the data of positions some steps ahead.
template <class Visit, class PrefetchRecord, class PrefetchText>
void visit_prefetching(const std::vector<std::uint32_t>& positions, Visit visit, PrefetchRecord prefetch_record,
                       PrefetchText prefetch_text) {
    constexpr std::size_t record_distance = 16, text_distance = 8;
    const std::size_t count = positions.size();
    for (std::size_t k = 0; k < count; ++k) {
        if (k + record_distance < count) prefetch_record(positions[k + record_distance]);
        if (k + text_distance < count) prefetch_text(positions[k + text_distance]);
        visit(positions[k]);
    }
}

}  // namespace morvanex

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
#include "work_sharing.hpp"

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

// Spreads `keyed` in place over 256 buckets by the top byte of the leading
// bytes, which leaves buckets small enough to sort in cache without a second
// buffer, and returns where each bucket ends. Small inputs stay one bucket.
inline std::vector<std::size_t> spread_by_top_byte(std::vector<KeyedPosition>& keyed) {
    if (keyed.size() < 4096) return {keyed.size()};
    auto top_byte = [](const KeyedPosition& k) { return static_cast<std::size_t>(k.first >> 56); };
    std::vector<std::size_t> bucket_end(256, 0);
    std::size_t next_free[256];
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
    return bucket_end;
}

// Positions 0 .. count-1, one per distinct text_of(position) (the first or
// the last position of each repeated text), ordered by the texts' bytes.
// Buckets are sorted on up to `threads` threads.
template <class TextOf>
std::vector<std::uint32_t> distinct_in_byte_order(std::size_t count, TextOf text_of, KeepRepeat keep,
                                                  std::size_t threads = 1) {
    if (count >= UINT32_MAX) throw InternalFailure("capacity overflow");
    std::vector<KeyedPosition> keyed(count);
    for (std::uint32_t position = 0; position < count; ++position)
        keyed[position] = {leading_bytes(text_of(position)), position};
    const std::vector<std::size_t> bucket_end = spread_by_top_byte(keyed);

    // Within a bucket, texts that share their first eight bytes are ordered
    // by the rest, and repeats by position (the first or last position of
    // each is kept). A bucket's distinct positions are written over its own
    // front, then the buckets are joined.
    auto by_leading_bytes = [](const KeyedPosition& a, const KeyedPosition& b) { return a.first < b.first; };
    auto by_text = [&](const KeyedPosition& a, const KeyedPosition& b) {
        int order = text_of(a.second).compare(text_of(b.second));
        return order != 0 ? order < 0 : a.second < b.second;
    };
    std::vector<std::size_t> distinct_in_bucket(bucket_end.size(), 0);
    auto sort_bucket = [&](std::size_t bucket) {
        const std::size_t begin = bucket == 0 ? 0 : bucket_end[bucket - 1], end = bucket_end[bucket];
        auto at = [&](std::size_t k) { return keyed.begin() + static_cast<std::ptrdiff_t>(k); };
        std::sort(at(begin), at(end), by_leading_bytes);
        std::size_t kept = begin;
        for (std::size_t run = begin; run < end;) {
            std::size_t run_end = run + 1;
            while (run_end < end && keyed[run_end].first == keyed[run].first) ++run_end;
            if (run_end - run > 1) std::sort(at(run), at(run_end), by_text);
            for (std::size_t k = run; k < run_end;) {
                std::size_t same = k + 1;
                while (same < run_end && text_of(keyed[same].second) == text_of(keyed[k].second)) ++same;
                keyed[kept++].second = keep == KeepRepeat::first ? keyed[k].second : keyed[same - 1].second;
                k = same;
            }
            run = run_end;
        }
        distinct_in_bucket[bucket] = kept - begin;
    };
    ChunkQueue buckets(bucket_end.size(), 1);
    run_sharing(std::min(threads, bucket_end.size()), buckets, [&] {
        for (ChunkQueue::Chunk chunk; buckets.claim(chunk);) sort_bucket(chunk.begin);
    });

    std::vector<std::uint32_t> distinct;
    distinct.reserve(count);
    for (std::size_t bucket = 0; bucket < bucket_end.size(); ++bucket) {
        const std::size_t begin = bucket == 0 ? 0 : bucket_end[bucket - 1];
        for (std::size_t k = begin; k < begin + distinct_in_bucket[bucket]; ++k) distinct.push_back(keyed[k].second);
    }
    return distinct;
}

}  // namespace morvanex

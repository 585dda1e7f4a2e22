#pragma once
// The storage behind string sets and score tables: distinct UTF-8 strings in
// one contiguous byte arena, numbered in first-insertion order, found through
// an open-addressing hash index keyed per table (see string_hash.hpp).
// Strings are compared byte for byte; nothing is normalised.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "string_hash.hpp"

namespace morvanex {

class StringIndex {
public:
    static constexpr std::size_t not_found = static_cast<std::size_t>(-1);

    // Room for `expected` strings without rehashing. Takes its key from the
    // thread's key pair. Throws InternalFailure "Hash table capacity overflow"
    // when `expected` cannot be addressed.
    explicit StringIndex(std::size_t expected = 0);

    struct Insertion {
        std::size_t position;
        bool inserted;
    };
    Insertion insert(std::string_view text);
    std::size_t find(std::string_view text) const;

    // Hints for loops that visit strings out of order: start loading where
    // a string is recorded, and then the string itself, some steps ahead.
    void prefetch_record(std::size_t position) const { __builtin_prefetch(&spans_[position]); }
    void prefetch_text(std::size_t position) const { __builtin_prefetch(arena_.data() + spans_[position].begin); }

    std::size_t size() const { return spans_.size(); }
    bool empty() const { return spans_.empty(); }
    std::string_view operator[](std::size_t position) const {
        const Span& span = spans_[position];
        return {arena_.data() + span.begin, span.size};
    }
    std::size_t total_bytes() const { return arena_.size(); }

private:
    struct Span {
        std::size_t begin;
        std::size_t size;
    };
    // A slot holds position + 1 (0 when empty) and the hash's low 32 bits,
    // so probes skip other strings without touching their storage.
    struct Slot {
        std::uint32_t position_plus_one;
        std::uint32_t tag;
    };
    static constexpr std::size_t max_positions = UINT32_MAX - 1;

    std::size_t find(std::string_view text, std::uint64_t hash) const;
    void reserve_slots(std::size_t expected);
    void place(std::size_t position, std::uint64_t hash);

    StringHasher hasher_;
    std::string arena_;
    std::vector<Span> spans_;
    std::vector<std::uint64_t> hashes_;
    std::vector<Slot> slots_;
    unsigned shift_ = 64;
};

}  // namespace morvanex

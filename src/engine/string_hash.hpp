#pragma once
// Keyed string hash shared by every engine table: SipHash-1-3 over the UTF-8
// bytes followed by one 0xFF byte, under the table's own 128-bit key. Callers
// that never see the key cannot make keys collide.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "table_key.hpp"

namespace morvanex {

// SipHash with `compression_rounds` rounds per word and `finalization_rounds`
// at the end (1 and 3 for the tables; 2 and 4 is the classic variant).
template <int compression_rounds, int finalization_rounds>
class SipHasher {
public:
    explicit SipHasher(TableKey key) : key_(key) {}

    std::uint64_t operator()(std::string_view text) const {
        State s(key_);
        const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
        const std::size_t length = text.size() + 1;  // the 0xFF terminator counts
        std::size_t full_words = text.size() / 8;
        for (std::size_t w = 0; w < full_words; ++w) s.absorb(load_le(bytes + 8 * w));
        // The last word: the remaining bytes, the terminator when it still fits,
        // and the total length in the top byte.
        unsigned char tail[8] = {};
        std::size_t remaining = text.size() - 8 * full_words;
        std::memcpy(tail, bytes + 8 * full_words, remaining);
        tail[remaining] = 0xFF;
        if (remaining == 7) {  // the terminator completes a word of its own
            s.absorb(load_le(tail));
            std::memset(tail, 0, sizeof tail);
        }
        s.absorb((load_le(tail) & 0x00FFFFFFFFFFFFFFull) | (std::uint64_t{length & 0xFF} << 56));
        return s.finish();
    }

    // The classic byte-string form without the terminator, for checking the
    // rounds against published vectors.
    std::uint64_t plain(std::string_view text) const {
        State s(key_);
        const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
        std::size_t full_words = text.size() / 8;
        for (std::size_t w = 0; w < full_words; ++w) s.absorb(load_le(bytes + 8 * w));
        unsigned char tail[8] = {};
        std::memcpy(tail, bytes + 8 * full_words, text.size() - 8 * full_words);
        s.absorb(load_le(tail) | (std::uint64_t{text.size() & 0xFF} << 56));
        return s.finish();
    }

private:
    static std::uint64_t rotl(std::uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }
    static std::uint64_t load_le(const unsigned char* p) {
        std::uint64_t value = 0;
        for (int k = 7; k >= 0; --k) value = (value << 8) | p[k];
        return value;
    }

    struct State {
        std::uint64_t v0, v1, v2, v3;
        explicit State(TableKey key)
            : v0(key.k0 ^ 0x736f6d6570736575ull),
              v1(key.k1 ^ 0x646f72616e646f6dull),
              v2(key.k0 ^ 0x6c7967656e657261ull),
              v3(key.k1 ^ 0x7465646279746573ull) {}
        void round() {
            v0 += v1; v1 = rotl(v1, 13); v1 ^= v0; v0 = rotl(v0, 32);
            v2 += v3; v3 = rotl(v3, 16); v3 ^= v2;
            v0 += v3; v3 = rotl(v3, 21); v3 ^= v0;
            v2 += v1; v1 = rotl(v1, 17); v1 ^= v2; v2 = rotl(v2, 32);
        }
        void absorb(std::uint64_t word) {
            v3 ^= word;
            for (int r = 0; r < compression_rounds; ++r) round();
            v0 ^= word;
        }
        std::uint64_t finish() {
            v2 ^= 0xFF;
            for (int r = 0; r < finalization_rounds; ++r) round();
            return v0 ^ v1 ^ v2 ^ v3;
        }
    };

    TableKey key_;
};

using StringHasher = SipHasher<1, 3>;

// Spreads a hash over the bits that select one of 2^(64 - shift) buckets.
inline std::size_t bucket_of(std::uint64_t hash, unsigned shift) {
    return static_cast<std::size_t>(hash >> shift);
}

}  // namespace morvanex

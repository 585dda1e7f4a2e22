#pragma once
// Keyed string hash shared by every engine table.
//
// A string b[0..m) hashes to the polynomial  sum (b[k] + 1) * r^(m-1-k)
// modulo the Mersenne prime 2^61 - 1, where the multiplier r is derived from
// the table's random key. For two distinct strings of at most m bytes the
// chance of a collision is at most m / 2^61 over the choice of r, so callers
// that never see r cannot make keys collide. The form is incremental in both
// directions: appending a byte is one multiply-add, which lets the scorer hash
// every piece of a candidate while walking it, and suffix hashes follow from
// right to left with a running power of r.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "table_key.hpp"

namespace morvanex {

class StringHasher {
public:
    static constexpr std::uint64_t modulus = (std::uint64_t{1} << 61) - 1;
    static constexpr std::uint64_t empty = 0;

    explicit StringHasher(TableKey key) : multiplier_(derive_multiplier(key)) {}

    std::uint64_t multiplier() const { return multiplier_; }

    std::uint64_t append(std::uint64_t hash, unsigned char byte) const {
        return add(mul(hash, multiplier_), std::uint64_t{byte} + 1);
    }

    std::uint64_t append(std::uint64_t hash, std::string_view bytes) const {
        for (char c : bytes) hash = append(hash, static_cast<unsigned char>(c));
        return hash;
    }

    std::uint64_t operator()(std::string_view bytes) const { return append(empty, bytes); }

    static std::uint64_t mul(std::uint64_t a, std::uint64_t b) {
        unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
        std::uint64_t low = static_cast<std::uint64_t>(product) & modulus;
        std::uint64_t high = static_cast<std::uint64_t>(product >> 61);
        return reduce(low + high);
    }

    static std::uint64_t add(std::uint64_t a, std::uint64_t b) { return reduce(a + b); }

    // Spreads a hash over the bits that select a bucket.
    static std::size_t bucket(std::uint64_t hash, unsigned shift) {
        return static_cast<std::size_t>((hash * 0x9E3779B97F4A7C15ull) >> shift);
    }

private:
    static std::uint64_t reduce(std::uint64_t x) { return x >= modulus ? x - modulus : x; }

    static std::uint64_t derive_multiplier(TableKey key) {
        // splitmix64 finaliser over both key words; the result lies in [2, modulus).
        std::uint64_t z = key.k0 ^ (key.k1 * 0xD1B54A32D192ED03ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        return 2 + z % (modulus - 2);
    }

    std::uint64_t multiplier_;
};

}  // namespace morvanex

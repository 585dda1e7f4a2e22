#pragma once
// Per-table hash keys. Each thread owns a 128-bit key pair read once from the
// operating system's random source; every table created on the thread takes
// the pair's current value as its key and then advances the first word, so no
// two tables of one thread share a key.
#include <cstdint>

namespace morvanex {

struct TableKey {
    std::uint64_t k0;
    std::uint64_t k1;
};

// Returns the calling thread's current key pair and advances it by one.
// Throws InternalFailure if the operating system has no random bytes to give.
TableKey next_table_key();

}  // namespace morvanex

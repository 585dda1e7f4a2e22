#include "inserted_scores.hpp"

#include "byte_order.hpp"

namespace morvanex {

std::vector<std::uint32_t> InsertedScores::entries_in_byte_order(std::size_t threads,
                                                                 Interruption* interruption) const {
    return distinct_in_byte_order(keys_, KeepRepeat::last, threads, interruption);
}

}  // namespace morvanex

#include "first_occurrences.hpp"

#include "byte_order.hpp"

namespace morvanex {

std::vector<std::uint32_t> first_occurrences(const StringList& strings, std::size_t threads,
                                             Interruption& interruption) {
    // Marking the distinct positions puts them back in list order without a
    // second sort.
    std::vector<std::uint8_t> first(strings.size(), 0);
    std::size_t distinct = 0;
    for (const std::uint32_t position : distinct_in_byte_order(strings, KeepRepeat::first, threads, &interruption)) {
        first[position] = 1;
        ++distinct;
    }
    std::vector<std::uint32_t> positions;
    positions.reserve(distinct);
    for (std::size_t position = 0; position < first.size(); ++position)
        if (first[position] != 0) positions.push_back(static_cast<std::uint32_t>(position));
    return positions;
}

}  // namespace morvanex

#include "byte_order.hpp"
#include "score_table.hpp"
#include "string_set.hpp"

namespace morvanex {

std::vector<std::uint32_t> StringSet::members_in_byte_order() const {
    return distinct_in_byte_order(size(), [this](std::uint32_t p) { return strings_[p]; }, KeepRepeat::first);
}

std::vector<std::uint32_t> ScoreTable::entries_in_byte_order() const {
    return distinct_in_byte_order(size(), [this](std::uint32_t p) { return keys_[p]; }, KeepRepeat::last);
}

}  // namespace morvanex

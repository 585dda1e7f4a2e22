#include "inserted_strings.hpp"

#include <algorithm>
#include <utility>

#include "byte_order.hpp"

namespace morvanex {

std::vector<std::uint32_t> InsertedStrings::members_in_byte_order(std::size_t threads,
                                                                  Interruption* interruption) const {
    return distinct_in_byte_order(strings_, KeepRepeat::first, threads, interruption);
}

void InsertedStrings::drop_repeats() {
    std::vector<std::uint32_t> kept = members_in_byte_order();
    std::sort(kept.begin(), kept.end());
    std::size_t bytes = 0;
    for (std::uint32_t position : kept) bytes += strings_[position].size();
    StringList distinct(kept.size(), bytes);
    for (std::uint32_t position : kept) distinct.add(strings_[position]);
    strings_ = std::move(distinct);
    drop_repeats_beyond_ = std::max(drop_repeats_beyond_, 2 * strings_.size());
    if (drop_repeats_past_bytes_ != no_byte_limit)
        drop_repeats_past_bytes_ = std::max(least_bytes_between_drops, 2 * strings_.bytes());
}

}  // namespace morvanex

#include "result_table.hpp"

#include <algorithm>
#include <cassert>
#include <utility>

#include "internal_failure.hpp"

namespace morvanex {
namespace {

constexpr ResultTable::Entry pending = ResultTable::no_entry - 1;

// Entries, and positions with a flag beside them, must fit in 31 bits.
InsertedStrings checked(InsertedStrings candidates) {
    if (candidates.size() >= (std::size_t{1} << 31) - 1) throw InternalFailure(failure_text::result_table_overflow);
    return candidates;
}

}  // namespace

ResultTable::ResultTable(InsertedStrings roots, std::vector<std::uint32_t> root_order, InsertedStrings affixes,
                         std::vector<std::uint32_t> affix_order)
    : roots_(checked(std::move(roots))), affixes_(checked(std::move(affixes))), root_order_(std::move(root_order)),
      affix_order_(std::move(affix_order)), root_entries_(roots_.size(), no_entry),
      affix_entries_(affixes_.size(), no_entry) {
    assert(root_order_.size() <= roots_.size() && affix_order_.size() <= affixes_.size());
    for (std::uint32_t position : root_order_)
        if (!roots_[position].empty()) root_entries_[position] = pending;
    add_entries(root_entries_, false);

    // Both orders are sorted, so each affix is looked for in the roots only
    // past the place where the previous one was.
    auto root_before = [this](std::uint32_t root, std::string_view affix) { return roots_[root] < affix; };
    auto next_root = root_order_.begin();
    for (std::uint32_t position : affix_order_) {
        std::string_view affix = affixes_[position];
        if (affix.empty()) continue;
        next_root = std::lower_bound(next_root, root_order_.end(), affix, root_before);
        if (next_root != root_order_.end() && roots_[*next_root] == affix)
            affix_entries_[position] = std::exchange(root_entries_[*next_root], no_entry);
        else
            affix_entries_[position] = pending;
    }
    add_entries(affix_entries_, true);
    values_.assign(origins_.size(), 0.0);
}

// Gives every pending position an entry, in position order.
void ResultTable::add_entries(std::vector<Entry>& entries, bool from_affixes) {
    for (std::size_t position = 0; position < entries.size(); ++position) {
        if (entries[position] != pending) continue;
        entries[position] = static_cast<Entry>(origins_.size());
        origins_.push_back(Origin{static_cast<std::uint32_t>(position), from_affixes});
    }
}

}  // namespace morvanex

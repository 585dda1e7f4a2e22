#include "result_table.hpp"

#include <utility>

#include "internal_failure.hpp"

namespace morvanex {

ResultTable::ResultTable(StringSet roots, StringSet affixes)
    : roots_(std::move(roots)), affixes_(std::move(affixes)) {
    std::size_t capacity = roots_.size() + affixes_.size();
    if (capacity < roots_.size() || capacity > values_.max_size())
        throw InternalFailure("Hash table capacity overflow");
    empty_root_ = roots_.find("");
    root_entries_ = roots_.size() - (empty_root_ != StringIndex::not_found ? 1 : 0);
    affix_entries_.resize(affixes_.size(), no_entry);
    for (std::size_t position = 0; position < affixes_.size(); ++position) {
        std::string_view affix = affixes_[position];
        if (affix.empty()) continue;
        std::size_t root = roots_.find(affix);
        if (root != StringIndex::not_found) {
            affix_entries_[position] = root_entry(root);
        } else {
            affix_entries_[position] = root_entries_ + affix_only_positions_.size();
            affix_only_positions_.push_back(position);
        }
    }
    values_.assign(root_entries_ + affix_only_positions_.size(), 0.0);
}

}  // namespace morvanex

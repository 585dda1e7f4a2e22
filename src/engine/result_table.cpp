#include "result_table.hpp"

#include <utility>

#include "internal_failure.hpp"

namespace morvanex {

ResultTable::ResultTable(StringSet roots, StringSet affixes)
    : roots_(std::move(roots)), affixes_(std::move(affixes)) {
    std::size_t capacity = roots_.size() + affixes_.size();
    if (capacity < roots_.size() || capacity > entries_.max_size())
        throw InternalFailure("Hash table capacity overflow");
    entries_.reserve(capacity);
    empty_root_ = roots_.find("");
}

void ResultTable::add_root(std::size_t position, double value) {
    entries_.push_back(Entry{position, false, value});
}

void ResultTable::add_affix(std::size_t position, double value) {
    std::size_t root = roots_.find(affixes_[position]);
    if (root == StringIndex::not_found) {
        entries_.push_back(Entry{position, true, value});
        return;
    }
    // Roots were added in set order, all but the empty string.
    std::size_t entry = root - (empty_root_ != StringIndex::not_found && empty_root_ < root ? 1 : 0);
    entries_[entry].value = value;
}

}  // namespace morvanex

#pragma once
// The new scores of one iteration: one entry per distinct non-empty
// candidate, roots first in the order of their set, then the affixes that are
// not also roots, in theirs. The table owns both candidate sets and its keys
// are views into them, so no key is copied and no second hash index is built.
// Entries are laid out up front; values may then be filled in any order.
#include <cstddef>
#include <string_view>
#include <vector>

#include "string_set.hpp"

namespace morvanex {

class ResultTable {
public:
    using Entry = std::size_t;
    static constexpr Entry no_entry = static_cast<Entry>(-1);

    ResultTable(StringSet roots, StringSet affixes);

    const StringSet& roots() const { return roots_; }
    const StringSet& affixes() const { return affixes_; }

    // The entry of a candidate, or no_entry for the empty string. A string in
    // both sets has one entry, shared by its root and its affix position.
    Entry root_entry(std::size_t position) const {
        if (position == empty_root_) return no_entry;
        return position - (position > empty_root_ && empty_root_ != StringIndex::not_found ? 1 : 0);
    }
    Entry affix_entry(std::size_t position) const { return affix_entries_[position]; }

    void set_value(Entry entry, double value) { values_[entry] = value; }

    std::size_t size() const { return values_.size(); }
    std::string_view key(Entry entry) const {
        return entry < root_entries_ ? roots_[entry + (entry >= empty_root_ ? 1 : 0)]
                                     : affixes_[affix_only_positions_[entry - root_entries_]];
    }
    double value(Entry entry) const { return values_[entry]; }

private:
    StringSet roots_;
    StringSet affixes_;
    std::size_t empty_root_;     // position of the empty root, or not_found (the largest size_t)
    std::size_t root_entries_;   // entries [0, root_entries_) are the non-empty roots in order
    std::vector<std::size_t> affix_only_positions_;  // affix positions of the later entries
    std::vector<Entry> affix_entries_;               // entry of each affix position
    std::vector<double> values_;
};

}  // namespace morvanex

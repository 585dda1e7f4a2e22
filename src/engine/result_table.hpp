#pragma once
// The new scores of one iteration: one entry per distinct non-empty
// candidate, roots first in the order of their set, then the affixes that are
// not also roots. The table owns both candidate sets and its keys are views
// into them, so no key is copied and no second hash index is built: a root
// that is also an affix is found through the root set itself.
#include <cstddef>
#include <string_view>
#include <vector>

#include "string_set.hpp"

namespace morvanex {

class ResultTable {
public:
    ResultTable(StringSet roots, StringSet affixes);

    const StringSet& roots() const { return roots_; }
    const StringSet& affixes() const { return affixes_; }

    // Entry for the root at `position` of roots(); roots are added in order.
    void add_root(std::size_t position, double value);
    // Entry for the affix at `position` of affixes(); replaces the value of
    // an equal root added earlier.
    void add_affix(std::size_t position, double value);

    std::size_t size() const { return entries_.size(); }
    std::string_view key(std::size_t entry) const {
        const Entry& e = entries_[entry];
        return e.from_affixes ? affixes_[e.position] : roots_[e.position];
    }
    double value(std::size_t entry) const { return entries_[entry].value; }

private:
    struct Entry {
        std::size_t position;
        bool from_affixes;
        double value;
    };

    StringSet roots_;
    StringSet affixes_;
    std::size_t empty_root_ = StringIndex::not_found;  // where the skipped empty root sits
    std::vector<Entry> entries_;
};

}  // namespace morvanex

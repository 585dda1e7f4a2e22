#pragma once
// The new scores of one iteration: one entry per distinct non-empty
// candidate, roots first in the order they were inserted, then the affixes
// that are not also roots, in theirs. The table owns both candidate sets and
// its keys are views into them, so no key is copied. Entries are laid out up
// front; values are then filled in any order.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "inserted_strings.hpp"
#include "prefetch.hpp"

namespace morvanex {

class ResultTable {
public:
    using Entry = std::uint32_t;
    static constexpr Entry no_entry = UINT32_MAX;

    // Where an entry's key comes from: a position in roots() or affixes().
    struct Origin {
        std::uint32_t position : 31;
        std::uint32_t from_affixes : 1;
    };

    // `root_order` and `affix_order` are the members_in_byte_order() of
    // `roots` and `affixes`.
    ResultTable(InsertedStrings roots, std::vector<std::uint32_t> root_order, InsertedStrings affixes,
                std::vector<std::uint32_t> affix_order);

    const InsertedStrings& roots() const { return roots_; }
    const InsertedStrings& affixes() const { return affixes_; }
    // The positions of the distinct members of each set, in byte order.
    const std::vector<std::uint32_t>& roots_in_byte_order() const { return root_order_; }
    const std::vector<std::uint32_t>& affixes_in_byte_order() const { return affix_order_; }

    // The entry that a member position is scored into, or no_entry for the
    // empty string. A string in both sets has one entry, scored from its
    // affix position only (the affix value wins): its root position has none.
    Entry root_entry(std::size_t position) const { return root_entries_[position]; }
    Entry affix_entry(std::size_t position) const { return affix_entries_[position]; }

    void set_value(Entry entry, double value) { values_[entry] = value; }

    std::size_t size() const { return values_.size(); }
    std::string_view key(Entry entry) const {
        const Origin& o = origins_[entry];
        return o.from_affixes ? affixes_[o.position] : roots_[o.position];
    }
    double value(Entry entry) const { return values_[entry]; }

    // Where an entry's string is a candidate.
    enum class Membership { root, affix, both };
    // Calls visit(entry, key, membership) for every entry, in the byte order
    // of its key, loading ahead what the next visits read; stops as soon as
    // visit returns false, and then returns false.
    template <class Visit>
    bool visit_in_byte_order(Visit visit) const;

private:
    void add_entries(std::vector<Entry>& entries, bool from_affixes);

    InsertedStrings roots_;
    InsertedStrings affixes_;
    std::vector<std::uint32_t> root_order_;
    std::vector<std::uint32_t> affix_order_;
    std::vector<Entry> root_entries_;
    std::vector<Entry> affix_entries_;
    std::vector<Origin> origins_;
    std::vector<double> values_;
};

template <class Visit>
bool ResultTable::visit_in_byte_order(Visit visit) const {
    // A run of roots in byte order; those in both sets have no root entry
    // and come with their affix.
    auto visit_roots = [&](std::span<const std::uint32_t> run) {
        for (std::size_t k = 0; k < run.size(); ++k) {
            prefetch_ahead(
                run, k,
                [&](std::uint32_t position) {
                    prefetch(&root_entries_[position]);
                    roots_.strings().prefetch_record(position);
                },
                [&](std::uint32_t position) {
                    roots_.strings().prefetch_text(position);
                    if (root_entries_[position] != no_entry) prefetch(&values_[root_entries_[position]]);
                });
            const Entry entry = root_entries_[run[k]];
            if (entry != no_entry && !visit(entry, roots_[run[k]], Membership::root)) return false;
        }
        return true;
    };
    // Each affix finds its place among the roots past the previous one's.
    auto root_before = [this](std::uint32_t root, std::string_view affix) { return roots_[root] < affix; };
    auto next_root = root_order_.begin();
    for (std::uint32_t position : affix_order_) {
        const Entry entry = affix_entries_[position];
        if (entry == no_entry) continue;  // the empty string
        const std::string_view affix = affixes_[position];
        const auto place = std::lower_bound(next_root, root_order_.end(), affix, root_before);
        if (!visit_roots(std::span<const std::uint32_t>(next_root, place))) return false;
        next_root = place;
        // A string in both sets has the entry its root position had.
        if (!visit(entry, affix, origins_[entry].from_affixes ? Membership::affix : Membership::both)) return false;
    }
    return visit_roots(std::span<const std::uint32_t>(next_root, root_order_.end()));
}

}  // namespace morvanex

#pragma once
// A map from UTF-8 strings to doubles, filled in the order of a dict walk.
//
// Inserting a string that already has an entry replaces its value: the later
// insertion wins. As in StringSet, repeats are resolved by one sort instead
// of a hash lookup per insertion; `entries_in_byte_order` reports each
// distinct key once, at its last insertion. Values are stored as given: NaN,
// infinities and -0.0 included.
#include <cstdint>
#include <string_view>
#include <vector>

#include "prefetch.hpp"
#include "string_list.hpp"

namespace morvanex {

class ScoreTable {
public:
    explicit ScoreTable(std::size_t expected = 0) : keys_(expected) { values_.reserve(expected); }

    void insert_or_assign(std::string_view key, double value) {
        keys_.add(key);
        values_.push_back(value);
    }

    // Number of insertions, repeated keys included.
    std::size_t size() const { return keys_.size(); }
    bool empty() const { return keys_.empty(); }
    std::string_view key(std::size_t position) const { return keys_[position]; }
    double value(std::size_t position) const { return values_[position]; }

    void prefetch_entry(std::size_t position) const {
        keys_.prefetch_record(position);
        prefetch(&values_[position]);
    }
    void prefetch_text(std::size_t position) const { keys_.prefetch_text(position); }

    // The position of each distinct key's last insertion, ordered by the
    // keys' bytes.
    std::vector<std::uint32_t> entries_in_byte_order() const;

private:
    StringList keys_;
    std::vector<double> values_;
};

}  // namespace morvanex

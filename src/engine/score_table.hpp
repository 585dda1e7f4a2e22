#pragma once
// A map from distinct UTF-8 strings to doubles. Inserting an existing string
// replaces its value and keeps its place; iteration follows first insertion.
// Values are stored as given: NaN, infinities and -0.0 included.
#include <vector>

#include "string_index.hpp"

namespace morvanex {

class ScoreTable {
public:
    explicit ScoreTable(std::size_t expected = 0) : index_(expected) { values_.reserve(expected); }

    void insert_or_assign(std::string_view text, double value) {
        auto [position, inserted] = index_.insert(text);
        if (inserted)
            values_.push_back(value);
        else
            values_[position] = value;
    }

    // The value stored for `text`, or nullptr.
    const double* find(std::string_view text) const {
        std::size_t position = index_.find(text);
        return position == StringIndex::not_found ? nullptr : &values_[position];
    }

    void prefetch_entry(std::size_t position) const {
        index_.prefetch_record(position);
        __builtin_prefetch(&values_[position]);
    }
    void prefetch_text(std::size_t position) const { index_.prefetch_text(position); }

    std::size_t size() const { return index_.size(); }
    bool empty() const { return index_.empty(); }
    std::string_view key(std::size_t position) const { return index_[position]; }
    double value(std::size_t position) const { return values_[position]; }
    const StringIndex& keys() const { return index_; }

private:
    StringIndex index_;
    std::vector<double> values_;
};

}  // namespace morvanex

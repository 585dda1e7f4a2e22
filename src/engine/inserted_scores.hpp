#pragma once
// The entries inserted into a map from UTF-8 strings to doubles, in the
// order of a dict walk, repeated keys included: size(), key() and value()
// see every insertion. The map itself, in which a later insertion of a key
// replaces its value, is `entries_in_byte_order`: each distinct key once, at
// its last insertion. As in InsertedStrings, repeats are resolved by one sort
// instead of a hash lookup per insertion. Values are stored as given: NaN,
// infinities and -0.0 included.
#include <cassert>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "interruption.hpp"
#include "prefetch.hpp"
#include "string_list.hpp"

namespace morvanex {

class InsertedScores {
public:
    explicit InsertedScores(std::size_t expected = 0) : keys_(expected) { values_.reserve(expected); }

    // Insertions made all at once: key k with value k.
    InsertedScores(StringList keys, std::vector<double> values) : keys_(std::move(keys)), values_(std::move(values)) {
        assert(keys_.size() == values_.size());
    }

    void insert(std::string_view key, double value) {
        keys_.add(key);
        values_.push_back(value);
    }

    // Number of insertions, repeated keys included.
    std::size_t size() const { return keys_.size(); }
    // Bytes of all keys together.
    std::size_t bytes() const { return keys_.bytes(); }
    bool empty() const { return keys_.empty(); }
    std::string_view key(std::size_t position) const { return keys_[position]; }
    double value(std::size_t position) const { return values_[position]; }

    void prefetch_entry(std::size_t position) const {
        keys_.prefetch_record(position);
        prefetch(&values_[position]);
    }
    void prefetch_text(std::size_t position) const { keys_.prefetch_text(position); }

    // The position of each distinct key's last insertion, ordered by the
    // keys' bytes. Sorted on up to `threads` threads, counting the work
    // toward `interruption`, if any.
    std::vector<std::uint32_t> entries_in_byte_order(std::size_t threads = 1,
                                                     Interruption* interruption = nullptr) const;

private:
    StringList keys_;
    std::vector<double> values_;
};

}  // namespace morvanex

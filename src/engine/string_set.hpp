#pragma once
// A set of distinct UTF-8 strings. Iterates in first-insertion order.
#include "string_index.hpp"

namespace morvanex {

class StringSet {
public:
    explicit StringSet(std::size_t expected = 0) : index_(expected) {}

    // Returns true when `text` was not yet a member.
    bool insert(std::string_view text) { return index_.insert(text).inserted; }
    bool contains(std::string_view text) const { return find(text) != StringIndex::not_found; }
    // The member's position in iteration order, or StringIndex::not_found.
    std::size_t find(std::string_view text) const { return index_.find(text); }

    void prefetch_record(std::size_t position) const { index_.prefetch_record(position); }
    void prefetch_text(std::size_t position) const { index_.prefetch_text(position); }

    std::size_t size() const { return index_.size(); }
    bool empty() const { return index_.empty(); }
    std::string_view operator[](std::size_t position) const { return index_[position]; }

private:
    StringIndex index_;
};

}  // namespace morvanex

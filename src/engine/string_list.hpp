#pragma once
// UTF-8 strings stored back to back in one byte arena, numbered in the order
// they were added. String k is the byte range [offsets[k], offsets[k + 1]),
// so each string costs one offset and its bytes: no allocation per string.
#include <cassert>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "prefetch.hpp"

namespace morvanex {

class StringList {
public:
    explicit StringList(std::size_t expected = 0, std::size_t expected_bytes = 0) {
        offsets_.reserve(expected + 1);
        arena_.reserve(expected_bytes);
    }

    void add(std::string_view text) {
        arena_.append(text);
        offsets_.push_back(arena_.size());
    }

    std::size_t size() const { return offsets_.size() - 1; }
    bool empty() const { return size() == 0; }
    // Bytes of all strings together.
    std::size_t bytes() const { return arena_.size(); }
    // Where string `position` begins among the bytes of all strings.
    std::size_t offset(std::size_t position) const { return offsets_[position]; }
    std::string_view operator[](std::size_t position) const {
        assert(position < size());
        return {arena_.data() + offsets_[position], offsets_[position + 1] - offsets_[position]};
    }

    // Hints for loops that visit strings out of order: start loading where a
    // string is recorded, and then the string itself, some steps ahead.
    void prefetch_record(std::size_t position) const { prefetch(&offsets_[position]); }
    void prefetch_text(std::size_t position) const { prefetch(arena_.data() + offsets_[position]); }

private:
    std::string arena_;
    std::vector<std::size_t> offsets_{0};
};

}  // namespace morvanex

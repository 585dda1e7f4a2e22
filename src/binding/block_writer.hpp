#pragma once
// Text handed to a Python `write` callable (a binary file's write) in blocks
// of about a megabyte, as bytes: a file of millions of lines is made without
// holding it all, and the file object sees few calls.
//
// Ownership contract: the writer borrows `write` from the caller, who keeps
// it alive; each block is a new bytes object, released once `write` returns.
// It runs with the interpreter lock held, inside an entry frame: `write` is
// Python code, so a caller that walks a Python container while writing must
// check the container between lines.
#include <string>

#include "error_value.hpp"
#include "python_handles.hpp"

namespace morvanex::binding {

class BlockWriter {
public:
    explicit BlockWriter(PyObject* write) : write_(write) { text_.reserve(block_bytes + block_bytes / 8); }

    // Where the next line is appended.
    std::string& text() { return text_; }
    // Hands the text on once it fills a block: the error that `write` raised, if any.
    Result<Done> line_done() { return text_.size() < block_bytes ? Result<Done>(Done{}) : flush(); }
    // Hands on what is left.
    Result<Done> flush();

private:
    static constexpr std::size_t block_bytes = std::size_t{1} << 20;
    PyObject* write_;
    std::string text_;
};

}  // namespace morvanex::binding

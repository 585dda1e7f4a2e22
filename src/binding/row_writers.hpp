#pragma once
// The tab-separated lines of the `morvanex` command's results and segments
// files, made from what the searches read back and handed to a BlockWriter,
// with no Python object per line. A backslash, tab, newline or carriage
// return in a text field is written as \\, \t, \n or \r; floats as repr()
// writes them.
//
// Ownership contract: the search results are borrowed; the writer hands its
// blocks to Python code, so these run with the interpreter lock held, inside
// an entry frame. An exception that `write` raises comes back as the error.
#include <string_view>

#include "block_writer.hpp"
#include "driver.hpp"
#include "error_value.hpp"
#include "word_covers.hpp"

namespace morvanex::binding {

// Every non-empty candidate's line, in byte order (code point order):
// "<text>\t<root|affix|both>\t<length>\t<score>\t<yes|no>\n".
Result<Done> write_candidate_rows(const OwnBestCovers& own, BlockWriter& writer);

// "<word>\t<pieces joined by separator>\t<value>\n" for each word, in order;
// "" and -1.0 for a word without a cover.
Result<Done> write_segment_rows(const WordCovers& covers, std::string_view separator, BlockWriter& writer);

}  // namespace morvanex::binding

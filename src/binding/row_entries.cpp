// The entries of morvanex_covers.write_candidate_rows and write_segment_rows:
// the searches of cover_runs, read back as the tab-separated lines of the
// `morvanex` command's results and segments files, made here and handed to a
// `write` callable a block at a time, with no Python object per line.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "block_writer.hpp"
#include "conversions.hpp"
#include "cover_runs.hpp"
#include "covers_entries.hpp"
#include "entry_frame.hpp"
#include "messages.hpp"
#include "text_output.hpp"
#include "utf8.hpp"

namespace morvanex::binding {
namespace {

// Every non-empty candidate's row, in byte order (code point order):
// "<text>\t<kind>\t<length>\t<score>\t<yes|no>\n".
Result<Done> write_candidate_rows(const OwnBestCovers& own, BlockWriter& writer) {
    static constexpr std::string_view kinds[] = {"\troot\t", "\taffix\t", "\tboth\t"};
    std::optional<ErrorValue> failed;
    own.previous.visit_in_byte_order(
        [&](ResultTable::Entry entry, std::string_view text, ResultTable::Membership membership) {
            std::string& out = writer.text();
            append_tsv_field(out, text);
            out.append(kinds[static_cast<std::size_t>(membership)]);
            char digits[24];
            const int length = std::snprintf(digits, sizeof digits, "%zu", decoded_length(text));
            out.append(digits, static_cast<std::size_t>(length));
            out.push_back('\t');
            append_float_repr(out, own.previous.value(entry));
            out.append(own.kept[entry] != 0 ? "\tyes\n" : "\tno\n");
            Result<Done> written = writer.line_done();
            if (!written.ok()) failed = written.take_error();
            return !failed;
        });
    if (failed) return std::move(*failed);
    return writer.flush();
}

// "<word>\t<pieces joined by separator>\t<value>\n" for each word; "" and
// -1.0 for a word without a cover.
Result<Done> write_segment_rows(const WordCovers& covers, std::string_view separator, BlockWriter& writer) {
    std::string joined;
    for (std::size_t k = 0; k < covers.size(); ++k) {
        std::string& out = writer.text();
        append_tsv_field(out, covers.words()[k]);
        out.push_back('\t');
        joined.clear();
        if (covers.value(k) > -1.0) {
            bool first = true;
            covers.for_each_piece(k, [&](std::string_view piece) {
                if (!first) joined.append(separator);
                joined.append(piece);
                first = false;
            });
        }
        append_tsv_field(out, joined);
        out.push_back('\t');
        append_float_repr(out, covers.value(k));
        out.push_back('\n');
        if (Result<Done> written = writer.line_done(); !written.ok()) return written.take_error();
    }
    return writer.flush();
}

Result<OwnedRef> write_candidate_rows_body(PyObject* positional, PyObject* keywords) {
    static const char* const names[] = {
        "root_candidates", "affix_candidates", "scores", "one_char_whitelist", "write", nullptr};
    PyObject* argument[5] = {};
    if (!PyArg_ParseTupleAndKeywords(positional, keywords, "OOOOO:write_candidate_rows", const_cast<char**>(names),
                                     &argument[0], &argument[1], &argument[2], &argument[3], &argument[4]))
        return fetch_pending_error();
    const OwnedRef held[] = {OwnedRef::borrow(argument[0]), OwnedRef::borrow(argument[1]),
                             OwnedRef::borrow(argument[2]), OwnedRef::borrow(argument[3]),
                             OwnedRef::borrow(argument[4])};
    Result<OwnBestCovers> own = run_own_best_covers(argument, names);
    if (!own.ok()) return own.take_error();
    BlockWriter writer(argument[4]);
    if (Result<Done> written = write_candidate_rows(own.value(), writer); !written.ok()) return written.take_error();
    return kept_set(own.value());
}

Result<OwnedRef> write_segment_rows_body(PyObject* positional, PyObject* keywords) {
    static const char* const names[] = {"words", "scores", "one_char_whitelist", "write", "separator", nullptr};
    PyObject* argument[5] = {};
    if (!PyArg_ParseTupleAndKeywords(positional, keywords, "OOOO|O:write_segment_rows", const_cast<char**>(names),
                                     &argument[0], &argument[1], &argument[2], &argument[3], &argument[4]))
        return fetch_pending_error();
    const OwnedRef held[] = {OwnedRef::borrow(argument[0]), OwnedRef::borrow(argument[1]),
                             OwnedRef::borrow(argument[2]), OwnedRef::borrow(argument[3]),
                             OwnedRef::borrow(argument[4])};
    std::string separator = "+";
    if (argument[4] != nullptr) {
        if (!is_str(argument[4]))
            return tie_error_to_argument(names[4], type_mismatch_error(argument[4], messages::target_string));
        Result<Utf8Text> text = string_from_object(argument[4]);
        if (!text.ok()) return tie_error_to_argument(names[4], text.take_error());
        separator = text.value().view();
    }
    PyObject* const search[4] = {argument[0], argument[1], argument[2], nullptr};
    Result<WordCovers> covers = run_word_covers(search, names);
    if (!covers.ok()) return covers.take_error();
    BlockWriter writer(argument[3]);
    Result<Done> written = write_segment_rows(covers.value(), separator, writer);
    if (!written.ok()) return written.take_error();
    return OwnedRef::borrow(Py_None);
}

}  // namespace

PyMethodDef write_candidate_rows_method = keyword_method<write_candidate_rows_body>(
    "write_candidate_rows",
    "write_candidate_rows(root_candidates, affix_candidates, scores, one_char_whitelist, write)\n--\n\n"
    "own_best_covers(root_candidates, affix_candidates, scores, one_char_whitelist),\n"
    "after handing `write` (a binary file's write, say) a line for every\n"
    "non-empty candidate, in code point order, as UTF-8 bytes in blocks of\n"
    "about a megabyte: the candidate, its kind ('root', 'affix', or 'both' for\n"
    "a string in both sets), its length in characters, its score in `scores`\n"
    "as repr() writes it (0.0 when it has none, as in run_scoring_iteration)\n"
    "and 'yes' or 'no' for whether it is its own best cover, separated by tabs;\n"
    "a backslash, tab, newline or carriage return in the candidate is written\n"
    "as \\\\, \\t, \\n or \\r. An exception that `write` raises ends the call.");

PyMethodDef write_segment_rows_method = keyword_method<write_segment_rows_body>(
    "write_segment_rows", "write_segment_rows(words, scores, one_char_whitelist, write, separator='+')\n--\n\n"
                          "Hands `write` (a binary file's write, say) a line for each word of\n"
                          "`words` (a list or tuple of str), in order, as UTF-8 bytes in blocks of\n"
                          "about a megabyte: the word, the pieces of its best cover as a root\n"
                          "(best_covers) joined by `separator` (empty without a cover), and the\n"
                          "cover's value as repr() writes it (-1.0 without a cover), separated by\n"
                          "tabs; a backslash, tab, newline or carriage return in the first two is\n"
                          "written as \\\\, \\t, \\n or \\r. An exception that `write` raises ends the\n"
                          "call.");

}  // namespace morvanex::binding

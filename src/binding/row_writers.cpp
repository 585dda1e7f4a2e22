#include "row_writers.hpp"

#include <charconv>
#include <optional>
#include <string>
#include <utility>

#include "float_repr.hpp"
#include "text_output.hpp"
#include "utf8.hpp"

namespace morvanex::binding {

Result<Done> write_candidate_rows(const OwnBestCovers& own, BlockWriter& writer) {
    static constexpr std::string_view kinds[] = {"\troot\t", "\taffix\t", "\tboth\t"};
    std::optional<ErrorValue> failed;
    own.previous.visit_in_byte_order(
        [&](ResultTable::Entry entry, std::string_view text, ResultTable::Membership membership) {
            std::string& out = writer.text();
            append_tsv_field(out, text);
            out.append(kinds[static_cast<std::size_t>(membership)]);
            char digits[24];
            const std::to_chars_result length = std::to_chars(digits, digits + sizeof digits, decoded_length(text));
            out.append(digits, length.ptr);
            out.push_back('\t');
            append_float_repr(out, own.previous.value(entry));
            out.append(own.kept(entry) ? "\tyes\n" : "\tno\n");
            Result<Done> written = writer.line_done();
            if (!written.ok()) failed = written.take_error();
            return !failed;
        });
    if (failed) return std::move(*failed);
    return writer.flush();
}

Result<Done> write_segment_rows(const WordCovers& covers, std::string_view separator, BlockWriter& writer) {
    std::string joined;
    for (std::size_t k = 0; k < covers.size(); ++k) {
        std::string& out = writer.text();
        append_tsv_field(out, covers.words()[k]);
        out.push_back('\t');
        joined.clear();
        if (covers.covered(k)) {
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

}  // namespace morvanex::binding

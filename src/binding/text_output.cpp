#include "text_output.hpp"

namespace morvanex::binding {

void append_tsv_field(std::string& out, std::string_view text) {
    auto is_escaped = [](char byte) { return byte == '\\' || byte == '\t' || byte == '\n' || byte == '\r'; };
    // Most fields need no escape: one scan, one append.
    std::size_t clean = 0;
    while (clean < text.size() && !is_escaped(text[clean])) ++clean;
    out.append(text.substr(0, clean));
    for (const char byte : text.substr(clean)) {
        switch (byte) {
            case '\\': out.append("\\\\"); break;
            case '\t': out.append("\\t"); break;
            case '\n': out.append("\\n"); break;
            case '\r': out.append("\\r"); break;
            default: out.push_back(byte);
        }
    }
}

}  // namespace morvanex::binding

#include "text_output.hpp"

#include <memory>

#include "binding_failure.hpp"
#include "messages.hpp"
#include "python_handles.hpp"

namespace morvanex::binding {
namespace {

struct PyMemFree {
    void operator()(char* text) const noexcept { PyMem_Free(text); }
};

}  // namespace

void append_float_repr(std::string& out, double value) {
    // What float.__repr__ itself calls: 'r' is the shortest round-trip form.
    const std::unique_ptr<char, PyMemFree> text(PyOS_double_to_string(value, 'r', 0, Py_DTSF_ADD_DOT_0, nullptr));
    if (!text) fail_with_error(messages::float_format_failed, fetch_pending_error());
    out.append(text.get());
}

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

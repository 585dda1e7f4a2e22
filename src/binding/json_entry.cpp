// The entry of morvanex_covers.write_scores_json: the JSON text of a dict of
// scores made natively, where json's encoder makes a str per key and per value
// of millions, and handed to a write callable a block at a time so that the
// whole text is never held at once.
#include <cmath>
#include <string>
#include <string_view>

#include "binding_failure.hpp"
#include "conversions.hpp"
#include "covers_entries.hpp"
#include "entry_frame.hpp"
#include "messages.hpp"
#include "text_output.hpp"

namespace morvanex::binding {
namespace {

// The text is handed out once it reaches this size: few calls of `write`,
// little held at once.
constexpr std::size_t block_size = std::size_t{1} << 20;

// The escape of one byte of a JSON string as json writes it with
// ensure_ascii=False, or an empty view for a byte written as it is (every
// byte of a multi-byte UTF-8 sequence is one).
std::string_view json_escape(char byte, char (&numeric)[7]) {
    switch (byte) {
        case '"': return "\\\"";
        case '\\': return "\\\\";
        case '\n': return "\\n";
        case '\r': return "\\r";
        case '\t': return "\\t";
        case '\b': return "\\b";
        case '\f': return "\\f";
        default: break;
    }
    const auto code = static_cast<unsigned char>(byte);
    if (code >= 0x20) return {};
    static constexpr char hex_digits[] = "0123456789abcdef";
    numeric[4] = hex_digits[code >> 4];
    numeric[5] = hex_digits[code & 0xf];
    return {numeric, 6};
}

// `text` (UTF-8) as a quoted JSON string; the runs between escapes are
// appended whole.
void append_json_string(std::string& out, std::string_view text) {
    char numeric[7] = "\\u00";
    out.push_back('"');
    std::size_t run = 0;
    for (std::size_t k = 0; k < text.size(); ++k) {
        const std::string_view escape = json_escape(text[k], numeric);
        if (escape.empty()) continue;
        out.append(text, run, k - run);
        out.append(escape);
        run = k + 1;
    }
    out.append(text, run);
    out.push_back('"');
}

// `value` as json writes a float with allow_nan: repr() when finite.
void append_json_number(std::string& out, double value) {
    if (std::isnan(value))
        out.append("NaN");
    else if (std::isinf(value))
        out.append(value > 0 ? "Infinity" : "-Infinity");
    else
        append_float_repr(out, value);
}

// Hands `text` to `write` as one bytes object and empties it.
Result<Done> hand_out(PyObject* write, std::string& text) {
    const OwnedRef block = expect_created(PyBytes_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    text.clear();
    const OwnedRef returned = OwnedRef::steal(PyObject_CallFunctionObjArgs(write, block.get(), nullptr));
    if (!returned) return fetch_pending_error();
    return Done{};
}

Result<OwnedRef> write_scores_json_body(PyObject* positional, PyObject* keywords) {
    static const char* const names[] = {"scores", "write", nullptr};
    PyObject* scores_argument = nullptr;
    PyObject* write_argument = nullptr;
    if (!PyArg_ParseTupleAndKeywords(positional, keywords, "OO:write_scores_json", const_cast<char**>(names),
                                     &scores_argument, &write_argument))
        return fetch_pending_error();
    const OwnedRef scores = OwnedRef::borrow(scores_argument);
    const OwnedRef write = OwnedRef::borrow(write_argument);
    if (!is_dict(scores.get()))
        return tie_error_to_argument(names[0], type_mismatch_error(scores.get(), messages::target_dict));

    std::string text = "{";
    const Py_ssize_t recorded_size = PyDict_Size(scores.get());
    Py_ssize_t cursor = 0;
    Py_ssize_t remaining = recorded_size;
    bool first_entry = true;
    for (;;) {
        // `write` is Python code that may change the dict between two blocks.
        if (PyDict_Size(scores.get()) != recorded_size) fail(messages::dict_changed_size);
        if (remaining == -1) fail(messages::dict_keys_changed);
        PyObject* borrowed_key = nullptr;
        PyObject* borrowed_value = nullptr;
        if (!PyDict_Next(scores.get(), &cursor, &borrowed_key, &borrowed_value)) break;
        --remaining;
        const OwnedRef key = OwnedRef::borrow(borrowed_key);
        const OwnedRef value = OwnedRef::borrow(borrowed_value);
        Result<Utf8Text> key_text = string_from_object(key.get());
        if (!key_text.ok()) return tie_error_to_argument(names[0], key_text.take_error());
        // A float (or subclass) is read without running Python code, as json reads it.
        if (!is_float(value.get()))
            return tie_error_to_argument(names[0], type_mismatch_error(value.get(), messages::target_float));
        Result<double> number = double_from_object(value.get());
        if (!number.ok()) return number.take_error();

        if (!first_entry) text.push_back(',');
        first_entry = false;
        append_json_string(text, key_text.value().view());
        text.push_back(':');
        append_json_number(text, number.value());
        if (text.size() >= block_size) {
            Result<Done> handed = hand_out(write.get(), text);
            if (!handed.ok()) return handed.take_error();
        }
    }
    text.push_back('}');
    Result<Done> handed = hand_out(write.get(), text);
    if (!handed.ok()) return handed.take_error();
    return OwnedRef::borrow(Py_None);
}

}  // namespace

PyMethodDef write_scores_json_method = keyword_method<write_scores_json_body>(
    "write_scores_json", "write_scores_json(scores, write)\n--\n\n"
                         "Write the JSON text of `scores` (a dict from str to float): byte for byte\n"
                         "json.dumps(scores, ensure_ascii=False, separators=(\",\", \":\")) encoded as\n"
                         "UTF-8, NaN and the infinities as json writes them, handed in order to\n"
                         "`write` (such as a binary file's write) as bytes of about a megabyte\n"
                         "each. An exception from `write` ends the call unchanged, the blocks\n"
                         "before it written.");

}  // namespace morvanex::binding

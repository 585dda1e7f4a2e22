// The entries of morvanex_covers.write_scores_json and read_scores_json: the
// JSON text of a dict of scores made natively, where json's encoder makes a
// str per key and per value of millions, and handed to a write callable a
// block at a time so that the whole text is never held at once; and such a
// text read back natively, where json's decoder makes a str per number and
// looks every key up in its memo.
#include <array>
#include <bit>
#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>

#include "binding_failure.hpp"
#include "block_writer.hpp"
#include "conversions.hpp"
#include "covers_entries.hpp"
#include "dict_storing_hashes.hpp"
#include "entry_frame.hpp"
#include "held_arguments.hpp"
#include "messages.hpp"
#include "scores_json_input.hpp"
#include "scores_json_text.hpp"

namespace morvanex::binding {
namespace {

Result<OwnedRef> write_scores_json_body(PyObject* positional, PyObject* keywords) {
    static const char* const names[] = {"scores", "write", nullptr};
    Result<HeldArguments<2>> parsed = HeldArguments<2>::parse(positional, keywords, "OO:write_scores_json", names);
    if (!parsed.ok()) return parsed.take_error();
    PyObject* const scores = parsed.value()[0];
    PyObject* const write = parsed.value()[1];
    if (!is_dict(scores)) return tie_error_to_argument(names[0], type_mismatch_error(scores, messages::target_dict));

    BlockWriter writer(write);
    ScoresJsonText json(writer);
    // `write` is Python code that may change the dict between two blocks.
    DictItems items(scores);
    for (OwnedRef key, value; items.next(key, value);) {
        Result<Utf8Text> key_text = string_from_object(key.get());
        if (!key_text.ok()) return tie_error_to_argument(names[0], key_text.take_error());
        // A float (or subclass) is read without running Python code, as json reads it.
        if (!is_float(value.get()))
            return tie_error_to_argument(names[0], type_mismatch_error(value.get(), messages::target_float));
        Result<double> number = double_from_object(value.get());
        if (!number.ok()) return number.take_error();
        if (Result<Done> written = json.member(key_text.value().view(), number.value()); !written.ok())
            return written.take_error();
    }
    if (Result<Done> written = json.finish(); !written.ok()) return written.take_error();
    return OwnedRef::borrow(Py_None);
}

// Float objects by the bits of their values: equal scores share one object,
// as they did when a session's scores were made.
class SharedFloats {
public:
    PyObject* get(double value) {
        const auto bits = std::bit_cast<std::uint64_t>(value);
        Slot& slot = slots_[(bits * 0x9E3779B97F4A7C15u) >> (64 - slot_bits)];
        if (!slot.object || slot.bits != bits) {
            slot.object = expect_created(PyFloat_FromDouble(value));
            slot.bits = bits;
        }
        return slot.object.get();
    }

private:
    static constexpr int slot_bits = 12;
    struct Slot {
        std::uint64_t bits = 0;
        OwnedRef object;
    };
    std::array<Slot, std::size_t{1} << slot_bits> slots_{};
};

Result<OwnedRef> read_scores_json_body(PyObject* positional, PyObject* keywords) {
    static const char* const names[] = {"data", "start", nullptr};
    Result<HeldArguments<2>> parsed = HeldArguments<2>::parse(positional, keywords, "O|O:read_scores_json", names);
    if (!parsed.ok()) return parsed.take_error();
    const HeldArguments<2>& argument = parsed.value();
    Result<std::string_view> text = json_text_of(argument[0], names[0]);
    if (!text.ok()) return text.take_error();
    Result<std::size_t> start = json_start_of(argument[1], names[1]);
    if (!start.ok()) return start.take_error();
    Result<ScoresJson> read = read_json_members(text.value(), start.value());
    if (!read.ok()) return read.take_error();
    const ScoresJson& members = read.value();

    DictStoringHashes scores;
    const auto numbers = std::make_unique<JsonNumbers>();
    const auto floats = std::make_unique<SharedFloats>();
    for (std::size_t k = 0; k < members.numbers.size(); ++k) {
        // Millions of inserts: a signal handler gets its turn now and then.
        if (k % 65536 == 65535 && PyErr_CheckSignals() < 0) return fetch_pending_error();
        Result<double> value = numbers->value(members.numbers[k]);
        if (!value.ok()) return value.take_error();
        OwnedRef key = str_from_utf8(members.keys[k]);
        if (PyDict_SetItem(scores.get(), key.get(), floats->get(value.value())) < 0)
            fail_with_error(messages::set_item_failed, fetch_pending_error());
    }
    return pair_of(std::move(scores).take(), expect_created(PyLong_FromSize_t(members.end)));
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

PyMethodDef read_scores_json_method = keyword_method<read_scores_json_body>(
    "read_scores_json", "read_scores_json(data, start=0)\n--\n\n"
                        "(scores, end): the JSON object that begins at byte `start` of `data` (bytes,\n"
                        "UTF-8), after any whitespace, whose values are all numbers, such as\n"
                        "write_scores_json writes, read as json.loads reads it into a dict from str\n"
                        "to float (a later repeat of a key replacing its value), except that every\n"
                        "number is a float, as float() reads its text, NaN and Infinity included;\n"
                        "and the byte just past its closing brace. Text that is no such object, a\n"
                        "key that is not UTF-8 or holds a lone surrogate escape, is a ValueError\n"
                        "that names the byte where it goes wrong.");

}  // namespace morvanex::binding

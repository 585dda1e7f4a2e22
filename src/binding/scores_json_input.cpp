#include "scores_json_input.hpp"

#include <cstring>
#include <limits>
#include <string>

#include "binding_failure.hpp"
#include "conversions.hpp"
#include "interpreter_lock.hpp"
#include "messages.hpp"

namespace morvanex::binding {
namespace {

// The double of a number's JSON text, as float() reads it.
Result<double> double_from_json_number(std::string_view text) {
    if (text == "NaN") return std::numeric_limits<double>::quiet_NaN();
    if (text == "Infinity") return std::numeric_limits<double>::infinity();
    if (text == "-Infinity") return -std::numeric_limits<double>::infinity();
    // The text is followed by a byte that no number holds (the bytes
    // object ends in a NUL), so the conversion stops where it ends.
    char* end = nullptr;
    const double value = PyOS_string_to_double(text.data(), &end, nullptr);
    if (value == -1.0 && PyErr_Occurred() != nullptr) return fetch_pending_error();
    if (end != text.data() + text.size()) fail(messages::api_call_failed);
    return value;
}

}  // namespace

Result<std::string_view> json_text_of(PyObject* data, const char* data_name) {
    if (!PyBytes_Check(data))
        return tie_error_to_argument(data_name, type_mismatch_error(data, messages::target_bytes));
    // A bytes object never changes, and the caller holds it.
    return std::string_view(PyBytes_AsString(data), static_cast<std::size_t>(PyBytes_Size(data)));
}

Result<std::size_t> json_start_of(PyObject* start, const char* start_name) {
    if (start == nullptr) return std::size_t{0};
    Result<std::size_t> given = index_from_object(start, messages::negative_start);
    if (!given.ok()) return tie_error_to_argument(start_name, given.take_error());
    return given;
}

Result<ScoresJson> read_json_members(std::string_view text, std::size_t start, const InsertedStrings* wanted) {
    Result<ScoresJson> read = run_engine<ScoresJson>(
        [&](std::size_t, Interruption& interruption) { return read_scores_json(text, start, interruption, wanted); });
    if (!read.ok()) return read.take_error();
    if (!read.value().error.empty()) return ErrorValue::with_message(PyExc_ValueError, read.value().error);
    return read;
}

Result<double> JsonNumbers::value(std::string_view text) {
    std::uint64_t hash = 0xcbf29ce484222325u;  // FNV-1a
    for (char byte : text) hash = (hash ^ static_cast<unsigned char>(byte)) * 0x100000001b3u;
    Slot& slot = slots_[hash >> (64 - slot_bits)];
    if (slot.size == text.size() && std::memcmp(slot.text.data(), text.data(), text.size()) == 0) return slot.value;
    Result<double> value = double_from_json_number(text);
    if (!value.ok() || text.size() > slot.text.size()) return value;
    slot.value = value.value();
    slot.size = static_cast<std::uint8_t>(text.size());
    std::memcpy(slot.text.data(), text.data(), text.size());
    return value;
}

}  // namespace morvanex::binding

#pragma once
// The JSON text of scores as morvanex_covers reads it back: a bytes object
// and a start offset, read by the engine, and the numbers' texts turned into
// doubles as float() turns them.
//
// Ownership contract: the arguments are borrowed; the ScoresJson's numbers
// are views into `data`, which the caller keeps alive while it reads them.
// A conversion error comes back tied to the argument's name; text that is no
// object of numbers is a ValueError naming the byte.
#include <array>
#include <cstdint>
#include <string_view>

#include "error_value.hpp"
#include "python_handles.hpp"
#include "scores_json.hpp"

namespace morvanex::binding {

// The text that `data`, which must be bytes, holds; a view into it.
Result<std::string_view> json_text_of(PyObject* data, const char* data_name);

// Where `start` (null for 0), an index, has the scores begin.
Result<std::size_t> json_start_of(PyObject* start, const char* start_name);

// The members of the object at byte `start` of `text` whose keys `wanted`
// holds, or all without it.
Result<ScoresJson> read_json_members(std::string_view text, std::size_t start, const InsertedStrings* wanted = nullptr);

// The doubles of number texts. Most of a session's scores repeat a few
// thousand values (the initial frequencies that training left), and turning
// a text into a double is the slower half of reading: the texts met lately
// are kept with their doubles.
class JsonNumbers {
public:
    Result<double> value(std::string_view text);

private:
    static constexpr int slot_bits = 12;
    struct Slot {
        double value = 0.0;
        std::uint8_t size = 0;        // 0: empty (no number's text is)
        std::array<char, 31> text{};  // repr's longest text has 24 characters
    };
    std::array<Slot, std::size_t{1} << slot_bits> slots_{};
};

}  // namespace morvanex::binding

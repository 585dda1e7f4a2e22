#pragma once
// Reading the JSON text of scores back: one object whose members map strings
// to numbers, as json writes a dict of floats (NaN and the infinities as
// NaN, Infinity and -Infinity). The keys are unescaped and checked here; the
// numbers are handed on as the texts they are written as, so that whoever
// makes the doubles can use the conversion that float() uses.
//
// Ownership: a ScoresJson owns its keys; its numbers are views into the text
// it was read from, which must outlive them.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "inserted_strings.hpp"
#include "interruption.hpp"
#include "string_list.hpp"

namespace morvanex {

struct ScoresJson {
    StringList keys;                        // each member's key, as UTF-8
    std::vector<std::string_view> numbers;  // each member's number, as written
    std::size_t end = 0;                    // just past the object's closing brace
    std::string error;                      // why the text is no such object; empty when it is
};

// The object that begins at byte `start` of `text`, after any JSON
// whitespace: its members in order, repeated keys included (a later one
// stands for the key, as in json). Everything is JSON as json reads it
// strictly, except that a key must be valid UTF-8 without lone surrogates,
// which a str made from the text could not hold, and that each value must be
// a number. Counts a unit per member toward `interruption`. Given `wanted`,
// keeps only the members whose keys it holds; the others are read and
// checked all the same.
ScoresJson read_scores_json(std::string_view text, std::size_t start, Interruption& interruption,
                            const InsertedStrings* wanted = nullptr);

}  // namespace morvanex

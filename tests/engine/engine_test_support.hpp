#pragma once
// Small builders shared by the engine tests.
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>

#include "char_sequence.hpp"
#include "literal_scorer.hpp"
#include "piece_index.hpp"
#include "scorer.hpp"

namespace morvanex::testing {

inline InsertedScores table_of(std::initializer_list<std::pair<const char*, double>> entries) {
    InsertedScores table(entries.size());
    for (auto& [text, value] : entries) table.insert(text, value);
    return table;
}

inline InsertedStrings set_of(std::initializer_list<const char*> members) {
    InsertedStrings set;
    for (const char* member : members) set.insert(member);
    return set;
}

inline double fast_score(std::string_view candidate, const InsertedScores& scores, const InsertedStrings& whitelist,
                         CandidateKind kind) {
    PieceIndex pieces(scores, scores.entries_in_byte_order(), whitelist);
    ScorerScratch scratch;
    decode_into(candidate, scratch.chars);
    return best_cover(scratch.chars, pieces, kind, scratch).value;
}

inline double literal_score(std::string_view candidate, const InsertedScores& scores, const InsertedStrings& whitelist,
                            CandidateKind kind) {
    return literal::best_cover_value(literal::decode(candidate), literal::Lookup(scores, whitelist), kind);
}

inline std::uint64_t bits_of(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

}  // namespace morvanex::testing

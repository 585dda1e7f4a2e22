#pragma once
// Random scorer inputs built so that covers are common: candidates are
// concatenations of scored pieces with the odd stray character, over small
// alphabets that mix one- to four-byte characters.
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "literal_scorer.hpp"

namespace morvanex::testing {

struct RandomInputs {
    InsertedScores scores;
    InsertedStrings whitelist;
    std::vector<std::string> candidates;
};

inline double random_score(std::mt19937_64& rng) {
    static const double specials[] = {0.0,      -0.0,      -1.0, -0.5, 1.0, std::numeric_limits<double>::quiet_NaN(),
                                      INFINITY, -INFINITY, -2.0, 1e308};
    std::uniform_int_distribution<int> pick(0, 9);
    if (pick(rng) < 3) return specials[std::uniform_int_distribution<std::size_t>(0, 9)(rng)];
    return std::uniform_real_distribution<double>(-1.5, 4.0)(rng);
}

inline RandomInputs make_random_inputs(std::mt19937_64& rng) {
    // Both sides of every width boundary of UTF-8; U+007F and U+0080 come
    // early, so that most alphabets cross the end of the trie's ASCII tables.
    static const std::vector<char32_t> universe = {U'a', 0x7F,   U'b',    0x80, U'c',  U'd',
                                                   0xE9, 0x20AC, 0x1F600, 0x0,  0x7FF, 0x800};
    std::uniform_int_distribution<std::size_t> alphabet_size(1, universe.size());
    std::vector<char32_t> alphabet(universe.begin(), universe.begin() + static_cast<long>(alphabet_size(rng)));
    std::uniform_int_distribution<std::size_t> letter(0, alphabet.size() - 1);
    auto random_text = [&](std::size_t length) {
        std::string text;
        for (std::size_t k = 0; k < length; ++k) literal::encode_into(alphabet[letter(rng)], text);
        return text;
    };

    RandomInputs inputs;
    std::vector<std::string> pieces;
    std::size_t piece_count = std::uniform_int_distribution<std::size_t>(0, 40)(rng);
    std::uniform_int_distribution<std::size_t> piece_length(1, 6);
    for (std::size_t k = 0; k < piece_count; ++k) {
        pieces.push_back(random_text(piece_length(rng)));
        inputs.scores.insert(pieces.back(), random_score(rng));
    }
    std::bernoulli_distribution coin(0.6);
    for (char32_t c : alphabet) {
        std::string text;
        literal::encode_into(c, text);
        if (coin(rng)) inputs.whitelist.insert(text);
    }
    if (coin(rng)) inputs.whitelist.insert(random_text(2));  // longer members play no part

    std::uniform_int_distribution<std::size_t> candidate_count(1, 12);
    std::size_t count = candidate_count(rng);
    for (std::size_t k = 0; k < count; ++k) {
        std::size_t longest = std::bernoulli_distribution(0.1)(rng) ? 300 : 12;
        std::size_t length = std::uniform_int_distribution<std::size_t>(1, longest)(rng);
        std::string candidate;
        while (literal::decode(candidate).size() < length) {
            if (!pieces.empty() && coin(rng))
                candidate += pieces[std::uniform_int_distribution<std::size_t>(0, pieces.size() - 1)(rng)];
            else
                candidate += random_text(1);
        }
        inputs.candidates.push_back(candidate);
    }
    return inputs;
}

}  // namespace morvanex::testing

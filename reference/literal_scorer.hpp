#pragma once
// The best cover's value written exactly as the algorithm reads: for every
// end i, for every start j < i, build the piece's text afresh and look it up.
// Cubic and slow on purpose; it is the oracle the fast scorer is checked
// against in tests, fuzzing and benchmarks, and with the update rule below,
// the one every check of whole iterations applies.
#include <cstddef>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "candidate_kind.hpp"
#include "inserted_scores.hpp"
#include "inserted_strings.hpp"

namespace morvanex::literal {

inline std::u32string decode(std::string_view utf8) {
    std::u32string out;
    for (std::size_t k = 0; k < utf8.size();) {
        auto lead = static_cast<unsigned char>(utf8[k]);
        std::size_t width = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t value = width == 1 ? lead : width == 2 ? lead & 0x1F : width == 3 ? lead & 0x0F : lead & 0x07;
        for (std::size_t m = 1; m < width; ++m) value = (value << 6) | (static_cast<unsigned char>(utf8[k + m]) & 0x3F);
        out.push_back(value);
        k += width;
    }
    return out;
}

inline void encode_into(char32_t c, std::string& out) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// Plain hash lookups over the engine's containers: the later insertion of a
// key wins, as in a dict walk.
struct Lookup {
    std::unordered_map<std::string, double> scores;
    std::unordered_set<std::string> whitelist;

    Lookup(const InsertedScores& score_table, const InsertedStrings& whitelist_set) {
        for (std::size_t k = 0; k < score_table.size(); ++k)
            scores[std::string(score_table.key(k))] = score_table.value(k);
        for (std::size_t k = 0; k < whitelist_set.size(); ++k) whitelist.insert(std::string(whitelist_set[k]));
    }
    const double* find(const std::string& text) const {
        auto found = scores.find(text);
        return found == scores.end() ? nullptr : &found->second;
    }
    bool contains(const std::string& text) const { return whitelist.count(text) != 0; }
};

inline double best_cover_value(const std::u32string& chars, const Lookup& tables, CandidateKind kind) {
    const std::size_t n = chars.size();
    std::vector<double> best(n + 1, -1.0);
    best[0] = 0.0;
    for (std::size_t i = 1; i <= n; ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (!(best[j] > -1.0)) continue;
            std::string text;
            text.reserve(i - j);
            for (std::size_t k = j; k < i; ++k) encode_into(chars[k], text);
            if (i - j == 1 && !tables.contains(text)) continue;
            if (kind == CandidateKind::affix && !(j == 0 || i == n)) continue;
            const double* score = tables.find(text);
            if (score == nullptr) continue;
            double total = best[j] + *score;
            if (total > best[i]) best[i] = total;
        }
    }
    return best[n];
}

// A candidate's new score from its best cover N, its previous score P (its
// value in the scores, else +0.0) and its length L in characters: P when N < 0
// or P >= N, else (1.0 / L) / (N + 1.0), evaluated in that order.
inline double updated_score(double previous, double best_cover, std::size_t length) {
    if (best_cover < 0.0 || previous >= best_cover) return previous;
    return (1.0 / static_cast<double>(length)) / (best_cover + 1.0);
}

}  // namespace morvanex::literal

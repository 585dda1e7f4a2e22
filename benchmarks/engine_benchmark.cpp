// Fast scorer against the literal one, printing times and their ratio.
//
//   engine_benchmark [WORD_LIST]     (default /usr/share/dict/ngerman)
//
// (a) every word of a real word list as a root, with scores for its frequent
//     substrings of 2 to 8 characters and for every letter (all whitelisted);
// (b) synthetic strings of 100 to 10,000 characters over a 4-letter alphabet
//     where every letter is whitelisted and scored and keys run up to 8
//     characters. The literal scorer runs only where it finishes in seconds.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "char_sequence.hpp"
#include "literal_scorer.hpp"
#include "piece_index.hpp"
#include "scorer.hpp"

using namespace morvanex;

namespace {

double seconds(const std::function<void()>& work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double best_of(int runs, const std::function<void()>& work) {
    double best = 1e300;
    for (int k = 0; k < runs; ++k) best = std::min(best, seconds(work));
    return best;
}

std::vector<std::string> read_words(const char* path) {
    std::ifstream in(path);
    std::vector<std::string> words;
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) words.push_back(line);
    return words;
}

double checksum_fast(const std::vector<std::string>& words, const ScoreTable& scores, const StringSet& whitelist,
                     bool is_affix) {
    PieceIndex pieces(scores, whitelist);
    ScorerScratch scratch;
    double sum = 0;
    for (const std::string& word : words) {
        decode_into(word, scratch.chars);
        sum += best_segmentation_score(scratch.chars, pieces, is_affix, scratch);
    }
    return sum;
}

double checksum_literal(const std::vector<std::string>& words, const literal::Lookup& tables, bool is_affix) {
    double sum = 0;
    for (const std::string& word : words) sum += literal::best_segmentation_score(literal::decode(word), tables, is_affix);
    return sum;
}

void word_list_workload(const char* path) {
    std::vector<std::string> words = read_words(path);
    if (words.empty()) {
        std::printf("(a) %s: missing or empty, skipped (apt-get install wngerman)\n", path);
        return;
    }
    std::unordered_map<std::string, int> counts;
    std::unordered_set<std::string> letters;
    for (const std::string& word : words) {
        std::u32string chars = literal::decode(word);
        for (std::size_t j = 0; j < chars.size(); ++j) {
            std::string text;
            for (std::size_t i = j; i < chars.size() && i < j + 8; ++i) {
                literal::encode_into(chars[i], text);
                if (i == j) letters.insert(text);
                ++counts[text];
            }
        }
    }
    StringSet whitelist;
    for (const std::string& letter : letters) whitelist.insert(letter);
    ScoreTable scores(counts.size());
    for (auto& [text, count] : counts)
        if (count >= 20) scores.insert_or_assign(text, static_cast<double>(count) / static_cast<double>(words.size()));

    std::printf("(a) %s: %zu words, %zu scored pieces\n", path, words.size(), scores.size());
    // The fast times below include building the piece trie once per pass;
    // the literal scorer's hash lookups are built outside its timing.
    double build = best_of(3, [&] { PieceIndex pieces(scores, whitelist); });
    std::printf("    piece trie built in %.3f s\n", build);
    const literal::Lookup tables(scores, whitelist);
    for (bool is_affix : {false, true}) {
        double fast_sum = 0, slow_sum = 0;
        double fast = best_of(3, [&] { fast_sum = checksum_fast(words, scores, whitelist, is_affix); });
        double slow = best_of(1, [&] { slow_sum = checksum_literal(words, tables, is_affix); });
        std::printf("    %-5s fast %8.3f s  literal %8.3f s  ratio %6.1fx  (%6.1fx without the build)  (%s)\n",
                    is_affix ? "affix" : "root", fast, slow, slow / fast, slow / (fast - build),
                    fast_sum == slow_sum ? "same sums" : "SUMS DIFFER");
    }
}

void synthetic_workload() {
    std::mt19937_64 rng(7);
    const char letters[] = "acgt";
    std::uniform_int_distribution<int> letter(0, 3);
    auto random_text = [&](std::size_t length) {
        std::string text;
        for (std::size_t k = 0; k < length; ++k) text.push_back(letters[letter(rng)]);
        return text;
    };
    ScoreTable scores;
    StringSet whitelist;
    for (int k = 0; k < 4; ++k) {
        std::string one(1, letters[k]);
        whitelist.insert(one);
        scores.insert_or_assign(one, 0.25);
    }
    std::uniform_int_distribution<std::size_t> key_length(2, 8);
    std::uniform_real_distribution<double> value(0.0, 2.0);
    for (int k = 0; k < 2000; ++k) scores.insert_or_assign(random_text(key_length(rng)), value(rng));

    std::printf("(b) synthetic, 4 letters, %zu keys up to 8 characters\n", scores.size());
    double first_fast = 0;
    for (std::size_t length : {100u, 1000u, 10000u, 100000u, 1000000u}) {
        std::vector<std::string> words{random_text(length)};
        int repeats = static_cast<int>(std::max<std::size_t>(1, 100000 / length));
        // The index is built once here: this measures how scoring grows with length.
        const PieceIndex pieces(scores, whitelist);
        ScorerScratch scratch;
        decode_into(words[0], scratch.chars);
        double fast = best_of(3, [&] {
                          for (int r = 0; r < repeats; ++r) best_segmentation_score(scratch.chars, pieces, false, scratch);
                      }) / repeats;
        if (first_fast == 0) first_fast = fast;
        std::printf("    n=%8zu  fast %10.6f s  (x%8.1f of n=100)", length, fast, fast / first_fast);
        if (length <= 1000) {
            const literal::Lookup tables(scores, whitelist);
            double slow = best_of(1, [&] { checksum_literal(words, tables, false); });
            std::printf("  literal %10.6f s  ratio %8.1fx", slow, slow / fast);
        }
        std::printf("\n");
    }
}

}  // namespace

int main(int argc, char** argv) {
    word_list_workload(argc > 1 ? argv[1] : "/usr/share/dict/ngerman");
    synthetic_workload();
}

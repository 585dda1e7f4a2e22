// Fast scorer against the literal one, printing times and their ratio.
//
//   engine_benchmark [WORD_LIST [THREADS [iteration]]]
//
// (defaults /usr/share/dict/ngerman and 2; "iteration" runs (c) alone)
//
// (a) every word of a real word list as a root, with scores for its frequent
//     substrings of 2 to 8 characters and for every letter (all whitelisted);
// (b) synthetic strings of 100 to 10,000 characters over a 4-letter alphabet
//     where every letter is whitelisted and scored and keys run up to 8
//     characters. The literal scorer runs only where it finishes in seconds;
// (c) one whole iteration on the word list as a user builds it: the words as
//     roots, prefixes and suffixes of 1 to 5 characters shared by many words
//     as affixes, every word and every frequent substring of 1 to 8
//     characters scored, every character whitelisted; on one thread and on
//     THREADS, with the time of its phases, and the results checked against
//     each other and, on a sample, against the literal scorer.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "char_sequence.hpp"
#include "driver.hpp"
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

std::uint64_t bits_of(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

std::vector<std::string> read_words(const char* path) {
    std::ifstream in(path);
    std::vector<std::string> words;
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) words.push_back(line);
    return words;
}

double checksum_fast(const std::vector<std::string>& words, const InsertedScores& scores,
                     const InsertedStrings& whitelist, CandidateKind kind) {
    PieceIndex pieces(scores, scores.entries_in_byte_order(), whitelist);
    ScorerScratch scratch;
    double sum = 0;
    for (const std::string& word : words) {
        decode_into(word, scratch.chars);
        sum += best_cover(scratch.chars, pieces, kind, scratch).value;
    }
    return sum;
}

double checksum_literal(const std::vector<std::string>& words, const literal::Lookup& tables, CandidateKind kind) {
    double sum = 0;
    for (const std::string& word : words) sum += literal::best_cover_value(literal::decode(word), tables, kind);
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
    InsertedStrings whitelist;
    for (const std::string& letter : letters) whitelist.insert(letter);
    InsertedScores scores(counts.size());
    for (auto& [text, count] : counts)
        if (count >= 20) scores.insert(text, static_cast<double>(count) / static_cast<double>(words.size()));

    std::printf("(a) %s: %zu words, %zu scored pieces\n", path, words.size(), scores.size());
    // The fast times below include building the piece trie once per pass;
    // the literal scorer's hash lookups are built outside its timing.
    double build = best_of(3, [&] { PieceIndex pieces(scores, scores.entries_in_byte_order(), whitelist); });
    std::printf("    piece trie built in %.3f s\n", build);
    const literal::Lookup tables(scores, whitelist);
    for (CandidateKind kind : {CandidateKind::root, CandidateKind::affix}) {
        double fast_sum = 0, slow_sum = 0;
        double fast = best_of(3, [&] { fast_sum = checksum_fast(words, scores, whitelist, kind); });
        double slow = best_of(1, [&] { slow_sum = checksum_literal(words, tables, kind); });
        std::printf("    %-5s fast %8.3f s  literal %8.3f s  ratio %6.1fx  (%6.1fx without the build)  (%s)\n",
                    kind == CandidateKind::affix ? "affix" : "root", fast, slow, slow / fast, slow / (fast - build),
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
    InsertedScores scores;
    InsertedStrings whitelist;
    for (int k = 0; k < 4; ++k) {
        std::string one(1, letters[k]);
        whitelist.insert(one);
        scores.insert(one, 0.25);
    }
    std::uniform_int_distribution<std::size_t> key_length(2, 8);
    std::uniform_real_distribution<double> value(0.0, 2.0);
    for (int k = 0; k < 2000; ++k) scores.insert(random_text(key_length(rng)), value(rng));

    std::printf("(b) synthetic, 4 letters, %zu keys up to 8 characters\n", scores.size());
    double first_fast = 0;
    for (std::size_t length : {100u, 1000u, 10000u, 100000u, 1000000u}) {
        std::vector<std::string> words{random_text(length)};
        int repeats = static_cast<int>(std::max<std::size_t>(1, 100000 / length));
        // The index is built once here: this measures how scoring grows with length.
        const PieceIndex pieces(scores, scores.entries_in_byte_order(), whitelist);
        ScorerScratch scratch;
        decode_into(words[0], scratch.chars);
        double fast = best_of(3,
                              [&] {
                                  for (int r = 0; r < repeats; ++r)
                                      best_cover(scratch.chars, pieces, CandidateKind::root, scratch);
                              }) /
                      repeats;
        if (first_fast == 0) first_fast = fast;
        std::printf("    n=%8zu  fast %10.6f s  (x%8.1f of n=100)", length, fast, fast / first_fast);
        if (length <= 1000) {
            const literal::Lookup tables(scores, whitelist);
            double slow = best_of(1, [&] { checksum_literal(words, tables, CandidateKind::root); });
            std::printf("  literal %10.6f s  ratio %8.1fx", slow, slow / fast);
        }
        std::printf("\n");
    }
}

struct Iteration {
    InsertedStrings roots, affixes, whitelist;
    InsertedScores scores;
};

// Substrings of `min_length` to 8 characters seen at least `min_count` times
// (every one of a single character), with their frequency among substrings
// of their length, counted one length at a time to bound memory.
void add_frequent_substrings(const std::vector<std::string>& words, std::size_t min_count, InsertedScores& scores) {
    std::vector<std::vector<std::uint32_t>> starts(words.size());  // byte offset of each character, and the end
    for (std::size_t w = 0; w < words.size(); ++w) {
        for (std::uint32_t k = 0; k < words[w].size(); ++k)
            if ((static_cast<unsigned char>(words[w][k]) & 0xC0) != 0x80) starts[w].push_back(k);
        starts[w].push_back(static_cast<std::uint32_t>(words[w].size()));
    }
    for (std::size_t length = 1; length <= 8; ++length) {
        std::unordered_map<std::string_view, std::uint32_t> counts;
        std::size_t total = 0;
        for (std::size_t w = 0; w < words.size(); ++w) {
            const std::vector<std::uint32_t>& at = starts[w];
            for (std::size_t j = 0; j + length < at.size(); ++j, ++total)
                ++counts[std::string_view(words[w]).substr(at[j], at[j + length] - at[j])];
        }
        for (auto& [text, count] : counts)
            if (length == 1 || count >= min_count)
                scores.insert(text, static_cast<double>(count) / static_cast<double>(total));
    }
}

Iteration build_iteration(const std::vector<std::string>& words) {
    const bool small = words.size() < 20000;
    const std::size_t min_shared = small ? 10 : 50, min_count = small ? 3 : 10;
    Iteration it;
    std::unordered_set<std::string> letters;
    std::unordered_map<std::string, std::size_t> shared;
    for (const std::string& word : words) {
        it.roots.insert(word);
        std::u32string chars = literal::decode(word);
        for (char32_t c : chars) {
            std::string letter;
            literal::encode_into(c, letter);
            letters.insert(letter);
        }
        for (std::size_t length = 1; length <= 5 && length < chars.size(); ++length) {
            std::string prefix, suffix;
            for (std::size_t k = 0; k < length; ++k) literal::encode_into(chars[k], prefix);
            for (std::size_t k = chars.size() - length; k < chars.size(); ++k) literal::encode_into(chars[k], suffix);
            ++shared[prefix];
            if (suffix != prefix) ++shared[suffix];
        }
    }
    for (auto& [affix, count] : shared)
        if (count >= min_shared) it.affixes.insert(affix);
    for (const std::string& letter : letters) it.whitelist.insert(letter);
    for (const std::string& word : words) it.scores.insert(word, 1.0 / static_cast<double>(words.size()));
    add_frequent_substrings(words, min_count, it.scores);
    return it;
}

void iteration_workload(const char* path, std::size_t threads) {
    std::vector<std::string> words = read_words(path);
    if (words.empty()) return;
    const Iteration input = build_iteration(words);
    std::printf("(c) %s: one iteration, %zu roots, %zu affixes, %zu scores, %zu whitelisted\n", path,
                input.roots.size(), input.affixes.size(), input.scores.size(), input.whitelist.size());

    double sorts = best_of(3, [&] {
        input.roots.members_in_byte_order();
        input.affixes.members_in_byte_order();
    });
    double key_sort = best_of(3, [&] { input.scores.entries_in_byte_order(); });
    double trie =
        best_of(3, [&] { PieceIndex pieces(input.scores, input.scores.entries_in_byte_order(), input.whitelist); });
    // Wall time of a run, and the processor time of all its threads in `cpu`.
    auto run = [&](std::size_t worker_threads, std::optional<ResultTable>* keep, double& cpu) {
        Iteration copy = input;  // the driver consumes its arguments
        std::clock_t cpu_start = std::clock();
        double elapsed = seconds([&] {
            ResultTable result = rescore_candidates(std::move(copy.roots), std::move(copy.affixes),
                                                    std::move(copy.scores), std::move(copy.whitelist), worker_threads);
            if (keep) keep->emplace(std::move(result));
        });
        cpu = static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
        return elapsed;
    };
    std::optional<ResultTable> serial_result, parallel_result;
    double serial = 1e300, parallel = 1e300, serial_cpu = 0, parallel_cpu = 0;
    for (int k = 0; k < 5; ++k) {  // interleaved, so that both see the same machine
        double cpu;
        double wall = run(1, k == 0 ? &serial_result : nullptr, cpu);
        if (wall < serial) serial = wall, serial_cpu = cpu;
        wall = run(threads, k == 0 ? &parallel_result : nullptr, cpu);
        if (wall < parallel) parallel = wall, parallel_cpu = cpu;
    }
    bool same = serial_result->size() == parallel_result->size();
    for (std::size_t e = 0; same && e < serial_result->size(); ++e)
        same = serial_result->key(e) == parallel_result->key(e) &&
               bits_of(serial_result->value(e)) == bits_of(parallel_result->value(e));

    // The literal oracle, scorer and update rule, on every 64th entry.
    const literal::Lookup tables(input.scores, input.whitelist);
    std::unordered_set<std::string_view> affix_members;
    for (std::size_t k = 0; k < input.affixes.size(); ++k) affix_members.insert(input.affixes[k]);
    std::size_t checked = 0, differing = 0;
    for (std::size_t e = 0; e < serial_result->size(); e += 64, ++checked) {
        std::string key(serial_result->key(e));
        std::u32string chars = literal::decode(key);
        double cover = literal::best_cover_value(
            chars, tables, affix_members.count(key) != 0 ? CandidateKind::affix : CandidateKind::root);
        const double* found = tables.find(key);
        double expected = literal::updated_score(found ? *found : 0.0, cover, chars.size());
        differing += bits_of(expected) != bits_of(serial_result->value(e));
    }
    std::printf("    measured apart: candidate sorts %.3f s, piece trie %.3f s (of which sorting its keys %.3f s)\n",
                sorts, trie, key_sort);
    std::printf("    iteration: 1 thread %7.3f s (cpu %7.3f s)   %zu threads %7.3f s (cpu %7.3f s)   ratio %5.2f\n",
                serial, serial_cpu, threads, parallel, parallel_cpu, parallel / serial);
    std::printf("    %s; literal on %zu entries: %s\n", same ? "same results" : "RESULTS DIFFER", checked,
                differing == 0 ? "same" : "DIFFERENT");
}

}  // namespace

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "/usr/share/dict/ngerman";
    std::size_t threads = argc > 2 ? static_cast<std::size_t>(std::strtoul(argv[2], nullptr, 10)) : 2;
    if (!(argc > 3 && std::strcmp(argv[3], "iteration") == 0)) {
        word_list_workload(path);
        synthetic_workload();
    }
    iteration_workload(path, threads);
}

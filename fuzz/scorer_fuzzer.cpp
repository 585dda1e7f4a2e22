// libFuzzer harness for the scoring engine.
//
// The fuzz input is read as a little program that builds a score table, a
// one-character whitelist and root and affix candidates; then
//   1. every non-empty candidate is scored by the fast scorer (piece trie,
//      reused scratch) as a root and as an affix, and each result must equal
//      the literal scorer's bit for bit (NaN payloads and the sign of zero
//      included), be -1.0 or above it, and never be NaN;
//   2. the driver runs on copies of the inputs, on one to three threads, and
//      its result must hold exactly the distinct non-empty candidates, each
//      with the value of the literal update rule applied to the literal
//      scorer's cover (the affix cover for strings in both sets) and the
//      previous score.
// Any disagreement prints the case and aborts, which libFuzzer records as a
// crash together with the input.
//
// Strings are built from code points, any value below 0x110000, surrogates and
// U+0000 included, and encoded generically (a surrogate takes the three-byte
// form), so the engine is exercised on every byte pattern its decoder can see.
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "char_sequence.hpp"
#include "driver.hpp"
#include "inserted_scores.hpp"
#include "inserted_strings.hpp"
#include "literal_scorer.hpp"
#include "piece_index.hpp"
#include "scorer.hpp"

namespace {

using morvanex::InsertedScores;
using morvanex::InsertedStrings;

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return size_ == 0; }
    std::uint8_t byte() {
        if (size_ == 0) return 0;
        --size_;
        return *data_++;
    }
    std::uint64_t u64() {
        std::uint64_t value = 0;
        for (int k = 0; k < 8; ++k) value |= std::uint64_t{byte()} << (8 * k);
        return value;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

// Characters that meet often, so that pieces and candidates overlap; they
// cover every UTF-8 length boundary, U+0000 and both ends of the surrogates.
constexpr char32_t alphabet[16] = {U'a',  U'b',  U'c',   U'd',   0x0,    0x7F,    0x80,     0xE9,
                                   0x7FF, 0x800, 0xD800, 0xDFFF, 0xFFFF, 0x10000, 0x10FFFF, 0x1F600};

char32_t read_code_point(Reader& in) {
    std::uint8_t b = in.byte();
    if (b < 0xE0) return alphabet[b % 16];
    std::uint32_t raw = (std::uint32_t{in.byte()} << 16) | (std::uint32_t{in.byte()} << 8) | in.byte();
    return static_cast<char32_t>(raw % 0x110000);
}

std::string read_text(Reader& in, std::size_t max_length) {
    std::size_t length = in.byte() % (max_length + 1);
    std::string text;
    for (std::size_t k = 0; k < length && !in.empty(); ++k) morvanex::literal::encode_into(read_code_point(in), text);
    return text;
}

double bits_to_double(std::uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::uint64_t double_bits(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

double read_score(Reader& in) {
    static const double specials[] = {0.0,
                                      -0.0,
                                      1.0,
                                      0.5,
                                      2.0,
                                      -0.5,
                                      -1.0,
                                      std::nextafter(-1.0, 0.0),
                                      std::nextafter(-1.0, -2.0),
                                      -1.5,
                                      -2.0,
                                      std::numeric_limits<double>::infinity(),
                                      -std::numeric_limits<double>::infinity(),
                                      std::numeric_limits<double>::quiet_NaN(),
                                      bits_to_double(0xFFF8000000000000ull),
                                      bits_to_double(0x7FF800000000BEEFull),
                                      bits_to_double(0x7FF0000000000001ull),  // signalling NaN
                                      std::numeric_limits<double>::denorm_min(),
                                      std::numeric_limits<double>::max(),
                                      -std::numeric_limits<double>::max(),
                                      1e-300,
                                      0.1,
                                      0.4,
                                      3.0};
    constexpr std::size_t special_count = sizeof specials / sizeof specials[0];
    std::uint8_t b = in.byte();
    if (b < 0xC0) return specials[b % special_count];
    return bits_to_double(in.u64());
}

std::string show(std::string_view text) {
    std::string out;
    char buffer[8];
    for (unsigned char c : text) {
        std::snprintf(buffer, sizeof buffer, "%02x", c);
        out += buffer;
    }
    return out;
}

[[noreturn]] void mismatch(const char* what, std::string_view candidate, morvanex::CandidateKind kind, double fast,
                           double literal) {
    std::fprintf(stderr, "%s: candidate %s (%s): fast %a [%016" PRIx64 "], literal %a [%016" PRIx64 "]\n", what,
                 show(candidate).c_str(), kind == morvanex::CandidateKind::affix ? "affix" : "root", fast,
                 double_bits(fast), literal, double_bits(literal));
    std::abort();
}

struct Case {
    InsertedScores scores;
    InsertedStrings whitelist;
    InsertedStrings roots;
    InsertedStrings affixes;
    std::vector<std::string> pieces;  // keys added, for building candidates out of them
};

Case read_case(Reader& in) {
    Case c;
    constexpr std::size_t max_records = 400;
    for (std::size_t record = 0; record < max_records && !in.empty(); ++record) {
        switch (in.byte() % 7) {
            case 0:
            case 1: {  // a scored piece, usually short
                std::string key = read_text(in, 6);
                c.scores.insert(key, read_score(in));
                c.pieces.push_back(std::move(key));
                break;
            }
            case 2: {  // a whitelist member: one character, or any text
                std::uint8_t kind = in.byte();
                std::string member;
                if (kind & 1)
                    morvanex::literal::encode_into(read_code_point(in), member);
                else
                    member = read_text(in, 3);
                c.whitelist.insert(member);
                break;
            }
            case 3:  // a root spelled out
                c.roots.insert(read_text(in, 40));
                break;
            case 4:  // an affix spelled out
                c.affixes.insert(read_text(in, 40));
                break;
            case 5: {  // a candidate made of pieces already scored, with stray characters
                std::size_t parts = 1 + in.byte() % 8;
                std::string candidate;
                for (std::size_t k = 0; k < parts; ++k) {
                    std::uint8_t pick = in.byte();
                    if (!c.pieces.empty() && pick < 0xC0)
                        candidate += c.pieces[pick % c.pieces.size()];
                    else
                        morvanex::literal::encode_into(read_code_point(in), candidate);
                }
                std::uint8_t where = in.byte();
                if (where & 1) c.roots.insert(candidate);
                if (where & 2 || !(where & 1)) c.affixes.insert(candidate);
                break;
            }
            case 6: {  // one character of a candidate, whitelisted and scored
                std::string character;
                morvanex::literal::encode_into(read_code_point(in), character);
                c.whitelist.insert(character);
                c.scores.insert(character, read_score(in));
                c.pieces.push_back(std::move(character));
                break;
            }
        }
    }
    return c;
}

void check_scorer(const Case& c, const morvanex::literal::Lookup& lookup, std::map<std::string, double>& root_covers,
                  std::map<std::string, double>& affix_covers) {
    morvanex::PieceIndex pieces(c.scores, c.scores.entries_in_byte_order(), c.whitelist);
    morvanex::ScorerScratch scratch;  // reused across candidates, as the driver does
    auto check = [&](std::string_view candidate, morvanex::CandidateKind kind) {
        morvanex::decode_into(candidate, scratch.chars);
        double fast = morvanex::best_cover(scratch.chars, pieces, kind, scratch).value;
        double literal = morvanex::literal::best_cover_value(morvanex::literal::decode(candidate), lookup, kind);
        if (double_bits(fast) != double_bits(literal)) mismatch("scorer differs", candidate, kind, fast, literal);
        if (fast != fast || fast < -1.0) mismatch("cover out of range", candidate, kind, fast, literal);
        return literal;
    };
    for (const InsertedStrings* set : {&c.roots, &c.affixes}) {
        for (std::size_t k = 0; k < set->size(); ++k) {
            std::string_view candidate = (*set)[k];
            if (candidate.empty()) continue;
            root_covers[std::string(candidate)] = check(candidate, morvanex::CandidateKind::root);
            affix_covers[std::string(candidate)] = check(candidate, morvanex::CandidateKind::affix);
        }
    }
}

void check_driver(const Case& c, const morvanex::literal::Lookup& lookup,
                  const std::map<std::string, double>& root_covers, const std::map<std::string, double>& affix_covers) {
    // One to three threads, as the case falls: the result must not change.
    auto result = morvanex::rescore_candidates(c.roots, c.affixes, c.scores, c.whitelist, 1 + c.roots.size() % 3);

    std::map<std::string, double> expected;
    std::map<std::string, morvanex::CandidateKind> kind_of;
    auto expect = [&](const InsertedStrings& set, const std::map<std::string, double>& covers,
                      morvanex::CandidateKind kind) {
        for (std::size_t k = 0; k < set.size(); ++k) {
            std::string candidate(set[k]);
            if (candidate.empty()) continue;
            const double* previous = lookup.find(candidate);  // the later insertion of a key wins
            expected[candidate] = morvanex::literal::updated_score(previous ? *previous : 0.0, covers.at(candidate),
                                                                   morvanex::literal::decode(candidate).size());
            kind_of[candidate] = kind;
        }
    };
    expect(c.roots, root_covers, morvanex::CandidateKind::root);
    expect(c.affixes, affix_covers, morvanex::CandidateKind::affix);  // the affix pass comes second and wins

    if (result.size() != expected.size()) {
        std::fprintf(stderr, "driver result has %zu entries, expected %zu\n", result.size(), expected.size());
        std::abort();
    }
    for (std::size_t k = 0; k < result.size(); ++k) {
        std::string key(result.key(k));
        auto found = expected.find(key);
        if (found == expected.end()) {
            std::fprintf(stderr, "driver result has an unexpected key %s\n", show(key).c_str());
            std::abort();
        }
        if (double_bits(result.value(k)) != double_bits(found->second))
            mismatch("driver value differs", key, kind_of.at(key), result.value(k), found->second);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader in(data, size);
    Case c = read_case(in);
    const morvanex::literal::Lookup lookup(c.scores, c.whitelist);
    std::map<std::string, double> root_covers;
    std::map<std::string, double> affix_covers;
    check_scorer(c, lookup, root_covers, affix_covers);
    check_driver(c, lookup, root_covers, affix_covers);
    return 0;
}

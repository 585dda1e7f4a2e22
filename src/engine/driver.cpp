#include "driver.hpp"

#include <algorithm>
#include <cassert>
#include <functional>
#include <numeric>
#include <optional>
#include <span>
#include <utility>

#include "internal_failure.hpp"
#include "piece_index.hpp"
#include "prefetch.hpp"
#include "scorer.hpp"
#include "work_sharing.hpp"

namespace morvanex {
namespace {

// Candidates claimed at once by a scoring thread: enough to keep the
// neighbours of byte order together, few enough to even out the threads
// (a few long candidates go one by one).
std::size_t candidates_per_claim(std::size_t candidates, std::size_t threads) {
    return std::clamp<std::size_t>(candidates / (16 * std::max<std::size_t>(threads, 1)), 1, 1024);
}

// Where the best covers go: null when the table receives new scores, else
// the own-best record, whose entries then receive their previous scores.
using OwnBestRecord = OwnBestCovers*;

// The entry value of `candidate` (non-empty) as a root or an affix;
// `candidate_begins` is where the record keeps its piece begins, if it does.
double score_candidate(std::string_view candidate, CandidateKind kind, ResultTable::Entry entry, OwnBestRecord own,
                       std::uint8_t* candidate_begins, const PieceIndex& pieces, ScorerScratch& scratch) {
    decode_into(candidate, scratch.chars);
    Cover found = best_cover(scratch.chars, pieces, kind, scratch);
    const double previous = found.whole_value.value_or(0.0);
    if (own == nullptr) return updated_score(previous, found.value, scratch.chars.length());
    own->cover_value[entry] = found.value;
    if (candidate_begins != nullptr && found.value > -1.0)
        mark_piece_begins(found, candidate, scratch.chars.length(), candidate_begins);
    return previous;
}

// Work units a candidate counts beyond its trie steps, so that a call over
// many candidates that take no steps still looks for a stop every few
// thousand of them.
constexpr std::size_t units_per_candidate = 16;

// Scores the members of one candidate set at `positions`, a stretch of its
// byte order, where neighbours share most trie nodes.
void score_stretch(ResultTable& result, CandidateKind kind, OwnBestRecord own, std::span<const std::uint32_t> positions,
                   const PieceIndex& pieces, ScorerScratch& scratch) {
    const bool affix = kind == CandidateKind::affix;
    const InsertedStrings& candidates = affix ? result.affixes() : result.roots();
    visit_prefetching(
        positions,
        [&](std::uint32_t position) {
            ResultTable::Entry entry = affix ? result.affix_entry(position) : result.root_entry(position);
            if (entry == ResultTable::no_entry) return;
            scratch.meter.count(units_per_candidate);
            std::uint8_t* begins =
                own != nullptr && !affix ? own->piece_begins.data() + candidates.strings().offset(position) : nullptr;
            result.set_value(entry, score_candidate(candidates[position], kind, entry, own, begins, pieces, scratch));
        },
        [&](std::uint32_t position) { candidates.strings().prefetch_record(position); },
        [&](std::uint32_t position) { candidates.strings().prefetch_text(position); });
}

// Fills every entry of `result`. The distinct roots and then the distinct
// affixes, each in byte order, form one row of candidates; threads claim
// stretches of it. Each entry is scored once, so no two threads write the
// same value and none depends on which thread scored it. The calling thread
// asks `interruption` at bounded intervals of its work, also while it waits
// for the others; they stop once it has stopped.
void score_all(ResultTable& result, OwnBestRecord own, const PieceIndex& pieces, std::size_t worker_threads,
               Interruption& interruption) {
    const std::span<const std::uint32_t> roots = result.roots_in_byte_order();
    const std::span<const std::uint32_t> affixes = result.affixes_in_byte_order();
    const std::size_t count = roots.size() + affixes.size();
    ChunkQueue queue(count, candidates_per_claim(count, worker_threads));
    auto score_claimed = [&] {
        ScorerScratch scratch;
        scratch.meter = WorkMeter(&interruption);
        for (ChunkQueue::Chunk chunk; queue.claim(chunk);) {
            if (chunk.begin < roots.size())
                score_stretch(result, CandidateKind::root, own,
                              roots.subspan(chunk.begin, std::min(chunk.end, roots.size()) - chunk.begin), pieces,
                              scratch);
            if (chunk.end > roots.size()) {
                std::size_t begin = std::max(chunk.begin, roots.size()) - roots.size();
                score_stretch(result, CandidateKind::affix, own,
                              affixes.subspan(begin, chunk.end - roots.size() - begin), pieces, scratch);
            }
        }
    };
    run_sharing(std::min(worker_threads, queue.chunk_count()), queue, score_claimed,
                [&] { interruption.ask_or_throw(); });
}

std::size_t clamped_threads(std::size_t worker_threads) {
    // Far more threads than cores buy nothing and each costs a stack; an
    // absurd request must not try to start millions of them.
    constexpr std::size_t most_worker_threads = 1024;
    return std::clamp<std::size_t>(worker_threads, 1, most_worker_threads);
}

// The candidates' table, its entries laid out from both candidate orders,
// with `beside` (when given) run as one more independent preparation: the
// threads claim them in turn, the longest first, and each counts its work
// toward `interruption`, as scoring does.
ResultTable lay_out_candidates(InsertedStrings root_candidates, InsertedStrings affix_candidates,
                               const std::function<void()>& beside, std::size_t worker_threads,
                               Interruption& interruption) {
    std::vector<std::uint32_t> root_order, affix_order;
    auto order_roots = [&] { root_order = root_candidates.members_in_byte_order(1, &interruption); };
    auto order_affixes = [&] { affix_order = affix_candidates.members_in_byte_order(1, &interruption); };
    auto ask = [&] { interruption.ask_or_throw(); };
    if (beside)
        run_tasks(worker_threads, {beside, order_roots, order_affixes}, ask);
    else
        run_tasks(worker_threads, {order_roots, order_affixes}, ask);
    return ResultTable(std::move(root_candidates), std::move(root_order), std::move(affix_candidates),
                       std::move(affix_order));
}

}  // namespace

bool keeps_score(double previous, double best_cover) { return best_cover < 0.0 || previous >= best_cover; }

double updated_score(double previous, double best_cover, std::size_t length) {
    if (keeps_score(previous, best_cover)) return previous;
    double q = 1.0 / static_cast<double>(length);
    double d = best_cover + 1.0;
    return q / d;
}

ResultTable rescore_candidates(InsertedStrings root_candidates, InsertedStrings affix_candidates, InsertedScores scores,
                               InsertedStrings one_char_whitelist, std::size_t worker_threads,
                               Interruption& interruption) {
    worker_threads = clamped_threads(worker_threads);
    // The keys in byte order, sorted on every thread; then the trie, built
    // beside the candidates' orders.
    std::optional<PieceIndex> pieces;
    std::vector<std::uint32_t> keys = scores.entries_in_byte_order(worker_threads, &interruption);
    auto build_pieces = [&] {
        pieces.emplace(scores, keys, one_char_whitelist, &interruption);
        // The trie holds all that scoring needs of them: free them before
        // the candidates' orders grow.
        keys = std::vector<std::uint32_t>();
        scores = InsertedScores();
        one_char_whitelist = InsertedStrings();
    };
    ResultTable result = lay_out_candidates(std::move(root_candidates), std::move(affix_candidates), build_pieces,
                                            worker_threads, interruption);
    if (result.size() != 0) score_all(result, nullptr, *pieces, worker_threads, interruption);
    return result;
}

PieceIndex index_pieces(InsertedScores scores, const InsertedStrings& one_char_whitelist, std::size_t worker_threads,
                        Interruption& interruption) {
    const std::vector<std::uint32_t> keys =
        scores.entries_in_byte_order(clamped_threads(worker_threads), &interruption);
    return PieceIndex(scores, keys, one_char_whitelist, &interruption);
}

std::vector<std::uint32_t> positions_in_order(const InsertedScores& scores) {
    if (scores.size() > UINT32_MAX) throw InternalFailure(failure_text::capacity_overflow);
    std::vector<std::uint32_t> positions(scores.size());
    std::iota(positions.begin(), positions.end(), std::uint32_t{0});
    return positions;
}

InsertedScores updated_in_byte_order(const InsertedScores& base, const InsertedScores& updates,
                                     std::size_t worker_threads, Interruption& interruption) {
    const std::vector<std::uint32_t> order =
        updates.entries_in_byte_order(clamped_threads(worker_threads), &interruption);
    WorkMeter meter(&interruption);
    StringList keys(base.size() + order.size(), base.bytes() + updates.bytes());
    std::vector<double> values;
    values.reserve(base.size() + order.size());
    auto put = [&](std::string_view key, double value) {
        keys.add(key);
        values.push_back(value);
    };
    std::size_t next = 0;  // in `order`
    meter.count_each(0, base.size(), [&](std::size_t position) {
        const std::string_view key = base.key(position);
        assert(position == 0 || base.key(position - 1) < key);
        int next_against_key = 1;  // the next update's bytes against the key's
        for (; next < order.size(); ++next) {
            const std::string_view update = updates.key(order[next]);
            next_against_key = update.compare(key);
            if (next_against_key >= 0) break;
            put(update, updates.value(order[next]));
        }
        if (next_against_key != 0) put(key, base.value(position));  // else the update comes next
    });
    for (; next < order.size(); ++next) put(updates.key(order[next]), updates.value(order[next]));
    return InsertedScores(std::move(keys), std::move(values));
}

OwnBestCovers own_best_cover_table(InsertedStrings root_candidates, InsertedStrings affix_candidates,
                                   const PieceIndex& pieces, std::size_t worker_threads, Interruption& interruption) {
    worker_threads = clamped_threads(worker_threads);
    ResultTable previous =
        lay_out_candidates(std::move(root_candidates), std::move(affix_candidates), {}, worker_threads, interruption);
    const std::size_t entries = previous.size(), root_bytes = previous.roots().strings().bytes();
    OwnBestCovers own{std::move(previous), std::vector<double>(entries, -1.0),
                      std::vector<std::uint8_t>(root_bytes, 0)};
    // Scoring fills the table that `own` holds, and its record beside it.
    if (entries != 0) score_all(own.previous, &own, pieces, worker_threads, interruption);
    return own;
}

OwnBestCovers::RootCursor::RootCursor(const OwnBestCovers& own, std::string_view text) : own_(own) {
    const std::vector<std::uint32_t>& order = own.previous.roots_in_byte_order();
    next_ = std::lower_bound(order.begin(), order.end(), text, [&](std::uint32_t position, std::string_view sought) {
        return own.previous.roots()[position] < sought;
    });
}

std::optional<OwnBestCovers::KnownCover> OwnBestCovers::RootCursor::find(std::string_view text) {
    const std::vector<std::uint32_t>& order = own_.previous.roots_in_byte_order();
    const InsertedStrings& roots = own_.previous.roots();
    while (next_ != order.end() && roots[*next_] < text) ++next_;
    if (next_ == order.end() || roots[*next_] != text) return std::nullopt;
    // A string in both sets was scored as an affix: its root position has no entry.
    const ResultTable::Entry entry = own_.previous.root_entry(*next_);
    if (entry == ResultTable::no_entry) return std::nullopt;
    return KnownCover{own_.cover_value[entry], own_.piece_begins.data() + roots.strings().offset(*next_)};
}

}  // namespace morvanex

#pragma once
// Hints that start loading memory a loop will read soon, where the order of
// its reads is known ahead but scattered. Without the compiler built-in they
// do nothing, which changes no result.
#include <cstddef>
#include <cstdint>
#include <span>

#if defined(__has_builtin)
#if __has_builtin(__builtin_prefetch)
#define MORVANEX_HAVE_PREFETCH 1
#endif
#endif

namespace morvanex {

inline void prefetch([[maybe_unused]] const void* address) {
#ifdef MORVANEX_HAVE_PREFETCH
    __builtin_prefetch(address);
#endif
}

// Asks `prefetch_record` and `prefetch_text` to start loading the data of the
// positions some steps after step `k` of a walk through `positions`.
template <class PrefetchRecord, class PrefetchText>
void prefetch_ahead(std::span<const std::uint32_t> positions, std::size_t k, PrefetchRecord prefetch_record,
                    PrefetchText prefetch_text) {
    constexpr std::size_t record_distance = 16, text_distance = 8;
    if (k + record_distance < positions.size()) prefetch_record(positions[k + record_distance]);
    if (k + text_distance < positions.size()) prefetch_text(positions[k + text_distance]);
}

// Visits `positions` in order, loading ahead as prefetch_ahead does.
template <class Visit, class PrefetchRecord, class PrefetchText>
void visit_prefetching(std::span<const std::uint32_t> positions, Visit visit, PrefetchRecord prefetch_record,
                       PrefetchText prefetch_text) {
    for (std::size_t k = 0; k < positions.size(); ++k) {
        prefetch_ahead(positions, k, prefetch_record, prefetch_text);
        visit(positions[k]);
    }
}

}  // namespace morvanex

#include "string_index.hpp"

#include <bit>
#include <cstring>

#include "internal_failure.hpp"

namespace morvanex {
namespace {

constexpr std::size_t min_slots = 8;

[[noreturn]] void capacity_overflow() { throw InternalFailure("Hash table capacity overflow"); }

}  // namespace

StringIndex::StringIndex(std::size_t expected) : hasher_(next_table_key()) {
    reserve_slots(expected);
    spans_.reserve(expected);
    hashes_.reserve(expected);
}

// Keeps the load factor at or below one half.
void StringIndex::reserve_slots(std::size_t expected) {
    if (expected > max_positions) capacity_overflow();
    std::size_t wanted = std::max(min_slots, std::bit_ceil(expected * 2 + 1));
    if (wanted <= slots_.size()) return;
    slots_.assign(wanted, Slot{0, 0});
    shift_ = 64 - static_cast<unsigned>(std::countr_zero(wanted));
    for (std::size_t position = 0; position < spans_.size(); ++position)
        place(position, hashes_[position]);
}

void StringIndex::place(std::size_t position, std::uint64_t hash) {
    std::size_t mask = slots_.size() - 1;
    std::size_t slot = bucket_of(hash, shift_);
    while (slots_[slot].position_plus_one != 0) slot = (slot + 1) & mask;
    slots_[slot] = Slot{static_cast<std::uint32_t>(position + 1), static_cast<std::uint32_t>(hash)};
}

std::size_t StringIndex::find(std::string_view text) const {
    return find(text, hasher_(text));
}

std::size_t StringIndex::find(std::string_view text, std::uint64_t hash) const {
    std::size_t mask = slots_.size() - 1;
    for (std::size_t slot = bucket_of(hash, shift_);; slot = (slot + 1) & mask) {
        Slot occupant = slots_[slot];
        if (occupant.position_plus_one == 0) return not_found;
        if (occupant.tag != static_cast<std::uint32_t>(hash)) continue;
        std::size_t position = occupant.position_plus_one - 1;
        if (hashes_[position] == hash && (*this)[position] == text) return position;
    }
}

StringIndex::Insertion StringIndex::insert(std::string_view text) {
    std::uint64_t hash = hasher_(text);
    if (std::size_t existing = find(text, hash); existing != not_found) return {existing, false};
    std::size_t position = spans_.size();
    if ((position + 1) * 2 >= slots_.size()) {
        if (position >= max_positions) capacity_overflow();
        reserve_slots(std::max(position + 1, position * 2));
    }
    spans_.push_back({arena_.size(), text.size()});
    hashes_.push_back(hash);
    arena_.append(text);
    place(position, hash);
    return {position, true};
}

}  // namespace morvanex

#pragma once
// Sorting 64-bit keys by radix, most significant bits first, from one buffer
// into another and back: each pass reads its keys in order and writes each
// where its part begins, with no chain of dependent swaps as sorting in
// place has, and parts soon fit in cache. Keys that agree in all bits left
// to sort are done at once, which matters where many keys repeat.
#include <cstdint>
#include <span>

#include "interruption.hpp"

namespace morvanex {

// The keys of `keys` sorted into `sorted` (of the same size) by their bits
// from `lowest_bit` up; the bits below do not matter, and `keys` is left in
// any state. Fewer than 2^32 keys. Counted on `meter` as a unit a key in
// each pass over it.
void sort_keys_into(std::span<std::uint64_t> keys, std::span<std::uint64_t> sorted, int lowest_bit, WorkMeter& meter);

}  // namespace morvanex

#pragma once
// How many threads a call may score on, from MORVANEX_NUM_THREADS.
#include <cstddef>

#include "error_value.hpp"

namespace morvanex::binding {

// Read on every call: unset, empty or "1" is the calling thread alone; "0"
// is one per core; a positive integer is that many. Anything else is a
// ValueError.
Result<std::size_t> scoring_threads();

}  // namespace morvanex::binding

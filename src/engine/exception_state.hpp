#pragma once
// The C++ runtime keeps each thread's exception state in thread-local memory
// that it allocates from the heap on the thread's first throw. When that
// first throw is a std::bad_alloc, that allocation fails as well and the
// process aborts instead of unwinding. Touching the state early, on every
// thread that runs the module's code and before it allocates much, makes a
// later throw need no memory.
#include <exception>

namespace morvanex {

// std::uncaught_exceptions reads the state; it is declared pure, so its
// result must be used for the call to stay.
inline void reserve_exception_state() noexcept { [[maybe_unused]] volatile int uncaught = std::uncaught_exceptions(); }

}  // namespace morvanex

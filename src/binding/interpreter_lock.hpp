#pragma once
// Running the engine from a call: on as many threads as the thread setting
// asks, stopping when a signal handler raises, and with the interpreter lock
// released around the engine when other threads work.
#include <cstddef>
#include <functional>
#include <optional>
#include <utility>

#include "error_value.hpp"
#include "interruption.hpp"

namespace morvanex::binding {

// Runs `work(threads, interruption)` with the thread count of
// MORVANEX_NUM_THREADS (read first: a bad setting is its error). An
// interruption returns the exception that the signal handler left pending.
// One thread keeps the lock throughout; several release it around `work`,
// and whatever `work` throws is thrown once the lock is back.
Result<Done> run_engine_work(const std::function<void(std::size_t, Interruption&)>& work);

// Runs `work(interruption)` on the calling thread alone, which keeps the
// lock throughout: for work that no other thread may see half done. Signal
// checks and errors as in run_engine_work.
Result<Done> run_engine_keeping_lock(const std::function<void(Interruption&)>& work);

// The same for work that makes a value.
template <class Value, class Work>
Result<Value> run_engine(Work work) {
    std::optional<Value> made;
    Result<Done> done = run_engine_work(
        [&](std::size_t threads, Interruption& interruption) { made.emplace(work(threads, interruption)); });
    if (!done.ok()) return done.take_error();
    return std::move(*made);
}

}  // namespace morvanex::binding

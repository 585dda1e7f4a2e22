#include "interpreter_lock.hpp"

#include <chrono>
#include <thread>

#include "kept_failure.hpp"
#include "messages.hpp"
#include "platform.hpp"
#include "python_handles.hpp"
#include "thread_setting.hpp"

namespace morvanex::binding {
namespace {

// Asks whether a call should stop: whether a signal handler raised (the
// default one for SIGINT raises KeyboardInterrupt). The exception it raised
// is left pending, for the call to return once the engine has stopped. With
// the interpreter lock released, the check takes the lock back for a moment,
// at most once per lock_visit_period, since another Python thread may keep
// it for up to its switch interval; once the interpreter has finished (a
// daemon thread's call outliving the program) it no longer checks. A handler
// may fork: the child has only this thread, so a call that released the
// lock for other scoring threads cannot go on there.
class SignalCheck {
public:
    static constexpr std::chrono::milliseconds lock_visit_period{20};

    // `released`: the thread state saved by PyEval_SaveThread while the lock
    // is released, or null while it is held.
    explicit SignalCheck(PyThreadState** released) : released_(released) {}

    static Interruption::Answer ask(void* check) { return static_cast<SignalCheck*>(check)->answer(); }

private:
    Interruption::Answer answer() {
        using Answer = Interruption::Answer;
        if (released_ == nullptr) return PyErr_CheckSignals() < 0 ? Answer::stop : Answer::go_on;
        auto now = std::chrono::steady_clock::now();
        if (now - last_visit_ < lock_visit_period || !Py_IsInitialized()) return Answer::go_on;
        last_visit_ = now;
        PyEval_RestoreThread(*released_);
        bool raised = PyErr_CheckSignals() < 0;
        *released_ = PyEval_SaveThread();
        if (platform::process_id() != process_) return Answer::threads_lost;
        return raised ? Answer::stop : Answer::go_on;
    }

    PyThreadState** released_;
    const long process_ = platform::process_id();
    std::chrono::steady_clock::time_point last_visit_ = std::chrono::steady_clock::now();
};

// Takes the interpreter lock back after work without it. Once the
// interpreter has finished, taking it would end this thread by unwinding it
// through frames that hold Python objects; the thread waits for the process
// to end instead, as it does on interpreters that no longer end such threads.
void take_lock_back(PyThreadState* released) {
    if (!Py_IsInitialized())
        for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
    PyEval_RestoreThread(released);
}

}  // namespace

Result<Done> run_engine_keeping_lock(const std::function<void(Interruption&)>& work) {
    try {
        SignalCheck check(nullptr);
        Interruption interruption(&SignalCheck::ask, &check);
        work(interruption);
        return Done{};
    } catch (const Interrupted&) {
        return fetch_pending_error();
    }
}

Result<Done> run_engine_work(const std::function<void(std::size_t, Interruption&)>& work) {
    Result<std::size_t> setting = scoring_threads();
    if (!setting.ok()) return setting.take_error();
    const std::size_t threads = setting.value();
    if (threads <= 1) return run_engine_keeping_lock([&](Interruption& interruption) { work(threads, interruption); });
    try {
        PyThreadState* released = PyEval_SaveThread();
        SignalCheck check(&released);
        Interruption interruption(&SignalCheck::ask, &check);
        KeptFailure failure;
        try {
            work(threads, interruption);
        } catch (const platform::ThreadExitUnwinding&) {
            throw;
        } catch (...) {
            failure.keep_current();
        }
        take_lock_back(released);
        failure.rethrow_if_any();
        return Done{};
    } catch (const Interrupted&) {
        return fetch_pending_error();
    } catch (const ThreadsLost&) {
        if (PyErr_Occurred() != nullptr) return fetch_pending_error();
        return ErrorValue::with_message(PyExc_RuntimeError, messages::forked_during_call);
    }
}

}  // namespace morvanex::binding

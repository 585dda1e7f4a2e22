#include "interpreter_lock.hpp"

#include <chrono>
#include <thread>

#include "kept_failure.hpp"
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
// daemon thread's call outliving the program) it no longer checks.
class SignalCheck {
public:
    static constexpr std::chrono::milliseconds lock_visit_period{20};

    // `released`: the thread state saved by PyEval_SaveThread while the lock
    // is released, or null while it is held.
    explicit SignalCheck(PyThreadState** released) : released_(released) {}

    static bool ask(void* check) { return static_cast<SignalCheck*>(check)->signal_raised(); }

private:
    bool signal_raised() {
        if (released_ == nullptr) return PyErr_CheckSignals() < 0;
        auto now = std::chrono::steady_clock::now();
        if (now - last_visit_ < lock_visit_period || !Py_IsInitialized()) return false;
        last_visit_ = now;
        PyEval_RestoreThread(*released_);
        bool raised = PyErr_CheckSignals() < 0;
        *released_ = PyEval_SaveThread();
        return raised;
    }

    PyThreadState** released_;
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

Result<Done> run_engine_work(const std::function<void(std::size_t, Interruption&)>& work) {
    Result<std::size_t> setting = scoring_threads();
    if (!setting.ok()) return setting.take_error();
    const std::size_t threads = setting.value();
    try {
        if (threads <= 1) {
            SignalCheck check(nullptr);
            Interruption interruption(&SignalCheck::ask, &check);
            work(threads, interruption);
            return Done{};
        }
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
    }
}

}  // namespace morvanex::binding

"""Threads, calls nested inside a call, and other interpreters in the process."""

import struct
import sys
import threading
import time

import pytest

import morvanex
from contract_texts import INITIALISED_TWICE, ITERATION_FAILED, RESUME_BANNER, bad_thread_count, cannot_convert
from probe_values import IterRaises

f = morvanex.run_scoring_iteration

THREADS = 8
ROUNDS = 25


def bits(result):
    return {key: struct.pack("<d", value) for key, value in result.items()}


class Yielding:
    """A value whose conversion gives other threads a chance to run."""

    def __init__(self, value):
        self.value = value

    def __float__(self):
        time.sleep(0)
        return self.value


def shared_arguments():
    letters = "abcdeéΩ😀"
    roots = {a + b + c for a in letters for b in letters for c in letters[:4]}
    affixes = {a + b for a in letters for b in letters}
    scores = {a + b: (ord(a) % 7) / 3.0 - 0.5 for a in letters for b in letters[:5]}
    scores.update({c: Yielding(0.25 * (k % 4)) for k, c in enumerate(letters)})
    scores["ab"] = float("nan")
    scores["cd"] = -0.0
    whitelist = set(letters[:6])
    return roots, affixes, scores, whitelist


def run_threads(target):
    barrier = threading.Barrier(THREADS)
    results = [None] * THREADS
    errors = []

    def worker(index):
        try:
            barrier.wait()
            results[index] = target()
        except BaseException as error:  # noqa: B036 - reported below
            errors.append(error)

    threads = [threading.Thread(target=worker, args=(k,)) for k in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=300)
    assert not any(thread.is_alive() for thread in threads)
    assert errors == []
    return results


@pytest.fixture
def short_switch_interval():
    previous = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(previous)


def test_threads_calling_at_once_get_the_single_thread_result(short_switch_interval):
    args = shared_arguments()
    expected = bits(f(*args))

    def many_calls():
        return [bits(f(*args)) for _ in range(ROUNDS)]

    for per_thread in run_threads(many_calls):
        assert per_thread == [expected] * ROUNDS


def test_threads_with_their_own_arguments(short_switch_interval):
    def own_arguments(seed):
        word = "ab" * (seed + 1)
        return {word, word + "c"}, {word}, {"a": Yielding(1.0), "b": 2.0, "ab": 0.5, "c": -0.5}, {"a", "b", "c"}

    expected = [bits(f(*own_arguments(k))) for k in range(THREADS)]
    counter = iter(range(THREADS))
    lock = threading.Lock()

    def calls():
        with lock:
            seed = next(counter)
        return seed, [bits(f(*own_arguments(seed))) for _ in range(ROUNDS)]

    for seed, per_thread in run_threads(calls):
        assert per_thread == [expected[seed]] * ROUNDS


def test_failures_in_several_threads_at_once(short_switch_interval, panic_exception):
    class IterRaises(set):
        def __iter__(self):
            time.sleep(0)
            raise ValueError("x")

    def failing_calls():
        outcomes = []
        for round_number in range(ROUNDS):
            try:
                if round_number % 2:
                    f(IterRaises({"a"}), set(), {}, set())
                else:
                    f({"a"}, set(), {"a": Yielding("not a number")}, set())
            except BaseException as error:  # noqa: B036 - PanicException included
                outcomes.append((type(error), error.args[0][:40]))
        return outcomes

    unwrap = ITERATION_FAILED[:40]
    for outcomes in run_threads(failing_calls):
        assert outcomes[1::2] == [(panic_exception, unwrap)] * (ROUNDS // 2)
        assert [kind for kind, _ in outcomes[0::2]] == [TypeError] * ((ROUNDS + 1) // 2)
        assert all(message.startswith("argument 'scores': ") for _, message in outcomes[0::2])


# --- parallel scoring (MORVANEX_NUM_THREADS) ---------------------------------------


def parallel_workload():
    letters = "abcdeéΩ😀ж"
    roots = {a + b + c + d for a in letters for b in letters for c in letters for d in letters[:4]}
    affixes = {a + b + c for a in letters for b in letters for c in letters[:3]}
    scores = {a + b: (ord(a) % 7) / 3.0 - 0.5 for a in letters for b in letters}
    scores.update({c: 0.25 * (k % 4) for k, c in enumerate(letters)})
    scores.update({w: 0.1 for w in list(roots)[::7]})
    scores["ab"] = float("nan")
    scores["cd"] = -0.0
    return roots, affixes, scores, set(letters[:6])


@pytest.mark.parametrize("setting", ["1", "2"])
def test_threads_searching_one_score_table_at_once_get_the_single_thread_covers(monkeypatch, setting):
    import morvanex_covers

    roots, affixes, scores, whitelist = parallel_workload()
    words = sorted(roots)
    table = morvanex_covers.ScoreTable(scores, whitelist)
    expected = (repr(table.best_covers(words)), table.own_best_covers(roots, affixes))
    # With two scoring threads per search, each search lets go of the
    # interpreter lock: the threads' searches of the one index overlap.
    monkeypatch.setenv("MORVANEX_NUM_THREADS", setting)

    def searches():
        return [(repr(table.best_covers(words)), table.own_best_covers(roots, affixes)) for _ in range(3)]

    for per_thread in run_threads(searches):
        assert per_thread == [expected] * 3


def test_parallel_scoring_gives_the_serial_result_whatever_the_thread_count(monkeypatch):
    args = parallel_workload()
    assert len(args[0]) + len(args[1]) > 3000
    monkeypatch.delenv("MORVANEX_NUM_THREADS", raising=False)
    expected = list(bits(f(*args)).items())  # values and key order
    for setting in ["", "1", "2", "0", "64"]:
        monkeypatch.setenv("MORVANEX_NUM_THREADS", setting)
        assert list(bits(f(*args)).items()) == expected, setting


@pytest.mark.parametrize("setting, releases", [(None, False), ("1", False), ("2", True)])
def test_other_threads_run_only_while_parallel_scoring_runs(monkeypatch, setting, releases):
    roots = {"%d-%s" % (i, "ab" * (i % 40)) for i in range(40000)}
    args = (roots, set(), {"ab": 0.5, "ba": 0.25, "-": 0.1}, set())
    monkeypatch.delenv("MORVANEX_NUM_THREADS", raising=False)
    if setting is not None:
        monkeypatch.setenv("MORVANEX_NUM_THREADS", setting)
    count = 0
    stop = False

    def counter():
        nonlocal count
        while not stop:
            count += 1
            time.sleep(0)  # hands the lock back as soon as the call wants it

    # No forced switches: the counter runs only when this thread lets go of
    # the interpreter lock.
    previous = sys.getswitchinterval()
    sys.setswitchinterval(1000.0)
    thread = threading.Thread(target=counter)
    try:
        thread.start()
        before = count
        result = f(*args)
        during = count - before
    finally:
        stop = True
        sys.setswitchinterval(previous)
        thread.join()
    assert len(result) == len(roots)
    assert (during > 0) == releases, during


def test_parallel_call_of_a_daemon_thread_outliving_the_interpreter_ends_quietly(run_python):
    process = run_python(
        """
        import atexit, os, sys, threading, time
        import morvanex

        os.environ["MORVANEX_NUM_THREADS"] = "2"

        class SlowToDelete:
            # Deleted while the interpreter finalises; sleeping there lets the
            # call end, and try to take the lock back, meanwhile.
            def __del__(self, sleep=time.sleep, write=sys.stdout.write):
                sleep(1.0)
                write("__del__ done\\n")

        keep = SlowToDelete()
        atexit.register(print, "atexit done")
        arguments = ({"a" * 50000}, set(), {"a" * k: 1.0 for k in range(1, 1500)}, {"a"})
        threading.Thread(target=morvanex.run_scoring_iteration, args=arguments, daemon=True).start()
        time.sleep(0.05)  # returns once the call has released the lock
        """
    )
    assert process.returncode == 0, process.stderr
    assert "terminate" not in process.stderr
    assert process.stdout.split("\n")[:2] == ["atexit done", "__del__ done"]


# One candidate whose every walk follows one long key: minutes of trie steps
# unless a signal handler stops it.
SIGNAL_SCRIPT = """
import os, signal, subprocess, sys
import morvanex, morvanex_covers

n = N_UNDER_TEST
arguments = ({"a" * n, "ab"}, {"ab", "b"}, {"a": 1.0, "a" * n: 0.5, "ab": 0.25}, {"a"})
copies = [set(arguments[0]), set(arguments[1]), dict(arguments[2]), set(arguments[3])]
before = [sys.getrefcount(argument) for argument in arguments]
for setting in ("1", "2"):
    os.environ["MORVANEX_NUM_THREADS"] = setting
    HANDLER_UNDER_TEST
print([sys.getrefcount(argument) for argument in arguments] == before, list(arguments) == copies)
print(morvanex.run_scoring_iteration({"ab"}, set(), {"a": 1.0, "b": 2.0}, {"a", "b"}))
"""


@pytest.mark.parametrize(
    "call",
    [
        "morvanex.run_scoring_iteration(*arguments)",
        "morvanex_covers.best_covers(sorted(arguments[0]), *arguments[2:])",
        "morvanex_covers.own_best_covers(*arguments)",
        "morvanex_covers.ScoreTable.from_json(scores_text, set())",
    ],
    ids=["run_scoring_iteration", "best_covers", "own_best_covers", "ScoreTable.from_json"],
)
def test_sigint_stops_a_long_call_in_either_mode(run_python, call):
    # A SIGINT from another process, as Ctrl-C sends it, with the default handler.
    handler = f"""
    scores_text = b"{{" + b",".join(b'"%d":0.5' % k for k in range(3000000 if "json" in {call!r} else 0)) + b"}}"
    killer = subprocess.Popen(["sh", "-c", "sleep 0.3; kill -INT %d" % os.getpid()])
    try:
        {call}
        print("completed")
    except KeyboardInterrupt:
        print("KeyboardInterrupt")
    killer.wait()"""
    process = run_python(SIGNAL_SCRIPT.replace("N_UNDER_TEST", "300000").replace("    HANDLER_UNDER_TEST", handler))
    assert process.returncode == 0, process.stderr
    assert process.stdout.splitlines() == ["KeyboardInterrupt", "KeyboardInterrupt", "True True", "{'ab': 0.125}"]


def test_a_handler_that_does_not_raise_runs_during_the_call_and_lets_it_finish(run_python):
    # Signals that arrive while a call cannot look at them coalesce into one
    # run of the handler after it returns; many runs show that it looked.
    handler = """
    expected = morvanex.run_scoring_iteration(*arguments)
    runs = []
    signal.signal(signal.SIGALRM, lambda number, frame: runs.append(number))
    signal.setitimer(signal.ITIMER_REAL, 0.005, 0.005)
    result = morvanex.run_scoring_iteration(*arguments)
    signal.setitimer(signal.ITIMER_REAL, 0)
    print(len(runs) >= 3, list(result.items()) == list(expected.items()))"""
    process = run_python(SIGNAL_SCRIPT.replace("N_UNDER_TEST", "20000").replace("    HANDLER_UNDER_TEST", handler))
    assert process.returncode == 0, process.stderr
    assert process.stdout.splitlines() == ["True True", "True True", "True True", "{'ab': 0.125}"]


def test_a_child_forked_by_a_handler_during_the_call_does_not_wait_for_threads_it_lacks(run_python):
    # The child has only the thread that forked: on one thread the call goes
    # on to its result; with other scoring threads it ends with RuntimeError.
    # The parent's handler raises, which ends the parent's call. A parallel
    # call runs the handler at its first look, 20 ms in, so the call must last
    # well beyond that: one candidate of 10,000 characters takes about 0.1 s.
    # The first alarm comes 10 ms after the timer is set, not 1: a busy
    # machine may take a millisecond to get from setting it into the call.
    handler = """
    expected = morvanex.run_scoring_iteration(*arguments)
    parent, children = os.getpid(), []
    def fork_once(number, frame):
        signal.setitimer(signal.ITIMER_REAL, 0)
        child = os.fork()
        if child:
            children.append(child)
            raise KeyboardInterrupt
    signal.signal(signal.SIGALRM, fork_once)
    signal.setitimer(signal.ITIMER_REAL, 0.01, 0.001)
    try:
        outcome = list(morvanex.run_scoring_iteration(*arguments).items()) == list(expected.items())
    except BaseException as error:
        outcome = "%s: %s" % (type(error).__name__, error)
    if os.getpid() != parent:
        print("child", outcome)
        os._exit(0)
    print("parent", outcome, os.waitpid(children[0], 0)[1])"""
    process = run_python(SIGNAL_SCRIPT.replace("N_UNDER_TEST", "10000").replace("    HANDLER_UNDER_TEST", handler))
    assert process.returncode == 0, process.stderr
    assert process.stdout.splitlines() == [
        "child True",
        "parent KeyboardInterrupt:  0",
        "child RuntimeError: the call cannot finish in a process forked during it: "
        "its other scoring threads did not come along",
        "parent KeyboardInterrupt:  0",
        "True True",
        "{'ab': 0.125}",
    ]


@pytest.mark.parametrize(
    "setting", ["-1", "abc", "2x", " 2", "2 ", "+2", "1.5", "0x10", "99999999999999999999999", "é"]
)
def test_bad_thread_count_is_a_value_error(monkeypatch, setting):
    monkeypatch.setenv("MORVANEX_NUM_THREADS", setting)
    with pytest.raises(ValueError) as caught:
        f({"ab"}, set(), {"a": 1.0, "b": 2.0}, {"a", "b"})
    assert caught.value.args == (bad_thread_count(setting),)
    # Every argument error comes first.
    with pytest.raises(TypeError, match="^argument 'scores': "):
        f({"ab"}, set(), [], {"a", "b"})


# --- calls nested inside a call ----------------------------------------------------


def test_deeply_nested_calls_from_value_conversions():
    depth_reached = []

    class Nesting:
        def __init__(self, depth):
            self.depth = depth

        def __float__(self):
            depth_reached.append(self.depth)
            if self.depth == 0:
                return 1.0
            inner = f({"ab"}, set(), {"a": Nesting(self.depth - 1), "b": 2.0}, {"a", "b"})
            return inner["ab"]

    result = f({"ab"}, set(), {"a": Nesting(40), "b": 2.0}, {"a", "b"})
    assert depth_reached == list(range(40, -1, -1))
    # Each level turns the level below into its score for a.
    value = 1.0
    for _ in range(40):
        value = (1.0 / 2) / (value + 2.0 + 1.0)
    assert result == {"ab": (1.0 / 2) / (value + 2.0 + 1.0)}


def test_nested_call_that_fails_inside_a_conversion_leaves_the_outer_call_intact(panic_exception):
    seen = []

    class CatchesInnerFailure:
        def __float__(self):
            try:
                f(IterRaises(), set(), {}, set())
            except BaseException as error:  # noqa: B036
                seen.append(type(error))
            try:
                f([], set(), {}, set())
            except TypeError as error:
                seen.append(error.args[0])
            return 3.0

    assert f({"q"}, set(), {"q": CatchesInnerFailure()}, set()) == {"q": 3.0}
    assert seen == [panic_exception, cannot_convert("root_candidates", "list", "PySet")]


def test_panic_of_a_nested_call_comes_out_of_the_outer_call(run_python):
    process = run_python(
        """
        import morvanex
        f = morvanex.run_scoring_iteration

        class IterRaises(set):
            def __iter__(self):
                raise ValueError("inner")

        class LetsInnerPanicOut:
            def __float__(self):
                return f(IterRaises(), set(), {}, set())

        try:
            f({"q"}, set(), {"q": LetsInnerPanicOut()}, set())
        except BaseException as error:
            print(type(error).__name__, error.args[0][:50])
        print(f({"ab"}, set(), {"a": 1.0, "b": 2.0}, {"a", "b"}))
        """
    )
    assert process.returncode == 0, process.stderr
    assert process.stdout.splitlines() == [
        "PanicException " + ITERATION_FAILED[:50],
        "{'ab': 0.125}",
    ]
    # The inner failure is reported, then resumed by the outer call.
    assert RESUME_BANNER in process.stderr


# --- other interpreters in the same process ------------------------------------------

SUBINTERPRETER_AFTER_MAIN = """
import sys
import _testcapi
import morvanex

code = '''
try:
    import morvanex
except ImportError as error:
    print("sub:", type(error).__name__, error, flush=True)
else:
    print("sub: imported", flush=True)
'''
print("status:", _testcapi.run_in_subinterp(code), flush=True)
print("main:", morvanex.run_scoring_iteration({"ab"}, set(), {"a": 1.0, "b": 2.0}, {"a", "b"}), flush=True)
"""

SUBINTERPRETER_FIRST = """
import _testcapi

code = '''
import morvanex
print("sub:", morvanex.run_scoring_iteration({"ab"}, set(), {"a": 1.0, "b": 2.0}, {"a", "b"}), flush=True)
'''
print("status:", _testcapi.run_in_subinterp(code), flush=True)
try:
    import morvanex
except ImportError as error:
    print("main:", type(error).__name__, error, flush=True)
else:
    print("main: imported", flush=True)
"""


@pytest.fixture
def testcapi_subinterpreters():
    try:
        import _testcapi
    except ImportError:
        pytest.skip("needs _testcapi")
    if not hasattr(_testcapi, "run_in_subinterp"):
        pytest.skip("needs _testcapi.run_in_subinterp")


def test_import_in_a_subinterpreter_after_the_main_one_fails_cleanly(run_python, testcapi_subinterpreters):
    process = run_python(SUBINTERPRETER_AFTER_MAIN)
    assert process.returncode == 0, process.stderr
    assert process.stdout.splitlines() == [
        "sub: ImportError " + INITIALISED_TWICE,
        "status: 0",
        "main: {'ab': 0.125}",
    ]


def test_module_first_imported_in_a_subinterpreter_is_initialised_once(run_python, testcapi_subinterpreters):
    process = run_python(SUBINTERPRETER_FIRST)
    assert process.returncode == 0, process.stderr
    if process.stdout.startswith("status: -1\n"):
        # Where the import system initialises a single-phase module in the
        # main interpreter before a subinterpreter's import runs it again
        # (CPython 3.13), already the subinterpreter's initialisation is the
        # second one.
        assert process.stdout.splitlines() == ["status: -1", "main: ImportError " + INITIALISED_TWICE]
        assert process.stderr.rstrip("\n").splitlines()[-1] == "ImportError: " + INITIALISED_TWICE
    else:
        assert process.stdout.splitlines() == [
            "sub: {'ab': 0.125}",
            "status: 0",
            "main: ImportError " + INITIALISED_TWICE,
        ]


ISOLATED_SUBINTERPRETER = """
try:
    import _interpreters as interpreters
except ImportError:
    import _xxsubinterpreters as interpreters
import morvanex

interpreter = interpreters.create()
code = '''
try:
    import morvanex
except ImportError as error:
    print("sub:", type(error).__name__, error, flush=True)
else:
    print("sub: imported", flush=True)
'''
if hasattr(interpreters, "run_string"):
    interpreters.run_string(interpreter, code)
else:
    interpreters.exec(interpreter, code)
interpreters.destroy(interpreter)
print("main:", morvanex.run_scoring_iteration({"ab"}, set(), {"a": 1.0, "b": 2.0}, {"a", "b"}), flush=True)
"""


def test_import_in_an_interpreter_made_by_the_interpreters_module_fails_cleanly(run_python):
    try:
        import _interpreters  # noqa: F401
    except ImportError:
        pytest.importorskip("_xxsubinterpreters")
    process = run_python(ISOLATED_SUBINTERPRETER)
    assert process.returncode == 0, process.stderr
    sub, main = process.stdout.splitlines()
    # Interpreters that may only load modules built for several interpreters
    # (3.12 on) refuse the module before it runs; older ones run its
    # initialisation, which refuses a second initialisation.
    assert sub.startswith("sub: ImportError ")
    assert sub in (
        "sub: ImportError " + INITIALISED_TWICE,
        "sub: ImportError module morvanex does not support loading in subinterpreters",
    )
    assert main == "main: {'ab': 0.125}"

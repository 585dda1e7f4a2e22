"""How failures reach Python: rewording, PanicException, resumed panics, reports."""

import os
import pathlib
import re

import pytest

import morvanex
from conftest import linux_only

f = morvanex.run_scoring_iteration

REPO = pathlib.Path(__file__).resolve().parent.parent

BANNER = (
    "--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n"
    "Python stack trace below:\n"
)


def value_raising(error):
    class Raising:
        def __float__(self):
            raise error

    return Raising()


def failing_scores_call(error):
    return f({"q"}, set(), {"q": value_raising(error)}, set())


# --- rewording of conversion errors ------------------------------------------


class TypeErrorSubclass(TypeError):
    pass


@pytest.mark.parametrize(
    "error",
    [TypeErrorSubclass("sub"), ValueError("bad value"), ZeroDivisionError(), KeyboardInterrupt()],
    ids=["TypeError-subclass", "ValueError", "ZeroDivisionError", "KeyboardInterrupt"],
)
def test_error_other_than_exactly_type_error_passes_unchanged(error):
    with pytest.raises(BaseException) as caught:
        failing_scores_call(error)
    assert caught.value is error


def test_type_error_cause_is_kept():
    cause = ValueError("underlying")
    error = TypeError("bad")
    error.__cause__ = cause
    with pytest.raises(TypeError) as caught:
        failing_scores_call(error)
    assert caught.value is not error
    assert type(caught.value) is TypeError
    assert caught.value.args == ("argument 'scores': bad",)
    assert caught.value.__cause__ is cause
    assert caught.value.__suppress_context__ is True


def test_type_error_raised_while_handling_another_has_no_cause():
    class ContextRaising:
        def __float__(self):
            try:
                raise KeyError("first")
            except KeyError:
                raise TypeError("second")  # noqa: B904 - the test wants the implicit context

    with pytest.raises(TypeError) as caught:
        f({"q"}, set(), {"q": ContextRaising()}, set())
    assert caught.value.args == ("argument 'scores': second",)
    assert caught.value.__cause__ is None
    assert caught.value.__suppress_context__ is True


@pytest.mark.parametrize(
    "args, text",
    [
        (("plain",), "plain"),
        ((), ""),
        (("two", 2), "('two', 2)"),
        (("lone \ud800 surrogate",), "lone \ufffd\ufffd\ufffd surrogate"),
    ],
)
def test_reworded_message_uses_the_text_of_the_original(args, text):
    with pytest.raises(TypeError) as caught:
        failing_scores_call(TypeError(*args))
    assert caught.value.args == ("argument 'scores': " + text,)


def test_reworded_error_does_not_keep_the_original_traceback():
    with pytest.raises(TypeError) as caught:
        failing_scores_call(TypeError("bad"))
    assert caught.value.__traceback__ is not None
    frames = []
    traceback = caught.value.__traceback__
    while traceback is not None:
        frames.append(traceback.tb_frame.f_code.co_name)
        traceback = traceback.tb_next
    assert "__float__" not in frames


# --- PanicException ------------------------------------------------------------


def test_panic_exception_class(panic_exception):
    assert issubclass(panic_exception, BaseException)
    assert not issubclass(panic_exception, Exception)
    assert panic_exception.__bases__ == (BaseException,)
    assert panic_exception.__module__ == "pyo3_runtime"
    assert panic_exception.__name__ == "PanicException"
    assert panic_exception.__qualname__ == "PanicException"
    assert not any(value is panic_exception for value in vars(morvanex).values())


def test_panic_exception_docstring(panic_exception):
    doc = panic_exception.__doc__
    assert doc.startswith("\n")
    first_line = doc.splitlines()[1]
    assert "panic" in first_line
    assert not re.search(r"\b(rust|c\+\+|pyo3)\b", first_line, re.IGNORECASE)
    assert doc.endswith(
        "\n\nLike SystemExit, this exception is derived from BaseException so that\n"
        "it will typically propagate all the way through the stack and cause the\n"
        "Python interpreter to exit.\n"
    )
    assert doc.count("\n") == 6


def test_panic_is_not_caught_by_except_exception(panic_exception):
    class IterRaises(set):
        def __iter__(self):
            raise ValueError("x")

    with pytest.raises(panic_exception) as caught:
        try:
            f(IterRaises(), set(), {}, set())
        except Exception:  # must not catch it
            pytest.fail("PanicException was caught as an Exception")
    assert len(caught.value.args) == 1
    assert str(caught.value) == caught.value.args[0]


def test_every_failure_raises_the_same_class(panic_exception):
    scores = {"a": None}

    class Adds:
        def __float__(self):
            scores["b"] = 1.0
            return 1.0

    scores["a"] = Adds()
    with pytest.raises(BaseException) as caught:
        f(set(), set(), scores, set())
    assert type(caught.value) is panic_exception


@pytest.mark.parametrize("backtrace", [None, "0", "1"], ids=["default", "off", "on"])
def test_failure_report_on_standard_error(run_python, backtrace):
    process = run_python(
        f"""
        import os
        os.environ.pop("MORVANEX_BACKTRACE", None)
        os.environ.update({{"MORVANEX_BACKTRACE": {backtrace!r}}} if {backtrace!r} else {{}})
        import morvanex
        class IterRaises(set):
            def __iter__(self):
                raise ValueError("x")
        try:
            morvanex.run_scoring_iteration(set(), set(), {{}}, IterRaises())
        except BaseException as error:
            print(type(error).__module__, type(error).__name__)
            print(error.args[0])
        """
    )
    assert process.returncode == 0, process.stderr
    kind, message = process.stdout.splitlines()
    assert kind == "pyo3_runtime PanicException"
    report = re.fullmatch(
        r"thread '([^']+)' panicked at (src/\S+):(\d+):\n(.*)\nnote: (.*)\n(note: .*\n|stack backtrace:\n(?s:.*))",
        process.stderr,
    )
    assert report, process.stderr
    thread, path, line, reported_message, note, hint = report.groups()
    assert thread == "main"
    assert reported_message == message
    source = REPO / path
    assert source.is_file()
    assert 1 <= int(line) <= len(source.read_text().splitlines())
    assert "PanicException" in note
    if backtrace == "1":
        # One line per native frame, the module's own among them.
        frames = hint.splitlines()[1:]
        assert sum("morvanex" in frame for frame in frames) >= 3, hint
    else:
        assert hint == "note: run with the environment variable MORVANEX_BACKTRACE=1 to print the native call stack\n"


RESUME_SCRIPT = """
import morvanex

class IterRaises(set):
    def __iter__(self):
        raise ValueError("x")

try:
    morvanex.run_scoring_iteration(IterRaises(), set(), {}, set())
except BaseException as error:
    Panic = type(error)

class Unprintable:
    def __str__(self):
        raise RuntimeError("no text")

class OwnText(str):
    def __str__(self):
        return "second str()"

class TextIsOwnText:
    def __str__(self):
        return OwnText("first str()")

class Raising:
    def __float__(self):
        raise PANIC_TO_RAISE

class PanicsForQualname(type):
    def __getattribute__(cls, name):
        if name == "__qualname__":
            raise PANIC_TO_RAISE
        return type.__getattribute__(cls, name)

if "RAISING_FUNCTION" == "__float__":
    arguments = (set(), set(), {"q": Raising()}, set())
else:
    # The type-mismatch message reads the type's __qualname__.
    arguments = (PanicsForQualname("Odd", (), {})(), set(), {}, set())
raised = PANIC_TO_RAISE
print("---", flush=True)
try:
    morvanex.run_scoring_iteration(*arguments)
except BaseException as error:
    print(type(error) is Panic, error is raised, error.args)
"""


@pytest.mark.parametrize(
    "panic_expression, message",
    [
        ('Panic("boom")', "boom"),
        ('Panic("first", "second")', "('first', 'second')"),
        ("Panic()", ""),
        ("Panic(Unprintable())", "Unwrapped panic from Python code"),
        # The characters of one str() of the value, not of a second one.
        ("Panic(TextIsOwnText())", "first str()"),
    ],
)
@pytest.mark.parametrize("raising_function", ["__float__", "__getattribute__"])
def test_panic_raised_by_python_code_is_resumed(run_python, panic_expression, message, raising_function):
    process = run_python(
        RESUME_SCRIPT.replace("PANIC_TO_RAISE", panic_expression).replace("RAISING_FUNCTION", raising_function)
    )
    assert process.returncode == 0, process.stderr
    assert process.stdout.splitlines()[-1] == f"True False {(message,)!r}"
    first_report_end = re.search(r"^note: run with .*\n", process.stderr, re.MULTILINE).end()
    stderr_after_first_call = process.stderr[first_report_end:]
    assert stderr_after_first_call.startswith(BANNER)
    traceback = stderr_after_first_call[len(BANNER):]
    assert traceback.startswith("Traceback (most recent call last):\n")
    assert f"in {raising_function}" in traceback
    last_line = traceback.rstrip("\n").splitlines()[-1]
    assert last_line.startswith("pyo3_runtime.PanicException")
    # A resumed panic gets no second failure report.
    assert "panicked at" not in stderr_after_first_call


def test_panic_subclass_raised_by_python_code_passes_unchanged(panic_exception):
    class OwnPanic(panic_exception):
        pass

    error = OwnPanic("mine")
    with pytest.raises(BaseException) as caught:
        failing_scores_call(error)
    assert caught.value is error


def test_diagnostic_rendering_of_an_unprintable_exception(panic_exception, monkeypatch):
    class Hidden(ValueError):
        def __repr__(self):
            raise RuntimeError("no repr")

    class IterRaises(set):
        def __iter__(self):
            raise Hidden("x")

    reported = []
    monkeypatch.setattr("sys.unraisablehook", reported.append)
    with pytest.raises(BaseException) as caught:
        f(IterRaises(), set(), {}, set())
    assert type(caught.value) is panic_exception
    assert caught.value.args[0].startswith(
        "called `Result::unwrap()` on an `Err` value: PyErr { type: <class '"
    )
    assert ".Hidden'>, value: <unprintable Hidden object>, traceback: Some(<traceback object at " in (
        caught.value.args[0]
    )
    assert [type(report.exc_value) for report in reported] == [RuntimeError]


# --- exhausted memory ------------------------------------------------------------


OUT_OF_MEMORY_SCRIPT = """
import os
import resource
import morvanex

f = morvanex.run_scoring_iteration
PHASE = "PHASE_UNDER_TEST"
if PHASE == "engine-parallel":
    # Exhausted while the interpreter lock is released around the engine.
    os.environ["MORVANEX_NUM_THREADS"] = "2"

if PHASE in ("arguments", "result-keys"):
    # Distinct long strings: copies and result keys in large blocks.
    candidates = {("%06d" % i) * 4000 for i in range(4000)}
    scores = {}
elif PHASE in ("engine", "engine-parallel"):
    # One long candidate: the scorer's work array (a double per character)
    # dwarfs the copy of the string and its result key.
    candidates = {"ab" * 4000000}
    scores = {"ab": 0.5, "ba": 0.25}
else:
    # Many short candidates: the result is mostly small str and float
    # objects and the dict's own table.
    candidates = {"w%07d" % i for i in range(300000)}
    scores = {}
# The same conversions and engine work, once without a result to build.
without_result = (set(), set(), scores, candidates)
with_result = (candidates, set(), scores, set())
expected = {id(without_result): f(*without_result), id(with_result): f(*with_result)}


def address_space():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmSize:"):
                return int(line.split()[1]) * 1024


def outcome_in_child(extra, *arguments):
    # Each attempt in a child process of its own, with `extra` bytes of
    # address space beyond what it holds when it starts.
    child = os.fork()
    if child == 0:
        code = 3
        try:
            resource.setrlimit(resource.RLIMIT_AS, (address_space() + extra, resource.RLIM_INFINITY))
            for call in arguments:
                try:
                    code = 0 if f(*call) == expected[id(call)] else 2
                except MemoryError:
                    code = 1
                if code == 2:
                    break
        finally:
            os._exit(code)
    return ["result", "MemoryError", "wrong", "other"][os.WEXITSTATUS(os.waitpid(child, 0)[1])]


def smallest_extra(arguments):
    # The least extra address space (to 1 MiB) under which the call succeeds.
    low, high = 0, 1024
    while high - low > 1:
        middle = (low + high) // 2
        outcome = outcome_in_child(middle << 20, arguments)
        assert outcome in ("result", "MemoryError"), outcome
        low, high = (low, middle) if outcome == "result" else (middle, high)
    return high << 20


needed_without_result = smallest_extra(without_result)
needed_with_result = smallest_extra(with_result)
assert needed_without_result < needed_with_result, (needed_without_result, needed_with_result)
if PHASE == "arguments":
    extra = needed_without_result // 2
else:
    extra = (needed_without_result + needed_with_result) // 2
# The call fails; everything it held is released, so a call that needs no
# more than the failed one had got succeeds under the same limit.
then = outcome_in_child(extra, with_result, without_result)
print(outcome_in_child(extra, with_result), then if PHASE != "arguments" else "result")
"""


# The failure lands while converting the arguments, in the engine, while
# making the result's keys, and among the result's small objects and dict slots.
@linux_only
@pytest.mark.parametrize("phase", ["arguments", "engine", "engine-parallel", "result-keys", "result-small-objects"])
def test_exhausted_memory_in_each_phase_raises_memory_error(run_python, phase):
    if not hasattr(os, "fork"):
        pytest.skip("needs os.fork")
    if "libasan" in os.environ.get("LD_PRELOAD", ""):
        pytest.skip("AddressSanitizer reserves terabytes of address space and reports a failed operator new")
    process = run_python(OUT_OF_MEMORY_SCRIPT.replace("PHASE_UNDER_TEST", phase), timeout=600)
    assert process.returncode == 0, process.stderr
    assert process.stdout.split() == ["MemoryError", "result"]


# morvanex_covers under a limit far below what the call needs: its search's
# arrays for one long word, its counted strings for one long word.
@linux_only
@pytest.mark.parametrize(
    "call", ['best_covers(["ab" * 4000000], {"ab": 0.5}, set())', 'substring_counts(["ab" * 8000], 16000)']
)
def test_exhausted_memory_in_morvanex_covers_raises_memory_error(run_python, call):
    if "libasan" in os.environ.get("LD_PRELOAD", ""):
        pytest.skip("AddressSanitizer reserves terabytes of address space and reports a failed operator new")
    script = f"""
import resource
import morvanex_covers
with open("/proc/self/status") as status:
    size = next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmSize:"))
resource.setrlimit(resource.RLIMIT_AS, (size + (64 << 20), resource.RLIM_INFINITY))
try:
    morvanex_covers.{call}
    print("result")
except MemoryError:
    print("MemoryError")
print(morvanex_covers.best_covers(["ab"], {{"ab": 0.5}}, set()))
"""
    process = run_python(script)
    assert process.returncode == 0, process.stderr
    assert process.stdout.splitlines() == ["MemoryError", "[(('ab',), 0.5)]"]


@linux_only
def test_first_exception_of_a_thread_unwinds_when_memory_is_exhausted(run_python):
    # The C++ runtime allocates a thread's exception state on its first throw;
    # under tracemalloc the interpreter's own allocations leave the module to
    # run out first, so that first throw is the module's std::bad_alloc. Over
    # a range of limits, each call either succeeds or raises MemoryError.
    if not hasattr(os, "fork"):
        pytest.skip("needs os.fork")
    if "libasan" in os.environ.get("LD_PRELOAD", ""):
        pytest.skip("AddressSanitizer reserves terabytes of address space and reports a failed operator new")
    process = run_python(
        """
        import os, resource, tracemalloc
        import morvanex

        words = {"w%06d" % i for i in range(500000)}
        tracemalloc.start()

        def address_space():
            with open("/proc/self/status") as status:
                for line in status:
                    if line.startswith("VmSize:"):
                        return int(line.split()[1]) * 1024

        outcomes = set()
        for extra in range(0, 192, 16):
            child = os.fork()
            if child == 0:
                code = 3
                try:
                    resource.setrlimit(resource.RLIMIT_AS, (address_space() + (extra << 20), resource.RLIM_INFINITY))
                    code = 0 if len(morvanex.run_scoring_iteration(words, set(), {}, set())) == len(words) else 2
                except MemoryError:
                    code = 1
                finally:
                    os._exit(code)
            status = os.waitpid(child, 0)[1]
            outcomes.add(os.WEXITSTATUS(status) if os.WIFEXITED(status) else -os.WTERMSIG(status))
        print(sorted(outcomes))
        """,
        timeout=600,
    )
    assert process.returncode == 0, process.stderr
    assert process.stdout.split() == ["[0,", "1]"], process.stderr


@linux_only
def test_exhausted_memory_raises_memory_error_and_the_interpreter_goes_on(run_python):
    process = run_python(
        """
        import resource
        import morvanex

        # Many distinct long strings: the module's copy of them needs about as
        # much memory again as Python holds, in blocks far larger than the
        # interpreter's own small allocations.
        candidates = {("%06d" % i) * 2000 for i in range(16000)}

        def address_space():
            with open("/proc/self/status") as status:
                for line in status:
                    if line.startswith("VmSize:"):
                        return int(line.split()[1]) * 1024

        soft, hard = resource.getrlimit(resource.RLIMIT_AS)
        resource.setrlimit(resource.RLIMIT_AS, (address_space() + 48 * 1024 * 1024, hard))
        try:
            morvanex.run_scoring_iteration(candidates, set(), {}, set())
        except MemoryError as error:
            outcome = "MemoryError"
        except BaseException as error:
            outcome = type(error).__name__
        else:
            outcome = "no error"
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
        print(outcome)
        print(morvanex.run_scoring_iteration({"ab"}, set(), {"a": 1.0, "b": 2.0}, {"a", "b"}))
        """,
        timeout=300,
    )
    assert process.returncode == 0, process.stderr
    assert process.stdout.splitlines() == ["MemoryError", "{'ab': 0.125}"]


# A set subclass that reports 300 members but whose iterator yields long
# strings over and over: the copies kept must stay proportional to the
# distinct strings, far below the 200 MiB the 300 yielded strings take.
@linux_only
@pytest.mark.parametrize("yielded", ["one-string", "two-in-turn"])
def test_a_set_whose_iterator_repeats_long_strings_needs_memory_for_the_distinct_ones(run_python, yielded):
    if "libasan" in os.environ.get("LD_PRELOAD", ""):
        pytest.skip("AddressSanitizer reserves terabytes of address space and reports a failed operator new")
    process = run_python(
        """
        import resource
        import morvanex

        long_strings = ["x" * (1 << 20), "y" * (1 << 20)][: 1 if YIELDED == "one-string" else 2]

        class Repeating(set):
            def __iter__(self):
                return (long_strings[k % len(long_strings)] for k in range(300))

        candidates = Repeating("w%03d" % k for k in range(300))

        def address_space():
            with open("/proc/self/status") as status:
                for line in status:
                    if line.startswith("VmSize:"):
                        return int(line.split()[1]) * 1024

        resource.setrlimit(resource.RLIMIT_AS, (address_space() + (200 << 20), resource.RLIM_INFINITY))
        try:
            result = morvanex.run_scoring_iteration(candidates, set(), {}, set())
        except MemoryError:
            print("MemoryError")
        else:
            print(list(result) == long_strings and set(result.values()) == {0.0})
        """.replace("YIELDED", repr(yielded)),
        timeout=300,
    )
    assert process.returncode == 0, process.stderr
    assert process.stdout.split() == ["True"]

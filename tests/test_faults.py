"""Faults and changes during a call: failed allocations, arguments changed by
Python code that the call runs, a real interrupt signal.

Every case ends in a result that is right for what the call saw, or in an
exception; the interpreter always goes on.
"""

import json
import os
import signal
import textwrap

import pytest

import morvanex
import reference_model as model
from contract_texts import DICT_CHANGED_SIZE, PARAMETERS, cannot_convert
from probe_values import OnFirstFloat

f = morvanex.run_scoring_iteration

try:
    import _testcapi
except ImportError:
    _testcapi = None


# --- allocation failures injected one at a time ----------------------------------

ALLOCATION_SWEEP = textwrap.dedent(
    """
    import json, math, re, sys
    import _testcapi
    import morvanex

    sys.path.insert(0, TESTS_DIRECTORY)
    from probe_values import IterRaises, Number, Raises

    f = morvanex.run_scoring_iteration
    sys.unraisablehook = lambda report: None

    try:
        f(IterRaises(), set(), {}, set())
    except BaseException as error:
        Panic = type(error)

    roots = {"Ωab", "ab", "", "😀x", "abab"}
    affixes = frozenset({"ab", "zz", "x😀"})
    scores = {"a": 1.0, "b": Number(2.0), "ab": 0.5, "😀": 3, "x": 1.5, "zz": -0.25}
    whitelist = {"a", "b", "😀", "x"}
    args, kwargs = [roots, affixes, scores, whitelist], {}
    SCENARIO


    def described(error):
        # Type and message; object addresses differ from one attempt to the next.
        return re.sub(r" at 0x[0-9a-f]+", "", "%s: %s" % (type(error).__name__, error))


    try:
        expected = ("result", f(*args, **kwargs))
    except BaseException as error:
        expected = ("error", described(error))


    def attempt(start):
        # This frame's object is made now: when the unwinding from a Python
        # function called by the module has to make it and that allocation
        # fails, CPython 3.11 drops the exception in flight (fatal on a debug
        # interpreter), a failure of the interpreter's own.
        frame = sys._getframe()
        _testcapi.set_nomemory(start, start + 1)
        try:
            return ("result", f(*args, **kwargs))
        except MemoryError:
            return ("error", "MemoryError")
        except BaseException as error:
            return ("error", described(error))
        finally:
            _testcapi.remove_mem_hooks()


    outcomes = []
    quiet = 0
    start = 0
    # Fail the first allocation, then the second, and so on, until the call
    # has made all of its allocations thirty times in a row without meeting
    # the injected failure.
    while quiet < 30 and start < 20000:
        start += 1
        try:
            outcome = attempt(start)
        except MemoryError:
            outcome = ("error", "MemoryError outside the call")
        if outcome[0] == "result":
            outcomes.append("result" if outcome == expected else "WRONG RESULT")
        else:
            outcomes.append(outcome[1])
        quiet = quiet + 1 if outcome == expected else 0
    after = f({"ab"}, set(), {"a": 1.0, "b": 2.0}, {"a", "b"})

    # Whether the interpreter itself, when it cannot allocate the message of
    # the TypeError that PyFloat_AsDouble raises for a str, raises that
    # TypeError without a message (CPython did until 3.11.x).
    message_dropped = False
    for start in range(1, 200):
        caught = None
        _testcapi.set_nomemory(start, start + 1)
        try:
            math.sqrt("not a number")
        except BaseException as error:
            caught = error
        finally:
            _testcapi.remove_mem_hooks()
        message_dropped = message_dropped or (type(caught) is TypeError and str(caught) == "")

    print(json.dumps({"expected": expected[0] if expected[0] == "result" else expected[1],
                      "outcomes": outcomes, "after": after, "message_dropped": message_dropped}))
    """
)

ALLOCATION_SCENARIOS = {
    "success": "",
    "success-by-keyword": "kwargs = {'scores': scores, 'one_char_whitelist': whitelist}; args = args[:2]",
    "binding-error": "kwargs = {'bogus': 1}; args = args[:3]",
    "type-mismatch": "args[1] = ['ab']",
    "value-type-error": "scores['q'] = 'not a number'",
    "lone-surrogate": "args[0] = {'ab', 'x\\ud800'}",
    "iterator-panic": "args[3] = IterRaises({'a'})",
    "resumed-panic": "scores['q'] = Raises(Panic, 'boom')",
}


@pytest.mark.skipif(
    _testcapi is None or not hasattr(_testcapi, "set_nomemory"), reason="needs _testcapi.set_nomemory"
)
@pytest.mark.parametrize("scenario", list(ALLOCATION_SCENARIOS))
def test_each_failed_allocation_ends_in_an_exception_or_the_right_result(run_python, scenario):
    script = ALLOCATION_SWEEP.replace("TESTS_DIRECTORY", repr(os.path.dirname(os.path.abspath(__file__))))
    process = run_python(script.replace("SCENARIO", ALLOCATION_SCENARIOS[scenario]), timeout=600)
    # A crash or an abort shows here, with the module's report on stderr.
    assert process.returncode == 0, process.stderr[-4000:]
    report = json.loads(process.stdout.splitlines()[-1])
    outcomes = report["outcomes"]
    # Each attempt ends as the call ends without the failure, or in a
    # MemoryError: never in another exception, another message or a wrong result.
    allowed = {report["expected"], "MemoryError", "MemoryError outside the call"}
    if scenario == "value-type-error" and report["message_dropped"]:
        allowed.add("TypeError: argument 'scores': ")
    assert set(outcomes) <= allowed, sorted(set(outcomes) - allowed)
    # The sweep met the call's allocations (some attempts failed differently)
    # and went past the last one.
    assert any(outcome != report["expected"] for outcome in outcomes)
    assert outcomes[-30:] == [report["expected"]] * 30
    assert report["after"] == {"ab": 0.125}
    print(f"{len(outcomes)} attempts:", {o: outcomes.count(o) for o in sorted(set(outcomes))})


# --- Python code run by the call changes the arguments ------------------------------


def mutation_cases():
    """(id, build) pairs; build returns (args, expected) where expected is a
    dict (the result, computed by the model from what the call should have
    seen) or the message of the PanicException."""

    def cleared():
        scores = {"a": None, "b": 2.0, "ab": 3.0}
        scores["a"] = OnFirstFloat(scores.clear)
        return ({"ab"}, set(), scores, {"a", "b"}), DICT_CHANGED_SIZE

    def own_key_deleted():
        scores = {"a": None, "b": 2.0}
        scores["a"] = OnFirstFloat(lambda: scores.pop("a"))
        return ({"ab"}, set(), scores, {"a", "b"}), DICT_CHANGED_SIZE

    def rekeyed_at_the_same_size():
        scores = {"a": None, "b": 2.0, "c": 3.0}

        def rekey():
            scores.clear()
            scores.update({"x": 5.0, "y": 6.0, "z": 7.0})

        scores["a"] = OnFirstFloat(rekey)
        roots = {"a", "b", "c", "xy", "yz", "ay"}
        whitelist = {"a", "b", "c", "x", "y", "z"}
        # The walk goes on in the new layout from the second position: it
        # sees a (converted before the change), then y and z.
        seen = {"a": 1.0, "y": 6.0, "z": 7.0}
        return (roots, set(), scores, whitelist), model.run_scoring_iteration(roots, set(), seen, whitelist)

    def grown_and_shrunk_back():
        scores = {"a": None, "b": 2.0, "c": 3.0}

        def grow_and_shrink():
            added = ["k%d" % i for i in range(50)]  # forces the dict to resize
            for key in added:
                scores[key] = 0.0
            for key in added:
                del scores[key]

        scores["a"] = OnFirstFloat(grow_and_shrink)
        roots = {"ab", "bc", "abc"}
        whitelist = {"a", "b", "c"}
        seen = {"a": 1.0, "b": 2.0, "c": 3.0}
        return (roots, set(), scores, whitelist), model.run_scoring_iteration(roots, set(), seen, whitelist)

    def own_value_replaced():
        scores = {"a": None, "b": 2.0}
        scores["a"] = OnFirstFloat(lambda: scores.__setitem__("a", 9.0), value=0.5)
        roots = {"ab"}
        # The object being converted stays alive for its conversion and
        # gives its own value.
        return (roots, set(), scores, {"a", "b"}), model.run_scoring_iteration(
            roots, set(), {"a": 0.5, "b": 2.0}, {"a", "b"}
        )

    def later_argument_changed():
        whitelist = {"a"}
        scores = {"a": OnFirstFloat(lambda: whitelist.add("b")), "b": 2.0}
        roots = {"ab"}
        # The whitelist is converted after scores, so the change counts.
        return (roots, set(), scores, whitelist), model.run_scoring_iteration(
            roots, set(), {"a": 1.0, "b": 2.0}, {"a", "b"}
        )

    def earlier_argument_changed():
        roots = {"ab"}
        scores = {"a": OnFirstFloat(lambda: roots.add("ba")), "b": 2.0}
        # The roots were converted before scores, so "ba" is not a candidate.
        return (roots, set(), scores, {"a", "b"}), model.run_scoring_iteration(
            {"ab"}, set(), {"a": 1.0, "b": 2.0}, {"a", "b"}
        )

    return [
        ("cleared", cleared),
        ("own-key-deleted", own_key_deleted),
        ("rekeyed-at-the-same-size", rekeyed_at_the_same_size),
        ("grown-and-shrunk-back", grown_and_shrunk_back),
        ("own-value-replaced", own_value_replaced),
        ("later-argument-changed", later_argument_changed),
        ("earlier-argument-changed", earlier_argument_changed),
    ]


@pytest.mark.parametrize("build", [case[1] for case in mutation_cases()], ids=[case[0] for case in mutation_cases()])
def test_value_conversion_that_changes_the_arguments(build, panic_exception):
    args, expected = build()
    if isinstance(expected, str):
        with pytest.raises(BaseException) as caught:
            f(*args)
        assert type(caught.value) is panic_exception
        assert caught.value.args == (expected,)
    else:
        assert f(*args) == expected
    # The interpreter and the module go on as before.
    assert f({"ab"}, set(), {"a": 1.0, "b": 2.0}, {"a", "b"}) == {"ab": 0.125}


class YieldsThen(set):
    """A set whose iterator yields `items`, running `action` before the first."""

    def __init__(self, items, action=None):
        super().__init__()
        self.items = items
        self.action = action

    def __iter__(self):
        if self.action is not None:
            self.action()
        return iter(self.items)


@pytest.mark.parametrize(
    "item, type_name",
    [(7, "int"), (b"ab", "bytes"), (None, "NoneType"), (("a",), "tuple")],
    ids=["int", "bytes", "None", "tuple"],
)
@pytest.mark.parametrize("position", [0, 1, 3], ids=["root_candidates", "affix_candidates", "one_char_whitelist"])
def test_set_iterator_yielding_a_non_string(position, item, type_name):
    args = [{"ab"}, set(), {"a": 1.0, "b": 2.0}, {"a", "b"}]
    args[position] = YieldsThen(["ab", item, "ba"])
    with pytest.raises(TypeError) as caught:
        f(*args)
    assert caught.value.args == (cannot_convert(PARAMETERS[position], type_name, "PyString"),)


def test_set_iterator_that_changes_scores_before_they_are_converted():
    scores = {"a": 1.0}
    roots = YieldsThen(["ab"], action=lambda: scores.update({"b": 2.0}))
    assert f(roots, set(), scores, {"a", "b"}) == {"ab": 0.125}


def test_set_iterator_that_empties_its_own_set():
    class EmptiesItself(set):
        def __iter__(self):
            items = list(set.__iter__(self))
            self.clear()
            return iter(items)

    roots = EmptiesItself({"ab", "ba"})
    assert f(roots, set(), {"a": 1.0, "b": 2.0}, {"a", "b"}) == {"ab": 0.125, "ba": 0.125}
    assert roots == set()


# --- a real interrupt --------------------------------------------------------------


def test_interrupt_signal_inside_a_value_conversion_propagates_unchanged():
    if signal.getsignal(signal.SIGINT) is not signal.default_int_handler:
        pytest.skip("SIGINT is not handled by Python's default handler here")

    class Interrupted:
        def __float__(self):
            signal.raise_signal(signal.SIGINT)
            return 1.0  # not reached: the handler raises KeyboardInterrupt first

    with pytest.raises(KeyboardInterrupt) as caught:
        f({"ab"}, set(), {"a": Interrupted(), "b": 2.0}, {"a", "b"})
    assert type(caught.value) is KeyboardInterrupt
    frames = []
    traceback = caught.value.__traceback__
    while traceback is not None:
        frames.append(traceback.tb_frame.f_code.co_name)
        traceback = traceback.tb_next
    assert "__float__" in frames
    assert f({"ab"}, set(), {"a": 1.0, "b": 2.0}, {"a", "b"}) == {"ab": 0.125}

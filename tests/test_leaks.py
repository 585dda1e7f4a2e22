"""Hundreds of calls on every path leave no reference and no memory behind.

Each scenario is called a few times to fill the module's first-use state (the
interned names, the PanicException type) and the interpreter's caches, then
CALLS more times. Afterwards the reference count of every argument, element,
key, value and their types must be exactly what it was, and the number of
memory blocks the interpreter has allocated (sys.getallocatedblocks) must not
have grown: a leak on every call shows as at least CALLS blocks, so a margin
of CALLS // 10 absorbs the interpreter's own caches without hiding one. On a
debug interpreter the total reference count (sys.gettotalrefcount) is held to
the same margin.

Strings are built at run time: literals are immortal on 3.12 and later and
their reference counts do not move.
"""

import gc
import itertools
import json
import os
import random
import sys
import textwrap
import time

import pytest

import morvanex
from conftest import limits_address_space, linux_only
from probe_values import (
    IterRaises,
    NextRaises,
    Number,
    Raises,
    TypeErrorSubclass,
    Unconvertible,
    UnprintableKey,
    text,
)

f = morvanex.run_scoring_iteration

CALLS = 300
WARM_UP = 100
BLOCK_MARGIN = CALLS // 10

UNDER_SANITIZERS = "libasan" in os.environ.get("LD_PRELOAD", "")


class TypeErrorWithCause:
    def __float__(self):
        raise TypeError(text("bad ", "value")) from ValueError(text("underlying"))


def base_arguments():
    # Mostly characters outside Latin-1: one-character Latin-1 strings are
    # shared singletons, whose counts move with anything the interpreter does.
    roots = {text("Ω", "Ж"), text("Ж", "Ω", "Ж"), text(""), text("é", "😀"), text("a", "b")}
    affixes = frozenset({text("Ω", "Ж"), text("z", "ß")})
    scores = {
        text("Ω"): 1.0,
        text("Ж"): Number(2.0),
        text("Ω", "Ж"): 0.5,
        text("é"): float("nan"),
        text("😀"): 3,
        text("a", "b"): -0.0,
    }
    whitelist = {text("Ω"), text("Ж"), text("é"), text("😀"), text("a")}
    return [roots, affixes, scores, whitelist]


def panic_instance():
    try:
        f(IterRaises({text("q")}), set(), {}, set())
    except BaseException as error:  # noqa: B036 - PanicException derives from BaseException
        return type(error)(text("raised ", "by Python code"))
    raise AssertionError("an iterator that raises did not end the call")


# name -> (builder, expected outcome type name). A builder returns the
# positional arguments, the keyword arguments and optionally a function to run
# before each call.
SCENARIOS = {}


def scenario(name, outcome):
    def register(build):
        SCENARIOS[name] = (build, outcome)
        return build

    return register


@scenario("success", "dict")
def _():
    return base_arguments(), {}


@scenario("success-by-keyword", "dict")
def _():
    roots, affixes, scores, whitelist = base_arguments()
    kwargs = {
        text("one_char_", "whitelist"): whitelist,
        text("scores"): scores,
        text("root_", "candidates"): roots,
        text("affix_", "candidates"): affixes,
    }
    return [], kwargs


@scenario("success-subclasses", "dict")
def _():
    class Roots(set):
        pass

    class Scores(dict):
        pass

    roots, affixes, scores, whitelist = base_arguments()
    return [Roots(roots), affixes, Scores(scores), frozenset(whitelist)], {}


@scenario("too-many-positional", "TypeError")
def _():
    return base_arguments() + [set(), set()], {}


@scenario("missing-arguments", "TypeError")
def _():
    return base_arguments()[:2], {}


@scenario("unexpected-keyword", "TypeError")
def _():
    # scores is bound by its keyword before the unexpected one is met.
    roots, affixes, scores, whitelist = base_arguments()
    return [roots, affixes], {text("scores"): scores, text("white", "list"): whitelist}


@scenario("multiple-values", "TypeError")
def _():
    arguments = base_arguments()
    return arguments, {text("scores"): arguments[2]}


@scenario("unprintable-keyword", "TypeError")
def _():
    arguments = base_arguments()
    return arguments[:3], {UnprintableKey(text("k")): arguments[3]}


@scenario("wrong-set-type", "TypeError")
def _():
    arguments = base_arguments()
    arguments[1] = [text("a", "b")]
    return arguments, {}


@scenario("wrong-set-type-of-own-class", "TypeError")
def _():
    # The message names the type: its __qualname__ is read and released.
    arguments = base_arguments()
    arguments[0] = Unconvertible()
    return arguments, {}


@scenario("wrong-dict-type", "TypeError")
def _():
    arguments = base_arguments()
    arguments[2] = list(arguments[2].items())
    return arguments, {}


@scenario("non-str-element", "TypeError")
def _():
    arguments = base_arguments()
    arguments[3] = {text("a"), Unconvertible()}
    return arguments, {}


@scenario("non-str-key", "TypeError")
def _():
    arguments = base_arguments()
    arguments[2][Unconvertible()] = Number(1.0)
    return arguments, {}


@scenario("value-type-error", "TypeError")
def _():
    arguments = base_arguments()
    arguments[2][text("c")] = text("1.5")
    return arguments, {}


@scenario("value-type-error-from-float", "TypeError")
def _():
    arguments = base_arguments()
    arguments[2][text("c")] = Raises(TypeError, text("not", " a number"))
    return arguments, {}


@scenario("value-type-error-with-cause", "TypeError")
def _():
    arguments = base_arguments()
    arguments[2][text("c")] = TypeErrorWithCause()
    return arguments, {}


@scenario("value-type-error-subclass", "TypeErrorSubclass")
def _():
    arguments = base_arguments()
    arguments[2][text("c")] = Raises(TypeErrorSubclass, text("sub"))
    return arguments, {}


@scenario("value-overflow", "OverflowError")
def _():
    arguments = base_arguments()
    arguments[2][text("c")] = 10**400
    return arguments, {}


@scenario("value-keyboard-interrupt", "KeyboardInterrupt")
def _():
    arguments = base_arguments()
    arguments[2][text("c")] = Raises(KeyboardInterrupt)
    return arguments, {}


@scenario("lone-surrogate", "UnicodeEncodeError")
def _():
    arguments = base_arguments()
    arguments[0] = {text("a"), text("\ud800", "b")}
    return arguments, {}


@scenario("iterator-raises", "PanicException")
def _():
    arguments = base_arguments()
    arguments[3] = IterRaises(arguments[3])
    return arguments, {}


@scenario("iterator-raises-midway", "PanicException")
def _():
    arguments = base_arguments()
    arguments[0] = NextRaises(arguments[0])
    return arguments, {}


@scenario("dict-changed-size", "PanicException")
def _():
    arguments = base_arguments()
    scores = arguments[2]

    class Toggles:
        # Adds a key on one call and removes it on the next, so the size
        # changes every time while the dict does not keep growing.
        def __float__(self):
            if scores.pop(text("extra"), None) is None:
                scores[text("extra")] = 1.0
            return 1.0

    scores[text("toggle")] = Toggles()
    return arguments, {}


@scenario("dict-keys-changed", "PanicException")
def _():
    arguments = base_arguments()
    first, second = text("first"), text("second")
    scores = arguments[2] = {}

    class MovesItsKeyToTheEnd:
        # The size stays, but the walk meets this entry a second time at the
        # end: one entry more than the dict had when the walk began.
        def __float__(self):
            scores[first] = scores.pop(first)
            return 1.0

    entries = [(first, MovesItsKeyToTheEnd()), (second, Number(2.0))]

    def prepare():
        # The same entries in a fresh layout, so that every call walks the same.
        scores.clear()
        scores.update(entries)

    prepare()
    return arguments, {}, prepare


@scenario("resumed-panic", "PanicException")
def _():
    arguments = base_arguments()
    arguments[2][text("c")] = Raises(type(panic_instance()), text("from ", "Python"))
    return arguments, {}


def shared_by_the_interpreter(o):
    """Objects that exist once per interpreter (builtin types, one-character
    Latin-1 strings, the empty string, small ints): their reference counts move
    with unrelated work, so they prove nothing either way."""
    if isinstance(o, type):
        return o.__module__ == "builtins"
    if type(o) is str:
        return len(o) == 0 or (len(o) == 1 and ord(o) < 256)
    if type(o) in (int, bool):
        return -5 <= o <= 256
    return o is None


def tracked_objects(args, kwargs):
    """Every argument with the elements, keys and values inside it, and their types."""
    objects = []
    for argument in list(args) + list(kwargs) + list(kwargs.values()):
        objects.append(argument)
        if isinstance(argument, dict):
            objects.extend(dict.keys(argument))
            objects.extend(dict.values(argument))
        elif isinstance(argument, set):
            objects.extend(set.__iter__(argument))
        elif isinstance(argument, frozenset):
            objects.extend(frozenset.__iter__(argument))
        elif isinstance(argument, list):
            objects.extend(argument)
    objects.extend({id(type(o)): type(o) for o in objects}.values())
    return [o for o in objects if not shared_by_the_interpreter(o)]


def call_outcome(function, args, kwargs, prepare=None):
    if prepare is not None:
        prepare()
    try:
        return type(function(*args, **kwargs)).__name__
    except BaseException as error:  # noqa: B036 - PanicException and KeyboardInterrupt included
        return type(error).__name__


def measure():
    gc.collect()
    total = sys.gettotalrefcount() if hasattr(sys, "gettotalrefcount") else 0
    return sys.getallocatedblocks(), total


def assert_calls_leave_nothing(function, args, kwargs, prepare, expected_outcome, name):
    """WARM_UP calls, then CALLS more that change no reference count and leave no memory blocks; their outcomes."""
    objects = tracked_objects(args, kwargs)
    outcomes = {call_outcome(function, args, kwargs, *prepare) for _ in range(WARM_UP)}
    gc.collect()
    counts_before = [sys.getrefcount(o) for o in objects]
    blocks_before, total_before = measure()
    for _ in range(CALLS):
        outcomes.add(call_outcome(function, args, kwargs, *prepare))
    blocks_after, total_after = measure()
    counts_after = [sys.getrefcount(o) for o in objects]

    assert outcomes == {expected_outcome}
    changed = [(o, before, after) for o, before, after in zip(objects, counts_before, counts_after) if before != after]
    assert changed == []
    print(f"{name}: {blocks_after - blocks_before:+d} blocks, {total_after - total_before:+d} total references")
    assert blocks_after - blocks_before < BLOCK_MARGIN
    assert total_after - total_before < BLOCK_MARGIN


@pytest.mark.parametrize("name", list(SCENARIOS))
def test_many_calls_leave_references_and_memory_unchanged(name, monkeypatch):
    build, expected_outcome = SCENARIOS[name]
    # A resumed panic prints the PanicException through sys.excepthook, and an
    # unprintable keyword is reported through sys.unraisablehook. The
    # interpreter's own printing fills caches of its own for a while; counting
    # the calls instead keeps the measurement to the module's work.
    printed = itertools.count()
    monkeypatch.setattr(sys, "excepthook", lambda *exc_info: next(printed))
    monkeypatch.setattr(sys, "unraisablehook", lambda report: None)
    args, kwargs, *prepare = build()
    assert_calls_leave_nothing(f, args, kwargs, prepare, expected_outcome, name)
    if name == "resumed-panic":
        assert next(printed) == WARM_UP + CALLS


class WriteFails:
    """A write callable that takes `blocks` blocks, then raises."""

    def __init__(self, blocks):
        self.blocks = blocks

    def __call__(self, block):
        if self.blocks == 0:
            raise OSError(text("disk ", "full"))
        self.blocks -= 1


def tables_of_counted_scores(words, scores, whitelist, write):
    """A table of counted scores writes them; the same with `scores` put over them ranks pieces and writes its
    scores."""
    import morvanex_covers

    counted, _ = morvanex_covers.ScoreTable.from_substring_frequencies(words, 3, whitelist)
    counted.write_scores_json(write)
    updated = counted.updated(scores)
    updated.piece_uses(words)
    updated.write_scores_json(write)


@pytest.mark.parametrize("writer", ["write_candidate_rows", "write_segment_rows", "write_scores_json",
                                    "ScoreTable.from_substring_frequencies"])
@pytest.mark.parametrize("write, outcome", [(WriteFails(10**9), "NoneType"), (WriteFails(0), "OSError")],
                         ids=["written", "write-raises"])
def test_companion_writers_leave_references_and_memory_unchanged(writer, write, outcome):
    import morvanex_covers

    roots, affixes, scores, whitelist = base_arguments()
    scores = {key: float(value) for key, value in scores.items() if isinstance(value, (int, float))}
    table = morvanex_covers.ScoreTable
    # A new table for each call, so that making and freeing one is measured too.
    function, arguments = {
        "write_candidate_rows": (lambda r, a, s, w, out: table(s, w).write_candidate_rows(r, a, out),
                                 [roots, affixes, scores, whitelist, write]),
        "write_segment_rows": (lambda words, s, w, out: table(s, w).write_segment_rows(words, out),
                               [sorted(roots), scores, whitelist, write]),
        "write_scores_json": (morvanex_covers.write_scores_json, [scores, write]),
        "ScoreTable.from_substring_frequencies": (tables_of_counted_scores, [sorted(roots), scores, whitelist, write]),
    }[writer]
    expected = "set" if writer == "write_candidate_rows" and outcome == "NoneType" else outcome
    assert_calls_leave_nothing(function, arguments, {}, [], expected, writer)


@pytest.mark.parametrize("cut, outcome", [(0, "tuple"), (1, "ValueError")], ids=["read", "malformed"])
def test_reading_scores_json_leaves_references_and_memory_unchanged(cut, outcome):
    import morvanex_covers

    scores = {key: float(value) for key, value in base_arguments()[2].items() if isinstance(value, (int, float))}
    text = json.dumps(scores).encode("ascii")
    assert_calls_leave_nothing(morvanex_covers.read_scores_json, [text[:len(text) - cut]], {}, [], outcome,
                               "read_scores_json")


@pytest.mark.skipif(sys.getallocatedblocks() == 0, reason="the interpreter's allocator does not count blocks here")
def test_result_objects_are_released_with_the_result():
    args, _ = SCENARIOS["success"][0]()
    f(*args)
    blocks_before, _ = measure()
    results = [f(*args) for _ in range(CALLS)]
    blocks_held, _ = measure()
    del results
    blocks_after, _ = measure()
    # Each result holds a dict, its keys and its values: the blocks come back
    # when the results go.
    assert blocks_held - blocks_before >= CALLS
    assert blocks_after - blocks_before < BLOCK_MARGIN


def test_result_is_a_new_dict_owned_by_the_caller():
    args, _ = SCENARIOS["success"][0]()
    result = f(*args)
    assert sys.getrefcount(result) == 2
    # A dict built in Python, read the same way, shows what "held by the dict
    # only" looks like on this interpreter.
    control = {text("c", str(i)): float(i) + 0.5 for i in range(len(result))}
    assert [sys.getrefcount(key) for key in list(result)] == [sys.getrefcount(key) for key in list(control)]
    assert [sys.getrefcount(value) for value in list(result.values())] == [
        sys.getrefcount(value) for value in list(control.values())
    ]


# --- exhausted memory, in a child process --------------------------------------

MEMORY_ERROR_SCRIPT = textwrap.dedent(
    """
    import gc, resource, sys
    import morvanex

    CALLS = {calls}
    candidate = "".join(["ab"] * 500_000)  # 1,000,000 characters
    roots = {{candidate}}
    scores = {{"ab": 1.0, "a": 0.5}}
    whitelist = {{"a", "b"}}
    objects = [roots, scores, whitelist, candidate] + list(scores) + list(scores.values()) + list(whitelist)

    def address_space():
        with open("/proc/self/status") as status:
            for line in status:
                if line.startswith("VmSize:"):
                    return int(line.split()[1]) * 1024

    def call():
        try:
            morvanex.run_scoring_iteration(roots, set(), scores, whitelist)
        except MemoryError:
            return "MemoryError"
        except BaseException as error:
            return type(error).__name__
        return "result"

    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    # Room for the interpreter's small allocations, not for the engine's
    # per-character arrays of the 1,000,000-character candidate.
    resource.setrlimit(resource.RLIMIT_AS, (address_space() + 8 * 1024 * 1024, hard))
    outcomes = {{call() for _ in range(10)}}
    gc.collect()
    counts = [sys.getrefcount(o) for o in objects]
    blocks = sys.getallocatedblocks()
    for _ in range(CALLS):
        outcomes.add(call())
    gc.collect()
    blocks_grown = sys.getallocatedblocks() - blocks
    counts_changed = [a != b for a, b in zip(counts, [sys.getrefcount(o) for o in objects])]
    resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
    print(sorted(outcomes))
    print(blocks_grown)
    print(any(counts_changed))
    print(morvanex.run_scoring_iteration({{"ab"}}, set(), {{"a": 1.0, "b": 2.0}}, {{"a", "b"}}))
    """
)


@limits_address_space
@pytest.mark.skipif(
    UNDER_SANITIZERS,
    reason="under AddressSanitizer a failed operator new is reported and ends the process instead of throwing",
)
def test_repeated_memory_errors_leave_references_and_memory_unchanged(run_python):
    process = run_python(MEMORY_ERROR_SCRIPT.format(calls=CALLS), timeout=600)
    assert process.returncode == 0, process.stderr
    outcomes, blocks_grown, counts_changed, last = process.stdout.splitlines()
    assert outcomes == "['MemoryError']"
    assert int(blocks_grown) < BLOCK_MARGIN
    assert counts_changed == "False"
    assert last == "{'ab': 0.125}"


# --- process memory over many calls on a large input -----------------------------


def resident_bytes():
    import resource  # POSIX only; the test that uses it runs on Linux alone

    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * resource.getpagesize()


def large_arguments():
    rng = random.Random(20240611)
    letters = "abcdefghijklmnopqrstuvwxyzéß"

    def word(low, high):
        return "".join(rng.choice(letters) for _ in range(rng.randint(low, high)))

    roots = {word(6, 24) for _ in range(1000)}
    affixes = {word(3, 10) for _ in range(500)}
    scores = {word(1, 5): rng.uniform(-0.5, 3.0) for _ in range(4000)}
    whitelist = set(letters)
    return roots, affixes, scores, whitelist


@linux_only
@pytest.mark.skipif(UNDER_SANITIZERS, reason="AddressSanitizer's quarantine keeps freed memory resident on purpose")
def test_resident_memory_stays_flat_over_a_thousand_calls_on_a_large_input():
    args = large_arguments()
    expected = f(*args)
    for _ in range(100):
        f(*args)
    gc.collect()
    warm = resident_bytes()
    started = time.perf_counter()
    for _ in range(1000):
        assert len(f(*args)) == len(expected)
    elapsed = time.perf_counter() - started
    gc.collect()
    final = resident_bytes()
    print(
        f"resident memory after warm-up {warm / 2**20:.1f} MiB, after 1000 calls {final / 2**20:.1f} MiB "
        f"({(final - warm) / 2**20:+.1f} MiB); {elapsed / 1000 * 1e3:.2f} ms per call"
    )
    assert final < warm * 1.10

"""Every path through run_scoring_iteration, written for CPython's leak hunter.

On a debug interpreter:

    python -m test -R 3:3 --testdir tests/refleak test_refleak_hunt

runs these tests three times to warm up and three times more, and fails if the
total reference count, the number of allocated memory blocks or the number of
open file descriptors grows from run to run. pytest runs them as ordinary
tests too, where each one checks the outcome of its path.
"""

import pathlib
import sys
import unittest

import morvanex

# The shared argument values live in tests/, which regrtest does not search;
# sys.path is put back at once, since regrtest fails a test that changes it.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent))
try:
    from probe_values import IterRaises, NextRaises, Number, Raises, TypeErrorSubclass, UnprintableKey, text
finally:
    del sys.path[0]

f = morvanex.run_scoring_iteration


def arguments():
    roots = {text("Ω", "Ж"), text("a", "b"), text(""), text("é", "😀")}
    affixes = frozenset({text("Ω", "Ж"), text("z", "z")})
    scores = {text("Ω"): 1.0, text("Ж"): Number(2.0), text("a", "b"): 0.5, text("é"): float("nan"), text("😀"): 3}
    whitelist = {text("Ω"), text("Ж"), text("é"), text("😀")}
    return [roots, affixes, scores, whitelist]


def panic_type():
    try:
        f(IterRaises(), set(), {}, set())
    except BaseException as error:  # noqa: B036 - PanicException derives from BaseException
        return type(error)
    raise AssertionError("an iterator that raises did not end the call")


class EveryPath(unittest.TestCase):
    def setUp(self):
        # Resumed panics print through sys.excepthook and unprintable keywords
        # report through sys.unraisablehook; the interpreter's own printing
        # would fill caches of its own, which are not the module's.
        self.hooks = sys.excepthook, sys.unraisablehook
        self.printed = 0
        sys.excepthook = self.count_printed
        sys.unraisablehook = lambda report: None

    def tearDown(self):
        sys.excepthook, sys.unraisablehook = self.hooks

    def count_printed(self, *exc_info):
        self.printed += 1

    def call(self, args, kwargs=None, times=5):
        """The outcome type names of several identical calls."""
        outcomes = set()
        for _ in range(times):
            try:
                outcomes.add(type(f(*args, **(kwargs or {}))).__name__)
            except BaseException as error:  # noqa: B036
                outcomes.add(type(error).__name__)
        return outcomes

    def test_success(self):
        self.assertEqual(self.call(arguments()), {"dict"})

    def test_success_by_keyword(self):
        roots, affixes, scores, whitelist = arguments()
        kwargs = {"scores": scores, "one_char_whitelist": whitelist, "affix_candidates": affixes}
        self.assertEqual(self.call([roots], kwargs), {"dict"})

    def test_binding_errors(self):
        args = arguments()
        self.assertEqual(self.call(args + [set()]), {"TypeError"})
        self.assertEqual(self.call(args[:2]), {"TypeError"})
        self.assertEqual(self.call(args[:3], {text("bogus"): 1}), {"TypeError"})
        self.assertEqual(self.call(args, {"scores": {}}), {"TypeError"})
        self.assertEqual(self.call(args[:3], {UnprintableKey(text("k")): 1}), {"TypeError"})

    def test_type_mismatches(self):
        for position, wrong in [(0, [text("a", "b")]), (2, [(text("a"), 1.0)]), (3, {text("a"), 7})]:
            args = arguments()
            args[position] = wrong
            self.assertEqual(self.call(args), {"TypeError"})

    def test_value_errors(self):
        for value, expected in [
            (text("1.5"), "TypeError"),
            (10**400, "OverflowError"),
            (Raises(TypeErrorSubclass, text("sub")), "TypeErrorSubclass"),
            (Raises(KeyboardInterrupt), "KeyboardInterrupt"),
        ]:
            args = arguments()
            args[2][text("q")] = value
            self.assertEqual(self.call(args), {expected})

    def test_lone_surrogate(self):
        args = arguments()
        args[1] = {text("\ud800", "x")}
        self.assertEqual(self.call(args), {"UnicodeEncodeError"})

    def test_internal_failures(self):
        args = arguments()
        args[3] = IterRaises(args[3])
        self.assertEqual(self.call(args), {"PanicException"})
        args = arguments()
        args[0] = NextRaises(args[0])
        self.assertEqual(self.call(args), {"PanicException"})

    def test_dictionary_changed_during_conversion(self):
        scores = {text("a"): None, text("b"): 2.0}

        class Toggles:
            def __float__(self):
                if scores.pop(text("extra"), None) is None:
                    scores[text("extra")] = 1.0
                return 1.0

        scores[text("a")] = Toggles()
        self.assertEqual(self.call([{text("a", "b")}, set(), scores, set()]), {"PanicException"})

    def test_resumed_panic(self):
        args = arguments()
        args[2][text("q")] = Raises(panic_type(), text("from ", "Python"))
        self.assertEqual(self.call(args), {"PanicException"})
        self.assertEqual(self.printed, 5)

    def test_nested_call(self):
        class Nested:
            def __float__(self):
                return f({text("a", "b")}, set(), {text("a"): 1.0, text("b"): 2.0}, {text("a"), text("b")})[
                    text("a", "b")
                ]

        self.assertEqual(self.call([{text("q")}, set(), {text("q"): Nested()}, set()]), {"dict"})


if __name__ == "__main__":
    unittest.main()

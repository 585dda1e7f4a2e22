"""No reference to an argument, element, key or value outlives a call, on any path."""

import gc
import sys

import pytest

import morvanex
from probe_values import Number, text

f = morvanex.run_scoring_iteration

CALLS = 50


class TypeErrorValue:
    def __float__(self):
        raise TypeError(text("not", " a number"))


class IterRaises(set):
    def __iter__(self):
        raise ValueError(text("x"))


class Unconvertible:
    pass


def scenario_success():
    roots = {text("a", "b"), text("b", "a"), text("")}
    affixes = frozenset({text("a", "b"), text("z", "z")})
    scores = {text("a"): 1.0, text("b"): Number(2.0), text("a", "b"): 0.5}
    whitelist = {text("a"), text("b")}
    return (roots, affixes, scores, whitelist), {}


def scenario_by_keyword():
    (roots, affixes, scores, whitelist), _ = scenario_success()
    return (), {
        "one_char_whitelist": whitelist,
        "scores": scores,
        "root_candidates": roots,
        "affix_candidates": affixes,
    }


def scenario_binding_error():
    (roots, affixes, scores, whitelist), _ = scenario_success()
    return (roots, affixes), {"scores": scores, text("unexpected"): whitelist}


def scenario_unprintable_keyword():
    class Unprintable(str):
        def __str__(self):
            raise RuntimeError

    (roots, affixes, scores, whitelist), _ = scenario_success()
    return (roots, affixes, scores, whitelist), {Unprintable(text("key")): roots}


def scenario_bad_element():
    (roots, affixes, scores, whitelist), _ = scenario_success()
    return (roots, {text("ok"), Unconvertible()}, scores, whitelist), {}


def scenario_bad_key():
    (roots, affixes, scores, whitelist), _ = scenario_success()
    scores[Unconvertible()] = Number(1.0)
    return (roots, affixes, scores, whitelist), {}


def scenario_bad_value():
    (roots, affixes, scores, whitelist), _ = scenario_success()
    scores[text("c")] = TypeErrorValue()
    return (roots, affixes, scores, whitelist), {}


def scenario_surrogate():
    (roots, affixes, scores, whitelist), _ = scenario_success()
    return (roots, affixes, scores, {text("ok"), text("\ud800", "x")}), {}


def scenario_wrong_container():
    (roots, affixes, scores, whitelist), _ = scenario_success()
    return (roots, affixes, [scores], whitelist), {}


def scenario_iterator_panic():
    (roots, affixes, scores, whitelist), _ = scenario_success()
    return (roots, affixes, scores, IterRaises({text("a")})), {}


def scenario_dict_guard_panic():
    (roots, affixes, scores, whitelist), _ = scenario_success()

    class Toggles:
        # Adds a key on one call and removes it on the next: the size changes
        # every time while the dict does not keep growing.
        def __float__(self):
            if scores.pop(text("new"), None) is None:
                scores[text("new")] = 1.0
            return 1.0

    scores[text("toggle")] = Toggles()
    return (roots, affixes, scores, whitelist), {}


SCENARIOS = {
    "success": scenario_success,
    "by-keyword": scenario_by_keyword,
    "binding-error": scenario_binding_error,
    "unprintable-keyword": scenario_unprintable_keyword,
    "bad-element": scenario_bad_element,
    "bad-key": scenario_bad_key,
    "bad-value": scenario_bad_value,
    "surrogate": scenario_surrogate,
    "wrong-container": scenario_wrong_container,
    "iterator-panic": scenario_iterator_panic,
    "dict-guard-panic": scenario_dict_guard_panic,
}


def tracked_objects(args, kwargs):
    """Every argument together with the elements, keys and values inside it."""
    objects = []
    for argument in list(args) + list(kwargs.keys()) + list(kwargs.values()):
        objects.append(argument)
        if isinstance(argument, dict):
            objects.extend(argument.keys())
            objects.extend(argument.values())
        elif isinstance(argument, (set, frozenset)):
            objects.extend(set.__iter__(argument) if isinstance(argument, set) else frozenset.__iter__(argument))
    objects.extend(type(item) for item in list(objects))
    return objects


@pytest.mark.parametrize("scenario", list(SCENARIOS.values()), ids=list(SCENARIOS))
def test_reference_counts_are_unchanged_after_many_calls(scenario, monkeypatch):
    monkeypatch.setattr(sys, "unraisablehook", lambda report: None)
    args, kwargs = scenario()
    objects = tracked_objects(args, kwargs)

    def one_call():
        try:
            return f(*args, **kwargs)
        except BaseException:  # noqa: B036 - PanicException included
            return None

    one_call()  # first-use state (interned names, PanicException) is filled here
    gc.collect()
    before = [sys.getrefcount(item) for item in objects]
    for _ in range(CALLS):
        one_call()
    gc.collect()
    after = [sys.getrefcount(item) for item in objects]
    changed = [(item, b, a) for item, b, a in zip(objects, before, after) if b != a]
    assert changed == []


def test_result_is_a_new_dict_owned_by_the_caller():
    (roots, affixes, scores, whitelist), _ = scenario_success()
    result = f(roots, affixes, scores, whitelist)
    assert sys.getrefcount(result) == 2
    # A dict built in Python, read the same way, shows what "held by the dict
    # only" looks like on this interpreter.
    control = {text("c", str(i)): float(i) + 0.5 for i in range(len(result))}
    expected_keys = [sys.getrefcount(key) for key in list(control)]
    expected_values = [sys.getrefcount(value) for value in list(control.values())]
    assert [sys.getrefcount(key) for key in list(result)] == expected_keys
    assert [sys.getrefcount(value) for value in list(result.values())] == expected_values


def test_type_mismatch_releases_the_type():
    class Mismatched:
        pass

    gc.collect()
    before = sys.getrefcount(Mismatched)
    for _ in range(CALLS):
        with pytest.raises(TypeError):
            f(Mismatched(), set(), {}, set())
    gc.collect()
    assert sys.getrefcount(Mismatched) == before

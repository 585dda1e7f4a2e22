"""Conversion of the arguments into engine containers and of the result into a dict."""

import collections
import functools
import math
import sys
import types

import pytest

import morvanex
import morvanex_covers
from contract_texts import DICT_CHANGED_SIZE, DICT_KEYS_CHANGED, ITERATION_FAILED, PARAMETERS, cannot_convert
from probe_values import FrozenSubclass, IterRaises, NextRaises, Number, OnFirstFloat, SetSubclass

f = morvanex.run_scoring_iteration

SET_POSITIONS = [0, 1, 3]


def valid_arguments():
    return [{"ab"}, set(), {"a": 1.0, "b": 2.0}, {"a", "b"}]


def call_with(position, value):
    arguments = valid_arguments()
    arguments[position] = value
    return f(*arguments)


def previous_score_of(value):
    """The double that `value` converts to: a candidate without a cover keeps its score."""
    return f({"q"}, set(), {"q": value}, set())["q"]


class Outer:
    class Inner:
        pass


class QualnameMeta(type):
    """A metaclass that controls what __qualname__ reads as on its classes."""

    def __getattribute__(cls, name):
        if name == "__qualname__":
            behaviour = type.__getattribute__(cls, "qualname_behaviour")
            if isinstance(behaviour, BaseException):
                raise behaviour
            return behaviour
        return type.__getattribute__(cls, name)


def instance_with_qualname(behaviour):
    cls = QualnameMeta("Odd", (), {"qualname_behaviour": behaviour})
    return cls()


# --- type mismatches -------------------------------------------------------


@pytest.mark.parametrize("position", SET_POSITIONS, ids=[PARAMETERS[p] for p in SET_POSITIONS])
@pytest.mark.parametrize(
    "value, type_name",
    [
        (["ab"], "list"),
        (("ab",), "tuple"),
        ({"ab": 1.0}, "dict"),
        ({"ab": 1.0}.keys(), "dict_keys"),
        ("ab", "str"),
        (None, "NoneType"),
        (Outer.Inner(), "Outer.Inner"),
    ],
)
def test_set_argument_of_wrong_type(position, value, type_name):
    with pytest.raises(TypeError) as caught:
        call_with(position, value)
    assert caught.value.args == (cannot_convert(PARAMETERS[position], type_name, "PySet"),)


@pytest.mark.parametrize(
    "value, type_name",
    [
        ([("a", 1.0)], "list"),
        ({"a"}, "set"),
        (types.MappingProxyType({"a": 1.0}), "mappingproxy"),
        (None, "NoneType"),
    ],
)
def test_scores_of_wrong_type(value, type_name):
    with pytest.raises(TypeError) as caught:
        call_with(2, value)
    assert caught.value.args == (cannot_convert("scores", type_name, "PyDict"),)


@pytest.mark.parametrize(
    "position, value",
    [(p, {"ab", bad}) for p in SET_POSITIONS for bad in (b"ab", 7)]
    + [(2, {"a": 1.0, b"ab": 2.0}), (2, {"a": 1.0, 7: 2.0})],
)
def test_element_or_key_that_is_not_a_str(position, value):
    bad = next(item for item in value if not isinstance(item, str))
    with pytest.raises(TypeError) as caught:
        call_with(position, value)
    assert caught.value.args == (cannot_convert(PARAMETERS[position], type(bad).__name__, "PyString"),)


@pytest.mark.parametrize(
    "behaviour",
    [RuntimeError("unreadable"), 42, "Odd\ud800"],
    ids=["raises", "not-a-str", "no-utf8-form"],
)
def test_type_name_that_cannot_be_read(behaviour):
    with pytest.raises(TypeError) as caught:
        call_with(0, instance_with_qualname(behaviour))
    assert caught.value.args == (cannot_convert("root_candidates", "<failed to extract type name>", "PySet"),)


def test_type_name_is_the_qualname_read_from_the_type():
    with pytest.raises(TypeError) as caught:
        call_with(0, instance_with_qualname("Some.Chosen.Name"))
    assert caught.value.args == (cannot_convert("root_candidates", "Some.Chosen.Name", "PySet"),)


SET_OF_WORDS = "'set' object cannot be converted to 'list or tuple'"
NOT_A_STR = "object cannot be converted to 'PyString'"


@pytest.mark.parametrize("function", [f, morvanex_covers.own_best_covers])
@pytest.mark.parametrize(
    "arguments, parameter",
    [
        ([[], set(), [], set()], "root_candidates"),
        ([set(), [], [], []], "affix_candidates"),
        ([{"a"}, {"b"}, [], []], "scores"),
        ([{"a"}, {"b"}, {}, []], "one_char_whitelist"),
        ([{"a", 1}, {2}, {3: 4}, {5}], "root_candidates"),
    ],
)
def test_first_failing_argument_is_reported(function, arguments, parameter):
    with pytest.raises(TypeError) as caught:
        function(*arguments)
    assert caught.value.args[0].startswith(f"argument '{parameter}': ")


@pytest.mark.parametrize(
    "function, arguments, error, message",
    [
        ("best_covers", [{"a"}, [], []], TypeError, f"argument 'words': {SET_OF_WORDS}"),
        ("best_covers", [("a", 7), {}, set()], TypeError, f"argument 'words': 'int' {NOT_A_STR}"),
        ("best_covers", [["a"], [], []], TypeError, "argument 'scores': 'list' object cannot be converted to 'PyDict'"),
        (
            "best_covers",
            [[], {}, ["a"]],
            TypeError,
            "argument 'one_char_whitelist': 'list' object cannot be converted to 'PySet'",
        ),
        ("best_covers", [[], {}, set(), "prefix"], ValueError, "kind must be 'root' or 'affix'"),
        ("best_covers", [[], {}, set(), b"root"], ValueError, "kind must be 'root' or 'affix'"),
        ("substring_counts", [{"a"}, 2], TypeError, f"argument 'words': {SET_OF_WORDS}"),
        (
            "substring_counts",
            [["a"], 2.0],
            TypeError,
            "argument 'max_length': 'float' object cannot be interpreted as an integer",
        ),
        ("substring_frequencies", [["a"], None], TypeError,
         "argument 'max_length': 'NoneType' object cannot be interpreted as an integer"),
        ("affix_counts", [["a", b"b"], 2], TypeError, f"argument 'words': 'bytes' {NOT_A_STR}"),
        ("affix_counts", [["a"], -1], ValueError, "max_length must not be negative"),
        ("affix_counts", [["a"], 1, -1], ValueError, "min_count must not be negative"),
        ("affix_counts", [["a"], 1, 1.0], TypeError,
         "argument 'min_count': 'float' object cannot be interpreted as an integer"),
        ("distinct_words", [{"a"}], TypeError, f"argument 'words': {SET_OF_WORDS}"),
        ("distinct_words", [("a", 1)], TypeError, f"argument 'words': 'int' {NOT_A_STR}"),
        ("merge_scores", [[], {}], TypeError, "argument 'scores': 'list' object cannot be converted to 'PyDict'"),
        ("merge_scores", [{}, {"a"}], TypeError, "argument 'result': 'set' object cannot be converted to 'PyDict'"),
        ("merge_scores", [{"a": "x"}, {"a": 1.0}], TypeError, "must be real number, not str"),
        ("merge_scores", [{}, {}, []], TypeError,
         "argument 'merged_before': 'list' object cannot be converted to 'PyDict'"),
        ("write_scores_json", [[], [].append], TypeError,
         "argument 'scores': 'list' object cannot be converted to 'PyDict'"),
        ("read_scores_json", ["{}"], TypeError, "argument 'data': 'str' object cannot be converted to 'PyBytes'"),
        ("read_scores_json", [b"{}", -1], ValueError, "start must not be negative"),
        ("read_scores_json", [b"{}", 0.0], TypeError,
         "argument 'start': 'float' object cannot be interpreted as an integer"),
        # Checked in the parameters' order: the first bad one is named.
        ("ScoreTable.from_json", [{}, ["a"]], TypeError,
         "argument 'data': 'dict' object cannot be converted to 'PyBytes'"),
        ("ScoreTable.from_json", [b"{}", ["a"], -1], TypeError,
         "argument 'one_char_whitelist': 'list' object cannot be converted to 'PySet'"),
        ("ScoreTable.from_json", [b"{}", set(), -1, ["a"]], ValueError, "start must not be negative"),
        ("ScoreTable.from_json", [b"{}", set(), 0, ["a"]], TypeError,
         "argument 'keys': 'list' object cannot be converted to 'PySet'"),
        ("ScoreTable.from_json", [b"{", set()], ValueError, "expected a string key in double quotes at byte 1"),
        ("ScoreTable.from_substring_frequencies", [["a"], 2, ["a"]], TypeError,
         "argument 'one_char_whitelist': 'list' object cannot be converted to 'PySet'"),
        ("ScoreTable.from_substring_frequencies", [("a", 1), 2, set()], TypeError,
         f"argument 'words': 'int' {NOT_A_STR}"),
        ("ScoreTable", [[], set()], TypeError, "argument 'scores': 'list' object cannot be converted to 'PyDict'"),
        ("ScoreTable", [{}, ["a"]], TypeError,
         "argument 'one_char_whitelist': 'list' object cannot be converted to 'PySet'"),
        ("ScoreTable().best_covers", [{"a"}], TypeError, f"argument 'words': {SET_OF_WORDS}"),
        ("ScoreTable().best_covers", [[], "prefix"], ValueError, "kind must be 'root' or 'affix'"),
        ("ScoreTable().own_best_covers", [{"a"}, "b"], TypeError,
         "argument 'affix_candidates': 'str' object cannot be converted to 'set, frozenset, list or tuple'"),
        ("ScoreTable().own_best_covers", [["a", 1], set()], TypeError,
         f"argument 'root_candidates': 'int' {NOT_A_STR}"),
        # What `write` raises ends the call as it is.
        ("ScoreTable().write_candidate_rows", [{"a"}, set(), "".join], TypeError,
         "sequence item 0: expected str instance, int found"),
        ("ScoreTable().write_segment_rows", [["a"], "".join], TypeError,
         "sequence item 0: expected str instance, int found"),
        ("ScoreTable().write_segment_rows", [["a"], None], TypeError, "'NoneType' object is not callable"),
        ("ScoreTable().write_segment_rows", [["a"], [].append, 1], TypeError,
         "argument 'separator': 'int' object cannot be converted to 'PyString'"),
        ("ScoreTable().updated", [[("a", 1.0)]], TypeError,
         "argument 'scores': 'list' object cannot be converted to 'PyDict'"),
        ("ScoreTable().write_scores_json", [None], TypeError, "'NoneType' object is not callable"),
        ("ScoreTable().piece_uses", [["a"], "prefix"], ValueError, "kind must be 'root' or 'affix'"),
    ],
)
def test_covers_argument_errors(function, arguments, error, message):
    owner, _, method = function.partition("().")
    call = getattr(morvanex_covers.ScoreTable({}, set()), method) if method else functools.reduce(
        getattr, owner.split("."), morvanex_covers)
    with pytest.raises(error) as caught:
        call(*arguments)
    assert caught.value.args == (message,)


def test_later_arguments_are_not_examined_after_a_failure():
    examined = []

    class Watched(set):
        def __iter__(self):
            examined.append(True)
            return super().__iter__()

    with pytest.raises(TypeError):
        f({"a"}, Watched(), [], Watched())
    assert examined == [True]


# --- accepted containers ---------------------------------------------------


@pytest.mark.parametrize("position", SET_POSITIONS, ids=[PARAMETERS[p] for p in SET_POSITIONS])
@pytest.mark.parametrize("kind", [set, frozenset, SetSubclass, FrozenSubclass])
def test_every_set_kind_is_accepted(position, kind):
    expected = f(*valid_arguments())
    arguments = valid_arguments()
    arguments[position] = kind(arguments[position])
    assert f(*arguments) == expected


class Yielding(set):
    """Stores one thing, yields another."""

    def __init__(self, stored, yielded):
        super().__init__(stored)
        self.yielded = yielded

    def __iter__(self):
        return iter(self.yielded)


class YieldingFrozen(frozenset):
    def __new__(cls, stored, yielded):
        made = super().__new__(cls, stored)
        made.yielded = yielded
        return made

    def __iter__(self):
        return iter(self.yielded)


@pytest.mark.parametrize("kind", [Yielding, YieldingFrozen])
def test_set_subclass_contributes_what_its_iterator_yields(kind):
    roots = kind({"stored"}, ["ab", "ba", "ab"])
    whitelist = kind({"zz"}, ["a", "b"])
    result = f(roots, set(), {"a": 1.0, "b": 2.0}, whitelist)
    assert result == {"ab": 0.125, "ba": 0.125}


@pytest.mark.skipif(sys.platform != "linux", reason="ru_maxrss in KiB is Linux's")
def test_repeats_yielded_by_a_set_subclass_do_not_pile_up(run_python):
    # 400 yields of one 1 MiB string hold one copy at a time, not 400: the
    # peak resident memory of a fresh interpreter stays far below 400 MiB.
    done = run_python(
        """
        import resource
        import morvanex

        class Repeating(set):
            def __iter__(self):
                return iter([self.text] * 400)

        roots = Repeating({"x"})
        roots.text = "ab" * (1 << 19)
        before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        result = morvanex.run_scoring_iteration(roots, set(), {}, set())
        grown = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before
        assert list(result) == [roots.text], list(result)
        print(grown // 1024)
        """
    )
    assert done.returncode == 0, done.stderr
    assert int(done.stdout) < 100  # MiB, Linux reports KiB


class ChangedWhileIterated(set):
    def __iter__(self):
        iterator = set.__iter__(self)
        yield next(iterator)
        self.add("another")
        yield from iterator


class IterNotAnIterator(set):
    def __iter__(self):
        return 42


@pytest.mark.parametrize("position", SET_POSITIONS, ids=[PARAMETERS[p] for p in SET_POSITIONS])
@pytest.mark.parametrize(
    "kind, error_start",
    [
        (IterRaises, "<class 'ValueError'>, value: ValueError('x'), traceback: Some("),
        (NextRaises, "<class 'LookupError'>, value: LookupError('midway'), traceback: Some("),
        (IterNotAnIterator, "<class 'TypeError'>, value: TypeError("),
        (ChangedWhileIterated, "<class 'RuntimeError'>, value: RuntimeError("),
    ],
    ids=["iter-raises", "next-raises", "non-iterator", "changed-size"],
)
def test_iterator_failure_is_an_internal_failure(position, kind, error_start, panic_exception):
    with pytest.raises(BaseException) as caught:
        call_with(position, kind({"a", "b"}))
    assert type(caught.value) is panic_exception
    (message,) = caught.value.args
    assert message.startswith(ITERATION_FAILED + error_start)
    assert message.endswith(" }")


class ScoresWithOwnMethods(dict):
    """Its own views and lookups lie; only the stored entries count."""

    def __iter__(self):
        return iter(["x"])

    def keys(self):
        return ["x"]

    def items(self):
        return [("x", 9.0)]

    def __getitem__(self, key):
        return 9.0


@pytest.mark.parametrize(
    "make",
    [dict, collections.OrderedDict, lambda d: collections.defaultdict(float, d), ScoresWithOwnMethods],
    ids=["dict", "OrderedDict", "defaultdict", "subclass-with-own-methods"],
)
def test_dict_kinds_use_their_stored_entries(make):
    scores = make({"q": 3.0, "r": -2.5})
    assert f({"q", "r", "x"}, set(), scores, set()) == {"q": 3.0, "r": -2.5, "x": 0.0}


@pytest.mark.parametrize(
    "arguments, expected",
    [
        ([set(), set(), {}, set()], {}),
        ([set(), set(), {"a": 1.0}, {"a"}], {}),
        ([frozenset(), set(), {}, frozenset()], {}),
        ([{""}, {""}, {"": 5.0}, {""}], {}),
        ([{"", "ab"}, set(), {"a": 1.0, "b": 2.0}, {"a", "b"}], {"ab": 0.125}),
    ],
    ids=["all-empty", "no-candidates", "frozensets", "only-empty-string", "empty-string-skipped"],
)
def test_empty_inputs(arguments, expected):
    result = f(*arguments)
    assert result == expected
    assert type(result) is dict


# --- strings ---------------------------------------------------------------


class LoudStr(str):
    def __str__(self):
        return "something else"

    def __eq__(self, other):
        return False

    def __hash__(self):
        return 12345


@pytest.mark.parametrize(
    "position, value",
    [(p, {"ok", "bad\ud800"}) for p in SET_POSITIONS]
    + [(2, {"bad\udfff": 1.0}), (0, {"\ud83d"}), (1, {"x\udc80y"})],
)
def test_lone_surrogate_raises_the_interpreters_encode_error(position, value):
    with pytest.raises(UnicodeEncodeError) as caught:
        call_with(position, value)
    assert type(caught.value) is UnicodeEncodeError
    assert caught.value.encoding == "utf-8"
    assert caught.value.reason == "surrogates not allowed"
    assert "argument" not in str(caught.value)


@pytest.mark.parametrize(
    "candidate, whitelist, scores, expected",
    [
        # U+0000 stays in place and counts as a character.
        ("a\x00b", {"a", "\x00", "b"}, {"a": 1.0, "\x00": 1.0, "b": 1.0}, (1.0 / 3) / 4.0),
        ("a\x00\x00b", set(), {"a\x00": 1.0, "\x00b": 2.0}, (1.0 / 4) / 4.0),
        ("\x00\x00", {"\x00"}, {"\x00": 2.0}, (1.0 / 2) / 5.0),
        # Lengths count characters, not UTF-8 bytes.
        ("\u00e9\U0001f600", {"\u00e9", "\U0001f600"}, {"\u00e9": 1.0, "\U0001f600": 1.0}, (1.0 / 2) / 3.0),
        ("\u4e2d\u6587\u5b57", set(), {"\u4e2d\u6587": 2.0, "\u5b57\u4e2d": 9.0}, 0.0),
    ],
)
def test_strings_arrive_whole(candidate, whitelist, scores, expected):
    assert f({candidate}, set(), scores, whitelist) == {candidate: expected}


def test_str_subclass_elements_use_their_stored_code_points():
    result = f({LoudStr("ab")}, set(), {LoudStr("a"): 1.0, "b": 2.0}, {LoudStr("a"), "b"})
    assert result == {"ab": 0.125}
    assert [type(key) for key in result] == [str]


@pytest.mark.parametrize(
    "scores, expected",
    [
        ({"q": 1.0, LoudStr("q"): 2.0}, 2.0),
        ({LoudStr("q"): 2.0, "q": 1.0}, 1.0),
    ],
    ids=["subclass-later", "plain-later"],
)
def test_keys_equal_as_strings_keep_the_later_value(scores, expected):
    assert f({"q"}, set(), scores, set()) == {"q": expected}


def test_equal_elements_give_one_candidate():
    assert f({"ab", LoudStr("ab")}, {LoudStr("ab")}, {"ab": 3.0}, set()) == {"ab": 3.0}


# --- values ----------------------------------------------------------------


class FloatSubclass(float):
    def __float__(self):
        return 99.0


class HasIndex:
    def __index__(self):
        return 6


@pytest.mark.parametrize(
    "value, expected",
    [
        (True, 1.0),
        (False, 0.0),
        (3, 3.0),
        (2.5, 2.5),
        (-1.0, -1.0),
        (-1, -1.0),
        (2**53 + 1, float(2**53 + 1)),
        (FloatSubclass(7.5), 7.5),
        (Number(4.25), 4.25),
        (float("inf"), float("inf")),
        (float("-inf"), float("-inf")),
        (1e308, 1e308),
        (5e-324, 5e-324),
    ],
)
def test_values_convert_like_pyfloat_asdouble(value, expected):
    assert previous_score_of(value) == expected


def test_value_with_only_index():
    assert previous_score_of(HasIndex()) == 6.0


def test_nan_and_negative_zero_pass_unchanged():
    assert math.isnan(previous_score_of(float("nan")))
    zero = previous_score_of(-0.0)
    assert zero == 0.0 and math.copysign(1.0, zero) == -1.0


@pytest.mark.parametrize("value", ["1.5", None, b"1", [1.0], 1j])
def test_value_rejected_by_pyfloat_asdouble_is_a_reworded_type_error(value):
    with pytest.raises(TypeError) as interpreter:
        math.sqrt(value)  # reads its argument with PyFloat_AsDouble too
    with pytest.raises(TypeError) as caught:
        previous_score_of(value)
    assert type(caught.value) is TypeError
    assert caught.value.args == ("argument 'scores': " + str(interpreter.value),)


def test_too_large_int_raises_overflow_error_unchanged():
    with pytest.raises(OverflowError) as interpreter:
        math.sqrt(10**400)
    with pytest.raises(OverflowError) as caught:
        previous_score_of(10**400)
    assert type(caught.value) is OverflowError
    assert caught.value.args == interpreter.value.args


def test_key_is_converted_before_its_value():
    converted = []

    class Watched:
        def __float__(self):
            converted.append(True)
            return 1.0

    with pytest.raises(TypeError) as caught:
        f({"a"}, set(), {7: Watched()}, set())
    assert caught.value.args == (cannot_convert("scores", "int", "PyString"),)
    assert converted == []


def test_nested_call_from_a_value_is_independent():
    inner_results = []

    class Reentrant:
        def __float__(self):
            inner_results.append(f({"ab"}, set(), {"a": 1.0, "b": 2.0}, {"a", "b"}))
            return 5.0

    assert f({"q"}, set(), {"q": Reentrant()}, set()) == {"q": 5.0}
    assert inner_results == [{"ab": 0.125}]


# --- the dictionary guards ---------------------------------------------------


def test_value_that_adds_a_key_ends_the_call(panic_exception):
    scores = {"a": None, "b": 2.0}
    scores["a"] = OnFirstFloat(lambda: scores.__setitem__("c", 3.0))
    with pytest.raises(BaseException) as caught:
        f({"a", "b", "c"}, set(), scores, set())
    assert type(caught.value) is panic_exception
    assert caught.value.args == (DICT_CHANGED_SIZE,)


def test_value_that_removes_a_key_ends_the_call(panic_exception):
    scores = {"a": None, "b": 2.0}
    scores["a"] = OnFirstFloat(lambda: scores.pop("b"))
    with pytest.raises(BaseException) as caught:
        f({"a"}, set(), scores, set())
    assert type(caught.value) is panic_exception
    assert caught.value.args == (DICT_CHANGED_SIZE,)


def test_replacing_a_later_key_completes_with_the_entries_walked():
    scores = {"a": None, "b": 2.0}

    def swap():
        del scores["b"]
        scores["c"] = 3.0

    scores["a"] = OnFirstFloat(swap)
    # "b" was removed before the walk reached it; "c" was reached instead.
    assert f({"a", "b", "c"}, set(), scores, set()) == {"a": 1.0, "b": 0.0, "c": 3.0}


def test_more_entries_than_at_the_start_ends_the_call(panic_exception):
    converted = []

    class Recorded:
        def __init__(self, value):
            self.value = value

        def __float__(self):
            converted.append(self.value)
            return self.value

    scores = {"a": None, "b": Recorded(2.0)}

    def swap():
        del scores["a"]
        scores["c"] = Recorded(3.0)

    scores["a"] = OnFirstFloat(swap)
    with pytest.raises(BaseException) as caught:
        f({"a"}, set(), scores, set())
    assert type(caught.value) is panic_exception
    assert caught.value.args == (DICT_KEYS_CHANGED,)
    # The entry beyond the recorded size was converted before the call failed.
    assert converted == [2.0, 3.0]


# --- the result --------------------------------------------------------------


def test_result_holds_every_nonempty_candidate_once():
    roots = {"ab", "ba", "abab", ""}
    affixes = {"ab", "zz", ""}
    result = f(roots, affixes, {"a": 1.0, "b": 2.0, "ab": 0.5}, {"a", "b"})
    assert sorted(result) == ["ab", "abab", "ba", "zz"]
    assert all(type(key) is str and type(value) is float for key, value in result.items())


def test_arguments_are_not_modified():
    roots, affixes = {"ab", "q"}, frozenset({"b"})
    scores, whitelist = {"a": 1.0, "b": 2.0, "q": 7.0}, {"a", "b"}
    copies = [set(roots), frozenset(affixes), dict(scores), set(whitelist)]
    f(roots, affixes, scores, whitelist)
    assert [roots, affixes, scores, whitelist] == copies
    assert list(scores) == list(copies[2])

"""Binding of positional and keyword arguments to the four parameters."""

import sys

import pytest

import morvanex
from contract_texts import PARAMETERS
from probe_values import UnprintableKey

f = morvanex.run_scoring_iteration

VALID = [{"ab"}, set(), {"a": 1.0, "b": 2.0}, {"a", "b"}]
EXPECTED = {"ab": 0.125}

ALL_BY_KEYWORD = dict(zip(PARAMETERS, VALID))


class NamedKey(str):
    """A keyword whose str() differs from its stored code points."""

    def __str__(self):
        return "shown-name"


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        (
            (),
            {},
            "missing 4 required positional arguments: 'root_candidates', 'affix_candidates', "
            "'scores', and 'one_char_whitelist'",
        ),
        (
            VALID[:1],
            {},
            "missing 3 required positional arguments: 'affix_candidates', 'scores', and "
            "'one_char_whitelist'",
        ),
        (VALID[:2], {}, "missing 2 required positional arguments: 'scores' and 'one_char_whitelist'"),
        (VALID[:3], {}, "missing 1 required positional argument: 'one_char_whitelist'"),
        (VALID[:2], {"one_char_whitelist": set()}, "missing 1 required positional argument: 'scores'"),
        (
            (),
            {"scores": {}},
            "missing 3 required positional arguments: 'root_candidates', 'affix_candidates', and "
            "'one_char_whitelist'",
        ),
        (
            (),
            {"affix_candidates": set(), "one_char_whitelist": set()},
            "missing 2 required positional arguments: 'root_candidates' and 'scores'",
        ),
        (VALID + [1], {}, "takes 4 positional arguments but 5 were given"),
        (VALID + [1, 2], {}, "takes 4 positional arguments but 6 were given"),
        # Too many positional arguments: the keywords are not looked at.
        (VALID + [1, 2], {"foo": 1}, "takes 4 positional arguments but 6 were given"),
        (VALID + [1, 2], {"scores": {}}, "takes 4 positional arguments but 6 were given"),
        (VALID, {"scores": {}}, "got multiple values for argument 'scores'"),
        (VALID[:1], {"root_candidates": set()}, "got multiple values for argument 'root_candidates'"),
        (VALID, {"foo": 1}, "got an unexpected keyword argument 'foo'"),
        ((), dict(ALL_BY_KEYWORD, foo=1), "got an unexpected keyword argument 'foo'"),
        # A bad keyword is reported before missing parameters are.
        ((), {"foo": 1}, "got an unexpected keyword argument 'foo'"),
        # The first bad keyword, in the keyword dict's order, is the one named.
        (VALID, {"zeta": 1, "alpha": 2}, "got an unexpected keyword argument 'zeta'"),
        (VALID, {"alpha": 1, "scores": {}}, "got an unexpected keyword argument 'alpha'"),
        (VALID, {"scores": {}, "alpha": 1}, "got multiple values for argument 'scores'"),
        # Names match exactly, byte for byte.
        (VALID[:3], {"One_char_whitelist": set()}, "got an unexpected keyword argument 'One_char_whitelist'"),
        (VALID[:3], {"one_char_whitelist ": set()}, "got an unexpected keyword argument 'one_char_whitelist '"),
        # Each lone surrogate in an unexpected keyword shows as three U+FFFD.
        (VALID, {"k\ud800ey": 1}, "got an unexpected keyword argument 'k\ufffd\ufffd\ufffdey'"),
        (VALID, {"\udfff": 1}, "got an unexpected keyword argument '\ufffd\ufffd\ufffd'"),
        (VALID, {"caf\u00e9": 1}, "got an unexpected keyword argument 'caf\u00e9'"),
        # An unexpected keyword is named by its str(); a matching one by its code points.
        (VALID, {NamedKey("bogus"): 1}, "got an unexpected keyword argument 'shown-name'"),
        (VALID, {NamedKey("scores"): {}}, "got multiple values for argument 'scores'"),
        # Bad arguments are not converted before binding has succeeded.
        (([], [], [], []), {"foo": 1}, "got an unexpected keyword argument 'foo'"),
        (([], []), {}, "missing 2 required positional arguments: 'scores' and 'one_char_whitelist'"),
    ],
)
def test_binding_error_messages(args, kwargs, message):
    with pytest.raises(TypeError) as caught:
        f(*args, **kwargs)
    assert type(caught.value) is TypeError
    assert caught.value.args == ("run_scoring_iteration() " + message,)


@pytest.mark.parametrize(
    "args, kwargs",
    [
        (VALID, {}),
        ((), ALL_BY_KEYWORD),
        ((), dict(reversed(list(ALL_BY_KEYWORD.items())))),
        (VALID[:2], {"one_char_whitelist": VALID[3], "scores": VALID[2]}),
        (VALID[:1], {"scores": VALID[2], "affix_candidates": VALID[1], "one_char_whitelist": VALID[3]}),
        ((), {NamedKey(name): value for name, value in ALL_BY_KEYWORD.items()}),
    ],
    ids=["positional", "keywords", "keywords-reversed", "two-and-two", "one-and-three", "str-subclass-keys"],
)
def test_arguments_bind_by_position_and_name(args, kwargs):
    assert f(*args, **kwargs) == EXPECTED


def test_unprintable_keyword_is_named_by_its_type_and_reported_as_unraisable(monkeypatch):
    reported = []
    monkeypatch.setattr(sys, "unraisablehook", reported.append)
    with pytest.raises(TypeError) as caught:
        f(*VALID, **{UnprintableKey("bogus"): 1})
    assert caught.value.args == (
        "run_scoring_iteration() got an unexpected keyword argument '<unprintable UnprintableKey object>'",
    )
    assert len(reported) == 1
    assert type(reported[0].exc_value) is RuntimeError
    assert reported[0].exc_value.args == ("no text",)


def test_arguments_stay_alive_when_the_callers_keyword_dict_is_emptied_during_the_call():
    # Some interpreters hand the caller's own dict to the function as its keyword
    # dict; Python code run during the call can then drop the arguments from it.
    keywords = {
        "scores": {"".join(["a", "b"]): 7.5},
        "affix_candidates": set(),
        "one_char_whitelist": set(),
    }

    class ClearsKeywords(set):
        def __iter__(self):
            keywords.clear()
            return iter(["".join(["a", "b"])])

    assert f(ClearsKeywords(), **keywords) == {"ab": 7.5}

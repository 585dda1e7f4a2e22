"""morvanex.run_scoring_iteration, and the covers and counts of morvanex_covers,
checked against the plain-Python model (the counts against collections.Counter).

Values are compared bit for bit (NaN payloads and the sign of zero included),
keys as sets, and separately the key order of the returned dict.
"""

import collections
import json
import math
import random
import struct
import sys

import pytest
from hypothesis import HealthCheck, find, given, settings
from hypothesis import strategies as st

import reference_model as model
from probe_values import DictSubclass, FrozenSubclass, SetSubclass

try:
    import morvanex
    import morvanex_covers
except ImportError:  # the model's own checks still run
    morvanex = morvanex_covers = None

requires_module = pytest.mark.skipif(morvanex is None, reason="morvanex is not installed")

NAN = float("nan")
INF = float("inf")
# NaNs that differ from the default one in sign or payload: a value that is
# passed through must come back with the same bits.
NAN_VARIANTS = [
    struct.unpack("<d", struct.pack("<Q", bits))[0]
    for bits in (0x7FF8000000000000, 0xFFF8000000000000, 0x7FF800000000BEEF, 0xFFFC0000DEADBEEF)
]


def bits(value):
    return struct.pack("<d", value)


def differing_values(actual, expected):
    """Entries whose values are not bit-identical, as {key: (actual, expected)}."""
    return {
        key: (actual[key], expected[key])
        for key in expected.keys() & actual.keys()
        if bits(actual[key]) != bits(expected[key])
    }


def assert_same_values(actual, expected, args):
    assert type(actual) is dict
    assert actual.keys() == expected.keys(), args
    assert all(type(value) is float for value in actual.values())
    assert differing_values(actual, expected) == {}, args


# ---------------------------------------------------------------------------
# Worked examples: both implementations must give the documented numbers.


def _call_model(*args):
    return model.run_scoring_iteration(*args)


def _call_module(*args):
    return morvanex.run_scoring_iteration(*args)


ABCD_SCORES = {"a": 0.5, "ab": 1.0, "bc": 5.0, "cd": 1.5, "d": 0.5, "abcd": 2.0}

WORKED_EXAMPLES = [
    # (id, roots, affixes, scores, whitelist, expected)
    ("root-a+bc+d", {"abcd"}, set(), ABCD_SCORES, {"a", "d"}, {"abcd": (1.0 / 4) / (6.0 + 1.0)}),
    ("affix-ab+cd", set(), {"abcd"}, ABCD_SCORES, {"a", "d"}, {"abcd": (1.0 / 4) / (2.5 + 1.0)}),
    ("whitelisted-c", {"abc"}, set(), {"ab": 2.0, "abc": 2.5, "c": 1.0}, {"c"}, {"abc": (1.0 / 3) / 4.0}),
    ("empty-whitelist-keeps", {"abc"}, set(), {"ab": 2.0, "abc": 2.5, "c": 1.0}, set(), {"abc": 2.5}),
    ("three-pieces-root", {"abcd"}, set(), {"ab": 1.0, "c": 1.0, "d": 1.0}, {"c", "d"}, {"abcd": 0.0625}),
    ("three-pieces-affix", set(), {"abcd"}, {"ab": 1.0, "c": 1.0, "d": 1.0}, {"c", "d"}, {"abcd": 0.0}),
    ("total-at-or-below-minus-one", {"abc"}, set(), {"ab": -1.5, "c": 4.0, "abc": -0.5}, {"c"}, {"abc": -0.5}),
    ("nan-whole-split-used", {"ab"}, set(), {"ab": NAN, "a": 1.0, "b": 2.0}, {"a", "b"}, {"ab": 0.125}),
    ("nan-whole-alone", {"ab"}, set(), {"ab": NAN}, {"a", "b"}, {"ab": NAN}),
    ("one-char-needs-whitelist", {"éa"}, set(), {"é": 1.0, "a": 1.0}, {"a"}, {"éa": 0.0}),
    ("one-char-whitelisted", {"éa"}, set(), {"é": 1.0, "a": 1.0}, {"a", "é"}, {"éa": (1.0 / 2) / 3.0}),
    ("length-in-characters", {"é😀"}, set(), {"é": 0.5, "😀": 0.5}, {"é", "😀"}, {"é😀": 0.25}),
    ("quotient-not-product", {"abc"}, set(), {"ab": 0.4, "c": 0.0}, {"c"}, {"abc": (1.0 / 3) / 1.4}),
    ("negative-previous", {"abcde"}, set(), {"abcde": -2.0, "ab": 0.0, "cde": 0.0}, set(), {"abcde": 0.2}),
    ("lower-than-previous", {"abcd"}, set(), {"abcd": 0.5, "ab": 0.5, "cd": 0.5}, set(), {"abcd": 0.125}),
    ("previous-inf-stays", {"ab"}, set(), {"ab": INF, "a": 5.0, "b": 5.0}, {"a", "b"}, {"ab": INF}),
    ("cover-inf-gives-zero", {"ab"}, set(), {"ab": 1.0, "a": INF, "b": 0.0}, {"a", "b"}, {"ab": 0.0}),
    ("zero-cover-no-entry", {"ab"}, set(), {"a": 0.0, "b": 0.0}, {"a", "b"}, {"ab": 0.0}),
    ("negative-zero-previous-kept", {"ab"}, set(), {"ab": -0.0, "a": 0.0, "b": 0.0}, {"a", "b"}, {"ab": -0.0}),
    ("affix-value-wins", {"abc", "b"}, {"abc"}, {"a": 1.0, "b": 1.0, "c": 1.0}, {"a", "b", "c"},
     {"abc": 0.0, "b": 1.0}),
    ("empty-string-skipped", {"", "a"}, {""}, {"a": 0.5, "": 3.0}, {"a"}, {"a": 0.5}),
    ("non-candidate-scores-dropped", set(), set(), {"a": 1.0}, {"a"}, {}),
    ("nul-character", {"a\x00b"}, set(), {"a\x00": 1.0, "b": 1.0}, {"b"}, {"a\x00b": (1.0 / 3) / 3.0}),
]


@pytest.mark.parametrize(
    "implementation",
    [pytest.param(_call_model, id="model"), pytest.param(_call_module, id="module", marks=requires_module)],
)
@pytest.mark.parametrize(
    "roots, affixes, scores, whitelist, expected",
    [example[1:] for example in WORKED_EXAMPLES],
    ids=[example[0] for example in WORKED_EXAMPLES],
)
def test_worked_examples(implementation, roots, affixes, scores, whitelist, expected):
    result = implementation(roots, affixes, scores, whitelist)
    assert_same_values(result, expected, (roots, affixes, scores, whitelist))


# ---------------------------------------------------------------------------
# Seeded random differential test.

ALPHABETS = {
    "ascii": "abc",
    "multibyte": "aé€😀",
    "astral": "😀𝄞𐍈a",
    "nul-and-combining": "\x00a\u0301ÿ",
    # Code points on either side of the one- and two-byte UTF-8 limits.
    "encoding-boundaries": "\x7f\x80\u07ff\u0800\uffff\U00010000",
    # More distinct characters than fit in a byte: few of them fit in the
    # packed keys by which the counts sort their strings.
    "wide": "az" + "".join(map(chr, range(0x400, 0x500))) + "😀𝄞",
}

SPECIAL_VALUES = [NAN, INF, -INF, 0.0, -0.0, -1.0, -1.5, 1e308, -1e308, 5e-324] + NAN_VARIANTS


def random_value(rng):
    roll = rng.random()
    if roll < 0.2:
        return rng.choice(SPECIAL_VALUES)
    if roll < 0.25:
        return rng.choice([0, 1, 2, -1, True, False])
    if roll < 0.45:
        return float(rng.randint(-2, 4)) / 2.0
    return rng.uniform(-1.5, 4.0)


def random_word(rng, alphabet, max_len):
    return "".join(rng.choice(alphabet) for _ in range(rng.randint(0, max_len)))


def random_case(rng, alphabet):
    long_case = rng.random() < 0.03

    def candidates():
        words = {random_word(rng, alphabet, 8) for _ in range(rng.randint(0, 6))}
        if long_case:
            words.add(random_word(rng, alphabet, 120))
        return words

    roots = candidates()
    affixes = candidates()
    if roots and rng.random() < 0.4:
        affixes |= set(rng.sample(sorted(roots), rng.randint(1, len(roots))))

    # Score the pieces of the candidates densely enough that covers exist.
    keys = set()
    for word in roots | affixes:
        for _ in range(len(word)):
            start = rng.randrange(len(word))
            keys.add(word[start : start + rng.randint(1, 4)])
        if rng.random() < 0.5:
            keys.add(word)
    keys |= {random_word(rng, alphabet, 3) for _ in range(rng.randint(0, 4))}
    scores = {key: random_value(rng) for key in keys if rng.random() < 0.85}

    whitelist = {c for c in alphabet if rng.random() < 0.6}
    if rng.random() < 0.2:
        whitelist.add(random_word(rng, alphabet, 3))  # longer entries are allowed and inert
    if rng.random() < 0.1:
        whitelist = set()

    # Every accepted container type, including subclasses.
    roots = rng.choice([set, frozenset, SetSubclass, FrozenSubclass])(roots)
    affixes = rng.choice([set, frozenset, SetSubclass])(affixes)
    whitelist = rng.choice([set, frozenset, FrozenSubclass])(whitelist)
    scores = rng.choice([dict, DictSubclass, collections.OrderedDict])(scores)
    return roots, affixes, scores, whitelist


@requires_module
@pytest.mark.parametrize("alphabet", list(ALPHABETS.values()), ids=list(ALPHABETS))
def test_random_cases_match_model(alphabet):
    rng = random.Random(f"morvanex-differential-{alphabet}")
    for _ in range(800):
        args = random_case(rng, alphabet)
        expected = model.run_scoring_iteration(*args)
        actual = morvanex.run_scoring_iteration(*args)
        assert_same_values(actual, expected, args)
        # Keys come in first-insertion order: roots, then affixes that are not roots.
        assert list(actual) == list(expected), args
        assert_covers_match_model(rng, alphabet, *args)


def assert_covers_match_model(rng, alphabet, roots, affixes, scores, whitelist):
    """best_covers and own_best_covers bit for bit and piece for piece, and the
    counts against Counter, on the words of one case (repeats, the empty word),
    counted with words that share a long beginning and the whole alphabet as
    one more word, up to lengths that the packed keys hold or not."""
    words = sorted(roots | affixes) + [""] + rng.sample(sorted(roots | affixes), min(2, len(roots | affixes)))
    words = rng.choice([list, tuple])(words)
    table, allowed = model.score_table(scores), set(model.string_set(whitelist))
    for kind in ("root", "affix"):
        expected = [model.best_cover(w, table, allowed, kind == "affix") if w else (-1.0, ()) for w in words]
        actual = morvanex_covers.best_covers(words, scores, whitelist, kind)
        assert [(pieces, bits(value)) for pieces, value in actual] == [(p, bits(v)) for v, p in expected], words
    kept = model.own_best_covers(roots, affixes, scores, whitelist)
    assert morvanex_covers.own_best_covers(roots, affixes, scores, whitelist) == kept
    assert_rows_match_model(rng, roots, affixes, scores, whitelist, words, table, kept)
    stem = random_word(rng, alphabet, 40)
    whole_alphabet = [alphabet] if rng.random() < 0.25 else []
    words = type(words)([*words, *whole_alphabet, stem, *(stem + random_word(rng, alphabet, 3) for _ in range(3))])
    longest = rng.choice([rng.randint(0, 4), rng.randint(5, 12), rng.randint(13, 40)])
    pieces = [w[i : i + n] for w in words for n in range(1, longest + 1) for i in range(len(w) - n + 1)]
    counts = morvanex_covers.substring_counts(words, longest)
    assert counts == collections.Counter(pieces)
    assert list(counts) == sorted(counts)
    of_length = collections.Counter(map(len, pieces))
    frequencies = morvanex_covers.substring_frequencies(words, longest)
    assert list(frequencies.items()) == [(piece, counts[piece] / of_length[len(piece)]) for piece in counts]
    assert_updated_tables_match_model(rng, words, longest, frequencies, scores, whitelist, table, allowed)
    lengths = [(w, n) for w in words for n in range(1, min(longest, len(w) - 1) + 1)]
    prefixes, suffixes = collections.Counter(w[:n] for w, n in lengths), collections.Counter(w[-n:] for w, n in lengths)
    counted_affixes = morvanex_covers.affix_counts(words, longest)
    assert counted_affixes == (prefixes, suffixes)
    assert list(counted_affixes[0]) == sorted(prefixes)
    assert list(counted_affixes[1]) == sorted(suffixes, key=lambda suffix: suffix[::-1])
    shared = rng.randint(0, 4)
    assert morvanex_covers.affix_counts(words, longest, min_count=shared) == tuple(
        {affix: count for affix, count in counts.items() if count >= shared} for counts in counted_affixes)
    references = list(map(sys.getrefcount, words))
    distinct = morvanex_covers.distinct_words(words)
    assert [id(w) for w in distinct] == [id(w) for w in dict.fromkeys(words)]
    del distinct
    assert list(map(sys.getrefcount, words)) == references


def assert_updated_tables_match_model(rng, words, longest, frequencies, scores, whitelist, table, allowed):
    """A table of the words' substring frequencies with a case's scores (`table` as the model stores them) put
    over them, made from a table that holds the counted scores and from one that holds an index alone: its covers
    and its JSON text against the model's; and the JSON text of the one that holds an index alone."""
    counted, same_frequencies = morvanex_covers.ScoreTable.from_substring_frequencies(words, longest, whitelist)
    assert list(same_frequencies.items()) == list(frequencies.items())
    indexed = morvanex_covers.ScoreTable(frequencies, whitelist)

    def json_text(scores):
        return json.dumps({key: scores[key] for key in sorted(scores) if key}, ensure_ascii=False,
                          separators=(",", ":")).encode("utf-8")

    merged = {**frequencies, **table}
    kind = rng.choice(["root", "affix"])
    expected = [model.best_cover(w, merged, allowed, kind == "affix") if w else (-1.0, ()) for w in words]
    for base in (counted, indexed):
        updated = base.updated(scores)
        assert [(pieces, bits(value)) for pieces, value in updated.best_covers(words, kind)] == [
            (p, bits(v)) for v, p in expected]
        blocks = []
        assert updated.write_scores_json(blocks.append) is None
        assert b"".join(blocks) == json_text(merged)
    blocks = []
    indexed.write_scores_json(blocks.append)
    assert b"".join(blocks) == json_text(frequencies)


def tsv_field(text):
    return text.translate({ord("\\"): "\\\\", ord("\t"): "\\t", ord("\n"): "\\n", ord("\r"): "\\r"})


def assert_rows_match_model(rng, roots, affixes, scores, whitelist, words, table, kept):
    """A ScoreTable's lines, made here from the model's values, and its covers, as the module functions give them."""
    root_set, affix_set = set(model.string_set(roots)), set(model.string_set(affixes))
    kinds = {**dict.fromkeys(root_set, "root"), **dict.fromkeys(affix_set, "affix")}
    kinds.update(dict.fromkeys(root_set & affix_set, "both"))
    kinds.pop("", None)
    expected = "".join(f"{tsv_field(text)}\t{kinds[text]}\t{len(text)}\t{table.get(text, 0.0)!r}\t"
                       f"{'yes' if text in kept else 'no'}\n" for text in sorted(kinds))
    blocks = []
    indexed = morvanex_covers.ScoreTable(scores, whitelist)
    # A table also takes the candidates as word lists, in any order, repeats counting once.
    as_given = [rng.choice([set, frozenset, list, tuple])(rng.sample(sorted(c), len(c)) + sorted(c)[:2])
                for c in (roots, affixes)]
    assert indexed.write_candidate_rows(*as_given, blocks.append) == kept
    assert b"".join(blocks).decode() == expected
    words = [*words, "\\\t" + rng.choice(words) + "\n\r"]
    rng.shuffle(words)  # roots that the own-best search above found, and others, in any order
    separator = rng.choice(["+", "", " | "])
    allowed = set(model.string_set(whitelist))
    covers = [model.best_cover(w, table, allowed, False) if w else (-1.0, ()) for w in words]
    expected = "".join(f"{tsv_field(w)}\t{tsv_field(separator.join(p))}\t{v!r}\n" for w, (v, p) in zip(words, covers))
    blocks = []
    indexed.write_segment_rows(words, blocks.append, separator=separator)
    assert b"".join(blocks).decode() == expected
    assert indexed.piece_uses(words) == collections.Counter(piece for _, pieces in covers for piece in set(pieces))
    assert [(p, bits(v)) for p, v in indexed.best_covers(words, "affix")] == [
        (p, bits(v)) for p, v in morvanex_covers.best_covers(words, scores, whitelist, "affix")]
    assert indexed.own_best_covers(roots, affixes) == kept


@requires_module
@pytest.mark.parametrize("alphabet", list(ALPHABETS.values()), ids=list(ALPHABETS))
def test_inputs_are_left_unchanged(alphabet):
    def snapshot(arg):
        if isinstance(arg, dict):
            return type(arg), [(key, type(value), bits(value)) for key, value in sorted(arg.items())]
        return type(arg), sorted(arg)

    rng = random.Random(f"morvanex-inputs-{alphabet}")
    for _ in range(50):
        args = random_case(rng, alphabet)
        before = [snapshot(arg) for arg in args]
        morvanex.run_scoring_iteration(*args)
        morvanex_covers.best_covers(sorted(args[0]), *args[2:], "affix")
        morvanex_covers.own_best_covers(*args)
        assert [snapshot(arg) for arg in args] == before


# ---------------------------------------------------------------------------
# Property-based test.

PIECE_CHARS = st.one_of(
    st.sampled_from(list("abé€😀")),
    st.characters(exclude_categories=["Cs"]),
)
WORDS = st.text(alphabet=PIECE_CHARS, max_size=7)
SCORE_VALUES = st.one_of(
    st.sampled_from([NAN, INF, -INF, -0.0, 0.0, -1.0] + NAN_VARIANTS),
    st.floats(min_value=-3.0, max_value=5.0),
    st.floats(),
)
SET_TYPES = st.sampled_from([set, frozenset, SetSubclass, FrozenSubclass])


@st.composite
def scoring_arguments(draw):
    roots = draw(st.sets(WORDS, max_size=5))
    affixes = draw(st.sets(WORDS, max_size=5))
    if draw(st.booleans()):
        affixes |= roots
    candidates = sorted(roots | affixes)
    pieces = set()
    for word in candidates:
        for start in range(len(word)):
            for end in range(start + 1, min(len(word), start + 4) + 1):
                pieces.add(word[start:end])
    chosen = draw(st.sets(st.sampled_from(sorted(pieces)), max_size=12)) if pieces else set()
    scores = {key: draw(SCORE_VALUES) for key in sorted(chosen)}
    scores.update(draw(st.dictionaries(WORDS, SCORE_VALUES, max_size=3)))
    letters = sorted({c for word in candidates for c in word})
    whitelist = draw(st.sets(st.sampled_from(letters), max_size=len(letters))) if letters else set()
    whitelist |= draw(st.sets(WORDS, max_size=2))
    return (
        draw(SET_TYPES)(roots),
        draw(SET_TYPES)(affixes),
        scores,
        draw(SET_TYPES)(whitelist),
    )


@requires_module
@settings(max_examples=400, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(scoring_arguments())
def test_property_matches_model(args):
    expected = model.run_scoring_iteration(*args)
    actual = morvanex.run_scoring_iteration(*args)
    assert_same_values(actual, expected, args)
    assert list(actual) == list(expected)


@pytest.mark.parametrize(
    "strategy, wanted",
    [
        (SCORE_VALUES, math.isnan),
        (SCORE_VALUES, lambda x: x == INF),
        (SCORE_VALUES, lambda x: x == -INF),
        (SCORE_VALUES, lambda x: x == 0.0 and math.copysign(1.0, x) < 0),
        (WORDS, lambda s: any(ord(c) > 0xFFFF for c in s)),
        (WORDS, lambda s: any(0x7F < ord(c) <= 0xFFFF for c in s)),
    ],
    ids=["nan", "+inf", "-inf", "-0.0", "astral", "bmp-non-ascii"],
)
def test_strategies_reach_the_awkward_values(strategy, wanted):
    # find() raises NoSuchExample if the strategy never produces such a value.
    assert wanted(find(strategy, wanted, settings=settings(database=None, max_examples=2000)))


# ---------------------------------------------------------------------------
# Strings without a UTF-8 form.

SURROGATES = st.characters(categories=["Cs"])


@st.composite
def with_lone_surrogate(draw):
    return draw(WORDS) + draw(SURROGATES) + draw(WORDS)


@requires_module
@settings(max_examples=150, deadline=None)
@given(
    bad=with_lone_surrogate(),
    where=st.sampled_from(["root", "affix", "score key", "whitelist"]),
    others=st.sets(WORDS, max_size=3),
)
def test_lone_surrogate_raises_unicode_encode_error(bad, where, others):
    roots, affixes, whitelist = set(others), set(others), set(others)
    scores = {word: 1.0 for word in others}
    if where == "root":
        roots.add(bad)
    elif where == "affix":
        affixes.add(bad)
    elif where == "score key":
        scores[bad] = 0.5
    else:
        whitelist.add(bad)

    with pytest.raises(UnicodeEncodeError) as module_error:
        morvanex.run_scoring_iteration(roots, affixes, scores, whitelist)
    with pytest.raises(UnicodeEncodeError) as model_error:
        model.run_scoring_iteration(roots, affixes, scores, whitelist)

    error = module_error.value
    assert type(error) is UnicodeEncodeError
    # Passed through as the codec raised it, not reworded with the argument.
    assert error.args == model_error.value.args
    assert error.object == bad
    assert error.encoding == "utf-8"

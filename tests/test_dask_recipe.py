"""The Dask scale-out recipe gives what one single call gives."""

import os
import random
import struct
import subprocess
import sys

import pytest

from example_scripts import EXAMPLES, example_path, load_example
from morvanex_tools.candidates import affix_candidates, initial_scores
from morvanex_tools.words import BUNDLED_WORDS, read_words

morvanex = pytest.importorskip("morvanex")
distributed = pytest.importorskip("dask.distributed", reason="dask[distributed] is not installed")

recipe = load_example("dask_scale_out.py")


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0"
    ) as cluster, distributed.Client(cluster) as client:
        yield client


def _bits(value):
    return struct.pack("<d", value)


def _random_arguments(seed, alphabet="abcé😀", longest=7):
    """Candidates of up to `longest` characters, and scores for pieces of them of up to half as many (at least 4),
    for some candidates among them."""
    rng = random.Random(seed)

    def word(max_len):
        return "".join(rng.choice(alphabet) for _ in range(rng.randint(0, max_len)))

    roots = {word(longest) for _ in range(300)}
    affixes = {word(4) for _ in range(120)} | set(rng.sample(sorted(roots), 40))
    values = [float("nan"), float("inf"), -float("inf"), -0.0, 0.0, -1.0]
    scores = {}
    for text in roots | affixes:
        for _ in range(3):
            start = rng.randrange(len(text) + 1)
            piece = text[start : start + rng.randint(1, max(4, longest // 2))]
            if piece:
                scores[piece] = rng.choice(values) if rng.random() < 0.1 else rng.uniform(-0.5, 2.0)
    whitelist = set(rng.sample(alphabet, min(3, len(alphabet) - 1)))
    return roots, affixes, scores, whitelist


class _HidingDict(dict):
    """Claims to be empty; the module reads the stored entries all the same."""

    def __iter__(self):
        return iter(())

    def keys(self):
        return {}.keys()

    def items(self):
        return {}.items()


# Long words over two letters: pieces and candidates longer than the recipe's
# head of 8 characters, and candidates inside other candidates.
LONG_WORDS = {"alphabet": "ab", "longest": 24}


@pytest.mark.parametrize(
    "seed, partitions, scores_type, shape",
    [(1, 1, dict, {}), (2, 3, dict, {}), (3, 8, dict, {}), (4, 1000, dict, {}), (6, 2, _HidingDict, {}),
     (7, 3, dict, LONG_WORDS)],
    ids=["one-partition", "three", "eight", "more-partitions-than-candidates", "dict-subclass", "long-words"],
)
def test_distributed_equals_single_call(client, seed, partitions, scores_type, shape):
    roots, affixes, scores, whitelist = _random_arguments(seed, **shape)
    scores = scores_type(scores)
    assert roots & affixes, "the case must include strings that are both roots and affixes"

    merged = recipe.score_distributed(client, roots, affixes, scores, whitelist, partitions=partitions)
    single = morvanex.run_scoring_iteration(roots, affixes, scores, whitelist)

    assert list(merged) == list(single)
    assert [key for key in single if _bits(merged[key]) != _bits(single[key])] == []


def test_string_in_both_sets_takes_its_affix_value(client):
    # As a root "abc" is covered by a + b + c; as an affix by nothing.
    scores = {"a": 1.0, "b": 1.0, "c": 1.0}
    merged = recipe.score_distributed(client, {"abc", "ab"}, {"abc"}, scores, {"a", "b", "c"}, partitions=2)
    assert merged == {"abc": 0.0, "ab": (1.0 / 2) / 3.0}


def test_empty_candidate_sets(client):
    assert recipe.score_distributed(client, set(), frozenset(), {"a": 1.0}, {"a"}) == {}


def test_partitions_must_be_positive(client):
    with pytest.raises(ValueError, match="partitions must be at least 1"):
        recipe.score_distributed(client, {"a"}, set(), {}, set(), partitions=0)


@pytest.mark.parametrize(
    "partitions, shape", [(None, {}), (3, {}), (3, LONG_WORDS)], ids=["one-per-worker", "three", "long-words"]
)
def test_session_iterations_equal_single_calls(client, partitions, shape):
    # Each iteration's result feeds the next: each partition's copy of the
    # scores must follow what the merges made of every result it can use,
    # other partitions' candidates included.
    roots, affixes, scores, whitelist = _random_arguments(5, **shape)
    given = dict(scores)
    expected_scores = dict(scores)
    with recipe.DistributedSession(client, roots, affixes, scores, whitelist, partitions) as session:
        for _ in range(3):
            merged = session.iterate()
            single = morvanex.run_scoring_iteration(roots, affixes, expected_scores, whitelist)
            expected_scores.update(single)
            assert list(merged) == list(single)
            assert [key for key in single if _bits(merged[key]) != _bits(single[key])] == []
        assert session.scores.keys() == expected_scores.keys()
        assert [k for k in expected_scores if _bits(session.scores[k]) != _bits(expected_scores[k])] == []
    assert scores.keys() == given.keys() and [k for k in given if _bits(scores[k]) != _bits(given[k])] == []


def _substrings(text):
    return {text[start:end] for start in range(len(text)) for end in range(start + 1, len(text) + 1)}


@pytest.mark.parametrize(
    "seed, shape", [(8, {}), (9, LONG_WORDS), (10, {"alphabet": "aé😀", "longest": 30})],
    ids=["short-words", "long-words", "long-multibyte-words"],
)
def test_each_partition_gets_the_keys_in_its_candidates(seed, shape):
    roots, affixes, scores, _ = _random_arguments(seed, **shape)
    scores.update({"b" * 12: 1.0, "zz": 1.0})  # in no candidate
    candidates = sorted((roots | affixes) - {""})[::3]
    candidate_set = frozenset(roots | affixes) - {""}
    keys = set(scores) | candidate_set
    expected = {piece for text in candidates for piece in _substrings(text)} & keys
    heads, longest = recipe._long_key_heads((scores, candidate_set))

    assert recipe._used_keys(candidates, scores, candidate_set, heads, longest) == expected


@pytest.mark.parametrize(
    "extra_key", ["dcd", "dcdcdcdcdc", "cdcdcdcdcdcdcd"], ids=["short-piece", "long-piece", "whole-candidate"]
)
def test_a_score_reaches_only_the_partition_that_can_use_it(client, extra_key):
    roots, affixes, scores = {"ababababababab", "cdcdcdcdcdcdcd"}, {"ab", "cd"}, {"ab": 0.5, "cd": 0.25}

    def sent_scores(scores):
        with recipe.DistributedSession(client, roots, affixes, scores, set(), partitions=2) as session:
            return session.sent_scores

    without, with_extra = sent_scores(scores), sent_scores({**scores, extra_key: 2.0})
    assert without.keys() == with_extra.keys() and len(without) == 2
    assert sorted(with_extra[worker] - without[worker] for worker in without) == [0, 1]

def test_readme_script_runs_as_shown_and_gives_the_single_calls_scores(tmp_path):
    with open(example_path("dask_example.py"), encoding="utf-8") as handle:
        script = handle.read()
    with open(os.path.join(os.path.dirname(EXAMPLES), "README.md"), encoding="utf-8") as handle:
        assert f"```python\n{script}```" in handle.read()

    # From another directory, as a user runs it; its workers are new processes.
    run = subprocess.run([sys.executable, example_path("dask_example.py")], cwd=tmp_path, capture_output=True,
                         text=True, encoding="utf-8", timeout=300)
    assert run.returncode == 0, run.stderr

    words = read_words(BUNDLED_WORDS)
    roots, affixes = frozenset(words), frozenset(affix_candidates(words, 20, 5))
    scores, whitelist = initial_scores(words, 8), frozenset(char for word in words for char in word)
    for _ in range(3):
        scores.update(morvanex.run_scoring_iteration(roots, affixes, scores, whitelist))
    best = sorted(roots, key=lambda root: (-scores[root], root))[:5]
    lines = run.stdout.splitlines()
    assert [line.split(",")[0] for line in lines[:3]] == [
        f"iteration {number}: {len((roots | affixes) - {''})} candidates" for number in (1, 2, 3)
    ]
    assert lines[3:] == [f"{root}\t{scores[root]!r}" for root in best]

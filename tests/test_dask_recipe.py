"""The Dask scale-out recipe gives what one single call gives."""

import random
import struct

import pytest

from example_scripts import load_example

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


def _random_arguments(seed):
    rng = random.Random(seed)
    alphabet = "abcé😀"

    def word(max_len):
        return "".join(rng.choice(alphabet) for _ in range(rng.randint(0, max_len)))

    roots = {word(7) for _ in range(300)}
    affixes = {word(4) for _ in range(120)} | set(rng.sample(sorted(roots), 40))
    values = [float("nan"), float("inf"), -float("inf"), -0.0, 0.0, -1.0]
    scores = {}
    for text in roots | affixes:
        for _ in range(3):
            start = rng.randrange(len(text) + 1)
            piece = text[start : start + rng.randint(1, 4)]
            if piece:
                scores[piece] = rng.choice(values) if rng.random() < 0.1 else rng.uniform(-0.5, 2.0)
    whitelist = set(rng.sample(alphabet, 3))
    return roots, affixes, scores, whitelist


class _HidingDict(dict):
    """Claims to be empty; the module reads the stored entries all the same."""

    def __iter__(self):
        return iter(())

    def keys(self):
        return {}.keys()

    def items(self):
        return {}.items()


@pytest.mark.parametrize(
    "seed, partitions, scores_type",
    [(1, 1, dict), (2, 3, dict), (3, 8, dict), (4, 1000, dict), (6, 2, _HidingDict)],
    ids=["one-partition", "three", "eight", "more-partitions-than-candidates", "dict-subclass"],
)
def test_distributed_equals_single_call(client, seed, partitions, scores_type):
    roots, affixes, scores, whitelist = _random_arguments(seed)
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


@pytest.mark.parametrize("partitions", [None, 3], ids=["one-per-worker", "three"])
def test_session_iterations_equal_single_calls(client, partitions):
    # Each iteration's result feeds the next: every worker's copy of the
    # scores must follow exactly what the merges made of the whole result.
    roots, affixes, scores, whitelist = _random_arguments(5)
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

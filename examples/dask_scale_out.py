#!/usr/bin/env python3
"""Spread one scoring iteration over a Dask cluster.

Each candidate is scored independently of the others: its new value depends
only on the candidate, its kind (root or affix), ``scores`` and the whitelist.
So a large iteration splits into partitions of candidates that workers score
with ``morvanex.run_scoring_iteration``, all against the same ``scores`` and
whitelist.  Those two are sent to every worker once (``scatter`` with
``broadcast=True``), not once per task.

Roots and affixes are partitioned separately and never mixed in one task.  The
merge applies the root partitions first and the affix partitions after them,
so a string that is both a root and an affix candidate ends with its affix
value, exactly as in a single call.  The merged dict has the same keys and
values as the single call; only the key order differs.

Workers must be able to import morvanex.  Scheduling and moving the data cost
far more than scoring a few thousand words takes (one call does that in
milliseconds), so this pays off only for candidate sets that keep a machine
busy for a long time.  Try it on a local cluster:

    python examples/dask_scale_out.py --workers 2 --partitions 8
"""

import argparse
import os
import struct
import sys
import time


def _partition(strings, parts):
    """Split `strings` into at most `parts` frozensets of similar size (none empty)."""
    ordered = sorted(strings)
    return [frozenset(ordered[k::parts]) for k in range(min(parts, len(ordered)))]


def score_distributed(client, roots, affixes, scores, whitelist, partitions=8):
    """One scoring iteration computed on the workers of `client`.

    Returns a dict with the keys and values that
    ``morvanex.run_scoring_iteration(roots, affixes, scores, whitelist)``
    returns.  `partitions` is the number of root partitions and of affix
    partitions.
    """
    import morvanex

    if partitions < 1:
        raise ValueError(f"partitions must be at least 1, got {partitions}")
    # scatter() treats a dict as {name: data}; a one-element list keeps the
    # dict whole.
    # The module reads a dict's stored entries, whatever a subclass overrides.
    [scores_on_workers] = client.scatter([dict(dict.items(scores))], broadcast=True)
    [whitelist_on_workers] = client.scatter([frozenset(whitelist)], broadcast=True)

    empty = frozenset()
    root_tasks = [
        client.submit(morvanex.run_scoring_iteration, part, empty, scores_on_workers, whitelist_on_workers,
                      pure=False)
        for part in _partition(roots, partitions)
    ]
    affix_tasks = [
        client.submit(morvanex.run_scoring_iteration, empty, part, scores_on_workers, whitelist_on_workers,
                      pure=False)
        for part in _partition(affixes, partitions)
    ]
    root_results = client.gather(root_tasks)
    affix_results = client.gather(affix_tasks)

    merged = {}
    for result in root_results:
        merged.update(result)
    for result in affix_results:  # after every root: the affix value wins
        merged.update(result)
    return merged


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--workers", type=int, default=2, help="local worker processes (default: 2)")
    parser.add_argument("--partitions", type=int, default=8, help="partitions per candidate kind (default: 8)")
    parser.add_argument("--words", default=os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                        "data", "words.txt"),
                        help="UTF-8 word list, one word per line (default: the bundled list)")
    args = parser.parse_args(argv)

    from dask.distributed import Client, LocalCluster

    import morvanex

    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    from score_vocabulary import WordListError, affix_candidates, initial_scores, read_words

    try:
        words = read_words(args.words)
    except WordListError as error:
        print(f"{os.path.basename(__file__)}: error: {error}", file=sys.stderr)
        return 2
    affixes = affix_candidates(words, 20, 5)
    scores = initial_scores(words, 8)
    whitelist = {char for word in words for char in word}

    with LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        started = time.perf_counter()
        merged = score_distributed(client, words, affixes, scores, whitelist, args.partitions)
        print(f"distributed: {len(merged)} candidates in {time.perf_counter() - started:.3f} s")

    started = time.perf_counter()
    single = morvanex.run_scoring_iteration(set(words), affixes, scores, whitelist)
    print(f"single call: {len(single)} candidates in {time.perf_counter() - started:.3f} s")
    same = single.keys() == merged.keys() and all(
        struct.pack("<d", single[key]) == struct.pack("<d", merged[key]) for key in single
    )
    print("results agree" if same else "results DIFFER")
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Spread scoring iterations over a Dask cluster.

Each candidate is scored independently of the others: its new value depends
only on the candidate, its kind (root or affix), ``scores`` and the whitelist.
So the candidates split into partitions that workers score with
``morvanex.run_scoring_iteration``, each against its own copy of ``scores``.

What moves, and how often (a ``DistributedSession``):

* the candidates: partitioned once, each partition sent to one worker, where
  it stays for every iteration;
* ``scores``: pickled once on the client into one ``bytes`` object, sent to
  each worker once and unpickled there once; Dask sends ``bytes`` as they are,
  whereas a large ``dict`` costs it far more than its pickled size;
* after each iteration only the scores that changed go to the workers, which
  update their copy in place, so an iteration that changed little ships little.

Roots and affixes are partitioned separately and never mixed in one call.  The
merge applies the root results first and the affix results after them, so a
string that is both a root and an affix candidate ends with its affix value,
exactly as in a single call: the merged dict has the same keys and values as
the single call, bit for bit; only the key order differs.

Workers must be able to import morvanex, and everything needs
``dask[distributed]``.  Pickling, shipping and merging grow with the number of
candidates and run on one core, so this pays only when scoring a candidate is
expensive (long candidates), with several workers, or in late iterations that
change few scores (the README has measurements).  Try it on a local cluster:

    python examples/dask_scale_out.py --workers 2 --iterations 3
"""

import argparse
import os
import pickle
import struct
import sys
import time

_EMPTY = frozenset()


def _partition(strings, parts):
    """Split `strings` into at most `parts` frozensets of similar size (none empty)."""
    ordered = list(strings)
    return [frozenset(ordered[k::parts]) for k in range(min(parts, len(ordered)))]


def _score_partition(part, is_affix, scores, whitelist, affixes):
    """One call on a worker: its result and the entries by which it changes `scores`, both pickled,
    and the seconds the call took.

    Dask moves bytes as they are, a large dict far more slowly.  A root that
    is also an affix candidate ends with its affix value, so its change is
    for the affix partition to report.  When most entries change, the changes
    are None: the merged result then serves as the changes, at no extra cost.
    """
    import morvanex

    started = time.perf_counter()
    result = morvanex.run_scoring_iteration(_EMPTY if is_affix else part, part if is_affix else _EMPTY,
                                            scores, whitelist)
    seconds = time.perf_counter() - started
    changes = {text: value for text, value in result.items()
               if (is_affix or text not in affixes) and _differs(scores.get(text), value)}
    return (pickle.dumps(result, pickle.HIGHEST_PROTOCOL),
            None if 2 * len(changes) > len(result) else pickle.dumps(changes, pickle.HIGHEST_PROTOCOL), seconds)


def _load_scores(payload):
    return pickle.loads(payload)


def _apply_changes(scores, payload):
    # In place: a copy of millions of entries per iteration is what the
    # session exists to avoid.  The caller drops its reference to the old state.
    scores.update(pickle.loads(payload))
    return scores


def _plain_dict(scores):
    # The module reads a dict's stored entries, whatever a subclass overrides;
    # a plain dict also unpickles on workers that lack the subclass.
    return scores if type(scores) is dict else dict(dict.items(scores))


class DistributedSession:
    """Scoring iterations on the workers of `client`, candidates partitioned once.

    ``iterate()`` returns what ``morvanex.run_scoring_iteration(roots, affixes,
    scores, whitelist)`` returns for the session's current scores and merges
    that result into them, as a session on one machine does with
    ``scores.update(result)``.  `partitions` is the number of root partitions
    and of affix partitions (default: one per worker); each worker scores its
    partitions against its copy of the scores.  ``timings`` holds the seconds
    of the last iteration by stage: ship (pickling and sending the scores or
    their changes), score (on the workers, results back to the client
    included) and merge; calls is the part of score that the busiest worker
    spent in morvanex.  Use it as a context manager, or call ``close()``, to
    free the workers' memory.
    """

    def __init__(self, client, roots, affixes, scores, whitelist, partitions=None):
        import cloudpickle

        if partitions is not None and partitions < 1:
            raise ValueError(f"partitions must be at least 1, got {partitions}")
        if __name__ in sys.modules and __name__ != "__main__":
            # Workers need not be able to import this file: ship its functions by value.
            cloudpickle.register_pickle_by_value(sys.modules[__name__])
        self.client = client
        workers = sorted(client.scheduler_info()["workers"])
        parts = partitions or len(workers)
        self.scores = dict(dict.items(scores))
        self.timings = {}
        self.shipped_bytes = 0
        self._tasks = []  # (worker, partition future, kind)
        for kind, strings in (("root", roots), ("affix", affixes)):
            for number, part in enumerate(_partition(strings, parts)):
                worker = workers[number % len(workers)]
                [future] = client.scatter([part], workers=[worker], hash=False)
                self._tasks.append((worker, future, kind))
        self._workers = sorted({worker for worker, _, _ in self._tasks})
        [self._whitelist, self._affixes] = client.scatter([frozenset(whitelist), frozenset(affixes)],
                                                          workers=self._workers or None, broadcast=True, hash=False)
        self._scores_on = {}  # worker: future of its copy of the scores
        self._pending = self.scores  # what the workers lack: everything, at first

    def iterate(self):
        """One scoring iteration on the workers; returns its result and merges it into ``scores``."""
        from dask.distributed import wait

        client = self.client
        started = time.perf_counter()
        self.shipped_bytes = 0
        if self._tasks and (self._pending or not self._scores_on):
            data = pickle.dumps(_plain_dict(self._pending), pickle.HIGHEST_PROTOCOL)
            self.shipped_bytes = len(data)
            [payload] = client.scatter([data], workers=self._workers, broadcast=True, hash=False)
            del data
            for worker in self._workers:
                previous = self._scores_on.get(worker)
                self._scores_on[worker] = (
                    client.submit(_load_scores, payload, workers=[worker], pure=False) if previous is None
                    else client.submit(_apply_changes, previous, payload, workers=[worker], pure=False))
            wait(list(self._scores_on.values()))  # unpickled everywhere: shipping done
            del payload
        shipped = time.perf_counter()

        futures = [
            client.submit(_score_partition, part, kind == "affix", self._scores_on[worker], self._whitelist,
                          self._affixes, workers=[worker], pure=False)
            for worker, part, kind in self._tasks
        ]
        outcomes = client.gather(futures)
        scored = time.perf_counter()

        merged = {}
        for merged_kind in ("root", "affix"):  # affixes after every root: the affix value wins
            for (_, _, kind), (result, _, _) in zip(self._tasks, outcomes):
                if kind == merged_kind:
                    merged.update(pickle.loads(result))
        if any(changes is None for _, changes, _ in outcomes):
            self._pending = dict(merged)  # re-sending an unchanged score is harmless; the caller owns merged
        else:
            self._pending = {}
            for _, changes, _ in outcomes:
                self._pending.update(pickle.loads(changes))
        self.scores.update(self._pending)
        calls = {}
        for (worker, _, _), (_, _, seconds) in zip(self._tasks, outcomes):
            calls[worker] = calls.get(worker, 0.0) + seconds
        self.timings = {"ship": shipped - started, "score": scored - shipped, "merge": time.perf_counter() - scored,
                        "calls": max(calls.values(), default=0.0)}
        return merged

    def close(self):
        self._tasks, self._scores_on, self._whitelist, self._affixes = [], {}, None, None

    def __enter__(self):
        return self

    def __exit__(self, *exc_info):
        self.close()


def _differs(old, new):
    """Whether `new` is not bit for bit `old` (None: no old value)."""
    # Equal non-zero doubles have equal bits; only zeros (sign) and unequal
    # values (NaN) need the bit comparison.
    return old is None or ((old != new or new == 0.0)
                           and struct.pack("<d", old) != struct.pack("<d", new))


def score_distributed(client, roots, affixes, scores, whitelist, partitions=None):
    """One scoring iteration computed on the workers of `client`.

    Returns a dict with the keys and values that
    ``morvanex.run_scoring_iteration(roots, affixes, scores, whitelist)``
    returns.  For several iterations use a DistributedSession, which keeps the
    candidates and the scores on the workers between them.
    """
    with DistributedSession(client, roots, affixes, scores, whitelist, partitions) as session:
        return session.iterate()


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--workers", type=int, default=os.cpu_count() or 2,
                        help="local worker processes (default: one per core)")
    parser.add_argument("--iterations", type=int, default=1, help="iterations to run (default: 1)")
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
    started = time.perf_counter()
    roots = frozenset(words)
    affixes = frozenset(affix_candidates(words, 20, 5))
    scores = initial_scores(words, 8)
    whitelist = frozenset(char for word in words for char in word)
    print(f"{len(roots)} root candidates, {len(affixes)} affix candidates, {len(scores)} scores, "
          f"prepared in {time.perf_counter() - started:.1f} s", flush=True)

    single_scores = dict(scores)
    single = []
    for number in range(1, args.iterations + 1):
        started = time.perf_counter()
        single.append(morvanex.run_scoring_iteration(roots, affixes, single_scores, whitelist))
        single_scores.update(single[-1])
        print(f"single call {number}: {time.perf_counter() - started:.2f} s", flush=True)

    # No memory limit: a worker must not spill its copy of the scores to disk.
    with LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True, memory_limit=0,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        started = time.perf_counter()
        session = DistributedSession(client, roots, affixes, scores, whitelist)
        print(f"{args.workers} workers: candidates partitioned and sent in {time.perf_counter() - started:.2f} s",
              flush=True)
        same = True
        for number in range(1, args.iterations + 1):
            started = time.perf_counter()
            merged = session.iterate()
            timings = ", ".join(f"{stage} {seconds:.2f} s" for stage, seconds in session.timings.items())
            print(f"distributed {number}: {time.perf_counter() - started:.2f} s ({timings}; "
                  f"{session.shipped_bytes / 1e6:.1f} MB of scores shipped)", flush=True)
            expected = single[number - 1]
            same = same and expected.keys() == merged.keys() and not any(
                _differs(expected[key], merged[key]) for key in expected)
        session.close()
    print("results agree" if same else "results DIFFER")
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())

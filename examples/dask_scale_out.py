#!/usr/bin/env python3
"""Spread scoring iterations over a Dask cluster.

Each candidate is scored independently of the others: its new value depends
only on the candidate, its kind (root or affix), ``scores`` and the whitelist.
So the candidates split into partitions that workers score with
``morvanex.run_scoring_iteration``, each against its own copy of ``scores``.

What moves, and how often (a ``DistributedSession``):

* the candidates, the whitelist and ``scores``, when the session starts:
  every distinct candidate is listed once, in the key order of one call's
  result, and partition k takes every P-th of them from the k-th on, with the
  kinds it has (a string that is both a root and an affix stays in one
  partition, so its call gives it the affix value, as one call does).  The
  list, the whitelist and the scores are pickled once into one ``bytes``
  object and sent to every worker, which keeps a copy of the scores and of the
  list and makes the candidate sets of its partitions from the list;
* after each call, only the new values, 8 bytes a candidate in the order of
  the list, come back to the client; it sends them all to every worker, which
  writes them into its copy of the scores while the client builds the result
  from them.

Everything goes as ``bytes``, which Dask sends as they are (a large ``dict``
costs it far more than its pickled size), and straight from the client to each
worker: a worker never fetches from another, which could answer only after its
current call, since a call holds the interpreter lock.

Workers must be able to import morvanex, and everything needs
``dask[distributed]``.  Each worker converts and indexes all of ``scores`` on
every call, which splitting the candidates does not shrink, so the cluster
pays when scoring the candidates costs more than that (the README has
measurements).  Try it on a local cluster:

    python examples/dask_scale_out.py --workers 2 --iterations 3
"""

import argparse
import os
import pickle
import sys
import time
from array import array
from types import SimpleNamespace


def _candidate_order(roots, affixes, root_strings):
    """Every non-empty candidate once, and how many of them are roots: the roots, then the affixes that are not in
    `root_strings` (the roots), each in its set's order.

    This is the key order of one call's result.
    """
    ordered = [text for text in roots if text]
    root_count = len(ordered)
    ordered += [text for text in affixes if text and text not in root_strings]
    return ordered, root_count


def _partition_candidates(keys, root_count, parts, number, roots_also_affixes):
    """The root and the affix candidates of partition `number`: those at positions number, number + parts, … of
    `keys`, the first `root_count` of which are roots and the others affixes."""
    roots = keys[number:root_count:parts]
    affixes = keys[root_count + (number - root_count) % parts::parts]
    affixes += [text for text in roots if text in roots_also_affixes]
    return frozenset(roots), frozenset(affixes)


def _install(own_partitions, payload):
    """A worker's state: the candidates in order, the candidate sets of the partitions it scores, the whitelist
    and its copy of the scores."""
    keys, root_count, parts, roots_also_affixes, whitelist, scores = pickle.loads(payload)
    return SimpleNamespace(
        keys=keys, parts=parts, whitelist=whitelist, scores=scores,
        candidates={number: _partition_candidates(keys, root_count, parts, number, roots_also_affixes)
                    for number in own_partitions})


def _score_partition(state, number):
    """One call on a worker: the new values of the partition's candidates, in their order, and the call's
    seconds."""
    import morvanex

    roots, affixes = state.candidates[number]
    started = time.perf_counter()
    result = morvanex.run_scoring_iteration(roots, affixes, state.scores, state.whitelist)
    seconds = time.perf_counter() - started
    return array("d", map(result.__getitem__, state.keys[number::state.parts])).tobytes(), seconds


def _merge_into_scores(state, values):
    """Writes the new values of all candidates, in their order, into the worker's copy of the scores."""
    # In place: each result has the same keys, so from the second iteration on
    # the copy keeps its keys and no entry is added.
    state.scores.update(zip(state.keys, memoryview(values).cast("d")))
    return state


class DistributedSession:
    """Scoring iterations on the workers of `client`, candidates partitioned once.

    ``iterate()`` returns what ``morvanex.run_scoring_iteration(roots, affixes,
    scores, whitelist)`` returns for the session's current scores (same keys,
    in the same order, and values bit for bit) and merges that result into
    them, as a session on one machine does with ``scores.update(result)``;
    ``scores`` is that merged dict.  `partitions` is the number of partitions
    (default: one per worker); partition k goes to the k-th worker, round
    robin, and each partition costs its worker one call.

    Creating the session sends the workers everything they need
    (``shipped_bytes`` in ``setup_seconds``).  ``timings`` holds the seconds
    of the last iteration by stage: score (the workers' calls, until every
    new value is on the client), merge (the client building the result while
    every worker writes it into its copy of the scores) and calls (the part of
    score that the busiest worker spent in morvanex).  Use it as a context
    manager, or call ``close()``, to free the workers' memory.
    """

    def __init__(self, client, roots, affixes, scores, whitelist, partitions=None):
        import cloudpickle
        from dask.distributed import wait

        if partitions is not None and partitions < 1:
            raise ValueError(f"partitions must be at least 1, got {partitions}")
        if __name__ in sys.modules and __name__ != "__main__":
            # Workers need not be able to import this file: ship its functions by value.
            cloudpickle.register_pickle_by_value(sys.modules[__name__])
        started = time.perf_counter()
        self.client = client
        self.timings = {}
        self.shipped_bytes = 0
        self.setup_seconds = 0.0
        # A copy, as a plain dict: the module reads a dict's stored entries,
        # whatever a subclass overrides, and a plain dict also unpickles on
        # workers that lack the subclass.  Copying a plain dict is a clone.
        self._initial = scores.copy() if type(scores) is dict else dict(dict.items(scores))
        root_strings = frozenset(roots)
        self._keys, root_count = _candidate_order(roots, affixes, root_strings)
        self._values = None  # the last result's values, in the order of _keys
        self._scores = self._initial
        workers = sorted(client.scheduler_info()["workers"])
        self._parts = min(partitions or len(workers), len(self._keys))
        self._owners = [workers[number % len(workers)] for number in range(self._parts)]
        self._states = {}  # worker: its partitions' numbers, then the future of its state
        if not self._parts:
            return
        for number, worker in enumerate(self._owners):
            self._states.setdefault(worker, []).append(number)
        data = pickle.dumps((self._keys, root_count, self._parts, root_strings & frozenset(affixes),
                             frozenset(whitelist), self._initial), pickle.HIGHEST_PROTOCOL)
        self.shipped_bytes = len(data)
        self._send_to_workers(_install, data)
        del data
        wait(list(self._states.values()))
        self.setup_seconds = time.perf_counter() - started

    def _send_to_workers(self, function, data):
        """Sends `data` to each worker and makes its state function(state, data) there.

        Each worker gets its own copy from the client: a worker that had to
        fetch it from another would wait until that one's current call ends.
        """
        for worker, state in self._states.items():
            [future] = self.client.scatter([data], workers=[worker], hash=False)
            self._states[worker] = self.client.submit(function, state, future, workers=[worker], pure=False)

    @property
    def scores(self):
        """The scores after the last iteration: the initial ones with each result merged in (a dict kept until
        the next iteration)."""
        if self._scores is None:
            self._scores = dict(self._initial)
            self._scores.update(zip(self._keys, self._values))
        return self._scores

    def iterate(self):
        """One scoring iteration on the workers; returns its result and merges it into ``scores``."""
        from dask.distributed import wait

        if not self._parts:
            self.timings = {"score": 0.0, "merge": 0.0, "calls": 0.0}
            return {}
        client = self.client
        started = time.perf_counter()
        futures = [client.submit(_score_partition, self._states[worker], number, workers=[worker], pure=False)
                   for number, worker in enumerate(self._owners)]
        outcomes = client.gather(futures)
        del futures
        scored = time.perf_counter()

        values = array("d", bytes(8 * len(self._keys)))
        for number, (data, _) in enumerate(outcomes):
            values[number::self._parts] = array("d", data)
        # The workers write the new values into their copies of the scores
        # while the client builds the result from them.
        self._send_to_workers(_merge_into_scores, values.tobytes())
        result = dict(zip(self._keys, values))
        self._values, self._scores = values, None
        wait(list(self._states.values()))
        calls = {}
        for worker, (_, seconds) in zip(self._owners, outcomes):
            calls[worker] = calls.get(worker, 0.0) + seconds
        self.timings = {"score": scored - started, "merge": time.perf_counter() - scored,
                        "calls": max(calls.values())}
        return result

    def close(self):
        self._states = {}

    def __enter__(self):
        return self

    def __exit__(self, *exc_info):
        self.close()


def score_distributed(client, roots, affixes, scores, whitelist, partitions=None):
    """One scoring iteration computed on the workers of `client`.

    Returns a dict with the keys (in the same order) and values that
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
    from score_vocabulary import WordListError, affix_candidates, count_changed, initial_scores, read_words

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
    single, single_seconds = [], []
    for number in range(1, args.iterations + 1):
        started = time.perf_counter()
        single.append(morvanex.run_scoring_iteration(roots, affixes, single_scores, whitelist))
        single_seconds.append(time.perf_counter() - started)
        single_scores.update(single[-1])
        print(f"single call {number}: {single_seconds[-1]:.2f} s", flush=True)

    # No memory limit: a worker must not spill its copy of the scores to disk.
    with LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True, memory_limit=0,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        session = DistributedSession(client, roots, affixes, scores, whitelist)
        print(f"{args.workers} workers: candidates and scores ({session.shipped_bytes / 1e6:.0f} MB) partitioned "
              f"and sent in {session.setup_seconds:.2f} s", flush=True)
        same, total = True, session.setup_seconds
        for number in range(1, args.iterations + 1):
            started = time.perf_counter()
            result = session.iterate()
            seconds = time.perf_counter() - started
            total += seconds
            timings = ", ".join(f"{stage} {seconds:.2f} s" for stage, seconds in session.timings.items())
            print(f"distributed {number}: {seconds:.2f} s, {seconds / single_seconds[number - 1]:.2f} times the "
                  f"single call ({timings})", flush=True)
            same = same and list(result) == list(single[number - 1]) and count_changed(single[number - 1], result) == 0
        session.close()
    print(f"in all, sending included: {total:.2f} s, {total / sum(single_seconds):.2f} times the single calls")
    print("results agree" if same else "results DIFFER")
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())

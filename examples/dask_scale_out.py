#!/usr/bin/env python3
"""Spread scoring iterations over a Dask cluster.

Each candidate is scored independently of the others: its new value depends
only on the candidate, its kind (root or affix), ``scores`` and the whitelist.
So the candidates split into partitions that workers score with
``morvanex.run_scoring_iteration``, each against its own copy of ``scores``.

What moves, and how often (a ``DistributedSession``):

* when the session starts: every distinct candidate is listed once, in the
  key order of one call's result, and partition k takes every P-th of them
  from the k-th on, with the kinds it has (a string that is both a root and an
  affix stays in one partition, so its call gives it the affix value, as one
  call does).  A call looks up only pieces of its candidates, so each
  partition gets only the scores of the strings that occur in its candidates
  (a candidate itself included), found once on the client.  Each worker
  receives its partitions' candidates and scores and the whitelist, pickled
  into one ``bytes`` object;
* after each call, only the new values, 8 bytes a candidate in the order of
  the list, come back to the client; it sends each worker those of the other
  partitions' candidates that occur in its partitions' candidates, and the
  worker writes them and its own partitions' values into its copies of the
  scores while the client builds the result.

Everything goes as ``bytes``, which Dask sends as they are (a large ``dict``
costs it far more than its pickled size), and straight from the client to each
worker: a worker never fetches from another, which could answer only after its
current call, since a call holds the interpreter lock.

Workers must be able to import morvanex, and everything needs
``dask[distributed]``.  Each worker converts and indexes the scores its
partitions use on every call, so more workers shrink that too, but the short
pieces that most candidates contain go to every worker (the README has
measurements).  Try it on a local cluster, or compare cluster sizes:

    python examples/dask_scale_out.py --workers 2 --iterations 3
    python examples/dask_scale_out.py --workers 1,2,4 --iterations 3 --words /usr/share/dict/american-english-large
"""

import argparse
import os
import pickle
import sys
import time
from array import array
from bisect import bisect_right
from itertools import chain, compress
from operator import itemgetter
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


# Keys of up to this many characters are found among a partition's distinct
# substrings of each length; longer ones among the substrings that begin with
# the first this many characters of such a key.
_HEAD_LENGTH = 8


def _long_key_heads(key_sets):
    """The first _HEAD_LENGTH characters of every key of `key_sets` that is longer, and the longest key's length."""
    keys = list(chain.from_iterable(key_sets))
    longer = compress(keys, map(_HEAD_LENGTH.__lt__, map(len, keys)))
    return frozenset(map(itemgetter(slice(0, _HEAD_LENGTH)), longer)), max(map(len, keys), default=0)


def _used_keys(candidates, scores, candidate_set, long_heads, longest):
    """The keys of `scores` and the members of `candidate_set` that occur in one of `candidates`, these included:
    all that a call on `candidates` can look up, now or once every candidate has a score.

    `long_heads` and `longest` are what _long_key_heads((scores, candidate_set)) returns.
    """
    # Each step slices many words at one offset with map(), which runs in C:
    # a Python loop over the substrings of millions of words takes minutes.
    head = _HEAD_LENGTH
    words = sorted(candidates, key=len, reverse=True)
    negated_lengths = [-len(word) for word in words]

    def at_least(words, negated_lengths, length):
        """The leading words of `words` (longest first) that have at least `length` characters."""
        return words[: bisect_right(negated_lengths, -length)]

    def keys_among(pieces):
        return (scores.keys() & pieces) | (candidate_set & pieces)

    # Every substring of up to `head` characters lies in a window of `head`
    # characters of its word, or is a shorter word: the distinct substrings
    # of each length come from the distinct ones a character longer.
    longest_word = len(words[0]) if words else 0
    level = set()
    for start in range(longest_word - head + 1):
        level.update(map(itemgetter(slice(start, start + head)), at_least(words, negated_lengths, start + head)))
    used = keys_among(level)
    for length in range(head - 1, 0, -1):
        level = set(map(itemgetter(slice(0, length)), level)) | set(map(itemgetter(slice(1, None)), level))
        level.update(words[bisect_right(negated_lengths, -length - 1) : bisect_right(negated_lengths, -length)])
        used |= keys_among(level)
    for start in range(longest_word - head):
        long_enough = at_least(words, negated_lengths, start + head + 1)
        heads = map(itemgetter(slice(start, start + head)), long_enough)
        starting = list(compress(long_enough, map(long_heads.__contains__, heads)))
        negated = [-len(word) for word in starting]
        for length in range(head + 1, min(longest, longest_word - start) + 1):
            used |= keys_among(set(map(itemgetter(slice(start, start + length)),
                                       at_least(starting, negated, start + length))))
    return used


def _install(payload):
    """A worker's state: the whitelist and, for each partition it scores, the partition's candidates in order,
    its candidate sets, its copy of the scores it uses and the other partitions' candidates among them."""
    whitelist, partitions = pickle.loads(payload)
    return SimpleNamespace(whitelist=whitelist, partitions={
        number: SimpleNamespace(keys=keys, roots=roots, affixes=affixes, scores=scores, foreign_keys=foreign_keys)
        for number, (keys, roots, affixes, scores, foreign_keys) in partitions.items()})


def _score_partition(state, number):
    """One call on a worker: the new values of the partition's candidates, in their order, and the call's
    seconds."""
    import morvanex

    partition = state.partitions[number]
    started = time.perf_counter()
    result = morvanex.run_scoring_iteration(partition.roots, partition.affixes, partition.scores, state.whitelist)
    seconds = time.perf_counter() - started
    return array("d", map(result.__getitem__, partition.keys)).tobytes(), seconds


def _merge_into_scores(state, foreign_values, outcomes):
    """Writes the new values into each partition's copy of the scores: its own, from its call's outcome in
    `outcomes` (by partition), and those of the other partitions' candidates it uses, from `foreign_values`
    (partition after partition, in the order of state.partitions)."""
    # In place: from the second iteration on every key is already there.
    values = memoryview(foreign_values).cast("d")
    offset = 0
    for number, partition in state.partitions.items():
        partition.scores.update(zip(partition.keys, memoryview(outcomes[number][0]).cast("d")))
        end = offset + len(partition.foreign_keys)
        partition.scores.update(zip(partition.foreign_keys, values[offset:end]))
        offset = end
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

    ``sent_bytes`` counts, by worker, the bytes the client has sent it since
    the session started (``setup_seconds``), and ``sent_scores`` the entries
    of ``scores`` it received then.  ``timings`` holds the seconds of
    the last step by stage: after the start, select (choosing each
    partition's scores) and send; after an iteration, score (the workers'
    calls, until every new value is on the client), merge (the client
    building the result while every worker writes the new values it uses
    into its copies of the scores) and calls (the part of score that the
    busiest worker spent in morvanex).  Use it as a context manager, or call
    ``close()``, to free the workers' memory.
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
        self.sent_bytes = {}
        self.sent_scores = {}
        self.setup_seconds = 0.0
        # A copy, as a plain dict: the module reads a dict's stored entries,
        # whatever a subclass overrides.  Copying a plain dict is a clone.
        self._initial = scores.copy() if type(scores) is dict else dict(dict.items(scores))
        root_strings = frozenset(roots)
        self._keys, root_count = _candidate_order(roots, affixes, root_strings)
        self._values = None  # the last result's values, in the order of _keys
        self._scores = self._initial
        workers = sorted(client.scheduler_info()["workers"])
        self._parts = min(partitions or len(workers), len(self._keys))
        self._owners = [workers[number % len(workers)] for number in range(self._parts)]
        self._numbers = {}  # worker: the numbers of its partitions
        # By partition: the positions in _keys of the other partitions' candidates it uses.
        self._foreign = [None] * self._parts
        self._states = {}  # worker: the future of its state
        if not self._parts:
            return
        for number, worker in enumerate(self._owners):
            self._numbers.setdefault(worker, []).append(number)
        roots_also_affixes = root_strings & frozenset(affixes)
        candidate_set = frozenset(self._keys)
        long_heads, longest = _long_key_heads((self._initial, candidate_set))
        whitelist = frozenset(whitelist)
        payloads = {}
        for worker, numbers in self._numbers.items():
            partitions_data = {}
            for number in numbers:
                keys = self._keys[number::self._parts]
                used = _used_keys(keys, self._initial, candidate_set, long_heads, longest)
                foreign = used.difference(keys)
                self._foreign[number] = list(compress(range(len(self._keys)), map(foreign.__contains__, self._keys)))
                scored = self._initial.keys() & used
                self.sent_scores[worker] = self.sent_scores.get(worker, 0) + len(scored)
                partitions_data[number] = (
                    keys, *_partition_candidates(self._keys, root_count, self._parts, number, roots_also_affixes),
                    dict(zip(scored, map(self._initial.__getitem__, scored))),
                    list(map(self._keys.__getitem__, self._foreign[number])))
            payloads[worker] = pickle.dumps((whitelist, partitions_data), pickle.HIGHEST_PROTOCOL)
        selected = time.perf_counter()
        for worker, payload in payloads.items():
            self._states[worker] = self.client.submit(_install, self._scatter(worker, payload), workers=[worker],
                                                      pure=False)
        del payloads
        wait(list(self._states.values()))
        self.setup_seconds = time.perf_counter() - started
        self.timings = {"select": selected - started, "send": self.setup_seconds - (selected - started)}

    def _scatter(self, worker, data):
        """The future of `data` (bytes) sent from the client to `worker`, counted in sent_bytes.

        Each worker gets its own copy from the client: a worker that had to
        fetch it from another would wait until that one's current call ends.
        """
        [future] = self.client.scatter([data], workers=[worker], hash=False)
        self.sent_bytes[worker] = self.sent_bytes.get(worker, 0) + len(data)
        return future

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
        scored = time.perf_counter()

        values = array("d", bytes(8 * len(self._keys)))
        for number, (data, _) in enumerate(outcomes):
            values[number::self._parts] = array("d", data)
        # The workers write the new values they use into their copies of the
        # scores while the client builds the result from them.
        for worker, numbers in self._numbers.items():
            foreign = array("d", chain.from_iterable(map(values.__getitem__, self._foreign[number])
                                                     for number in numbers))
            self._states[worker] = client.submit(
                _merge_into_scores, self._states[worker], self._scatter(worker, foreign.tobytes()),
                {number: futures[number] for number in numbers}, workers=[worker], pure=False)
        del futures
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


def _worker_counts(text):
    """Comma-separated numbers of workers, each at least 1."""
    try:
        counts = [int(part) for part in text.split(",")]
    except ValueError:
        counts = [0]
    if min(counts) < 1:
        raise argparse.ArgumentTypeError(f"expected numbers of workers such as 1,2,4, got {text!r}")
    return counts


def _per_worker(sent_bytes, seconds):
    """Megabytes sent to and CPU seconds spent by each worker, in the order of the workers' addresses."""
    return (f"per worker: sent {', '.join(f'{sent_bytes.get(worker, 0) / 1e6:.1f}' for worker in sorted(seconds))} MB,"
            f" CPU {', '.join(f'{seconds[worker]:.2f}' for worker in sorted(seconds))} s")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--workers", type=_worker_counts, default=[os.cpu_count() or 2],
                        help="local worker processes, or several counts one cluster after another, such as 1,2,4 "
                             "(default: one per core)")
    parser.add_argument("--iterations", type=int, default=1, help="iterations to run (default: 1)")
    parser.add_argument("--words", help="UTF-8 word list, one word per line (default: the bundled list)")
    args = parser.parse_args(argv)

    from dask.distributed import Client, LocalCluster

    import morvanex
    from morvanex_tools.candidates import affix_candidates, initial_scores
    from morvanex_tools.sessions import count_changed
    from morvanex_tools.words import BUNDLED_WORDS, WordListError, read_words

    try:
        words = read_words(args.words or BUNDLED_WORDS)
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
        started, cpu_started = time.perf_counter(), time.process_time()
        single.append(morvanex.run_scoring_iteration(roots, affixes, single_scores, whitelist))
        single_seconds.append(time.perf_counter() - started)
        print(f"single call {number}: {single_seconds[-1]:.2f} s, CPU {time.process_time() - cpu_started:.2f} s",
              flush=True)
        single_scores.update(single[-1])

    same = True
    for worker_count in args.workers:
        # No memory limit: a worker must not spill its copy of the scores to disk.
        with LocalCluster(n_workers=worker_count, threads_per_worker=1, processes=True, memory_limit=0,
                          dashboard_address=None) as cluster, Client(cluster) as client:
            cpu = client.run(time.process_time)
            cpu_started = time.process_time()
            session = DistributedSession(client, roots, affixes, scores, whitelist)
            client_cpu = time.process_time() - cpu_started
            sent, spent, cpu = dict(session.sent_bytes), client.run(time.process_time), cpu
            timings = ", ".join(f"{stage} {seconds:.2f} s" for stage, seconds in session.timings.items())
            print(f"{worker_count} workers: started in {session.setup_seconds:.2f} s ({timings}), client CPU "
                  f"{client_cpu:.2f} s; "
                  + _per_worker(sent, {worker: spent[worker] - cpu[worker] for worker in spent})
                  + f"; scores {', '.join(str(session.sent_scores[worker]) for worker in sorted(spent))}", flush=True)
            total = session.setup_seconds
            for number in range(1, args.iterations + 1):
                cpu, sent_before = spent, dict(session.sent_bytes)
                started, cpu_started = time.perf_counter(), time.process_time()
                result = session.iterate()
                seconds = time.perf_counter() - started
                client_cpu = time.process_time() - cpu_started
                spent = client.run(time.process_time)
                total += seconds
                timings = ", ".join(f"{stage} {seconds:.2f} s" for stage, seconds in session.timings.items())
                print(f"  distributed {number}: {seconds:.2f} s, {seconds / single_seconds[number - 1]:.2f} times "
                      f"the single call ({timings}), client CPU {client_cpu:.2f} s; "
                      + _per_worker({worker: session.sent_bytes[worker] - sent_before[worker] for worker in spent},
                                    {worker: spent[worker] - cpu[worker] for worker in spent}), flush=True)
                same = (same and list(result) == list(single[number - 1])
                        and count_changed(single[number - 1], result) == 0)
            session.close()
        print(f"  in all, start included: {total:.2f} s, {total / sum(single_seconds):.2f} times the single calls",
              flush=True)
    print("results agree" if same else "results DIFFER")
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())

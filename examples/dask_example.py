"""Three scoring iterations of the bundled word list on a local Dask cluster."""

from dask.distributed import Client, LocalCluster

# It lives in examples/, which Python searches first for a script run from there.
from dask_scale_out import DistributedSession
from morvanex_tools.candidates import affix_candidates, initial_scores
from morvanex_tools.words import BUNDLED_WORDS, read_words

# Dask starts its workers by importing this file afresh: they must not run it.
if __name__ == "__main__":
    words = read_words(BUNDLED_WORDS)
    roots, affixes = frozenset(words), frozenset(affix_candidates(words, 20, 5))
    scores, whitelist = initial_scores(words, 8), frozenset(char for word in words for char in word)

    with LocalCluster(n_workers=2, threads_per_worker=1) as cluster, Client(cluster) as client:
        with DistributedSession(client, roots, affixes, scores, whitelist) as session:
            for number in range(1, 4):
                result = session.iterate()  # = run_scoring_iteration(roots, affixes, session.scores, whitelist)
                print(f"iteration {number}: {len(result)} candidates,", session.timings)
            scores = session.scores  # every result merged in, as scores.update(result) does
    for root in sorted(roots, key=lambda root: (-scores[root], root))[:5]:
        print(f"{root}\t{scores[root]!r}")

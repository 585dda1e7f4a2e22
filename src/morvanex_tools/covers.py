"""Best covers under a session's scores, found by morvanex_covers with the search that the module's calls make."""

import collections
import itertools
import operator


def pieces_used(words, table):
    """{piece: how many of `words` have a best cover under `table` (a ScoreTable) that uses it}."""
    # One count over all the covers' distinct pieces, without a Python call per word.
    pieces = map(operator.itemgetter(0), table.best_covers(words))
    return collections.Counter(itertools.chain.from_iterable(map(set, pieces)))



def substrings_if_few(words, most):
    """Every substring of `words`, as a set, when they have `most` substrings at most (counting repeats); else
    None.  A word's best cover uses its own substrings only: a table of their scores covers the words as a table
    of every score does."""
    count = 0
    for word in words:
        count += len(word) * (len(word) + 1) // 2
        if count > most:
            return None
    return {word[start:end] for word in words for start in range(len(word)) for end in range(start + 1, len(word) + 1)}

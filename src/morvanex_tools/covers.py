"""Best covers under a session's scores, found by morvanex_covers with the search that the module's calls make."""

import collections
import itertools
import operator

import morvanex_covers

SHORT_SUBSTRING = 8


def score_table(scores, whitelist, words=None):
    """A morvanex_covers.ScoreTable of `scores` and `whitelist`, taken in once for every search under them.

    Given the only `words` it will cover, it holds the scores of their
    substrings alone when those are far fewer.
    """
    return morvanex_covers.ScoreTable(scores if words is None else scores_of_substrings(words, scores),
                                      frozenset(whitelist))


def pieces_used(words, table):
    """{piece: how many of `words` have a best cover under `table` (a ScoreTable) that uses it}."""
    # One count over all the covers' distinct pieces, without a Python call per word.
    pieces = map(operator.itemgetter(0), table.best_covers(words))
    return collections.Counter(itertools.chain.from_iterable(map(set, pieces)))


def scores_of_substrings(words, scores):
    """`scores`, or only its entries that are substrings of `words` when those are far fewer.

    A word's cover uses only its own substrings.  Taking in a table costs
    about as much per entry as listing a substring does, so a few words, or
    a sample of a long list, are covered far sooner with the scores of their
    substrings alone.
    """
    # A word of n characters holds n substrings at least: a long list needs no exact count.
    if 2 * sum(map(len, words)) >= len(scores):
        return scores
    if 2 * sum(len(word) * (len(word) + 1) // 2 for word in words) >= len(scores):
        return scores
    # The short substrings are counted natively, the few longer ones listed here.
    substrings = morvanex_covers.substring_counts(words, SHORT_SUBSTRING).keys() | {
        word[start:end] for word in words if len(word) > SHORT_SUBSTRING
        for start in range(len(word) - SHORT_SUBSTRING) for end in range(start + SHORT_SUBSTRING + 1, len(word) + 1)}
    return {piece: scores[piece] for piece in substrings if piece in scores}

"""Best covers under a session's scores, found by morvanex_covers with the search that the module's calls make."""

import collections

import morvanex_covers


def own_best_cover(words, affixes, scores, whitelist):
    """The candidates whose score no cover beats under `scores`: those an iteration leaves as they are."""
    return morvanex_covers.own_best_covers(frozenset(words), frozenset(affixes), scores, frozenset(whitelist))


def best_covers(words, scores, whitelist):
    """The best cover of each word as a root, in order: (its pieces, its value N), or ((), -1.0) without one."""
    return morvanex_covers.best_covers(words, scores, frozenset(whitelist))


def pieces_used(words, scores, whitelist):
    """{piece: how many of `words` have a best cover that uses it}."""
    # A word's cover uses only its own substrings: for a sample of a long
    # list, the scores of those are taken in far sooner than all of them.
    substrings = {word[start:end] for word in words for start in range(len(word))
                  for end in range(start + 1, len(word) + 1)}
    usable = {piece: scores[piece] for piece in substrings if piece in scores}
    used = collections.Counter()
    for pieces, _ in best_covers(words, usable, whitelist):
        used.update(set(pieces))
    return used

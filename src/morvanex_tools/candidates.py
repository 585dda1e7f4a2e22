"""Preparing a session: the affix candidates and the initial scores of a word list."""

import collections


def affix_candidates(words, min_shared, max_length, step=None):
    """Prefixes and suffixes of 1..max_length characters shared by min_shared words or more.

    `step`, when given, is called once per affix length done.
    """
    shared = set()
    for length in range(1, max_length + 1):
        longer = [word for word in words if len(word) > length]
        for counts in (collections.Counter(word[:length] for word in longer),
                       collections.Counter(word[-length:] for word in longer)):
            shared.update(affix for affix, count in counts.items() if count >= min_shared)
        if step is not None:
            step()
    return shared


def initial_scores(words, max_length, step=None):
    """Relative frequency of each substring among all substrings of its length.

    `step`, when given, is called once per substring length done.
    """
    counts = collections.Counter()
    totals = {}
    for length in range(1, max_length + 1):
        long_enough = [word for word in words if len(word) >= length]
        # One C-level update per length: a Python-level `counts[piece] += 1`
        # per substring costs twice as much on large lists.
        counts.update(word[start : start + length]
                      for word in long_enough for start in range(len(word) - length + 1))
        totals[length] = sum(len(word) - length + 1 for word in long_enough)
        if step is not None:
            step()
    return {piece: count / totals[len(piece)] for piece, count in counts.items()}

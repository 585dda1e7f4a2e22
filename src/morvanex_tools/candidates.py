"""Preparing a session: the affix candidates and the initial scores of a word list, counted by morvanex_covers."""

import morvanex_covers


def affix_candidates(words, min_shared, max_length):
    """Prefixes and suffixes of 1..max_length characters shared by min_shared words or more.

    A word does not share its own full text: only words longer than an affix count for it.
    """
    prefixes, suffixes = morvanex_covers.affix_counts(words, max_length, min_shared)
    return prefixes.keys() | suffixes.keys()


def initial_scores(words, max_length):
    """Relative frequency of each substring of 1..max_length characters among all substrings of its length."""
    return morvanex_covers.substring_frequencies(words, max_length)


def indexed_initial_scores(words, max_length, whitelist):
    """(initial_scores(words, max_length), a morvanex_covers.ScoreTable of them and `whitelist`).

    The table holds the counted scores unindexed: a session puts its last
    result over it instead of indexing its final scores whole.
    """
    table, scores = morvanex_covers.ScoreTable.from_substring_frequencies(words, max_length, frozenset(whitelist))
    return scores, table

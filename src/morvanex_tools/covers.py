"""Best covers of a few words: the scores they need, their substrings' only."""


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

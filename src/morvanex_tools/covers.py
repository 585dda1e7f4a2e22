"""Best covers under a session's scores: of the words to segment, and of the candidates that are their own."""

import collections

from morvanex_tools.sessions import _same_value


def own_best_cover(scoring_iteration, words, affixes, scores, whitelist):
    """The candidates whose score no cover beats under `scores`: those an iteration leaves as they are.

    One more iteration cannot tell them apart by itself: at a fixed point an
    explained candidate gets back (1/L)/(N+1), which is its score already.  So
    each candidate s is asked as s + MARK (MARK a character no word holds),
    with every piece that may end a cover, s itself included, copied to
    piece + MARK: covers and their values stay exactly those of s, but the
    formula now divides by L + 1, so only a kept score comes back unchanged.
    """
    used = set("".join(words)) | set("".join(affixes)) | set("".join(scores))
    mark = next(chr(code) for code in range(0x110000) if chr(code) not in used)
    marked = {piece + mark: value for piece, value in scores.items()
              if len(piece) > 1 or piece in whitelist}  # a one-character piece must stay whitelisted
    marked.update(scores)
    result = scoring_iteration(frozenset(word + mark for word in words),
                               frozenset(affix + mark for affix in affixes), marked, frozenset(whitelist))
    kept = {text[:-1] for text, value in result.items() if _same_value(value, scores.get(text[:-1], 0.0))}
    # A one-character candidate off the whitelist has no cover at all (its
    # marked form would wrongly have one), so it keeps its score.
    return kept | {text for text in set(words) | set(affixes) if len(text) == 1 and text not in whitelist}


def _best_cover(word, scores, whitelist):
    best = [0.0] + [-1.0] * len(word)
    start_of_last_piece = [0] * (len(word) + 1)
    for end in range(1, len(word) + 1):
        for start in range(end):
            piece = word[start:end]
            if not best[start] > -1.0 or (len(piece) == 1 and piece not in whitelist) or piece not in scores:
                continue
            total = best[start] + scores[piece]
            if total > best[end]:
                best[end] = total
                start_of_last_piece[end] = start
    if not best[-1] > -1.0:
        return (), -1.0
    pieces = []
    end = len(word)
    while end > 0:
        start = start_of_last_piece[end]
        pieces.append(word[start:end])
        end = start
    return tuple(pieces[::-1]), best[-1]


def best_covers(words, scores, whitelist):
    """The best cover of each word as a root, in order: (its pieces, its value N), or ((), -1.0) without one."""
    return [_best_cover(word, scores, whitelist) for word in words]


def pieces_used(words, scores, whitelist):
    """{piece: how many of `words` have a best cover that uses it}."""
    used = collections.Counter()
    for pieces, _ in best_covers(words, scores, whitelist):
        used.update(set(pieces))
    return used

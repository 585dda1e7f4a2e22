"""A plain-Python model of ``morvanex.run_scoring_iteration`` and of the covers
that ``morvanex_covers`` reads back.

It is written to be read, not to be fast: the best-cover search is the
dynamic programming over cut positions exactly as the engine defines it, with
every piece built afresh and looked up, and the update rule is evaluated in the
same order of IEEE double operations.  Python floats are IEEE doubles, so the
model's values are expected to match the module's bit for bit.

The model sees its inputs the way the engine does:

* set elements and ``scores`` keys are plain ``str`` values compared by code
  point; a ``str`` subclass counts by the code points it stores, never by its
  own ``__eq__``, ``__hash__`` or ``__str__``;
* a string that has no UTF-8 form (a lone surrogate) is rejected with the
  ``UnicodeEncodeError`` of the strict UTF-8 codec, at the same point of the
  walk where the module rejects it (root candidates, affix candidates, then
  ``scores`` entry by entry, then the whitelist);
* ``scores`` values become doubles the way ``PyFloat_AsDouble`` makes them;
* set arguments are walked with their own iterator, ``scores`` through its
  stored entries.

It also gives the key order of the returned dict: the module fills its result
table in first-insertion order, so root candidates come in the iteration order
of ``root_candidates`` and affix candidates that are not roots follow in the
iteration order of ``affix_candidates``; a string in both sets keeps its root
position and takes its affix value.

Argument type errors (non-str elements, wrong container types, unusable
values) are the binding's business and are not modelled beyond what Python
itself raises.
"""

import operator
from typing import AbstractSet, Dict, Iterable, List, Mapping, Set, Tuple

UNREACHABLE = -1.0


def _plain_str(value: str) -> str:
    """The code points an engine string receives for ``value``.

    Raises ``UnicodeEncodeError`` for a string holding a lone surrogate, as the
    strict UTF-8 encoding of the module does.
    """
    if not isinstance(value, str):
        raise TypeError(f"{type(value).__qualname__!r} is not a str")
    text = str.__str__(value)  # the stored code points, even for subclasses
    text.encode("utf-8")  # strict: lone surrogates have no UTF-8 form
    return text


def _as_double(value) -> float:
    """The double ``PyFloat_AsDouble`` makes of ``value``."""
    if isinstance(value, float):
        return float.__float__(value)  # a float subclass's stored value
    if hasattr(type(value), "__float__"):
        return float(value)
    return float(operator.index(value))


def string_set(values: AbstractSet[str]) -> List[str]:
    """The members of a set argument, in the order the engine inserts them.

    Duplicate code point sequences (only possible with ``str`` subclasses)
    keep their first position.
    """
    members: Dict[str, None] = {}
    for value in values:
        members.setdefault(_plain_str(value), None)
    return list(members)


def score_table(scores: Mapping[str, object]) -> Dict[str, float]:
    """The entries of ``scores`` as the engine stores them.

    Entries are read from the dict's storage (``dict.items``), key before
    value; a later entry whose key has the same code points replaces the
    earlier value.
    """
    table: Dict[str, float] = {}
    for key, value in dict.items(scores):
        text = _plain_str(key)
        table[text] = _as_double(value)
    return table


def best_cover(
    chars: str, scores: Mapping[str, float], whitelist: AbstractSet[str], is_affix: bool
) -> Tuple[float, Tuple[str, ...]]:
    """Value and pieces of the best admissible cover of ``chars`` by scored pieces.

    Returns (-1.0, ()) when no admissible cover exists.  ``chars`` must not be
    empty.  Each position keeps the cover that first reached its best total, so
    among covers of equal value the one whose last piece starts earliest wins,
    position by position from the end.
    """
    n = len(chars)
    best = [UNREACHABLE] * (n + 1)
    best[0] = 0.0
    cover: List[Tuple[str, ...]] = [()] * (n + 1)
    for i in range(1, n + 1):
        for j in range(0, i):
            # Reachable start: nothing is examined from an unreachable position.
            if not best[j] > UNREACHABLE:
                continue
            piece = chars[j:i]
            # One-character rule.
            if i - j == 1 and piece not in whitelist:
                continue
            # Kind rule: an affix piece starts the candidate or ends it.
            if is_affix and not (j == 0 or i == n):
                continue
            # Score lookup.
            if piece not in scores:
                continue
            total = best[j] + scores[piece]
            # Update: strictly greater, so NaN never gets in.
            if total > best[i]:
                best[i] = total
                cover[i] = cover[j] + (piece,)
    return best[n], cover[n]


def updated_score(previous: float, best_cover: float, length: int) -> float:
    """The new score of a candidate of ``length`` characters."""
    if best_cover < 0.0:
        return previous
    if previous >= best_cover:
        return previous
    q = 1.0 / float(length)
    d = best_cover + 1.0
    return q / d


def _score_pass(
    candidates: Iterable[str],
    is_affix: bool,
    scores: Dict[str, float],
    whitelist: Set[str],
    result: Dict[str, float],
) -> None:
    for candidate in candidates:
        if len(candidate) == 0:
            continue
        value, _ = best_cover(candidate, scores, whitelist, is_affix)
        previous = scores.get(candidate, 0.0)
        # Assigning an existing key keeps its position, as the result table does.
        result[candidate] = updated_score(previous, value, len(candidate))


def run_scoring_iteration(roots, affixes, scores, whitelist) -> Dict[str, float]:
    """One scoring iteration: the root pass, then the affix pass.

    The returned dict has the module's values and the module's key order.
    """
    root_list = string_set(roots)
    affix_list = string_set(affixes)
    table = score_table(scores)
    allowed = set(string_set(whitelist))

    result: Dict[str, float] = {}
    _score_pass(root_list, False, table, allowed, result)
    _score_pass(affix_list, True, table, allowed, result)
    return result


def own_best_covers(roots, affixes, scores, whitelist) -> Set[str]:
    """The non-empty candidates whose score an iteration keeps: no cover, or a
    previous score at least the cover's value; a string in both sets is judged
    as an affix."""
    table = score_table(scores)
    allowed = set(string_set(whitelist))
    kinds = {root: False for root in string_set(roots)}
    kinds.update((affix, True) for affix in string_set(affixes))
    kept = set()
    for candidate, is_affix in kinds.items():
        if not candidate:
            continue
        value, _ = best_cover(candidate, table, allowed, is_affix)
        if value < 0.0 or table.get(candidate, 0.0) >= value:
            kept.add(candidate)
    return kept

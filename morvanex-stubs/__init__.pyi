from typing import Dict, FrozenSet, Set, SupportsFloat, SupportsIndex, TypeVar, Union

__all__ = ["run_scoring_iteration"]

# The installed package's version, equal to importlib.metadata.version("morvanex").
__version__: str

# Each argument gets its own type variable so that a set or dict of a ``str``
# subclass, or a dict of ``int`` or ``float`` values, is accepted although
# ``set`` and ``dict`` are invariant.  Any ``set`` or ``frozenset`` (subclasses
# included) of ``str`` is accepted for the three set arguments; other
# iterables, ``dict`` views and mappings that are not ``dict`` are rejected at
# run time.
_Roots = TypeVar("_Roots", bound=str)
_Affixes = TypeVar("_Affixes", bound=str)
_Whitelisted = TypeVar("_Whitelisted", bound=str)
_Key = TypeVar("_Key", bound=str)
# Values are read as a C double: floats, ints, bools and any object with
# __float__ or __index__.
_Value = TypeVar("_Value", bound=Union[SupportsFloat, SupportsIndex])

def run_scoring_iteration(
    root_candidates: Union[Set[_Roots], FrozenSet[_Roots]],
    affix_candidates: Union[Set[_Affixes], FrozenSet[_Affixes]],
    scores: Dict[_Key, _Value],
    one_char_whitelist: Union[Set[_Whitelisted], FrozenSet[_Whitelisted]],
) -> Dict[str, float]:
    """Score every candidate once more by its best cover; return {candidate: new score}.

    A cover cuts a candidate into consecutive pieces that have an entry in
    ``scores``; its value N is the sum of their scores. A one-character piece
    counts only if it is in ``one_char_whitelist``. A root may be cut into any
    number of pieces, an affix only into itself or into one prefix piece and
    one suffix piece, and a running total must stay above -1.0. With P the
    candidate's score in ``scores`` (0.0 without one) and L its length in
    characters, the new score is P when there is no cover (N < 0) or when
    P >= N, else (1.0 / L) / (N + 1.0). The empty string gets no entry; a
    string in both candidate sets holds its affix value. The arguments are
    not modified.

    Raises TypeError for arguments of the wrong type (naming the argument),
    ValueError for a bad MORVANEX_NUM_THREADS, MemoryError when memory runs
    out.
    """
    ...

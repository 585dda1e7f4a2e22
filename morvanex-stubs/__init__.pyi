from typing import Dict, FrozenSet, Set, SupportsFloat, SupportsIndex, TypeVar, Union

__all__ = ["run_scoring_iteration"]

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
) -> Dict[str, float]: ...

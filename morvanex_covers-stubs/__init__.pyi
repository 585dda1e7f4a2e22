from typing import (
    Callable,
    Dict,
    FrozenSet,
    List,
    Literal,
    Optional,
    Set,
    SupportsFloat,
    SupportsIndex,
    Tuple,
    TypeVar,
    Union,
    final,
)

__all__ = ["best_covers", "own_best_covers", "substring_counts", "substring_frequencies", "affix_counts",
           "distinct_words", "merge_scores", "write_scores_json", "read_scores_json", "ScoreTable"]

# The installed package's version, equal to importlib.metadata.version("morvanex").
__version__: str

# As in morvanex: one type variable per argument, so that containers of ``str``
# subclasses and dicts of ``int`` or ``float`` values are accepted.
_Word = TypeVar("_Word", bound=str)
_Roots = TypeVar("_Roots", bound=str)
_Affixes = TypeVar("_Affixes", bound=str)
_Whitelisted = TypeVar("_Whitelisted", bound=str)
_Key = TypeVar("_Key", bound=str)
_Value = TypeVar("_Value", bound=Union[SupportsFloat, SupportsIndex])
_Float = TypeVar("_Float", bound=float)
# A table's own-best searches take a word list as well as a set.
_Candidates = Union[Set[_Word], FrozenSet[_Word], List[_Word], Tuple[_Word, ...]]

def best_covers(
    words: Union[List[_Word], Tuple[_Word, ...]],
    scores: Dict[_Key, _Value],
    one_char_whitelist: Union[Set[_Whitelisted], FrozenSet[_Whitelisted]],
    kind: Literal["root", "affix"] = "root",
) -> List[Tuple[Tuple[str, ...], float]]:
    """The best cover of each word as a root or an affix: [(pieces, value), ...] in order.

    ``pieces`` concatenates to the word and ``value`` is the cover's value N,
    bit for bit the N that run_scoring_iteration uses; a word without a cover,
    and the empty word, give ((), -1.0). Among covers of equal value the one
    whose last piece starts earliest wins, position by position from the end.

    Raises TypeError for arguments of the wrong type (naming the argument),
    ValueError for another ``kind`` or a bad MORVANEX_NUM_THREADS, MemoryError
    when memory runs out.
    """
    ...

def own_best_covers(
    root_candidates: Union[Set[_Roots], FrozenSet[_Roots]],
    affix_candidates: Union[Set[_Affixes], FrozenSet[_Affixes]],
    scores: Dict[_Key, _Value],
    one_char_whitelist: Union[Set[_Whitelisted], FrozenSet[_Whitelisted]],
) -> Set[str]:
    """The non-empty candidates whose score an iteration keeps (N < 0 or P >= N).

    The arguments are those of run_scoring_iteration; a string in both
    candidate sets is judged as an affix.
    """
    ...

def substring_counts(words: Union[List[_Word], Tuple[_Word, ...]], max_length: SupportsIndex) -> Dict[str, int]:
    """Every substring of 1 to ``max_length`` characters of the words, with its number of occurrences.

    Keys come in code point order.
    """
    ...

def substring_frequencies(
    words: Union[List[_Word], Tuple[_Word, ...]], max_length: SupportsIndex
) -> Dict[str, float]:
    """The keys of substring_counts, in its order, each with its relative frequency among the substrings of its length.

    A count divided by how many substrings of that length the words hold.
    """
    ...

def affix_counts(
    words: Union[List[_Word], Tuple[_Word, ...]], max_length: SupportsIndex, min_count: SupportsIndex = 1
) -> Tuple[Dict[str, int], Dict[str, int]]:
    """(prefixes, suffixes) of 1 to ``max_length`` characters of the words longer than them, with their counts.

    Only those that at least ``min_count`` words have.  Prefixes come in code
    point order, suffixes in the order of their characters read from the end.
    """
    ...

def distinct_words(words: Union[List[_Word], Tuple[_Word, ...]]) -> List[_Word]:
    """The words without repeats, each at its first position, the same objects: list(dict.fromkeys(words))."""
    ...

def merge_scores(
    scores: Dict[str, float], result: Dict[str, float], merged_before: Optional[Dict[str, float]] = None
) -> int:
    """Merge ``result`` into ``scores`` in place, as ``scores.update(result)``; the entries that changed.

    An entry changed when ``scores`` lacked it or held another value, bit for
    bit: -0.0 differs from 0.0, and a NaN equals the same NaN. ``merged_before``,
    the result the previous merge put into ``scores`` (unchanged since), stands
    for what ``scores`` holds wherever it lists the same key at the same position.
    """
    ...

def write_scores_json(scores: Dict[_Key, _Float], write: Callable[[bytes], object]) -> None:
    """Write the JSON text of ``scores`` to ``write`` (a binary file's write) in blocks of about a megabyte.

    The text is byte for byte ``json.dumps(scores, ensure_ascii=False,
    separators=(",", ":"))`` in UTF-8, NaN and the infinities as json writes
    them. Raises TypeError (naming ``scores``) for a key that is not a str or
    a value that is not a float, UnicodeEncodeError for a key without a UTF-8
    form; an exception from ``write`` passes unchanged, the blocks before it
    written.
    """
    ...

def read_scores_json(data: bytes, start: SupportsIndex = 0) -> Tuple[Dict[str, float], int]:
    """(scores, end): the JSON object of numbers that begins at byte ``start`` of ``data``, and the byte past it.

    Read as json.loads reads it (a later repeat of a key replaces its value,
    keeping its place), except that every number is a float, as float()
    reads its text (NaN and the infinities as json writes them); the inverse
    of write_scores_json. Raises ValueError, naming the byte, for text that
    is no such object, for a key that is not UTF-8 and for a lone surrogate
    escape; TypeError for ``data`` that is not bytes.
    """
    ...

@final
class ScoreTable:
    """A score table and one-character whitelist, taken in and indexed once for any number of searches.

    best_covers and own_best_covers do what the module functions of those
    names do with these scores and whitelist; the write_ methods write what
    they find as lines of text (write_scores_json the scores themselves). The
    root covers of the last own-best search (own_best_covers,
    write_candidate_rows) are kept, and later root searches of the same
    strings take them instead of searching again. Later changes to ``scores``
    do not reach the table; updated() makes a new one with other scores put
    over them. Raises as the module functions do for arguments of the wrong
    type.
    """

    def __new__(
        cls,
        scores: Dict[_Key, _Value],
        one_char_whitelist: Union[Set[_Whitelisted], FrozenSet[_Whitelisted]],
    ) -> "ScoreTable": ...
    @classmethod
    def from_json(
        cls,
        data: bytes,
        one_char_whitelist: Union[Set[_Whitelisted], FrozenSet[_Whitelisted]],
        start: SupportsIndex = 0,
        keys: Optional[Union[Set[_Key], FrozenSet[_Key]]] = None,
    ) -> Tuple["ScoreTable", int]:
        """(table, end): a table of the scores whose JSON text read_scores_json(data, start) reads (of ``keys``
        only, when given), and the byte past that text; the scores go from the text to the index without a
        Python object each."""
        ...
    @classmethod
    def from_substring_frequencies(
        cls,
        words: Union[List[_Word], Tuple[_Word, ...]],
        max_length: SupportsIndex,
        one_char_whitelist: Union[Set[_Whitelisted], FrozenSet[_Whitelisted]],
    ) -> Tuple["ScoreTable", Dict[str, float]]:
        """(table, frequencies): substring_frequencies(words, max_length) and a table of those scores, counted once;
        the table indexes the counted scores when first searched, keeping them beside the index, and updated()
        puts other scores over them without that."""
        ...
    def updated(self, scores: Dict[_Key, _Value]) -> "ScoreTable":
        """A new table of this table's scores with those of ``scores`` put over them, as dict.update puts them,
        under this table's whitelist; this table's scores are not taken in again, and it is unchanged. The new
        table holds the merged scores beside its index."""
        ...
    def write_scores_json(self, write: Callable[[bytes], object]) -> None:
        """write_scores_json(scores, write) for this table's scores in code point order: every key of the dict it
        was made from but the empty one, which no search uses, with its last value."""
        ...
    def best_covers(
        self, words: Union[List[_Word], Tuple[_Word, ...]], kind: Literal["root", "affix"] = "root"
    ) -> List[Tuple[Tuple[str, ...], float]]: ...
    def piece_uses(
        self, words: Union[List[_Word], Tuple[_Word, ...]], kind: Literal["root", "affix"] = "root"
    ) -> Dict[str, int]:
        """{piece: how many of ``words`` have a best cover that uses it}, a word counted once per piece, in the
        pieces' code point order."""
        ...
    def own_best_covers(
        self,
        root_candidates: _Candidates[_Roots],
        affix_candidates: _Candidates[_Affixes],
    ) -> Set[str]:
        """The module's own_best_covers under this table; a candidates argument may also be a word list (repeats
        count once), read in its order, where a set of millions is read out of order."""
        ...
    def write_candidate_rows(
        self,
        root_candidates: _Candidates[_Roots],
        affix_candidates: _Candidates[_Affixes],
        write: Callable[[bytes], object],
    ) -> Set[str]:
        """own_best_covers, after handing ``write`` a tab-separated line per non-empty candidate, in code point order.

        Each line, UTF-8: the candidate, 'root', 'affix' or 'both', its length
        in characters, its score as repr() writes it (0.0 without one) and
        'yes' or 'no' for its own best cover; backslash, tab, newline and
        carriage return escaped as \\\\, \\t, \\n and \\r. Blocks of about a megabyte.
        """
        ...
    def write_segment_rows(
        self, words: Union[List[_Word], Tuple[_Word, ...]], write: Callable[[bytes], object], separator: str = "+"
    ) -> None:
        """Hand ``write`` a tab-separated line per word, in order: the word, its best cover's pieces as a root
        joined by ``separator`` (empty without a cover) and the cover's value as repr() writes it (-1.0 without
        one), escaped as write_candidate_rows escapes, in blocks of about a megabyte."""
        ...

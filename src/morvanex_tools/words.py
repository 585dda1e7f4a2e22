"""Reading word lists: one word per line or `count word` lines, UTF-8, maybe compressed, maybe standard input."""

import bz2
import contextlib
import gzip
import lzma
import os
import re
import sys

import morvanex_covers

BUNDLED_WORDS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data", "words.txt")
STDIN = "-"
COMPRESSED = {".gz": gzip.open, ".bz2": bz2.open, ".xz": lzma.open}
COUNT_LINE = re.compile(r"[0-9]+[ \t]+(.*)")


class WordListError(Exception):
    """An input (word list, file to segment, saved session) that cannot be used; its message is shown as is."""


def shown(path):
    """`path` as messages name it."""
    return "standard input" if path == STDIN else path


def open_compressed(path, mode="rb", **options):
    """`path` opened by the opener its suffix names (.gz, .bz2, .xz), else by open()."""
    return COMPRESSED.get(os.path.splitext(path)[1], open)(path, mode, **options)


def _open_for_reading(path):
    if path == STDIN:
        return contextlib.nullcontext(sys.stdin.buffer)  # left open: it is not ours
    return open_compressed(path)


def failure_reason(error):
    """What a failed read says: the system's text for an OSError, else the error's own."""
    return getattr(error, "strerror", None) or str(error) or type(error).__name__


def read_lines(path, what="word list", lowercase=False):
    """The non-empty lines of a UTF-8 file, split on "\\n" only, without surrounding spaces, tabs and "\\r";
    each lowercased as str.lower() does when `lowercase`."""
    try:
        with _open_for_reading(path) as handle:
            data = handle.read()
    except (OSError, EOFError, lzma.LZMAError) as error:
        raise WordListError(f"cannot read {what} '{shown(path)}': {failure_reason(error)}") from None
    try:
        text = data.decode("utf-8-sig")
    except UnicodeDecodeError as error:
        raise WordListError(
            f"{what} '{shown(path)}' is not valid UTF-8 (byte {error.start}: {error.reason})"
        ) from None
    if lowercase:
        # One call over the text: a line's lowercase is the same, since the line ends and the spaces, tabs
        # and "\r" dropped around it are neither cased nor case-ignorable (the final sigma's context stops there).
        text = text.lower()
    if " " in text or "\t" in text or "\r" in text:
        lines = [line for line in (line.strip(" \t\r") for line in text.split("\n")) if line]
    else:
        lines = list(filter(None, text.split("\n")))
    if not lines:
        raise WordListError(f"{what} '{shown(path)}' holds no words")
    return lines


def words_of_lines(lines, word_format="auto"):
    """(the word of each line, whether the lines were read as `count word`).

    "words" takes each line as one word, "counts" requires `count word` lines
    and drops the counts (ValueError if a line is not one), "auto" reads
    `count word` lines when every line is one.
    """
    # "auto" needs every line to be `count word`: the first one tells when it is not.
    if word_format == "words" or (word_format == "auto" and not COUNT_LINE.fullmatch(lines[0])):
        return lines, False
    matches = [COUNT_LINE.fullmatch(line) for line in lines]
    if all(matches):
        return [match.group(1) for match in matches], True
    if word_format == "counts":
        line = next(line for line, match in zip(lines, matches) if not match)
        raise ValueError(f"{line!r} is not a 'count word' line")
    return lines, False


def read_words(path, word_format="auto", lowercase=True):
    """The distinct words of a word list in file order: read_word_list for callers that need only them."""
    return read_word_list(path, word_format, lowercase)[0]


def read_word_list(path, word_format="auto", lowercase=True):
    """(the distinct words of a word list in file order, whether it held `count word` lines, its lines).

    The lines are those read_lines gives, lowercased with the words: a file to
    segment that is the word list itself is these lines, words of the list
    being the same objects.
    """
    lines = read_lines(path, lowercase=lowercase)
    try:
        words, counted = words_of_lines(lines, word_format)
    except ValueError as error:
        raise WordListError(f"word list '{shown(path)}': {error}") from None
    return morvanex_covers.distinct_words(words), counted, lines


def suspicious_words(words):
    """Warnings about words that look like a misread list: with spaces, or of digits only."""
    warnings = []
    # No Python code run per word: on millions of words, that costs seconds. The words joined hold a space
    # only if a word does.
    spaced = [word for word in words if " " in word] if " " in "\n".join(words) else []
    for problem, found in (("with spaces", spaced), ("of digits only", list(filter(str.isdecimal, words)))):
        if found:
            warnings.append(f"words {problem}: {len(found)} (for example {found[0]!r}); each is taken as one "
                            f"word (--format counts reads 'count word' lines)")
    return warnings

"""The results and segments files (tab-separated), written safely: beside the target, renamed onto it when done."""

import collections
import itertools
import operator
import os
import re
import tempfile
import time

from morvanex_tools.words import COMPRESSED, STDIN

TSV_COLUMNS = ("candidate", "kind", "length", "score", "own_best_cover")
SEGMENT_COLUMNS = ("word", "segmentation", "value")
ESCAPES = {"\\": "\\\\", "\t": "\\t", "\n": "\\n", "\r": "\\r"}
UNESCAPES = {escaped[1]: char for char, escaped in ESCAPES.items()}
YES_NO = ("no", "yes")
# The lines are made and written a block at a time: few writes (the text
# layer costs as much per write as per line), and little held at once.
LINES_PER_WRITE = 1 << 16
# The parts of a cover (pieces, value), taken in C.
PIECES, VALUE = operator.itemgetter(0), operator.itemgetter(1)

ResultRow = collections.namedtuple("ResultRow", "kind length score own_best_cover")


class UsageError(Exception):
    """Options that cannot be used together, or an output that would be lost; shown as is."""


def escape_fields(texts):
    """Each of `texts` as one field of a tab-separated line: backslash, tab, newline and carriage return escaped.

    The texts are escaped all together, a few passes of str.replace over one
    string joined by a character none of them holds.
    """
    texts = list(texts)
    together = "".join(texts)
    if not any(char in together for char in ESCAPES):
        return texts
    joiner = next(char for char in map(chr, itertools.count()) if char not in together and char not in "\\\t\n\rtnr")
    joined = joiner.join(texts)
    for char, escaped in ESCAPES.items():  # the backslash first
        joined = joined.replace(char, escaped)
    return joined.split(joiner)


def unescape_field(field):
    """The text that escape_fields made `field` of."""
    return re.sub(r"\\(.)", lambda match: UNESCAPES[match.group(1)], field)


def write_results(handle, words, affixes, scores, kept, step=None):
    """The final score of every candidate as tab-separated lines (TSV_COLUMNS, then one line per candidate).

    `step`, when given, is called with the number of lines of each block written.
    """
    # In the words' order, the affixes that are not words after them: a list
    # that came sorted sorts in one pass, where a set's order takes seconds.
    kinds = dict.fromkeys(words, "root")
    affixes = set(affixes)
    kinds.update(dict.fromkeys(affixes, "affix"))
    kinds.update(dict.fromkeys(affixes.intersection(words), "both"))
    texts = sorted(kinds)
    handle.write("\t".join(TSV_COLUMNS) + "\n")
    for start in range(0, len(texts), LINES_PER_WRITE):
        block = texts[start : start + LINES_PER_WRITE]
        handle.write("".join(map("{}\t{}\t{}\t{!r}\t{}\n".format, escape_fields(block), map(kinds.__getitem__, block),
                                 map(len, block), map(scores.__getitem__, block),
                                 map(YES_NO.__getitem__, map(kept.__contains__, block)))))
        if step is not None:
            step(len(block))


def read_results(path):
    """{candidate: ResultRow(kind, length, score, own_best_cover)} from a results file of `morvanex train`.

    The scores are the exact floats that were written; kind is "root",
    "affix" or "both"; own_best_cover is a bool.
    """
    with open(path, encoding="utf-8", newline="") as handle:
        header, *lines = handle.read().split("\n")[:-1]
    if tuple(header.split("\t")) != TSV_COLUMNS:
        raise ValueError(f"'{path}' is not a results file: its header is {header!r}")
    rows = {}
    for line in lines:
        text, kind, length, score, own = line.split("\t")
        rows[unescape_field(text)] = ResultRow(kind, int(length), float(score), own == "yes")
    return rows


def write_segmentations(handle, words, covers, separator, step=None):
    """Each word with its cover as tab-separated lines (SEGMENT_COLUMNS).

    `covers` holds (pieces, value) for each word, as covers.best_covers gives
    them: the pieces are joined by `separator`, "" and -1.0 without a cover.
    `step`, when given, is called with the number of lines of each block written.
    """
    handle.write("\t".join(SEGMENT_COLUMNS) + "\n")
    for start in range(0, len(words), LINES_PER_WRITE):
        block = covers[start : start + LINES_PER_WRITE]
        handle.write("".join(map("{}\t{}\t{!r}\n".format, escape_fields(words[start : start + LINES_PER_WRITE]),
                                 escape_fields(map(separator.join, map(PIECES, block))), map(VALUE, block))))
        if step is not None:
            step(len(block))


class PendingOutput:
    """An output file written beside its target under a temporary name and renamed onto it when complete.

    The temporary file is created at once, so that an output that cannot be
    written fails before any work; until commit() the target stays as it was.
    """

    def __init__(self, target, what):
        self.target, self.what = target, what
        directory = os.path.dirname(os.path.abspath(target))
        try:
            descriptor, self.temporary = tempfile.mkstemp(
                dir=directory, prefix=f".{os.path.basename(target)}.", suffix=".part")
        except OSError as error:
            raise UsageError(f"cannot write {what} to '{target}': {error.strerror or error}") from None
        os.close(descriptor)
        self.seconds = None

    def write(self, writer, compress=False, binary=False):
        """Fill the temporary file: `writer` gets a handle, binary if `binary`, else text in UTF-8.

        The file is compressed by the target's suffix if `compress`.
        """
        opener = COMPRESSED.get(os.path.splitext(self.target)[1], open) if compress else open
        options = {} if binary else {"encoding": "utf-8", "newline": "\n"}
        started = time.perf_counter()
        with opener(self.temporary, "wb" if binary else "wt", **options) as handle:
            writer(handle)
        self.seconds = time.perf_counter() - started

    def commit(self):
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(self.temporary, 0o666 & ~umask)  # as a newly created file would be, not mkstemp's 0600
        os.replace(self.temporary, self.target)
        self.temporary = None

    def discard(self):
        if self.temporary is not None:
            os.unlink(self.temporary)
            self.temporary = None


def default_output(path, suffix):
    """<name of `path` without directory, compression and extension><suffix>, or stdin<suffix>."""
    if path == STDIN:
        return "stdin" + suffix
    name = os.path.basename(path)
    if os.path.splitext(name)[1] in COMPRESSED:
        name = os.path.splitext(name)[0]
    return os.path.splitext(name)[0] + suffix


def _same_file(first, second):
    if os.path.exists(first) and os.path.exists(second):
        return os.path.samefile(first, second)
    return os.path.realpath(first) == os.path.realpath(second)


def check_outputs(outputs, inputs):
    """UsageError unless the outputs {name: path} are distinct files and none of the input paths."""
    if inputs.count(STDIN) > 1:
        raise UsageError("only one of the inputs can be standard input")
    named = list(outputs.items())
    for index, (what, output) in enumerate(named):
        for path in inputs:
            if path != STDIN and _same_file(output, path):
                raise UsageError(f"the {what} would overwrite the input '{path}'; choose another output")
        for other_what, other in named[:index]:
            if _same_file(output, other):
                raise UsageError(f"the {what} and the {other_what} would both go to '{output}'")

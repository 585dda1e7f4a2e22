"""The results and segments files (tab-separated), written safely: beside the target, renamed onto it when done."""

import collections
import os
import re
import tempfile
import time

from morvanex_tools.words import COMPRESSED, STDIN

TSV_COLUMNS = ("candidate", "kind", "length", "score", "own_best_cover")
SEGMENT_COLUMNS = ("word", "segmentation", "value")
UNESCAPES = {"\\": "\\", "t": "\t", "n": "\n", "r": "\r"}

ResultRow = collections.namedtuple("ResultRow", "kind length score own_best_cover")


class UsageError(Exception):
    """Options that cannot be used together, or an output that would be lost; shown as is."""


def unescape_field(field):
    """The text of a field of the files written here, where \\\\, \\t, \\n and \\r stand for \\, tab, newline and CR."""
    return re.sub(r"\\(.)", lambda match: UNESCAPES[match.group(1)], field)


def write_results(handle, roots, affixes, table):
    """The final score of every candidate as tab-separated lines (TSV_COLUMNS, then one line per candidate).

    `handle` is a binary file, `table` the final scores' ScoreTable; `roots` and `affixes` are sets or word lists
    (a list of millions is read sooner than their set).  The lines come from the search that tells which
    candidates are their own best cover: it returns their set.
    """
    handle.write(("\t".join(TSV_COLUMNS) + "\n").encode())
    return table.write_candidate_rows(roots, affixes, handle.write)


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


def write_segmentations(handle, words, table, separator):
    """Each word with its best cover as a root under `table` (a ScoreTable), as tab-separated lines
    (SEGMENT_COLUMNS), to the binary `handle`.

    The pieces are joined by `separator`: "" and -1.0 without a cover.
    """
    handle.write(("\t".join(SEGMENT_COLUMNS) + "\n").encode())
    table.write_segment_rows(words, handle.write, separator=separator)


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

    def write(self, writer, compress=False):
        """Fill the temporary file: what `writer` returns, given a binary handle (compressed by the target's suffix
        if `compress`)."""
        opener = COMPRESSED.get(os.path.splitext(self.target)[1], open) if compress else open
        started = time.perf_counter()
        with opener(self.temporary, "wb") as handle:
            written = writer(handle)
        self.seconds = time.perf_counter() - started
        return written

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


def same_file(first, second):
    """Whether two paths name the same file, existing or not."""
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
            if path != STDIN and same_file(output, path):
                raise UsageError(f"the {what} would overwrite the input '{path}'; choose another output")
        for other_what, other in named[:index]:
            if same_file(output, other):
                raise UsageError(f"the {what} and the {other_what} would both go to '{output}'")

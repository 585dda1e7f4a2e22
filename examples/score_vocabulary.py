#!/usr/bin/env python3
"""Run a root and affix scoring session over a word list with morvanex.

The session works like this:

* root candidates: the words of the list (one per line, or `count word`
  lines), lowercased unless --no-lowercase;
* affix candidates: the prefixes and suffixes of 1 to --max-affix-length
  characters that at least --min-shared words share (a word does not count
  for its own full text);
* initial scores: the relative frequency of every substring of 1 to
  --max-piece-length characters among the substrings of that length of all
  words;
* one-character whitelist: the characters --whitelist names, none by default;
* then calls of morvanex.run_scoring_iteration, each result merged into the
  scores before the next call, until a call changes no score (or exactly
  --iterations calls).

How to read a score: when some cover of a candidate by scored pieces (value N,
the sum of the pieces' scores) beats the candidate's own score, its new score
is (1/L)/(N+1), L being its length; otherwise it keeps its score.  So a high
score mostly means a short string: compare scores within one length only.  The
candidates that keep their score are those that no cover explains better, the
units of the vocabulary; the others are explained by their best cover.

At the end the session lists, by length, the candidates that are their own
best cover, shows the best cover of a few sample words and writes the final
score of every candidate to a tab-separated file (--output; read it back with
read_results).  --segment-file writes the best cover of every word of a file,
--save keeps the session's final scores and settings so that a later run
segments with --load instead of training again.  Without --words it reads the
small bundled list examples/data/words.txt.

    python examples/score_vocabulary.py
    python examples/score_vocabulary.py --words my-words.txt.gz --whitelist s --save my.session.json
    python examples/score_vocabulary.py --load my.session.json --segment-file new-words.txt
"""

import argparse
import bz2
import collections
import contextlib
import gzip
import itertools
import json
import lzma
import os
import random
import re
import struct
import sys
import tempfile
import time

DEFAULT_WORDS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data", "words.txt")
PROG = os.path.basename(__file__)
STDIN = "-"
# Sessions on real word lists settle within a handful of iterations; this only
# bounds a session that keeps changing.
MAX_ITERATIONS = 100
TSV_COLUMNS = ("candidate", "kind", "length", "score", "own_best_cover")
SEGMENT_COLUMNS = ("word", "segmentation", "value")
SESSION_FORMAT = "score_vocabulary session"
SESSION_VERSION = 1
# What --load uses of a session's settings.
SESSION_SETTINGS = {"lowercase", "whitelist", "words", "word_count", "iterations"}
# Ranking the units by use needs the best cover of every word, in Python: a
# sample of this many words bounds that on lists of millions.
RANK_SAMPLE = 20000
COMPRESSED = {".gz": gzip.open, ".bz2": bz2.open, ".xz": lzma.open}
COUNT_LINE = re.compile(r"[0-9]+[ \t]+(.*)")
ESCAPES = {"\\": "\\\\", "\t": "\\t", "\n": "\\n", "\r": "\\r"}
UNESCAPES = {escaped[1]: char for char, escaped in ESCAPES.items()}


class WordListError(Exception):
    """An input (word list, file to segment, saved session) that cannot be used; its message is shown as is."""


class UsageError(Exception):
    """Options that cannot be used together, or an output that would be lost; shown as is."""


def _open_for_reading(path):
    """The binary stream of `path`: standard input for "-", decompressed by its suffix."""
    if path == STDIN:
        return contextlib.nullcontext(sys.stdin.buffer)  # left open: it is not ours
    return COMPRESSED.get(os.path.splitext(path)[1], open)(path, "rb")


def read_lines(path, what="word list"):
    """The non-empty lines of a UTF-8 file, split on "\\n" only, without surrounding spaces, tabs and "\\r"."""
    shown = _shown(path)
    try:
        with _open_for_reading(path) as handle:
            data = handle.read()
    except (OSError, EOFError, lzma.LZMAError) as error:
        reason = getattr(error, "strerror", None) or str(error) or type(error).__name__
        raise WordListError(f"cannot read {what} '{shown}': {reason}") from None
    try:
        text = data.decode("utf-8-sig")
    except UnicodeDecodeError as error:
        raise WordListError(
            f"{what} '{shown}' is not valid UTF-8 (byte {error.start}: {error.reason})"
        ) from None
    lines = [line for line in (line.strip(" \t\r") for line in text.split("\n")) if line]
    if not lines:
        raise WordListError(f"{what} '{shown}' holds no words")
    return lines


def words_of_lines(lines, word_format="auto"):
    """(the word of each line, whether the lines were read as `count word`).

    "words" takes each line as one word, "counts" requires `count word` lines
    and drops the counts (ValueError if a line is not one), "auto" reads
    `count word` lines when every line is one.
    """
    if word_format == "words":
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
    """(the distinct words of a word list in file order, whether it held `count word` lines)."""
    lines = read_lines(path)
    try:
        words, counted = words_of_lines(lines, word_format)
    except ValueError as error:
        raise WordListError(f"word list '{_shown(path)}': {error}") from None
    if lowercase:
        words = [word.lower() for word in words]
    return list(dict.fromkeys(words)), counted


def suspicious_words(words):
    """Warnings about words that look like a misread list: with spaces, or of digits only."""
    warnings = []
    for problem, test in (("with spaces", lambda word: " " in word),
                          ("of digits only", lambda word: word.isdecimal())):
        found = [word for word in words if test(word)]
        if found:
            warnings.append(f"words {problem}: {len(found)} (for example {found[0]!r}); each is taken as one "
                            f"word (--format counts reads 'count word' lines)")
    return warnings


def affix_candidates(words, min_shared, max_length, step=None):
    """Prefixes and suffixes of 1..max_length characters shared by min_shared words or more.

    `step`, when given, is called once per affix length done.
    """
    shared = set()
    for length in range(1, max_length + 1):
        longer = [word for word in words if len(word) > length]
        for counts in (collections.Counter(word[:length] for word in longer),
                       collections.Counter(word[-length:] for word in longer)):
            shared.update(affix for affix, count in counts.items() if count >= min_shared)
        if step is not None:
            step()
    return shared


def initial_scores(words, max_length, step=None):
    """Relative frequency of each substring among all substrings of its length.

    `step`, when given, is called once per substring length done.
    """
    counts = collections.Counter()
    totals = {}
    for length in range(1, max_length + 1):
        long_enough = [word for word in words if len(word) >= length]
        # One C-level update per length: a Python-level `counts[piece] += 1`
        # per substring costs twice as much on large lists.
        counts.update(word[start : start + length]
                      for word in long_enough for start in range(len(word) - length + 1))
        totals[length] = sum(len(word) - length + 1 for word in long_enough)
        if step is not None:
            step()
    return {piece: count / totals[len(piece)] for piece, count in counts.items()}


def _same_value(a, b):
    """Whether two doubles are bit for bit the same."""
    # Equal non-zero doubles have equal bits; only zeros (sign) and unequal
    # values (NaN) need the bit comparison.
    return (a == b and a != 0.0) or struct.pack("<d", a) == struct.pack("<d", b)


def count_changed(previous, result):
    """Entries of `result` whose value is not bit for bit the one in `previous` (or that it lacks)."""
    return sum(1 for text, value in result.items()
               if text not in previous or not _same_value(previous[text], value))


Session = collections.namedtuple("Session", "scores iterations converged")


def run_session(scoring_iteration, words, affixes, scores, whitelist, iterations=None, report=None):
    """Scoring iterations, each result merged into a copy of `scores`.

    `scoring_iteration` is morvanex.run_scoring_iteration (or anything with its
    signature).  Runs exactly `iterations` iterations when given, otherwise
    until an iteration changes no score (at most MAX_ITERATIONS).  `report`,
    when given, is called after each iteration with (number, result, changed
    count, seconds).  Returns a Session: the merged scores, the number of
    iterations run and whether the last one changed nothing.
    """
    roots = frozenset(words)
    affixes = frozenset(affixes)
    whitelist = frozenset(whitelist)
    scores = dict(scores)
    changed = None
    number = 0
    while number < (MAX_ITERATIONS if iterations is None else iterations):
        number += 1
        started = time.perf_counter()
        result = scoring_iteration(roots, affixes, scores, whitelist)
        seconds = time.perf_counter() - started
        changed = count_changed(scores, result)
        scores.update(result)
        if report is not None:
            report(number, result, changed, seconds)
        if changed == 0 and iterations is None:
            break
    return Session(scores, number, changed == 0)


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


def best_cover(word, scores, whitelist):
    """The best cover of `word` as a root: (its value N, its pieces), or (-1.0, []) without one.

    A display helper, written to be read rather than fast: the same search
    over cut positions that the module makes for a root (a one-character
    piece counts only when whitelisted, a running total must stay above -1.0,
    the first best total found for a position stands), also recording where
    the best cover of each position starts so that its pieces can be shown.
    """
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
        return -1.0, []
    pieces = []
    end = len(word)
    while end > 0:
        start = start_of_last_piece[end]
        pieces.append(word[start:end])
        end = start
    return best[-1], pieces[::-1]


def pieces_used(words, scores, whitelist, step=None):
    """{piece: how many of `words` have a best cover that uses it}.  `step` is called once per word."""
    used = collections.Counter()
    for word in words:
        used.update(set(best_cover(word, scores, whitelist)[1]))
        if step is not None:
            step()
    return used


def by_length(candidates, rank):
    """{length: candidates of that length sorted by `rank` (a key function)}, lengths ascending."""
    groups = collections.defaultdict(list)
    for text in candidates:
        groups[len(text)].append(text)
    return {length: sorted(groups[length], key=rank) for length in sorted(groups)}


def escape_field(text):
    """`text` as one field of a tab-separated line: backslash, tab, newline and carriage return escaped."""
    return "".join(ESCAPES.get(char, char) for char in text)


def unescape_field(field):
    """The text that escape_field made `field` of."""
    return re.sub(r"\\(.)", lambda match: UNESCAPES[match.group(1)], field)


def write_results(handle, words, affixes, scores, kept, step=None):
    """The final score of every candidate as tab-separated lines (TSV_COLUMNS, then one line per candidate).

    `step`, when given, is called once per candidate written.
    """
    roots = set(words)
    handle.write("\t".join(TSV_COLUMNS) + "\n")
    for text in sorted(roots | set(affixes)):
        kind = "root" if text not in affixes else "affix" if text not in roots else "both"
        handle.write(f"{escape_field(text)}\t{kind}\t{len(text)}\t{scores[text]!r}\t"
                     f"{'yes' if text in kept else 'no'}\n")
        if step is not None:
            step()


ResultRow = collections.namedtuple("ResultRow", "kind length score own_best_cover")


def read_results(path):
    """{candidate: ResultRow(kind, length, score, own_best_cover)} from a results file of this example.

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


def write_segmentations(handle, words, scores, whitelist, separator, step=None):
    """The best cover of each word as tab-separated lines (SEGMENT_COLUMNS): no cover is "" and -1.0."""
    handle.write("\t".join(SEGMENT_COLUMNS) + "\n")
    for word in words:
        value, pieces = best_cover(word, scores, whitelist)
        handle.write(f"{escape_field(word)}\t{escape_field(separator.join(pieces))}\t{value!r}\n")
        if step is not None:
            step()


def write_session(handle, scores, settings):
    """A session as one JSON object: format, version, settings and every final score."""
    json.dump({"format": SESSION_FORMAT, "version": SESSION_VERSION, "settings": settings, "scores": scores},
              handle, ensure_ascii=False, separators=(",", ":"))


def read_session(path):
    """(scores, settings) of a session that --save wrote."""
    try:
        with COMPRESSED.get(os.path.splitext(path)[1], open)(path, "rt", encoding="utf-8") as handle:
            session = json.load(handle)
    except (OSError, EOFError, lzma.LZMAError, ValueError) as error:
        reason = getattr(error, "strerror", None) or str(error) or type(error).__name__
        raise WordListError(f"cannot read session '{path}': {reason}") from None
    if not isinstance(session, dict) or session.get("format") != SESSION_FORMAT:
        raise WordListError(f"'{path}' is not a session saved by {PROG} --save")
    if session.get("version") != SESSION_VERSION:
        raise WordListError(f"session '{path}' has version {session.get('version')!r}; "
                            f"this {PROG} reads version {SESSION_VERSION}")
    settings = session.get("settings")
    if not isinstance(session.get("scores"), dict) or not isinstance(settings, dict) or \
            not SESSION_SETTINGS <= settings.keys():
        raise WordListError(f"session '{path}' lacks its scores or settings")
    return session["scores"], settings


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
        """Fill the temporary file: `writer` gets a text handle (compressed by the target's suffix if `compress`)."""
        opener = COMPRESSED.get(os.path.splitext(self.target)[1], open) if compress else open
        started = time.perf_counter()
        with opener(self.temporary, "wt", encoding="utf-8", newline="\n") as handle:
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


class Progress:
    """Progress of a long step on standard error, drawn only when it is a terminal and not --quiet.

    Used as a context manager around the step.  With a total it is a bar
    moved by step(); without one, a line naming the step while it runs.  The
    bar is redrawn at most every 1/10 s.
    """

    WIDTH = 30
    shown = False  # set by main

    def __init__(self, title, total=None):
        self.title, self.total, self.done, self.drawn_at = title, total, 0, 0.0

    def __enter__(self):
        self._draw()
        return self

    def __exit__(self, *exception):
        if self.shown:
            clear_progress()

    def step(self):
        self.done += 1
        if self.done == self.total or time.perf_counter() - self.drawn_at >= 0.1:
            self._draw()

    def _draw(self):
        if not self.shown:
            return
        self.drawn_at = time.perf_counter()
        if self.total is None:
            sys.stderr.write(f"\r{self.title} ...")
        else:
            filled = self.WIDTH * self.done // max(self.total, 1)
            sys.stderr.write(f"\r{self.title} [{'#' * filled}{'.' * (self.WIDTH - filled)}] "
                             f"{self.done}/{self.total}")
        sys.stderr.flush()


def clear_progress():
    sys.stderr.write("\r\033[K")
    sys.stderr.flush()


def _number_at_least(minimum):
    def parse(text):
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"expected a whole number, got {text!r}") from None
        if value < minimum:
            raise argparse.ArgumentTypeError(f"expected a number of at least {minimum}, got {value}")
        return value
    return parse


_positive_int = _number_at_least(1)


class _ShowVersion(argparse.Action):
    """--version: imports morvanex only when asked, so that --help needs no build."""

    def __init__(self, option_strings, dest, **kwargs):
        super().__init__(option_strings, dest, nargs=0, default=argparse.SUPPRESS, **kwargs)

    def __call__(self, parser, namespace, values, option_string=None):
        try:
            import morvanex
        except ImportError as error:
            found = f"morvanex cannot be imported ({type(error).__name__}: {error})"
        else:
            found = f"morvanex {morvanex.__version__} ({morvanex.__file__})"
        print(f"{PROG} (session format {SESSION_VERSION}) with {found}")
        parser.exit()


# The options that shape a session; a loaded session has its own.
TRAINING_OPTIONS = ("words", "word_format", "no_lowercase", "iterations", "min_shared", "max_affix_length",
                    "max_piece_length", "whitelist", "top", "samples", "seed", "output", "save")


def build_parser():
    parser = argparse.ArgumentParser(
        prog=PROG,
        description="Score the roots and affixes of a word list with morvanex.run_scoring_iteration, "
                    "and segment words with the final scores.",
        epilog="A new score is (1/L)/(N+1) when a cover of value N beats the candidate's own score, "
               "else the old score: compare scores within one length.  Word lists and files to segment "
               "are UTF-8, one word per line (split on \\n only), lowercased unless --no-lowercase; "
               "names ending in .gz, .bz2 or .xz are decompressed, - is standard input.",
    )
    parser.add_argument("--version", action=_ShowVersion, help="show the versions of this example and of morvanex")
    session = parser.add_argument_group("the session")
    session.add_argument(
        "--words", metavar="PATH", default=DEFAULT_WORDS,
        help="the word list: one word per line, or 'count word' lines (see --format); "
             "lowercased (default: the bundled examples/data/words.txt)",
    )
    session.add_argument("--format", dest="word_format", choices=("auto", "words", "counts"), default="auto",
                         help="words: every line is a word; counts: every line is 'count word' (the counts are "
                              "not used, each word counts once); auto (default): counts when every line is "
                              "'count word', which the run then says")
    session.add_argument("--no-lowercase", action="store_true",
                         help="keep the words (and the whitelist) as they are instead of lowercasing them")
    session.add_argument("--iterations", type=_positive_int, metavar="N",
                         help=f"run exactly N iterations (default: until an iteration changes nothing, "
                              f"at most {MAX_ITERATIONS})")
    session.add_argument("--min-shared", type=_positive_int, default=20, metavar="K",
                         help="words that must share a prefix or suffix to make it an affix candidate "
                              "(default: 20)")
    session.add_argument("--max-affix-length", type=_positive_int, default=5, metavar="N",
                         help="longest affix candidate, in characters (default: 5)")
    session.add_argument("--max-piece-length", type=_positive_int, default=8, metavar="N",
                         help="longest substring given an initial score, in characters (default: 8)")
    session.add_argument("--whitelist", metavar="CHARS", default="",
                         help="the characters that may stand as one-character pieces, for instance the "
                              "one-letter morphemes of the language (default: none; with every letter, "
                              "covers by single letters explain most words)")
    report = parser.add_argument_group("the report")
    report.add_argument("--top", type=_positive_int, default=8, metavar="N",
                        help="candidates listed per length and kind (default: 8)")
    report.add_argument("--samples", type=_number_at_least(0), default=6, metavar="N",
                        help="random words whose best cover is shown (default: 6)")
    report.add_argument("--seed", type=int, default=0, metavar="N",
                        help=f"seed of the random choices: the sample words, and on lists of more than {RANK_SAMPLE} "
                             f"words those whose best covers rank the units (default: 0)")
    report.add_argument("--segment", action="append", default=[], metavar="WORD",
                        help="also show the best cover of WORD (repeatable)")
    report.add_argument("--quiet", action="store_true",
                        help="no progress: neither bars on standard error nor a line per step")
    files = parser.add_argument_group("files")
    files.add_argument("--output", metavar="PATH",
                       help="where to write the final scores, tab-separated "
                            "(default: <word list name>-scores.tsv in the current directory, stdin-scores.tsv "
                            "for standard input)")
    files.add_argument("--segment-file", metavar="PATH",
                       help="segment every word of PATH (one per line, - for standard input) with the final "
                            "scores, into --segments-output")
    files.add_argument("--segments-output", metavar="PATH",
                       help="where to write the segmentations, tab-separated: word, its best cover's pieces "
                            "joined by --separator (empty without a cover), the cover's value (-1.0 without "
                            "one) (default: <segment file name>-segments.tsv in the current directory)")
    files.add_argument("--separator", default="+", metavar="TEXT",
                       help="what joins the pieces of a segmentation (default: +)")
    files.add_argument("--save", metavar="PATH",
                       help="save the session (final scores and settings, JSON; compressed by a .gz, .bz2 or "
                            ".xz suffix) for --load")
    files.add_argument("--load", metavar="PATH",
                       help="segment with a saved session instead of running one (no word list, no results "
                            "file)")
    return parser


def _default_output(path, suffix):
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


def check_files(args, parser):
    """The outputs {name: path} of this run, after checking the options that name files."""
    if args.load is not None:
        given = [name for name in TRAINING_OPTIONS if getattr(args, name) != parser.get_default(name)]
        if given:
            options = ", ".join("--" + name.replace("_", "-") for name in given)
            raise UsageError(f"--load segments with a saved session; it cannot be used with {options}")
        if args.segment_file is None and not args.segment:
            raise UsageError("--load needs --segment-file or --segment: words to segment")
    if args.segments_output is not None and args.segment_file is None:
        raise UsageError("--segments-output needs --segment-file")
    inputs = [path for path in (args.load if args.load else args.words, args.segment_file) if path is not None]
    if inputs.count(STDIN) > 1:
        raise UsageError("only one of the inputs can be standard input")

    outputs = {}
    if args.load is None:
        outputs["results"] = args.output or _default_output(args.words, "-scores.tsv")
    if args.segment_file is not None:
        outputs["segmentations"] = args.segments_output or _default_output(args.segment_file, "-segments.tsv")
    if args.save is not None:
        outputs["session"] = args.save
    named = list(outputs.items())
    for index, (what, output) in enumerate(named):
        for path in inputs:
            if path != STDIN and _same_file(output, path):
                raise UsageError(f"the {what} would overwrite the input '{path}'; choose another output")
        for other_what, other in named[:index]:
            if _same_file(output, other):
                raise UsageError(f"the {what} and the {other_what} would both go to '{output}'")
    return outputs


def _fail(message, code=2):
    print(f"{PROG}: error: {message}", file=sys.stderr)
    return code


def main(argv=None):
    started = time.perf_counter()
    parser = build_parser()
    args = parser.parse_args(argv)
    Progress.shown = sys.stderr.isatty() and not args.quiet
    pending = []
    try:
        return run(args, parser, started, pending)
    except (KeyboardInterrupt, BrokenPipeError) as stop:
        unchanged = [output.target for output in pending]
        if Progress.shown:
            clear_progress()
        if isinstance(stop, BrokenPipeError):
            # Standard output is gone: send what the interpreter still flushes at exit nowhere.
            os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
            message, code = f"{PROG}: error: standard output was closed", 1
        else:
            message, code = "interrupted", 130
        left = f"; {' and '.join(unchanged)} left unchanged" if unchanged else ""
        print(message + left, file=sys.stderr)
        return code
    finally:
        for output in pending:
            output.discard()



Trained = collections.namedtuple("Trained", "affixes scores kept used settings")


def train(scoring_iteration, args, words, whitelist, say):
    """The session over `words`, saying what each step took: a Trained tuple.

    `used` counts, for each piece, the words (of a sample of RANK_SAMPLE at
    most) whose best cover under the final scores uses it.
    """
    started = time.perf_counter()
    with Progress("preparing candidates and initial scores", args.max_affix_length + args.max_piece_length) as bar:
        affixes = affix_candidates(words, args.min_shared, args.max_affix_length, bar.step)
        scores = initial_scores(words, args.max_piece_length, bar.step)
    whitelisted = f"{len(whitelist)} whitelisted characters" if whitelist else "no whitelisted characters"
    say(f"prepared in {time.perf_counter() - started:.2f} s: {len(words)} root candidates, "
        f"{len(affixes)} affix candidates, {len(scores)} scored substrings, {whitelisted}")
    candidates = len(set(words) | affixes)
    of = f"/{args.iterations}" if args.iterations else ""
    numbers = itertools.count(1)

    def shown_iteration(*arguments):
        with Progress(f"iteration {next(numbers)}{of}: scoring {candidates} candidates"):
            return scoring_iteration(*arguments)

    def report(number, result, changed, seconds):
        say(f"iteration {number}{of}: {len(result)} candidates scored in {seconds * 1000.0:.1f} ms, "
            f"{changed} changed")

    session = run_session(shown_iteration, words, affixes, scores, whitelist, args.iterations, report)
    if session.converged:
        print(f"converged: iteration {session.iterations} changed no score")
    elif args.iterations is None:
        print(f"stopped after {session.iterations} iterations without converging")
    scores = session.scores

    started = time.perf_counter()
    with Progress(f"finding which of {candidates} candidates are their own best cover"):
        kept = own_best_cover(scoring_iteration, words, affixes, scores, whitelist)
    say(f"own best cover: {len(kept)} of {candidates} candidates, found in {time.perf_counter() - started:.2f} s")

    started = time.perf_counter()
    sample = random.Random(args.seed).sample(words, RANK_SAMPLE) if len(words) > RANK_SAMPLE else words
    with Progress("best covers of the words, to rank the units by use", len(sample)) as bar:
        used = pieces_used(sample, scores, whitelist, bar.step)
    say(f"best covers of {len(sample)} words, to rank the units by use, in {time.perf_counter() - started:.2f} s")

    settings = {"words": args.words, "word_count": len(words), "lowercase": not args.no_lowercase,
                "whitelist": sorted(whitelist), "min_shared": args.min_shared,
                "max_affix_length": args.max_affix_length, "max_piece_length": args.max_piece_length,
                "iterations": session.iterations, "converged": session.converged}
    return Trained(affixes, scores, kept, used, settings)


def run(args, parser, started, pending):
    """The run that main() guards; every output it creates stays in `pending` until it is renamed."""
    try:
        import morvanex
    except ImportError as error:
        missing = isinstance(error, ModuleNotFoundError) and error.name == "morvanex"
        hint = " (install it: python -m pip install <path to morvanex>)" if missing else ""
        return _fail(f"cannot import morvanex: {type(error).__name__}: {error}{hint}", 1)
    try:
        # The module reads MORVANEX_NUM_THREADS on every call: an empty call
        # checks it before any work.
        morvanex.run_scoring_iteration(set(), set(), {}, set())
    except ValueError as error:
        return _fail(str(error))
    try:
        for what, path in check_files(args, parser).items():
            pending.append(PendingOutput(path, what))
    except UsageError as error:
        return _fail(str(error))
    files = {output.what: output for output in pending}
    say = (lambda text: None) if args.quiet else (lambda text: print(text, flush=True))

    try:
        if args.load is not None:
            scores, settings = read_session(args.load)
            lowercase, whitelist = settings["lowercase"], set(settings["whitelist"])
            print(f"loaded the session {args.load}: {len(scores)} scores after {settings['iterations']} "
                  f"iterations over {settings['word_count']} words of {settings['words']}", flush=True)
        else:
            lowercase = not args.no_lowercase
            words, counted = read_word_list(args.words, args.word_format, lowercase)
            how = " ('count word' lines; the counts are not used)" if counted else ""
            print(f"read {len(words)} words from {_shown(args.words)}{how}", flush=True)
            for warning in suspicious_words(words):
                print(f"{PROG}: warning: {warning}", file=sys.stderr)
        to_segment = []
        if args.segment_file is not None:
            to_segment = read_lines(args.segment_file, "file to segment")
            to_segment = [word.lower() for word in to_segment] if lowercase else to_segment
    except WordListError as error:
        return _fail(str(error))

    if args.load is None:
        whitelist = set(args.whitelist.lower() if lowercase else args.whitelist)
        trained = train(morvanex.run_scoring_iteration, args, words, whitelist, say)
        scores, settings = trained.scores, trained.settings
        candidates = len(set(words) | trained.affixes)
        with Progress("writing the results", candidates) as bar:
            files["results"].write(lambda handle: write_results(
                handle, words, trained.affixes, scores, trained.kept, bar.step))
    if "segmentations" in files:
        with Progress("segmenting", len(to_segment)) as bar:
            files["segmentations"].write(lambda handle: write_segmentations(
                handle, to_segment, scores, whitelist, args.separator, bar.step))
    if "session" in files:
        with Progress(f"saving the session ({len(scores)} scores)"):
            files["session"].write(lambda handle: write_session(handle, scores, settings), compress=True)
    while pending:
        pending[0].commit()
        pending.pop(0)

    if "results" in files:
        print(f"final scores of {candidates} candidates written to {files['results'].target} in "
              f"{files['results'].seconds:.2f} s (tab-separated: {', '.join(TSV_COLUMNS)})")
    if "segmentations" in files:
        print(f"segmentations of {len(to_segment)} words written to {files['segmentations'].target} in "
              f"{files['segmentations'].seconds:.2f} s (tab-separated: {', '.join(SEGMENT_COLUMNS)})")
    if "session" in files:
        print(f"session saved to {files['session'].target} in {files['session'].seconds:.2f} s "
              f"(segment with it: --load {files['session'].target} --segment-file PATH)")
    extra = [word.lower() if lowercase else word for word in args.segment]
    if args.load is None:
        print_findings(args, words, trained, whitelist, extra)
    else:
        print_covers("\nBest covers as a root under the loaded scores (N: the cover's value):",
                     extra, scores, whitelist)
    print(f"\ntotal: {time.perf_counter() - started:.2f} s")
    return 0


def _shown(path):
    return "standard input" if path == STDIN else path


def print_findings(args, words, trained, whitelist, extra):
    """How to read the scores, the candidates that are their own best cover, sample covers."""
    print("\nHow to read a score: when a cover of a candidate by other pieces (value N, the sum of\n"
          "their scores) beats its own score, its new score is (1/L)/(N+1) with L its length;\n"
          "otherwise it keeps its score.  A high score mostly means a short string, so compare\n"
          "scores within one length.  Candidates that kept their score are their own best cover:\n"
          "no combination of other pieces explains them better.  One-character pieces count only\n"
          "when whitelisted (--whitelist; none by default): name the one-letter morphemes of your\n"
          "language.")
    scores, kept, used = trained.scores, trained.kept, trained.used
    sampled = min(len(words), RANK_SAMPLE)
    print(f"\nOwn best cover, by length (kept of all; the {args.top} used by most of {sampled} words' best "
          f"covers first,\nwith that number; ties by score):")
    groups = {"roots": by_length(set(words), lambda text: (-used[text], -scores[text], text)),
              "affixes": by_length(trained.affixes, lambda text: (-used[text], -scores[text], text))}
    none_kept = collections.Counter()
    all_kept = collections.defaultdict(list)
    for length in sorted(set(groups["roots"]) | set(groups["affixes"])):
        for kind, group in groups.items():
            own = [text for text in group.get(length, ()) if text in kept]
            if length not in group:
                continue
            if not own:
                none_kept[kind] += len(group[length])
            elif len(own) == len(group[length]):
                all_kept[kind].append(str(length))
            else:
                listed = " ".join(f"{text}({used[text]})" for text in own[: args.top])
                print(f"{length:4d} {kind:<8} {len(own):6d} of {len(group[length]):<6d} {listed}")
    if all_kept:
        print("   all their own best cover, not listed: " +
              "; ".join(f"{kind} of length {', '.join(lengths)}" for kind, lengths in all_kept.items()))
    if none_kept:
        print("   no other candidate is: " + ", ".join(f"{count} {kind}" for kind, count in none_kept.items()))

    samples = random.Random(args.seed).sample(sorted(words), min(args.samples, len(words)))
    print_covers("\nBest covers as a root under the final scores (N: the cover's value):",
                 samples + extra, scores, whitelist)


def print_covers(title, shown, scores, whitelist):
    """The best cover of each word of `shown`, and how it compares with the word's own score."""
    if not shown:
        return
    print(title)
    covers = [best_cover(word, scores, whitelist) for word in shown]
    word_width = max(map(len, shown))
    cover_width = max(len(" + ".join(pieces)) for _, pieces in covers)
    for word, (value, pieces) in zip(shown, covers):
        own = scores.get(word, 0.0)
        if not pieces:
            how = "no cover"
        elif word not in scores:
            how = f"not scored: N = {value:.4g}"
        elif value > own:
            how = f"explained: N = {value:.4g} beats its score {own:.4g}"
        else:
            how = f"its own best cover (score {own:.4g})"
        print(f"  {word:<{word_width}}  {' + '.join(pieces) or '-':<{cover_width}}  {how}")


if __name__ == "__main__":
    sys.exit(main())

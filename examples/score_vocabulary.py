#!/usr/bin/env python3
"""Run a root and affix scoring session over a word list with morvanex.

The session works like this:

* root candidates: the words of the list, lowercased;
* affix candidates: the prefixes and suffixes of 1 to --max-affix-length
  characters that at least --min-shared words share (a word does not count
  for its own full text);
* initial scores: the relative frequency of every substring of 1 to
  --max-piece-length characters among the substrings of that length of all
  words;
* one-character whitelist: every character that occurs in the words;
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
score of every candidate to a tab-separated file (--output).  Without --words
it reads the small bundled list examples/data/words.txt.

    python examples/score_vocabulary.py
    python examples/score_vocabulary.py --words my-words.txt --min-shared 5 --segment unhappiness
"""

import argparse
import collections
import os
import random
import struct
import sys
import time

DEFAULT_WORDS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data", "words.txt")
PROG = os.path.basename(__file__)
# Sessions on real word lists settle within a handful of iterations; this only
# bounds a session that keeps changing.
MAX_ITERATIONS = 100
TSV_COLUMNS = ("candidate", "kind", "length", "score", "own_best_cover")


class WordListError(Exception):
    """A word list that cannot be used; its message is shown to the user as is."""


def read_words(path):
    """The distinct lowercased words of a UTF-8 file, one word per line, in file order."""
    try:
        with open(path, "rb") as handle:
            data = handle.read()
    except OSError as error:
        raise WordListError(f"cannot read word list '{path}': {error.strerror or error}") from None
    try:
        text = data.decode("utf-8-sig")
    except UnicodeDecodeError as error:
        raise WordListError(
            f"word list '{path}' is not valid UTF-8 (byte {error.start}: {error.reason})"
        ) from None
    words = dict.fromkeys(word for word in (line.strip().lower() for line in text.splitlines()) if word)
    if not words:
        raise WordListError(f"word list '{path}' holds no words")
    return list(words)


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


def by_length(candidates, scores):
    """{length: candidates of that length, best score first (ties by text)}, lengths ascending."""
    groups = collections.defaultdict(list)
    for text in candidates:
        groups[len(text)].append(text)
    return {length: sorted(groups[length], key=lambda text: (-scores[text], text)) for length in sorted(groups)}


def write_results(handle, words, affixes, scores, kept):
    """The final score of every candidate as tab-separated lines (TSV_COLUMNS, then one line per candidate)."""
    roots = set(words)
    handle.write("\t".join(TSV_COLUMNS) + "\n")
    for text in sorted(roots | set(affixes)):
        kind = "root" if text not in affixes else "affix" if text not in roots else "both"
        field = text.replace("\\", "\\\\").replace("\t", "\\t")
        handle.write(f"{field}\t{kind}\t{len(text)}\t{scores[text]!r}\t{'yes' if text in kept else 'no'}\n")


class ProgressBar:
    """A one-line bar on standard error, drawn only when that is a terminal."""

    WIDTH = 30

    def __init__(self, title, total):
        self.title, self.total, self.done = title, total, 0
        self.shown = sys.stderr.isatty()
        self._draw()

    def step(self):
        self.done += 1
        self._draw()

    def close(self):
        if self.shown:
            sys.stderr.write("\r\033[K")
            sys.stderr.flush()

    def _draw(self):
        if self.shown:
            filled = self.WIDTH * self.done // self.total
            sys.stderr.write(f"\r{self.title} [{'#' * filled}{'.' * (self.WIDTH - filled)}] "
                             f"{self.done}/{self.total}")
            sys.stderr.flush()


def _positive_int(text):
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a whole number, got {text!r}") from None
    if value < 1:
        raise argparse.ArgumentTypeError(f"expected a number of at least 1, got {value}")
    return value


def build_parser():
    parser = argparse.ArgumentParser(
        prog=PROG,
        description="Score the roots and affixes of a word list with morvanex.run_scoring_iteration.",
        epilog="A new score is (1/L)/(N+1) when a cover of value N beats the candidate's own score, "
               "else the old score: compare scores within one length.",
    )
    parser.add_argument(
        "--words", metavar="PATH", default=DEFAULT_WORDS,
        help="UTF-8 file with one word per line (default: the bundled examples/data/words.txt)",
    )
    parser.add_argument("--iterations", type=_positive_int, metavar="N",
                        help=f"run exactly N iterations (default: until an iteration changes nothing, "
                             f"at most {MAX_ITERATIONS})")
    parser.add_argument("--min-shared", type=_positive_int, default=20, metavar="K",
                        help="words that must share a prefix or suffix to make it an affix candidate (default: 20)")
    parser.add_argument("--max-affix-length", type=_positive_int, default=5, metavar="N",
                        help="longest affix candidate, in characters (default: 5)")
    parser.add_argument("--max-piece-length", type=_positive_int, default=8, metavar="N",
                        help="longest substring given an initial score, in characters (default: 8)")
    parser.add_argument("--whitelist", metavar="CHARS",
                        help="the characters that may stand as one-character pieces (default: every character "
                             "of the words; with all of them, covers by single letters explain most words)")
    parser.add_argument("--top", type=_positive_int, default=8, metavar="N",
                        help="candidates listed per length and kind (default: 8)")
    parser.add_argument("--samples", type=int, default=6, metavar="N",
                        help="random words whose best cover is shown (default: 6)")
    parser.add_argument("--segment", action="append", default=[], metavar="WORD",
                        help="also show the best cover of WORD (repeatable)")
    parser.add_argument("--output", metavar="PATH",
                        help="where to write the final scores, tab-separated "
                             "(default: <word list name>-scores.tsv in the current directory)")
    return parser


def _fail(message, code=2):
    print(f"{PROG}: error: {message}", file=sys.stderr)
    return code


def _seconds_since(started):
    return time.perf_counter() - started


def main(argv=None):
    args = build_parser().parse_args(argv)
    try:
        import morvanex
    except ImportError as error:
        missing = isinstance(error, ModuleNotFoundError) and error.name == "morvanex"
        hint = " (install it: python -m pip install <path to morvanex>)" if missing else ""
        return _fail(f"cannot import morvanex: {type(error).__name__}: {error}{hint}", 1)

    started = time.perf_counter()
    try:
        words = read_words(args.words)
    except WordListError as error:
        return _fail(str(error))
    output_path = args.output or os.path.splitext(os.path.basename(args.words))[0] + "-scores.tsv"
    try:
        output = open(output_path, "w", encoding="utf-8", newline="\n")
    except OSError as error:
        return _fail(f"cannot write results to '{output_path}': {error.strerror or error}")

    with output:
        print(f"read {len(words)} words from {args.words}", flush=True)
        bar = ProgressBar("preparing candidates and initial scores", args.max_affix_length + args.max_piece_length)
        affixes = affix_candidates(words, args.min_shared, args.max_affix_length, bar.step)
        scores = initial_scores(words, args.max_piece_length, bar.step)
        whitelist = set(args.whitelist) if args.whitelist is not None else {char for word in words for char in word}
        bar.close()
        print(
            f"prepared in {_seconds_since(started):.2f} s: {len(words)} root candidates, "
            f"{len(affixes)} affix candidates, {len(scores)} scored substrings, "
            f"{len(whitelist)} whitelisted characters", flush=True
        )

        def report(number, result, changed, seconds):
            of = f"/{args.iterations}" if args.iterations else ""
            print(f"iteration {number}{of}: {len(result)} candidates scored in {seconds * 1000.0:.1f} ms, "
                  f"{changed} changed", flush=True)

        session = run_session(morvanex.run_scoring_iteration, words, affixes, scores, whitelist,
                              args.iterations, report)
        if session.converged:
            print(f"converged: iteration {session.iterations} changed no score")
        elif args.iterations is None:
            print(f"stopped after {session.iterations} iterations without converging")
        scores = session.scores
        checking = time.perf_counter()
        kept = own_best_cover(morvanex.run_scoring_iteration, words, affixes, scores, whitelist)
        print(f"found the candidates that are their own best cover in {_seconds_since(checking):.2f} s")
        write_results(output, words, affixes, scores, kept)
    print(f"total: {_seconds_since(started):.2f} s (preparation, iterations and results)")
    print_findings(args, words, affixes, scores, whitelist, kept)
    print(f"\nfinal scores of {len(set(words) | affixes)} candidates written to {output_path} "
          f"(tab-separated: {', '.join(TSV_COLUMNS)})")
    return 0


def print_findings(args, words, affixes, scores, whitelist, kept):
    """How to read the scores, the candidates that are their own best cover, sample covers."""
    print("\nHow to read a score: when a cover of a candidate by other pieces (value N, the sum of\n"
          "their scores) beats its own score, its new score is (1/L)/(N+1) with L its length;\n"
          "otherwise it keeps its score.  A high score mostly means a short string, so compare\n"
          "scores within one length.  Candidates that kept their score are their own best cover:\n"
          "no combination of other pieces explains them better.  With every character whitelisted,\n"
          "covers by single letters explain most words; try --whitelist with the few one-letter\n"
          "morphemes of your language (or --whitelist '' for none).")
    print(f"\nOwn best cover, by length (kept of all; the {args.top} best scores first):")
    roots = set(words)
    groups = {"roots": by_length(roots, scores), "affixes": by_length(affixes, scores)}
    none_kept = collections.Counter()
    for length in sorted(set(groups["roots"]) | set(groups["affixes"])):
        for kind, group in groups.items():
            own = [text for text in group.get(length, ()) if text in kept]
            if own:
                print(f"{length:4d} {kind:<8} {len(own):6d} of {len(group[length]):<6d} " + " ".join(own[: args.top]))
            else:
                none_kept[kind] += len(group.get(length, ()))
    if none_kept:
        print("   no other candidate is: " + ", ".join(f"{count} {kind}" for kind, count in none_kept.items() if count))

    samples = random.Random(0).sample(sorted(roots), min(args.samples, len(roots))) if args.samples > 0 else []
    print("\nBest covers as a root under the final scores (N: the cover's value):")
    shown = samples + [word.lower() for word in args.segment]
    covers = [best_cover(word, scores, whitelist) for word in shown]
    word_width = max(map(len, shown), default=0)
    cover_width = max((len(" + ".join(pieces)) for _, pieces in covers), default=0)
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

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
* then --iterations calls of morvanex.run_scoring_iteration, each result
  merged into the scores before the next call.

It prints one progress line per iteration and the best roots and affixes at
the end.  Without --words it reads the small bundled list examples/data/words.txt.

    python examples/score_vocabulary.py --iterations 3 --top 15
    python examples/score_vocabulary.py --words my-words.txt --min-shared 5
"""

import argparse
import collections
import math
import os
import struct
import sys
import time

DEFAULT_WORDS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data", "words.txt")
PROG = os.path.basename(__file__)


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
    words = {}
    for line in text.splitlines():
        word = line.strip().lower()
        if word:
            words.setdefault(word, None)
    if not words:
        raise WordListError(f"word list '{path}' holds no words")
    return list(words)


def affix_candidates(words, min_shared, max_length):
    """Prefixes and suffixes of 1..max_length characters shared by min_shared words or more."""
    prefixes = collections.Counter()
    suffixes = collections.Counter()
    for word in words:
        for length in range(1, min(max_length, len(word) - 1) + 1):
            prefixes[word[:length]] += 1
            suffixes[word[-length:]] += 1
    shared = {affix for affix, count in prefixes.items() if count >= min_shared}
    shared |= {affix for affix, count in suffixes.items() if count >= min_shared}
    return shared


def initial_scores(words, max_length):
    """Relative frequency of each substring among all substrings of its length."""
    counts = collections.Counter()
    totals = collections.Counter()
    for word in words:
        for length in range(1, min(max_length, len(word)) + 1):
            for start in range(len(word) - length + 1):
                counts[word[start : start + length]] += 1
            totals[length] += len(word) - length + 1
    return {piece: count / totals[len(piece)] for piece, count in counts.items()}


def _same_bits(a, b):
    return struct.pack("<d", a) == struct.pack("<d", b)


def run_session(scoring_iteration, words, affixes, scores, whitelist, iterations, report=None):
    """Run `iterations` scoring iterations, merging each result into `scores`.

    `scoring_iteration` is morvanex.run_scoring_iteration (or anything with its
    signature).  Returns the merged scores; `report`, when given, is called
    after each iteration with (number, result, changed count, seconds).
    """
    roots = frozenset(words)
    affixes = frozenset(affixes)
    whitelist = frozenset(whitelist)
    scores = dict(scores)
    for number in range(1, iterations + 1):
        started = time.perf_counter()
        result = scoring_iteration(roots, affixes, scores, whitelist)
        seconds = time.perf_counter() - started
        changed = sum(
            1 for text, value in result.items() if text not in scores or not _same_bits(scores[text], value)
        )
        scores.update(result)
        if report is not None:
            report(number, result, changed, seconds)
    return scores


def top_entries(scores, candidates, count):
    """The `count` best candidates by score (ties by text), NaN last."""
    entries = [(text, scores[text]) for text in candidates if text in scores]
    entries.sort(key=lambda entry: (math.isnan(entry[1]), 0.0 if math.isnan(entry[1]) else -entry[1], entry[0]))
    return entries[:count]


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
    )
    parser.add_argument(
        "--words", metavar="PATH", default=DEFAULT_WORDS,
        help="UTF-8 file with one word per line (default: the bundled examples/data/words.txt)",
    )
    parser.add_argument("--iterations", type=_positive_int, default=3, metavar="N",
                        help="number of scoring iterations (default: 3)")
    parser.add_argument("--min-shared", type=_positive_int, default=20, metavar="K",
                        help="words that must share a prefix or suffix to make it an affix candidate (default: 20)")
    parser.add_argument("--max-affix-length", type=_positive_int, default=5, metavar="N",
                        help="longest affix candidate, in characters (default: 5)")
    parser.add_argument("--max-piece-length", type=_positive_int, default=8, metavar="N",
                        help="longest substring given an initial score, in characters (default: 8)")
    parser.add_argument("--top", type=_positive_int, default=10, metavar="N",
                        help="number of roots and affixes to list at the end (default: 10)")
    return parser


def _fail(message, code=2):
    print(f"{PROG}: error: {message}", file=sys.stderr)
    return code


def main(argv=None):
    args = build_parser().parse_args(argv)
    try:
        import morvanex
    except ImportError:
        return _fail("the morvanex module is not installed (python -m pip install <path to morvanex>)", 1)

    try:
        words = read_words(args.words)
    except WordListError as error:
        return _fail(str(error))

    affixes = affix_candidates(words, args.min_shared, args.max_affix_length)
    scores = initial_scores(words, args.max_piece_length)
    whitelist = {char for word in words for char in word}
    print(
        f"{len(words)} root candidates, {len(affixes)} affix candidates, "
        f"{len(scores)} scored substrings, {len(whitelist)} whitelisted characters"
    )

    def report(number, result, changed, seconds):
        print(
            f"iteration {number}/{args.iterations}: {len(result)} candidates scored "
            f"in {seconds * 1000.0:.1f} ms, {changed} changed"
        )

    started = time.perf_counter()
    scores = run_session(morvanex.run_scoring_iteration, words, affixes, scores, whitelist,
                         args.iterations, report)
    print(f"total: {time.perf_counter() - started:.3f} s")

    for title, candidates in (("roots", words), ("affixes", affixes)):
        print(f"\ntop {args.top} {title}:")
        for rank, (text, value) in enumerate(top_entries(scores, candidates, args.top), 1):
            print(f"{rank:4d}  {value:.6g}  {text}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

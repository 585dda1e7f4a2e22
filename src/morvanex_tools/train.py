"""`morvanex train`: a scoring session over a word list, its results file and, on request, segments and a save.

The session: the words are the root candidates (lowercased unless
--no-lowercase); the prefixes and suffixes of 1 to --max-affix-length
characters that at least --min-shared words share are the affix candidates
(a word does not count for its own full text); every substring of 1 to
--max-piece-length characters starts with its relative frequency among the
substrings of that length; the one-character whitelist is --whitelist; then
calls of morvanex.run_scoring_iteration, each result merged into the scores,
until a call changes no score (or exactly --iterations calls).
"""

import argparse
import collections
import itertools
import random
import sys
import time

from morvanex_tools.candidates import affix_candidates, indexed_initial_scores
from morvanex_tools.outputs import (
    SEGMENT_COLUMNS,
    TSV_COLUMNS,
    PendingOutput,
    UsageError,
    check_outputs,
    default_output,
    same_file,
    write_results,
    write_segmentations,
)
from morvanex_tools.progress import Progress
from morvanex_tools.report import print_findings
from morvanex_tools.sessions import MAX_ITERATIONS, run_session, write_session
from morvanex_tools.words import BUNDLED_WORDS, STDIN, read_lines, read_word_list, shown, suspicious_words

HOW_TO_READ = (
    "How to read a score: when a cover of a candidate by other pieces (value N, the sum of their scores) beats "
    "its own score, its new score is (1/L)/(N+1) with L its length; otherwise it keeps its score.  A high score "
    "mostly means a short string, so compare scores within one length.  Candidates that kept their score are "
    "their own best cover: no combination of other pieces explains them better, they are the units of the "
    "vocabulary.  One-character pieces count only when whitelisted (--whitelist; none by default): name the "
    "one-letter morphemes of your language."
)

# Ranking the units by use takes the best cover of every word: a sample of
# this many words bounds that on lists of millions.
RANK_SAMPLE = 20000


def number_at_least(minimum):
    def parse(text):
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"expected a whole number, got {text!r}") from None
        if value < minimum:
            raise argparse.ArgumentTypeError(f"expected a number of at least {minimum}, got {value}")
        return value
    return parse


def add_parser(subcommands):
    positive = number_at_least(1)
    parser = subcommands.add_parser(
        "train", help="run a scoring session over a word list",
        description="Score the roots and affixes of a word list with morvanex.run_scoring_iteration until no "
                    "score changes, write the final scores, and segment words with them.",
        epilog=HOW_TO_READ + "  Word lists and files to segment are UTF-8, one word per line (split on \\n only), "
                             "lowercased unless --no-lowercase; names ending in .gz, .bz2 or .xz are decompressed, "
                             "- is standard input.")
    parser.set_defaults(run=run)
    session = parser.add_argument_group("the session")
    session.add_argument("--words", metavar="PATH", default=BUNDLED_WORDS,
                         help="the word list: one word per line, or 'count word' lines (see --format); "
                              "lowercased (default: a bundled list of 3040 English words)")
    session.add_argument("--format", dest="word_format", choices=("auto", "words", "counts"), default="auto",
                         help="words: every line is a word; counts: every line is 'count word' (the counts are "
                              "not used, each word counts once); auto (default): counts when every line is "
                              "'count word', which the run then says")
    session.add_argument("--no-lowercase", action="store_true",
                         help="keep the words (and the whitelist) as they are instead of lowercasing them")
    session.add_argument("--iterations", type=positive, metavar="N",
                         help=f"run exactly N iterations (default: until an iteration changes nothing, "
                              f"at most {MAX_ITERATIONS})")
    session.add_argument("--min-shared", type=positive, default=20, metavar="K",
                         help="words that must share a prefix or suffix to make it an affix candidate "
                              "(default: 20)")
    session.add_argument("--max-affix-length", type=positive, default=5, metavar="N",
                         help="longest affix candidate, in characters (default: 5)")
    session.add_argument("--max-piece-length", type=positive, default=8, metavar="N",
                         help="longest substring given an initial score, in characters (default: 8)")
    session.add_argument("--whitelist", metavar="CHARS", default="",
                         help="the characters that may stand as one-character pieces, for instance the "
                              "one-letter morphemes of the language (default: none; with every letter, "
                              "covers by single letters explain most words)")
    report = parser.add_argument_group("the report")
    report.add_argument("--top", type=positive, default=8, metavar="N",
                        help="candidates listed per length and kind (default: 8)")
    report.add_argument("--samples", type=number_at_least(0), default=6, metavar="N",
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
                            ".xz suffix) for morvanex segment --load")


def planned_outputs(args):
    """The outputs {name: path} of this run, after checking the options that name files."""
    if args.segments_output is not None and args.segment_file is None:
        raise UsageError("--segments-output needs --segment-file")
    outputs = {"results": args.output or default_output(args.words, "-scores.tsv")}
    if args.segment_file is not None:
        outputs["segmentations"] = args.segments_output or default_output(args.segment_file, "-segments.tsv")
    if args.save is not None:
        outputs["session"] = args.save
    check_outputs(outputs, [path for path in (args.words, args.segment_file) if path is not None])
    return outputs


# A session's outcome: its final `scores` and their ScoreTable `table`; then, found under them, `kept`, the
# candidates that are their own best cover (as the results are written), and `used`, for each piece, the words
# (of a sample of RANK_SAMPLE at most) whose best cover uses it.
Trained = collections.namedtuple("Trained", "roots affixes candidates scores table kept used settings")


def train(scoring_iteration, args, words, whitelist, say):
    """The session over `words`, saying what each step took: a Trained tuple, without `kept` and `used`."""
    started = time.perf_counter()
    with Progress("preparing candidates and initial scores"):
        affixes = affix_candidates(words, args.min_shared, args.max_affix_length)
        scores, initial_table = indexed_initial_scores(words, args.max_piece_length, whitelist)
    whitelisted = f"{len(whitelist)} whitelisted characters" if whitelist else "no whitelisted characters"
    say(f"prepared in {time.perf_counter() - started:.2f} s: {len(words)} root candidates, "
        f"{len(affixes)} affix candidates, {len(scores)} scored substrings, {whitelisted}")
    # One frozenset of the words serves every step: frozenset() of it is itself.
    roots = frozenset(words)
    candidates = len(roots) + len(affixes - roots)
    of = f"/{args.iterations}" if args.iterations else ""
    numbers = itertools.count(1)

    def shown_iteration(*arguments):
        with Progress(f"iteration {next(numbers)}{of}: scoring {candidates} candidates"):
            return scoring_iteration(*arguments)

    def report(number, result, changed, seconds):
        say(f"iteration {number}{of}: {len(result)} candidates scored in {seconds * 1000.0:.1f} ms, "
            f"{changed} changed")

    session = run_session(shown_iteration, roots, affixes, scores, whitelist, args.iterations, report)
    if session.converged:
        print(f"converged: iteration {session.iterations} changed no score")
    elif args.iterations is None:
        print(f"stopped after {session.iterations} iterations without converging")
    scores = session.scores
    settings = {"words": args.words, "word_count": len(words), "lowercase": not args.no_lowercase,
                "whitelist": sorted(whitelist), "min_shared": args.min_shared,
                "max_affix_length": args.max_affix_length, "max_piece_length": args.max_piece_length,
                "iterations": session.iterations, "converged": session.converged}

    # The final scores are the initial ones with the last result put over them: every call returns a score for
    # every non-empty candidate, the same candidates each time, and the merges change nothing else.
    started = time.perf_counter()
    with Progress(f"indexing {len(scores)} final scores"):
        table = initial_table.updated(session.result)
    say(f"indexed {len(scores)} final scores for the searches below in {time.perf_counter() - started:.2f} s")
    return Trained(roots, affixes, candidates, scores, table, None, None, settings)


def segment_words(output, words, table, separator):
    """The best covers of `words` under `table` written to `output` (a PendingOutput)."""
    with Progress(f"segmenting {len(words)} words"):
        output.write(lambda handle: write_segmentations(handle, words, table, separator))


def find_units(args, words, trained, results, say):
    """`trained` with `kept` and `used`, the results written to `results`."""
    table = trained.table
    with Progress(f"finding which of {trained.candidates} candidates are their own best cover, writing the results"):
        kept = results.write(lambda handle: write_results(handle, words, trained.affixes, table))
    say(f"own best cover: {len(kept)} of {trained.candidates} candidates, found as the results were written, "
        f"in {results.seconds:.2f} s")
    started = time.perf_counter()
    sample = random.Random(args.seed).sample(words, RANK_SAMPLE) if len(words) > RANK_SAMPLE else words
    with Progress("best covers of the words, to rank the units by use"):
        used = table.piece_uses(sample)
    say(f"best covers of {len(sample)} words, to rank the units by use, in {time.perf_counter() - started:.2f} s")
    return trained._replace(kept=kept, used=used)


def run(args, morvanex, pending, started):
    """The session; every output it creates stays in `pending` until it is renamed onto its target."""
    for what, path in planned_outputs(args).items():
        pending.append(PendingOutput(path, what))
    files = {output.what: output for output in pending}
    say = (lambda text: None) if args.quiet else (lambda text: print(text, flush=True))

    lowercase = not args.no_lowercase
    words, counted, lines = read_word_list(args.words, args.word_format, lowercase)
    how = " ('count word' lines; the counts are not used)" if counted else ""
    print(f"read {len(words)} words from {shown(args.words)}{how}", flush=True)
    for warning in suspicious_words(words):
        print(f"morvanex train: warning: {warning}", file=sys.stderr)
    to_segment = []
    if args.segment_file is not None and STDIN not in (args.segment_file, args.words) and \
            same_file(args.segment_file, args.words):
        # Segmenting the word list itself: its lines, read once, whose strings the searches already took in.
        to_segment = lines
    elif args.segment_file is not None:
        to_segment = read_lines(args.segment_file, "file to segment", lowercase)
    del lines

    whitelist = set(args.whitelist.lower() if lowercase else args.whitelist)
    trained = train(morvanex.run_scoring_iteration, args, words, whitelist, say)
    scores, settings = trained.scores, trained.settings
    trained = find_units(args, words, trained, files["results"], say)
    table = trained.table
    if "segmentations" in files:
        segment_words(files["segmentations"], to_segment, table, args.separator)
    if "session" in files:
        with Progress(f"saving the session ({len(scores)} scores)"):
            files["session"].write(lambda handle: write_session(handle, table, settings), compress=True)
    while pending:
        pending[0].commit()
        pending.pop(0)

    print(f"final scores of {trained.candidates} candidates written to {files['results'].target} in "
          f"{files['results'].seconds:.2f} s (tab-separated: {', '.join(TSV_COLUMNS)})")
    if "segmentations" in files:
        print(f"segmentations of {len(to_segment)} words found and written to {files['segmentations'].target} in "
              f"{files['segmentations'].seconds:.2f} s (tab-separated: {', '.join(SEGMENT_COLUMNS)})")
    if "session" in files:
        print(f"session saved to {files['session'].target} in {files['session'].seconds:.2f} s "
              f"(segment with it: morvanex segment --load {files['session'].target})")
    extra = [word.lower() if lowercase else word for word in args.segment]
    print_findings(args, words, trained, table, extra, min(len(words), RANK_SAMPLE))
    print(f"\ntotal: {time.perf_counter() - started:.2f} s")
    return args.done(0)

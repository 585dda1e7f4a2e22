"""`morvanex segment`: the best cover of each word read, under a saved session's scores, as a filter."""

import sys

from morvanex_tools.covers import substrings_if_few
from morvanex_tools.outputs import SEGMENT_COLUMNS, UsageError, write_segmentations
from morvanex_tools.progress import Progress
from morvanex_tools.sessions import read_session, session_table
from morvanex_tools.words import STDIN, read_lines


def add_parser(subcommands):
    parser = subcommands.add_parser(
        "segment", help="segment words with a saved session, as a filter",
        description="Write the best cover as a root of every word of FILE (one per line; standard input without "
                    "FILE or for -) under the final scores of a session saved by morvanex train --save, "
                    f"tab-separated on standard output: {', '.join(SEGMENT_COLUMNS)} (the pieces joined by "
                    "--separator, empty without a cover; the cover's value, -1.0 without one), one line for each "
                    "non-empty line read, in its order, after a header line.  The words are lowercased when the "
                    "session's were.")
    parser.set_defaults(run=run)
    parser.add_argument("--load", metavar="SESSION", required=True,
                        help="the saved session (JSON, compressed by a .gz, .bz2 or .xz suffix)")
    parser.add_argument("file", metavar="FILE", nargs="?", default=STDIN,
                        help="the words to segment, UTF-8, compressed by a .gz, .bz2 or .xz suffix (default: "
                             "standard input)")
    parser.add_argument("--separator", default="+", metavar="TEXT",
                        help="what joins the pieces of a segmentation (default: +)")
    parser.add_argument("--quiet", action="store_true", help="no progress on standard error")


def run(args, morvanex, pending, started):
    if args.load == STDIN:
        raise UsageError("the session cannot be standard input: it is a file")
    with Progress(f"reading the session {args.load}"):
        session = read_session(args.load)
    words = read_lines(args.file, "file to segment", session.settings["lowercase"])
    with Progress("taking in the session's scores"):
        # A few words need the scores of their substrings only, far fewer than a session holds (about 35 bytes
        # each): taking in a score costs about as much as listing a substring and looking it up.
        table = session_table(session, substrings_if_few(words, len(session.data) // 512))
    with Progress(f"segmenting {len(words)} words"):
        # The segments are UTF-8 with "\n" line ends, whatever the locale and platform.
        sys.stdout.flush()
        write_segmentations(sys.stdout.buffer, words, table, args.separator)
        sys.stdout.buffer.flush()
    return args.done(0)

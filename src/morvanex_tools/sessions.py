"""A session: scoring iterations until nothing changes, and its final scores saved and loaded."""

import collections
import json
import lzma
import re
import time

import morvanex_covers
from morvanex_tools.words import WordListError, failure_reason, open_compressed

# Sessions on real word lists settle within a handful of iterations; this only
# bounds a session that keeps changing.
MAX_ITERATIONS = 100
SESSION_FORMAT = "morvanex session"
# What the example script that came before the command wrote; its sessions still load.
EARLIER_SESSION_FORMAT = "score_vocabulary session"
SESSION_VERSION = 1
# What segmenting uses of a session's settings.
SESSION_SETTINGS = {"lowercase", "whitelist", "words", "word_count", "iterations"}
# Where a session's scores begin: the first "scores" key whose value is an object. In a session that is
# its last member, since the settings before it hold no such key and a string cannot hold one (json
# escapes its quotes).
SCORES_MEMBER = re.compile(rb'"scores"[ \t\n\r]*:[ \t\n\r]*(?=\{)')

# `result`: what the last call returned.
Session = collections.namedtuple("Session", "scores iterations converged result")


def run_session(scoring_iteration, words, affixes, scores, whitelist, iterations=None, report=None):
    """Scoring iterations, each result merged into `scores` (in place: a copy of millions of scores costs).

    `scoring_iteration` is morvanex.run_scoring_iteration (or anything with its
    signature).  Runs exactly `iterations` iterations when given, otherwise
    until an iteration changes no score (at most MAX_ITERATIONS).  `report`,
    when given, is called after each iteration with (number, result, changed
    count, seconds).  Returns a Session: `scores`, the number of iterations
    run, whether the last one changed nothing, and the last call's result.
    """
    roots = frozenset(words)
    affixes = frozenset(affixes)
    whitelist = frozenset(whitelist)
    changed = None
    number = 0
    result = None
    while number < (MAX_ITERATIONS if iterations is None else iterations):
        number += 1
        started = time.perf_counter()
        merged_before, result = result, scoring_iteration(roots, affixes, scores, whitelist)
        seconds = time.perf_counter() - started
        # The result merged before holds what `scores` holds for the candidates, in the order this one lists them.
        changed = morvanex_covers.merge_scores(scores, result, merged_before)
        del merged_before  # not held through the next call: a result holds millions of entries
        if report is not None:
            report(number, result, changed, seconds)
        if changed == 0 and iterations is None:
            break
    return Session(scores, number, changed == 0, result)


def write_session(handle, table, settings):
    """A session as one JSON object, in UTF-8 to a binary handle: format, version, settings and every final score,
    read from `table`, the ScoreTable of the final scores, in code point order."""
    # The scores, millions of them, are written natively; the rest by json.
    head = json.dumps({"format": SESSION_FORMAT, "version": SESSION_VERSION, "settings": settings, "scores": {}},
                      ensure_ascii=False, separators=(",", ":"))
    handle.write(head[: -len("{}}")].encode("utf-8"))
    table.write_scores_json(handle.write)
    handle.write(b"}")


# A session read, its scores not yet taken in: `data`, the file's bytes, whose scores' JSON text begins at byte
# `scores_start`, and the session's `settings`.
SavedSession = collections.namedtuple("SavedSession", "path data scores_start settings")


def read_session(path):
    """The SavedSession in `path`, which `morvanex train --save` (or the example before it) wrote."""
    try:
        with open_compressed(path) as handle:
            data = handle.read()
    except (OSError, EOFError, lzma.LZMAError) as error:
        raise WordListError(f"cannot read session '{path}': {failure_reason(error)}") from None
    # The scores, millions of them, end the session and go to a table natively; json reads what comes before.
    member = SCORES_MEMBER.search(data)
    try:
        session = json.loads(data if member is None else data[:member.end()] + b"null}")
    except ValueError as error:
        raise WordListError(f"cannot read session '{path}': {failure_reason(error)}") from None
    if not isinstance(session, dict) or session.get("format") not in (SESSION_FORMAT, EARLIER_SESSION_FORMAT):
        raise WordListError(f"'{path}' is not a session saved by morvanex train --save")
    if session.get("version") != SESSION_VERSION:
        raise WordListError(f"session '{path}' has version {session.get('version')!r}; "
                            f"this morvanex reads version {SESSION_VERSION}")
    settings = session.get("settings")
    if member is None or not isinstance(settings, dict) or not SESSION_SETTINGS <= settings.keys():
        raise WordListError(f"session '{path}' lacks its scores or settings")
    return SavedSession(path, data, member.end(), settings)


def session_table(session, keys=None):
    """A morvanex_covers.ScoreTable of a SavedSession's final scores (of `keys` only, when given) and whitelist."""
    try:
        table, end = morvanex_covers.ScoreTable.from_json(session.data, frozenset(session.settings["whitelist"]),
                                                           session.scores_start, keys)
        if session.data[end:].strip(b" \t\n\r") != b"}":
            raise ValueError(f"expected the end of the session at byte {end}")
    except ValueError as error:
        raise WordListError(f"cannot read session '{session.path}': {failure_reason(error)}") from None
    return table

"""The morvanex command, run as a user runs it, and the session's building blocks."""

import bz2
import collections
import gzip
import json
import lzma
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import sysconfig

import pytest

import reference_model
from conftest import DEFAULT_SIGINT
from contract_texts import bad_thread_count
from morvanex_tools import candidates, sessions
from morvanex_tools.outputs import read_results as read_results_of_package
from morvanex_tools.words import BUNDLED_WORDS as BUNDLED

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# The console script that installing the package made, as a user runs it.
COMMAND = [shutil.which("morvanex", path=sysconfig.get_path("scripts")) or "morvanex"]

try:
    import morvanex
except ImportError:
    morvanex = None

requires_module = pytest.mark.skipif(morvanex is None, reason="morvanex is not installed")


def run_command(*args, env=None, cwd=REPO, **options):
    return subprocess.run(
        [*COMMAND, *args],
        capture_output=True,
        text=True,
        encoding="utf-8",
        timeout=300,
        cwd=cwd,
        env=env,
        **options,
    )


def unescape(field):
    return re.sub(r"\\(.)", lambda match: {"t": "\t", "n": "\n", "r": "\r", "\\": "\\"}[match.group(1)], field)


def read_tsv(path, header):
    """The rows of one of the command's tab-separated files, fields unescaped."""
    with open(path, encoding="utf-8", newline="") as handle:
        first, *lines = handle.read().split("\n")[:-1]
    assert first == header
    return [[unescape(field) for field in line.split("\t")] for line in lines]


def read_results(path):
    """{candidate: (kind, score, own best cover)} from the command's tab-separated results file."""
    results = {}
    for text, kind, length, score, own in read_tsv(path, "candidate\tkind\tlength\tscore\town_best_cover"):
        assert int(length) == len(text) and own in ("yes", "no")
        results[text] = (kind, float(score), own == "yes")
    return results


def no_partial_files(*directories):
    return all(not name.endswith(".part") for directory in directories for name in os.listdir(directory))


def own_best_cover_by_model(candidates, affixes, scores, whitelist):
    """Candidates whose score an iteration keeps: no cover, or a cover no better than the score."""
    kept = set()
    for text in candidates:
        cover, _ = reference_model.best_cover(text, scores, whitelist, text in affixes)
        if cover < 0.0 or scores[text] >= cover:
            kept.add(text)
    return kept


def bundled_words():
    with open(BUNDLED, encoding="utf-8") as handle:
        return [line.strip() for line in handle if line.strip()]


# ---------------------------------------------------------------------------
# End to end.


@requires_module
@pytest.mark.parametrize("options, iterations", [([], None), (["--iterations", "2"], 2), (["--quiet"], None)],
                         ids=["until-converged", "forced", "quiet"])
def test_bundled_word_list_session(tmp_path, options, iterations):
    output = tmp_path / "scores.tsv"
    result = run_command("train", "--output", str(output), *options)
    assert result.returncode == 0, result.stderr
    assert result.stderr == ""  # no progress bar when standard error is not a terminal
    words = bundled_words()
    assert result.stdout.startswith(f"read {len(words)} words from {BUNDLED}\n")
    iteration_line = r"^iteration (\d+)(?:/\d+)?: \d+ candidates scored in [\d.]+ ms, \d+ changed$"
    numbers = [int(n) for n in re.findall(iteration_line, result.stdout, re.M)]
    converged = re.search(r"^converged: iteration (\d+) changed no score$", result.stdout, re.M)
    if iterations:
        assert numbers == [1, 2] and not converged
    elif "--quiet" in options:
        assert numbers == [] and converged
        assert not re.search(r"^(prepared|own best cover|best covers of) ", result.stdout, re.M)
        numbers = list(range(1, int(converged.group(1)) + 1))
    else:
        assert converged and numbers == list(range(1, int(converged.group(1)) + 1))
        assert re.search(rf"^iteration {numbers[-1]}: .* 0 changed$", result.stdout, re.M)
        assert not re.search(rf"^iteration {numbers[-2]}: .* 0 changed$", result.stdout, re.M)
        assert re.search(r"^prepared in [\d.]+ s: .*, no whitelisted characters$", result.stdout, re.M)
    assert re.search(rf"^final scores of \d+ candidates written to {re.escape(str(output))} in [\d.]+ s "
                     r"\(tab-separated: candidate, kind, length, score, own_best_cover\)$", result.stdout, re.M)
    assert re.search(r"\ntotal: [\d.]+ s\n\Z", result.stdout)

    # The file holds what the same number of direct calls gives, with no whitelist.
    affixes = candidates.affix_candidates(words, 20, 5)
    scores = candidates.initial_scores(words, 8)
    for _ in numbers:
        scores.update(morvanex.run_scoring_iteration(set(words), affixes, scores, set()))
    written = read_results(output)
    assert written.keys() == set(words) | affixes
    assert [t for t, (_, value, _) in written.items() if struct.pack("<d", value) != struct.pack("<d", scores[t])] == []
    assert {t for t, (kind, _, _) in written.items() if kind == "both"} == set(words) & affixes
    kept = {t for t, (_, _, own) in written.items() if own}
    assert kept == own_best_cover_by_model(written, affixes, scores, set())

    # Listed: lengths where some but not all candidates keep their score, most used first.
    rows = re.findall(r"^ +(\d+) (roots|affixes) +(\d+) of (\d+) +(.*)$", result.stdout, re.M)
    assert rows
    for length, kind, own, of, listed in rows:
        assert 0 < int(own) < int(of)
        texts = sorted(t for t in kept if len(t) == int(length) and (t in affixes) == (kind == "affixes"))
        assert len(texts) == int(own)
        units = re.findall(r"(\S+)\((\d+)\)", listed)
        assert {text for text, _ in units} <= set(texts)
        uses = [int(count) for _, count in units]
        assert uses == sorted(uses, reverse=True) and all(count <= len(words) for count in uses)


@requires_module
@pytest.mark.parametrize("given", ["plain", "gz", "bz2", "xz", "stdin", "counts"])
def test_custom_word_file(tmp_path, given):
    lines = ["Walking", "walked", "", "  TALKING  ", "talked\r", "walked", "naïve", "naïvely", "😀ing", "😀ed",
             # Only "\n" ends a line; quotes, tabs and backslashes stay in the word and in the results file.
             "rock\x85roll", "line\u2028ing", "form\x0cfed", "file\x1cing", "o\"brien", "it's", "back\\ing", "walk\ted",
             # A final sigma, lowercased as its line alone would be: before a tab, and before a case-ignorable "'".
             "ΟΔΟΣ\t", "ΑΣ'"]
    if given == "counts":
        lines = [f"{number} {line}" if line else line for number, line in enumerate(lines, 3)]
    data = b"\xef\xbb\xbf" + "\n".join(lines).encode("utf-8") + b"\n"
    compress = {"gz": gzip.compress, "bz2": bz2.compress, "xz": lzma.compress}.get(given, lambda data: data)
    path = tmp_path / ("mots.txt" + (f".{given}" if given in ("gz", "bz2", "xz") else ""))
    path.write_bytes(compress(data))

    # The word list is its own file to segment: every line is a word there, lowercased, repeats and all.
    segmented = [] if given == "stdin" else ["--segment-file", str(path), "--segments-output", str(tmp_path / "s.tsv")]
    result = run_command("train", "--words", "-" if given == "stdin" else str(path), "--min-shared", "2",
                         "--iterations", "3", "--whitelist", "😀D", "--output", str(tmp_path / "out.tsv"), *segmented,
                         input=data.decode("utf-8") if given == "stdin" else None)
    assert result.returncode == 0, result.stderr
    if segmented:
        rows = read_tsv(tmp_path / "s.tsv", "word\tsegmentation\tvalue")
        assert [word for word, _, _ in rows] == [
            line.strip(" \t\r").lower() for line in lines if line.strip(" \t\r")]
    assert result.stderr == ""
    expected_words = {"walking", "walked", "talking", "talked", "naïve", "naïvely", "😀ing", "😀ed", "rock\x85roll",
                      "line\u2028ing", "form\x0cfed", "file\x1cing", "o\"brien", "it's", "back\\ing", "walk\ted",
                      "οδος", "ας'"}
    shown = "standard input" if given == "stdin" else str(path)
    counted = " ('count word' lines; the counts are not used)" if given == "counts" else ""
    assert result.stdout.startswith(f"read {len(expected_words)} words from {shown}{counted}\n")
    assert re.search(r"^iteration 3/3: ", result.stdout, re.M)
    written = read_results(tmp_path / "out.tsv")
    assert {t for t, (kind, _, _) in written.items() if kind != "affix"} == expected_words
    affixes = {t for t, (kind, _, _) in written.items() if kind != "root"}
    assert {"ed", "ing", "😀", "naïv", "walk", "talk"} <= affixes
    assert "ly" not in affixes  # only naïvely ends with it
    # One-character candidates off the whitelist (n, g, ...) have no cover and keep their score.
    scores = candidates.initial_scores(sorted(expected_words), 8)
    scores.update((t, value) for t, (_, value, _) in written.items())
    assert {t for t, (_, _, own) in written.items() if own} == own_best_cover_by_model(
        written, affixes, scores, {"😀", "d"})
    # The package's own reader gives the same.
    assert {t: (row.kind, row.score, row.own_best_cover) for t, row in
            read_results_of_package(tmp_path / "out.tsv").items()} == written


@requires_module
def test_segment_file_and_saved_session(tmp_path):
    (tmp_path / "segment.txt").write_text("Walking\nunhappiness\n\nx\nwalk\ted\nwalking\n", encoding="utf-8")
    result = run_command("train", "--whitelist", "s", "--segment-file", "segment.txt", "--separator", "|",
                        "--save", "session.json.gz", "--quiet", cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert re.search(r"^segmentations of 5 words found and written to segment-segments.tsv in ", result.stdout,
                     re.M)
    rows = read_tsv(tmp_path / "segment-segments.tsv", "word\tsegmentation\tvalue")
    assert [word for word, _, _ in rows] == ["walking", "unhappiness", "x", "walk\ted", "walking"]

    with gzip.open(tmp_path / "session.json.gz", "rt", encoding="utf-8") as handle:
        session = json.load(handle)
    scores = session["scores"]
    assert session["settings"]["whitelist"] == ["s"]
    # The very text that json writes of the same document.
    with gzip.open(tmp_path / "session.json.gz", "rb") as handle:
        assert handle.read() == json.dumps(session, ensure_ascii=False, separators=(",", ":")).encode("utf-8")
    written = read_results(tmp_path / "words-scores.tsv")
    assert all(struct.pack("<d", scores[t]) == struct.pack("<d", value) for t, (_, value, _) in written.items())
    for word, segmentation, value in rows:
        best, _ = reference_model.best_cover(word, scores, {"s"}, False)
        assert float(value) == best
        pieces = segmentation.split("|") if segmentation else []
        assert "".join(pieces) == (word if best >= 0.0 else "")
        assert all(piece in scores and (len(piece) > 1 or piece == "s") for piece in pieces)
        if pieces:
            assert sum(scores[piece] for piece in pieces) == best

    # Segmenting with the saved session is a filter: standard input, or a
    # file; a session saved by the example script before the command loads.
    # A few words take in their substrings' scores only, many words all.
    session["format"] = "score_vocabulary session"
    (tmp_path / "earlier.json").write_text(json.dumps(session), encoding="utf-8")
    header, rows_written = (tmp_path / "segment-segments.tsv").read_bytes().split(b"\n", 1)
    for arguments, given, copies in ((["--load", "session.json.gz"], (tmp_path / "segment.txt").read_bytes(), 1),
                                     (["--load", "earlier.json", "segment.txt"], None, 1),
                                     (["--load", "session.json.gz"], (tmp_path / "segment.txt").read_bytes() * 300,
                                      300)):
        again = subprocess.run([*COMMAND, "segment", "--separator", "|", *arguments], cwd=tmp_path, input=given,
                               capture_output=True, timeout=300)
        assert (again.returncode, again.stderr) == (0, b"")
        assert again.stdout == header + b"\n" + rows_written * copies
    assert no_partial_files(tmp_path)


SESSION_HEAD = (b'{"format":"morvanex session","version":1,"settings":{"lowercase":true,"whitelist":[],"words":"w",'
                b'"word_count":1,"iterations":1},')


@pytest.mark.parametrize(
    "args, files, message",
    [
        (["train", "--words", "{tmp}/missing.txt"], {},
         "cannot read word list '{tmp}/missing.txt': No such file or directory"),
        (["train", "--words", "{tmp}"], {}, "cannot read word list '{tmp}': Is a directory"),
        (["train", "--words", "{tmp}/latin1.txt"], {"latin1.txt": "café\nnaïve\n".encode("latin-1")},
         "word list '{tmp}/latin1.txt' is not valid UTF-8 (byte 3: invalid continuation byte)"),
        (["train", "--words", "{tmp}/blank.txt"], {"blank.txt": b"\n   \n\t\n"},
         "word list '{tmp}/blank.txt' holds no words"),
        (["train", "--words", "{tmp}/words.gz"], {"words.gz": b"walk\n"},
         "cannot read word list '{tmp}/words.gz': Not a gzipped file (b'wa')"),
        (["train", "--words", "{tmp}/counts.txt", "--format", "counts"], {"counts.txt": b"3 walk\nwalked\n"},
         "word list '{tmp}/counts.txt': 'walked' is not a 'count word' line"),
        (["train", "--words", "{tmp}/words.txt", "--output", "{tmp}/words.txt"], {"words.txt": b"walk\n"},
         "the results would overwrite the input '{tmp}/words.txt'; choose another output"),
        (["train", "--segment-file", "{tmp}/words.txt", "--save", "{tmp}/words.txt", "--output", "{tmp}/out.tsv"],
         {"words.txt": b"walk\n"}, "the session would overwrite the input '{tmp}/words.txt'; choose another output"),
        (["train", "--output", "{tmp}/out.tsv", "--save", "{tmp}/out.tsv"], {},
         "the session and the results would both go to '{tmp}/out.tsv'"),
        (["train", "--output", "{tmp}/no/such/out.tsv"], {}, "cannot write results to '{tmp}/no/such/out.tsv': "
                                                    "No such file or directory"),
        (["train", "--words", "-", "--segment-file", "-"], {}, "only one of the inputs can be standard input"),
        (["segment", "--load", "{tmp}/old.json"], {"old.json": b"{}"},
         "'{tmp}/old.json' is not a session saved by morvanex train --save"),
        (["segment", "--load", "{tmp}/old.json"], {"old.json": b'{"format": "morvanex session", "version": 2}'},
         "session '{tmp}/old.json' has version 2; this morvanex reads version 1"),
        (["segment", "--load", "-"], {}, "the session cannot be standard input: it is a file"),
        (["segment", "--load", "{tmp}/cut.json"], {"cut.json": SESSION_HEAD[:-1] + b"}"},
         "session '{tmp}/cut.json' lacks its scores or settings"),
        (["segment", "--load", "{tmp}/cut.json", "{tmp}/words.txt"],
         {"cut.json": SESSION_HEAD + b'"scores":{"a":0.5,', "words.txt": b"walk\n"},
         "cannot read session '{tmp}/cut.json': expected a string key in double quotes at byte 146"),
        (["segment", "--load", "{tmp}/more.json", "{tmp}/words.txt"],
         {"more.json": SESSION_HEAD + b'"scores":{"a":0.5},"more":1}', "words.txt": b"walk\n"},
         "cannot read session '{tmp}/more.json': expected the end of the session at byte 146"),
    ],
    ids=["missing", "directory", "not-utf8", "no-words", "not-gzip", "not-counts", "output-is-input",
         "save-is-input", "two-outputs-one-file", "output-directory-missing", "stdin-twice", "not-a-session",
         "newer-session", "session-on-stdin", "session-without-scores", "session-cut-short", "session-goes-on"],
)
def test_unusable_input_or_output_is_a_one_line_error(tmp_path, args, files, message):
    for name, data in files.items():
        (tmp_path / name).write_bytes(data)
    before = sorted(os.listdir(tmp_path))
    result = run_command(*[arg.format(tmp=tmp_path) for arg in args], cwd=tmp_path)
    assert result.returncode == 2
    assert result.stdout == ""
    assert result.stderr == f"morvanex {args[0]}: error: {message.format(tmp=tmp_path)}\n"
    assert sorted(os.listdir(tmp_path)) == before
    for name, data in files.items():
        assert (tmp_path / name).read_bytes() == data


@pytest.mark.parametrize("args, expected", [
    (["train", "--iterations", "0"], "argument --iterations: expected a number of at least 1, got 0"),
    (["train", "--top", "-3"], "argument --top:"), (["train", "--min-shared", "x"], "argument --min-shared:"),
    (["train", "--samples", "-1"], "argument --samples:"), (["train", "--format", "csv"], "argument --format:"),
    # A session's options belong to train alone.
    (["segment", "--load", "s.json", "--iterations", "2"], "unrecognized arguments: --iterations"),
    (["segment"], "the following arguments are required: --load"),
    ([], "the following arguments are required: COMMAND")])
def test_bad_option_values_are_usage_errors(args, expected):
    result = run_command(*args)
    assert result.returncode == 2
    assert expected in result.stderr
    assert "Traceback" not in result.stderr


@requires_module
def test_version_names_the_module_that_runs():
    result = subprocess.run([sys.executable, "-m", "morvanex_tools", "--version"], capture_output=True, text=True,
                            timeout=300)
    assert result.returncode == 0
    assert result.stdout == (f"morvanex command (session format 1) with morvanex {morvanex.__version__} "
                             f"({morvanex.__file__})\n")


INTERRUPTED_CALL = """\
def run_scoring_iteration(roots, affixes, scores, whitelist):
    if roots:
        raise KeyboardInterrupt  # as a call does when Ctrl-C is pressed meanwhile
    return {}
"""


@pytest.mark.parametrize(
    "module, threads, code, message",
    [
        ("raise ImportError('dynamic module does not define module export function (PyInit_morvanex)', "
         "name='morvanex')\n", None, 1,
         "morvanex train: error: cannot import morvanex: ImportError: dynamic module does not define module "
         "export function (PyInit_morvanex)"),
        ("raise ModuleNotFoundError(\"No module named 'morvanex'\", name='morvanex')\n", None, 1,
         "morvanex train: error: cannot import morvanex: ModuleNotFoundError: No module named 'morvanex' "
         "(install it: python -m pip install <path to morvanex>)"),
        (INTERRUPTED_CALL, None, 130, "interrupted; {tmp}/out.tsv left unchanged"),
        (None, "two", 2, "morvanex train: error: " + bad_thread_count("two")),
    ],
    ids=["broken-build", "not-installed", "interrupted-in-a-call", "bad-thread-count"],
)
def test_failure_of_the_module_is_one_line(tmp_path, module, threads, code, message):
    if module is None and morvanex is None:
        pytest.skip("morvanex is not installed")
    env = dict(os.environ)
    if module is not None:
        (tmp_path / "morvanex.py").write_text(module, encoding="utf-8")
        env["PYTHONPATH"] = str(tmp_path)
    if threads is not None:
        env["MORVANEX_NUM_THREADS"] = threads
    (tmp_path / "out.tsv").write_text("an earlier run's results\n", encoding="utf-8")
    result = run_command("train", "--output", str(tmp_path / "out.tsv"), env=env)
    assert result.returncode == code
    assert result.stderr == message.format(tmp=tmp_path) + "\n"
    assert (tmp_path / "out.tsv").read_text(encoding="utf-8") == "an earlier run's results\n"
    assert no_partial_files(tmp_path, REPO)


@requires_module
@pytest.mark.parametrize("how", ["ctrl-c", "broken-pipe"])
def test_stopped_run_leaves_outputs_unchanged(tmp_path, how):
    output = tmp_path / "out.tsv"
    output.write_text("an earlier run's results\n", encoding="utf-8")
    command = [*COMMAND, "train", "--output", str(output), "--segment-file", "-",
               "--segments-output", str(tmp_path / "segments.tsv")]
    if how == "ctrl-c":
        # The file to segment comes from a pipe that stays open: the run waits
        # for it after reading the word list, and Ctrl-C comes meanwhile.
        with subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              text=True, encoding="utf-8", **DEFAULT_SIGINT) as process:
            assert process.stdout.readline().startswith("read ")
            process.send_signal(signal.SIGINT)
            _, stderr = process.communicate(timeout=300)
        code = 130
        expected = f"interrupted; {output} and {tmp_path / 'segments.tsv'} left unchanged\n"
    else:
        # Standard output is a pipe whose reader is gone, as with `| head` once it has its lines.
        reader, writer = os.pipe()
        os.close(reader)
        with open(writer, "wb") as stdout:
            process = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=stdout, stderr=subprocess.PIPE,
                                     text=True, encoding="utf-8", timeout=300)
        stderr, code = process.stderr, process.returncode
        expected = (f"morvanex train: error: standard output was closed; {output} and "
                    f"{tmp_path / 'segments.tsv'} left unchanged\n")
    assert (process.returncode, stderr) == (code, expected)
    assert output.read_text(encoding="utf-8") == "an earlier run's results\n"
    assert sorted(os.listdir(tmp_path)) == ["out.tsv"]


# ---------------------------------------------------------------------------
# The session's building blocks.


@pytest.mark.parametrize(
    "words, min_shared, max_length, expected",
    [
        (["walked", "talked", "walks"], 2, 5, {"w", "wa", "wal", "walk", "d", "ed", "ked", "lked", "alked"}),
        (["walked", "talked", "walks"], 2, 2, {"w", "wa", "d", "ed"}),
        (["walked", "talked", "walks"], 3, 5, set()),
        # A word never shares its own full text: "ab" is a prefix of "abc" only.
        (["ab", "abc"], 2, 5, {"a"}),
        (["ab", "abc", "abd"], 2, 5, {"a", "ab"}),
        (["é😀x", "é😀y"], 2, 5, {"é", "é😀"}),
    ],
    ids=["prefixes-and-suffixes", "max-length", "min-shared", "own-text", "proper-prefix", "non-ascii"],
)
def test_affix_candidates(words, min_shared, max_length, expected):
    assert candidates.affix_candidates(words, min_shared, max_length) == expected


def test_initial_scores_are_relative_frequencies_per_length():
    scores = candidates.initial_scores(["abab", "b"], 3)
    # Substrings of length 1: a, b, a, b, b; of length 2: ab, ba, ab; of length 3: aba, bab.
    assert scores == {"a": 2 / 5, "b": 3 / 5, "ab": 2 / 3, "ba": 1 / 3, "aba": 1 / 2, "bab": 1 / 2}
    assert candidates.initial_scores(["abcdef"], 2).keys() == {"a", "b", "c", "d", "e", "f",
                                                            "ab", "bc", "cd", "de", "ef"}


NAN = float("nan")
OTHER_NAN = struct.unpack("<d", struct.pack("<d", NAN)[:-1] + b"\xff")[0]


@requires_module
@pytest.mark.parametrize("earlier, result", [
    ({}, {}),
    ({"a": 0.5, "b": 0.25}, {"b": 0.25, "a": 0.5}),  # nothing changed
    ({"a": 0.5, "b": 0.25}, {"a": 0.5000000000000001, "c": 1.0, "d": 0.25}),  # one last bit, new entries
    ({"z": 0.0, "n": NAN, "m": NAN, "i": 3}, {"z": -0.0, "n": NAN, "m": OTHER_NAN, "i": 3.0}),  # bits, not ==
    ({"x": float("inf"), "y": -1.0}, {"x": float("-inf"), "y": -1.0, "x2": float("inf")}),
])
def test_merging_a_result_counts_the_values_changed_bit_for_bit(earlier, result):
    import morvanex_covers

    bits = {key: struct.pack("<d", value) for key, value in earlier.items()}
    expected_changed = sum(1 for key, value in result.items() if bits.get(key) != struct.pack("<d", value))
    expected = dict(earlier)
    expected.update(result)
    scores, given = dict(earlier), dict(result)
    assert morvanex_covers.merge_scores(scores, result) == expected_changed
    def typed_bits(values):
        return [(type(value), struct.pack("<d", value)) for value in values]

    assert list(scores) == list(expected) and typed_bits(scores.values()) == typed_bits(expected.values())
    assert list(result.items()) == list(given.items())


@requires_module
@pytest.mark.parametrize("order", ["same", "reversed", "fewer", "more", "subclass-keys"])
def test_merging_after_a_result_merged_before_counts_and_merges_as_without_it(order):
    import morvanex_covers

    class Text(str):
        pass

    first = {f"k{i}": 1.0 / (i + 1) for i in range(20)}
    second = {key: value if i % 3 else -value for i, (key, value) in enumerate(first.items())}
    second["k0"] = -0.0 if first["k0"] == 0.0 else first["k0"]
    keys = {"same": list(second), "reversed": list(second)[::-1], "fewer": list(second)[:12],
            "more": [*second, "new1", "new2"], "subclass-keys": [Text(key) for key in second]}[order]
    later = {key: second.get(key, 0.5) for key in keys}
    scores, plain = {"x": 2.0}, {"x": 2.0}
    for target in (scores, plain):
        morvanex_covers.merge_scores(target, first)
    changed = morvanex_covers.merge_scores(scores, later, first)
    assert changed == morvanex_covers.merge_scores(plain, later)
    assert list(scores) == list(plain)
    assert [struct.pack("<d", value) for value in scores.values()] == [struct.pack("<d", v) for v in plain.values()]


class Score(float):
    def __repr__(self):
        return "not a float's text"


AWKWARD_KEYS = ["", 'say "x"', "back\\slash\\", "".join(map(chr, range(0x20))), "\x7f\x80\xff", "\u2028\u2029",
                "\U0001f600\U00010000\U0010ffff", "z\u0142\u00f3\u0107", "\ufeff\ufffd"]
AWKWARD_VALUES = [0.0, -0.0, 1e-300, 5e-324, 1e22, 1e16, 0.1, 123456789.125, -2.5, NAN, OTHER_NAN, -NAN,
                  float("inf"), float("-inf"), Score(0.3)]


def random_scores(count, seed):
    """Keys of random code points (no surrogates), values of random bit patterns: every kind of double."""
    import random

    rng = random.Random(seed)

    def code_point():
        code = rng.randrange(rng.choice([0x80, 0x800, 0x110000 - 0x800]))
        return chr(code + 0x800 if code >= 0xD800 else code)

    return {"".join(code_point() for _ in range(rng.randrange(8))) + str(k):
            struct.unpack("<d", rng.getrandbits(64).to_bytes(8, "little"))[0] for k in range(count)}


def written_blocks(scores):
    import morvanex_covers

    blocks = []
    assert morvanex_covers.write_scores_json(scores, blocks.append) is None
    assert all(type(block) is bytes for block in blocks)
    return blocks


def json_bytes(scores):
    return json.dumps(scores, ensure_ascii=False, separators=(",", ":")).encode("utf-8")


@requires_module
@pytest.mark.parametrize("scores", [
    {},
    {"": 0.5},
    {key + str(k): value for k, value in enumerate(AWKWARD_VALUES) for key in AWKWARD_KEYS},
    random_scores(3000, 1),
], ids=["empty", "empty-key", "awkward", "random"])
def test_scores_json_is_what_json_dumps_gives_and_reads_back_as_json_loads_does(scores):
    import morvanex_covers

    assert written_blocks(scores) == [json_bytes(scores)]
    # Read back from json's other layouts too: spaces, \u escapes (surrogate pairs included), indents, a repeat.
    repeat = b',"%s":-1.5}' % json.dumps(next(iter(scores), "a"))[1:-1].encode("utf-8") if scores else b"}"
    for text in (json_bytes(scores)[:-1] + repeat, json.dumps(scores).encode("ascii"),
                 json.dumps(scores, indent=2, ensure_ascii=False).encode("utf-8")):
        read, end = morvanex_covers.read_scores_json(b"  " + text + b" \n{", 2)
        expected = json.loads(text)
        assert end == 2 + len(text)
        assert list(read) == list(expected)
        assert all(type(value) is float for value in read.values())
        assert all(bits_of_double(read[key]) == bits_of_double(value) or (value != value and read[key] != read[key])
                   for key, value in expected.items())
        # A table read from the text holds what a table of json's dict holds; one of the words' substrings only
        # covers them as well.
        words = [first + second for first, second in zip(list(expected)[:300], list(expected)[1:])]  # most covered
        covers = repr(morvanex_covers.ScoreTable(expected, {"a", "\u00e9"}).best_covers(words))
        for keys in (None, {word[i:j] for word in words for i in range(len(word)) for j in range(i, len(word) + 1)}):
            table, table_end = morvanex_covers.ScoreTable.from_json(b"  " + text + b" \n{", {"a", "\u00e9"}, 2, keys)
            assert table_end == end and repr(table.best_covers(words)) == covers


def json_reading(text):
    """(scores, end) as json reads the object at the start of `text` (bytes, UTF-8) when it is one of numbers with
    keys that have a UTF-8 form, numbers as float() reads them; else None."""
    try:
        decoded = text.decode("utf-8", "surrogateescape")  # a byte that is not UTF-8: a lone surrogate
        start = len(decoded) - len(decoded.lstrip(" \t\n\r"))
        scores, end = json.JSONDecoder(parse_int=float).raw_decode(decoded, start)
        if not isinstance(scores, dict) or not all(type(value) is float for value in scores.values()):
            return None
        for key in scores:
            key.encode("utf-8")  # a lone surrogate has no UTF-8 form
        return scores, len(decoded[:end].encode("utf-8", "surrogateescape"))
    except (ValueError, UnicodeEncodeError):
        return None


@requires_module
def test_scores_json_read_natively_as_json_reads_mutated_texts():
    import random

    import morvanex_covers

    rng = random.Random(5)
    tokens = [b'"', b"\\", b"\\u", b"d83d", b"de00", b"dc00", b":", b",", b"{", b"}", b"0", b"17", b"-", b".",
              b"e", b"E+", b" ", b"\n", b"NaN", b"Infinity", b"-Infinity", b"x", "\u00e9\U0001f600".encode(),
              b"\x01", b"\xff", b"\xed\xa0\x80", b"1e400", b"9" * 30, b"[1]", b"null", b'"a"']
    base = json_bytes({"a": 0.5, 'q"\\': -1e-300, "\u00e9\n": float("inf"), "\U0001f600": 12.0, "": -0.0})
    agreed = 0
    for _ in range(4000):
        text = bytearray(base)
        for _ in range(rng.randrange(1, 4)):
            at = rng.randrange(len(text) + 1)
            cut = rng.choice([0, 0, 1, 2])
            text[at:at + cut] = rng.choice(tokens) if rng.random() < 0.8 else b""
        text = bytes(text)
        expected = json_reading(text)
        if expected is None:
            with pytest.raises(ValueError):
                morvanex_covers.read_scores_json(text)
            continue
        read, end = morvanex_covers.read_scores_json(text)
        assert end == expected[1] and list(read) == list(expected[0]), text
        assert all(bits_of_double(read[key]) == bits_of_double(value) or (value != value and read[key] != read[key])
                   for key, value in expected[0].items()), text
        agreed += 1
    assert 300 < agreed < 3700  # both outcomes met often


@requires_module
@pytest.mark.parametrize("text, message", [
    (b'{"a":1,}', "expected a string key in double quotes at byte 7"),
    (b'{"a" 1}', "expected ':' at byte 5"),
    (b'{"a":01}', "expected ',' or '}' at byte 6"),
    (b'{"a":.5}', "expected a number at byte 5"),
    (b'{"a":1.}', "expected a digit after the decimal point at byte 7"),
    (b'{"a":1e+}', "expected a digit in the exponent at byte 8"),
    (b'{"a":nan}', "expected a number at byte 5"),
    (b'{"a":"1"}', "expected a number at byte 5"),
    (b'{"a":1', "expected ',' or '}' at byte 6"),
    (b'{"a', "unterminated string at byte 3"),
    (b'{"a\x01":1}', "control character in a string at byte 3"),
    (b'{"a\\x":1}', "invalid escape at byte 4"),
    (b'{"\\u12g4":1}', "expected four hex digits at byte 6"),
    # A key that no str made from the text could hold: json would read these, a str could not be encoded.
    (b'{"\\ud800x":1}', "lone surrogate at byte 8"),
    (b'{"\\udc00":1}', "lone surrogate at byte 8"),
    (b'{"\xed\xa0\x80":1}', "invalid UTF-8 in a string at byte 2"),
    (b'{"\xc0\xaf":1}', "invalid UTF-8 in a string at byte 2"),
    (b'[]', "expected '{' at byte 0"),
    (b'', "expected '{' at byte 0"),
])
def test_scores_json_that_is_no_object_of_numbers_is_a_value_error(text, message):
    import morvanex_covers

    with pytest.raises(ValueError) as caught:
        morvanex_covers.read_scores_json(text)
    assert caught.value.args == (message,)


@requires_module
def test_scores_json_of_several_blocks():
    scores = random_scores(120000, 2)
    expected = json_bytes(scores)
    blocks = written_blocks(scores)
    assert b"".join(blocks) == expected
    # About a megabyte each: never the whole text at once.
    assert len(blocks) >= 3 and max(map(len, blocks)) < len(expected) / 2


def double_of_bits(bits):
    return struct.unpack("<d", struct.pack("<Q", bits))[0]


def bits_of_double(value):
    return struct.unpack("<Q", struct.pack("<d", value))[0]


def with_neighbours(values, steps):
    """Each positive finite value and the doubles up to `steps` apart from it, as bit patterns next to it."""
    return [double_of_bits(bits) for value in values for bits in range(bits_of_double(value) - steps,
                                                                      bits_of_double(value) + steps + 1)
            if 0 < bits < 0x7FF0000000000000]


def doubles_of_kind(kind):
    """Finite doubles of one kind, from a fixed seed: what score files hold, and where the shortest text of a
    double is hardest to get right (powers of two, whose lower neighbour is twice as near; the thresholds of the
    fixed and scientific layouts; subnormals; the extremes; halves between two shortest candidates)."""
    import random

    rng = random.Random(kind)
    count = 40000
    if kind == "bit-patterns":
        return [value for value in (double_of_bits(rng.getrandbits(64)) for _ in range(count))
                if value - value == 0]
    if kind == "uniform":
        return [rng.random() for _ in range(count)]
    if kind == "ratios":
        return [rng.randrange(1, 10 ** rng.randrange(1, 7)) / rng.randrange(10 ** 6, 10 ** 10) for _ in range(count)]
    if kind == "per-length":
        return [(1 / rng.randrange(1, 40)) / (rng.randrange(0, 10 ** rng.randrange(1, 8)) + 1) for _ in range(count)]
    if kind == "powers-of-two":
        return with_neighbours([double_of_bits(exponent << 52) for exponent in range(1, 2047)], 4) + [
            double_of_bits(1 << shift) for shift in range(52)]
    if kind == "layout-thresholds":
        decimals = [float(f"{mantissa}e{exponent}") for exponent in range(-323, 308)
                    for mantissa in ("1", "5", "9.999999999999999", "1.0000000000000002", "123456789")]
        return with_neighbours([value for value in decimals if value != float("inf")], 3)
    if kind == "subnormals":
        return [double_of_bits(bits) for bits in range(1, 30000)] + [
            double_of_bits(rng.randrange(1, 1 << 52)) for _ in range(count - 30000)] + with_neighbours(
            [sys.float_info.min, sys.float_info.max], 40)
    if kind == "integers":
        return [float(rng.getrandbits(rng.randrange(1, 64)) or 1) for _ in range(count // 2)] + [
            float(rng.randrange(2 ** 53 - 10 ** 6, 2 ** 53 + 10 ** 6)) for _ in range(count // 4)] + [
            float(10 ** rng.randrange(15, 23) + rng.randrange(-10 ** 4, 10 ** 4)) for _ in range(count // 4)]
    if kind == "quarters-and-eighths":
        # c / 2^n with n small: its exact decimal may end in 5 right after the shortest digits, a tie between two.
        return [rng.randrange(1, 2 ** 53) / 2 ** rng.randrange(1, 12) for _ in range(count)]
    raise AssertionError(kind)


@requires_module
@pytest.mark.parametrize("kind", ["bit-patterns", "uniform", "ratios", "per-length", "powers-of-two",
                                  "layout-thresholds", "subnormals", "integers", "quarters-and-eighths"])
def test_scores_json_writes_every_float_as_repr_does(kind):
    # json writes a finite float with float.__repr__: the oracle of the native formatting, signs and all.
    values = doubles_of_kind(kind)
    values += values[::-3]  # repeats, met again after other values took their place in any cache
    scores = {str(k): -value if k % 3 == 0 else value for k, value in enumerate(values)}
    assert len(scores) > 10000
    assert b"".join(written_blocks(scores)) == json_bytes(scores)


@requires_module
@pytest.mark.parametrize("scores, error, message", [
    ({"a": 1.0, 2: 1.0}, TypeError, "argument 'scores': 'int' object cannot be converted to 'PyString'"),
    ({"a": 1}, TypeError, "argument 'scores': 'int' object cannot be converted to 'PyFloat'"),
    ({"a": True}, TypeError, "argument 'scores': 'bool' object cannot be converted to 'PyFloat'"),
    ({"a": "1.0"}, TypeError, "argument 'scores': 'str' object cannot be converted to 'PyFloat'"),
    ({"a": 1.0, "b\udc80": 1.0}, UnicodeEncodeError, "surrogates not allowed"),
])
def test_scores_json_of_other_keys_or_values_fails(scores, error, message):
    import morvanex_covers

    with pytest.raises(error) as caught:
        morvanex_covers.write_scores_json(scores, [].append)
    assert type(caught.value) is error
    assert (caught.value.reason if error is UnicodeEncodeError else str(caught.value)) == message


@requires_module
def test_scores_json_passes_on_what_write_raises_and_guards_the_dict():
    import morvanex_covers

    scores = random_scores(100000, 3)
    raised = OSError(28, "No space left on device")
    written = []

    def full_disk(block):
        written.append(block)
        if len(written) == 2:
            raise raised

    with pytest.raises(OSError) as caught:
        morvanex_covers.write_scores_json(scores, full_disk)
    assert caught.value is raised and len(written) == 2

    with pytest.raises(BaseException) as caught:
        morvanex_covers.write_scores_json(scores, lambda block: scores.setdefault("new", 1.0))
    # The companion module's own PanicException, not the one of morvanex.
    assert f"{type(caught.value).__module__}.{type(caught.value).__name__}" == "pyo3_runtime.PanicException"
    assert caught.value.args == ("dictionary changed size during iteration",)


@requires_module
def test_session_on_bundled_words_matches_model():
    # Three iterations over real data, each fed with the previous merged
    # scores, computed by the module and by the model.
    import morvanex_covers

    words = bundled_words()
    affixes = candidates.affix_candidates(words, 20, 5)
    whitelist = {c for w in words for c in w}
    scores, initial_table = candidates.indexed_initial_scores(words, 8, whitelist)
    assert scores == candidates.initial_scores(words, 8)
    seen = []
    session = sessions.run_session(morvanex.run_scoring_iteration, words, affixes, dict(scores), whitelist, 3,
                                  lambda number, result, changed, seconds: seen.append((number, len(result))))
    actual = session.scores
    expected = sessions.run_session(reference_model.run_scoring_iteration, words, affixes, dict(scores), whitelist,
                                    3).scores
    assert actual.keys() == expected.keys()
    assert [k for k in expected if struct.pack("<d", actual[k]) != struct.pack("<d", expected[k])] == []
    count = len(set(words) | affixes)
    assert seen == [(1, count), (2, count), (3, count)]
    # Merging keeps the substrings that are not candidates as they were.
    assert all(actual[k] == v for k, v in scores.items() if k not in affixes and k not in set(words))
    # The final scores' table, made as the session makes it: the initial one with the last result put over it.
    few = words[:40]
    assert [pieces for pieces, _ in initial_table.updated(session.result).best_covers(few)] == [
        reference_model.best_cover(word, actual, whitelist, False)[1] for word in few]
    # Ranking the units: the pieces of the words' best covers, a piece longer than the counted substrings included.
    final = {**actual, next(word for word in few if len(word) > 8): 10.0}
    assert morvanex_covers.ScoreTable(final, set()).piece_uses(few) == collections.Counter(
        piece for word in few for piece in set(reference_model.best_cover(word, final, set(), False)[1]))

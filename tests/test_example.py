"""The vocabulary scoring example, run as a user runs it and piece by piece."""

import os
import re
import struct
import subprocess
import sys

import pytest

import reference_model
from example_scripts import example_path, load_example

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SCRIPT = example_path("score_vocabulary.py")
BUNDLED = example_path(os.path.join("data", "words.txt"))

try:
    import morvanex
except ImportError:
    morvanex = None

requires_module = pytest.mark.skipif(morvanex is None, reason="morvanex is not installed")


example = load_example("score_vocabulary.py")


def run_script(*args, env=None):
    return subprocess.run(
        [sys.executable, SCRIPT, *args],
        capture_output=True,
        text=True,
        encoding="utf-8",
        timeout=300,
        cwd=REPO,
        env=env,
    )


def read_results(path):
    """{candidate: (kind, score, own best cover)} from the example's tab-separated results file."""
    with open(path, encoding="utf-8") as handle:
        header, *lines = handle.read().splitlines()
    assert header == "candidate\tkind\tlength\tscore\town_best_cover"
    results = {}
    for line in lines:
        text, kind, length, score, own = line.split("\t")
        assert int(length) == len(text) and own in ("yes", "no")
        results[text] = (kind, float(score), own == "yes")
    return results


def own_best_cover_by_model(candidates, affixes, scores, whitelist):
    """Candidates whose score an iteration keeps: no cover, or a cover no better than the score."""
    kept = set()
    for text in candidates:
        cover = reference_model.best_segmentation_score(text, scores, whitelist, text in affixes)
        if cover < 0.0 or scores[text] >= cover:
            kept.add(text)
    return kept


def bundled_words():
    with open(BUNDLED, encoding="utf-8") as handle:
        return [line.strip() for line in handle if line.strip()]


# ---------------------------------------------------------------------------
# End to end.


@requires_module
@pytest.mark.parametrize("iterations", [None, 2], ids=["until-converged", "forced"])
def test_bundled_word_list_session(tmp_path, iterations):
    output = tmp_path / "scores.tsv"
    forced = ["--iterations", str(iterations)] if iterations else []
    result = run_script("--output", str(output), *forced)
    assert result.returncode == 0, result.stderr
    assert result.stderr == ""  # no progress bar when standard error is not a terminal
    words = bundled_words()
    assert result.stdout.startswith(f"read {len(words)} words from {BUNDLED}\n")
    numbers = [int(n) for n in re.findall(r"^iteration (\d+)(?:/\d+)?: \d+ candidates scored in [\d.]+ ms, \d+ changed$",
                                          result.stdout, re.M)]
    converged = re.search(r"^converged: iteration (\d+) changed no score$", result.stdout, re.M)
    if iterations:
        assert numbers == [1, 2] and not converged
    else:
        assert converged and numbers == list(range(1, int(converged.group(1)) + 1))
        assert re.search(rf"^iteration {numbers[-1]}: .* 0 changed$", result.stdout, re.M)
        assert not re.search(rf"^iteration {numbers[-2]}: .* 0 changed$", result.stdout, re.M)
    assert result.stdout.endswith(f"written to {output} (tab-separated: candidate, kind, length, score, "
                                  "own_best_cover)\n")

    # The file holds what the same number of direct calls gives.
    affixes = example.affix_candidates(words, 20, 5)
    scores = example.initial_scores(words, 8)
    whitelist = {c for w in words for c in w}
    for _ in numbers:
        scores.update(morvanex.run_scoring_iteration(set(words), affixes, scores, whitelist))
    written = read_results(output)
    assert written.keys() == set(words) | affixes
    assert [t for t, (_, value, _) in written.items() if struct.pack("<d", value) != struct.pack("<d", scores[t])] == []
    assert {t for t, (kind, _, _) in written.items() if kind == "both"} == set(words) & affixes
    assert {t for t, (_, _, own) in written.items() if own} == own_best_cover_by_model(
        written, affixes, scores, whitelist)


@requires_module
def test_custom_word_file(tmp_path):
    path = tmp_path / "mots.txt"
    lines = ["Walking", "walked", "", "  TALKING  ", "talked", "walked", "naïve", "naïvely", "😀ing", "😀ed"]
    path.write_bytes(b"\xef\xbb\xbf" + "\n".join(lines).encode("utf-8") + b"\n")

    result = run_script("--words", str(path), "--min-shared", "2", "--iterations", "3", "--whitelist", "😀d",
                        "--output", str(tmp_path / "out.tsv"))
    assert result.returncode == 0, result.stderr
    expected_words = {"walking", "walked", "talking", "talked", "naïve", "naïvely", "😀ing", "😀ed"}
    assert result.stdout.startswith(f"read {len(expected_words)} words from {path}\n")
    assert re.search(r"^iteration 3/3: ", result.stdout, re.M)
    written = read_results(tmp_path / "out.tsv")
    assert {t for t, (kind, _, _) in written.items() if kind != "affix"} == expected_words
    affixes = {t for t, (kind, _, _) in written.items() if kind != "root"}
    assert {"ed", "ing", "😀", "naïv", "walk", "talk"} <= affixes
    assert "ly" not in affixes  # only naïvely ends with it
    # One-character candidates off the whitelist (n, g, ...) have no cover and keep their score.
    scores = example.initial_scores(sorted(expected_words), 8)
    scores.update((t, value) for t, (_, value, _) in written.items())
    assert {t for t, (_, _, own) in written.items() if own} == own_best_cover_by_model(
        written, affixes, scores, {"😀", "d"})


@pytest.mark.parametrize(
    "make_path, message",
    [
        (lambda tmp: tmp / "missing.txt", "cannot read word list '{path}': No such file or directory"),
        (lambda tmp: tmp, "cannot read word list '{path}': Is a directory"),
        (lambda tmp: _write(tmp / "latin1.txt", "café\nnaïve\n".encode("latin-1")),
         "word list '{path}' is not valid UTF-8 (byte 3: invalid continuation byte)"),
        (lambda tmp: _write(tmp / "blank.txt", b"\n   \n\t\n"), "word list '{path}' holds no words"),
    ],
    ids=["missing", "directory", "not-utf8", "no-words"],
)
def test_unusable_word_list_is_a_one_line_error(tmp_path, make_path, message):
    path = make_path(tmp_path)
    result = run_script("--words", str(path))
    assert result.returncode == 2
    assert result.stdout == ""
    assert result.stderr == f"score_vocabulary.py: error: {message.format(path=path)}\n"


@pytest.mark.parametrize("option, value", [("--iterations", "0"), ("--top", "-3"), ("--min-shared", "x")])
def test_bad_option_values_are_usage_errors(option, value):
    result = run_script(option, value)
    assert result.returncode == 2
    assert f"argument {option}:" in result.stderr
    assert "Traceback" not in result.stderr


@pytest.mark.parametrize(
    "raised, message",
    [
        ("ImportError('dynamic module does not define module export function (PyInit_morvanex)', name='morvanex')",
         "ImportError: dynamic module does not define module export function (PyInit_morvanex)"),
        ("ModuleNotFoundError(\"No module named 'morvanex'\", name='morvanex')",
         "ModuleNotFoundError: No module named 'morvanex' (install it: python -m pip install <path to morvanex>)"),
    ],
    ids=["broken-build", "not-installed"],
)
def test_import_failure_shows_its_cause(tmp_path, raised, message):
    (tmp_path / "morvanex.py").write_text(f"raise {raised}\n", encoding="utf-8")
    result = run_script(env={**os.environ, "PYTHONPATH": str(tmp_path)})
    assert result.returncode == 1
    assert result.stdout == ""
    assert result.stderr == f"score_vocabulary.py: error: cannot import morvanex: {message}\n"


def _write(path, data):
    path.write_bytes(data)
    return path


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
    assert example.affix_candidates(words, min_shared, max_length) == expected


def test_initial_scores_are_relative_frequencies_per_length():
    scores = example.initial_scores(["abab", "b"], 3)
    # Substrings of length 1: a, b, a, b, b; of length 2: ab, ba, ab; of length 3: aba, bab.
    assert scores == {"a": 2 / 5, "b": 3 / 5, "ab": 2 / 3, "ba": 1 / 3, "aba": 1 / 2, "bab": 1 / 2}
    assert example.initial_scores(["abcdef"], 2).keys() == {"a", "b", "c", "d", "e", "f",
                                                            "ab", "bc", "cd", "de", "ef"}


@requires_module
def test_session_on_bundled_words_matches_model():
    # Three iterations over real data, each fed with the previous merged
    # scores, computed by the module and by the model.
    words = bundled_words()
    affixes = example.affix_candidates(words, 20, 5)
    scores = example.initial_scores(words, 8)
    whitelist = {c for w in words for c in w}
    seen = []
    session = example.run_session(morvanex.run_scoring_iteration, words, affixes, scores, whitelist, 3,
                                  lambda number, result, changed, seconds: seen.append((number, len(result))))
    actual = session.scores
    expected = example.run_session(reference_model.run_scoring_iteration, words, affixes, scores, whitelist, 3).scores
    assert actual.keys() == expected.keys()
    assert [k for k in expected if struct.pack("<d", actual[k]) != struct.pack("<d", expected[k])] == []
    candidates = len(set(words) | affixes)
    assert seen == [(1, candidates), (2, candidates), (3, candidates)]
    # Merging keeps the substrings that are not candidates as they were.
    assert all(actual[k] == v for k, v in scores.items() if k not in affixes and k not in set(words))

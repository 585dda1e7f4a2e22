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


def run_script(*args):
    return subprocess.run(
        [sys.executable, SCRIPT, *args],
        capture_output=True,
        text=True,
        encoding="utf-8",
        timeout=300,
        cwd=REPO,
    )


def top_section(stdout, title):
    """(text, score) pairs listed under 'top N <title>:'."""
    lines = stdout.splitlines()
    start = next(k for k, line in enumerate(lines) if re.fullmatch(rf"top \d+ {title}:", line))
    entries = []
    for line in lines[start + 1 :]:
        match = re.fullmatch(r"\s*\d+  (\S+)  (.+)", line)
        if not match:
            break
        entries.append((match.group(2), float(match.group(1))))
    return entries


def bundled_words():
    with open(BUNDLED, encoding="utf-8") as handle:
        return [line.strip() for line in handle if line.strip()]


# ---------------------------------------------------------------------------
# End to end.


@requires_module
def test_bundled_word_list_session():
    result = run_script("--iterations", "2", "--top", "7")
    assert result.returncode == 0, result.stderr
    assert "Traceback" not in result.stderr
    words = bundled_words()
    assert result.stdout.startswith(f"{len(words)} root candidates, ")
    assert re.search(r"^iteration 1/2: \d+ candidates scored in [\d.]+ ms, \d+ changed$", result.stdout, re.M)
    assert re.search(r"^iteration 2/2: ", result.stdout, re.M)

    roots = top_section(result.stdout, "roots")
    affixes = top_section(result.stdout, "affixes")
    assert len(roots) == len(affixes) == 7
    assert {text for text, _ in roots} <= set(words)
    for listing in (roots, affixes):
        values = [value for _, value in listing]
        assert values == sorted(values, reverse=True)
    # Affix candidates: 1 to 5 characters, a proper prefix or suffix of at least 20 words.
    for affix, _ in affixes:
        assert 1 <= len(affix) <= 5
        sharing = [w for w in words if len(w) > len(affix) and (w.startswith(affix) or w.endswith(affix))]
        assert max(
            sum(w.startswith(affix) for w in sharing), sum(w.endswith(affix) for w in sharing)
        ) >= 20


@requires_module
def test_custom_word_file(tmp_path):
    path = tmp_path / "mots.txt"
    lines = ["Walking", "walked", "", "  TALKING  ", "talked", "walked", "naïve", "naïvely", "😀ing", "😀ed"]
    path.write_bytes(b"\xef\xbb\xbf" + "\n".join(lines).encode("utf-8") + b"\n")

    result = run_script("--words", str(path), "--min-shared", "2", "--iterations", "3", "--top", "50")
    assert result.returncode == 0, result.stderr
    expected_words = {"walking", "walked", "talking", "talked", "naïve", "naïvely", "😀ing", "😀ed"}
    assert result.stdout.startswith(f"{len(expected_words)} root candidates, ")
    assert re.search(r"^iteration 3/3: ", result.stdout, re.M)
    assert {text for text, _ in top_section(result.stdout, "roots")} == expected_words
    affixes = {text for text, _ in top_section(result.stdout, "affixes")}
    assert {"ed", "ing", "😀", "naïv", "walk", "talk"} <= affixes
    assert "ly" not in affixes  # only naïvely ends with it


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
    actual = example.run_session(morvanex.run_scoring_iteration, words, affixes, scores, whitelist, 3,
                                 lambda number, result, changed, seconds: seen.append((number, len(result))))
    expected = example.run_session(reference_model.run_scoring_iteration, words, affixes, scores, whitelist, 3)
    assert actual.keys() == expected.keys()
    assert [k for k in expected if struct.pack("<d", actual[k]) != struct.pack("<d", expected[k])] == []
    candidates = len(set(words) | affixes)
    assert seen == [(1, candidates), (2, candidates), (3, candidates)]
    # Merging keeps the substrings that are not candidates as they were.
    assert all(actual[k] == v for k, v in scores.items() if k not in affixes and k not in set(words))

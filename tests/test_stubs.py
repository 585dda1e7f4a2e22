"""The typed API in morvanex-stubs, checked with mypy and mypy.stubtest (and
morvanex_covers-stubs with stubtest)."""

import importlib.util
import os
import re
import shutil
import subprocess
import sys
import textwrap

import pytest

pytest.importorskip("mypy", reason="mypy is not installed")

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
STUB = os.path.join(REPO, "morvanex-stubs", "__init__.pyi")

GOOD_CALLS = textwrap.dedent(
    """\
    import collections
    from typing import Dict, FrozenSet, List, Set

    from typing_extensions import assert_type

    import morvanex


    class Word(str): ...


    class Words(Set[str]): ...


    class Half:
        def __float__(self) -> float:
            return 0.5


    class Three:
        def __index__(self) -> int:
            return 3


    roots: Set[str] = {"walk", "walked"}
    affixes: FrozenSet[str] = frozenset({"ed"})
    scores: Dict[str, float] = {"walk": 0.5, "ed": 0.25}
    result = morvanex.run_scoring_iteration(roots, affixes, scores, {"a"})
    assert_type(result, Dict[str, float])
    assert_type(morvanex.__all__, List[str])
    assert_type(morvanex.__version__, str)

    morvanex.run_scoring_iteration(
        root_candidates=set(), affix_candidates=set(), scores={}, one_char_whitelist=set()
    )
    morvanex.run_scoring_iteration(set(), set(), {"a": 1}, set())
    morvanex.run_scoring_iteration(set(), set(), {"a": True}, set())
    morvanex.run_scoring_iteration(set(), set(), {"a": Half()}, set())
    morvanex.run_scoring_iteration(set(), set(), {"a": Three()}, set())
    morvanex.run_scoring_iteration(set(), set(), collections.OrderedDict([("a", 1.0)]), set())
    morvanex.run_scoring_iteration(set(), set(), collections.defaultdict(float), set())
    morvanex.run_scoring_iteration({Word("x")}, Words(), {Word("x"): 2.0}, frozenset({Word("x")}))
    merged: Dict[str, float] = dict(scores)
    merged.update(morvanex.run_scoring_iteration(roots, affixes, merged, set()))
    """
)

# Every line marked "# wrong" must be reported by mypy, and no other line.
WRONG_CALLS = textwrap.dedent(
    """\
    from typing import Dict, List

    import morvanex

    morvanex.run_scoring_iteration(["walk"], set(), {}, set())  # wrong: list of candidates
    morvanex.run_scoring_iteration(set(), ("ed",), {}, set())  # wrong: tuple of candidates
    morvanex.run_scoring_iteration(set(), set(), {}, {"a": 1}.keys())  # wrong: dict view
    morvanex.run_scoring_iteration({b"walk"}, set(), {}, set())  # wrong: bytes elements
    morvanex.run_scoring_iteration(set(), set(), {1: 1.0}, set())  # wrong: int keys
    morvanex.run_scoring_iteration(set(), set(), {"a": "1.0"}, set())  # wrong: str values
    morvanex.run_scoring_iteration(set(), set(), {"a": None}, set())  # wrong: None values
    morvanex.run_scoring_iteration(set(), set(), [("a", 1.0)], set())  # wrong: pairs, not a dict
    morvanex.run_scoring_iteration(set(), set(), {}, set(), set())  # wrong: five arguments
    morvanex.run_scoring_iteration(set(), set(), {})  # wrong: three arguments
    morvanex.run_scoring_iteration(set(), set(), {}, whitelist=set())  # wrong: keyword name
    count: int = morvanex.run_scoring_iteration(set(), set(), {}, set())  # wrong: result type
    texts: Dict[str, str] = morvanex.run_scoring_iteration(set(), set(), {}, set())  # wrong: value type
    names: List[int] = morvanex.__all__  # wrong: __all__ holds str
    release: int = morvanex.__version__  # wrong: __version__ is a str
    morvanex.PanicException  # wrong: not a module attribute
    """
)


@pytest.fixture(scope="module")
def stub_path(tmp_path_factory):
    """A search path where mypy finds the repository's stubs as module morvanex."""
    root = tmp_path_factory.mktemp("stubs")
    os.makedirs(root / "morvanex")
    shutil.copyfile(STUB, root / "morvanex" / "__init__.pyi")
    return root


def run_mypy(directory, source, stub_path):
    path = directory / "calls.py"
    path.write_text(source, encoding="utf-8")
    env = dict(os.environ, MYPYPATH=str(stub_path))
    result = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-error-summary", "--cache-dir",
         str(directory / ".mypy_cache"), "--hide-error-context", "--no-pretty", str(path)],
        capture_output=True, text=True, env=env, cwd=str(directory), timeout=300,
    )
    errors = {}
    for line in result.stdout.splitlines():
        match = re.match(r".*calls\.py:(\d+): error: (.*)", line)
        if match:
            errors.setdefault(int(match.group(1)), []).append(match.group(2))
    return result, errors


def test_correct_calls_pass(tmp_path, stub_path):
    result, errors = run_mypy(tmp_path, GOOD_CALLS, stub_path)
    assert errors == {}, result.stdout
    assert result.returncode == 0, result.stdout + result.stderr


@pytest.fixture(scope="module")
def wrong_call_errors(tmp_path_factory, stub_path):
    result, errors = run_mypy(tmp_path_factory.mktemp("wrong"), WRONG_CALLS, stub_path)
    assert result.returncode == 1, result.stdout + result.stderr
    return errors


WRONG_LINES = [
    (number, line.split("# wrong: ")[1])
    for number, line in enumerate(WRONG_CALLS.splitlines(), 1)
    if "# wrong" in line
]


@pytest.mark.parametrize("line, why", WRONG_LINES, ids=[why for _, why in WRONG_LINES])
def test_wrong_call_is_reported(wrong_call_errors, line, why):
    assert line in wrong_call_errors, f"mypy accepted line {line} ({why})"


def test_only_wrong_calls_are_reported(wrong_call_errors):
    assert set(wrong_call_errors) == {number for number, _ in WRONG_LINES}


def _installed_files():
    from importlib import metadata

    try:
        return [str(path).replace(os.sep, "/") for path in metadata.files("morvanex") or []]
    except metadata.PackageNotFoundError:
        return None


MODULES = ["morvanex", "morvanex_covers"]


@pytest.mark.parametrize("module", MODULES)
def test_wheel_ships_the_stub_package(module):
    files = _installed_files()
    if files is None:
        pytest.skip("morvanex is not installed as a distribution")
    assert f"{module}-stubs/__init__.pyi" in files


@pytest.mark.parametrize("module", MODULES)
def test_stubtest_agrees_with_the_module(tmp_path, module):
    if importlib.util.find_spec(module) is None:
        pytest.skip(f"{module} is not installed")
    if _installed_files() is None or f"{module}-stubs/__init__.pyi" not in _installed_files():
        pytest.skip(f"the installed {module} has no stub package")
    env = {key: value for key, value in os.environ.items() if key != "MYPYPATH"}
    # ScoreTable's instances carry a field of their own, which newer stubtests
    # want marked as a disjoint base: a decorator that the older mypy releases
    # still serving Python 3.8 do not know, so the check is set aside for it.
    allowlist = tmp_path / "allowlist.txt"
    allowlist.write_text("morvanex_covers.ScoreTable\n")
    result = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", module, "--allowlist", str(allowlist), "--ignore-unused-allowlist"],
        capture_output=True, text=True, env=env, cwd=str(tmp_path), timeout=300,
    )
    assert result.returncode == 0, result.stdout + result.stderr
    assert "Success" in result.stdout

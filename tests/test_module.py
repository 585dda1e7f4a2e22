"""Module initialisation: attributes, the exported symbol, single initialisation."""

import importlib.metadata
import shutil
import subprocess

import pytest

import morvanex
from contract_texts import INITIALISED_TWICE


@pytest.mark.parametrize(
    "read, expected",
    [
        (lambda m: m.__all__, ["run_scoring_iteration"]),
        (lambda m: type(m.__all__), list),
        (lambda m: m.__doc__, ""),
        (lambda m: m.__name__, "morvanex"),
        (lambda m: m.run_scoring_iteration.__name__, "run_scoring_iteration"),
        (lambda m: m.run_scoring_iteration.__module__, "morvanex"),
        (
            lambda m: m.run_scoring_iteration.__text_signature__,
            "(root_candidates, affix_candidates, scores, one_char_whitelist)",
        ),
        (lambda m: m.run_scoring_iteration.__doc__, None),
        (lambda m: m.run_scoring_iteration.__self__ is m, True),
        (lambda m: hasattr(m, "PanicException"), False),
    ],
    ids=[
        "all",
        "all-is-list",
        "module-doc",
        "module-name",
        "function-name",
        "function-module",
        "text-signature",
        "function-doc",
        "function-self",
        "no-panic-attribute",
    ],
)
def test_module_and_function_attributes(read, expected):
    assert read(morvanex) == expected


def test_version_is_the_installed_distribution_version():
    assert morvanex.__version__ == importlib.metadata.version("morvanex")


def test_signature_is_introspectable():
    import inspect

    parameters = inspect.signature(morvanex.run_scoring_iteration).parameters
    assert list(parameters) == ["root_candidates", "affix_candidates", "scores", "one_char_whitelist"]
    assert {p.kind for p in parameters.values()} == {inspect.Parameter.POSITIONAL_OR_KEYWORD}


def test_overview_example():
    result = morvanex.run_scoring_iteration(
        {"abcd"},
        set(),
        {"a": 0.5, "ab": 1.0, "bc": 5.0, "cd": 1.5, "d": 0.5, "abcd": 2.0},
        {"a", "d"},
    )
    assert result == {"abcd": 0.03571428571428571}
    assert type(result) is dict


# Each snippet runs inside a try block after `first = morvanex`.
SECOND_IMPORTS = {
    "import-statement": 'del sys.modules["morvanex"]\nimport morvanex',
    "module-from-spec": (
        "import importlib.util\n"
        'spec = importlib.util.spec_from_file_location("morvanex", first.__file__)\n'
        "importlib.util.module_from_spec(spec)"
    ),
}

CHECK_AFTER_SECOND_IMPORT = """
except ImportError as error:
    print("ImportError:", error)
    print("cause:", error.__cause__)
else:
    print("no error")
print(first.run_scoring_iteration({"ab"}, set(), {"a": 1.0, "b": 2.0}, {"a", "b"}))
print(first.__all__)
"""


@pytest.mark.parametrize("second_import", list(SECOND_IMPORTS.values()), ids=list(SECOND_IMPORTS))
def test_second_initialisation_raises_import_error_and_first_module_keeps_working(
    run_python, second_import
):
    indented = "".join("    " + line + "\n" for line in second_import.splitlines())
    process = run_python(
        "import sys\nimport morvanex\nfirst = morvanex\ntry:\n" + indented + CHECK_AFTER_SECOND_IMPORT
    )
    assert process.returncode == 0, process.stderr
    lines = process.stdout.splitlines()
    assert lines[0] == "ImportError: " + INITIALISED_TWICE
    assert lines[1] == "cause: None"
    assert lines[2] == "{'ab': 0.125}"
    assert lines[3] == "['run_scoring_iteration']"


def test_only_the_init_entry_is_exported():
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm is not available")
    listing = subprocess.run(
        [nm, "-D", "--defined-only", morvanex.__file__], capture_output=True, text=True, check=True
    ).stdout
    exported = [line.split()[-1] for line in listing.splitlines() if line.strip()]
    assert exported == ["PyInit_morvanex"]

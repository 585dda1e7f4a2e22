"""Shared fixtures for the tests of the Python binding."""

import os
import subprocess
import sys
import textwrap

import pytest

# The plain-Python model of the module lives in reference/ beside the C++
# literal scorer, since the benchmarks check against it too. Found from this
# file, so that the suite runs from any directory against the installed module.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "reference"))

# Tests that make allocations fail by limiting the address space (RLIMIT_AS)
# and read the process's memory from /proc: Linux only.
linux_only = pytest.mark.skipif(
    not sys.platform.startswith("linux"), reason="limits the address space with RLIMIT_AS and reads /proc"
)


@pytest.fixture
def run_python():
    """Run a Python snippet in a fresh interpreter and return the completed process.

    Output is unbuffered (-u) so that what the module writes to the standard
    error descriptor and what the interpreter writes to sys.stderr arrive in
    the order they happened.
    """

    def run(source, timeout=120):
        return subprocess.run(
            [sys.executable, "-u", "-c", textwrap.dedent(source)],
            capture_output=True,
            text=True,
            encoding="utf-8",
            errors="backslashreplace",
            timeout=timeout,
        )

    return run


@pytest.fixture(scope="session")
def panic_exception():
    """The PanicException class, obtained the only way Python code can: by catching one.

    A set subclass whose __iter__ raises makes the module fail internally.
    """
    import morvanex
    from probe_values import IterRaises

    try:
        morvanex.run_scoring_iteration(IterRaises(), set(), {}, set())
    except BaseException as error:  # noqa: B036 - PanicException derives from BaseException
        return type(error)
    pytest.fail("an iterator that raises did not end the call")

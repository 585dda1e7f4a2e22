"""Shared fixtures for the tests of the Python binding."""

import os
import platform
import signal
import subprocess
import sys
import textwrap

import pytest

# The plain-Python model of the module lives in reference/ beside the C++
# literal scorer, since the benchmarks check against it too. Found from this
# file, so that the suite runs from any directory against the installed module.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "reference"))

# Tests that read the process's memory from /proc: Linux only.
linux_only = pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads the process's memory from /proc")

ADDRESS_SPACE_PROBE = """
import resource
with open("/proc/self/status") as status:
    size = next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmSize:"))
resource.setrlimit(resource.RLIMIT_AS, (size + (64 << 20), resource.RLIM_INFINITY))
if resource.getrlimit(resource.RLIMIT_AS)[0] == resource.RLIM_INFINITY:
    print("RLIMIT_AS is not kept here: getrlimit reports no limit after setrlimit set one")
else:
    try:
        block = bytearray(1 << 30)
        print("RLIMIT_AS is not enforced here: 1 GiB was allocated under a limit of 64 MiB more than in use")
    except MemoryError:
        pass
"""


def address_space_limit_unenforced():
    """Why a limit on the address space cannot make allocations fail here, or None where it can.

    Emulators (qemu-user) accept the limit without applying it. The probe runs
    without preloaded sanitizer runtimes, which handle failed allocations their
    own way (the tests concerned skip themselves under them).
    """
    if not sys.platform.startswith("linux"):
        return "limits the address space with RLIMIT_AS and reads /proc: Linux only"
    environment = {name: value for name, value in os.environ.items() if name != "LD_PRELOAD"}
    probe = subprocess.run(
        [sys.executable, "-c", ADDRESS_SPACE_PROBE], capture_output=True, text=True, env=environment, timeout=60
    )
    return probe.stdout.strip() or None


# Tests that make allocations fail by limiting the address space (RLIMIT_AS).
_unenforced = address_space_limit_unenforced()
limits_address_space = pytest.mark.skipif(_unenforced is not None, reason=_unenforced or "")

# What ends a failure report where the module cannot print its native call
# stack: builds for musl and Windows, and MORVANEX_GENERIC_PLATFORM builds,
# whose test runs set that variable too.
NO_NATIVE_STACK = "note: no native call stack is available on this platform\n"
BACKTRACE_HINT = "note: run with the environment variable MORVANEX_BACKTRACE=1 to print the native call stack\n"
native_stack_printed = (
    sys.platform == "darwin" or platform.libc_ver()[0] == "glibc"
) and not os.environ.get("MORVANEX_GENERIC_PLATFORM")


# Keyword arguments for a child process that a test sends SIGINT (or whose
# code raises it): SIGINT at its default, so that the interpreter installs its
# KeyboardInterrupt handler even where the suite runs with SIGINT ignored, as
# a background job of a shell without job control does.
DEFAULT_SIGINT = {"preexec_fn": lambda: signal.signal(signal.SIGINT, signal.SIG_DFL)} if os.name == "posix" else {}


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
            **DEFAULT_SIGINT,
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

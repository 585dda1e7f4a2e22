"""The fixed texts of the module's contract that tests in several files compare
byte for byte, written out once from the documented behaviour."""

PARAMETERS = ["root_candidates", "affix_candidates", "scores", "one_char_whitelist"]

INITIALISED_TWICE = (
    "PyO3 modules compiled for CPython 3.8 or older may only be initialized once per interpreter process"
)

# How a PanicException from an exception in a set's iterator begins.
ITERATION_FAILED = "called `Result::unwrap()` on an `Err` value: PyErr { type: "

DICT_CHANGED_SIZE = "dictionary changed size during iteration"
DICT_KEYS_CHANGED = "dictionary keys changed during iteration"

# Written to standard error before the traceback of a PanicException that
# comes back out of Python code.
RESUME_BANNER = (
    "--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n"
    "Python stack trace below:\n"
)


def cannot_convert(parameter, type_name, target):
    """The TypeError message of an argument, or a value inside it, of the wrong type."""
    return f"argument '{parameter}': '{type_name}' object cannot be converted to '{target}'"


def bad_thread_count(setting):
    return f"MORVANEX_NUM_THREADS must be unset, empty, 0 (one thread per core) or a positive integer, not '{setting}'"

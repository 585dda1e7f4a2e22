"""Loading the programs in examples/ as modules, for the tests that use them."""

import importlib.util
import os

EXAMPLES = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "examples")


def example_path(file_name):
    return os.path.join(EXAMPLES, file_name)


def load_example(file_name):
    """The example script `file_name` imported as a module named after it."""
    spec = importlib.util.spec_from_file_location(file_name[: -len(".py")], example_path(file_name))
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module

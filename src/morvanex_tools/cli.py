"""The `morvanex` command: its subcommands, one-line errors, and what a stop (Ctrl-C, a closed pipe) leaves."""

import argparse
import gc
import os
import sys
import time

from morvanex_tools import segment, train
from morvanex_tools.outputs import UsageError
from morvanex_tools.progress import Progress
from morvanex_tools.sessions import SESSION_VERSION
from morvanex_tools.words import WordListError

PROG = "morvanex"


class _ShowVersion(argparse.Action):
    """--version: imports morvanex only when asked, so that a broken build still shows it."""

    def __init__(self, option_strings, dest, **kwargs):
        super().__init__(option_strings, dest, nargs=0, default=argparse.SUPPRESS, **kwargs)

    def __call__(self, parser, namespace, values, option_string=None):
        try:
            import morvanex
        except ImportError as error:
            found = f"morvanex cannot be imported ({type(error).__name__}: {error})"
        else:
            found = f"morvanex {morvanex.__version__} ({morvanex.__file__})"
        print(f"{PROG} command (session format {SESSION_VERSION}) with {found}")
        parser.exit()


def build_parser():
    parser = argparse.ArgumentParser(
        prog=PROG, description="Score the roots and affixes of a word list with morvanex, and segment words "
                               "with the final scores.")
    parser.add_argument("--version", action=_ShowVersion, help="show the versions of this command and of morvanex")
    subcommands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    for command in (train, segment):
        command.add_parser(subcommands)
    return parser


def fail(prog, message, code=2):
    print(f"{prog}: error: {message}", file=sys.stderr)
    return code


def exit_now(status):
    """Ends the process with `status` once standard output and error are flushed.

    A session holds millions of objects: freeing them one by one, as
    returning would, only delays an exit that hands all memory back anyway.
    A closed pipe is raised, as a write would raise it; another failure to
    flush returns `status`, for the interpreter's exit to report as usual.
    """
    try:
        sys.stdout.flush()
        sys.stderr.flush()
    except BrokenPipeError:
        raise
    except OSError:
        return status
    os._exit(status)


def main(argv=None, exit_when_done=False):
    """The command on `argv` (default: the command line); its exit status.

    `exit_when_done` (the console command's choice) ends the process as soon
    as a subcommand is done, with its status, instead of returning.
    """
    started = time.perf_counter()
    # A session makes millions of tuples and lists and no cycles worth
    # collecting: the collector would only walk them again and again.
    gc.disable()
    args = build_parser().parse_args(argv)
    # What a subcommand returns its status through.
    args.done = exit_now if exit_when_done else (lambda status: status)
    prog = f"{PROG} {args.command}"
    Progress.shown = sys.stderr.isatty() and not args.quiet
    pending = []
    try:
        try:
            import morvanex
        except ImportError as error:
            missing = isinstance(error, ModuleNotFoundError) and error.name == "morvanex"
            hint = " (install it: python -m pip install <path to morvanex>)" if missing else ""
            return fail(prog, f"cannot import morvanex: {type(error).__name__}: {error}{hint}", 1)
        try:
            # The module reads MORVANEX_NUM_THREADS on every call: an empty
            # call checks it before any work.
            morvanex.run_scoring_iteration(set(), set(), {}, set())
        except ValueError as error:
            return fail(prog, str(error))
        try:
            return args.run(args, morvanex, pending, started)
        except (UsageError, WordListError) as error:
            return fail(prog, str(error))
    except (KeyboardInterrupt, BrokenPipeError) as stop:
        unchanged = [output.target for output in pending]
        if isinstance(stop, BrokenPipeError):
            # Standard output is gone: send what the interpreter still flushes at exit nowhere.
            os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
            message, code = f"{prog}: error: standard output was closed", 1
        else:
            message, code = "interrupted", 130
        left = f"; {' and '.join(unchanged)} left unchanged" if unchanged else ""
        print(message + left, file=sys.stderr)
        return code
    finally:
        for output in pending:
            output.discard()


def command():
    """The console command `morvanex`."""
    return main(exit_when_done=True)

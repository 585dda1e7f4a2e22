#!/usr/bin/env python3
"""A whole `morvanex train` session per word list: each step's time, against the session's own calls.

    python benchmarks/bench_session.py                          # Polish and English
    python benchmarks/bench_session.py --lists english
    python benchmarks/bench_session.py --command "python ../old/examples/score_vocabulary.py"   # an earlier checkout

Word lists are Debian's (apt-get install wpolish wamerican-large); a missing
one is skipped.  Each session runs in a child process that trains to
convergence, writes the results, segments every word of its own list and
saves the session, in a scratch directory; the step times are the ones the
command prints, and the peak memory is the child's maximum resident set size
(getrusage through wait4).  Then `morvanex segment --load` segments the
list's first word, and every word, with the saved session, each timed whole.
"""

import argparse
import os
import platform
import re
import shlex
import subprocess
import sys
import tempfile
import time

WORD_LISTS = {"polish": "/usr/share/dict/polish", "english": "/usr/share/dict/american-english-large"}
DEFAULT_COMMAND = [sys.executable, "-m", "morvanex_tools", "train"]

# The steps in the command's own lines, in seconds; `iteration` lines give milliseconds.
STEP_LINES = {
    "preparation": r"^prepared in ([\d.]+) s",
    "indexing the final scores": r"^indexed \d+ final scores for the searches below in ([\d.]+) s",
    "best covers ranking the units": r"^best covers of \d+ words, to rank the units by use, in ([\d.]+) s",
    "own best cover and writing the results": r"^final scores of .* written to .* in ([\d.]+) s",
    "segmenting every word and writing the segments":
        r"^segmentations of \d+ words found and written to .* in ([\d.]+) s",
    "saving the session": r"^session saved to .* in ([\d.]+) s",
}
CALL_LINE = r"^iteration \d+(?:/\d+)?: \d+ candidates scored in ([\d.]+) ms"
TOTAL_LINE = r"^total: ([\d.]+) s"


def run_session(command, words, directory):
    """({step: seconds}, [seconds of each call], whole session s, peak resident MiB) of one session."""
    arguments = [*command, "--words", words, "--segment-file", words, "--output", "scores.tsv",
                 "--segments-output", "segments.tsv", "--save", "session.json"]
    with open(os.path.join(directory, "stdout.txt"), "w+", encoding="utf-8") as stdout:
        child = subprocess.Popen(arguments, cwd=directory, stdout=stdout, stderr=subprocess.PIPE)
        stderr = child.stderr.read()
        _, status, usage = os.wait4(child.pid, 0)
        child.returncode = os.waitstatus_to_exitcode(status)
        stdout.seek(0)
        output = stdout.read()
    if child.returncode != 0:
        sys.exit(f"{shlex.join(arguments)} failed ({child.returncode}):\n{stderr.decode(errors='replace')}")
    steps = {}
    for step, pattern in STEP_LINES.items():
        found = re.search(pattern, output, re.M)
        if found:
            steps[step] = float(found.group(1))
    calls = [float(ms) / 1000.0 for ms in re.findall(CALL_LINE, output, re.M)]
    whole = float(re.search(TOTAL_LINE, output, re.M).group(1))
    return steps, calls, whole, usage.ru_maxrss / 1024.0  # KiB on Linux


def run_segment(command, given, directory):
    """(seconds, peak resident MiB) of segmenting `given` (bytes, a word per line) with the saved session."""
    with open(os.path.join(directory, "to_segment.txt"), "wb") as handle:
        handle.write(given)
    arguments = [*command, "--load", "session.json", "to_segment.txt"]
    started = time.perf_counter()
    child = subprocess.Popen(arguments, cwd=directory, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    stderr = child.stderr.read()
    _, status, usage = os.wait4(child.pid, 0)
    seconds = time.perf_counter() - started
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{shlex.join(arguments)} failed:\n{stderr.decode(errors='replace')}")
    return seconds, usage.ru_maxrss / 1024.0


def row(label, cells):
    return f"| {label} | " + " | ".join(cells) + " |"


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--lists", default="polish,english",
                        help=f"comma-separated word lists among {', '.join(WORD_LISTS)} (default: both)")
    parser.add_argument("--command", type=shlex.split,
                        help="the session command to measure, which gets --words and the file options "
                             "(default: this interpreter's -m morvanex_tools train)")
    args = parser.parse_args(argv)
    command = args.command or DEFAULT_COMMAND
    names = [name for name in args.lists.split(",") if os.path.exists(WORD_LISTS[name])]
    load = os.getloadavg()[0]
    # The saved session segments as a filter when the command is this package's train.
    segment_command = [*command[:-1], "segment"] if command[-1] == "train" else None
    runs, segmented = {}, {}
    for name in names:
        with tempfile.TemporaryDirectory(prefix="bench_session.") as directory:
            started = time.perf_counter()
            runs[name] = run_session(command, WORD_LISTS[name], directory)
            if segment_command:
                with open(WORD_LISTS[name], "rb") as handle:
                    every_word = handle.read()
                segmented[name] = [run_segment(segment_command, every_word.split(b"\n", 1)[0], directory),
                                   run_segment(segment_command, every_word, directory)]
            print(f"{name}: {time.perf_counter() - started:.1f} s", file=sys.stderr, flush=True)

    print(f"`{shlex.join(['python', 'benchmarks/bench_session.py', *(argv or sys.argv[1:])])}` on "
          f"{os.cpu_count()} CPUs, {platform.python_implementation()} {platform.python_version()}, "
          f"{platform.system()}; load average {load:.1f} at the start, {os.getloadavg()[0]:.1f} at the end; "
          f"one run each.\n")
    print(row("step", [f"{name} ({WORD_LISTS[name]})" for name in names]))
    print(row("---", ["---:"] * len(names)))
    for step in STEP_LINES:
        print(row(step, [f"{runs[name][0][step]:.2f} s" if step in runs[name][0] else "-" for name in names]))
    print(row("calls of run_scoring_iteration", [f"{sum(runs[name][1]):.2f} s ({len(runs[name][1])} calls)"
                                                 for name in names]))
    print(row("other (reading the list, merging each result, the report)",
              [f"{whole - sum(steps.values()) - sum(calls):.2f} s" for steps, calls, whole, _ in runs.values()]))
    print(row("**whole session**", [f"**{runs[name][2]:.2f} s**" for name in names]))
    print(row("whole session / calls", [f"{whole / sum(calls):.2f}×" for _, calls, whole, _ in runs.values()]))
    print(row("segmenting and writing / one call (mean)",
              [f"{steps['segmenting every word and writing the segments'] / (sum(calls) / len(calls)):.2f}×"
               for steps, calls, _, _ in runs.values()]))
    print(row("peak memory (maxrss)", [f"{peak:.0f} MiB" for *_, peak in runs.values()]))
    for index, what in enumerate(["one word", "every word of the list"]):
        if segmented:
            print(row(f"`morvanex segment --load` the saved session: {what} (whole command, peak memory)",
                      [f"{segmented[name][index][0]:.2f} s, {segmented[name][index][1]:.0f} MiB" for name in names]))
    return 0


if __name__ == "__main__":
    sys.exit(main())

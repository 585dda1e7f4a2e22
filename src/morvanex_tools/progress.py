"""Progress of the long steps on standard error, drawn by tqdm (the "progress" extra) when it is installed."""

import functools
import sys


@functools.lru_cache(maxsize=None)
def bar_type():
    """tqdm's bar, or None without tqdm: imported with the first bar, since importing it takes a tenth of a second."""
    try:
        from tqdm import tqdm
    except ImportError:
        return None
    return tqdm


class Progress:
    """A bar around a long step, moved by step(); without a total, the step's name while it runs.

    Drawn only when `shown` (set by the command: standard error is a terminal
    and no --quiet) and tqdm is installed; the bar goes away when the step ends.
    """

    shown = False

    def __init__(self, title, total=None):
        self.bar = None
        if self.shown and bar_type() is not None:
            self.bar = bar_type()(desc=title, total=total, leave=False, file=sys.stderr, dynamic_ncols=True,
                                  bar_format=None if total is not None else "{desc} ...")

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        if self.bar is not None:
            self.bar.close()

    def step(self, count=1):
        if self.bar is not None:
            self.bar.update(count)

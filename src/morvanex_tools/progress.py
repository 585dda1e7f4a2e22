"""Progress of the long steps on standard error, drawn by tqdm (the "progress" extra) when it is installed."""

import sys

try:
    from tqdm import tqdm
except ImportError:
    tqdm = None


class Progress:
    """A bar around a long step, moved by step(); without a total, the step's name while it runs.

    Drawn only when `shown` (set by the command: standard error is a terminal
    and no --quiet) and tqdm is installed; the bar goes away when the step ends.
    """

    shown = False

    def __init__(self, title, total=None):
        self.bar = None
        if self.shown and tqdm is not None:
            self.bar = tqdm(desc=title, total=total, leave=False, file=sys.stderr, dynamic_ncols=True,
                            bar_format=None if total is not None else "{desc} ...")

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        if self.bar is not None:
            self.bar.close()

    def step(self, count=1):
        if self.bar is not None:
            self.bar.update(count)

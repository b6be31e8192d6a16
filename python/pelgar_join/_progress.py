"""Progress reporting for the table layers: a tqdm bar behind the `progress(done, total)` protocol."""

import contextlib
import os
import sys

from ._extras import need


def _width():
    """Columns of the terminal on standard error; 80 where it does not tell (a new pseudo-terminal says 0)."""
    try:
        columns = os.get_terminal_size(sys.stderr.fileno()).columns
    except (AttributeError, OSError, ValueError):
        columns = 0
    return columns or 80


class _Bar:
    """Calls of `progress(done, total)` drawn as one tqdm bar, made on the first call."""

    def __init__(self, description, unit):
        self._tqdm = need("tqdm", "join").tqdm
        self._description = description
        self._unit = unit
        self._bar = None

    def __call__(self, done, total):
        if self._bar is None:
            self._bar = self._tqdm(total=total, desc=self._description, unit=self._unit,
                                   file=sys.stderr, ncols=_width())
        self._bar.update(done - self._bar.n)

    def close(self):
        if self._bar is not None:
            self._bar.close()


@contextlib.contextmanager
def progress_callback(progress, description="matching", unit=" queries"):
    """The callable to hand to the native layer for a `progress` argument of True, False, None or a callable."""
    if progress is None or progress is False:
        yield None
    elif progress is True:
        bar = _Bar(description, unit)
        try:
            yield bar
        finally:
            bar.close()
    elif callable(progress):
        yield progress
    else:
        raise TypeError(f"progress must be True, False, None or a callable, not {type(progress).__name__}")

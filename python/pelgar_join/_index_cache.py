"""Indexes of right partitions kept in each worker process of an engine, so that every task
that matches against a partition reuses its index instead of building it again."""

import sys
import threading
from collections import OrderedDict

from . import _native

# Indexes kept at once; the one least recently used goes first.
LIMIT = 16
# And no more memory than this share of what the process could hold with them: a worker that
# outlives many joins keeps their indexes until others push them out.
SHARE = 0.5

_lock = threading.Lock()
_indexes = OrderedDict()  # type: OrderedDict


def index_for(token, build):
    """The index cached under `token` in this process, made by build() on first need."""
    with _lock:
        index = _indexes.get(token)
        if index is not None:
            _indexes.move_to_end(token)
            return index
    # Built without the lock: another thread may build the same one, and the first kept wins.
    made = build()
    with _lock:
        index = _indexes.setdefault(token, made)
        _indexes.move_to_end(token)
        _trim()
    return index


def _trim():
    """Drops the least recently used indexes past LIMIT or past SHARE of memory; the newest stays."""
    while len(_indexes) > LIMIT:
        _indexes.popitem(last=False)
    room = _native.memory_room()
    if room is None:
        return
    held = sum(sys.getsizeof(index) for index in _indexes.values())
    while len(_indexes) > 1 and held > SHARE * (room + held):
        _, dropped = _indexes.popitem(last=False)
        held -= sys.getsizeof(dropped)

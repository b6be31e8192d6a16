"""Indexes of right partitions kept in each worker process of an engine, so that every task
that matches against a partition reuses its index instead of building it again."""

import threading
from collections import OrderedDict

# Indexes kept at once; the one least recently used goes first.
LIMIT = 16

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
        while len(_indexes) > LIMIT:
            _indexes.popitem(last=False)
    return index

"""Row-position matching on top of pelgar's scores: top-k per query over a reusable
index, an exact threshold self-join, and clusters of near-duplicates."""

from ._join import Index, clusters, self_join

__all__ = ["Index", "self_join", "clusters"]

"""pelgar_join as a typed caller uses it; the one line marked "error" must be reported, and nothing else."""

from typing import List, Tuple

import pandas as pd

import pelgar_join as pj

index = pj.Index(["Cafe", None, "tea"], scorer="token_set")
size: int = len(index)
best: List[List[Tuple[int, float]]] = index.top_k(pd.Series(["cafe"], dtype=str), k=None, threshold=0.5, workers=2)
pairs: List[Tuple[int, int, float]] = pj.self_join(("a", "b"), 0.9)
labels: List[int] = pj.clusters(iter(["a", "a "]), 0.9, progress=lambda done, total: None)
frame: pd.DataFrame = pj.fuzzy_join(pd.DataFrame({"n": ["a"]}), pd.DataFrame({"n": ["a"]}), "n", k=2)
groups: "pd.Series[int]" = pj.dedupe(frame, "n", 0.9)
wrong: str = pj.clusters(["a"], 0.9)  # error

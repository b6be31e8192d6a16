"""pelgar_join as a typed caller uses it; the lines marked "error" must be reported, and nothing else."""

from typing import List, Tuple

import pandas as pd
import polars as pl

import pelgar_join as pj

index = pj.Index(["Cafe", None, "tea"], scorer="token_set")
size: int = len(index)
best: List[List[Tuple[int, float]]] = index.top_k(pd.Series(["cafe"], dtype=str), k=None, threshold=0.5, workers=2)
pairs: List[Tuple[int, int, float]] = pj.self_join(("a", "b"), 0.9)
labels: List[int] = pj.clusters(iter(["a", "a "]), 0.9, progress=lambda done, total: None)
frame: pd.DataFrame = pj.fuzzy_join(pd.DataFrame({"n": ["a"]}), pd.DataFrame({"n": ["a"]}), "n", k=2)
groups: "pd.Series[int]" = pj.dedupe(frame, "n", 0.9)
wrong: str = pj.clusters(["a"], 0.9)  # error
# Arrow in (a polars Series exports an Arrow stream) and columns out
arrow_index = pj.Index(pl.Series(["Cafe", None]))
rows: int = len(arrow_index.top_k(pl.Series(["cafe"]), k=3, columnar=True))
pair_rows: int = len(pj.self_join(pl.Series(["a", "a"]), 0.9, columnar=True))
table: pl.DataFrame = pl.DataFrame(pj.self_join(["a", "a"], 0.9, columnar=True))
joined: pl.DataFrame = pj.fuzzy_join(pl.DataFrame({"n": ["a"]}), pl.DataFrame({"n": ["a"]}), "n")
clusters: pl.Series = pj.dedupe(pl.DataFrame({"n": ["a"]}), "n", 0.9)
not_lists: List[List[Tuple[int, float]]] = index.top_k(["a"], columnar=True)  # error
# Records of several fields
people = pj.Index({"name": ["Ann Lee", None], "city": [None, "Paris"]}, weights={"name": 0.7, "city": 0.3},
                  scorers={"name": "token_sort"})
fields: Tuple[str, ...] = people.fields or ()
found: List[List[Tuple[int, float]]] = people.top_k({"name": ["ann"], "city": ["paris"]}, k=2, threshold=0.5)
record_pairs: List[Tuple[int, int, float]] = pj.self_join({"name": ["a", "a"]}, 0.9, weights={"name": 1.0})
record_labels: List[int] = pj.clusters({"name": pl.Series(["a"])}, 0.9, weights={"name": 1.0})
not_weights: str = people.weights  # error
# several weighted fields
weighted: pd.DataFrame = pj.fuzzy_join(pd.DataFrame({"n": ["a"], "c": ["b"]}), pd.DataFrame({"m": ["a"], "c": ["b"]}),
                                       on={"n": 0.6, "c": 0.4}, right_on={"n": "m"}, scorers={"c": "token_set"},
                                       field_scores=True)
weighted_groups: "pd.Series[int]" = pj.dedupe(frame, {"n": 1, "c": 0.5}, 0.9, scorers={"c": "token_sort"})
bad_weights = pj.fuzzy_join(frame, frame, on={"n": "heavy"})  # error

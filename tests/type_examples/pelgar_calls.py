"""Every function of pelgar called as a user would; it must type-check cleanly."""

from typing import List, Optional, Tuple

import numpy as np
import pandas as pd
from typing_extensions import assert_type

import pelgar

assert_type(pelgar.levenshtein("Saturday", "Sunday"), int)
assert_type(pelgar.jaro_winkler("MARTHA", "Marhta"), float)
assert_type(pelgar.trigram_similarity("night", "nacht"), float)
assert_type(pelgar.combined_score("Cafe", "CAFE"), float)
assert_type(pelgar.token_sort_ratio("new york", "york new"), float)
assert_type(pelgar.token_set_ratio("new york new york", "York New"), float)

names: List[str] = ["CAFE", "tea"]
assert_type(pelgar.best_match("Cafe", names), Optional[Tuple[str, float]])
assert_type(pelgar.best_match("Cafe", ("CAFE", "tea"), threshold=0.5), Optional[Tuple[str, float]])
assert_type(pelgar.best_match("Cafe", names, threshold=1), Optional[Tuple[str, float]])
assert_type(pelgar.rank_matches("Cafe", names, None), List[Tuple[str, float]])
assert_type(pelgar.batch_best_match(["Cafe", "te"], names), List[Optional[Tuple[str, float]]])

# Sequences that are not typing.Sequence but that the functions accept at run time.
array = np.array(["CAFE", "tea"])
# The dtype gives older pandas-stubs (Python 3.8) the item type too.
series = pd.Series(["CAFE", "tea"], dtype=str)
assert_type(pelgar.rank_matches("Cafe", array), List[Tuple[str, float]])
assert_type(pelgar.best_match("Cafe", series, threshold=np.float64(0.5)), Optional[Tuple[str, float]])
assert_type(pelgar.batch_best_match(series, array), List[Optional[Tuple[str, float]]])

found = pelgar.best_match("Cafe", names)
if found is not None:
    text, score = found
    assert_type(text, str)
    assert_type(score, float)

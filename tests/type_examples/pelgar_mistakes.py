"""Calls that are wrong; each line marked "error" must be reported, and nothing else."""

from typing import List

import pelgar

distance: str = pelgar.levenshtein("a", "b")  # error
pelgar.jaro_winkler("a", 1)  # error
numbers: List[int] = [1, 2]
pelgar.best_match("a", numbers)  # error
ranked: List[str] = pelgar.rank_matches("a", ["b"])  # error
pelgar.batch_best_match(["a"], ["b"], threshold="high")  # error
pelgar.normalize("a")  # error

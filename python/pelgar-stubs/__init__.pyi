"""Type stubs for pelgar: exact string similarity and fuzzy matching.

Every function normalises its texts first: surrounding whitespace, letter case and
diacritical marks are removed (Unicode 17.0). Scores are floats in [0.0, 1.0].
"""

from typing import List, Optional, Protocol, SupportsFloat, SupportsIndex, Tuple, Union

_Threshold = Union[SupportsFloat, SupportsIndex, None]

class _Texts(Protocol):
    """What the functions take as a list of texts: any sequence whose items are str, such as
    a list, a tuple, a NumPy array of str or a pandas Series of str (a str itself is refused
    at run time, which no type can say)."""

    def __len__(self) -> int: ...
    def __getitem__(self, index: int, /) -> str: ...

__all__: List[str]

def levenshtein(a: str, b: str) -> int:
    """Edit distance (unit-cost insertions, deletions, substitutions) in characters."""

def jaro_winkler(a: str, b: str) -> float:
    """Jaro-Winkler similarity; the first text drives the matching."""

def trigram_similarity(a: str, b: str) -> float:
    """Dice coefficient over the character trigrams of the two texts."""

def combined_score(a: str, b: str) -> float:
    """0.4 * Jaro-Winkler + 0.35 * (1 - distance / length) + 0.25 * trigram similarity."""

def token_sort_ratio(a: str, b: str) -> float:
    """combined_score of the texts with their words sorted."""

def token_set_ratio(a: str, b: str) -> float:
    """combined_score of the texts with their distinct words sorted."""

def best_match(query: str, candidates: _Texts, threshold: _Threshold = None) -> Optional[Tuple[str, float]]:
    """The candidate with the highest combined_score (the last of equal ones), if it reaches threshold."""

def rank_matches(query: str, candidates: _Texts, threshold: _Threshold = None) -> List[Tuple[str, float]]:
    """Every candidate that reaches threshold with its score, best first, ties in input order."""

def batch_best_match(
    queries: _Texts, candidates: _Texts, threshold: _Threshold = None
) -> List[Optional[Tuple[str, float]]]:
    """best_match for every query, computed on a pool of worker threads; answers in query order."""

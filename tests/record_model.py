"""Brute-force answers for records of several fields, from the single-field scorers.

A record is a mapping of field name to text (None or float NaN missing). Two records
score sum(w * s) / sum(w) over the fields present in both, summed in field order; two
records that share no present field have no score.
"""

from join_model import SCORE, is_missing


def record_score(left, right, fields, weights, scorers=None):
    """The score of two records, or None when they share no present field."""
    total = weight_sum = 0.0
    for field in fields:
        a, b = left[field], right[field]
        if is_missing(a) or is_missing(b):
            continue
        score = SCORE[(scorers or {}).get(field, "combined")](a, b)
        total += weights[field] * score
        weight_sum += weights[field]
    return None if weight_sum == 0.0 else total / weight_sum


def rows(columns):
    """The records of a mapping of equal-length columns."""
    fields = list(columns)
    return [{field: columns[field][i] for field in fields} for i in range(len(columns[fields[0]]))]


def top_k_brute(candidates, queries, weights, k, threshold, scorers=None):
    fields = list(weights)
    answers = []
    for query in rows(queries):
        found = []
        for i, candidate in enumerate(rows(candidates)):
            score = record_score(query, candidate, fields, weights, scorers)
            if score is not None and score >= threshold:
                found.append((i, score))
        found.sort(key=lambda item: (-item[1], item[0]))
        answers.append(found if k is None else found[:k])
    return answers


def self_join_brute(columns, weights, threshold, scorers=None):
    fields = list(weights)
    records = rows(columns)
    pairs = []
    for i, left in enumerate(records):
        for j in range(i + 1, len(records)):
            score = record_score(left, records[j], fields, weights, scorers)
            if score is not None and score >= threshold:
                pairs.append((i, j, score))
    return pairs

"""The module object: namespace, introspection, initialisation once per process, the build."""

import inspect
import subprocess
import sys
import textwrap

import pelgar

NAMES = [
    "levenshtein", "jaro_winkler", "trigram_similarity", "combined_score", "token_sort_ratio",
    "token_set_ratio", "best_match", "rank_matches", "batch_best_match",
]
SIGNATURES = {
    **{name: "(a, b)" for name in NAMES[:6]},
    "best_match": "(query, candidates, threshold=None)",
    "rank_matches": "(query, candidates, threshold=None)",
    "batch_best_match": "(queries, candidates, threshold=None)",
}
INTERPRETER_ATTRIBUTES = {"__name__", "__doc__", "__loader__", "__package__", "__spec__", "__file__"}


def test_namespace_is_the_nine_functions_and_all():
    assert pelgar.__all__ == NAMES
    assert type(pelgar.__all__) is list
    assert set(vars(pelgar)) == set(NAMES) | {"__all__"} | INTERPRETER_ATTRIBUTES
    assert pelgar.__doc__ == ""
    assert not hasattr(pelgar, "PanicException")


def test_function_objects():
    for name in NAMES:
        function = getattr(pelgar, name)
        assert function.__name__ == name
        assert function.__module__ == "pelgar"
        assert function.__self__ is pelgar
        assert function.__doc__ is None
        assert function.__text_signature__ == SIGNATURES[name]


def test_signatures_show_the_threshold_default():
    parameters = inspect.signature(pelgar.best_match).parameters
    assert list(parameters) == ["query", "candidates", "threshold"]
    assert parameters["threshold"].default is None
    assert all(p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD for p in parameters.values())
    assert str(inspect.signature(pelgar.levenshtein)) == "(a, b)"
    assert str(inspect.signature(pelgar.batch_best_match)) == "(queries, candidates, threshold=None)"


def test_stable_abi_build():
    assert pelgar.__file__.endswith(".abi3.so")


def test_second_initialisation_raises_import_error_and_old_functions_work():
    script = textwrap.dedent("""
        import sys
        import pelgar
        levenshtein = pelgar.levenshtein
        del sys.modules["pelgar"]
        try:
            import pelgar
        except ImportError as error:
            print(type(error).__name__, error)
        print(levenshtein("Saturday", "Sunday"))
        print(len(levenshtein.__self__.__all__))
    """)
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True)
    assert result.stdout.splitlines() == [
        "ImportError PyO3 modules compiled for CPython 3.8 or older may only be initialized once per interpreter process",
        "3",
        "9",
    ]

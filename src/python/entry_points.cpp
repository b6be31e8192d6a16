#include "python/entry_points.hpp"

#include <array>
#include <optional>

#include "matching/batch_best_match.hpp"
#include "matching/best_match.hpp"
#include "matching/rank_matches.hpp"
#include "measures/text_functions.hpp"
#include "python/argument_binding.hpp"
#include "python/argument_conversion.hpp"
#include "python/calling_frame.hpp"
#include "python/result_conversion.hpp"

namespace pelgar::python {

namespace {

constexpr std::array<const char* const, 2> pair_parameters{"a", "b"};
constexpr std::array<const char* const, 3> match_parameters{"query", "candidates", "threshold"};
constexpr std::array<const char* const, 3> batch_parameters{"queries", "candidates", "threshold"};

// Two texts shorter than this between them are scored within a millisecond or so.
constexpr std::size_t long_pair_bytes = std::size_t{1} << 12;

// Bind, then hand the slots to the body, all inside the calling frame.
template <std::size_t N, class Body>
PyObject* call(const char* name, const std::array<const char* const, N>& parameters, PyObject* args,
               PyObject* kwargs, Body&& body) {
    return run_in_frame([&]() -> PyObject* {
        std::array<PyObject*, N> slots{};
        // Every function requires its first two parameters.
        bind_arguments(Signature{name, parameters, 2}, args, kwargs, slots);
        return body(slots);
    });
}

// A two-string function: both texts converted in order, the logic, the scalar result.
template <class Logic, class Result>
PyObject* pair_call(const char* name, PyObject* args, PyObject* kwargs, Logic&& logic, Result&& result) {
    return call(name, pair_parameters, args, kwargs, [&](const std::array<PyObject*, 2>& slots) {
        const Utf8Text a = text_argument(slots[0], "a");
        const Utf8Text b = text_argument(slots[1], "b");
        std::optional<SignalWatch> watch;
        if (a.view().size() + b.view().size() >= long_pair_bytes) watch.emplace();
        return result(logic(a.view(), b.view()));
    });
}

// A query against candidates: query, candidates, threshold converted in order, then the
// search, then its result filtered by the threshold.
template <class Search, class Result>
PyObject* match_call(const char* name, PyObject* args, PyObject* kwargs, Search&& search, Result&& result) {
    return call(name, match_parameters, args, kwargs, [&](const std::array<PyObject*, 3>& slots) {
        const SignalWatch watch;
        const Utf8Text query = text_argument(slots[0], "query");
        const matching::TextList candidates = text_list_argument(slots[1], "candidates");
        const double threshold = threshold_argument(slots[2], "threshold");
        return result(search(query.view(), candidates), candidates, threshold);
    });
}

template <class Logic>
PyObject* score_call(const char* name, PyObject* args, PyObject* kwargs, Logic&& logic) {
    return pair_call(name, args, kwargs, logic, float_result);
}

}  // namespace

PyObject* levenshtein(PyObject*, PyObject* args, PyObject* kwargs) {
    return pair_call("levenshtein", args, kwargs, measures::levenshtein, int_result);
}

PyObject* jaro_winkler(PyObject*, PyObject* args, PyObject* kwargs) {
    return score_call("jaro_winkler", args, kwargs, measures::jaro_winkler);
}

PyObject* trigram_similarity(PyObject*, PyObject* args, PyObject* kwargs) {
    return score_call("trigram_similarity", args, kwargs, measures::trigram_similarity);
}

PyObject* combined_score(PyObject*, PyObject* args, PyObject* kwargs) {
    return score_call("combined_score", args, kwargs, measures::combined_score);
}

PyObject* token_sort_ratio(PyObject*, PyObject* args, PyObject* kwargs) {
    return score_call("token_sort_ratio", args, kwargs, measures::token_sort_ratio);
}

PyObject* token_set_ratio(PyObject*, PyObject* args, PyObject* kwargs) {
    return score_call("token_set_ratio", args, kwargs, measures::token_set_ratio);
}

PyObject* best_match(PyObject*, PyObject* args, PyObject* kwargs) {
    return match_call("best_match", args, kwargs, matching::find_best_match, match_result);
}

PyObject* rank_matches(PyObject*, PyObject* args, PyObject* kwargs) {
    return match_call("rank_matches", args, kwargs, matching::rank_all, match_list_result);
}

PyObject* batch_best_match(PyObject*, PyObject* args, PyObject* kwargs) {
    return call("batch_best_match", batch_parameters, args, kwargs, [](const std::array<PyObject*, 3>& slots) {
        const SignalWatch watch;
        const matching::TextList queries = text_list_argument(slots[0], "queries");
        const matching::TextList candidates = text_list_argument(slots[1], "candidates");
        const double threshold = threshold_argument(slots[2], "threshold");
        return answer_list_result(matching::batch_find_best(queries, candidates), candidates, threshold);
    });
}

}  // namespace pelgar::python

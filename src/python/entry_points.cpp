#include "python/entry_points.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "common/internal_failure.hpp"
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

constexpr std::array<const char* const, 2> kPairParameters{"a", "b"};
constexpr std::array<const char* const, 3> kMatchParameters{"query", "candidates", "threshold"};
constexpr std::array<const char* const, 3> kBatchParameters{"queries", "candidates", "threshold"};

// The objects of best_match's candidates that may still be the best, by index: kept as
// offered, in increasing index order, and dropped as the search releases them.
class Contenders {
public:
    void keep(std::size_t index, Ref item) { items_.emplace_back(index, std::move(item)); }

    // Drops the released indices, and empties the list: a few dozen at a time, mostly in
    // order, so one pass from the first of them finds them all.
    void drop(std::vector<std::size_t>& released) {
        if (released.empty()) return;
        std::sort(released.begin(), released.end());
        auto at = std::lower_bound(items_.begin(), items_.end(), released.front(),
                                   [](const auto& item, std::size_t index) { return item.first < index; });
        for (const std::size_t index : released) {
            while (at != items_.end() && at->first < index) ++at;
            if (at != items_.end() && at->first == index && at->second) {
                at->second = Ref();
                ++dropped_;
            }
        }
        released.clear();
        // Dropped entries are swept out once they are the larger part.
        if (dropped_ > kSweepAfter && 2 * dropped_ > items_.size()) {
            std::erase_if(items_, [](const auto& item) { return !item.second; });
            dropped_ = 0;
        }
    }

    std::vector<std::pair<std::size_t, Ref>> items() && { return std::move(items_); }

private:
    static constexpr std::size_t kSweepAfter = 64;
    std::vector<std::pair<std::size_t, Ref>> items_;
    std::size_t dropped_ = 0;
};

// Two texts shorter than this between them are scored within a millisecond or so.
constexpr std::size_t kLongPairCodePoints = std::size_t{1} << 12;

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

// The logic of a two-string function, over the texts as code points.
template <class Value>
using PairLogic = Value (*)(std::u32string_view, std::u32string_view);

// A two-string function: both texts converted in order, the logic, the scalar result.
template <class Value, class Result>
PyObject* pair_call(const char* name, PyObject* args, PyObject* kwargs, PairLogic<Value> logic, Result&& result) {
    return call(name, kPairParameters, args, kwargs, [&](const std::array<PyObject*, 2>& slots) {
        CodePointReader a_reader, b_reader;
        const std::u32string_view a = code_points_argument(slots[0], "a", a_reader);
        const std::u32string_view b = code_points_argument(slots[1], "b", b_reader);
        std::optional<SignalWatch> watch;
        if (a.size() + b.size() >= kLongPairCodePoints) watch.emplace();
        return result(logic(a, b));
    });
}

// A query against candidates: query, candidates, threshold converted in order, then the
// result filtered by the threshold. Each candidate is searched as soon as it is read, so the
// search is over when the candidates are converted; an argument error still ends the call
// before any result is made.
template <class Search, class Offer, class Result>
PyObject* match_call(const char* name, PyObject* args, PyObject* kwargs, Offer&& offer, Result&& result) {
    return call(name, kMatchParameters, args, kwargs, [&](const std::array<PyObject*, 3>& slots) {
        const SignalWatch watch;
        CodePointReader query_reader;
        Search search(code_points_argument(slots[0], "query", query_reader));
        auto kept = offer(search, slots[1]);
        const double threshold = threshold_argument(slots[2], "threshold");
        return result(std::move(search), std::move(kept), threshold);
    });
}

PyObject* score_call(const char* name, PyObject* args, PyObject* kwargs, PairLogic<double> logic) {
    return pair_call(name, args, kwargs, logic, float_result);
}

}  // namespace

PyObject* levenshtein(PyObject*, PyObject* args, PyObject* kwargs) {
    return pair_call<std::uint64_t>("levenshtein", args, kwargs, measures::levenshtein, int_result);
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
    return match_call<matching::BestMatchSearch>(
        "best_match", args, kwargs,
        [](matching::BestMatchSearch& search, PyObject* candidates) {
            // Only the objects of candidates that may still be the best are kept, for the
            // result: the best so far and those whose scores are still to come, a few blocks.
            Contenders contenders;
            std::size_t index = 0;
            for_each_text_argument(candidates, "candidates", [](std::size_t) {}, [&](Ref item, std::u32string_view text) {
                if (search.offer(text)) contenders.keep(index, std::move(item));
                contenders.drop(search.released());
                ++index;
            });
            return std::move(contenders).items();
        },
        [](matching::BestMatchSearch&& search, std::vector<std::pair<std::size_t, Ref>> contenders, double threshold) {
            const std::optional<matching::Match>& best = search.best();
            PyObject* best_item = nullptr;
            for (const auto& [index, item] : contenders)
                if (best && index == best->index) best_item = item.get();
            if (best && !best_item) throw InternalFailure("the best candidate's object was not kept");
            return match_result(best, best_item, threshold);
        });
}

PyObject* rank_matches(PyObject*, PyObject* args, PyObject* kwargs) {
    return match_call<matching::RankingSearch>(
        "rank_matches", args, kwargs,
        [](matching::RankingSearch& search, PyObject* candidates) {
            std::vector<Ref> items;
            for_each_text_argument(
                candidates, "candidates",
                [&](std::size_t size) {
                    items.reserve(size);
                    search.reserve(size);
                },
                [&](Ref item, std::u32string_view text) {
                    search.offer(text);
                    items.push_back(std::move(item));
                });
            return items;
        },
        [](matching::RankingSearch&& search, std::vector<Ref> items, double threshold) {
            return match_list_result(std::move(search).ranking(), items, threshold);
        });
}

PyObject* batch_best_match(PyObject*, PyObject* args, PyObject* kwargs) {
    return call("batch_best_match", kBatchParameters, args, kwargs, [](const std::array<PyObject*, 3>& slots) {
        const SignalWatch watch;
        matching::CodePointTexts queries;
        for_each_text_argument(
            slots[0], "queries", [&](std::size_t size) { queries.reserve(size); },
            [&](Ref, std::u32string_view text) { queries.push_back(text); });
        // Candidates are normalised as they are read; their objects are kept for the results.
        matching::PreparedCandidates candidates;
        std::vector<Ref> items;
        for_each_text_argument(
            slots[1], "candidates",
            [&](std::size_t size) {
                candidates.reserve(size);
                items.reserve(size);
            },
            [&](Ref item, std::u32string_view text) {
                candidates.add(text);
                items.push_back(std::move(item));
            });
        const double threshold = threshold_argument(slots[2], "threshold");
        return answer_list_result(matching::batch_find_best(queries, candidates), items, threshold);
    });
}

}  // namespace pelgar::python

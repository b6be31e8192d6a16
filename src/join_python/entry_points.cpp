// The native functions behind pelgar_join; the Python layer validates their arguments.
#include <Python.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "join/candidate_index.hpp"
#include "join/index_image.hpp"
#include "join/key_clusters.hpp"
#include "join/output_budget.hpp"
#include "join/prepared_texts.hpp"
#include "join/self_join.hpp"
#include "join_python/arguments.hpp"
#include "join_python/entry_points.hpp"
#include "join_python/memory_room.hpp"
#include "join_python/native_capsule.hpp"
#include "join_python/released_run.hpp"
#include "join_python/result_columns.hpp"
#include "join_python/result_lists.hpp"
#include "join_python/text_input.hpp"
#include "python/calling_frame.hpp"
#include "python/py_ref.hpp"
#include "python/python_error.hpp"
#include "text/utf8.hpp"

namespace pelgar::join_python {

using python::checked;
using python::PythonError;
using python::Ref;

namespace {

constexpr char kCapsuleName[] = "pelgar_join.Index";
using IndexCapsule = NativeCapsule<join::CandidateIndex, kCapsuleName>;

// The texts of a self-join entry point, prepared: (texts, threshold, scorer code, workers, progress).
struct SelfJoinCall {
    double threshold = 0.0;
    std::size_t threads = 0;
    PyObject* progress = nullptr;
    join::PreparedTexts prepared;
};

// Both self-join entry points take (texts, threshold, scorer code, workers, progress);
// self_join also takes whether to answer in columns.
SelfJoinCall self_join_call(PyObject* args, int* columnar = nullptr) {
    PyObject *texts = nullptr, *progress = nullptr;
    SelfJoinCall call;
    int scorer_code = 0;
    Py_ssize_t workers = 0;
    int ignored = 0;
    if (!PyArg_ParseTuple(args, columnar ? "OdinO|p" : "OdinO", &texts, &call.threshold, &scorer_code, &workers,
                          &progress, columnar ? columnar : &ignored))
        throw PythonError::fetch();
    const join::Scorer scorer = scorer_argument(scorer_code);
    const TextsWithGaps input = texts_argument(texts, "texts");
    call.threads = workers_argument(workers);
    call.progress = progress;
    call.prepared = prepare_all(input, scorer, call.threads);
    return call;
}

// Probes every key once, on the workers, by the row it first appears in, so that progress
// counts rows.
void probe_all(const join::SelfJoin& join, join::PairSink& sink, const SelfJoinCall& call,
               std::vector<std::size_t>* scored) {
    const join::KeyGroups& keys = join.keys();
    const std::vector<std::uint32_t> key_of = keys.keys_of_rows();
    run_released(call.threads, keys.row_count(), [&](std::size_t row) {
        const std::uint32_t key = key_of[row];
        if (key == join::KeyGroups::kNoKey || keys.first_row(key) != row) return;
        const std::size_t count = join.probe(key, sink);
        if (scored) (*scored)[key] = count;
    }, call.progress);
}

// Gathers the partners each probe finds, counting the pairs of rows they make against
// what memory can hold.
class FoundPartners final : public join::PairSink {
public:
    FoundPartners(const join::KeyGroups& keys, join::OutputBudget& budget)
        : keys_(keys), budget_(budget), partners_(keys.count()) {}

    void found(std::uint32_t key, std::uint32_t partner, double score) override {
        budget_.add(join::ordered_row_pairs(keys_, key, partner));
        const std::lock_guard guard(lock_);
        partners_[key].emplace_back(partner, score);
    }
    const std::vector<std::vector<std::pair<std::uint32_t, double>>>& partners() const { return partners_; }

private:
    const join::KeyGroups& keys_;
    join::OutputBudget& budget_;
    std::mutex lock_;  // probes report pairs of other keys too
    std::vector<std::vector<std::pair<std::uint32_t, double>>> partners_;
};

}  // namespace

PyObject* index_build(PyObject*, PyObject* args) {
    return python::run_in_frame([&]() -> PyObject* {
        PyObject* candidates = nullptr;
        int scorer_code = 0;
        Py_ssize_t workers = 0;
        if (!PyArg_ParseTuple(args, "Oin", &candidates, &scorer_code, &workers)) throw PythonError::fetch();
        const join::Scorer scorer = scorer_argument(scorer_code);
        const TextsWithGaps input = texts_argument(candidates, "candidates");
        join::PreparedTexts prepared = prepare_all(input, scorer, workers_argument(workers));
        auto index = without_lock([&] { return std::make_unique<join::CandidateIndex>(scorer, prepared); });
        return IndexCapsule::wrap(std::move(index));
    });
}

PyObject* index_from_keys(PyObject*, PyObject* args) {
    return python::run_in_frame([&]() -> PyObject* {
        PyObject* keys = nullptr;
        int scorer_code = 0;
        if (!PyArg_ParseTuple(args, "Oi", &keys, &scorer_code)) throw PythonError::fetch();
        const join::Scorer scorer = scorer_argument(scorer_code);
        const TextsWithGaps input = texts_argument(keys, "keys");
        join::PreparedTexts prepared;
        prepared.reserve(input.texts.size());
        for (std::size_t i = 0; i < input.texts.size(); ++i) {
            if (input.missing[i]) prepared.add_missing(); else prepared.add_key(input.texts[i]);
        }
        auto index = without_lock([&] { return std::make_unique<join::CandidateIndex>(scorer, prepared); });
        return IndexCapsule::wrap(std::move(index));
    });
}

PyObject* index_keys(PyObject*, PyObject* capsule) {
    return python::run_in_frame([&]() -> PyObject* { return key_list(IndexCapsule::of(capsule).keys()); });
}

PyObject* index_image(PyObject*, PyObject* capsule) {
    return python::run_in_frame([&]() -> PyObject* {
        const join::CandidateIndex& index = IndexCapsule::of(capsule);
        const std::string image = without_lock([&] { return join::index_image(index); });
        return checked(PyBytes_FromStringAndSize(image.data(), static_cast<Py_ssize_t>(image.size())));
    });
}

PyObject* index_from_image(PyObject*, PyObject* bytes) {
    return python::run_in_frame([&]() -> PyObject* {
        char* data = nullptr;
        Py_ssize_t size = 0;
        if (PyBytes_AsStringAndSize(bytes, &data, &size) != 0) throw PythonError::fetch();
        const std::string_view image(data, static_cast<std::size_t>(size));
        // the bytes object is held by the caller for the whole call
        auto index = without_lock([&] { return join::index_from_image(image); });
        if (!index)
            throw PythonError::with_message(
                PyExc_ValueError, "not an index image of this pelgar build (another version or platform, or cut short)");
        return IndexCapsule::wrap(std::move(index));
    });
}

PyObject* index_info(PyObject*, PyObject* capsule) {
    return python::run_in_frame([&]() -> PyObject* {
        const join::CandidateIndex& index = IndexCapsule::of(capsule);
        return checked(Py_BuildValue("(nin)", static_cast<Py_ssize_t>(index.size()), static_cast<int>(index.scorer()),
                                     static_cast<Py_ssize_t>(index.memory_bytes())));
    });
}

PyObject* memory_room_left(PyObject*, PyObject*) {
    return python::run_in_frame([&]() -> PyObject* {
        const std::size_t room = memory_room();
        if (room == std::numeric_limits<std::size_t>::max()) Py_RETURN_NONE;
        return checked(PyLong_FromSize_t(room));
    });
}

PyObject* top_k(PyObject*, PyObject* args) {
    return python::run_in_frame([&]() -> PyObject* {
        PyObject *capsule = nullptr, *queries_object = nullptr, *progress = nullptr;
        Py_ssize_t k = 0, workers = 0;
        double threshold = 0.0;
        int form = kLists;
        if (!PyArg_ParseTuple(args, "OOndnO|i", &capsule, &queries_object, &k, &threshold, &workers, &progress,
                              &form))
            throw PythonError::fetch();
        const join::CandidateIndex& index = IndexCapsule::of(capsule);
        const TextsWithGaps queries = texts_argument(queries_object, "queries");
        // k <= 0 asks for every qualifying candidate, as many as memory can hold.
        const std::size_t limit = k > 0 ? static_cast<std::size_t>(k) : std::numeric_limits<std::size_t>::max();
        const std::size_t entry_bytes = form == kLists ? kBytesPerMatch : kBytesPerColumnRow;
        join::OutputBudget budget(k > 0 ? std::numeric_limits<std::size_t>::max() : memory_room() / entry_bytes);
        std::vector<std::vector<matching::Match>> answers(queries.texts.size());
        std::vector<std::size_t> scored(answers.size(), 0);
        try {
            run_released(workers_argument(workers), answers.size(), [&](std::size_t i) {
                if (queries.missing[i]) return;
                const std::u32string query = text::decode_utf8(join::prepare_key(queries.texts[i], index.scorer()));
                answers[i] = index.top_k(query, limit, threshold, &scored[i]);
                budget.add(answers[i].size());
            }, progress);
        } catch (const join::OutputTooLarge& too_large) {
            throw memory_error("top_k with k=None", too_large.found(), "give k, or a higher threshold");
        }
        std::size_t total_scored = 0;
        for (const std::size_t s : scored) total_scored += s;
        Ref count(new_int(total_scored));
        Ref result(top_k_answers(answers, form));
        return checked(PyTuple_Pack(2, result.get(), count.get()));
    });
}

PyObject* self_join(PyObject*, PyObject* args) {
    return python::run_in_frame([&]() -> PyObject* {
        int columnar = 0;
        const SelfJoinCall call = self_join_call(args, &columnar);
        std::vector<join::Pair> pairs;
        std::size_t total_scored = 0;
        if (!std::isnan(call.threshold)) {
            const auto join =
                without_lock([&] { return std::make_unique<join::SelfJoin>(call.prepared, call.threshold); });
            const join::KeyGroups& keys = join->keys();
            join::OutputBudget budget(memory_room() / (columnar ? kBytesPerColumnRow : kBytesPerPair));
            std::vector<std::size_t> scored(keys.count(), 0);
            try {
                const bool equal_keys_join = 1.0 >= call.threshold;
                for (std::uint32_t key = 0; key < keys.count() && equal_keys_join; ++key) {
                    const std::size_t rows = keys.rows(key).size();
                    budget.add(rows * (rows - 1) / 2);
                }
                FoundPartners found(keys, budget);
                probe_all(*join, found, call, &scored);
                pairs = without_lock([&] { return join::row_pairs(keys, call.threshold, found.partners()); });
            } catch (const join::OutputTooLarge& too_large) {
                throw memory_error("self_join", too_large.found(), "use clusters, or a higher threshold");
            }
            // Pairs of rows with equal keys are settled without a score.
            for (std::uint32_t key = 0; key < keys.count(); ++key) {
                const std::size_t rows = keys.rows(key).size();
                total_scored += scored[key] + rows * (rows - 1) / 2;
            }
        }
        Ref count(new_int(total_scored));
        Ref result(columnar ? columns_object(columns_of_pairs(pairs)) : pair_list(pairs));
        return checked(PyTuple_Pack(2, result.get(), count.get()));
    });
}

PyObject* clusters(PyObject*, PyObject* args) {
    return python::run_in_frame([&]() -> PyObject* {
        const SelfJoinCall call = self_join_call(args);
        const auto join = without_lock([&] { return std::make_unique<join::SelfJoin>(call.prepared, call.threshold); });
        join::KeyClusters clusters(join->keys());
        probe_all(*join, clusters, call, nullptr);
        const std::vector<std::size_t> labels = clusters.row_labels(1.0 >= call.threshold);
        Ref list(checked(PyList_New(static_cast<Py_ssize_t>(labels.size()))));
        for (std::size_t i = 0; i < labels.size(); ++i)
            PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), new_int(labels[i]));
        return list.release();
    });
}

}  // namespace pelgar::join_python

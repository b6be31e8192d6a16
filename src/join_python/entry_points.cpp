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
#include "join/key_clusters.hpp"
#include "join/output_budget.hpp"
#include "join/prepared_texts.hpp"
#include "join/self_join.hpp"
#include "join_python/entry_points.hpp"
#include "join_python/memory_room.hpp"
#include "join_python/released_run.hpp"
#include "join_python/result_columns.hpp"
#include "join_python/text_input.hpp"
#include "python/calling_frame.hpp"
#include "worker_pool/pool_size.hpp"
#include "python/py_ref.hpp"
#include "python/python_error.hpp"
#include "text/utf8.hpp"

namespace pelgar::join_python {

using python::checked;
using python::PythonError;
using python::Ref;

namespace {

constexpr const char* kCapsuleName = "pelgar_join.Index";

// What top_k answers with: lists of (position, score), columns, or columns with a row for
// each query that found nothing.
enum ResultForm : int { kLists = 0, kColumns = 1, kLeftJoinColumns = 2 };

join::Scorer scorer_argument(int code) {
    if (code < 0 || code > 2) throw PythonError::with_message(PyExc_ValueError, "unknown scorer code");
    return static_cast<join::Scorer>(code);
}

std::size_t workers_argument(Py_ssize_t workers) {
    if (workers <= 0) return pool::default_pool_size();
    return std::min(static_cast<std::size_t>(workers), pool::max_pool_size);
}

// Every text's key, made on the workers with the lock released.
join::PreparedTexts prepare_all(const TextsWithGaps& input, join::Scorer scorer, std::size_t workers) {
    const std::size_t count = input.texts.size();
    std::vector<std::string> keys(count);
    run_released(workers, count, [&](std::size_t i) {
        if (!input.missing[i]) keys[i] = join::prepare_key(input.texts[i], scorer);
    }, nullptr);
    join::PreparedTexts prepared;
    prepared.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (input.missing[i]) {
            prepared.add_missing();
        } else {
            prepared.add_key(keys[i]);
            std::string().swap(keys[i]);
        }
    }
    return prepared;
}

void destroy_index(PyObject* capsule) {
    delete static_cast<join::CandidateIndex*>(PyCapsule_GetPointer(capsule, kCapsuleName));
}

PyObject* index_capsule(std::unique_ptr<join::CandidateIndex> index) {
    PyObject* capsule = checked(PyCapsule_New(index.get(), kCapsuleName, destroy_index));
    index.release();
    return capsule;
}

const join::CandidateIndex& index_of(PyObject* capsule) {
    void* pointer = PyCapsule_GetPointer(capsule, kCapsuleName);
    if (!pointer) throw PythonError::fetch();
    return *static_cast<const join::CandidateIndex*>(pointer);
}

PyObject* new_int(std::size_t value) { return checked(PyLong_FromSize_t(value)); }

// [(position, score), ...] in the given order.
PyObject* match_list(const std::vector<matching::Match>& matches) {
    Ref list(checked(PyList_New(static_cast<Py_ssize_t>(matches.size()))));
    for (std::size_t i = 0; i < matches.size(); ++i) {
        Ref position(new_int(matches[i].index));
        Ref score(checked(PyFloat_FromDouble(matches[i].score)));
        PyObject* tuple = checked(PyTuple_Pack(2, position.get(), score.get()));
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), tuple);
    }
    return list.release();
}

// [(first, second, score), ...] in the given order.
PyObject* pair_list(const std::vector<join::Pair>& pairs) {
    Ref list(checked(PyList_New(static_cast<Py_ssize_t>(pairs.size()))));
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        Ref first(new_int(pairs[i].first)), second(new_int(pairs[i].second));
        Ref score(checked(PyFloat_FromDouble(pairs[i].score)));
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i),
                       checked(PyTuple_Pack(3, first.get(), second.get(), score.get())));
    }
    return list.release();
}

// What one entry of a result costs as Python objects (a tuple, its int and float, a list
// slot, allocator overhead) and as the native entry it is made from.
constexpr std::size_t kBytesPerPair = 200;
constexpr std::size_t kBytesPerMatch = 160;
// The same for a row of result columns: three 8-byte values, twice while the columns grow.
constexpr std::size_t kBytesPerColumnRow = 48;

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

// The result was refused before it was built: how much was found, and what to do instead.
PythonError memory_error(const std::string& what, std::size_t found, const std::string& instead) {
    return PythonError::with_message(PyExc_MemoryError, what + ": " + std::to_string(found) +
                                                            " found so far, more than fit in the memory this process "
                                                            "may use; " + instead);
}

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
        return index_capsule(std::move(index));
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
        return index_capsule(std::move(index));
    });
}

PyObject* index_keys(PyObject*, PyObject* capsule) {
    return python::run_in_frame([&]() -> PyObject* {
        const join::KeyGroups& keys = index_of(capsule).keys();
        const std::vector<std::uint32_t> key_of = keys.keys_of_rows();
        Ref list(checked(PyList_New(static_cast<Py_ssize_t>(keys.row_count()))));
        for (std::size_t i = 0; i < keys.row_count(); ++i) {
            PyObject* item;
            if (key_of[i] == join::KeyGroups::kNoKey) {
                Py_INCREF(Py_None);
                item = Py_None;
            } else {
                const std::string_view key = keys.key(key_of[i]);
                item = checked(PyUnicode_FromStringAndSize(key.data(), static_cast<Py_ssize_t>(key.size())));
            }
            PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);
        }
        return list.release();
    });
}

PyObject* index_info(PyObject*, PyObject* capsule) {
    return python::run_in_frame([&]() -> PyObject* {
        const join::CandidateIndex& index = index_of(capsule);
        return checked(Py_BuildValue("(nin)", static_cast<Py_ssize_t>(index.size()), static_cast<int>(index.scorer()),
                                     static_cast<Py_ssize_t>(index.memory_bytes())));
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
        const join::CandidateIndex& index = index_of(capsule);
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
        if (form != kLists) {
            Ref columns(columns_object(columns_of_matches(answers, form == kLeftJoinColumns)));
            return checked(PyTuple_Pack(2, columns.get(), count.get()));
        }
        Ref list(checked(PyList_New(static_cast<Py_ssize_t>(answers.size()))));
        for (std::size_t i = 0; i < answers.size(); ++i) {
            PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), match_list(answers[i]));
            std::vector<matching::Match>().swap(answers[i]);
        }
        return checked(PyTuple_Pack(2, list.get(), count.get()));
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

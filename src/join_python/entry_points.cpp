// The native functions behind pelgar_join; the Python layer validates their arguments.
#include <Python.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "join/candidate_index.hpp"
#include "join/prepared_texts.hpp"
#include "join/self_join.hpp"
#include "join_python/entry_points.hpp"
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

struct JoinResult {
    std::size_t rows = 0;
    std::vector<join::Pair> pairs;
    std::size_t scored = 0;
};

JoinResult run_self_join(PyObject* texts_object, double threshold, int scorer_code, Py_ssize_t workers,
                         PyObject* progress) {
    const join::Scorer scorer = scorer_argument(scorer_code);
    const TextsWithGaps input = texts_argument(texts_object, "texts");
    const std::size_t threads = workers_argument(workers);
    const join::PreparedTexts prepared = prepare_all(input, scorer, threads);
    JoinResult result;
    result.rows = prepared.size();
    if (std::isnan(threshold)) return result;
    const auto join = without_lock([&] { return std::make_unique<join::SelfJoin>(prepared, threshold); });
    std::vector<std::vector<join::Pair>> per_row(join->rows());
    std::vector<std::size_t> scored(join->rows(), 0);
    run_released(threads, join->rows(), [&](std::size_t row) { scored[row] = join->probe(row, per_row[row]); },
                 progress);
    result.pairs = join::concatenate(per_row);
    for (const std::size_t s : scored) result.scored += s;
    return result;
}

// Both self-join entry points take (texts, threshold, scorer code, workers, progress);
// self_join also takes whether to answer in columns.
JoinResult self_join_of_arguments(PyObject* args, int* columnar = nullptr) {
    PyObject *texts = nullptr, *progress = nullptr;
    double threshold = 0.0;
    int scorer_code = 0;
    Py_ssize_t workers = 0;
    int ignored = 0;
    if (!PyArg_ParseTuple(args, columnar ? "OdinO|p" : "OdinO", &texts, &threshold, &scorer_code, &workers, &progress,
                          columnar ? columnar : &ignored))
        throw PythonError::fetch();
    return run_self_join(texts, threshold, scorer_code, workers, progress);
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
        auto index = without_lock([&] { return std::make_unique<join::CandidateIndex>(scorer, std::move(prepared)); });
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
        auto index = without_lock([&] { return std::make_unique<join::CandidateIndex>(scorer, std::move(prepared)); });
        return index_capsule(std::move(index));
    });
}

PyObject* index_keys(PyObject*, PyObject* capsule) {
    return python::run_in_frame([&]() -> PyObject* {
        const join::PreparedTexts& texts = index_of(capsule).texts();
        Ref list(checked(PyList_New(static_cast<Py_ssize_t>(texts.size()))));
        for (std::size_t i = 0; i < texts.size(); ++i) {
            PyObject* item;
            if (texts.missing(i)) {
                Py_INCREF(Py_None);
                item = Py_None;
            } else {
                const std::string_view key = texts.key(i);
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
        // k <= 0 asks for every qualifying candidate.
        const std::size_t limit = k > 0 ? static_cast<std::size_t>(k) : std::numeric_limits<std::size_t>::max();
        std::vector<std::vector<matching::Match>> answers(queries.texts.size());
        run_released(workers_argument(workers), answers.size(), [&](std::size_t i) {
            if (queries.missing[i]) return;
            const std::u32string query = text::decode_utf8(join::prepare_key(queries.texts[i], index.scorer()));
            answers[i] = index.top_k(query, limit, threshold);
        }, progress);
        if (form != kLists) return columns_object(columns_of_matches(answers, form == kLeftJoinColumns));
        Ref list(checked(PyList_New(static_cast<Py_ssize_t>(answers.size()))));
        for (std::size_t i = 0; i < answers.size(); ++i)
            PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), match_list(answers[i]));
        return list.release();
    });
}

PyObject* self_join(PyObject*, PyObject* args) {
    return python::run_in_frame([&]() -> PyObject* {
        int columnar = 0;
        const JoinResult result = self_join_of_arguments(args, &columnar);
        if (columnar) return columns_object(columns_of_pairs(result.pairs));
        Ref list(checked(PyList_New(static_cast<Py_ssize_t>(result.pairs.size()))));
        for (std::size_t i = 0; i < result.pairs.size(); ++i) {
            const join::Pair& pair = result.pairs[i];
            Ref first(new_int(pair.first)), second(new_int(pair.second));
            Ref score(checked(PyFloat_FromDouble(pair.score)));
            PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i),
                           checked(PyTuple_Pack(3, first.get(), second.get(), score.get())));
        }
        Ref scored(new_int(result.scored));
        return checked(PyTuple_Pack(2, list.get(), scored.get()));
    });
}

PyObject* clusters(PyObject*, PyObject* args) {
    return python::run_in_frame([&]() -> PyObject* {
        const JoinResult result = self_join_of_arguments(args);
        const std::vector<std::size_t> labels = join::connected_labels(result.rows, result.pairs);
        Ref list(checked(PyList_New(static_cast<Py_ssize_t>(labels.size()))));
        for (std::size_t i = 0; i < labels.size(); ++i)
            PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), new_int(labels[i]));
        return list.release();
    });
}

}  // namespace pelgar::join_python

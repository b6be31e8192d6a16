// The native functions behind records of several fields; the Python layer checks the
// field names, weights and scorers first.
#include "join_python/record_entry_points.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "join/output_budget.hpp"
#include "join_python/arguments.hpp"
#include "join_python/memory_room.hpp"
#include "join_python/native_capsule.hpp"
#include "join_python/released_run.hpp"
#include "join_python/result_columns.hpp"
#include "join_python/result_lists.hpp"
#include "join_python/text_input.hpp"
#include "measures/weighted_score.hpp"
#include "python/calling_frame.hpp"
#include "python/py_ref.hpp"
#include "python/python_error.hpp"
#include "records/record_join.hpp"
#include "records/record_search.hpp"
#include "text/utf8.hpp"

namespace pelgar::join_python {

using python::checked;
using python::PythonError;
using python::Ref;

namespace {

constexpr char kCapsuleName[] = "pelgar_join.RecordIndex";
using IndexCapsule = NativeCapsule<records::RecordIndex, kCapsuleName>;

std::string utf8_of(PyObject* text) {
    Ref bytes(checked(PyUnicode_AsUTF8String(text)));
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0) throw PythonError::fetch();
    return std::string(data, static_cast<std::size_t>(size));
}

PyObject* item(PyObject* tuple, std::size_t i) {
    return checked(PyTuple_GetItem(tuple, static_cast<Py_ssize_t>(i)));
}

std::size_t tuple_size(PyObject* tuple) {
    const Py_ssize_t size = PyTuple_Size(tuple);
    if (size < 0) throw PythonError::fetch();
    return static_cast<std::size_t>(size);
}

// The fields of a call: names as messages show them, weights and scorers.
struct Fields {
    std::vector<std::string> names;
    std::vector<records::FieldRule> rules;
};

Fields fields_argument(PyObject* names, PyObject* weights, PyObject* scorer_codes) {
    Fields fields;
    for (std::size_t f = 0; f < tuple_size(names); ++f) {
        fields.names.push_back(utf8_of(item(names, f)));
        const double weight = PyFloat_AsDouble(item(weights, f));
        const long code = PyLong_AsLong(item(scorer_codes, f));
        if (PyErr_Occurred()) throw PythonError::fetch();
        fields.rules.push_back({weight, scorer_argument(static_cast<int>(code))});
    }
    if (fields.rules.empty() || fields.rules.size() > records::kMaxFields)
        throw PythonError::with_message(PyExc_ValueError, "records have 1 to 64 fields");
    return fields;
}

// An index's fields, named as the caller names them.
Fields fields_of(const records::RecordIndex& index, PyObject* names) {
    Fields fields;
    for (std::size_t f = 0; f < index.field_count(); ++f) {
        fields.names.push_back(utf8_of(item(names, f)));
        fields.rules.push_back(index.rule(f));
    }
    return fields;
}

// Each field's column, read and checked for equal lengths; `what` is "column" or "query column".
std::vector<TextsWithGaps> field_columns(const Fields& fields, PyObject* columns, const std::string& what) {
    std::vector<TextsWithGaps> read;
    for (std::size_t f = 0; f < fields.names.size(); ++f) {
        const std::string name = what + " " + fields.names[f];
        read.push_back(texts_argument(item(columns, f), name.c_str()));
        const std::size_t rows = read[f].texts.size(), first = read[0].texts.size();
        if (rows != first)
            throw PythonError::with_message(PyExc_ValueError, name + " has " + std::to_string(rows) + " rows, but " +
                                                                  what + " " + fields.names[0] + " has " +
                                                                  std::to_string(first));
    }
    return read;
}

std::vector<join::PreparedTexts> prepared_columns(const Fields& fields, PyObject* columns, const std::string& what,
                                                  std::size_t workers) {
    const std::vector<TextsWithGaps> read = field_columns(fields, columns, what);
    std::vector<join::PreparedTexts> prepared;
    for (std::size_t f = 0; f < read.size(); ++f) prepared.push_back(prepare_all(read[f], fields.rules[f].scorer, workers));
    return prepared;
}

std::unique_ptr<records::RecordIndex> build_index(const Fields& fields, const std::vector<join::PreparedTexts>& columns) {
    return without_lock([&] { return std::make_unique<records::RecordIndex>(fields.rules, columns); });
}

// The query of row i of prepared query columns.
records::RecordQuery query_at(const std::vector<join::PreparedTexts>& columns, std::size_t i) {
    records::RecordQuery query;
    query.keys.resize(columns.size());
    for (std::size_t f = 0; f < columns.size(); ++f) {
        if (columns[f].missing(i)) continue;
        query.keys[f] = text::decode_utf8(columns[f].key(i));
        query.mask |= records::FieldMask{1} << f;
    }
    return query;
}

PyObject* tally_tuple(const records::FieldTally& tally) {
    const std::vector<std::size_t> scored = tally.scored();
    Ref counts(checked(PyTuple_New(static_cast<Py_ssize_t>(scored.size()))));
    for (std::size_t f = 0; f < scored.size(); ++f)
        PyTuple_SetItem(counts.get(), static_cast<Py_ssize_t>(f), new_int(scored[f]));
    Ref rows(new_int(tally.rows()));
    return checked(PyTuple_Pack(2, counts.get(), rows.get()));
}

// Row numbers given as native int64 bytes; -1 for none.
std::vector<std::int64_t> rows_argument(PyObject* bytes) {
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(bytes, &data, &size) < 0) throw PythonError::fetch();
    std::vector<std::int64_t> rows(static_cast<std::size_t>(size) / sizeof(std::int64_t));
    if (!rows.empty()) std::memcpy(rows.data(), data, rows.size() * sizeof(std::int64_t));
    return rows;
}

void check_rows(const std::vector<std::int64_t>& rows, std::size_t count, const char* name) {
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i] < -1 || rows[i] >= static_cast<std::int64_t>(count))
            throw PythonError::with_message(PyExc_IndexError, std::string(name) + "[" + std::to_string(i) + "] = " +
                                                                  std::to_string(rows[i]) + " is out of range");
}

// The arguments of record_self_join and record_clusters:
// (names, columns, weights, scorer codes, threshold, workers, progress[, columnar]).
struct SelfJoinCall {
    double threshold = 0.0;
    std::size_t threads = 0;
    PyObject* progress = nullptr;
    std::unique_ptr<records::RecordIndex> index;
};

SelfJoinCall self_join_call(PyObject* args, int* columnar = nullptr) {
    PyObject *names = nullptr, *columns = nullptr, *weights = nullptr, *codes = nullptr;
    SelfJoinCall call;
    Py_ssize_t workers = 0;
    int ignored = 0;
    if (!PyArg_ParseTuple(args, columnar ? "OOOOdnO|p" : "OOOOdnO", &names, &columns, &weights, &codes,
                          &call.threshold, &workers, &call.progress, columnar ? columnar : &ignored))
        throw PythonError::fetch();
    const Fields fields = fields_argument(names, weights, codes);
    call.threads = workers_argument(workers);
    call.index = build_index(fields, prepared_columns(fields, columns, "column", call.threads));
    return call;
}

// The driver joins of a self-join of records, built side by side.
std::unique_ptr<records::RecordSelfJoin> record_self_join_of(const records::RecordIndex& index, const SelfJoinCall& call) {
    auto join = without_lock([&] { return std::make_unique<records::RecordSelfJoin>(index, call.threshold); });
    run_released(call.threads, join->joins(), [&](std::size_t i) { join->build(i); }, nullptr);
    return join;
}

}  // namespace

PyObject* record_index_build(PyObject*, PyObject* args) {
    return python::run_in_frame([&]() -> PyObject* {
        PyObject *names = nullptr, *columns = nullptr, *weights = nullptr, *codes = nullptr;
        Py_ssize_t workers = 0;
        if (!PyArg_ParseTuple(args, "OOOOn", &names, &columns, &weights, &codes, &workers)) throw PythonError::fetch();
        const Fields fields = fields_argument(names, weights, codes);
        return IndexCapsule::wrap(build_index(fields, prepared_columns(fields, columns, "column", workers_argument(workers))));
    });
}

PyObject* record_index_from_keys(PyObject*, PyObject* args) {
    return python::run_in_frame([&]() -> PyObject* {
        PyObject *names = nullptr, *keys = nullptr, *weights = nullptr, *codes = nullptr;
        if (!PyArg_ParseTuple(args, "OOOO", &names, &keys, &weights, &codes)) throw PythonError::fetch();
        const Fields fields = fields_argument(names, weights, codes);
        const std::vector<TextsWithGaps> read = field_columns(fields, keys, "keys of");
        std::vector<join::PreparedTexts> prepared(read.size());
        for (std::size_t f = 0; f < read.size(); ++f) {
            prepared[f].reserve(read[f].texts.size());
            for (std::size_t i = 0; i < read[f].texts.size(); ++i) {
                if (read[f].missing[i]) prepared[f].add_missing(); else prepared[f].add_key(read[f].texts[i]);
            }
        }
        return IndexCapsule::wrap(build_index(fields, prepared));
    });
}

PyObject* record_index_keys(PyObject*, PyObject* capsule) {
    return python::run_in_frame([&]() -> PyObject* {
        const records::RecordIndex& index = IndexCapsule::of(capsule);
        Ref keys(checked(PyTuple_New(static_cast<Py_ssize_t>(index.field_count()))));
        for (std::size_t f = 0; f < index.field_count(); ++f)
            PyTuple_SetItem(keys.get(), static_cast<Py_ssize_t>(f), key_list(index.field(f).keys()));
        return keys.release();
    });
}

PyObject* record_index_info(PyObject*, PyObject* capsule) {
    return python::run_in_frame([&]() -> PyObject* {
        const records::RecordIndex& index = IndexCapsule::of(capsule);
        return checked(Py_BuildValue("(nn)", static_cast<Py_ssize_t>(index.size()),
                                     static_cast<Py_ssize_t>(index.memory_bytes())));
    });
}

PyObject* record_top_k(PyObject*, PyObject* args) {
    return python::run_in_frame([&]() -> PyObject* {
        PyObject *capsule = nullptr, *names = nullptr, *queries_object = nullptr, *progress = nullptr;
        Py_ssize_t k = 0, workers = 0;
        double threshold = 0.0;
        int form = kLists;
        if (!PyArg_ParseTuple(args, "OOOndnO|i", &capsule, &names, &queries_object, &k, &threshold, &workers,
                              &progress, &form))
            throw PythonError::fetch();
        const records::RecordIndex& index = IndexCapsule::of(capsule);
        const Fields fields = fields_of(index, names);
        const std::size_t threads = workers_argument(workers);
        const std::vector<join::PreparedTexts> queries = prepared_columns(fields, queries_object, "query column", threads);
        // k <= 0 asks for every qualifying row, as many as memory can hold.
        const std::size_t limit = k > 0 ? static_cast<std::size_t>(k) : std::numeric_limits<std::size_t>::max();
        const std::size_t entry_bytes = form == kLists ? kBytesPerMatch : kBytesPerColumnRow;
        join::OutputBudget budget(k > 0 ? std::numeric_limits<std::size_t>::max() : memory_room() / entry_bytes);
        std::vector<std::vector<matching::Match>> answers(queries[0].size());
        records::FieldTally tally(index.field_count());
        try {
            run_released(threads, answers.size(), [&](std::size_t i) {
                answers[i] = records::record_top_k(index, query_at(queries, i), limit, threshold, &tally);
                budget.add(answers[i].size());
            }, progress);
        } catch (const join::OutputTooLarge& too_large) {
            throw memory_error("top_k with k=None", too_large.found(), "give k, or a higher threshold");
        }
        Ref counts(tally_tuple(tally));
        Ref result(top_k_answers(answers, form));
        return checked(PyTuple_Pack(2, result.get(), counts.get()));
    });
}

PyObject* record_self_join(PyObject*, PyObject* args) {
    return python::run_in_frame([&]() -> PyObject* {
        int columnar = 0;
        const SelfJoinCall call = self_join_call(args, &columnar);
        const records::RecordIndex& index = *call.index;
        records::FieldTally tally(index.field_count());
        std::vector<join::Pair> pairs;
        join::OutputBudget budget(memory_room() / (columnar ? kBytesPerColumnRow : kBytesPerPair));
        try {
            const auto join = record_self_join_of(index, call);
            records::RecordPairs found(budget);
            run_released(call.threads, join->probes(), [&](std::size_t probe) { join->probe(probe, found, &tally); },
                         call.progress);
            pairs = without_lock([&] { return std::move(found).sorted(); });
        } catch (const join::OutputTooLarge& too_large) {
            throw memory_error("self_join", too_large.found(), "use clusters, or a higher threshold");
        }
        Ref counts(tally_tuple(tally));
        Ref result(columnar ? columns_object(columns_of_pairs(pairs)) : pair_list(pairs));
        return checked(PyTuple_Pack(2, result.get(), counts.get()));
    });
}

PyObject* record_clusters(PyObject*, PyObject* args) {
    return python::run_in_frame([&]() -> PyObject* {
        const SelfJoinCall call = self_join_call(args);
        const auto join = record_self_join_of(*call.index, call);
        records::RecordClusters clusters(call.index->size());
        run_released(call.threads, join->probes(), [&](std::size_t probe) { join->probe(probe, clusters, nullptr); },
                     call.progress);
        const std::vector<std::size_t> labels = clusters.labels();
        Ref list(checked(PyList_New(static_cast<Py_ssize_t>(labels.size()))));
        for (std::size_t i = 0; i < labels.size(); ++i)
            PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), new_int(labels[i]));
        return list.release();
    });
}

PyObject* record_field_scores(PyObject*, PyObject* args) {
    return python::run_in_frame([&]() -> PyObject* {
        PyObject *capsule = nullptr, *names = nullptr, *queries_object = nullptr, *query_bytes = nullptr,
                 *position_bytes = nullptr;
        Py_ssize_t workers = 0;
        if (!PyArg_ParseTuple(args, "OOOOOn", &capsule, &names, &queries_object, &query_bytes, &position_bytes,
                              &workers))
            throw PythonError::fetch();
        const records::RecordIndex& index = IndexCapsule::of(capsule);
        const Fields fields = fields_of(index, names);
        const std::size_t threads = workers_argument(workers);
        const std::vector<join::PreparedTexts> queries = prepared_columns(fields, queries_object, "query column", threads);
        const std::vector<std::int64_t> query_rows = rows_argument(query_bytes);
        const std::vector<std::int64_t> positions = rows_argument(position_bytes);
        if (query_rows.size() != positions.size())
            throw PythonError::with_message(PyExc_ValueError, "query_rows and positions differ in length");
        check_rows(query_rows, queries[0].size(), "query_rows");
        check_rows(positions, index.size(), "positions");
        const std::size_t count = positions.size(), field_count = index.field_count();
        // By pair, then field; NaN where either record lacks the field.
        std::vector<double> scores(count * field_count);
        run_released(threads, count, [&](std::size_t p) {
            for (std::size_t f = 0; f < field_count; ++f) {
                double& score = scores[p * field_count + f];
                score = std::nan("");
                if (query_rows[p] < 0 || positions[p] < 0) continue;
                const auto q = static_cast<std::size_t>(query_rows[p]);
                const std::uint32_t key = index.key(f, static_cast<std::size_t>(positions[p]));
                if (queries[f].missing(q) || key == join::KeyGroups::kNoKey) continue;
                score = measures::weighted_score(queries[f].key(q), index.field(f).keys().key(key));
            }
        }, nullptr);
        Ref result(checked(PyTuple_New(static_cast<Py_ssize_t>(field_count))));
        for (std::size_t f = 0; f < field_count; ++f) {
            auto column = std::make_shared<ScoreColumn>();
            column->reserve(count);
            for (std::size_t p = 0; p < count; ++p) {
                const double score = scores[p * field_count + f];
                if (std::isnan(score)) column->add_null(); else column->add(score);
            }
            PyTuple_SetItem(result.get(), static_cast<Py_ssize_t>(f), columns_object(std::move(column)));
        }
        return result.release();
    });
}

}  // namespace pelgar::join_python

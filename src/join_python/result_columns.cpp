#include "join_python/result_columns.hpp"

#include <string>
#include <utility>

#include "python/calling_frame.hpp"
#include "python/py_ref.hpp"
#include "python/python_error.hpp"

namespace pelgar::join_python {

using python::checked;
using python::PythonError;

void ValidityBits::push(std::size_t row, bool present) {
    if (row % 8 == 0) bits_.push_back(0);
    if (present)
        bits_.back() = static_cast<std::uint8_t>(bits_.back() | (1u << (row % 8)));
    else
        ++null_count_;
}

void ResultColumns::reserve(std::size_t rows) {
    first_.reserve(rows);
    second_.reserve(rows);
    score_.reserve(rows);
    if (nullable_) present_.reserve(rows);
}

void ResultColumns::add(std::int64_t first, std::int64_t second, double score) {
    if (nullable_) present_.push(first_.size(), true);
    first_.push_back(first);
    second_.push_back(second);
    score_.push_back(score);
}

void ResultColumns::add_first_only(std::int64_t first) {
    if (!nullable_) throw InternalFailure("a row without a match in columns that hold no nulls");
    present_.push(first_.size(), false);
    first_.push_back(first);
    second_.push_back(0);
    score_.push_back(0.0);
}

arrow::ExportTable ResultColumns::export_table(const std::shared_ptr<const ColumnSource>& self) const {
    const std::uint8_t* validity = present_.data();
    const std::int64_t nulls = validity ? present_.null_count() : 0;
    arrow::ExportTable table;
    table.owner = self;
    table.rows = static_cast<std::int64_t>(rows());
    table.columns = {{names_[0], "l", first_.data(), nullptr, 0},
                     {names_[1], "l", second_.data(), validity, nulls},
                     {"score", "g", score_.data(), validity, nulls}};
    return table;
}

void ScoreColumn::reserve(std::size_t rows) {
    scores_.reserve(rows);
    present_.reserve(rows);
}

void ScoreColumn::add(double score) {
    present_.push(scores_.size(), true);
    scores_.push_back(score);
}

void ScoreColumn::add_null() {
    present_.push(scores_.size(), false);
    scores_.push_back(0.0);
}

arrow::ExportTable ScoreColumn::export_table(const std::shared_ptr<const ColumnSource>& self) const {
    arrow::ExportTable table;
    table.owner = self;
    table.rows = static_cast<std::int64_t>(rows());
    table.columns = {{"score", "g", scores_.data(), present_.data(), present_.null_count()}};
    return table;
}

ResultColumns columns_of_matches(const std::vector<std::vector<matching::Match>>& answers, bool keep_unmatched) {
    std::size_t rows = 0;
    for (const auto& found : answers) rows += found.empty() && keep_unmatched ? 1 : found.size();
    ResultColumns columns("query", "position", keep_unmatched);
    columns.reserve(rows);
    for (std::size_t query = 0; query < answers.size(); ++query) {
        const auto q = static_cast<std::int64_t>(query);
        for (const matching::Match& match : answers[query])
            columns.add(q, static_cast<std::int64_t>(match.index), match.score);
        if (answers[query].empty() && keep_unmatched) columns.add_first_only(q);
    }
    return columns;
}

ResultColumns columns_of_pairs(const std::vector<join::Pair>& pairs) {
    ResultColumns columns("left", "right", false);
    columns.reserve(pairs.size());
    for (const join::Pair& pair : pairs) columns.add(pair.first, pair.second, pair.score);
    return columns;
}

namespace {

struct ColumnsObject {
    PyObject_HEAD
    std::shared_ptr<const ColumnSource>* columns;
};

const ColumnSource& columns_of(PyObject* self) { return **reinterpret_cast<ColumnsObject*>(self)->columns; }

PyObject* refuse_new(PyTypeObject*, PyObject*, PyObject*) {
    PyErr_SetString(PyExc_TypeError, "pelgar_join.Columns objects are made by top_k and self_join only");
    return nullptr;
}

void dealloc(PyObject* self) {
    delete reinterpret_cast<ColumnsObject*>(self)->columns;
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free))(self);
    Py_DECREF(type);
}

Py_ssize_t length(PyObject* self) { return static_cast<Py_ssize_t>(columns_of(self).rows()); }

PyObject* repr(PyObject* self) {
    return python::run_in_frame([&]() -> PyObject* {
        const ColumnSource& columns = columns_of(self);
        const std::string text =
            "<pelgar_join.Columns (" + columns.names() + "): " + std::to_string(columns.rows()) + " rows>";
        return checked(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    });
}

// The requested schema may be ignored: the consumer casts if it wants another.
PyObject* arrow_c_stream(PyObject* self, PyObject* args, PyObject* kwargs) {
    return python::run_in_frame([&]() -> PyObject* {
        static const char* keywords[] = {"requested_schema", nullptr};
        PyObject* requested = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O", const_cast<char**>(keywords), &requested))
            throw PythonError::fetch();
        const std::shared_ptr<const ColumnSource>& columns = *reinterpret_cast<ColumnsObject*>(self)->columns;
        return arrow::stream_capsule(columns->export_table(columns));
    });
}

PyMethodDef methods[] = {
    {"__arrow_c_stream__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(arrow_c_stream)),
     METH_VARARGS | METH_KEYWORDS, "The columns as an Arrow C stream capsule (one record batch)."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
    {Py_tp_new, reinterpret_cast<void*>(refuse_new)},
    {Py_tp_repr, reinterpret_cast<void*>(repr)},
    {Py_sq_length, reinterpret_cast<void*>(length)},
    {Py_tp_methods, methods},
    {Py_tp_doc, const_cast<char*>("Result columns for Arrow consumers: pyarrow.table(c), polars.DataFrame(c), "
                                  "DuckDB; len(c) rows.")},
    {0, nullptr},
};

PyType_Spec definition = {"pelgar_join.Columns", sizeof(ColumnsObject), 0, Py_TPFLAGS_DEFAULT, slots};

// Made on first use and kept, as the module's one type.
PyTypeObject* columns_type = nullptr;

PyTypeObject* the_type() {
    if (!columns_type) columns_type = reinterpret_cast<PyTypeObject*>(checked(PyType_FromSpec(&definition)));
    return columns_type;
}

}  // namespace

PyObject* columns_object(ResultColumns columns) {
    return columns_object(std::make_shared<const ResultColumns>(std::move(columns)));
}

PyObject* columns_object(std::shared_ptr<const ColumnSource> columns) {
    PyTypeObject* type = the_type();
    auto shared = std::make_unique<std::shared_ptr<const ColumnSource>>(std::move(columns));
    PyObject* self = checked(reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc))(type, 0));
    reinterpret_cast<ColumnsObject*>(self)->columns = shared.release();
    return self;
}

}  // namespace pelgar::join_python

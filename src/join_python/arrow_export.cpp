#include "join_python/arrow_export.hpp"

#include <utility>

#include "python/python_error.hpp"

namespace pelgar::join_python::arrow {

namespace {

// Stands in for the values of an empty column: consumers expect a pointer even then.
alignas(64) constexpr std::int64_t kNoValues[1] = {0};

// ---- schema: a struct of the columns; the texts are static, so only the struct holds memory

struct SchemaParts {
    std::vector<ArrowSchema> children;
    std::vector<ArrowSchema*> pointers;
};

void release_child_schema(ArrowSchema* schema) { schema->release = nullptr; }

void release_schema(ArrowSchema* schema) {
    auto* parts = static_cast<SchemaParts*>(schema->private_data);
    for (ArrowSchema* child : parts->pointers)
        if (child->release) child->release(child);
    delete parts;
    schema->release = nullptr;
}

void fill_schema(const ExportTable& table, ArrowSchema* out) {
    auto parts = std::make_unique<SchemaParts>();
    parts->children.resize(table.columns.size());
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
        const ExportColumn& column = table.columns[i];
        parts->children[i] = ArrowSchema{column.format, column.name, nullptr,
                                         column.validity ? ARROW_FLAG_NULLABLE : 0, 0, nullptr, nullptr,
                                         release_child_schema, nullptr};
        parts->pointers.push_back(&parts->children[i]);
    }
    *out = ArrowSchema{"+s", "", nullptr, 0, static_cast<std::int64_t>(table.columns.size()),
                       parts->pointers.data(), nullptr, release_schema, nullptr};
    out->private_data = parts.release();
}

// ---- arrays: each child owns a share of the memory, so a consumer may keep one alone

struct ChildParts {
    std::shared_ptr<const void> owner;
    const void* buffers[2];
};

struct BatchParts {
    const void* buffers[1] = {nullptr};
    std::vector<ArrowArray> children;
    std::vector<ArrowArray*> pointers;
};

void release_child_array(ArrowArray* array) {
    delete static_cast<ChildParts*>(array->private_data);
    array->release = nullptr;
}

void release_batch(ArrowArray* array) {
    auto* parts = static_cast<BatchParts*>(array->private_data);
    for (ArrowArray* child : parts->pointers)
        if (child->release) child->release(child);
    delete parts;
    array->release = nullptr;
}

void fill_batch(const ExportTable& table, ArrowArray* out) {
    auto parts = std::make_unique<BatchParts>();
    parts->children.resize(table.columns.size());
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
        const ExportColumn& column = table.columns[i];
        auto child = std::make_unique<ChildParts>();
        child->owner = table.owner;
        child->buffers[0] = column.validity;
        child->buffers[1] = column.values && table.rows > 0 ? column.values : kNoValues;
        parts->children[i] = ArrowArray{table.rows, column.null_count, 0, 2, 0, child->buffers, nullptr, nullptr,
                                        release_child_array, nullptr};
        parts->children[i].private_data = child.release();
        parts->pointers.push_back(&parts->children[i]);
    }
    *out = ArrowArray{table.rows, 0, 0, 1, static_cast<std::int64_t>(table.columns.size()), parts->buffers,
                      parts->pointers.data(), nullptr, release_batch, nullptr};
    out->private_data = parts.release();
}

// ---- the stream: the schema, then the one batch, then the end

struct StreamState {
    ExportTable table;
    bool sent = false;
};

StreamState& state_of(ArrowArrayStream* stream) { return *static_cast<StreamState*>(stream->private_data); }

int get_schema(ArrowArrayStream* stream, ArrowSchema* out) {
    try {
        fill_schema(state_of(stream).table, out);
        return 0;
    } catch (...) {
        return 12;  // ENOMEM: the only way these can fail
    }
}

int get_next(ArrowArrayStream* stream, ArrowArray* out) {
    StreamState& state = state_of(stream);
    if (state.sent) {
        out->release = nullptr;
        return 0;
    }
    try {
        fill_batch(state.table, out);
        state.sent = true;
        return 0;
    } catch (...) {
        return 12;
    }
}

const char* get_last_error(ArrowArrayStream*) { return nullptr; }

void release_stream(ArrowArrayStream* stream) {
    delete static_cast<StreamState*>(stream->private_data);
    stream->release = nullptr;
}

void destroy_stream_capsule(PyObject* capsule) {
    auto* stream = static_cast<ArrowArrayStream*>(PyCapsule_GetPointer(capsule, kStreamCapsule));
    if (!stream) {
        PyErr_Clear();
        return;
    }
    if (stream->release) stream->release(stream);
    delete stream;
}

}  // namespace

PyObject* stream_capsule(ExportTable table) {
    auto stream = std::make_unique<ArrowArrayStream>();
    auto state = std::make_unique<StreamState>();
    state->table = std::move(table);
    *stream = ArrowArrayStream{get_schema, get_next, get_last_error, release_stream, state.get()};
    PyObject* capsule = PyCapsule_New(stream.get(), kStreamCapsule, destroy_stream_capsule);
    if (!capsule) {
        stream->release = nullptr;  // the state is still owned here
        throw python::PythonError::fetch();
    }
    state.release();
    stream.release();
    return capsule;
}

}  // namespace pelgar::join_python::arrow

#include "join_python/arrow_intake.hpp"

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "join_python/arrow_c_abi.hpp"
#include "python/py_ref.hpp"
#include "python/python_error.hpp"
#include "text/utf8_validation.hpp"

namespace pelgar::join_python::arrow {

using python::checked;
using python::PythonError;
using python::Ref;

namespace {

// How the values of a string column are laid out.
enum class Layout { offsets32, offsets64, views, nulls };

struct ColumnType {
    Layout values;
    char index_format = 0;  // the dictionary indices' integer format; 0 without a dictionary
    bool in_table = false;  // the one column of a table (a struct of one field), as a query result gives
};

std::optional<Layout> layout_of(std::string_view format) {
    if (format == "u") return Layout::offsets32;
    if (format == "U") return Layout::offsets64;
    if (format == "vu") return Layout::views;
    if (format == "n") return Layout::nulls;
    return std::nullopt;
}

bool is_index_format(std::string_view format) {
    return format.size() == 1 && std::strchr("cCsSiIlL", format[0]) != nullptr;
}

std::string_view format_of(const ArrowSchema& schema) { return schema.format ? schema.format : ""; }

[[noreturn]] void not_strings(const char* name, const std::string& found) {
    throw PythonError::type_error(std::string(name) +
                                  ": expected Arrow strings (string, large_string, string_view or a dictionary "
                                  "of them), got Arrow format " + found);
}

ColumnType column_type(const ArrowSchema& schema, const char* name) {
    const std::string format(format_of(schema));
    if (format == "+s" && schema.n_children == 1 && schema.children[0]) {
        ColumnType column = column_type(*schema.children[0], name);
        if (column.in_table) not_strings(name, "'+s' (a table in a table)");
        column.in_table = true;
        return column;
    }
    if (format == "+s")
        not_strings(name, "'+s' (a table of " + std::to_string(schema.n_children) + " columns: pass one column)");
    if (schema.dictionary) {
        const std::string values(format_of(*schema.dictionary));
        const auto layout = layout_of(values);
        if (!layout || !is_index_format(format))
            not_strings(name, "'" + format + "' with a dictionary of '" + values + "'");
        return {*layout, format[0]};
    }
    const auto layout = layout_of(format);
    if (!layout) not_strings(name, "'" + format + "'");
    return {*layout};
}

[[noreturn]] void malformed(const char* name, std::size_t row, const char* what) {
    throw PythonError::with_message(PyExc_ValueError,
                                    std::string(name) + "[" + std::to_string(row) + "]: malformed Arrow data: " + what);
}

bool is_valid(const ArrowArray& array, std::int64_t slot) {
    if (array.null_count == 0 || array.n_buffers < 1 || array.buffers[0] == nullptr) return true;
    const auto* bits = static_cast<const std::uint8_t*>(array.buffers[0]);
    return (bits[slot >> 3] >> (slot & 7)) & 1;
}

template <class Integer>
Integer load(const void* buffer, std::int64_t slot) {
    Integer value;
    std::memcpy(&value, static_cast<const char*>(buffer) + slot * static_cast<std::int64_t>(sizeof(Integer)),
                sizeof(Integer));
    return value;
}

template <class Offset>
std::string_view between_offsets(const ArrowArray& array, std::int64_t slot, bool& ok) {
    const auto begin = static_cast<std::int64_t>(load<Offset>(array.buffers[1], slot));
    const auto end = static_cast<std::int64_t>(load<Offset>(array.buffers[1], slot + 1));
    ok = begin >= 0 && end >= begin;
    if (!ok) return {};
    return {static_cast<const char*>(array.buffers[2]) + begin, static_cast<std::size_t>(end - begin)};
}

// A string_view row: its length, then the text inline (up to 12 bytes) or a prefix, the
// index of the data buffer and the offset in it.
std::string_view in_view(const ArrowArray& array, std::int64_t slot, bool& ok) {
    const char* view = static_cast<const char*>(array.buffers[1]) + slot * 16;
    const auto length = load<std::int32_t>(view, 0);
    ok = length >= 0;
    if (!ok) return {};
    if (length <= 12) return {view + 4, static_cast<std::size_t>(length)};
    const auto buffer = load<std::int32_t>(view, 2);
    const auto offset = load<std::int32_t>(view, 3);
    // buffers: validity, views, the data buffers, then their sizes
    ok = buffer >= 0 && offset >= 0 && 2 + static_cast<std::int64_t>(buffer) < array.n_buffers - 1;
    if (!ok) return {};
    return {static_cast<const char*>(array.buffers[2 + buffer]) + offset, static_cast<std::size_t>(length)};
}

std::int64_t index_at(const ArrowArray& indices, char format, std::int64_t slot) {
    const void* data = indices.buffers[1];
    switch (format) {
        case 'c': return load<std::int8_t>(data, slot);
        case 'C': return load<std::uint8_t>(data, slot);
        case 's': return load<std::int16_t>(data, slot);
        case 'S': return load<std::uint16_t>(data, slot);
        case 'i': return load<std::int32_t>(data, slot);
        case 'I': return load<std::uint32_t>(data, slot);
        case 'l': return load<std::int64_t>(data, slot);
        default: {
            const auto index = load<std::uint64_t>(data, slot);
            return index > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
                       ? -1
                       : static_cast<std::int64_t>(index);
        }
    }
}

[[noreturn]] void not_utf8(const char* name, std::size_t row, std::string_view text, const text::Utf8Fault& fault) {
    const std::string reason = std::string(name) + "[" + std::to_string(row) + "]: " + fault.reason;
    Ref bytes(checked(PyBytes_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()))));
    Ref error(checked(PyObject_CallFunction(PyExc_UnicodeDecodeError, "sOnns", "utf-8", bytes.get(),
                                            static_cast<Py_ssize_t>(fault.start),
                                            static_cast<Py_ssize_t>(fault.end), reason.c_str())));
    throw PythonError::from_instance(std::move(error));
}

// Appends the rows of chunk after chunk, counting rows across chunks for messages.
class RowReader {
public:
    RowReader(const char* name, ColumnType type, TextsWithGaps& out) : name_(name), type_(type), out_(out) {}

    void append(const ArrowArray& chunk) {
        if (chunk.length < 0 || chunk.offset < 0) malformed(name_, row_, "negative length or offset");
        // A table's rows are its column's, shifted by the table's offset; a null table row is missing.
        const ArrowArray* table = nullptr;
        const ArrowArray* column = &chunk;
        if (type_.in_table) {
            if (chunk.n_children != 1 || !chunk.children[0]) malformed(name_, row_, "a table without its column");
            table = &chunk;
            column = chunk.children[0];
        }
        if (column->offset < 0) malformed(name_, row_, "negative offset");
        if (type_.index_format && !column->dictionary) malformed(name_, row_, "a dictionary array without values");
        const std::int64_t start = column->offset + (table ? table->offset : 0);
        const auto count = static_cast<std::size_t>(chunk.length);
        out_.texts.reserve(out_.texts.size() + count);
        out_.missing.reserve(out_.missing.size() + count);
        for (std::int64_t i = 0; i < chunk.length; ++i, ++row_) {
            if (table && !is_valid(*table, table->offset + i))
                add(std::nullopt);
            else
                add(row_text(*column, start + i));
        }
    }

private:
    std::optional<std::string_view> row_text(const ArrowArray& chunk, std::int64_t slot) const {
        if (!type_.index_format) return value_at(chunk, slot);
        if (!is_valid(chunk, slot)) return std::nullopt;
        const ArrowArray& values = *chunk.dictionary;
        const std::int64_t index = index_at(chunk, type_.index_format, slot);
        if (index < 0 || index >= values.length) malformed(name_, row_, "a dictionary index out of range");
        return value_at(values, values.offset + index);
    }

    std::optional<std::string_view> value_at(const ArrowArray& values, std::int64_t slot) const {
        if (type_.values == Layout::nulls || !is_valid(values, slot)) return std::nullopt;
        bool ok = true;
        std::string_view text;
        switch (type_.values) {
            case Layout::offsets32: text = between_offsets<std::int32_t>(values, slot, ok); break;
            case Layout::offsets64: text = between_offsets<std::int64_t>(values, slot, ok); break;
            default: text = in_view(values, slot, ok); break;
        }
        if (!ok) malformed(name_, row_, "an offset or length out of range");
        return text;
    }

    void add(std::optional<std::string_view> text) {
        if (!text) {
            out_.texts.push_back({});
            out_.missing.push_back(true);
            return;
        }
        const text::Utf8Fault fault = text::first_utf8_fault(*text);
        if (!fault.valid()) not_utf8(name_, row_, *text, fault);
        out_.texts.push_back(*text);
        out_.missing.push_back(false);
    }

    const char* name_;
    ColumnType type_;
    TextsWithGaps& out_;
    std::size_t row_ = 0;
};

// Moves the struct out of a capsule of the interface: the capsule's own release then does nothing.
template <class Struct>
void take_from_capsule(PyObject* capsule, const char* capsule_name, Owned<Struct>& into, const char* name) {
    auto* source = static_cast<Struct*>(PyCapsule_GetPointer(capsule, capsule_name));
    if (!source) throw PythonError::fetch();
    if (!source->release)
        throw PythonError::with_message(PyExc_ValueError, std::string(name) + ": the Arrow data was already taken");
    *into.get() = *source;
    source->release = nullptr;
}

void check_stream(ArrowArrayStream& stream, int code, const char* name) {
    if (code == 0) return;
    const char* reason = stream.get_last_error ? stream.get_last_error(&stream) : nullptr;
    throw PythonError::with_message(PyExc_RuntimeError, std::string(name) + ": reading the Arrow stream failed (" +
                                                            (reason ? reason : std::to_string(code)) + ")");
}

void read_stream(PyObject* capsule, const char* name, TextsWithGaps& out) {
    Owned<ArrowArrayStream> stream;
    take_from_capsule(capsule, kStreamCapsule, stream, name);
    Owned<ArrowSchema> schema;
    check_stream(*stream.get(), stream->get_schema(stream.get(), schema.get()), name);
    RowReader reader(name, column_type(*schema, name), out);
    for (;;) {
        Owned<ArrowArray> chunk;
        check_stream(*stream.get(), stream->get_next(stream.get(), chunk.get()), name);
        if (!chunk.live()) break;  // the end of the stream
        reader.append(*chunk);
        // A stream may be a slow query's result: Ctrl-C between its chunks.
        if (PyErr_CheckSignals() < 0) throw PythonError::fetch();
    }
}

void read_array(PyObject* capsules, const char* name, TextsWithGaps& out) {
    if (!PyTuple_Check(capsules) || PyTuple_Size(capsules) != 2)
        throw PythonError::type_error(std::string(name) + ": __arrow_c_array__ must return a pair of capsules");
    Owned<ArrowSchema> schema;
    Owned<ArrowArray> array;
    take_from_capsule(PyTuple_GetItem(capsules, 0), kSchemaCapsule, schema, name);
    take_from_capsule(PyTuple_GetItem(capsules, 1), kArrayCapsule, array, name);
    RowReader(name, column_type(*schema, name), out).append(*array);
}

bool can_iterate_instead(PyObject* object) {
    if (!PyErr_ExceptionMatches(PyExc_Exception) || !PyObject_HasAttrString(object, "__iter__")) return false;
    PyErr_Clear();
    return true;
}

}  // namespace

bool exports_arrow(PyObject* object) {
    return PyObject_HasAttrString(object, "__arrow_c_stream__") || PyObject_HasAttrString(object, "__arrow_c_array__");
}

std::optional<TextsWithGaps> texts_of_exporter(PyObject* object, const char* name) {
    const bool stream = PyObject_HasAttrString(object, "__arrow_c_stream__");
    Ref exported(PyObject_CallMethod(object, stream ? "__arrow_c_stream__" : "__arrow_c_array__", nullptr));
    if (!exported) {
        if (can_iterate_instead(object)) return std::nullopt;
        throw PythonError::fetch();
    }
    TextsWithGaps texts;
    if (stream)
        read_stream(exported.get(), name, texts);
    else
        read_array(exported.get(), name, texts);
    return texts;
}

}  // namespace pelgar::join_python::arrow

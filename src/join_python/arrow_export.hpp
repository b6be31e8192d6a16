#pragma once

#include <Python.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "join_python/arrow_c_abi.hpp"

// Columns of native memory handed to Arrow consumers without a copy.
namespace pelgar::join_python::arrow {

// One column: fixed-width values, and a validity bitmap (null when every row is present).
struct ExportColumn {
    const char* name;    // static text
    const char* format;  // an Arrow format of fixed width: "l" or "g"
    const void* values;
    const std::uint8_t* validity;
    std::int64_t null_count;
};

// The columns of one table and the owner of their memory, which every exported struct
// keeps alive until its consumer releases it (from any thread: no interpreter call).
struct ExportTable {
    std::shared_ptr<const void> owner;
    std::int64_t rows = 0;
    std::vector<ExportColumn> columns;
};

// A new "arrow_array_stream" capsule: the table as one record batch (a struct array).
PyObject* stream_capsule(ExportTable table);

}  // namespace pelgar::join_python::arrow

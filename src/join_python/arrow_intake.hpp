#pragma once

#include <Python.h>

#include <optional>

#include "join_python/text_input.hpp"

// Texts read straight from the UTF-8 buffers of Arrow data, through the Arrow PyCapsule
// interface: no Python object per row.
namespace pelgar::join_python::arrow {

// True when the object offers Arrow data (__arrow_c_stream__ or __arrow_c_array__).
bool exports_arrow(PyObject* object);

// The rows of an Arrow exporter: string, large_string, string_view, a dictionary of one of
// them with any integer index, or null; a null row is a missing value. Any other type is a
// TypeError naming its format and `name`; a row that is not UTF-8 a UnicodeDecodeError that
// names "{name}[{row}]". Nothing when the export itself raised an Exception and the object
// can be iterated instead (a pandas object column of mixed values names its bad item then).
std::optional<TextsWithGaps> texts_of_exporter(PyObject* object, const char* name);

}  // namespace pelgar::join_python::arrow

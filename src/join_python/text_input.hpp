#pragma once

#include <Python.h>

#include <vector>

#include "matching/text_list.hpp"

namespace pelgar::join_python {

// An iterable's texts as owned UTF-8 copies, with the positions that held a missing value.
struct TextsWithGaps {
    matching::TextList texts;  // a missing value holds an empty text
    std::vector<bool> missing;
};

// Reads an Arrow exporter's strings natively (join_python/arrow_intake.hpp); otherwise
// iterates any iterable but a str: each item a str, or None / a float NaN for a missing
// value; anything else throws the TypeError "{name}[{i}]: expected str or None, got {type}".
TextsWithGaps texts_argument(PyObject* iterable, const char* name);

}  // namespace pelgar::join_python

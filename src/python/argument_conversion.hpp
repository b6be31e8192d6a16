#pragma once

#include <Python.h>

#include <string>

#include "matching/text_list.hpp"

namespace pelgar::python {

// Each conversion throws PythonError, already wrapped for the named parameter.

// A str (or subclass) as an owned UTF-8 copy.
std::string text_argument(PyObject* object, const char* parameter);

// Any sequence but a str, whose items are all str, as an owned list of UTF-8 copies.
matching::TextList text_list_argument(PyObject* object, const char* parameter);

// None or a missing argument is 0.0; otherwise whatever PyFloat_AsDouble makes of it.
double threshold_argument(PyObject* object_or_null, const char* parameter);

}  // namespace pelgar::python

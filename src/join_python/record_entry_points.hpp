#pragma once

#include <Python.h>

// The native functions of pelgar_join._native for records of several fields, positional
// arguments only. Fields come as tuples in field order: names (as the messages show them),
// columns, weights and scorer codes.
namespace pelgar::join_python {

PyObject* record_index_build(PyObject* module, PyObject* args);
PyObject* record_index_from_keys(PyObject* module, PyObject* args);
PyObject* record_index_keys(PyObject* module, PyObject* capsule);
PyObject* record_index_info(PyObject* module, PyObject* capsule);
PyObject* record_top_k(PyObject* module, PyObject* args);
PyObject* record_self_join(PyObject* module, PyObject* args);
PyObject* record_clusters(PyObject* module, PyObject* args);
PyObject* record_field_scores(PyObject* module, PyObject* args);

}  // namespace pelgar::join_python

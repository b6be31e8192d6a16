#pragma once

#include <Python.h>

// The native functions of pelgar_join._native, positional arguments only.
namespace pelgar::join_python {

PyObject* index_build(PyObject* module, PyObject* args);
PyObject* index_from_keys(PyObject* module, PyObject* args);
PyObject* index_keys(PyObject* module, PyObject* capsule);
PyObject* index_image(PyObject* module, PyObject* capsule);
PyObject* index_from_image(PyObject* module, PyObject* bytes);
PyObject* index_info(PyObject* module, PyObject* capsule);
PyObject* top_k(PyObject* module, PyObject* args);
PyObject* self_join(PyObject* module, PyObject* args);
PyObject* clusters(PyObject* module, PyObject* args);
// About how many more bytes the process can allocate; None where that cannot be read.
PyObject* memory_room_left(PyObject* module, PyObject* unused);

}  // namespace pelgar::join_python

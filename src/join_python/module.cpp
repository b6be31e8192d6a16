// The module object of pelgar_join._native: its function table and initialisation.
#include <Python.h>

#include "join_python/entry_points.hpp"
#include "join_python/record_entry_points.hpp"

namespace pelgar::join_python {

namespace {

PyMethodDef function_table[] = {
    {"index_build", index_build, METH_VARARGS, "index_build(candidates, scorer_code, workers) -> capsule"},
    {"index_from_keys", index_from_keys, METH_VARARGS, "index_from_keys(keys, scorer_code) -> capsule"},
    {"index_keys", index_keys, METH_O, "index_keys(capsule) -> list of prepared keys or None"},
    {"index_image", index_image, METH_O, "index_image(capsule) -> bytes of the index's arrays"},
    {"index_from_image", index_from_image, METH_O, "index_from_image(bytes) -> capsule"},
    {"index_info", index_info, METH_O, "index_info(capsule) -> (size, scorer_code, memory bytes)"},
    {"memory_room", memory_room_left, METH_NOARGS, "memory_room() -> bytes the process can still allocate, or None"},
    {"top_k", top_k, METH_VARARGS, "top_k(capsule, queries, k, threshold, workers, progress, form=0)"},
    {"self_join", self_join, METH_VARARGS, "self_join(texts, threshold, scorer_code, workers, progress, columnar=False)"},
    {"clusters", clusters, METH_VARARGS, "clusters(texts, threshold, scorer_code, workers, progress)"},
    {"record_index_build", record_index_build, METH_VARARGS,
     "record_index_build(names, columns, weights, scorer_codes, workers) -> capsule"},
    {"record_index_from_keys", record_index_from_keys, METH_VARARGS,
     "record_index_from_keys(names, keys, weights, scorer_codes) -> capsule"},
    {"record_index_keys", record_index_keys, METH_O, "record_index_keys(capsule) -> per field, prepared keys or None"},
    {"record_index_info", record_index_info, METH_O, "record_index_info(capsule) -> (size, memory bytes)"},
    {"record_top_k", record_top_k, METH_VARARGS,
     "record_top_k(capsule, names, queries, k, threshold, workers, progress, form=0)"},
    {"record_self_join", record_self_join, METH_VARARGS,
     "record_self_join(names, columns, weights, scorer_codes, threshold, workers, progress, columnar=False)"},
    {"record_clusters", record_clusters, METH_VARARGS,
     "record_clusters(names, columns, weights, scorer_codes, threshold, workers, progress)"},
    {"record_field_scores", record_field_scores, METH_VARARGS,
     "record_field_scores(capsule, names, queries, query_rows, positions, workers) -> per field, Columns"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "pelgar_join._native", "Native core of pelgar_join.", -1, function_table,
    nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

}  // namespace pelgar::join_python

PyMODINIT_FUNC PyInit__native(void) { return PyModule_Create(&pelgar::join_python::module_definition); }

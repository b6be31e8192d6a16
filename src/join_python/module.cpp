// The module object of pelgar_join._native: its function table and initialisation.
#include <Python.h>

#include "join_python/entry_points.hpp"

namespace pelgar::join_python {

namespace {

PyMethodDef function_table[] = {
    {"index_build", index_build, METH_VARARGS, "index_build(candidates, scorer_code, workers) -> capsule"},
    {"index_from_keys", index_from_keys, METH_VARARGS, "index_from_keys(keys, scorer_code) -> capsule"},
    {"index_keys", index_keys, METH_O, "index_keys(capsule) -> list of prepared keys or None"},
    {"index_info", index_info, METH_O, "index_info(capsule) -> (size, scorer_code, memory bytes)"},
    {"top_k", top_k, METH_VARARGS, "top_k(capsule, queries, k, threshold, workers, progress, form=0)"},
    {"self_join", self_join, METH_VARARGS, "self_join(texts, threshold, scorer_code, workers, progress, columnar=False)"},
    {"clusters", clusters, METH_VARARGS, "clusters(texts, threshold, scorer_code, workers, progress)"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "pelgar_join._native", "Native core of pelgar_join.", -1, function_table,
    nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

}  // namespace pelgar::join_python

PyMODINIT_FUNC PyInit__native(void) { return PyModule_Create(&pelgar::join_python::module_definition); }

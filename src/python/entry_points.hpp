#pragma once

#include <Python.h>

// The nine functions as the interpreter calls them (METH_VARARGS | METH_KEYWORDS).
namespace pelgar::python {

PyObject* levenshtein(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* jaro_winkler(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* trigram_similarity(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* combined_score(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* token_sort_ratio(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* token_set_ratio(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* best_match(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* rank_matches(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* batch_best_match(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace pelgar::python

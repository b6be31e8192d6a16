// The module object: its definition, its function table and its one-time initialisation.
#include <Python.h>

#include <iterator>

#include "common/internal_failure.hpp"
#include "python/calling_frame.hpp"
#include "python/entry_points.hpp"
#include "python/py_ref.hpp"
#include "python/python_error.hpp"

namespace pelgar::python {

namespace {

template <PyObject* (*Entry)(PyObject*, PyObject*, PyObject*)>
constexpr PyMethodDef entry(const char* name, const char* doc) {
    return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Entry)), METH_VARARGS | METH_KEYWORDS,
            doc};
}

// Table order is registration order and the order of __all__.
PyMethodDef function_table[] = {
    entry<levenshtein>("levenshtein", "levenshtein(a, b)\n--\n\n"),
    entry<jaro_winkler>("jaro_winkler", "jaro_winkler(a, b)\n--\n\n"),
    entry<trigram_similarity>("trigram_similarity", "trigram_similarity(a, b)\n--\n\n"),
    entry<combined_score>("combined_score", "combined_score(a, b)\n--\n\n"),
    entry<token_sort_ratio>("token_sort_ratio", "token_sort_ratio(a, b)\n--\n\n"),
    entry<token_set_ratio>("token_set_ratio", "token_set_ratio(a, b)\n--\n\n"),
    entry<best_match>("best_match", "best_match(query, candidates, threshold=None)\n--\n\n"),
    entry<rank_matches>("rank_matches", "rank_matches(query, candidates, threshold=None)\n--\n\n"),
    entry<batch_best_match>("batch_best_match", "batch_best_match(queries, candidates, threshold=None)\n--\n\n"),
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "pelgar", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// The first successful initialisation's module, kept for the life of the process.
struct ModuleCache {
    PyObject* module = nullptr;
    bool complete = false;
} module_cache;

PyObject* module_all(PyObject* module) {
    if (PyObject* all = PyObject_GetAttrString(module, "__all__")) return all;
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PythonError::fetch();
    PyErr_Clear();
    Ref all(checked(PyList_New(0)));
    if (PyObject_SetAttrString(module, "__all__", all.get()) < 0) throw PythonError::fetch();
    return all.release();
}

void add_function(PyObject* module, PyMethodDef& definition) {
    Ref module_name(checked(PyModule_GetNameObject(module)));
    Ref function(checked(PyCFunction_NewEx(&definition, module, module_name.get())));
    Ref name(checked(PyObject_GetAttrString(function.get(), "__name__")));
    Ref all(module_all(module));
    if (PyList_Append(all.get(), name.get()) < 0) throw InternalFailure("could not append __name__ to __all__");
    if (PyObject_SetAttr(module, name.get(), function.get()) < 0) throw PythonError::fetch();
}

PyObject* initialize() {
    if (module_cache.complete)
        throw PythonError::with_message(
            PyExc_ImportError,
            "PyO3 modules compiled for CPython 3.8 or older may only be initialized once per interpreter process");
    Ref module(checked(PyModule_Create2(&module_definition, 3)));
    for (PyMethodDef& definition : function_table) add_function(module.get(), definition);
    module_cache.module = Ref::borrow(module.get()).release();
    module_cache.complete = true;
    return module.release();
}

}  // namespace

}  // namespace pelgar::python

PyMODINIT_FUNC PyInit_pelgar(void) {
    return pelgar::python::run_in_frame(pelgar::python::initialize);
}

#include "join_python/result_lists.hpp"

#include "join_python/result_columns.hpp"
#include "python/py_ref.hpp"

namespace pelgar::join_python {

using python::checked;
using python::PythonError;
using python::Ref;

namespace {

// [(position, score), ...] in the given order.
PyObject* match_list(const std::vector<matching::Match>& matches) {
    Ref list(checked(PyList_New(static_cast<Py_ssize_t>(matches.size()))));
    for (std::size_t i = 0; i < matches.size(); ++i) {
        Ref position(new_int(matches[i].index));
        Ref score(checked(PyFloat_FromDouble(matches[i].score)));
        PyObject* tuple = checked(PyTuple_Pack(2, position.get(), score.get()));
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), tuple);
    }
    return list.release();
}

}  // namespace

PyObject* new_int(std::size_t value) { return checked(PyLong_FromSize_t(value)); }

PyObject* pair_list(const std::vector<join::Pair>& pairs) {
    Ref list(checked(PyList_New(static_cast<Py_ssize_t>(pairs.size()))));
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        Ref first(new_int(pairs[i].first)), second(new_int(pairs[i].second));
        Ref score(checked(PyFloat_FromDouble(pairs[i].score)));
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i),
                       checked(PyTuple_Pack(3, first.get(), second.get(), score.get())));
    }
    return list.release();
}

PyObject* key_list(const join::KeyGroups& keys) {
    const std::vector<std::uint32_t> key_of = keys.keys_of_rows();
    Ref list(checked(PyList_New(static_cast<Py_ssize_t>(keys.row_count()))));
    for (std::size_t i = 0; i < keys.row_count(); ++i) {
        PyObject* item;
        if (key_of[i] == join::KeyGroups::kNoKey) {
            Py_INCREF(Py_None);
            item = Py_None;
        } else {
            const std::string_view key = keys.key(key_of[i]);
            item = checked(PyUnicode_FromStringAndSize(key.data(), static_cast<Py_ssize_t>(key.size())));
        }
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

PyObject* top_k_answers(std::vector<std::vector<matching::Match>>& answers, int form) {
    if (form != kLists) return columns_object(columns_of_matches(answers, form == kLeftJoinColumns));
    Ref list(checked(PyList_New(static_cast<Py_ssize_t>(answers.size()))));
    for (std::size_t i = 0; i < answers.size(); ++i) {
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), match_list(answers[i]));
        std::vector<matching::Match>().swap(answers[i]);
    }
    return list.release();
}

PythonError memory_error(const std::string& what, std::size_t found, const std::string& instead) {
    return PythonError::with_message(PyExc_MemoryError, what + ": " + std::to_string(found) +
                                                            " found so far, more than fit in the memory this process "
                                                            "may use; " + instead);
}

}  // namespace pelgar::join_python

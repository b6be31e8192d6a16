#pragma once

#include <Python.h>

#include <memory>

#include "python/python_error.hpp"

namespace pelgar::join_python {

// A native object owned by a capsule of the given name, deleted with it.
template <class T, const char* Name>
struct NativeCapsule {
    static PyObject* wrap(std::unique_ptr<T> object) {
        PyObject* capsule = python::checked(PyCapsule_New(object.get(), Name, destroy));
        object.release();
        return capsule;
    }
    static const T& of(PyObject* capsule) {
        void* pointer = PyCapsule_GetPointer(capsule, Name);
        if (!pointer) throw python::PythonError::fetch();
        return *static_cast<const T*>(pointer);
    }

private:
    static void destroy(PyObject* capsule) { delete static_cast<T*>(PyCapsule_GetPointer(capsule, Name)); }
};

}  // namespace pelgar::join_python

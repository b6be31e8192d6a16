#pragma once

#include <Python.h>

#include <cstddef>
#include <span>

namespace pelgar::python {

// A function's parameters, all positional-or-keyword; the first `required` are required.
struct Signature {
    const char* name;
    std::span<const char* const> parameters;
    std::size_t required;
};

// Binds positional and keyword arguments to the signature's slots (borrowed references,
// null where an optional parameter was not given), or throws the binding TypeError.
void bind_arguments(const Signature& signature, PyObject* args, PyObject* kwargs, std::span<PyObject*> slots);

}  // namespace pelgar::python

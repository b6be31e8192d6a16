#include "python/argument_binding.hpp"

#include <string>
#include <string_view>
#include <vector>

#include "python/python_error.hpp"

namespace pelgar::python {

namespace {

std::string function_name(const Signature& signature) { return std::string(signature.name) + "()"; }

[[noreturn]] void too_many_positional(const Signature& signature, Py_ssize_t given) {
    const std::size_t count = signature.parameters.size();
    std::string message = function_name(signature) + " takes ";
    if (signature.required == count)
        message += std::to_string(count);
    else
        message += "from " + std::to_string(signature.required) + " to " + std::to_string(count);
    message += " positional arguments but " + std::to_string(given) + (given == 1 ? " was" : " were") + " given";
    throw PythonError::type_error(std::move(message));
}

[[noreturn]] void missing_required(const Signature& signature, const std::vector<const char*>& missing) {
    std::string names;
    for (std::size_t i = 0; i < missing.size(); ++i) {
        if (i > 0) names += missing.size() == 2 ? " and " : (i + 1 == missing.size() ? ", and " : ", ");
        names += std::string("'") + missing[i] + "'";
    }
    throw PythonError::type_error(function_name(signature) + " missing " + std::to_string(missing.size()) +
                                  " required positional argument" + (missing.size() == 1 ? "" : "s") + ": " + names);
}

// False when the keyword is not a str or has no UTF-8 text; such a keyword names no parameter.
bool keyword_text(PyObject* key, std::string& text) {
    if (!PyUnicode_Check(key)) return false;
    Ref bytes(PyUnicode_AsUTF8String(key));
    if (!bytes) {
        PyErr_Clear();
        return false;
    }
    char* data = nullptr;
    Py_ssize_t size = 0;
    PyBytes_AsStringAndSize(bytes.get(), &data, &size);
    text.assign(data, static_cast<std::size_t>(size));
    return true;
}

void bind_keywords(const Signature& signature, PyObject* kwargs, std::span<PyObject*> slots) {
    Py_ssize_t position = 0;
    PyObject *key = nullptr, *value = nullptr;
    std::string text;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
        std::size_t index = signature.parameters.size();
        if (keyword_text(key, text)) {
            for (std::size_t i = 0; i < signature.parameters.size(); ++i)
                if (text == signature.parameters[i]) index = i;
        }
        if (index == signature.parameters.size())
            throw PythonError::type_error(function_name(signature) + " got an unexpected keyword argument '" +
                                          text_for_message(key) + "'");
        if (slots[index])
            throw PythonError::type_error(function_name(signature) + " got multiple values for argument '" +
                                          signature.parameters[index] + "'");
        slots[index] = value;
    }
}

}  // namespace

void bind_arguments(const Signature& signature, PyObject* args, PyObject* kwargs, std::span<PyObject*> slots) {
    const Py_ssize_t given = PyTuple_Size(args);
    const std::size_t count = signature.parameters.size();
    for (std::size_t i = 0; i < count; ++i)
        slots[i] = static_cast<Py_ssize_t>(i) < given ? PyTuple_GetItem(args, static_cast<Py_ssize_t>(i)) : nullptr;
    if (given > static_cast<Py_ssize_t>(count)) too_many_positional(signature, given);
    if (kwargs) bind_keywords(signature, kwargs, slots);
    if (given < static_cast<Py_ssize_t>(signature.required)) {
        std::vector<const char*> missing;
        for (std::size_t i = 0; i < signature.required; ++i)
            if (!slots[i]) missing.push_back(signature.parameters[i]);
        if (!missing.empty()) missing_required(signature, missing);
    }
}

}  // namespace pelgar::python

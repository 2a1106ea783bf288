#include "pyvora/binding/bind.hpp"

#include <string>

#include "pyvora/binding/errors.hpp"

namespace pyvora {
namespace {

std::string qualified(const MethodSpec& decl) {
    return std::string("Protocol.").append(decl.name).append("()");
}

[[noreturn]] void too_many_positional(const MethodSpec& decl, Py_ssize_t given) {
    const std::string was = given == 1 ? "was" : "were";
    std::string message = qualified(decl);
    if (decl.required() != decl.count) {
        message += " takes from " + std::to_string(decl.required()) + " to " +
                   std::to_string(decl.count) + " positional arguments but " +
                   std::to_string(given) + " " + was + " given";
    } else {
        message += " takes " + std::to_string(decl.count) + " positional arguments but " +
                   std::to_string(given) + " " + was + " given";
    }
    throw_type_error(message);
}

// The parameter a keyword names: an interned name by identity first, then any str by text.
std::size_t parameter_named(const MethodSpec& decl, const ParamNames& names, PyObject* name) {
    for (std::size_t i = 0; i < decl.count; ++i) {
        if (names.names[i] == name) return i;
    }
    if (PyUnicode_Check(name)) {
        for (std::size_t i = 0; i < decl.count; ++i) {
            // Two str objects: the comparison cannot fail.
            if (names.names[i] != nullptr && PyUnicode_Compare(name, names.names[i]) == 0) return i;
        }
    }
    return decl.count;
}

// Places one keyword argument, or fails for an unknown name or a second value.
void place_keyword(const MethodSpec& decl, const ParamNames& names, PyObject* name, PyObject* value,
                   PyObject** out) {
    const std::size_t i = parameter_named(decl, names, name);
    if (i == decl.count) {
        const std::string prefix = qualified(decl);
        PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%S'", prefix.c_str(), name);
        throw PythonError{};
    }
    if (out[i] != nullptr) {
        throw_type_error(qualified(decl) + " got multiple values for argument '" + std::string(decl.params[i].name) + "'");
    }
    out[i] = value;
}

void check_required(const MethodSpec& decl, PyObject** out) {
    std::array<std::string_view, 4> missing{};
    std::size_t n = 0;
    for (std::size_t i = 0; i < decl.required(); ++i) {
        if (out[i] == nullptr) missing[n++] = decl.params[i].name;
    }
    if (n == 0) return;
    std::string message = qualified(decl) + " missing " + std::to_string(n) + " required positional " +
                          (n == 1 ? "argument" : "arguments") + ": ";
    for (std::size_t i = 0; i < n; ++i) {
        if (i != 0) {
            if (n > 2) message += ',';
            message += i == n - 1 ? " and " : " ";
        }
        message.append("'").append(missing[i]).append("'");
    }
    throw_type_error(message);
}

}  // namespace

void intern_names(const MethodSpec& decl, ParamNames& names) {
    for (std::size_t i = 0; i < decl.count; ++i) {
        if (names.names[i] != nullptr) continue;
        const std::string name(decl.params[i].name);
        names.names[i] = check(PyUnicode_InternFromString(name.c_str())).release();
    }
}

void bind_arguments(const MethodSpec& decl, const ParamNames& names, PyObject* const* args,
                    Py_ssize_t nargs, PyObject* kwnames, PyObject** out) {
    const Py_ssize_t positional = PyVectorcall_NARGS(nargs);
    if (positional > static_cast<Py_ssize_t>(decl.count)) too_many_positional(decl, positional);
    for (Py_ssize_t i = 0; i < positional; ++i) out[i] = args[i];
    if (kwnames != nullptr) {
        const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            place_keyword(decl, names, PyTuple_GET_ITEM(kwnames, k), args[positional + k], out);
        }
    }
    check_required(decl, out);
}

void bind_arguments(const MethodSpec& decl, const ParamNames& names, PyObject* args, PyObject* kwargs,
                    PyObject** out) {
    const Py_ssize_t positional = args != nullptr ? PyTuple_GET_SIZE(args) : 0;
    if (positional > static_cast<Py_ssize_t>(decl.count)) too_many_positional(decl, positional);
    for (Py_ssize_t i = 0; i < positional; ++i) out[i] = PyTuple_GET_ITEM(args, i);
    if (kwargs != nullptr) {
        Py_ssize_t pos = 0;
        PyObject *key = nullptr, *value = nullptr;
        while (PyDict_Next(kwargs, &pos, &key, &value)) place_keyword(decl, names, key, value, out);
    }
    check_required(decl, out);
}

}  // namespace pyvora

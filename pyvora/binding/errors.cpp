#include "pyvora/binding/errors.hpp"

#include <cstdio>
#include <string>

namespace pyvora {
namespace {

// Created on first need and kept for the life of the process; it is not exported.
PyObject* panic_type() {
    static PyObject* type = nullptr;
    if (type == nullptr) {
        type = PyErr_NewExceptionWithDoc(
            "pyo3_runtime.PanicException",
            "A violated precondition of pyvora. It derives from BaseException so that a\n"
            "handler for Exception does not swallow it.",
            PyExc_BaseException, nullptr);
    }
    return type;
}

}  // namespace

Ref check(PyObject* p) {
    if (p == nullptr) throw PythonError{};
    return Ref::steal(p);
}

void check_status(int status) {
    if (status < 0) throw PythonError{};
}

void raise_panic(std::string_view message, const std::source_location& where) noexcept {
    std::fprintf(stderr, "pyvora: check failed at %s:%u: %.*s\n", where.file_name(),
                 static_cast<unsigned>(where.line()), static_cast<int>(message.size()),
                 message.data());
    std::fflush(stderr);
    PyObject* type = panic_type();
    if (type == nullptr) return;  // its creation failed and set the error
    Ref text = Ref::steal(PyUnicode_DecodeUTF8(message.data(),
                                               static_cast<Py_ssize_t>(message.size()), "replace"));
    if (!text) return;
    PyErr_SetObject(type, text.get());
}

void throw_cast_error(PyObject* obj, const char* expected) {
    Ref name = Ref::steal(PyType_GetQualName(Py_TYPE(obj)));
    if (!name) throw PythonError{};
    PyErr_Format(PyExc_TypeError, "'%U' object cannot be cast as '%s'", name.get(), expected);
    throw PythonError{};
}

void throw_type_error(const std::string& message) {
    PyErr_SetString(PyExc_TypeError, message.c_str());
    throw PythonError{};
}

PyObject* decode_error_type() {
    static PyObject* type = nullptr;
    if (type == nullptr) {
        Ref attributes = Ref::steal(Py_BuildValue("{s:i,s:s}", "offset", 0, "path", ""));
        if (!attributes) return nullptr;
        type = PyErr_NewExceptionWithDoc(
            "pyvora.DecodeError",
            "Bytes that are not a protocol file.\n\n"
            "offset is the byte offset where the problem was found, path the field being\n"
            "read (such as 'signals[2].samples[17]'; empty when no field was). The\n"
            "message names both.",
            PyExc_ValueError, attributes.get());
    }
    return type;
}

void raise_decode_error(std::string_view message, std::string_view path, std::optional<std::size_t> offset) {
    PyObject* type = decode_error_type();
    if (type == nullptr) throw PythonError{};
    Ref text = check(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    Ref error = check(PyObject_CallOneArg(type, text.get()));
    Ref at = offset ? check(PyLong_FromSize_t(*offset)) : Ref::borrow(Py_None);
    Ref where = check(PyUnicode_FromStringAndSize(path.data(), static_cast<Py_ssize_t>(path.size())));
    check_status(PyObject_SetAttrString(error.get(), "offset", at.get()));
    check_status(PyObject_SetAttrString(error.get(), "path", where.get()));
    restore_exception(std::move(error));
    throw PythonError{};
}

Ref fetch_exception() noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    return Ref::steal(PyErr_GetRaisedException());
#else
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) return Ref{};
    PyErr_NormalizeException(&type, &value, &traceback);
    if (traceback != nullptr && value != nullptr) PyException_SetTraceback(value, traceback);
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    return Ref::steal(value);
#endif
}

void restore_exception(Ref exception) noexcept {
    if (!exception) return;
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(exception.release());
#else
    PyObject* value = exception.release();
    PyObject* type = Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(value)));
    PyErr_Restore(type, value, PyException_GetTraceback(value));
#endif
}

}  // namespace pyvora

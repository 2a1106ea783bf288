#include "pyvora/binding/describe.hpp"

#include "protocols/text/float_text.hpp"
#include "pyvora/binding/errors.hpp"

namespace pyvora {

std::string utf8(const Ref& text) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text.get(), &size);
    if (data == nullptr) throw PythonError{};
    return std::string(data, static_cast<std::size_t>(size));
}

std::string int_text(PyObject* number) {
    Ref bits = check(PyObject_CallMethod(reinterpret_cast<PyObject*>(&PyLong_Type), "bit_length", "O", number));
    const unsigned long long n = PyLong_AsUnsignedLongLong(bits.get());
    if (n == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw PythonError{};
    if (n > 256) {
        int sign = 0;  // beyond 64 bits: -1 for a negative int, 1 for a positive one
        PyLong_AsLongLongAndOverflow(number, &sign);
        return std::string(sign < 0 ? "<negative " : "<") + std::to_string(n) + "-bit int>";
    }
    return utf8(check(PyLong_Type.tp_repr(number)));
}

std::string type_name(PyObject* obj) {
    return utf8(check(PyType_GetName(Py_TYPE(obj))));
}

std::string given(PyObject* obj) {
    if (obj == Py_None) return "None";
    if (PyBool_Check(obj)) return obj == Py_True ? "bool True" : "bool False";
    std::string text = type_name(obj);
    if (PyFloat_Check(obj)) return text + " " + protocols::text::float_text(PyFloat_AS_DOUBLE(obj));
    if (PyLong_Check(obj)) return text + " " + int_text(obj);
    if (PyUnicode_Check(obj) && PyUnicode_GET_LENGTH(obj) <= 40) {
        return text + " " + utf8(check(PyUnicode_Type.tp_repr(obj)));
    }
    return text;
}

}  // namespace pyvora

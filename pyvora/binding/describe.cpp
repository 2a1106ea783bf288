#include "pyvora/binding/describe.hpp"

#include "protocols/rules/data_refusals.hpp"
#include "protocols/text/float_text.hpp"
#include "pyvora/binding/convert.hpp"
#include "pyvora/binding/errors.hpp"

namespace pyvora {

std::string utf8(const Ref& text) { return std::string(utf8_of(text.get())); }

std::string int_text(PyObject* number) {
    Ref bits = check(PyObject_CallMethod(reinterpret_cast<PyObject*>(&PyLong_Type), "bit_length", "O", number));
    const unsigned long long n = PyLong_AsUnsignedLongLong(bits.get());
    if (n == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw PythonError{};
    if (n > protocols::rules::int_digit_bits) {
        int sign = 0;  // beyond 64 bits: -1 for a negative int, 1 for a positive one
        PyLong_AsLongLongAndOverflow(number, &sign);
        return protocols::rules::int_size_text(n, sign < 0);
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
    if (PyUnicode_Check(obj) && static_cast<std::size_t>(PyUnicode_GET_LENGTH(obj)) <= protocols::rules::shown_str_characters) {
        return text + " " + utf8(check(PyUnicode_Type.tp_repr(obj)));
    }
    return text;
}

}  // namespace pyvora

#include "pyvora/functions.hpp"

#include <string>
#include <string_view>

#include "protocols/config.hpp"
#include "protocols/text/float_text.hpp"
#include "protocols/text/quote.hpp"
#include "pyvora/binding/errors.hpp"

namespace pyvora {
namespace {

namespace config = protocols::config;

void set(PyObject* dict, const char* name, Ref value) { check_status(PyDict_SetItemString(dict, name, value.get())); }

}  // namespace

namespace functions {

Ref value_text(AnyObject given) {
    PyObject* value = given.object;
    if (PyBool_Check(value)) return str_of(value == Py_True ? "true" : "false");
    if (PyFloat_Check(value)) return str_of(protocols::text::float_text(PyFloat_AS_DOUBLE(value)));
    // Any integer, in decimal digits: a rules file's bounds may be negative or of any size.
    if (PyLong_Check(value)) return check(PyNumber_ToBase(value, 10));
    if (PyUnicode_Check(value)) {
        return str_of(protocols::text::quoted(utf8_of(value)));
    }
    // %T is not known to PyErr_Format before CPython 3.12.
    PyErr_Format(PyExc_TypeError, "expected a bool, int, float or str, got %.200s", Py_TYPE(value)->tp_name);
    throw PythonError{};
}

Ref limits_dict() {
    Ref dict = check(PyDict_New());
    set(dict.get(), "min_session_duration", check(PyFloat_FromDouble(config::MIN_SESSION_DURATION)));
    set(dict.get(), "max_session_duration", check(PyFloat_FromDouble(config::MAX_SESSION_DURATION)));
    set(dict.get(), "min_intensity", check(PyFloat_FromDouble(config::MIN_INTENSITY)));
    set(dict.get(), "max_intensity", check(PyFloat_FromDouble(config::MAX_INTENSITY)));
    set(dict.get(), "sampling_rate", check(PyFloat_FromDouble(config::SAMPLING_RATE)));
    set(dict.get(), "min_sample", check(PyLong_FromLongLong(config::MIN_SAMPLE)));
    set(dict.get(), "max_sample", check(PyLong_FromLongLong(config::MAX_SAMPLE)));
    set(dict.get(), "max_samples", check(PyLong_FromUnsignedLongLong(config::MAX_SAMPLES)));
    return dict;
}

}  // namespace functions
}  // namespace pyvora

#define PYVORA_DEFINE_NUMPY_API
#include "pyvora/binding/numpy_api.hpp"

#include <string>

#include "protocols/error.hpp"
#include "pyvora/binding/errors.hpp"

namespace pyvora {
namespace {

bool loaded = false;

// "<type name>: <message>" of the pending exception, which is consumed.
std::string describe_pending_error() {
    Ref error = fetch_exception();
    if (!error) return "unknown error";
    std::string text = Py_TYPE(error.get())->tp_name;
    Ref message = Ref::steal(PyObject_Str(error.get()));
    const char* utf8 = message ? PyUnicode_AsUTF8(message.get()) : nullptr;
    if (utf8 != nullptr && *utf8 != '\0') text.append(": ").append(utf8);
    PyErr_Clear();  // from a failed str() of the error
    return text;
}

}  // namespace

void load_numpy(Surface surface) {
    if (loaded) return;
    if (_import_array() < 0) {
        PyArray_API = nullptr;  // it may have been set before a later check failed
        if (surface == Surface::convention) throw PythonError{};
        throw protocols::Failure("Failed to access NumPy array API capsule: " + describe_pending_error());
    }
    loaded = true;
}

}  // namespace pyvora

#include "pyvora/json_schema.hpp"

#include <string>

#include "protocols/json/schema.hpp"
#include "pyvora/errors.hpp"

namespace pyvora {
namespace {

PyObject* json_schema(PyObject*, PyObject*) {
    return guard([]() -> PyObject* {
        const std::string text = protocols::json::schema();
        return check(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict")).release();
    });
}

}  // namespace

PyMethodDef json_schema_definition = {
    "_json_schema", json_schema, METH_NOARGS,
    "_json_schema()\n--\n\n"
    "The JSON Schema of the JSON form of a protocol, as a str. For the command's shipped schema.",
};

}  // namespace pyvora

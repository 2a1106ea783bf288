#include "pyvora/functions.hpp"

#include <string>

#include "protocols/json/schema.hpp"
#include "pyvora/binding/errors.hpp"

namespace pyvora::functions {

Ref json_schema() {
    const std::string text = protocols::json::schema();
    return check(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict"));
}

}  // namespace pyvora::functions

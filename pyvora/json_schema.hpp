// pyvora._json_schema: the JSON Schema of the JSON form, generated from the records.
#pragma once

#include "pyvora/python.hpp"

namespace pyvora {

// pyvora._json_schema(): the schema as a str. Created once, bound to the module.
PyObject* json_schema_function(PyObject* module);

}  // namespace pyvora

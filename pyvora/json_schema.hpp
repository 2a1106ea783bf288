// pyvora._json_schema: the JSON Schema of the JSON form, generated from the records.
#pragma once

#include "pyvora/python.hpp"

namespace pyvora {

// pyvora._json_schema(): the schema as a str.
extern PyMethodDef json_schema_definition;

}  // namespace pyvora

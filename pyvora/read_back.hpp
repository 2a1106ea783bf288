// Reading protocols back: the module's DecodeError and the function that pickled protocols are
// rebuilt with.
#pragma once

#include "pyvora/object.hpp"
#include "pyvora/python.hpp"

namespace pyvora {

// pyvora.DecodeError, a ValueError: bytes that are not a protocol file. Created on first need
// and kept for the life of the process.
PyObject* decode_error_type();

// pyvora._protocol_from_bytes(data): what __reduce__ names, since pickle cannot find the
// classes by their "builtins" names. Created once, bound to the module.
PyObject* restore_function(PyObject* module);

}  // namespace pyvora

// Reading protocols back: the function that pickled protocols are rebuilt with. Failures to
// decode are raised as DecodeError (errors.hpp).
#pragma once

#include "pyvora/binding/object.hpp"
#include "pyvora/binding/python.hpp"

namespace pyvora {

// pyvora._protocol_from_bytes(data): what __reduce__ names, since pickle cannot find the
// classes by their "builtins" names. Created once, bound to the module.
PyObject* restore_function(PyObject* module);

}  // namespace pyvora

// Reading protocols back: the module's DecodeError and the function that pickled protocols are
// rebuilt with.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "pyvora/object.hpp"
#include "pyvora/python.hpp"

namespace pyvora {

// pyvora.DecodeError, a ValueError: bytes that are not a protocol file. Created on first need
// and kept for the life of the process.
PyObject* decode_error_type();

// Raises DecodeError(message) with its path and offset (None when the problem is not in bytes,
// as for from_dict) as the pending exception, and throws PythonError.
[[noreturn]] void raise_decode_error(std::string_view message, std::string_view path,
                                     std::optional<std::size_t> offset);

// pyvora._protocol_from_bytes(data): what __reduce__ names, since pickle cannot find the
// classes by their "builtins" names. Created once, bound to the module.
PyObject* restore_function(PyObject* module);

}  // namespace pyvora

// The Python object that owns one protocol by value.
#pragma once

#include "protocols/settings.hpp"
#include "pyvora/access.hpp"
#include "pyvora/python.hpp"

namespace pyvora {

struct ProtocolObject {
    PyObject_HEAD
    AccessState access;
    protocols::Protocol value;
};

PyObject* create_protocol_type();
PyTypeObject* protocol_type() noexcept;

}  // namespace pyvora

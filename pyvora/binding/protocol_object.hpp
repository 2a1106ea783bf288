// The Python object that owns one protocol by value.
#pragma once

#include "protocols/settings.hpp"
#include "pyvora/binding/access.hpp"
#include "pyvora/binding/object.hpp"
#include "pyvora/binding/python.hpp"

namespace pyvora {

struct ProtocolObject {
    PyObject_HEAD
    AccessState access;
    protocols::Protocol value;
};

PyObject* create_protocol_type();
// A new Protocol object of the given type (Protocol itself) owning value.
Ref new_protocol(PyTypeObject* type, protocols::Protocol value);
PyTypeObject* protocol_type() noexcept;

}  // namespace pyvora

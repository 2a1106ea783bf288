#include "pyvora/binding/call.hpp"

namespace pyvora {

ProtocolObject& receiver(PyObject* self) {
    // The cast message names the receiver's type, so a missing receiver needs a message of its own.
    if (self == nullptr) {
        throw_type_error("a Protocol method was called without a receiver");
    }
    if (protocol_type() == nullptr || !PyObject_TypeCheck(self, protocol_type())) {
        throw_cast_error(self, "Protocol");
    }
    return *reinterpret_cast<ProtocolObject*>(self);
}

}  // namespace pyvora

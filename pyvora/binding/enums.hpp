// The enumerations Coil and Channel: heap types whose members exist once, as class attributes.
#pragma once

#include <cstdint>

#include "pyvora/binding/access.hpp"
#include "pyvora/binding/python.hpp"

namespace pyvora {

enum class CoilId : std::uint8_t { A1 = 0, A2 = 1, B1 = 2, B2 = 3 };
enum class ChannelId : std::uint8_t { A = 0, B = 1 };

struct MemberObject {
    PyObject_HEAD
    AccessState access;
    std::uint8_t number;
};

// Creates the classes with their members; each is created once per process.
PyObject* create_coil_type();
PyObject* create_channel_type();

// pyvora._enum_member(enumeration, member): what a pickled member is rebuilt with. Created
// once, bound to the module (borrowed).
PyObject* enum_member_function(PyObject* module);

// The classes, once created (borrowed; they live as long as the module).
PyTypeObject* coil_type() noexcept;
PyTypeObject* channel_type() noexcept;

}  // namespace pyvora

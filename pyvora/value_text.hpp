// The module's private helpers for the command: each value's text as the text form writes it,
// and the protocol's limits. The command renders nothing and states no limit of its own.
#pragma once

#include "pyvora/binding/object.hpp"

namespace pyvora {

// pyvora._value_text(value): the text of a bool, int, float or str as the text form writes it.
extern PyMethodDef value_text_definition;

// pyvora._LIMITS: a new dict of the protocol's limits by name.
Ref limits_dict();

}  // namespace pyvora

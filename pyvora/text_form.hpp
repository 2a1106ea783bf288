// The text form of a protocol as a Python str.
#pragma once

#include "protocols/settings.hpp"
#include "pyvora/object.hpp"

namespace pyvora {

Ref text_form(const protocols::Protocol& protocol);

}  // namespace pyvora

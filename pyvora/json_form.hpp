// pyvora._layout: the layout of a protocol's data, for the command's rules.
#pragma once

#include "pyvora/python.hpp"

namespace pyvora {

// pyvora._layout(): {path: kind}.
extern PyMethodDef layout_definition;

}  // namespace pyvora

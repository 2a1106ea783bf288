// pyvora._read_sample_list: the JSON form's long sample lists read in C++ for the command.
#pragma once

#include "pyvora/python.hpp"

namespace pyvora {

// pyvora._read_sample_list(text): the samples of a JSON sample list spelt as export writes it,
// as bytes of native int16, or None for any other spelling.
extern PyMethodDef read_sample_list_definition;

}  // namespace pyvora

// pyvora._largest_step: the envelope measure a lab's rules judge, in C++ for the command.
#pragma once

#include "pyvora/python.hpp"

namespace pyvora {

// pyvora._largest_step(samples): (i, step), the largest difference between neighbouring samples
// and the first position where it occurs, of a contiguous buffer of native int16 samples.
extern PyMethodDef largest_step_definition;

}  // namespace pyvora

// NumPy's C array interface for the extension. The table of entry points is filled on first
// need (an arbitrary signal's samples, passed or returned), never at import, so `import pyvora`
// does not load NumPy.
// numpy_api.cpp is the one unit that defines the table; every other unit includes this header
// and shares it.
#pragma once

#include "pyvora/binding/method.hpp"
#include "pyvora/binding/python.hpp"

#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#define PY_ARRAY_UNIQUE_SYMBOL pyvora_ARRAY_API
#ifndef PYVORA_DEFINE_NUMPY_API
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>

namespace pyvora {

// Loads NumPy's array interface once; later calls return at once, and after a failure the
// next call tries again. A failure is reported as the calling method's surface reports it: on
// the contract surface as the panic "Failed to access NumPy array API capsule: <reason>"
// (protocols::Failure), on the convention surface as the exception NumPy's import raised
// (ImportError), thrown as PythonError.
void load_numpy(Surface surface);

}  // namespace pyvora

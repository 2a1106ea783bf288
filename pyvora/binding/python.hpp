// The one include of the interpreter's C interface for the extension.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

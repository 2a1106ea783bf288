// Binding a call's positional and keyword arguments to a method's parameters, with the
// TypeError texts of the contract surface.
#pragma once

#include <array>

#include "pyvora/method.hpp"
#include "pyvora/python.hpp"

namespace pyvora {

// The parameter names of one method as interned str objects, made when the module is
// initialised and kept, as the module is, for the life of the process (which allows one
// interpreter only). The interpreter interns the keyword names written in a call too, so
// binding finds those by identity, as Argument Clinic does; any other str is compared by text.
struct ParamNames {
    std::array<PyObject*, 4> names{};
};
template <const MethodSpec& Decl>
inline ParamNames param_names{};

// Makes the names of decl not made yet; throws PythonError (MemoryError) when one cannot be.
void intern_names(const MethodSpec& decl, ParamNames& names);

// Binds a vectorcall's arguments to out[0..count); omitted optional parameters stay null.
void bind_arguments(const MethodSpec& decl, const ParamNames& names, PyObject* const* args,
                    Py_ssize_t nargs, PyObject* kwnames, PyObject** out);
// The same for a tuple and a dict (the constructor).
void bind_arguments(const MethodSpec& decl, const ParamNames& names, PyObject* args, PyObject* kwargs,
                    PyObject** out);

}  // namespace pyvora

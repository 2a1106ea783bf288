// Binding a call's positional and keyword arguments to a method's parameters, with the
// TypeError texts of the contract surface.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>

#include "pyvora/binding/method.hpp"
#include "pyvora/binding/python.hpp"

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

// The usual keyword call, bound where it is made: every keyword is one of the interned names
// and names a parameter not given by position, and all required parameters are given. Returns
// false for anything else, with out[0..Count) cleared, and bind_arguments then binds the call
// or gives its exact error. Both bind an accepted call alike.
template <std::size_t Count>
inline bool bind_interned(const ParamNames& names, std::size_t required, PyObject* const* args,
                          Py_ssize_t given, PyObject* kwnames, PyObject** out) {
    const auto clear = [out] {
        std::fill(out, out + Count, nullptr);
        return false;
    };
    if (given > static_cast<Py_ssize_t>(Count)) return false;
    std::copy(args, args + given, out);
    const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* const name = PyTuple_GET_ITEM(kwnames, k);
        std::size_t i = static_cast<std::size_t>(given);
        while (i < Count && names.names[i] != name) ++i;
        if (i == Count || out[i] != nullptr) return clear();
        out[i] = args[given + k];
    }
    for (std::size_t i = 0; i < required; ++i) {
        if (out[i] == nullptr) return clear();
    }
    return true;
}

}  // namespace pyvora

// Describing a Python value in a refusal's message. Only built-in code runs here: the texts of
// ints, floats and strs come from their base types, never from a subclass's __repr__.
#pragma once

#include <string>

#include "pyvora/binding/object.hpp"

namespace pyvora {

// The str's text as UTF-8; throws PythonError when it has none.
std::string utf8(const Ref& text);

// An int in decimal; one too long to be worth printing is described by its size instead.
std::string int_text(PyObject* number);

std::string type_name(PyObject* obj);

// "bool True", "float 0.5", "str 'abc'", "list": the type of what was given, with its value
// when that is a short scalar.
std::string given(PyObject* obj);

}  // namespace pyvora

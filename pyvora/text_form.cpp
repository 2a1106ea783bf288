#include "pyvora/text_form.hpp"

#include "pyvora/errors.hpp"

namespace pyvora {

// Placeholder until the renderer lands.
Ref text_form(const protocols::Protocol&) { return check(PyUnicode_FromString("Protocol { ... }")); }

}  // namespace pyvora
